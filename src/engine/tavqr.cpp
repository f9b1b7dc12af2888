// The accurate fit: least squares by a column-pivoted Householder QR in extended precision.
//
// The normal equations square the condition of the design: a control variable with a large offset
// (timestamps, years, years squared) or nearly collinear ones leave them few correct digits or
// none. This path never forms X'X for the solution. It fits the centred and column-scaled design
//
//   A = [ 1 / s0,  (x1 - mean1) / s1,  ...,  (xp - meanp) / sp ],   each column of unit length,
//
// to the centred response in long double, and maps the coefficients back: A = X M^-1 with M
// upper triangular, so b = M c and (X'X)^-1 = M (A'A)^-1 M'. Centring takes the offsets out
// exactly (the means are formed in extended precision), and unit columns make the rank decision
// independent of the units the variables are measured in.
//
// Where the solution's estimated accuracy is low, it is refined against the data as given: the
// residuals y - X b are formed in double-double and fitted through the same factor, which gives
// the residuals and the fitted values the accuracy their own size allows rather than that of the
// largest coefficients.
//
// A control variable whose centred column lies within the rank tolerance of the span of the
// columns before it is aliased: it takes no part in the fit (its coefficient is stored as 0 for
// Predict, and Getb gives NaN), its variances are NaN, and Execute reports the fit as rank
// deficient.
//
// All work storage lies in the component's arrays (qrDesign, qrResponse) or in objects of at most
// MaxTerms x MaxTerms elements: the fit allocates nothing.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>

#include "engine/tavfactor.h"
#include "tav/tavcore.h"

namespace tav {

namespace {

using namespace factor;

// The digits of a double: results are stored as doubles whatever the path.
constexpr double kMaxDigits = 15.9;

// Safety factor of the accuracy estimate below.
constexpr ext kQrMargin = 3.0L;
// Below this many estimated digits the solution is refined (see FitByQR).
constexpr double kRefineBelow = 13.0;

// A number as the unevaluated sum of two doubles (106 bits): what the refinement needs to form
// y - X b exactly enough when the terms of X b are ten orders of magnitude above their sum.
struct TDoubleDouble {
    double high = 0, low = 0;

    static TDoubleDouble Of(ext value) {
        const double high = static_cast<double>(value);
        return {high, static_cast<double>(value - high)};
    }
    ext Value() const { return ext(high) + ext(low); }
    // Adds a double, keeping the rounding error of the leading sum in `low` (Knuth's TwoSum).
    void Add(double value) {
        const double sum = high + value, back = sum - value;
        low += (high - back) + (value - (sum - back));
        high = sum;
    }
    // Adds a number of extended precision, both of its parts.
    void Add(ext value) {
        const TDoubleDouble parts = Of(value);
        Add(parts.high);
        low += parts.low;
        const double sum = high + low;
        low -= sum - high;
        high = sum;
    }
    // Subtracts value * (factor.high + factor.low), the leading product exactly (fused).
    void SubtractProduct(double value, const TDoubleDouble& factor) {
        const double product = value * factor.high;
        Add(-product);
        low -= std::fma(value, factor.high, -product) + value * factor.low;
    }
};

// Marks in `dependent` each of the `width` columns of A that lies within the rank tolerance of the
// span of the columns before it (Gram-Schmidt in their order, twice for orthogonality; the columns
// are overwritten); returns how many are marked.
int32_t MarkDependent(Eigen::Map<Design>& A, int32_t width, bool* dependent) {
    int32_t kept[MaxTerms];
    int32_t keptCount = 0;
    for (int32_t j = 0; j < width; ++j) {
        auto column = A.col(j);
        for (int pass = 0; pass < 2; ++pass)
            for (int32_t m = 0; m < keptCount; ++m)
                column -= A.col(kept[m]).dot(column) * A.col(kept[m]);
        const ext norm = column.norm();
        dependent[j] = !(norm > kRankTolerance);
        if (dependent[j]) continue;
        column /= norm;
        kept[keptCount++] = j;
    }
    return width - keptCount;
}

// X'X of the q terms from a factor of all their columns: M^-T (A'A) M^-1, with A'A = R'R pivoted
// back to the terms and M^-1 the map from the terms to the centred, scaled columns.
Square TermsGram(const TQr& qr, int32_t q, const Terms& length, const Terms& mean) {
    const auto& pivots = qr.colsPermutation().indices();
    const Square upper = qr.matrixR().topLeftCorner(q, q).triangularView<Eigen::Upper>();
    const Square gram = upper.transpose() * upper;
    Square ata(q, q);
    for (int32_t i = 0; i < q; ++i)
        for (int32_t j = 0; j < q; ++j) ata(pivots(i), pivots(j)) = gram(i, j);
    Square unmap = Square::Zero(q, q);
    unmap(0, 0) = length(0);
    for (int32_t k = 1; k < q; ++k) {
        unmap(0, k) = length(0) * mean(k);
        unmap(k, k) = length(k);
    }
    return unmap.transpose() * ata * unmap;
}

// Q' v (or Q v) of the factor's first `width` reflectors, one at a time (the blocked form Eigen
// would choose costs more than it saves on a single vector).
void ApplyQt(const TQr& qr, int32_t width, Eigen::Map<Records>& v) {
    const auto n = v.size();
    for (int32_t k = 0; k < width; ++k) {
        ext workspace;
        v.tail(n - k).applyHouseholderOnTheLeft(qr.householderQ().essentialVector(k),
                                                qr.hCoeffs()(k), &workspace);
    }
}
void ApplyQ(const TQr& qr, int32_t width, Eigen::Map<Records>& v) {
    const auto n = v.size();
    for (int32_t k = width - 1; k >= 0; --k) {
        ext workspace;
        v.tail(n - k).applyHouseholderOnTheLeft(qr.householderQ().essentialVector(k),
                                                qr.hCoeffs()(k), &workspace);
    }
}

// Estimated correct digits of the coefficients b = M c. The computed c is the exact solution of a
// problem within u * cond(A) of this one (u of long double), which bounds the error of each
// element of c by u cond(A) |c|. Mapped through M, a coefficient errs by that much times the sum
// of its row of |M|: for a slope 1 / s_k, for the intercept also the means it is corrected by,
// which is where a large offset costs digits. Each coefficient is then rounded to a double.
double QrDigits(const TQr& qr, int32_t rank, const Square& rInverse, const Terms& c, const Terms& b,
                const Square& M, const bool* aliased) {
    ext normR = 0, normInverse = 0;
    for (int32_t j = 0; j < rank; ++j) {
        normR = std::max(normR, qr.matrixR().col(j).head(j + 1).cwiseAbs().sum());
        normInverse = std::max(normInverse, rInverse.col(j).head(j + 1).cwiseAbs().sum());
    }
    const ext perturbation = LDBL_EPSILON * normR * normInverse * c.norm();
    ext worst = DBL_EPSILON / 2;
    for (int32_t j = 0; j < b.size(); ++j) {
        if (aliased[j] || b(j) == 0) continue;
        const ext spread = M.row(j).cwiseAbs().sum();
        worst = std::max(worst, perturbation * spread / std::fabs(b(j)) + DBL_EPSILON / 2);
    }
    return std::clamp(static_cast<double>(-std::log10(worst * kQrMargin)), 0.0, kMaxDigits);
}

// The refinement of FitByQR: `residual(i)` is record i's residual (from 1) for the coefficients
// as they stand; each step fits them through the factor (its columns `used`, mapped to the terms
// by M) and corrects `coefficients`, and is kept only while it shrinks the part of the residuals
// that the columns explain. `work` is storage of n records.
void Refine(const TQr& qr, int32_t rank, int32_t width, const int32_t* used, const Square& M,
            Eigen::Map<Records>& work, TDoubleDouble* coefficients,
            const std::function<ext(int32_t)>& residual) {
    const auto q = static_cast<int32_t>(M.rows());
    const auto& pivots = qr.colsPermutation().indices();
    const auto R = qr.matrixR().topLeftCorner(rank, rank).triangularView<Eigen::Upper>();
    auto explained = [&] {
        for (int32_t i = 0; i < work.size(); ++i) work(i) = residual(i + 1);
        ApplyQt(qr, width, work);
        return work.head(rank).norm();
    };
    ext left = explained();
    for (int32_t step = 0; step < 2 && left > 0; ++step) {
        Terms dz = work.head(rank);
        R.solveInPlace(dz);
        Terms dc = Terms::Zero(q);
        for (int32_t i = 0; i < rank; ++i) dc(used[pivots(i)]) = dz(i);
        const Terms db = M * dc;
        TDoubleDouble kept[MaxTerms];
        std::copy(coefficients, coefficients + q, kept);
        for (int32_t k = 0; k < q; ++k) coefficients[k].Add(db(k));
        const ext now = explained();
        if (!(now < left)) {
            std::copy(kept, kept + q, coefficients);
            return;
        }
        left = now;
    }
}

}  // namespace

double TTAVRegression::FitByQR() {
    Arrays& d = *d_;
    const int32_t n = dataCount_;
    const int32_t p = varCount_;
    const int32_t q = p + 1;

    // x[i, k] for k = 1..p, unchecked: the counts were checked by the load.
    const double* x = d.x.row(1);
    constexpr auto stride = static_cast<int64_t>(mbynp::Stride);
    auto at = [x](int32_t i, int32_t k) { return ext(x[(i - 1) * stride + (k - 1)]); };

    // Means and lengths of the centred columns, term 0 being the intercept.
    ext sums[MaxTerms] = {}, means[MaxTerms] = {}, squares[MaxTerms] = {};
    for (int32_t i = 1; i <= n; ++i)
        for (int32_t k = 1; k <= p; ++k) sums[k] += at(i, k);
    Terms mean = Terms::Zero(q), length(q);
    for (int32_t k = 1; k <= p; ++k) mean(k) = means[k] = sums[k] / n;
    ext yMean = 0;
    for (int32_t i = 1; i <= n; ++i) yMean += d.y.raw(i);
    yMean /= n;
    for (int32_t i = 1; i <= n; ++i)
        for (int32_t k = 1; k <= p; ++k) {
            const ext c = at(i, k) - means[k];
            squares[k] += c * c;
        }
    length(0) = std::sqrt(static_cast<ext>(n));
    // A column that is constant to the last bit has no direction at all; it stays zero and the
    // rank test below finds it.
    for (int32_t k = 1; k <= p; ++k) length(k) = squares[k] > 0 ? std::sqrt(squares[k]) : 1.0L;

    Eigen::Map<Design> A(d.qrDesign, n, q);
    Eigen::Map<Records> qty(d.qrResponse, n);
    // Columns of A: the terms in `used` (0 = intercept), centred and scaled.
    int32_t used[MaxTerms];
    int32_t width = 0;
    auto fill = [&] {
        for (int32_t j = 0; j < width; ++j) {
            const int32_t k = used[j];
            const ext scale = 1.0L / length(k);
            if (k == 0) {
                A.col(j).setConstant(scale);
                continue;
            }
            for (int32_t i = 1; i <= n; ++i) A(i - 1, j) = (at(i, k) - mean(k)) * scale;
        }
    };

    aliased_.fill(false);
    for (int32_t k = 0; k <= p; ++k) used[width++] = k;
    fill();
    std::optional<TQr> qr;
    {
        auto columns = A.leftCols(width);
        qr.emplace(columns);
    }
    qr->setThreshold(kRankTolerance);
    if (qr->rank() < width) {
        // Name the variables the way a reader thinks of them: each one that lies in the span of
        // the variables before it (Gram-Schmidt in the order of the variables, twice for
        // orthogonality), rather than whichever column the pivoting happened to leave last.
        const int32_t pivotedRank = static_cast<int32_t>(qr->rank());
        int32_t pivotedLast[MaxTerms];
        for (int32_t j = 0; j < width; ++j) pivotedLast[j] = qr->colsPermutation().indices()(j);
        fill();
        bool dependent[MaxTerms] = {};
        const int32_t marked = MarkDependent(A, width, dependent);
        for (int32_t j = 0; j < width; ++j) aliased_[used[j]] = dependent[j];
        // Should the two tests disagree at the edge of the tolerance, the columns the pivoting
        // put last are the aliased ones.
        if (marked == 0)
            for (int32_t j = pivotedRank; j < width; ++j) aliased_[used[pivotedLast[j]]] = true;
        width = 0;
        for (int32_t k = 0; k <= p; ++k)
            if (!aliased_[k]) used[width++] = k;
        fill();
        auto columns = A.leftCols(width);
        qr.emplace(columns);
        qr->setThreshold(kRankTolerance);
    }
    const int32_t rank = static_cast<int32_t>(qr->rank());
    const auto& pivots = qr->colsPermutation().indices();
    for (int32_t j = rank; j < width; ++j) aliased_[used[pivots(j)]] = true;

    for (int32_t i = 1; i <= n; ++i) qty(i - 1) = d.y.raw(i) - yMean;
    ApplyQt(*qr, width, qty);

    // R z = (Q'y)[0, rank), then z back to the columns of A and to the terms.
    const auto R = qr->matrixR().topLeftCorner(rank, rank).triangularView<Eigen::Upper>();
    Terms z = qty.head(rank);
    R.solveInPlace(z);
    Square rInverse = Square::Identity(rank, rank);
    R.solveInPlace(rInverse);
    const Square gramInverse = rInverse * rInverse.transpose();  // of the pivoted columns

    Terms c = Terms::Zero(q);             // coefficients of the columns of A, by term
    Square inverse = Square::Zero(q, q);  // (A'A)^-1, by term
    for (int32_t i = 0; i < rank; ++i) {
        const int32_t ti = used[pivots(i)];
        c(ti) = z(i);
        for (int32_t j = 0; j < rank; ++j) inverse(ti, used[pivots(j)]) = gramInverse(i, j);
    }

    // b = M c (plus the response's mean on the intercept) and (X'X)^-1 = M (A'A)^-1 M', with M
    // the upper triangular map from the columns of A to the terms of X.
    Square M = Square::Zero(q, q);
    M(0, 0) = 1.0L / length(0);
    for (int32_t k = 1; k <= p; ++k) {
        M(0, k) = -mean(k) / length(k);
        M(k, k) = 1.0L / length(k);
    }
    Terms b = M * c;
    b(0) += yMean;
    const Square xtxInverse = M * inverse * M.transpose();

    for (int32_t k = 0; k <= p; ++k) d.b[k] = static_cast<double>(b(k));
    for (int32_t i = 1; i <= q; ++i)
        for (int32_t j = 1; j <= q; ++j) {
            const bool undefined = aliased_[i - 1] || aliased_[j - 1];
            d.XtXInv(i, j) = undefined ? std::numeric_limits<double>::quiet_NaN()
                                       : static_cast<double>(xtxInverse(i - 1, j - 1));
        }

    const double digits = QrDigits(*qr, rank, rInverse, c, b, M, aliased_.data());

    // Refinement, where the estimate leaves fewer than kRefineBelow digits. The factor's solution
    // solves a problem within u |A| of this one (u of long double); where the coefficients of the
    // scaled columns are large and cancel (two controls 1E-8 apart: slopes of 3E8 for a response
    // near 10), that moves the fitted values by u |c|, which left 7 digits in the residuals. The
    // residuals of the data as given, y - X b with b in double-double and each product exact,
    // show what that solution missed, and their least squares fit through the same factor
    // corrects b; the fitted values then err by u cond(A) |r| instead. A step is kept only while
    // it shrinks the part of the residuals that the columns explain (the first `rank` elements of
    // Q'r), which stops a near-singular design from diverging; two steps at most.
    TDoubleDouble coefficients[MaxTerms];
    for (int32_t k = 0; k <= p; ++k) coefficients[k] = TDoubleDouble::Of(b(k));
    auto residualOf = [&](int32_t i) {
        TDoubleDouble r{d.y.raw(i), 0.0};
        r.SubtractProduct(1.0, coefficients[0]);
        const double* row = d.x.row(i);
        for (int32_t k = 1; k <= p; ++k)
            if (!aliased_[k]) r.SubtractProduct(row[k - 1], coefficients[k]);
        return r;
    };
    if (digits < kRefineBelow) {
        Refine(*qr, rank, width, used, M, qty, coefficients,
               [&](int32_t i) { return residualOf(i).Value(); });
        for (int32_t k = 0; k <= p; ++k) d.b[k] = static_cast<double>(coefficients[k].Value());
        for (int32_t i = 1; i <= n; ++i) {
            const ext residual = residualOf(i).Value();
            d.v[i] = static_cast<double>(ext(d.y.raw(i)) - residual);
            d.yHat[i] = d.v[i];
            d.e[i] = static_cast<double>(residual);
        }
    } else {
        // The residuals from the factor: Q applied to Q'y with its first `rank` elements zeroed,
        // where y - X b would lose cond(A) units to the error of b. The fitted values are the rest
        // of the response.
        qty.head(rank).setZero();
        ApplyQ(*qr, width, qty);
        for (int32_t i = 1; i <= n; ++i) {
            const ext residual = qty(i - 1);
            d.v[i] = static_cast<double>(ext(d.y.raw(i)) - residual);
            d.yHat[i] = d.v[i];
            d.e[i] = static_cast<double>(residual);
        }
    }

    // The members the normal equations would have left; X'X from the factor when every column
    // took part, otherwise from the design itself.
    addunitmbynp(d.x, d.XDesign, n, q);
    transposembynp(d.XDesign, d.XDesignT, n, q);
    if (rank == q) {
        const Square xtx = TermsGram(*qr, q, length, mean);
        for (int32_t i = 1; i <= q; ++i)
            for (int32_t j = 1; j <= q; ++j) d.XtX(i, j) = static_cast<double>(xtx(i - 1, j - 1));
    } else {
        multnpbymmbynp(d.XDesignT, d.XDesign, d.XtX, n, q);
    }
    multnpbynpnpbym(d.XtXInv, d.XDesignT, d.XtXInvXt, n, q);
    return digits;
}

}  // namespace tav
