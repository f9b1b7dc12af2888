// The fitted equation as SQL, so that a database can score its own records.
#pragma once

#include <string>

#include "tav/sqltext.h"

namespace tav {

class TTAVRegression;

// The fitted equation of `regression` as one SQL expression over its dataset's fields, the
// transformations written out: evaluated on a record it gives GetyHat's value (the response as
// transformed), and NULL where the load would have skipped the record. Raises Exception when
// there is no valid fit. TTAVRegression::ScoringSQL gives the same.
std::string FittedEquationSQL(const TTAVRegression& regression, TSqlDialect dialect);

}  // namespace tav
