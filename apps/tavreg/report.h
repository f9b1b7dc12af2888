// What tavreg writes of a fit as JSON: every statistic.
#pragma once

#include <QJsonObject>
#include <QString>
#include <string>

#include "engine/tavcore.h"

namespace tavreg {

// Every statistic the accessors give, with the fit method, its path, the estimated digits and the
// account of the load; a number that is not finite is null.
QJsonObject Statistics(const std::string& name, tav::TTAVRegression& r);

}  // namespace tavreg
