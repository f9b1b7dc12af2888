// The published properties of the regression components, in declared order: the one table that
// form files, the designer and the property editors all read.
#pragma once

#include "host/data/formfile.h"

namespace tav {

// TTAVTable and TTAVQuery (with their inherited dataset properties first).
const TClassRegistry& TAVClassRegistry();

}  // namespace tav
