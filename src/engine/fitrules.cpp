// The inference formulas of fitrules.h.
#include "engine/fitrules.h"

#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <limits>
#include <numbers>

namespace tav::fitrules {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Distributions that answer NaN, not an exception, for arguments outside their domain. They are
// evaluated in extended precision so that a probability below the normal range of double (the
// quakes F test's 2E-317) comes back as the subnormal it is rather than as 0.
using Policy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>,
    boost::math::policies::pole_error<boost::math::policies::ignore_error>,
    boost::math::policies::promote_double<false>>;
using StudentsT = boost::math::students_t_distribution<long double, Policy>;
using FisherF = boost::math::fisher_f_distribution<long double, Policy>;

}  // namespace

double TwoSidedP(double t, double df) {
    if (!(df > 0) || std::isnan(t)) return kNaN;
    return static_cast<double>(
        2 * boost::math::cdf(boost::math::complement(StudentsT(df), std::fabs(ext(t)))));
}

double TQuantile(double level, double df) {
    if (!(df > 0)) return kNaN;
    return static_cast<double>(
        boost::math::quantile(boost::math::complement(StudentsT(df), (1.0L - level) / 2)));
}

double AdjRSquared(const TFitSums& s) {
    const ext rdf = s.ResidualDOF();
    if (!(rdf > 0) || !(s.sse + s.ssr > 0)) return kNaN;
    return static_cast<double>(1.0L - (s.sse / rdf) / ((s.sse + s.ssr) / (s.n - 1)));
}

double ResidualStdError(const TFitSums& s) {
    const ext rdf = s.ResidualDOF();
    return rdf > 0 ? static_cast<double>(std::sqrt(s.sse / rdf)) : kNaN;
}

TAnovaTable Anova(const TFitSums& s, bool valued) {
    TAnovaTable t{};
    if (!valued) {
        t.regression = t.residual = t.total = {kNaN, kNaN, kNaN, kNaN, kNaN};
        return t;
    }
    const ext rdf = s.ResidualDOF();
    const ext p = s.terms - 1;
    const ext msr = p > 0 ? s.ssr / p : ext(kNaN);
    const ext mse = rdf > 0 ? s.sse / rdf : ext(kNaN);
    // A perfect fit's F is a ratio of rounding noise.
    const ext F = s.perfect ? ext(kNaN) : msr / mse;
    double pF = kNaN;
    if (p > 0 && rdf > 0 && !std::isnan(F))
        pF = static_cast<double>(boost::math::cdf(boost::math::complement(FisherF(p, rdf), F)));
    t.regression = {static_cast<double>(p), static_cast<double>(s.ssr), static_cast<double>(msr),
                    static_cast<double>(F), pF};
    t.residual = {static_cast<double>(rdf), static_cast<double>(s.sse), static_cast<double>(mse),
                  kNaN, kNaN};
    t.total = {static_cast<double>(s.n - 1), static_cast<double>(s.sse + s.ssr), kNaN, kNaN, kNaN};
    return t;
}

// With the error variance at its maximum likelihood estimate SSE / n:
//   log L = -n/2 (log(2 pi) + 1 - log n + log SSE).
// A saturated fit (no residual degree of freedom) and a perfect one have no likelihood: their
// residual sum of squares is rounding noise, and its logarithm anything.
double LogLikelihood(const TFitSums& s) {
    if (!(s.n > 0) || !(s.ResidualDOF() > 0) || s.perfect) return kNaN;
    return static_cast<double>(
        -s.n / 2 * (std::log(2 * std::numbers::pi_v<ext>) + 1 - std::log(s.n) + std::log(s.sse)));
}

// The coefficients of the fit (aliased variables take no part) and the error variance.
double AIC(const TFitSums& s) {
    return static_cast<double>(-2 * ext(LogLikelihood(s)) + 2 * ext(s.terms + 1));
}

double BIC(const TFitSums& s) {
    return static_cast<double>(-2 * ext(LogLikelihood(s)) + std::log(s.n) * ext(s.terms + 1));
}

}  // namespace tav::fitrules
