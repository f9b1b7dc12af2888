// Tests, intervals, likelihood and record diagnostics of the last fit (the fitted equation as SQL
// is in tavscoring.cpp), and the regression's accessors that forward to them.
//
// Whatever path fitted the coefficients, the standard errors, the leverages, the variance
// inflation factors and the prediction standard errors come from one factorisation: a
// column-pivoted QR by modified Gram-Schmidt, in extended precision, of the centred controls in
// the fit scaled to unit length, A P = Q R. Then (A'A)^-1 = W W' with W = P R^-1, the leverage of
// record i is 1/n + |row i of the thin Q|^2 and that of a new point z is 1/n + |z' W|^2 (z centred
// and scaled), so nothing squares the condition of the design as cross products and a Cholesky
// factor would (x, x^2 with x = 1E6 + i kept 5 digits of leverage that way). The factor is made
// once per fit, on request, from the loaded values; the database is not read again.
#include "tav/tavinference.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

#include "engine/fitrules.h"
#include "engine/tavfactor.h"
#include "tav/db.h"
#include "tav/sysutils.h"
#include "tav/tavcore.h"

namespace tav {

namespace {

using ext = long double;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using fitrules::TQuantile;
using fitrules::TwoSidedP;

// 1 - h below which a record counts as fitted exactly by itself (leverage 1): its residual is
// then rounding noise and the statistics divided by it do not exist.
constexpr double kLeverageOne = 1.0E-12;

}  // namespace

void CheckConfidenceLevel(double level) {
    if (!(level > 0.0 && level < 1.0))
        throw EConvertError("the confidence level must lie between 0 and 1, not " +
                            FloatToStr(level));
}

// ------------------------------------------------------------------------------------ inference

TTAVInference::TTAVInference(const TTAVRegression& regression)
    : regression_(regression),
      dataCount_(regression.dataCount_),
      varCount_(regression.varCount_),
      yBar_(regression.yBar_),
      aliased_(regression.aliased_),
      perfectFit_(regression.perfectFit_),
      estimatedDigits_(regression.estimatedDigits_),
      fitPath_(regression.fitPath_),
      diagnostics_(AllocateZeroed<TDiagnostics>()) {}

void TTAVInference::Invalidate() { diagnostics_->ready = diagnostics_->sumsReady = false; }

bool TTAVInference::Valued() const { return regression_.Valued(); }

int32_t TTAVInference::FittedTerms() const { return regression_.FittedTerms(); }

double TTAVInference::Getb(uint16_t j) const { return regression_.Getb(j); }

double TTAVInference::Predict(const npvector& Values, uint16_t Count) const {
    return regression_.Predict(Values, Count);
}

// Not after an overflow, nor when the forced normal equations found X'X singular: their results
// have no correct digit, and every statistic derived from them would pass for one.
bool TTAVInference::Inferable() const { return fitPath_ != TFitPath::None && Valued(); }

double TTAVInference::GetStdErrorOfb(uint16_t j) const {
    if (j > varCount_) RaiseIndexError("coefficient", j, 0, varCount_);
    if (!Inferable()) return kNaN;
    const ext rdf = ResidualDOF();
    if (!(rdf > 0)) return kNaN;
    return static_cast<double>(std::sqrt(Diagnostics().variance[j] * (Sums().sse / rdf)));
}

// A perfect fit's t values are ratios of rounding noise.
double TTAVInference::GettValue(uint16_t j) const {
    if (perfectFit_) return kNaN;
    return static_cast<double>(ext(Getb(j)) / ext(GetStdErrorOfb(j)));
}

double TTAVInference::GetPValue(uint16_t j) const { return TwoSidedP(GettValue(j), ResidualDOF()); }

TInterval TTAVInference::GetConfidenceInterval(uint16_t j, double level) const {
    CheckConfidenceLevel(level);
    const ext half = ext(Quantile(level)) * ext(GetStdErrorOfb(j));
    const ext b = Getb(j);
    return {static_cast<double>(b - half), static_cast<double>(b + half)};
}

// The quantile of the last level asked for is kept: intervals are asked for a coefficient at a
// time, and the quantile costs more than everything else of an interval.
double TTAVInference::Quantile(double level) const {
    TDiagnostics& g = *diagnostics_;
    const double df = ResidualDOF();
    if (!(g.quantileLevel == level && g.quantileDf == df)) {
        g.quantile = TQuantile(level, df);
        g.quantileLevel = level;
        g.quantileDf = df;
    }
    return g.quantile;
}

// n - r, r the terms that took part in the fit.
double TTAVInference::ResidualDOF() const {
    return static_cast<double>(int32_t{dataCount_} - FittedTerms());
}

TTAVInference::TSums TTAVInference::Sums() const {
    TDiagnostics& g = *diagnostics_;
    if (g.sumsReady) return g.sums;
    const auto& d = *regression_.d_;
    ext sse = 0, ssr = 0;
    for (int32_t i = 1; i <= dataCount_; ++i) {
        const ext e = d.e.raw(i), deviation = ext(d.v.raw(i)) - ext(yBar_);
        sse += e * e;
        ssr += deviation * deviation;
    }
    g.sums = {sse, ssr};
    g.sumsReady = true;
    return g.sums;
}

fitrules::TFitSums TTAVInference::FitSums() const {
    const TSums s = Sums();
    return {ext(dataCount_), FittedTerms(), s.sse, s.ssr, perfectFit_};
}

double TTAVInference::GetAdjRSquared() const {
    return Inferable() ? fitrules::AdjRSquared(FitSums()) : kNaN;
}

double TTAVInference::GetResidualStdError() const {
    return Inferable() ? fitrules::ResidualStdError(FitSums()) : kNaN;
}

double TTAVInference::GetFPValue() const { return GetAnova().regression.p; }

TAnovaTable TTAVInference::GetAnova() const {
    return fitrules::Anova(Inferable() ? FitSums() : fitrules::TFitSums{}, Inferable());
}

double TTAVInference::GetLogLikelihood() const {
    return Inferable() ? fitrules::LogLikelihood(FitSums()) : kNaN;
}

double TTAVInference::GetAIC() const { return Inferable() ? fitrules::AIC(FitSums()) : kNaN; }

double TTAVInference::GetBIC() const { return Inferable() ? fitrules::BIC(FitSums()) : kNaN; }

TPredictionInterval TTAVInference::PredictInterval(const npvector& Values, uint16_t Count,
                                                   double level) const {
    CheckConfidenceLevel(level);
    if (Count != varCount_)
        throw EConvertError("a prediction needs " + IntToStr(varCount_) + " control values, not " +
                            IntToStr(Count));
    const TDiagnostics& g = Diagnostics();
    TPredictionInterval result{};
    result.fit = Predict(Values, Count);
    result.level = level;
    // h = 1/n + |z' W|^2, z the point centred and scaled as the factor's columns.
    ext h = g.valid ? 1.0L / dataCount_ : ext(kNaN);
    for (int32_t t = 0; t < g.m; ++t) {
        ext sum = 0;
        for (int32_t r = 0; r < g.m; ++r)
            sum += g.w[r][t] * ((ext(Values.raw(g.column[r])) - g.mean[r]) / g.length[r]);
        h += sum * sum;
    }
    const ext s = GetResidualStdError();
    const ext t = Quantile(level);
    const ext seFit = s * std::sqrt(h);
    const ext sePredict = s * std::sqrt(1 + h);
    result.seFit = static_cast<double>(seFit);
    result.confidence = {static_cast<double>(result.fit - t * seFit),
                         static_cast<double>(result.fit + t * seFit)};
    result.prediction = {static_cast<double>(result.fit - t * sePredict),
                         static_cast<double>(result.fit + t * sePredict)};
    return result;
}

// ---------------------------------------------------------------------------------- diagnostics

namespace {

// Estimated relative error of what the factor gives (R^-1, the rows of Q) beyond the rounding to
// double: u cond(A) in extended precision, with the safety factor the QR fit takes.
constexpr ext kFactorMargin = 3.0L;
constexpr double kMaxDigits = 15.9;

// An element of extended precision kept as two doubles, its value the exact sum of both: the
// 64-bit significand of a long double is the 53 of the first and at most 11 more bits in the
// second. Loading and storing a long double (80 bits) costs several times as much as two doubles
// (measured here: a multiple of one column taken from another in split form takes 0.4 of the
// time).
struct TSplit {
    double* high;
    double* low;
    ext operator[](int32_t i) const { return ext(high[i]) + low[i]; }
    void Set(int32_t i, ext value) const {
        const double first = static_cast<double>(value);
        high[i] = first;
        low[i] = static_cast<double>(value - first);
    }
};

// A column-pivoted QR by modified Gram-Schmidt of the n x m column-major matrix whose split
// elements are at `high` and `low`, in place and written out for extended precision, on which
// Eigen's generic kernels cost several times as much. At step k the largest remaining column
// (its norm downdated, and summed again once it has cancelled, as Eigen's and LAPACK's pivoted
// QR do) becomes column k of Q times R[k][k], and its projection is taken out of every column
// after it. Afterwards col[k] holds that column of Q unnormalised, R is in `r`, and pivot[j] is
// the column at place j. Gram-Schmidt and Householder QR compute the same R to the same
// accuracy; Gram-Schmidt leaves the thin Q itself, from which the leverages are a sum of m
// squares a record, where Householder's reflectors would need a triangular product or a pass
// per reflector over every column of Q. Its Q departs from orthonormal by the order of
// u cond(A), as the rows of A R^-1 formed from any computed R do, which the digits estimate
// covers.
struct TPivotedQr {
    double* high;
    double* low;
    int32_t n, m;
    // Column j of the factor (columns are exchanged by their addresses, not their elements).
    TSplit col[MaxTerms] = {};
    // R, and in r[k][MaxTerms] element k of Q' times the response.
    ext r[MaxTerms][MaxTerms + 1] = {};
    ext squares[MaxTerms] = {};  // |col[k]|^2 = R[k][k]^2 once the factor is made
    int32_t pivot[MaxTerms] = {};

    // `lengths` holds the columns' sums of squares. Every projection is taken out of `response`
    // too, in the same passes as out of the columns, but for the last, which nothing reads.
    //
    // The pass that takes column k's projection out of a column also forms that column's product
    // with column k + 1, which the next step needs: the next pivot is known before the pass,
    // since the norms are downdated from the products alone. Where a norm has cancelled, the
    // step projects alone and the next one forms its products in passes of their own.
    void Factor(const ext* lengths, TSplit response) {
        ext norms[MaxTerms], original[MaxTerms];
        for (int32_t j = 0; j < m; ++j) {
            pivot[j] = j;
            col[j] = {high + int64_t{j} * n, low + int64_t{j} * n};
            norms[j] = original[j] = lengths[j];
        }
        // For the columns after k and (at MaxTerms) the response: their products with column k,
        // then their multiples of column k to take out.
        ext product[MaxTerms + 1] = {}, multiple[MaxTerms + 1] = {};
        bool ready = false;  // the products with column k and its sum of squares are formed
        for (int32_t k = 0; k < m; ++k) {
            if (!ready) {
                Choose(k, norms, original, multiple);
                squares[k] = SumOfSquares(col[k]);
                int32_t j = k + 1;
                for (; j + 1 < m; j += 2)
                    ProductTwo(col[j], col[j + 1], col[k], product[j], product[j + 1]);
                if (j < m)
                    ProductTwo(col[j], response, col[k], product[j], product[MaxTerms]);
                else
                    product[MaxTerms] = Product(response, col[k]);
            }
            ready = false;
            r[k][k] = std::sqrt(squares[k]);
            if (squares[k] == 0) return;  // rank deficient, as Rank tells
            bool cancelled = false;
            for (int32_t j = k + 1; j < m; ++j) {
                r[k][j] = product[j] / r[k][k];
                multiple[j] = product[j] / squares[k];
                norms[j] -= r[k][j] * r[k][j];
                cancelled = cancelled || !(norms[j] > 1.0E-6L * original[j]);
            }
            r[k][MaxTerms] = product[MaxTerms] / r[k][k];
            multiple[MaxTerms] = product[MaxTerms] / squares[k];
            if (k + 1 == m) break;
            const TSplit v = col[k];
            if (cancelled) {
                for (int32_t j = k + 1; j < m; ++j) {
                    Subtract(col[j], v, multiple[j]);
                    if (!(norms[j] > 1.0E-6L * original[j]))
                        norms[j] = original[j] = SumOfSquares(col[j]);
                }
                Subtract(response, v, multiple[MaxTerms]);
                continue;
            }
            Choose(k + 1, norms, original, multiple);
            const TSplit next = col[k + 1];
            squares[k + 1] = SubtractSquares(next, v, multiple[k + 1]);
            int32_t j = k + 2;
            for (; j + 1 < m; j += 2)
                SubtractTwo(col[j], col[j + 1], v, multiple[j], multiple[j + 1], next, product[j],
                            product[j + 1]);
            if (j < m)
                SubtractTwo(col[j], response, v, multiple[j], multiple[MaxTerms], next, product[j],
                            product[MaxTerms]);
            else
                SubtractOne(response, v, multiple[MaxTerms], next, product[MaxTerms]);
            ready = true;
        }
    }

    // Brings the largest remaining column to place k.
    void Choose(int32_t k, ext* norms, ext* original, ext* multiple) {
        int32_t best = k;
        for (int32_t j = k + 1; j < m; ++j)
            if (norms[j] > norms[best]) best = j;
        if (best == k) return;
        std::swap(col[k], col[best]);
        std::swap(norms[k], norms[best]);
        std::swap(original[k], original[best]);
        std::swap(multiple[k], multiple[best]);
        std::swap(pivot[k], pivot[best]);
        for (int32_t i = 0; i < k; ++i) std::swap(r[i][k], r[i][best]);
    }

    // In four chains: one chain of extended-precision additions would wait on each.
    ext SumOfSquares(TSplit v) const {
        ext s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        int32_t i = 0;
        for (; i + 4 <= n; i += 4) {
            const ext v0 = v[i], v1 = v[i + 1], v2 = v[i + 2], v3 = v[i + 3];
            s0 += v0 * v0;
            s1 += v1 * v1;
            s2 += v2 * v2;
            s3 += v3 * v3;
        }
        for (; i < n; ++i) s0 += v[i] * v[i];
        return (s0 + s1) + (s2 + s3);
    }

    // v'x.
    ext Product(TSplit x, TSplit v) const {
        ext s0 = 0, s1 = 0;
        int32_t i = 0;
        for (; i + 2 <= n; i += 2) {
            s0 += v[i] * x[i];
            s1 += v[i + 1] * x[i + 1];
        }
        if (i < n) s0 += v[i] * x[i];
        return s0 + s1;
    }

    // v'x and v'y, each element of v loaded once for both.
    void ProductTwo(TSplit x, TSplit y, TSplit v, ext& vx, ext& vy) const {
        ext w0 = 0, w1 = 0, u0 = 0, u1 = 0;
        int32_t i = 0;
        for (; i + 2 <= n; i += 2) {
            const ext v0 = v[i], v1 = v[i + 1];
            w0 += v0 * x[i];
            u0 += v0 * y[i];
            w1 += v1 * x[i + 1];
            u1 += v1 * y[i + 1];
        }
        for (; i < n; ++i) {
            const ext vi = v[i];
            w0 += vi * x[i];
            u0 += vi * y[i];
        }
        vx = w0 + w1;
        vy = u0 + u1;
    }

    // x := x - c v.
    void Subtract(TSplit x, TSplit v, ext c) const {
        for (int32_t i = 0; i < n; ++i) x.Set(i, x[i] - c * v[i]);
    }

    // x := x - c v, and its sum of squares.
    ext SubtractSquares(TSplit x, TSplit v, ext c) const {
        ext s0 = 0, s1 = 0;
        int32_t i = 0;
        for (; i + 2 <= n; i += 2) {
            const ext x0 = x[i] - c * v[i];
            x.Set(i, x0);
            s0 += x0 * x0;
            const ext x1 = x[i + 1] - c * v[i + 1];
            x.Set(i + 1, x1);
            s1 += x1 * x1;
        }
        if (i < n) {
            const ext x0 = x[i] - c * v[i];
            x.Set(i, x0);
            s0 += x0 * x0;
        }
        return s0 + s1;
    }

    // x := x - c v, and next'x.
    void SubtractOne(TSplit x, TSplit v, ext c, TSplit next, ext& product) const {
        ext s0 = 0, s1 = 0;
        int32_t i = 0;
        for (; i + 2 <= n; i += 2) {
            const ext x0 = x[i] - c * v[i];
            x.Set(i, x0);
            s0 += next[i] * x0;
            const ext x1 = x[i + 1] - c * v[i + 1];
            x.Set(i + 1, x1);
            s1 += next[i + 1] * x1;
        }
        if (i < n) {
            const ext x0 = x[i] - c * v[i];
            x.Set(i, x0);
            s0 += next[i] * x0;
        }
        product = s0 + s1;
    }

    // SubtractOne for x and y together, each element of v and next loaded once for both.
    void SubtractTwo(TSplit x, TSplit y, TSplit v, ext c, ext d, TSplit next, ext& xProduct,
                     ext& yProduct) const {
        ext sx = 0, sy = 0;
        for (int32_t i = 0; i < n; ++i) {
            const ext following = next[i];
            const ext vi = v[i];
            const ext xi = x[i] - c * vi;
            x.Set(i, xi);
            sx += following * xi;
            const ext yi = y[i] - d * vi;
            y.Set(i, yi);
            sy += following * yi;
        }
        xProduct = sx;
        yProduct = sy;
    }

    // The number of diagonal elements of R above `tolerance` times the largest (Eigen's rule,
    // which the fit's own QR applies).
    int32_t Rank(ext tolerance) const {
        ext largest = 0;
        for (int32_t k = 0; k < m; ++k) largest = std::max(largest, r[k][k]);
        int32_t rank = 0;
        for (int32_t k = 0; k < m; ++k) rank += r[k][k] > tolerance * largest;
        return rank;
    }
};

double DigitsOf(ext relativeError) {
    if (std::isnan(relativeError)) return 0.0;
    return std::clamp(static_cast<double>(-std::log10(relativeError + DBL_EPSILON / 2)), 0.0,
                      kMaxDigits);
}

}  // namespace

const TTAVInference::TDiagnostics& TTAVInference::Diagnostics() const {
    using namespace factor;
    TDiagnostics& g = *diagnostics_;
    if (g.ready) return g;
    g.ready = true;
    g.valid = false;
    g.digits = kNaN;
    const auto& d = *regression_.d_;
    const int32_t n = dataCount_;
    g.m = 0;
    for (int32_t k = 1; k <= varCount_; ++k)
        if (!aliased_[k]) g.column[g.m++] = k;
    const int32_t m = g.m;
    for (int32_t k = 0; k < MaxTerms; ++k) g.vif[k] = g.variance[k] = kNaN;
    for (int32_t i = 0; i < n; ++i)
        g.leverage[i] = g.rstandard[i] = g.rstudent[i] = g.cooks[i] = kNaN;
    // The centred controls have rank at most n - 1.
    if (!Inferable() || n < m + 1 || n == 0) return g;

    // The centred, unit-length controls, their means and lengths in extended precision.
    const double* x = d.x.row(1);
    constexpr auto stride = static_cast<int64_t>(mbynp::Stride);
    const TSplit design{g.designHigh, g.designLow};
    ext lengths[MaxTerms];  // of the scaled columns, squared
    // A sum over a column in four chains: each waits on its own additions only.
    auto sumOf = [n](const double* column, int64_t step, auto&& term) {
        ext s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        int32_t i = 0;
        for (; i + 4 <= n; i += 4) {
            s0 += term(column[i * step]);
            s1 += term(column[(i + 1) * step]);
            s2 += term(column[(i + 2) * step]);
            s3 += term(column[(i + 3) * step]);
        }
        for (; i < n; ++i) s0 += term(column[i * step]);
        return (s0 + s1) + (s2 + s3);
    };
    for (int32_t r = 0; r < m; ++r) {
        const double* column = x + (g.column[r] - 1);
        // The factor has no intercept column to take up what the rounding of the mean leaves
        // in the centred column (1E-7 for values near 1E12, a constant that bends the column's
        // direction by far more than its rounding): the column is centred a second time. That
        // centring and the sum of squares share a pass: about the first mean m they are
        // D = sum (v - m) and S = sum (v - m)^2, and about the mean m + D/n the sum of squares
        // is S - D^2/n, a difference that loses nothing, D/n being a rounding error of m.
        const ext rough = sumOf(column, stride, [](double v) { return ext(v); }) / n;
        ext deviation0 = 0, deviation1 = 0, squares0 = 0, squares1 = 0;
        int32_t i = 0;
        for (; i + 2 <= n; i += 2) {
            const ext c0 = column[i * stride] - rough, c1 = column[(i + 1) * stride] - rough;
            deviation0 += c0;
            squares0 += c0 * c0;
            deviation1 += c1;
            squares1 += c1 * c1;
        }
        if (i < n) {
            const ext c0 = column[i * stride] - rough;
            deviation0 += c0;
            squares0 += c0 * c0;
        }
        const ext deviation = deviation0 + deviation1;
        const ext mean = rough + deviation / n;
        const ext squares = (squares0 + squares1) - deviation * (deviation / n);
        g.mean[r] = mean;
        g.length[r] = std::sqrt(squares);
        if (!(g.length[r] > 0) || !std::isfinite(g.length[r])) return g;
        // Written once: an element of extended precision costs far more to store than to compute.
        const ext scale = 1 / g.length[r];
        for (int32_t i = 0; i < n; ++i) design.Set(r * n + i, (column[i * stride] - mean) * scale);
        lengths[r] = squares * scale * scale;
    }
    // The response centred: the factorisation turns it into Q' times itself, whose first m
    // elements solved give the coefficients of the centred, scaled controls in pivoted order.
    const TSplit q{g.workHigh, g.workLow};
    const ext yMean = sumOf(&d.y.raw(1), 1, [](double v) { return ext(v); }) / n;
    for (int32_t i = 0; i < n; ++i) q.Set(i, d.y.raw(i + 1) - yMean);
    TPivotedQr qr{g.designHigh, g.designLow, n, m};
    qr.Factor(lengths, q);
    if (qr.Rank(kRankTolerance) < m) return g;
    const int32_t* pivots = qr.pivot;
    Square upper = Square::Zero(m, m);
    for (int32_t j = 0; j < m; ++j)
        for (int32_t i = 0; i <= j; ++i) upper(i, j) = qr.r[i][j];
    const auto R = upper.triangularView<Eigen::Upper>();
    Square rInverse = Square::Identity(m, m);
    R.solveInPlace(rInverse);
    ext normR = 0, normInverse = 0;
    for (int32_t j = 0; j < m; ++j) {
        normR = std::max(normR, upper.col(j).head(j + 1).cwiseAbs().sum());
        normInverse = std::max(normInverse, rInverse.col(j).head(j + 1).cwiseAbs().sum());
    }
    const ext factorError = kFactorMargin * LDBL_EPSILON * normR * normInverse;
    // W = P R^-1: row pivots(j) of W is row j of R^-1.
    for (int32_t j = 0; j < m; ++j)
        for (int32_t t = 0; t < m; ++t) g.w[pivots[j]][t] = rInverse(j, t);
    // The variances per unit error variance: the diagonal of (A'A)^-1 = W W' scaled back for the
    // slopes (A'A being the correlation matrix, that diagonal is the inflation factors), and for
    // the intercept the leverage of the origin.
    ext origin = 1.0L / n;
    for (int32_t t = 0; t < m; ++t) {
        ext sum = 0;
        for (int32_t r = 0; r < m; ++r) sum -= g.w[r][t] * (g.mean[r] / g.length[r]);
        origin += sum * sum;
    }
    g.variance[0] = origin;
    for (int32_t r = 0; r < m; ++r) {
        ext sum = 0;
        for (int32_t t = 0; t < m; ++t) sum += g.w[r][t] * g.w[r][t];
        g.vif[g.column[r]] = static_cast<double>(sum);
        g.variance[g.column[r]] = sum / (g.length[r] * g.length[r]);
    }

    Terms z(m);
    for (int32_t j = 0; j < m; ++j) z(j) = qr.r[j][MaxTerms];
    R.solveInPlace(z);

    // Record by record: the leverage is 1/n and the squared length of the record's row of the
    // thin Q, whose element k is col[k][i] / R[k][k]; and the residual the factor gives, to
    // measure the fit's residuals against, is the centred response less a z, a the record's
    // centred, scaled controls in pivoted order, formed from the loaded values again.
    ext weight[MaxTerms], centre[MaxTerms], inverse[MaxTerms];  // weight: z scaled back
    int32_t place[MaxTerms];
    for (int32_t j = 0; j < m; ++j) {
        place[j] = g.column[pivots[j]] - 1;
        weight[j] = z(j) / g.length[pivots[j]];
        centre[j] = g.mean[pivots[j]];
        inverse[j] = 1 / qr.r[j][j];
    }
    // Two records at a time, so that no sum waits on the one before.
    for (int32_t i = 0; i < n; i += 2) {
        const int32_t other = std::min(i + 1, n - 1);
        ext first = 0, second = 0;
        for (int32_t k = 0; k < m; ++k) {
            const TSplit c = qr.col[k];
            const ext a = c[i], b = c[other];
            const ext qa = a * inverse[k], qb = b * inverse[k];
            first += qa * qa;
            second += qb * qb;
        }
        g.leverage[i] = static_cast<double>(1.0L / n + first);
        g.leverage[other] = static_cast<double>(1.0L / n + second);
        const double* rowA = d.x.row(i + 1);
        const double* rowB = d.x.row(other + 1);
        ext fittedA = 0, fittedB = 0;
        for (int32_t j = 0; j < m; ++j) {
            fittedA += (rowA[place[j]] - centre[j]) * weight[j];
            fittedB += (rowB[place[j]] - centre[j]) * weight[j];
        }
        q.Set(i, (d.y.raw(i + 1) - yMean) - fittedA);
        q.Set(other, (d.y.raw(other + 1) - yMean) - fittedB);
    }
    // Where the factor's error could reach a double's rounding, the leverages are formed again as
    // 1/n + |a R^-1|^2, a the record's centred, scaled controls in pivoted order: their error is
    // then relative to the record's own controls, where the error of Q is relative to the
    // columns' lengths.
    if (factorError > DBL_EPSILON / 2) {
        double inverseHigh[MaxTerms][MaxTerms] = {}, inverseLow[MaxTerms][MaxTerms] = {};
        ext scale[MaxTerms];
        for (int32_t j = 0; j < m; ++j) {
            scale[j] = 1 / g.length[pivots[j]];
            for (int32_t t = j; t < m; ++t)
                TSplit{inverseHigh[t], inverseLow[t]}.Set(j, rInverse(j, t));
        }
        for (int32_t i = 0; i < n; ++i) {
            const double* row = d.x.row(i + 1);
            double aHigh[MaxTerms], aLow[MaxTerms];
            const TSplit a{aHigh, aLow};
            for (int32_t j = 0; j < m; ++j) a.Set(j, (row[place[j]] - centre[j]) * scale[j]);
            ext h = 0;
            for (int32_t t = 0; t < m; ++t) {
                const TSplit inverse{inverseHigh[t], inverseLow[t]};
                ext sum = 0;
                for (int32_t j = 0; j <= t; ++j) sum += a[j] * inverse[j];
                h += sum * sum;
            }
            g.leverage[i] = static_cast<double>(1.0L / n + h);
        }
    }
    ext coefficientError = 0, intercept = yMean;
    for (int32_t j = 0; j < m; ++j) {
        const int32_t r = pivots[j];
        const ext slope = z(j) / g.length[r];
        intercept -= g.mean[r] * slope;
        if (slope != 0)
            coefficientError = std::max(
                coefficientError, std::fabs(ext(d.b[g.column[r]]) - slope) / std::fabs(slope));
    }
    if (intercept != 0)
        coefficientError =
            std::max(coefficientError, std::fabs(ext(d.b[0]) - intercept) / std::fabs(intercept));
    g.valid = true;

    const double rdf = ResidualDOF();
    const ext sse = Sums().sse;
    const double sseDouble = static_cast<double>(sse);
    const double variance = static_cast<double>(sse / rdf);
    const double perTerm = 1.0 / (m + 1), perDf = 1.0 / (rdf - 1);
    // The residuals' error in units of the residual standard error, and 1 - h's relative error.
    ext residualError = 0;
    const ext perSigma = 1 / std::sqrt(sse / rdf);
    for (int32_t i = 0; i < n; ++i) {
        const double e = d.e.raw(i + 1), h = g.leverage[i], rest = 1.0 - h;
        if (!(rest > kLeverageOne) || !(rdf > 0) || perfectFit_) continue;
        const double perRest = 1.0 / rest;
        residualError = std::max(residualError,
                                 std::fabs(ext(e) - q[i]) * perSigma + factorError * (h * perRest));
        const double standardized = e / std::sqrt(variance * rest);
        g.rstandard[i] = standardized;
        // The error variance of the fit without record i: a difference, redone in extended
        // precision where record i holds most of the residual sum of squares.
        const double share = e * e * perRest;
        double without = (sseDouble - share) * perDf;
        if (!(sseDouble - share > 1.0E-3 * sseDouble))
            without = static_cast<double>((sse - ext(e) * e / rest) / (rdf - 1));
        g.rstudent[i] = e / std::sqrt(without * rest);
        g.cooks[i] = standardized * standardized * perTerm * (h * perRest);
    }
    const double path = std::isnan(estimatedDigits_) ? 0.0 : estimatedDigits_;
    // Standardized residuals and Cook's distances are products and quotients of several rounded
    // figures: half a digit less than their parts.
    g.digits = std::min({path, DigitsOf(coefficientError), DigitsOf(factorError),
                         std::max(0.0, DigitsOf(residualError) - 0.5)});
    return g;
}

double TTAVInference::GetStatisticsDigits() const {
    if (!Inferable()) return kNaN;
    const TDiagnostics& g = Diagnostics();
    return g.valid ? g.digits : estimatedDigits_;
}

namespace {

double Record(const double* values, uint16_t i, uint16_t count, const char* what) {
    if (i < 1 || i > count) RaiseIndexError(what, i, 1, count);
    return values[i - 1];
}

}  // namespace

double TTAVInference::GetLeverage(uint16_t i) const {
    return Record(Diagnostics().leverage, i, dataCount_, "record");
}
double TTAVInference::GetStandardizedResidual(uint16_t i) const {
    return Record(Diagnostics().rstandard, i, dataCount_, "record");
}
double TTAVInference::GetStudentizedResidual(uint16_t i) const {
    return Record(Diagnostics().rstudent, i, dataCount_, "record");
}
double TTAVInference::GetCooksDistance(uint16_t i) const {
    return Record(Diagnostics().cooks, i, dataCount_, "record");
}
double TTAVInference::GetVIF(uint16_t k) const {
    if (k < 1 || k > varCount_) RaiseIndexError("control variable", k, 1, varCount_);
    return Diagnostics().vif[k];
}

double TTAVInference::GetDurbinWatson() const {
    if (!Inferable() || perfectFit_) return kNaN;
    const auto& d = *regression_.d_;
    ext differences = 0, squares = 0;
    for (int32_t i = 1; i <= dataCount_; ++i) {
        const ext e = d.e.raw(i);
        if (i > 1) differences += (e - ext(d.e.raw(i - 1))) * (e - ext(d.e.raw(i - 1)));
        squares += e * e;
    }
    return dataCount_ > 1 ? static_cast<double>(differences / squares) : kNaN;
}

// ------------------------------------------------------------------- the regression's accessors

double TTAVRegression::GetStdErrorOfb(uint16_t j) const { return inference_->GetStdErrorOfb(j); }
double TTAVRegression::GettValue(uint16_t j) const { return inference_->GettValue(j); }
double TTAVRegression::GetPValue(uint16_t j) const { return inference_->GetPValue(j); }
TInterval TTAVRegression::GetConfidenceInterval(uint16_t j, double level) const {
    return inference_->GetConfidenceInterval(j, level);
}
double TTAVRegression::GetAdjRSquared() const { return inference_->GetAdjRSquared(); }
double TTAVRegression::GetResidualStdError() const { return inference_->GetResidualStdError(); }
double TTAVRegression::GetFPValue() const { return inference_->GetFPValue(); }
TAnovaTable TTAVRegression::GetAnova() const { return inference_->GetAnova(); }
double TTAVRegression::GetLogLikelihood() const { return inference_->GetLogLikelihood(); }
double TTAVRegression::GetAIC() const { return inference_->GetAIC(); }
double TTAVRegression::GetBIC() const { return inference_->GetBIC(); }
TPredictionInterval TTAVRegression::PredictInterval(const npvector& Values, uint16_t Count,
                                                    double level) const {
    return inference_->PredictInterval(Values, Count, level);
}
double TTAVRegression::GetLeverage(uint16_t i) const { return inference_->GetLeverage(i); }
double TTAVRegression::GetStandardizedResidual(uint16_t i) const {
    return inference_->GetStandardizedResidual(i);
}
double TTAVRegression::GetStudentizedResidual(uint16_t i) const {
    return inference_->GetStudentizedResidual(i);
}
double TTAVRegression::GetCooksDistance(uint16_t i) const {
    return inference_->GetCooksDistance(i);
}
double TTAVRegression::GetVIF(uint16_t k) const { return inference_->GetVIF(k); }
double TTAVRegression::GetDurbinWatson() const { return inference_->GetDurbinWatson(); }
double TTAVRegression::GetStatisticsDigits() const { return inference_->GetStatisticsDigits(); }

}  // namespace tav
