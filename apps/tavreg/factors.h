// Factor(FIELD) terms of the command line: each becomes indicator controls, one for every level of
// the field but the first in R's order, named as R names them (Diet2, Diet3, ...). The database
// computes them, in a query generated over the table or the user's query, so that SQLite,
// PostgreSQL and CSV input all work and the components fit indicators as any other field.
#pragma once

#include "options.h"
#include "tav/tavquery.h"

namespace tavreg {

// Whether the options hold a Factor term (the definition is then a query component).
bool HasFactors(const TOptions& options);

// Finds the levels of each factor in the data, and gives `query` the generated SQL and every
// control variable in order. Raises tav::Exception naming the term when its field is missing, has
// fewer than two levels, or when the indicators would make more than ten control variables or
// take the name of a field the data already has.
void ExpandFactors(const TOptions& options, tav::TTAVQuery& query);

}  // namespace tavreg
