// Shared helpers of the accuracy tests: tables of exact doubles, reference files, and the score
// of a result in correct significant digits.
#pragma once

#include <cmath>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "support/tav_test_support.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

namespace tavtest {

// Records of a table: one value per column, the response "Y" last.
struct TData {
    std::vector<std::string> columns;
    std::vector<std::vector<double>> rows;
};

// Writes the records into table "t" of the database `name` in `db` and returns its path. The
// values are bound as doubles, so the table holds exactly these numbers, not a decimal rendering;
// a NaN is written as NULL.
std::string WriteTable(TTempDb& db, const TData& data, const std::string& name = "t.db");

// The lines of a text file, without blank lines and line-end characters.
std::vector<std::string> ReadLines(const std::string& path);
std::vector<std::string> Split(const std::string& line, char separator);
// A decimal number, the whole text (strtod's reading: the double nearest to it).
double Number(const std::string& text);
// A CSV file whose first line names the columns; "NA" reads as a NaN (a missing value).
TData ReadCsv(const std::string& path);

// Correct significant digits of an estimate, capped at 15: -log10 of its error relative to
// `scale`. NaN and infinities score 0.
double Digits(double estimate, double reference, double scale);
// The same relative to the reference, or absolute where the reference is zero.
double Lre(double estimate, double reference);

// A control variable on `field`: the field itself for exponent 1, else its power.
tav::TIndepVar PowerOf(const std::string& field, int exponent);

// Points the component at table t, defines the controls and the response Y, and loads.
template <typename Component>
void LoadTable(Component& c, const std::string& path, const std::vector<tav::TIndepVar>& controls,
               const std::string& response = "Y") {
    Point(c, path);
    for (size_t k = 0; k < controls.size(); ++k) c.SetControl(static_cast<int>(k + 1), controls[k]);
    c.SetResponse(Response(response));
    c.Open();
    c.ReLoad();
}

// One "None" control per predictor column of the data (every column but the last).
std::vector<tav::TIndepVar> PlainControls(const TData& data);

// The statistics of the whole-table fit's tests: "name index value" lines of R's references
// (comments skipped), or "name value" lines of the exact ones (index 0).
std::map<std::string, double> ReadReference(const std::string& path);
// Every statistic the two fits share, by name, from either.
template <class Fit>
std::map<std::string, double> Statistics(const Fit& f, int p) {
    std::map<std::string, double> s;
    for (int j = 0; j <= p; ++j) {
        const auto k = static_cast<uint16_t>(j);
        const std::string i = std::to_string(j);
        s["b" + i] = f.Getb(k);
        s["se" + i] = f.GetStdErrorOfb(k);
        s["t" + i] = f.GettValue(k);
        s["p" + i] = f.GetPValue(k);
        s["lower" + i] = f.GetConfidenceInterval(k, 0.95).lower;
        if (j > 0) s["vif" + i] = f.GetVIF(k);
    }
    const tav::TAnovaTable a = f.GetAnova();
    s["sse"] = a.residual.SS;
    s["ssr"] = a.regression.SS;
    s["f"] = a.regression.F;
    s["fp"] = f.GetFPValue();
    s["adjrsquared"] = f.GetAdjRSquared();
    s["sigma"] = f.GetResidualStdError();
    s["loglik"] = f.GetLogLikelihood();
    s["aic"] = f.GetAIC();
    s["bic"] = f.GetBIC();
    return s;
}

// The least digits over the statistics both maps hold (a NaN in both counts as agreeing, and 0
// in both, a p-value beyond the doubles' range); `worst` names the statistic that has them.
double LeastDigits(const std::map<std::string, double>& got,
                   const std::map<std::string, double>& want, std::string& worst);

}  // namespace tavtest
