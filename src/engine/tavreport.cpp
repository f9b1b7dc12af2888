// The regression report: thirteen texts and two matrix line lists, laid out character for
// character as the output window expects them.
#include <cmath>

#include "engine/tavcore.h"
#include "forms/tavoutpt.h"
#include "host/sysutils.h"

namespace tav {

namespace {

constexpr const char* LB = "\n\r";
constexpr const char* Five = "     ";

std::string Fix3(double v) { return FloatToStrF(v, TFloatFormat::ffFixed, 8, 3); }
std::string Fix4(double v) { return FloatToStrF(v, TFloatFormat::ffFixed, 8, 4); }
std::string Sci(double v) { return FormatFloat("0.00E+0", v); }
std::string SciPad(double v) { return FormatFloat(" 0.00E+0;-0.00E+0", v); }
std::string Int(int64_t k) { return IntToStr(k); }

// b / sqrt(variance), in extended precision.
double TValue(double b, double variance) {
    return static_cast<double>(static_cast<long double>(b) /
                               std::sqrt(static_cast<long double>(variance)));
}

}  // namespace

TRegressionReport TTAVRegression::BuildReport() {
    const Arrays& d = *d_;
    const int p = varCount_;
    const int n = dataCount_;
    const int q = p + 1;
    const std::string pText = Int(p);
    const std::string residualDof = Int(int64_t{n} - q);

    TRegressionReport r;
    r.DependentVariable = std::string(LB) + "    Y = " + response_->OutputTerm();
    r.Observations = Int(n);
    r.ResidualMeanSquare = Fix3(MSE_);
    r.SSE = Fix3(GetSSE());
    r.SSR = Fix3(GetSSR());
    r.FStatistic = "(" + pText + "," + residualDof + "): " + Fix3(GetF());

    r.IndependentVariables = LB;
    r.Means = LB;
    r.StdDevs = LB;
    r.StdErrors = LB;
    r.Coefficients = std::string(LB) + Five + "B0: " + Fix4(d.b[0]) + LB;
    r.Means += std::string(Five) + "Y: " + Fix4(yBar_) + LB;
    r.StdDevs += std::string(Five) + Fix4(yStdErr_) + LB;
    r.DegreesOfFreedom = std::string(LB) + Five + "Regression " + pText + LB + Five + "Residual " +
                         residualDof + LB + Five + "Total " + Int(int64_t{n} - 1);

    r.CovarianceLines.Add("Covariance Matrix:");
    r.CovarianceLines.Add(" ");
    for (int i = 1; i <= q; ++i) {
        std::string line;
        for (int j = 1; j <= q; ++j) {
            const double c = d.Covar(i, j);
            if (variant_.covarianceEntriesPadded)
                line += SciPad(c) + "   ";
            else if (c > 0.0)
                line += " " + Sci(c) + "    ";
            else
                line += Sci(c) + "    ";
            if (j == i)
                r.StdErrors +=
                    "   " + Fix4(static_cast<double>(std::sqrt(static_cast<long double>(c)))) + LB;
        }
        r.CovarianceLines.Add(line);
    }

    r.TValues = std::string(LB) + "  " + Fix4(TValue(d.b[0], d.Covar(1, 1))) + LB;
    const std::string tPrefix = variant_.tValuePrefix;
    int k = 0;
    for (int i = 1; i <= p; ++i) {
        const TIndepVar& var = *cVar_[i];
        if (var.Transformation() == "Inactive") continue;
        ++k;
        r.IndependentVariables += std::string(Five) + "X" + Int(k) + " = " + var.OutputTerm() + LB;
        r.Coefficients += std::string(Five) + "B" + Int(k) + ": " + Fix4(d.b[i]) + LB;
        r.Means += std::string(Five) + "X" + Int(k) + ": " + Fix4(d.xBar[i]) + LB;
        r.StdDevs += std::string(Five) + Fix4(d.xStdErr[i]) + LB;
        r.TValues += tPrefix + Fix4(TValue(d.b[i], d.Covar(i + 1, i + 1))) + LB;
    }

    r.CorrelationLines.Add("Correlation Matrix:");
    r.CorrelationLines.Add(" ");
    for (int i = 1; i <= q; ++i) {
        std::string line;
        for (int j = 1; j <= q; ++j) {
            const double c = d.Corr(i, j);
            if (static_cast<long double>(c) > 1.0E-20L)
                line += " " + Sci(c) + "    ";
            else
                line += Sci(c) + "    ";
        }
        r.CorrelationLines.Add(line);
    }
    return r;
}

void TTAVRegression::Output() {
    if (variant_.outputClearsValuesLoaded) valuesLoaded_ = false;
    const TRegressionReport r = BuildReport();
    TRegressionOutputForm form;
    form.SetReportMessage(reportMessage_);
    form.Open(*this, description_, r.DependentVariable, r.IndependentVariables, r.Observations,
              r.DegreesOfFreedom, r.Coefficients, r.ResidualMeanSquare, r.SSE, r.SSR, r.Means,
              r.StdDevs, r.StdErrors, r.TValues, r.FStatistic, r.CovarianceLines,
              r.CorrelationLines);
}

}  // namespace tav
