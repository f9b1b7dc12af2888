#include "tav/matrix.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "tav/messages.h"

namespace tav {

namespace Matrix {
glnvmatrix u;
indexvector indx;
}  // namespace Matrix

namespace {

// Quotients and the products that are not part of a sum are also formed in extended precision
// and only then rounded to double, like every other intermediate result of the library.
inline double ExtMul(double a, double b) {
    return static_cast<double>(static_cast<long double>(a) * static_cast<long double>(b));
}
inline double ExtDiv(double a, double b) {
    return static_cast<double>(static_cast<long double>(a) / static_cast<long double>(b));
}

[[noreturn]] void RaiseDimensionError(const char* routine, const char* name, int32_t value,
                                      const std::string& limit) {
    throw std::out_of_range(std::string(routine) + ": " + name + " = " + std::to_string(value) +
                            " " + limit);
}

// The solvers need at least one row: ludecomp touches A[n, n] unconditionally.
void CheckOrder(const char* routine, int32_t n) {
    if (n < 1 || n > MaxTerms) {
        RaiseDimensionError(routine, "n", n, "is outside 1.." + std::to_string(MaxTerms));
    }
}

// Elsewhere a count of zero or less just leaves the loops empty; only the capacity is a limit.
void CheckCount(const char* routine, const char* name, int32_t value, int32_t capacity) {
    if (value > capacity) {
        RaiseDimensionError(routine, name, value,
                            "exceeds the capacity " + std::to_string(capacity));
    }
}
void CheckRecords(const char* routine, int32_t m) { CheckCount(routine, "m", m, MaxData); }
void CheckTerms(const char* routine, const char* name, int32_t np) {
    CheckCount(routine, name, np, MaxTerms);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// LU decomposition, back-substitution and inversion

void ludecomp(npbynp& A, int32_t n, indexvector& Indx, double& D) {
    CheckOrder("ludecomp", n);
    double vv[MaxTerms];  // vv[i - 1]: 1 / largest magnitude of row i

    D = 1.0;
    for (int32_t i = 1; i <= n; ++i) {
        const double* ai = A.row(i);
        double big = 0.0;
        for (int32_t j = 0; j < n; ++j) {
            const double temp = std::fabs(ai[j]);
            if (temp > big) big = temp;
        }
        if (big == 0.0) {
            // Nothing has been changed yet: stop here rather than divide by zero and hand back
            // a factorisation nobody could trust.
            MessageDlg("Your matrix is singular", TMsgDlgType::mtError, mbOK, 0);
            throw ESingularMatrix("Your matrix is singular");
        }
        vv[i - 1] = ExtDiv(1.0, big);
    }

    for (int32_t j = 1; j <= n; ++j) {
        // Upper triangle above the diagonal.
        for (int32_t i = 1; i < j; ++i) {
            double* ai = A.row(i);
            double sum = ai[j - 1];
            for (int32_t k = 1; k < i; ++k) sum = SubProduct(sum, ai[k - 1], A.row(k)[j - 1]);
            ai[j - 1] = sum;
        }
        // Diagonal and below, looking for the largest scaled pivot; on ties the last row wins.
        // imax starts at j so that a column of NaNs leaves the rows where they are instead of
        // pointing at a row that does not exist.
        double big = 0.0;
        int32_t imax = j;
        for (int32_t i = j; i <= n; ++i) {
            double* ai = A.row(i);
            double sum = ai[j - 1];
            for (int32_t k = 1; k < j; ++k) sum = SubProduct(sum, ai[k - 1], A.row(k)[j - 1]);
            ai[j - 1] = sum;
            const double dum = ExtMul(vv[i - 1], std::fabs(sum));
            if (dum >= big) {
                big = dum;
                imax = i;
            }
        }
        if (imax != j) {
            double* a = A.row(imax);
            double* b = A.row(j);
            for (int32_t k = 0; k < n; ++k) std::swap(a[k], b[k]);
            D = -D;
            vv[imax - 1] = vv[j - 1];
        }
        Indx.raw(j) = imax;
        if (j != n) {
            double& pivot = A.row(j)[j - 1];
            if (pivot == 0.0) pivot = TINY;
            const double dum = ExtDiv(1.0, pivot);
            for (int32_t i = j + 1; i <= n; ++i) {
                double& aij = A.row(i)[j - 1];
                aij = ExtMul(aij, dum);
            }
        }
    }
    double& last = A.row(n)[n - 1];
    if (last == 0.0) last = TINY;
}

void lubacksub(const npbynp& A, int32_t n, const indexvector& Indx, npvector& B) {
    CheckOrder("lubacksub", n);
    // A record that did not come from ludecomp on the same n would exchange with a row outside
    // the system; refuse it before B is touched.
    for (int32_t i = 1; i <= n; ++i) {
        const int32_t ip = Indx.raw(i);
        if (ip < 1 || ip > n) {
            throw std::out_of_range("lubacksub: Indx[" + std::to_string(i) + "] = " +
                                    std::to_string(ip) + " is outside 1.." + std::to_string(n));
        }
    }

    int32_t ii = 0;  // first non-zero element of the permuted right-hand side, 0 while none
    for (int32_t i = 1; i <= n; ++i) {
        const int32_t ip = Indx.raw(i);
        double sum = B.raw(ip);
        B.raw(ip) = B.raw(i);
        if (ii != 0) {
            const double* ai = A.row(i);
            for (int32_t j = ii; j < i; ++j) sum = SubProduct(sum, ai[j - 1], B.raw(j));
        } else if (sum != 0.0) {
            ii = i;
        }
        B.raw(i) = sum;
    }
    for (int32_t i = n; i >= 1; --i) {
        const double* ai = A.row(i);
        double sum = B.raw(i);
        for (int32_t j = i + 1; j <= n; ++j) sum = SubProduct(sum, ai[j - 1], B.raw(j));
        B.raw(i) = ExtDiv(sum, ai[i - 1]);
    }
}

void invertnpbynp(npbynp& A, npbynp& Y, int32_t n) {
    CheckOrder("invertnpbynp", n);
    using Matrix::indx;
    using Matrix::u;

    for (int32_t i = 1; i <= n; ++i) {
        for (int32_t j = 1; j <= n; ++j) u.raw(i).raw(j) = (i == j) ? 1.0 : 0.0;
    }
    showglnvmatrix(u, n, "u", 0);

    double d = 0.0;
    ludecomp(A, n, indx, d);  // ESingularMatrix propagates: Y is left as it was
    for (int32_t i = 1; i <= n; ++i) lubacksub(A, n, indx, u.raw(i));

    // Y is written only now, from u, so that Y may be A itself.
    for (int32_t i = 1; i <= n; ++i) {
        double* yi = Y.row(i);
        const npvector& ui = u.raw(i);
        for (int32_t j = 1; j <= n; ++j) yi[j - 1] = ui.raw(j);
    }
}

// ---------------------------------------------------------------------------------------------
// Transposition, products and shifting

// The routines below never change what is added to what, nor in which order: every result
// element still receives its own terms one at a time, in increasing index, through AddProduct,
// exactly as the plain loops of their definitions would add them, so the results are the same to
// the bit. What they change is the order in which independent sums take their turns. Storing each
// partial sum to double and loading it again makes one sum wait about sixteen cycles between two
// terms, while the processor can start a new term about every two cycles; so every routine
// advances many sums together and reads its operands row by row. Four extended-precision
// instructions per term (load, multiply, add, store) are then what limits them, so the larger
// gains come from forming fewer terms: X'X is summed as a symmetric product, and the first term
// of a sum over the row of ones of X' is formed once per row instead of once per column.

namespace {

// Independent sums advanced together by the grouped routines: enough to cover the latency of a
// term several times over (fewer measurably leave the processor waiting), few enough for the
// group's operands to stay in the first-level cache.
constexpr int32_t Lanes = 32;

// From one row of an npbym to the next.
constexpr int32_t WideStride = static_cast<int32_t>(npbym::Stride);

// acc[c] += v * row[c] for the Lanes sums c, as one straight run of terms.
inline void LaneStep(double* acc, double v, const double* row) {
#pragma GCC unroll 32
    for (int32_t c = 0; c < Lanes; ++c) acc[c] = AddProduct(acc[c], v, row[c]);
}
inline void LaneStep(double* acc, double v, const double* row, int32_t w) {
    for (int32_t c = 0; c < w; ++c) acc[c] = AddProduct(acc[c], v, row[c]);
}

// Whether all Lanes values are exactly 1.0.
inline bool AllOnes(const double* v) {
    bool all = true;
#pragma GCC unroll 32
    for (int32_t c = 0; c < Lanes; ++c) all &= std::bit_cast<uint64_t>(v[c]) == 0x3FF0000000000000u;
    return all;
}

// Whether A[i, k] can stand for B[k, i] in every product: the same bits, and not a NaN (which of
// two NaNs a product passes on may depend on their order, and the symmetric path swaps it).
inline bool SameOperand(double a, double b) {
    const uint64_t bits = std::bit_cast<uint64_t>(a);
    return bits == std::bit_cast<uint64_t>(b) &&
           (bits & 0x7FFFFFFFFFFFFFFFu) <= 0x7FF0000000000000u;
}

// The kernels below take the number of terms as a template argument, so that one record's terms
// run as straight code with fixed offsets; Dispatch picks the instance for a given np.
template <template <int32_t> class Kernel, typename... Args>
void Dispatch(int32_t np, Args&&... args) {
    [&]<int32_t... I>(std::integer_sequence<int32_t, I...>) {
        (void)((np == I + 1 && (Kernel<I + 1>::Run(args...), true)) || ...);
    }
    (std::make_integer_sequence<int32_t, MaxTerms>{});
}

// P = A.B when A is B's transpose, upper triangle only: sum i * NP + j for j >= i. P[i, j] and
// P[j, i] are then sums of the same products (multiplication commutes exactly) in the same order,
// so one sum gives both. The comparison with the transpose rides along with the sums, record by
// record; `symmetric` turns false, with acc spoilt, at the first record where A is not B's
// transpose.
template <int32_t NP>
struct TSymmetricProduct {
    static void Run(const npbym& A, const mbynp& B, double* acc, int32_t m, bool& symmetric) {
        const double* a = A.row(1);
        for (int32_t k = 0; k < m; ++k) {
            const double* bk = B.row(k + 1);
            bool same = true;
#pragma GCC unroll 32
            for (int32_t i = 0; i < NP; ++i) same &= SameOperand(a[i * WideStride + k], bk[i]);
            if (!same) {
                symmetric = false;
                return;
            }
#pragma GCC unroll 32
            for (int32_t i = 0; i < NP; ++i) {
                const double bki = bk[i];
                double* row = acc + i * NP;
#pragma GCC unroll 32
                for (int32_t j = i; j < NP; ++j) row[j] = AddProduct(row[j], bki, bk[j]);
            }
        }
        symmetric = true;
    }
};

// acc[i] += A[i, k] * V[k] for the NP sums i, one record k at a time.
template <int32_t NP>
struct TWideByVector {
    static void Run(const npbym& A, const double* v, double* acc, int32_t m) {
        const double* a = A.row(1);
        for (int32_t k = 0; k < m; ++k) {
            const double vk = v[k];
#pragma GCC unroll 32
            for (int32_t i = 0; i < NP; ++i) acc[i] = AddProduct(acc[i], a[i * WideStride + k], vk);
        }
    }
};

}  // namespace

void transposembynp(const mbynp& A, npbym& At, int32_t m, int32_t np) {
    CheckRecords("transposembynp", m);
    CheckTerms("transposembynp", "np", np);
    // Eight records at a time, so that every row of At is written a whole cache line at once.
    constexpr int32_t Block = 8;
    int32_t i = 0;
    for (; i + Block <= m; i += Block) {
        const double* ai = A.row(i + 1);
        for (int32_t j = 0; j < np; ++j) {
            double* t = At.row(j + 1) + i;
#pragma GCC unroll 8
            for (int32_t r = 0; r < Block; ++r) t[r] = ai[r * mbynp::Stride + j];
        }
    }
    for (; i < m; ++i) {
        const double* ai = A.row(i + 1);
        for (int32_t j = 0; j < np; ++j) At.row(j + 1)[i] = ai[j];
    }
}

void addunitmbynp(const mbynp& A, mbynp& B, int32_t m, int32_t np) {
    CheckRecords("addunitmbynp", m);
    CheckTerms("addunitmbynp", "np", np);
    if (m <= 0 || np <= 0) return;
    if (np == static_cast<int32_t>(mbynp::Stride)) {
        // Full rows: B[i, j] = A[i, j - 1] is then one shift of the whole block by one element
        // (memmove copes with B being A); the first column, which receives the last element of
        // the row above, is set afterwards.
        std::memmove(B.row(1) + 1, A.row(1), (static_cast<size_t>(m) * np - 1) * sizeof(double));
        for (int32_t i = 1; i <= m; ++i) B.row(i)[0] = 1.0;
        return;
    }
    for (int32_t i = 1; i <= m; ++i) {
        const double* ai = A.row(i);
        double* bi = B.row(i);
        // From the right, so that B may be A itself: every column is read before it is written.
        for (int32_t j = np; j >= 2; --j) bi[j - 1] = ai[j - 2];
        bi[0] = 1.0;
    }
}

void multnpbymmbynp(const npbym& A, const mbynp& B, npbynp& P, int32_t m, int32_t np) {
    CheckRecords("multnpbymmbynp", m);
    CheckTerms("multnpbymmbynp", "np", np);
    if (np <= 0) return;
    double acc[MaxTerms * MaxTerms] = {};
    // X'X, the case the fit meets, is worth the check: it halves the work.
    bool symmetric = false;
    Dispatch<TSymmetricProduct>(np, A, B, acc, m, symmetric);
    if (symmetric) {
        for (int32_t i = 0; i < np; ++i) {
            double* pi = P.row(i + 1);
            for (int32_t j = 0; j < np; ++j) pi[j] = j < i ? acc[j * np + i] : acc[i * np + j];
        }
        return;
    }
    // Any other A: one row of P at a time, its np sums advanced together record by record.
    for (int32_t i = 1; i <= np; ++i) {
        const double* ai = A.row(i);
        double* pi = P.row(i);
        for (int32_t j = 0; j < np; ++j) pi[j] = 0.0;
        for (int32_t k = 1; k <= m; ++k) {
            const double aik = ai[k - 1];
            const double* bk = B.row(k);
            for (int32_t j = 0; j < np; ++j) pi[j] = AddProduct(pi[j], aik, bk[j]);
        }
    }
}

void multnpbynpnpbym(const npbynp& A, const npbym& B, npbym& P, int32_t m, int32_t np) {
    CheckRecords("multnpbynpnpbym", m);
    CheckTerms("multnpbynpnpbym", "np", np);
    // Lanes columns at a time, each of their sums taking the terms k = 1..np in turn. The columns
    // of B are copied before any of their columns of P is written, so P may be B itself: column j
    // of the result needs only column j of B.
    double block[MaxTerms * Lanes];
    for (int32_t j0 = 0; j0 < m; j0 += Lanes) {
        const int32_t w = std::min(Lanes, m - j0);
        for (int32_t k = 0; k < np; ++k) {
            const double* bk = B.row(k + 1) + j0;
            double* copy = block + k * Lanes;
            if (w == Lanes) {
#pragma GCC unroll 32
                for (int32_t c = 0; c < Lanes; ++c) copy[c] = bk[c];
            } else {
                for (int32_t c = 0; c < w; ++c) copy[c] = bk[c];
            }
        }
        // The fit's B is X' with its row of ones first: every sum of row i then starts with the
        // same term, A[i, 1] * 1, formed once instead of once per column.
        const bool ones = np > 0 && w == Lanes && AllOnes(block);
        const int32_t k0 = ones ? 1 : 0;
        for (int32_t i = 0; i < np; ++i) {
            const double* ai = A.row(i + 1);
            double* pi = P.row(i + 1) + j0;
            double acc[Lanes];
            const double first = ones ? AddProduct(0.0, ai[0], 1.0) : 0.0;
            std::fill(std::begin(acc), std::end(acc), first);
            if (w == Lanes) {
                for (int32_t k = k0; k < np; ++k) LaneStep(acc, ai[k], block + k * Lanes);
#pragma GCC unroll 32
                for (int32_t c = 0; c < Lanes; ++c) pi[c] = acc[c];
            } else {
                for (int32_t k = 0; k < np; ++k) LaneStep(acc, ai[k], block + k * Lanes, w);
                for (int32_t c = 0; c < w; ++c) pi[c] = acc[c];
            }
        }
    }
}

void multnpbymmvector(const npbym& A, const mvector& V, npvector& R, int32_t m, int32_t np) {
    CheckRecords("multnpbymmvector", m);
    CheckTerms("multnpbymmvector", "np", np);
    // All np sums advance together, one record at a time.
    double acc[MaxTerms] = {};
    Dispatch<TWideByVector>(np, A, V.base(), acc, m);
    for (int32_t i = 0; i < np; ++i) R.raw(i + 1) = acc[i];
}

void mult1bynpbynpbym(mvector& R, npvector V, const npbym& A, int32_t m, int32_t np) {
    CheckRecords("mult1bynpbynpbym", m);
    CheckTerms("mult1bynpbynpbym", "np", np);
    // All m sums advance together, one term i at a time, reading A row by row.
    double* r = R.base();
    for (int32_t k = 0; k < m; ++k) r[k] = 0.0;
    for (int32_t i = 1; i <= np; ++i) {
        const double vi = V.raw(i);
        const double* ai = A.row(i);
        for (int32_t k = 0; k < m; ++k) r[k] = AddProduct(r[k], vi, ai[k]);
    }
}

void multmbynpnpvector(const mbynp& A, const npvector& V, mvector& R, int32_t m, int32_t np) {
    CheckRecords("multmbynpnpvector", m);
    CheckTerms("multmbynpnpvector", "np", np);
    // All m sums advance together, one term k at a time.
    double* r = R.base();
    for (int32_t i = 0; i < m; ++i) r[i] = 0.0;
    for (int32_t k = 0; k < np; ++k) {
        const double vk = V.raw(k + 1);
        const double* a = A.row(1) + k;
        for (int32_t i = 0; i < m; ++i) r[i] = AddProduct(r[i], vk, a[i * mbynp::Stride]);
    }
}

void zeroshiftnpvector(npvector& V, int32_t np) {
    CheckTerms("zeroshiftnpvector", "np", np);
    for (int32_t i = 0; i < np; ++i) V.raw(i) = V.raw(i + 1);
}

// ---------------------------------------------------------------------------------------------
// Dot products, extrema, sorting

namespace {

// A dot product is one sum: its terms cannot be interleaved with others, and through the store
// and reload of every partial sum each term waits about sixteen cycles for the one before. A
// fused multiply-add (one rounding of s + a * b) waits four, and it gives the stated result
// (the product rounded to 64 bits, the sum rounded to 64 bits, then to double) whenever the
// exact s + a * b is farther from every rounding boundary of double than the two 64-bit
// roundings can move it. Each term checks that, cheaply, and takes the stated arithmetic
// otherwise:
//
//   r = fma(a, b, s); d = s - r; e = fma(a, b, d).
//   If 2|d| < |s|, r lies within (s/2, 3s/2), so d is exact (Sterbenz) and e is the rounding of
//   the fused step's exact error s + a * b - r. The two 64-bit roundings then move the value
//   by at most 2^-63 |s| (1 + 2^-52), since |a * b| <= |s| / 2 + |e| and |s + a * b| < 3|s|/2
//   + |e|. The nearest rounding boundaries lie G away from r, or farther: G is half the spacing
//   of doubles just below |r| (half the smaller of the two gaps around a power of two; at the
//   largest double, the overflow threshold). So r is the stated result when
//   |e| (1 + 2^-52) + 2^-63 |s| (1 + 2^-52) < G, which fma(|s|, 2^-62, |e|) < G (1 - 2^-50)
//   guarantees with room for its own rounding and for e being rounded.
//   Zero, subnormal, infinite and NaN sums fail one test or the other (the bound G is built
//   from the exponent bits and turns negative or NaN below 2^-969), and so does every first
//   term, as s = 0 there.
//
// The checks are off the chain of dependent operations, and they fail rarely once a sum has
// grown past its first few terms, so the sum runs at the speed of the fused steps.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAV_FUSED_DOT 1

[[gnu::target("fma")]] double FusedDot(const double* a, const double* b, int32_t m) {
    constexpr uint64_t ExponentBits = 0x7FF0000000000000u;
    // 53 binades below, less eight units in the last place: G (1 - 2^-50) from the exponent.
    constexpr uint64_t BoundOffset = (uint64_t{53} << 52) + 8;
    double s = 0.0;
    for (int32_t k = 0; k < m; ++k) {
        const double x = a[k], y = b[k];
        const double r = std::fma(x, y, s);
        const double d = s - r;
        const double e = std::fma(x, y, d);
        const uint64_t below = (std::bit_cast<uint64_t>(r) - 1) & ExponentBits;
        const double bound = std::bit_cast<double>(below - BoundOffset);
        const bool certain = std::fabs(d) + std::fabs(d) < std::fabs(s) &&
                             std::fma(std::fabs(s), 0x1p-62, std::fabs(e)) < bound;
        s = __builtin_expect(certain, 1) ? r : AddProduct(s, x, y);
    }
    return s;
}

bool HaveFma() {
    static const bool have = __builtin_cpu_supports("fma");
    return have;
}
#endif

}  // namespace

double multmvectors(const mvector& A, const mvector& B, int32_t m) {
    CheckRecords("multmvectors", m);
#ifdef TAV_FUSED_DOT
    if (HaveFma()) return FusedDot(A.base(), B.base(), m);
#endif
    double sum = 0.0;
    for (int32_t k = 1; k <= m; ++k) sum = AddProduct(sum, A.raw(k), B.raw(k));
    return sum;
}

double multnpvectors(const npvector& A, const npvector& B, int32_t np) {
    CheckTerms("multnpvectors", "np", np);
    double sum = 0.0;
    for (int32_t k = 1; k <= np; ++k) sum = AddProduct(sum, A.raw(k), B.raw(k));
    return sum;
}

double minmvector(const mvector& V, int32_t m) {
    CheckRecords("minmvector", m);
    double result = V.raw(1);
    for (int32_t k = 2; k <= m; ++k) {
        if (V.raw(k) < result) result = V.raw(k);
    }
    return result;
}

double maxmvector(const mvector& V, int32_t m) {
    CheckRecords("maxmvector", m);
    double result = V.raw(1);
    for (int32_t k = 2; k <= m; ++k) {
        if (V.raw(k) > result) result = V.raw(k);
    }
    return result;
}

// The order is that of the classic exchange sort (for i < j: exchange V[i] and V[j] when
// V[j] < V[i]). Values that compare equal are then indistinguishable, but for 0.0 beside -0.0, and
// NaN, which compares with nothing: only for those does the sort keep the exchange loop's O(m^2)
// steps, whose placement of them is what it is; every other vector is sorted in O(m log m), to the
// same result.
void sortmvector(mvector& V, int32_t m) {
    CheckRecords("sortmvector", m);
    double* v = V.base();
    bool positiveZero = false, negativeZero = false, nan = false;
    for (int32_t i = 0; i < m; ++i) {
        if (v[i] == 0.0) (std::signbit(v[i]) ? negativeZero : positiveZero) = true;
        nan = nan || std::isnan(v[i]);
    }
    if (!nan && !(positiveZero && negativeZero)) {
        std::sort(v, v + m);
        return;
    }
    for (int32_t i = 0; i < m - 1; ++i) {
        for (int32_t j = i + 1; j < m; ++j) {
            if (v[j] < v[i]) std::swap(v[i], v[j]);
        }
    }
}

double min(double a, double b) { return a < b ? a : b; }
double max(double a, double b) { return a > b ? a : b; }

// ---------------------------------------------------------------------------------------------
// Text display

namespace {

const char* const LB = "\n\r";

std::string FormatElement(double value) { return FloatToStrF(value, TFloatFormat::ffFixed, 6, 4); }

std::string SquareHeader(const std::string& title, int32_t rows, int32_t cols) {
    return title + " is " + IntToStr(rows) + " by " + IntToStr(cols);
}

std::string ColumnHeader(const std::string& title, int32_t rows) {
    return title + " has " + IntToStr(rows) + " rows, 1 column. ";
}

// at(i) is a pointer to the first shown element of row i.
template <typename RowAt>
std::string MatrixText(int32_t rows, int32_t cols, RowAt at) {
    std::string text = LB;
    for (int32_t i = 1; i <= rows; ++i) {
        text += LB;
        const double* row = at(i);
        for (int32_t j = 0; j < cols; ++j) {
            text += "  ";
            text += FormatElement(row[j]);
        }
    }
    return text;
}

std::string VectorText(const double* first, int32_t count) {
    std::string text = LB;
    for (int32_t k = 0; k < count; ++k) {
        text += "  ";
        text += FormatElement(first[k]);
        text += LB;
    }
    return text;
}

void ShowText(const std::string& message) {
    MessageDlg(message, TMsgDlgType::mtInformation, mbOK, 0);
}

}  // namespace

void shownpbynpmatrix(const npbynp& A, int32_t n, const std::string& Title, uint16_t Show) {
    CheckTerms("shownpbynpmatrix", "n", n);
    if (Show == 0) return;
    ShowText(SquareHeader(Title, n, n) + MatrixText(n, n, [&](int32_t i) { return A.row(i); }));
}

void showglnvmatrix(const glnvmatrix& A, int32_t n, const std::string& Title, uint16_t Show) {
    CheckTerms("showglnvmatrix", "n", n);
    if (Show == 0) return;
    ShowText(SquareHeader(Title, n, n) +
             MatrixText(n, n, [&](int32_t i) { return &A.raw(i).raw(1); }));
}

void showmbynpmatrix(const mbynp& A, int32_t m, int32_t np, const std::string& Title,
                     uint16_t Show) {
    CheckRecords("showmbynpmatrix", m);
    CheckTerms("showmbynpmatrix", "np", np);
    if (Show == 0) return;
    ShowText(SquareHeader(Title, m, np) + MatrixText(m, np, [&](int32_t i) { return A.row(i); }));
}

void shownpbymmatrix(const npbym& A, int32_t m, int32_t np, const std::string& Title,
                     uint16_t Show) {
    CheckRecords("shownpbymmatrix", m);
    CheckTerms("shownpbymmatrix", "np", np);
    if (Show == 0) return;
    ShowText(SquareHeader(Title, np, m) + MatrixText(np, m, [&](int32_t i) { return A.row(i); }));
}

void shownpvector(const npvector& V, int32_t n, const std::string& Title, uint16_t Show) {
    CheckTerms("shownpvector", "n", n);
    if (Show == 0) return;
    ShowText(ColumnHeader(Title, n) + VectorText(&V.raw(1), n));
}

void showmvector(const mvector& V, int32_t m, const std::string& Title, uint16_t Show) {
    CheckRecords("showmvector", m);
    if (Show == 0) return;
    ShowText(ColumnHeader(Title, m) + VectorText(&V.raw(1), m));
}

}  // namespace tav
