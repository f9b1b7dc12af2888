// What a fit's inference returns, as values: intervals, the analysis of variance and predictions
// with their intervals (TTAVRegression's accessors and TTAVInference compute them).
#pragma once

namespace tav {

// The confidence level used when none is given.
inline constexpr double kDefaultConfidenceLevel = 0.95;

// An interval from `lower` to `upper`; both NaN where the statistic does not exist.
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

// Raises EConvertError unless 0 < level < 1.
void CheckConfidenceLevel(double level);

}  // namespace tav
