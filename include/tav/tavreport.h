// A regression report as the output window lays it out: the page made from the report's texts
// (tav/reporttexts.h), and the page as plain text.
#pragma once

#include <string>

#include "tav/classes.h"
#include "tav/reporttexts.h"

namespace tav {

// The report window's page as the window shows it, made from a report: the header sections, the
// label texts (SST and R squared derived from the SSE and SSR texts, as the window derives them),
// the covariance matrix it opens with, and the status strip. Line breaks are LF CR.
struct TReportPage {
    std::string dataSetName;  // a table's name, a query's first SQL line
    std::string description;
    std::string date;
    std::string depVarName, indepVarNames, dataCount, dof, mean, stdDev, coeffs, stdErrCoeff,
        tValue, sumSquare, ssr, sse, sst, sSquared, rSquared, fStat;
    TStringList covariance, correlation;
    std::string footer;  // the report message, or the product notice
};

// The notice of the status strip when a component has no report message of its own.
extern const char* const kProductNotice;

class TTAVRegression;
// The name the report shows for the regression's dataset: a table's name, a query's first line.
std::string ReportDataSetName(TTAVRegression& regression);

TReportPage MakeReportPage(const TRegressionReport& report, const std::string& dataSetName,
                           const std::string& description, const std::string& date,
                           const std::string& reportMessage);

// The page as plain text, laid out as the window lays it out (ordinary line breaks).
std::string ReportPageText(const TReportPage& page);

}  // namespace tav
