// tavreg's summary of a fit, beside the classic report: the terms by name, estimates with their
// tests and intervals in significant digits, and what the load and the fit did; and predictions
// of new responses with their intervals.
#pragma once

#include <QJsonObject>
#include <optional>
#include <string>
#include <vector>

#include "tav/csvtable.h"
#include "tav/tavcore.h"

namespace tavreg {

// The summary of the last Execute of `r`, `name` being its component, with confidence intervals
// at `level`.
std::string SummaryText(const std::string& name, tav::TTAVRegression& r, double level);
// The same of the component's fit over every record (ExecuteAllRecords): no residual quantiles
// and no statistic of single records, which that fit does not compute.
std::string WholeTableSummaryText(const std::string& name, const tav::TTAVRegression& r,
                                  double level);

// A confidence level given as text: 0.95, 95% or 95 (percent when above 1). Raises UsageError.
double ParseLevel(const std::string& text);

// The values of the fields of a prediction, "FIELD=VALUE,FIELD=VALUE", in their order; raises
// UsageError for a text of another form.
struct TFieldValue {
    std::string field;
    double value;
};
std::vector<TFieldValue> ParseFieldValues(const std::string& text);

// The prediction of `r` at those field values, transformed as its control variables say: the
// interval, the fields the variables read (each once, in their order) and the values given for
// them. Raises tav::Exception naming a field the variables read that has no value, a value a
// variable cannot take (the logarithm of 0, ...), and, with `everyValueRead`, a value given for no
// field they read. A run of several regressions passes false and then CheckPredictionFields.
struct TPrediction {
    tav::TPredictionInterval interval;
    std::vector<std::string> fields;
    std::vector<TFieldValue> at;
};
TPrediction Prediction(const tav::TTAVRegression& r, const std::vector<TFieldValue>& values,
                       double level, bool everyValueRead = true);
// The same without the check of unread values, and with why there is none (a field without a
// value, a value a variable cannot take) in place of the exception.
std::optional<TPrediction> TryPrediction(const tav::TTAVRegression& r,
                                         const std::vector<TFieldValue>& values, double level,
                                         std::string& reason);
// Raises tav::Exception naming a value whose field no list of `read` holds.
void CheckPredictionFields(const std::vector<std::vector<std::string>>& read,
                           const std::vector<TFieldValue>& values);
std::string PredictionText(const std::string& name, const tav::TTAVRegression& r,
                           const TPrediction& p);
QJsonObject PredictionJson(const TPrediction& p);

// A prediction for each row of `rows` (a CSV file's table) as CSV, as R's predict(fit, newdata,
// interval = ...) gives it: the row's cells as the file has them, then fit, se.fit, conf.lwr,
// conf.upr, pred.lwr, pred.upr at `level` and a reason; a row that has no prediction keeps its
// place with empty cells and its reason. The header line first when `header`; with `component`,
// a first column naming the regression.
std::string PredictionTable(const tav::TTAVRegression& r, const tav::TCsvTable& rows, double level,
                            bool header, const std::string& component);

}  // namespace tavreg
