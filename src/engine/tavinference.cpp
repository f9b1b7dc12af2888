// Tests, intervals, likelihood and record diagnostics of the last fit (the fitted equation as SQL
// is in tavscoring.cpp).
//
// The record diagnostics need the leverage h_i = x_i' (X'X)^-1 x_i of every record. Formed from
// the raw design, that quadratic form cancels away its digits as soon as a control has an offset
// (years, timestamps). It is formed instead from the centred controls, h_i = 1/n + c_i' S^-1 c_i
// with S their cross products, after scaling S to a unit diagonal (the correlation matrix R):
// with R = L L', c_i' S^-1 c_i = |L^-1 D^-1 c_i|^2, D the column lengths. The means, the sums of
// S across blocks of records and the factorisation run in extended precision; what is done for
// each record runs in double, where the conditioning bounds its error far below the digits asked
// of it. It is computed once per fit, on request, from the loaded values; the database is not
// read again.
#include <algorithm>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cfloat>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

#include "engine/tavcore.h"
#include "host/db.h"
#include "host/sysutils.h"

namespace tav {

namespace {

using ext = long double;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Distributions that answer NaN, not an exception, for arguments outside their domain, computed
// in double (their error stays within a few units of the last place).
using Policy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>,
    boost::math::policies::pole_error<boost::math::policies::ignore_error>,
    boost::math::policies::promote_double<false>>;
using StudentsT = boost::math::students_t_distribution<double, Policy>;
using FisherF = boost::math::fisher_f_distribution<double, Policy>;

// P(|T| > |t|) for Student's t with `df` degrees of freedom.
double TwoSidedP(double t, double df) {
    if (!(df > 0) || std::isnan(t)) return kNaN;
    return 2.0 * boost::math::cdf(boost::math::complement(StudentsT(df), std::fabs(t)));
}

// The quantile of Student's t that leaves (1 - level) / 2 above it.
double TQuantile(double level, double df) {
    if (!(df > 0)) return kNaN;
    return boost::math::quantile(boost::math::complement(StudentsT(df), (1.0 - level) / 2.0));
}

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

double TTAVRegression::GetStdErrorOfb(uint16_t j) const {
    if (j > varCount_) RaiseIndexError("coefficient", j, 0, varCount_);
    return std::sqrt(GetCovar(j, j));
}

double TTAVRegression::GettValue(uint16_t j) const {
    return static_cast<double>(ext(Getb(j)) / ext(GetStdErrorOfb(j)));
}

double TTAVRegression::GetPValue(uint16_t j) const {
    return TwoSidedP(GettValue(j), ResidualDOF());
}

TInterval TTAVRegression::GetConfidenceInterval(uint16_t j, double level) const {
    CheckConfidenceLevel(level);
    const ext half = ext(Quantile(level)) * ext(GetStdErrorOfb(j));
    const ext b = Getb(j);
    return {static_cast<double>(b - half), static_cast<double>(b + half)};
}

// The quantile of the last level asked for is kept: intervals are asked for a coefficient at a
// time, and the quantile costs more than everything else of an interval.
double TTAVRegression::Quantile(double level) const {
    TDiagnostics& g = *diagnostics_;
    const double df = ResidualDOF();
    if (!(g.quantileLevel == level && g.quantileDf == df)) {
        g.quantile = TQuantile(level, df);
        g.quantileLevel = level;
        g.quantileDf = df;
    }
    return g.quantile;
}

double TTAVRegression::ResidualDOF() const {
    return static_cast<double>(int32_t{dataCount_} - (varCount_ + 1));
}

TTAVRegression::TSums TTAVRegression::Sums() const {
    TDiagnostics& g = *diagnostics_;
    if (g.sumsReady) return g.sums;
    const Arrays& d = *d_;
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

double TTAVRegression::GetAdjRSquared() const {
    const TSums s = Sums();
    const ext rdf = ResidualDOF();
    if (!(rdf > 0) || !(s.sse + s.ssr > 0)) return kNaN;
    return static_cast<double>(1.0L - (s.sse / rdf) / ((s.sse + s.ssr) / (dataCount_ - 1)));
}

double TTAVRegression::GetResidualStdError() const {
    const ext rdf = ResidualDOF();
    return rdf > 0 ? static_cast<double>(std::sqrt(Sums().sse / rdf)) : kNaN;
}

double TTAVRegression::GetFPValue() const { return GetAnova().regression.p; }

TAnovaTable TTAVRegression::GetAnova() const {
    const TSums s = Sums();
    const ext rdf = ResidualDOF();
    const ext p = varCount_;
    TAnovaTable t{};
    const ext msr = p > 0 ? s.ssr / p : ext(kNaN);
    const ext mse = rdf > 0 ? s.sse / rdf : ext(kNaN);
    const double F = static_cast<double>(msr / mse);
    double pF = kNaN;
    if (p > 0 && rdf > 0 && !std::isnan(F))
        pF = boost::math::cdf(
            boost::math::complement(FisherF(static_cast<double>(p), static_cast<double>(rdf)), F));
    t.regression = {static_cast<double>(p), static_cast<double>(s.ssr), static_cast<double>(msr), F,
                    pF};
    t.residual = {static_cast<double>(rdf), static_cast<double>(s.sse), static_cast<double>(mse),
                  kNaN, kNaN};
    t.total = {static_cast<double>(dataCount_ - 1), static_cast<double>(s.sse + s.ssr), kNaN, kNaN,
               kNaN};
    return t;
}

// With the error variance at its maximum likelihood estimate SSE / n:
//   log L = -n/2 (log(2 pi) + 1 - log n + log SSE).
double TTAVRegression::GetLogLikelihood() const {
    if (dataCount_ == 0) return kNaN;
    const ext n = dataCount_;
    return static_cast<double>(
        -n / 2 * (std::log(2 * std::numbers::pi_v<ext>) + 1 - std::log(n) + std::log(Sums().sse)));
}

// The coefficients of the fit (aliased variables take no part) and the error variance.
double TTAVRegression::GetAIC() const {
    return static_cast<double>(-2 * ext(GetLogLikelihood()) + 2 * ext(FittedTerms() + 1));
}

double TTAVRegression::GetBIC() const {
    return static_cast<double>(-2 * ext(GetLogLikelihood()) +
                               std::log(ext(dataCount_)) * ext(FittedTerms() + 1));
}

int32_t TTAVRegression::FittedTerms() const {
    int32_t terms = 1;
    for (int32_t k = 1; k <= varCount_; ++k) terms += aliased_[k] ? 0 : 1;
    return terms;
}

TPredictionInterval TTAVRegression::PredictInterval(const npvector& Values, uint16_t Count,
                                                    double level) const {
    CheckConfidenceLevel(level);
    if (Count != varCount_)
        throw EConvertError("a prediction needs " + IntToStr(varCount_) + " control values, not " +
                            IntToStr(Count));
    const TDiagnostics& g = Diagnostics();
    TPredictionInterval result{};
    result.fit = Predict(Values, Count);
    result.level = level;
    ext h = g.valid ? 1.0L / dataCount_ : ext(kNaN);
    for (int32_t r = 0; r < g.m; ++r) {
        ext sum = 0;
        for (int32_t s = 0; s <= r; ++s) {
            const int32_t k = g.column[s];
            sum += g.inverseFactor[r][s] * ((ext(Values.raw(k)) - g.mean[s]) / g.length[s]);
        }
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

const TTAVRegression::TDiagnostics& TTAVRegression::Diagnostics() const {
    TDiagnostics& g = *diagnostics_;
    if (g.ready) return g;
    g.ready = true;
    g.valid = false;
    const Arrays& d = *d_;
    const int32_t n = dataCount_;
    g.m = 0;
    for (int32_t k = 1; k <= varCount_; ++k)
        if (!aliased_[k]) g.column[g.m++] = k;
    const int32_t m = g.m;
    // The means in extended precision, a column at a time with four partial sums in registers.
    const double* x = d.x.row(1);
    constexpr auto stride = static_cast<int64_t>(mbynp::Stride);
    double high[MaxTerms] = {}, low[MaxTerms] = {};
    for (int32_t r = 0; r < m; ++r) {
        const double* column = x + (g.column[r] - 1);
        ext s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        int32_t i = 0;
        for (; i + 4 <= n; i += 4) {
            s0 += column[i * stride];
            s1 += column[(i + 1) * stride];
            s2 += column[(i + 2) * stride];
            s3 += column[(i + 3) * stride];
        }
        for (; i < n; ++i) s0 += column[i * stride];
        g.mean[r] = ((s0 + s1) + (s2 + s3)) / n;
        high[r] = static_cast<double>(g.mean[r]);
        low[r] = static_cast<double>(g.mean[r] - high[r]);
    }
    // The centred values of a block of up to 32 records, column by column: x - mean with the
    // mean as a sum of two doubles, so that offsets go exactly (x - high is exact for x near the
    // mean) and each value is within an ulp of the exact difference.
    constexpr int32_t kBlock = 32;
    double c[MaxTerms][kBlock];
    auto centre = [&](int32_t from, int32_t count) {
        for (int32_t r = 0; r < m; ++r) {
            const double* column = x + (from * stride + g.column[r] - 1);
            for (int32_t i = 0; i < count; ++i) c[r][i] = (column[i * stride] - high[r]) - low[r];
        }
    };
    // Their cross products: summed in double over each block, the blocks' sums added in extended
    // precision, so that the error stays within a few units of the last place of the block sums
    // of |c_r c_s|.
    ext S[MaxTerms][MaxTerms] = {};
    for (int32_t from = 0; from < n; from += kBlock) {
        const int32_t count = std::min(n - from, kBlock);
        centre(from, count);
        for (int32_t r = 0; r < m; ++r)
            for (int32_t s = 0; s <= r; ++s) {
                double sum = 0.0;
                for (int32_t i = 0; i < count; ++i) sum += c[r][i] * c[s][i];
                S[r][s] += sum;
            }
    }
    // Cholesky factor of the correlation matrix, then its inverse (both lower triangular).
    ext L[MaxTerms][MaxTerms] = {};
    bool positive = n > 0 && n > m + 1;
    for (int32_t r = 0; r < m && positive; ++r) {
        g.length[r] = std::sqrt(S[r][r]);
        positive = g.length[r] > 0 && std::isfinite(g.length[r]);
    }
    for (int32_t r = 0; r < m && positive; ++r)
        for (int32_t s = 0; s <= r; ++s) {
            ext sum = S[r][s] / (g.length[r] * g.length[s]);
            for (int32_t t = 0; t < s; ++t) sum -= L[r][t] * L[s][t];
            if (r == s) {
                positive = sum > 0;
                L[r][r] = std::sqrt(sum);
            } else {
                L[r][s] = sum / L[s][s];
            }
        }
    for (int32_t r = 0; r < m && positive; ++r) {
        for (int32_t s = 0; s < r; ++s) {
            ext sum = 0;
            for (int32_t t = s; t < r; ++t) sum -= L[r][t] * g.inverseFactor[t][s];
            g.inverseFactor[r][s] = sum / L[r][r];
        }
        g.inverseFactor[r][r] = 1 / L[r][r];
    }
    for (int32_t k = 0; k < MaxTerms; ++k) g.vif[k] = kNaN;
    if (!positive) {
        for (int32_t i = 0; i < n; ++i)
            g.leverage[i] = g.rstandard[i] = g.rstudent[i] = g.cooks[i] = kNaN;
        return g;
    }
    g.valid = true;
    // The diagonal of R^-1 = L^-T L^-1 is the variance inflation of each control.
    for (int32_t s = 0; s < m; ++s) {
        ext sum = 0;
        for (int32_t r = s; r < m; ++r) sum += g.inverseFactor[r][s] * g.inverseFactor[r][s];
        g.vif[g.column[s]] = static_cast<double>(sum);
    }

    // h_i = 1/n + |L^-1 D^-1 c_i|^2, a block of records at a time. The transformed values are
    // sums of a few terms whose size the conditioning bounds, so double precision keeps the
    // leverage far beyond the digits asked of it.
    double w[MaxTerms][MaxTerms] = {};  // L^-1 D^-1
    for (int32_t r = 0; r < m; ++r)
        for (int32_t s = 0; s <= r; ++s)
            w[r][s] = static_cast<double>(g.inverseFactor[r][s] / g.length[s]);
    double* h = g.leverage;
    for (int32_t from = 0; from < n; from += kBlock) {
        const int32_t count = std::min(n - from, kBlock);
        centre(from, count);
        double sum[kBlock] = {};
        for (int32_t r = 0; r < m; ++r) {
            double u[kBlock] = {};
            for (int32_t s = 0; s <= r; ++s)
                for (int32_t i = 0; i < count; ++i) u[i] += w[r][s] * c[s][i];
            for (int32_t i = 0; i < count; ++i) sum[i] += u[i] * u[i];
        }
        for (int32_t i = 0; i < count; ++i) h[from + i] = sum[i];
    }
    const double perRecord = static_cast<double>(1.0L / n);
    for (int32_t i = 0; i < n; ++i) h[i] += perRecord;

    const double rdf = ResidualDOF();
    const ext sse = Sums().sse;
    const double sseDouble = static_cast<double>(sse);
    const double variance = static_cast<double>(sse / rdf);
    const double perTerm = 1.0 / (m + 1), perDf = 1.0 / (rdf - 1);
    for (int32_t i = 0; i < n; ++i) {
        const double e = d.e.raw(i + 1), rest = 1.0 - h[i];
        if (!(rest > kLeverageOne) || !(rdf > 0)) {
            g.rstandard[i] = g.rstudent[i] = g.cooks[i] = kNaN;
            continue;
        }
        const double perRest = 1.0 / rest;
        const double standardized = e / std::sqrt(variance * rest);
        g.rstandard[i] = standardized;
        // The error variance of the fit without record i: a difference, redone in extended
        // precision where record i holds most of the residual sum of squares.
        const double share = e * e * perRest;
        double without = (sseDouble - share) * perDf;
        if (!(sseDouble - share > 1.0E-3 * sseDouble))
            without = static_cast<double>((sse - ext(e) * e / rest) / (rdf - 1));
        g.rstudent[i] = e / std::sqrt(without * rest);
        g.cooks[i] = standardized * standardized * perTerm * (h[i] * perRest);
    }
    return g;
}

namespace {

double Record(const double* values, uint16_t i, uint16_t count, const char* what) {
    if (i < 1 || i > count) RaiseIndexError(what, i, 1, count);
    return values[i - 1];
}

}  // namespace

double TTAVRegression::GetLeverage(uint16_t i) const {
    return Record(Diagnostics().leverage, i, dataCount_, "record");
}
double TTAVRegression::GetStandardizedResidual(uint16_t i) const {
    return Record(Diagnostics().rstandard, i, dataCount_, "record");
}
double TTAVRegression::GetStudentizedResidual(uint16_t i) const {
    return Record(Diagnostics().rstudent, i, dataCount_, "record");
}
double TTAVRegression::GetCooksDistance(uint16_t i) const {
    return Record(Diagnostics().cooks, i, dataCount_, "record");
}
double TTAVRegression::GetVIF(uint16_t k) const {
    if (k < 1 || k > varCount_) RaiseIndexError("control variable", k, 1, varCount_);
    return Diagnostics().vif[k];
}

double TTAVRegression::GetDurbinWatson() const {
    const Arrays& d = *d_;
    ext differences = 0, squares = 0;
    for (int32_t i = 1; i <= dataCount_; ++i) {
        const ext e = d.e.raw(i);
        if (i > 1) differences += (e - ext(d.e.raw(i - 1))) * (e - ext(d.e.raw(i - 1)));
        squares += e * e;
    }
    return dataCount_ > 1 ? static_cast<double>(differences / squares) : kNaN;
}

}  // namespace tav
