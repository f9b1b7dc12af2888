// Everything a host application needs: #include <tav/tav.h> and link tav::tav.
#pragma once

#include "engine/tavcore.h"
#include "engine/tavforms.h"
#include "engine/tavprogress.h"
#include "engine/tavquery.h"
#include "engine/tavtable.h"
#include "forms/installwindows.h"
#include "host/classes.h"
#include "host/db.h"
#include "host/dialogs.h"
#include "host/forms.h"
#include "host/sysutils.h"
#include "matrix/matrix.h"
#include "matrix/maxdata.h"
#include "variables/tavtypes.h"

namespace tav {
// A host that includes this header has the report and plot windows installed at start-up.
inline const bool kRegressionWindowsInstalled = (RegisterRegressionWindows(), true);
}  // namespace tav
