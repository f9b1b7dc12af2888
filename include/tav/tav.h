// Everything a host application needs: #include <tav/tav.h> and link tav::tav.
#pragma once

#include "engine/tavcore.h"
#include "engine/tavforms.h"
#include "engine/tavprogress.h"
#include "engine/tavquery.h"
#include "engine/tavtable.h"
#include "forms/installwindows.h"
#include "host/base/classes.h"
#include "host/base/messages.h"
#include "host/base/sysutils.h"
#include "host/data/db.h"
#include "host/widgets/forms.h"
#include "matrix/matrix.h"
#include "matrix/maxdata.h"
#include "variables/tavtypes.h"

namespace tav {
// A host that includes this header has the report and plot windows installed at start-up.
inline const bool kRegressionWindowsInstalled = (RegisterRegressionWindows(), true);
}  // namespace tav
