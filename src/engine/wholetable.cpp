// The whole-table fit: the moments of a table summed in one pass, and the regression they give.
//
// The moments are the centred cross products C of the variables. Scaled to a unit diagonal they
// are the Gram matrix G = A'A of the centred, unit-length design A, and the triangular factor R
// of its Cholesky factorisation G = R'R is, row signs aside, the R of A's QR factorisation, the
// factor the component's own statistics come from: the response appended as a last column, R's
// last column holds the response's coordinates on the controls' orthonormal basis and its
// residual's length. Everything is formed in extended precision, the control variables taken in
// their order, each found to lie within the rank tolerance of the ones before it aliased (as the
// component's QR path and R's lm decide).
#include "tav/wholetable.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "engine/fitrules.h"
#include "tav/fixedarray.h"
#include "tav/sysutils.h"

namespace tav {

namespace {

using ext = long double;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMaxDigits = 15.9;

// A control variable whose squared distance from the span of the ones before it (its own length
// being 1) is at most this counts as aliased. Cross products carry about 19 significant digits:
// a distance much below the square root of their rounding cannot be told from none.
constexpr ext kAliasedSquare = 64 * LDBL_EPSILON;

// R's test for an "essentially perfect fit" (as the component's), with the residual sum of
// squares no better known than the rounding of the cross products it comes from.
constexpr ext kPerfectFit = 1.0E-30L;

}  // namespace

int64_t TTableMoments::Skipped() const {
    int64_t total = 0;
    for (const auto& reasons : skipped)
        for (int64_t count : reasons) total += count;
    return total;
}

// --------------------------------------------------------------------------------- TMomentSums

TMomentSums::TMomentSums(int variables) : count_(variables + 1), width_((variables + 2) / 2 * 2) {
    moments_.variables = variables;
    int slot = width_;
    for (int j = 0; j < count_; ++j) {
        row_[j] = slot;
        slot += width_ - (j & ~1);
    }
}

namespace {

using pair = double __attribute__((vector_size(16)));

// Adds x to the running sums high and their rounding errors to low, two at a time: the
// addition's error found exactly (Knuth's two-sum, which needs no ordering of the magnitudes).
inline void AddTwo(double* high, double* low, pair x) {
    pair s, c;
    std::memcpy(&s, high, sizeof s);
    std::memcpy(&c, low, sizeof c);
    const pair sum = s + x, z = sum - s;
    c += (s - (sum - z)) + (x - z);
    std::memcpy(high, &sum, sizeof sum);
    std::memcpy(low, &c, sizeof c);
}

}  // namespace

void TMomentSums::Add(const double* values) {
    TTableMoments& m = moments_;
    if (m.used == 0) {
        if (!shifted_)
            for (int j = 0; j < count_; ++j) shift_[j] = values[j];
        shifted_ = true;
        for (int j = 0; j < count_; ++j) m.min[j] = m.max[j] = values[j];
    } else {
        for (int j = 0; j < count_; ++j) {
            m.min[j] = std::min(m.min[j], values[j]);
            m.max[j] = std::max(m.max[j], values[j]);
        }
    }
    ++m.used;
    alignas(16) double d[kWidth] = {};
    for (int j = 0; j < count_; ++j) d[j] = values[j] - shift_[j];
    pair x;
    for (int k = 0; k < width_; k += 2) {
        std::memcpy(&x, d + k, sizeof x);
        AddTwo(high_ + k, low_ + k, x);
    }
    for (int j = 0; j < count_; ++j) {
        const pair dj = {d[j], d[j]};
        double* const high = high_ + row_[j] - (j & ~1);
        double* const low = low_ + row_[j] - (j & ~1);
        for (int k = j & ~1; k < width_; k += 2) {
            std::memcpy(&x, d + k, sizeof x);
            AddTwo(high + k, low + k, dj * x);
        }
    }
}

TMomentSums TMomentSums::Part() const {
    TMomentSums part(moments_.variables);
    part.shifted_ = shifted_;
    std::copy(std::begin(shift_), std::end(shift_), part.shift_);
    return part;
}

void TMomentSums::Merge(const TMomentSums& part) {
    TTableMoments& m = moments_;
    const TTableMoments& p = part.moments_;
    m.read += p.read;
    for (int v = 0; v <= MaxTerms; ++v)
        for (int r = 0; r < kSkipReasonCount; ++r) m.skipped[v][r] += p.skipped[v][r];
    if (p.used == 0) return;
    for (int j = 0; j < count_; ++j) {
        m.min[j] = m.used == 0 ? p.min[j] : std::min(m.min[j], p.min[j]);
        m.max[j] = m.used == 0 ? p.max[j] : std::max(m.max[j], p.max[j]);
    }
    m.used += p.used;
    for (int s = 0; s < kSlots; s += 2) {
        pair x;
        std::memcpy(&x, part.high_ + s, sizeof x);
        AddTwo(high_ + s, low_ + s, x);
        low_[s] += part.low_[s];
        low_[s + 1] += part.low_[s + 1];
    }
}

TTableMoments TMomentSums::Moments() const {
    TTableMoments m = moments_;
    if (m.used == 0) return m;
    const ext n = static_cast<ext>(m.used);
    ext sum[MaxTerms + 1];
    for (int j = 0; j < count_; ++j) {
        sum[j] = ext(high_[j]) + low_[j];
        m.mean[j] = shift_[j] + sum[j] / n;
    }
    for (int j = 0; j < count_; ++j) {
        const int first = row_[j] - (j & ~1);
        for (int k = j; k < count_; ++k)
            m.cross[j][k] = m.cross[k][j] =
                (ext(high_[first + k]) + low_[first + k]) - sum[j] * sum[k] / n;
    }
    return m;
}

// ------------------------------------------------------------------------------------ strategy

const char* WholeTableStrategyToStr(TWholeTableStrategy strategy) {
    switch (strategy) {
        case TWholeTableStrategy::Client:
            return "Client";
        case TWholeTableStrategy::Server:
            return "Server";
        case TWholeTableStrategy::Auto:
            break;
    }
    return "Auto";
}

TWholeTableStrategy StrToWholeTableStrategy(const std::string& text) {
    for (TWholeTableStrategy s :
         {TWholeTableStrategy::Auto, TWholeTableStrategy::Client, TWholeTableStrategy::Server})
        if (text == WholeTableStrategyToStr(s)) return s;
    throw EConvertError("'" + text + "' is not a way to sum a whole table (Auto, Client, Server)");
}

// ------------------------------------------------------------------------------- TWholeTableFit

void TWholeTableFit::Clear() { *this = TWholeTableFit(); }

void TWholeTableFit::Fit(const TTableMoments& moments, TWholeTableStrategy strategy) {
    Clear();
    moments_ = moments;
    strategy_ = strategy;
    fitted_ = true;
    const int m = moments.variables;
    const int64_t n = moments.used;
    if (n < m + 1 || n < 2) {
        problem_ = "there are 0 degrees of freedom: " + std::to_string(n) + " record" +
                   (n == 1 ? "" : "s") + " for " + std::to_string(m + 1) + " terms";
        return;
    }
    for (int j = 0; j <= m; ++j) {
        if (!std::isfinite(moments.cross[j][j]) || !std::isfinite(moments.mean[j])) {
            problem_ = "a sum beyond the double range";
            return;
        }
        if (kZeroTolerance > std::fabs(ext(moments.max[j]) - moments.min[j])) {
            problem_ = "the dataset has an invariant column";
            return;
        }
    }

    // The scaled Gram matrix of the controls 1..m and the response (m + 1 last: index 0 moved).
    ext length[MaxTerms + 1];
    for (int j = 0; j <= m; ++j) length[j] = std::sqrt(moments.cross[j][j]);
    const auto at = [m](int j) { return j == 0 ? m : j - 1; };  // variable -> column
    ext r[MaxTerms + 1][MaxTerms + 1] = {};
    for (int j = 0; j <= m; ++j)
        for (int k = 0; k <= m; ++k)
            r[at(j)][at(k)] = moments.cross[j][k] / (length[j] * length[k]);

    // Cholesky in column order, a column within the tolerance of the earlier ones aliased.
    // r[i][j] (i <= j) becomes the factor; aliased columns keep no row.
    bool kept[MaxTerms + 1] = {};
    for (int j = 0; j <= m; ++j) {
        for (int i = 0; i < j; ++i) {
            if (!kept[i]) continue;
            ext s = r[i][j];
            for (int t = 0; t < i; ++t)
                if (kept[t]) s -= r[t][i] * r[t][j];
            r[i][j] = s / r[i][i];
        }
        ext d = r[j][j];
        for (int t = 0; t < j; ++t)
            if (kept[t]) d -= r[t][j] * r[t][j];
        if (j < m && !(d > kAliasedSquare)) {
            aliased_[j + 1] = true;
            continue;
        }
        kept[j] = true;
        r[j][j] = std::sqrt(std::max(d, ext(0)));
    }

    // W = R^-1 over the kept controls (upper triangular), by back substitution.
    ext w[MaxTerms][MaxTerms] = {};
    for (int j = 0; j < m; ++j) {
        if (!kept[j]) continue;
        w[j][j] = 1 / r[j][j];
        for (int i = j - 1; i >= 0; --i) {
            if (!kept[i]) continue;
            ext s = 0;
            for (int t = i + 1; t <= j; ++t)
                if (kept[t]) s += r[i][t] * w[t][j];
            w[i][j] = -s / r[i][i];
        }
    }
    // The scaled coefficients z = R^-1 (R's response column), and the sums of squares.
    ext ssr = 0;
    for (int i = 0; i < m; ++i)
        if (kept[i]) ssr += r[i][m] * r[i][m];
    const ext syy = moments.cross[0][0];
    sst_ = syy;
    sse_ = r[m][m] * r[m][m] * syy;
    ssr_ = ssr * syy;
    ext intercept = moments.mean[0];
    for (int k = 1; k <= m; ++k) {
        if (aliased_[k]) continue;
        ext z = 0;
        for (int t = k - 1; t < m; ++t)
            if (kept[t]) z += w[k - 1][t] * r[t][m];
        b_[k] = z * length[0] / length[k];
        intercept -= b_[k] * moments.mean[k];
    }
    b_[0] = intercept;
    // (A'A)^-1 = W W', and the controls' (C^-1) = D^-1 W W' D^-1.
    for (int j = 1; j <= m; ++j)
        for (int k = 1; k <= m; ++k) {
            if (aliased_[j] || aliased_[k]) continue;
            ext s = 0;
            for (int t = std::max(j, k) - 1; t < m; ++t) s += w[j - 1][t] * w[k - 1][t];
            inverse_[j][k] = s / (length[j] * length[k]);
        }

    // Perfect: the residual variance at the rounding level of the fitted values, or of the sums.
    const int32_t terms = Rank();
    const ext rdf = ext(n) - terms;
    const ext meanSquare = moments.mean[0] * moments.mean[0] + ssr_ / ext(n - 1);
    perfectFit_ = rdf > 0 && (sse_ / rdf < meanSquare * kPerfectFit ||
                              r[m][m] * r[m][m] < 16 * ext(n) * LDBL_EPSILON);

    // The digits: the relative error of the cross products, magnified by the centring (a sum
    // about a point at most the column's range from its mean is 1 + (range / spread)^2 times the
    // centred one), times the scaled Gram matrix's condition (its 1-norm, of it and of its
    // inverse), with the margin the component's estimate takes. Both strategies sum with no
    // error that grows with the records (the client carries each addition's rounding error, the
    // server sums whole numbers): each product's own rounding to a double is what is left.
    const ext sumError = DBL_EPSILON + ext(n) * DBL_EPSILON * DBL_EPSILON;
    ext magnified = 1;
    for (int j = 0; j <= m; ++j) {
        const ext range = std::max(std::fabs(ext(moments.max[j]) - moments.mean[j]),
                                   std::fabs(ext(moments.min[j]) - moments.mean[j]));
        const ext spread = length[j] / std::sqrt(ext(n));
        magnified = std::max(magnified, 1 + (range / spread) * (range / spread));
    }
    ext gramNorm = 0, inverseNorm = 0;
    for (int k = 1; k <= m; ++k) {
        if (aliased_[k]) continue;
        ext g = 0, v = 0;
        for (int j = 1; j <= m; ++j) {
            if (aliased_[j]) continue;
            g += std::fabs(moments.cross[j][k] / (length[j] * length[k]));
            v += std::fabs(inverse_[j][k] * length[j] * length[k]);
        }
        gramNorm = std::max(gramNorm, g);
        inverseNorm = std::max(inverseNorm, v);
    }
    const ext condition = std::max(ext(1), gramNorm * inverseNorm);
    const ext error = 3 * sumError * magnified * condition;
    digits_ = std::clamp(static_cast<double>(-std::log10(error)), 0.0, kMaxDigits);
}

int32_t TWholeTableFit::Rank() const {
    int32_t terms = 1;
    for (int k = 1; k <= moments_.variables; ++k) terms += aliased_[k] ? 0 : 1;
    return terms;
}

int64_t TWholeTableFit::GetDOF() const { return Valid() ? moments_.used - Rank() : 0; }

bool TWholeTableFit::GetAliased(int k) const {
    if (k < 1 || k > moments_.variables) RaiseIndexError("control variable", k, 1, Variables());
    return aliased_[k];
}

namespace {

fitrules::TFitSums SumsOf(const TWholeTableFit& fit, int32_t terms, ext sse, ext ssr) {
    return {ext(fit.DataCount()), terms, sse, ssr, fit.GetPerfectFit()};
}

}  // namespace

double TWholeTableFit::Getb(int j) const {
    if (j < 0 || j > moments_.variables) RaiseIndexError("coefficient", j, 0, Variables());
    if (!Valid() || (j > 0 && aliased_[j])) return kNaN;
    return static_cast<double>(b_[j]);
}

double TWholeTableFit::GetStdErrorOfb(int j) const {
    if (j < 0 || j > moments_.variables) RaiseIndexError("coefficient", j, 0, Variables());
    if (!Valid() || (j > 0 && aliased_[j]) || !(GetDOF() > 0)) return kNaN;
    const ext mse = sse_ / ext(GetDOF());
    ext variance = 0;
    if (j > 0) {
        variance = inverse_[j][j];
    } else {
        // 1/n + xbar' C^-1 xbar
        variance = 1 / ext(moments_.used);
        for (int a = 1; a <= moments_.variables; ++a)
            for (int c = 1; c <= moments_.variables; ++c)
                variance += moments_.mean[a] * inverse_[a][c] * moments_.mean[c];
    }
    return static_cast<double>(std::sqrt(variance * mse));
}

double TWholeTableFit::GettValue(int j) const {
    if (perfectFit_) return kNaN;
    return static_cast<double>(ext(Getb(j)) / ext(GetStdErrorOfb(j)));
}

double TWholeTableFit::GetPValue(int j) const {
    return fitrules::TwoSidedP(GettValue(j), static_cast<double>(GetDOF()));
}

TInterval TWholeTableFit::GetConfidenceInterval(int j, double level) const {
    CheckConfidenceLevel(level);
    const ext half =
        ext(fitrules::TQuantile(level, static_cast<double>(GetDOF()))) * ext(GetStdErrorOfb(j));
    const ext b = Getb(j);
    return {static_cast<double>(b - half), static_cast<double>(b + half)};
}

double TWholeTableFit::GetxBar(int k) const {
    if (k < 1 || k > moments_.variables) RaiseIndexError("control variable", k, 1, Variables());
    return moments_.used > 0 ? static_cast<double>(moments_.mean[k]) : kNaN;
}

double TWholeTableFit::GetyBar() const {
    return moments_.used > 0 ? static_cast<double>(moments_.mean[0]) : kNaN;
}

double TWholeTableFit::GetSSE() const { return Valid() ? static_cast<double>(sse_) : kNaN; }
double TWholeTableFit::GetSST() const { return Valid() ? static_cast<double>(sst_) : kNaN; }
double TWholeTableFit::GetSSR() const { return Valid() ? static_cast<double>(ssr_) : kNaN; }

double TWholeTableFit::GetRSquared() const {
    return Valid() ? static_cast<double>(ssr_ / sst_) : kNaN;
}

double TWholeTableFit::GetAdjRSquared() const {
    return Valid() ? fitrules::AdjRSquared(SumsOf(*this, Rank(), sse_, ssr_)) : kNaN;
}

double TWholeTableFit::GetF() const { return GetAnova().regression.F; }
double TWholeTableFit::GetFPValue() const { return GetAnova().regression.p; }

TAnovaTable TWholeTableFit::GetAnova() const {
    return fitrules::Anova(SumsOf(*this, Rank(), sse_, ssr_), Valid());
}

double TWholeTableFit::GetMSE() const { return GetAnova().residual.MS; }

double TWholeTableFit::GetResidualStdError() const {
    return Valid() ? fitrules::ResidualStdError(SumsOf(*this, Rank(), sse_, ssr_)) : kNaN;
}

double TWholeTableFit::GetLogLikelihood() const {
    return Valid() ? fitrules::LogLikelihood(SumsOf(*this, Rank(), sse_, ssr_)) : kNaN;
}

double TWholeTableFit::GetAIC() const {
    return Valid() ? fitrules::AIC(SumsOf(*this, Rank(), sse_, ssr_)) : kNaN;
}

double TWholeTableFit::GetBIC() const {
    return Valid() ? fitrules::BIC(SumsOf(*this, Rank(), sse_, ssr_)) : kNaN;
}

double TWholeTableFit::GetVIF(int k) const {
    if (k < 1 || k > moments_.variables) RaiseIndexError("control variable", k, 1, Variables());
    if (!Valid() || aliased_[k]) return kNaN;
    return static_cast<double>(inverse_[k][k] * moments_.cross[k][k]);
}

double TWholeTableFit::Predict(const double* values, int count) const {
    if (count != moments_.variables)
        throw EConvertError("a prediction needs " + IntToStr(moments_.variables) +
                            " control values, not " + IntToStr(count));
    if (!Valid()) return kNaN;
    ext y = b_[0];
    for (int k = 1; k <= count; ++k)
        if (!aliased_[k]) y += b_[k] * ext(values[k - 1]);
    return static_cast<double>(y);
}

}  // namespace tav
