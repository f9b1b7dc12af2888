// Everything a host application needs: #include <tav/tav.h> and link tav::tav.
#pragma once

#include "tav/classes.h"
#include "tav/db.h"
#include "tav/installwindows.h"
#include "tav/matrix.h"
#include "tav/maxdata.h"
#include "tav/messages.h"
#include "tav/modal.h"
#include "tav/sysutils.h"
#include "tav/tavcore.h"
#include "tav/tavforms.h"
#include "tav/tavprogress.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"
#include "tav/tavtypes.h"

namespace tav {
// A host that includes this header has the report and plot windows installed at start-up.
inline const bool kRegressionWindowsInstalled = (RegisterRegressionWindows(), true);
}  // namespace tav
