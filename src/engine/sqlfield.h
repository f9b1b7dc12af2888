// How SQL reads a field of a dataset as the double a load reads from it: for the fitted equation
// that a database scores with, and for the sums a database server makes of a whole table.
#pragma once

#include <string>

#include "tav/sqltext.h"

namespace tav {

class TDataSet;

struct TSqlField {
    std::string column;  // the column, quoted, as the dataset spells its name
    std::string number;  // its value as a double (NULL for a null)
    // A condition that holds for an empty or blank text; "" for a column that holds no text.
    std::string blank;
};

// The field `name` of `dataSet` (as named where the dataset is closed or lacks it). Raises
// Exception for a field of dates or times, which a database does not read as the load's number.
TSqlField SqlField(const TDataSet& dataSet, const std::string& name, TSqlDialect dialect);

}  // namespace tav
