// What a fit tells beyond its coefficients: tests, intervals, the analysis of variance, the
// likelihood and the diagnostics of the records, as TTAVRegression's accessors return them.
//
// Everything is computed on request from the members of the last Execute (its coefficients,
// covariances, residuals and loaded values), whichever path fitted them; nothing reads the
// database again. A statistic that does not exist for the fit (no residual degree of freedom, an
// aliased control variable, a record with leverage 1) is NaN.
#pragma once

#include <string>

#include "host/base/sqltext.h"

namespace tav {

// The confidence level used when none is given.
inline constexpr double kDefaultConfidenceLevel = 0.95;

struct TInterval {
    double lower;
    double upper;
};

// One line of the analysis of variance. F and p exist for the regression line only (NaN
// elsewhere); MS does not exist for the total (NaN).
struct TAnovaRow {
    double df;
    double SS;
    double MS;
    double F;
    double p;
};

// Regression (df = number of control variables in the fit), residual (n - terms) and total
// (n - 1) sums of squares about the mean.
struct TAnovaTable {
    TAnovaRow regression;
    TAnovaRow residual;
    TAnovaRow total;
};

// The predicted response at new values of the control variables, with the standard error of the
// fitted mean, the confidence interval of that mean and the prediction interval of a new response.
struct TPredictionInterval {
    double fit;
    double seFit;
    double level;
    TInterval confidence;
    TInterval prediction;
};

// The SQL written by ScoringSQL: TSqlDialect (host/sqltext.h), the databases' lexical rules.

// Raises EConvertError unless 0 < level < 1.
void CheckConfidenceLevel(double level);

}  // namespace tav
