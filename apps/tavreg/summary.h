// tavreg's summary of a fit, beside the classic report: the terms by name, estimates with their
// tests and intervals in significant digits, and what the load and the fit did; and predictions
// of new responses with their intervals.
#pragma once

#include <QJsonObject>
#include <string>
#include <vector>

#include "engine/tavcore.h"

namespace tavreg {

// The summary of the last Execute of `r`, `name` being its component, with confidence intervals
// at `level`.
std::string SummaryText(const std::string& name, tav::TTAVRegression& r, double level);

// A confidence level given as text: 0.95, 95% or 95 (percent when above 1). Raises UsageError.
double ParseLevel(const std::string& text);

// The values of the fields of a prediction, "FIELD=VALUE,FIELD=VALUE", in their order; raises
// UsageError for a text of another form.
struct TFieldValue {
    std::string field;
    double value;
};
std::vector<TFieldValue> ParseFieldValues(const std::string& text);

// The prediction of `r` at those field values, transformed as its control variables say. Raises
// tav::Exception naming a field the variables read that has no value, a value given for no field
// they read, or a value a variable cannot take (the logarithm of 0, ...).
// With `everyValueRead` false (a run of several regressions) a value for a field this regression
// does not read is passed over; CheckPredictionFields then makes sure some regression reads it.
tav::TPredictionInterval Prediction(const tav::TTAVRegression& r,
                                    const std::vector<TFieldValue>& values, double level,
                                    bool everyValueRead = true);
// The fields the control variables of `r` read, each once, in the order of the variables.
std::vector<std::string> PredictionFields(const tav::TTAVRegression& r);
// Raises tav::Exception naming a value whose field no list of `read` holds.
void CheckPredictionFields(const std::vector<std::vector<std::string>>& read,
                           const std::vector<TFieldValue>& values);
std::string PredictionText(const std::string& name, const tav::TTAVRegression& r,
                           const std::vector<TFieldValue>& values,
                           const tav::TPredictionInterval& p);
QJsonObject PredictionJson(const std::vector<TFieldValue>& values,
                           const tav::TPredictionInterval& p);

}  // namespace tavreg
