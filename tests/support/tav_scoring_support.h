// The scoring expression of a fit, run by a database: shared by the SQLite and PostgreSQL tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tav/tavcore.h"

namespace tavtest {

// Defines control variables over the example's sales table that use every transformation, records
// the load skips among them (the logarithm of a value <= 1E-20, null fields), and the response
// PROFIT.
void DefineEveryTransformation(tav::TTAVRegression& r);

// One row of `SELECT score, response IS NOT NULL FROM sales ORDER BY id`.
struct TScoredRow {
    std::optional<double> score;  // NULL: a control variable has no value on the record
    bool responsePresent;
};

// Where the scores of the rows a load used differ from the fit's yHat by more than 1E-12
// relative, or the rows with a score are not the records used ("" when they agree).
std::string CompareWithFit(const tav::TTAVRegression& r, const std::vector<TScoredRow>& rows);

}  // namespace tavtest
