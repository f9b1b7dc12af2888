// What tavreg writes of a fit as JSON: every statistic.
#pragma once

#include <QJsonObject>
#include <QString>
#include <string>

#include "tav/tavcore.h"

namespace tavreg {

// A number as JSON: null when it is not finite.
QJsonValue JsonNumber(double v);

// Every statistic the accessors give, with the fit method, its path, the estimated digits and the
// account of the load, the inference at the confidence level `level` and the diagnostics of the
// records; a number that is not finite is null.
QJsonObject Statistics(const std::string& name, tav::TTAVRegression& r, double level);
// The statistics of the fit over every record (ExecuteAllRecords) under the same keys, with
// "allRecords": true; the statistics of single records are not there ("perRecord" says so).
QJsonObject WholeTableStatistics(const std::string& name, const tav::TTAVRegression& r,
                                 double level);

}  // namespace tavreg
