// The published properties of the regression components, in declared order: the one table that
// form files, the designer and the property editors all read.
#pragma once

#include "tav/formfile.h"

namespace tav {

class TDataSet;
class TTAVQuery;
class TTAVRegression;
class TTAVTable;

// The regression component a component is, as its own class, its dataset and its regression:
// one of `table` and `query` is set, and `dataSet` and `regression` are the same object seen as
// each; every pointer is null for any other component (or none).
struct TComponentKind {
    TTAVTable* table = nullptr;
    TTAVQuery* query = nullptr;
    TDataSet* dataSet = nullptr;
    TTAVRegression* regression = nullptr;
};
TComponentKind ComponentKind(TComponent* component);

// TTAVTable and TTAVQuery (with their inherited dataset properties first).
const TClassRegistry& TAVClassRegistry();

}  // namespace tav
