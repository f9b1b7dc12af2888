// The texts of a regression report, as Output hands them to the output window: thirteen texts
// (line breaks are LF CR) and the two matrix line lists.
#pragma once

#include <string>

#include "tav/classes.h"

namespace tav {

// The texts by their number in the report (the output window shows them in that order).
struct TRegressionReport {
    std::string DependentVariable;     // 1
    std::string IndependentVariables;  // 2
    std::string Observations;          // 3
    std::string DegreesOfFreedom;      // 4
    std::string Coefficients;          // 5
    std::string ResidualMeanSquare;    // 6
    std::string SSE;                   // 7
    std::string SSR;                   // 8
    std::string Means;                 // 9
    std::string StdDevs;               // 10
    std::string StdErrors;             // 11
    std::string TValues;               // 12
    std::string FStatistic;            // 13
    TStringList CovarianceLines;
    TStringList CorrelationLines;
};

}  // namespace tav
