// The formulas of a fit's inference that depend only on its size and its sums of squares, shared
// by the component's fit over its loaded records and the fit over a whole table.
#pragma once

#include <cstdint>

#include "tav/fitstats.h"

namespace tav::fitrules {

using ext = long double;

// P(|T| > |t|) for Student's t with `df` degrees of freedom; NaN outside its domain.
double TwoSidedP(double t, double df);
// The quantile of Student's t that leaves (1 - level) / 2 above it.
double TQuantile(double level, double df);

// What the statistics below read of a fit: its records, the terms that took part (the intercept
// and the control variables not aliased), the residual and regression sums of squares, and
// whether the fit is perfect (its t, F and likelihood do not exist then).
struct TFitSums {
    ext n;
    int32_t terms;
    ext sse, ssr;
    bool perfect;

    ext ResidualDOF() const { return n - terms; }
};

double AdjRSquared(const TFitSums& s);
double ResidualStdError(const TFitSums& s);
// The analysis of variance; every entry NaN when `valued` is false.
TAnovaTable Anova(const TFitSums& s, bool valued);
// The Gaussian log-likelihood at the error variance's maximum likelihood estimate; NaN for a
// saturated or perfect fit. AIC and BIC count that variance as a parameter.
double LogLikelihood(const TFitSums& s);
double AIC(const TFitSums& s);
double BIC(const TFitSums& s);

}  // namespace tav::fitrules
