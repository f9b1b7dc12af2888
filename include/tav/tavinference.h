// What a fit tells beyond its coefficients: tests, intervals, the analysis of variance, the
// likelihood and the diagnostics of the records. TTAVRegression owns one TTAVInference and its
// accessors of the same names forward to it.
//
// Everything is computed on request from the members of the regression's last Execute (its
// coefficients, covariances, residuals and loaded values), whichever path fitted them; nothing
// reads the database again. A statistic that does not exist for the fit (no residual degree of
// freedom, an aliased control variable, a record with leverage 1) is NaN.
#pragma once

#include <array>
#include <cstdint>

#include "tav/fitstats.h"
#include "tav/fixedarray.h"
#include "tav/matrix.h"
#include "tav/maxdata.h"

namespace tav {

namespace fitrules {
struct TFitSums;
}
class TTAVRegression;
enum class TFitPath;

// Made by the regression for itself; reads its members when asked, so it lives no longer than
// its regression. Its cache holds the factorisation and the sums of the last fit until Invalidate.
class TTAVInference {
  public:
    // Reads the members of `regression`, which owns it and outlives it.
    explicit TTAVInference(const TTAVRegression& regression);
    TTAVInference(const TTAVInference&) = delete;
    TTAVInference& operator=(const TTAVInference&) = delete;

    // Forgets what was computed: the regression loads or fits anew.
    void Invalidate();

    // Indices as for TTAVRegression::Getb: 0 is the intercept. The standard error of b[j], its t
    // value, the two-sided p-value of that t with GetDOF degrees of freedom, and its confidence
    // interval at `level`.
    double GetStdErrorOfb(uint16_t j) const;
    double GettValue(uint16_t j) const;
    double GetPValue(uint16_t j) const;
    TInterval GetConfidenceInterval(uint16_t j, double level) const;
    double GetAdjRSquared() const;
    double GetResidualStdError() const;
    double GetFPValue() const;
    TAnovaTable GetAnova() const;
    double GetLogLikelihood() const;
    double GetAIC() const;
    double GetBIC() const;
    TPredictionInterval PredictInterval(const npvector& Values, uint16_t Count, double level) const;
    // Records i = 1..DataCount, control variables k = 1..VarCount.
    double GetLeverage(uint16_t i) const;
    double GetStandardizedResidual(uint16_t i) const;
    double GetStudentizedResidual(uint16_t i) const;
    double GetCooksDistance(uint16_t i) const;
    double GetVIF(uint16_t k) const;
    double GetDurbinWatson() const;
    double GetStatisticsDigits() const;

  private:
    // What the inference and the diagnostics are computed from, once per fit and on request.
    struct TSums {
        long double sse, ssr;  // of the residuals, and of the fitted values about the mean
    };
    struct TDiagnostics {
        bool ready = false;             // computed for the current fit
        bool valid = false;             // the centred controls have full rank
        int32_t m = 0;                  // control variables in the fit (not aliased)
        int32_t column[MaxTerms] = {};  // their numbers, 1..VarCount
        long double mean[MaxTerms] = {}, length[MaxTerms] = {};
        // W = P R^-1 of the column-pivoted QR of the centred, unit-length controls, its rows in
        // the order of `column`: for a point z of those controls, 1/n + |z' W|^2 is its leverage.
        long double w[MaxTerms][MaxTerms] = {};
        long double variance[MaxTerms] = {};  // of b[j] per unit error variance, by term
        double vif[MaxTerms] = {};            // by control variable number
        double digits = 0;                    // GetStatisticsDigits
        double leverage[MaxData], rstandard[MaxData], rstudent[MaxData], cooks[MaxData];
        // Work storage of the factorisation, its extended-precision elements each split in two
        // doubles: the design and one column.
        double designHigh[MaxData * MaxTerms], designLow[MaxData * MaxTerms];
        double workHigh[MaxData], workLow[MaxData];
        // The t quantile of the last confidence level asked for, and its degrees of freedom.
        double quantileLevel = 0, quantileDf = 0, quantile = 0;
        bool sumsReady = false;
        TSums sums{};
    };
    double ResidualDOF() const;
    // Whether the fit's results have a value, and there is a fit.
    bool Inferable() const;
    double Quantile(double level) const;
    TSums Sums() const;
    // What the formulas shared with the whole-table fit read.
    fitrules::TFitSums FitSums() const;
    const TDiagnostics& Diagnostics() const;
    // The regression's own answers.
    bool Valued() const;
    int32_t FittedTerms() const;
    double Getb(uint16_t j) const;
    double Predict(const npvector& Values, uint16_t Count) const;

    const TTAVRegression& regression_;
    // The regression's members the statistics read, under their names there.
    const uint16_t& dataCount_;
    const uint16_t& varCount_;
    const double& yBar_;
    const std::array<bool, MaxTerms + 1>& aliased_;
    const bool& perfectFit_;
    const double& estimatedDigits_;
    const TFitPath& fitPath_;
    // Allocated at construction as zero pages, as the regression's arrays.
    TZeroedBlock<TDiagnostics> diagnostics_;
};

}  // namespace tav
