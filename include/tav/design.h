// The design-time part of the library: #include <tav/design.h> and link tav::design. The
// definition dialogs of the control and response variables (usable at run time as well), the
// property editors that open them, the design-time interface and Register.
#pragma once

#include "tav/designintf.h"
#include "tav/tav32reg.h"
#include "tav/tavctrl.h"
#include "tav/taveditors.h"
#include "tav/tavresp.h"
