// What tavreg writes of a fit: the report page as text, every statistic as JSON, and the account
// of the load on one line.
#pragma once

#include <QJsonObject>
#include <QString>
#include <string>

#include "engine/tavcore.h"

namespace tav {
class TRegressionOutputForm;
}

namespace tavreg {

// The output window's page as plain text.
QString ReportText(tav::TRegressionOutputForm& form, const tav::TRegressionReport& report);

// Every statistic the accessors give, with the fit method, its path, the estimated digits and the
// account of the load; a number that is not finite is null.
QJsonObject Statistics(const std::string& name, tav::TTAVRegression& r);

}  // namespace tavreg
