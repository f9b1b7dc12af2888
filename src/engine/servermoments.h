// The moments of a whole table summed inside the database server, from SQL that the
// transformation table writes: the server reads the records, the client reads a row of sums
// for each of its few statements.
#pragma once

#include "tav/db.h"
#include "tav/tavtypes.h"
#include "tav/wholetable.h"

namespace tav {

// Whether the dataset's connection is a server that can sum the records itself (PostgreSQL).
bool ServerCanSum(const TDataSet& dataSet);

// The moments of exactly the records a load of `dataSet` would use, summed by the server:
// variable 0 is `response`, variable k controls[k-1] (the control variables in use, in order,
// count of them). Records are skipped and counted as the load skips them, with the first reason
// it meets. The dataset must be open on a server that can sum (ServerCanSum). A definition the
// load could not read raises what the load raises; a text that is no number, the server's error
// (EDatabaseError).
TTableMoments ServerMoments(TDataSet& dataSet, const TDependentVar& response,
                            const TIndepVar* const* controls, int count);

}  // namespace tav
