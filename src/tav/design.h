// The design-time part of the library: #include <tav/design.h> and link tav::design. The
// definition dialogs of the control and response variables (usable at run time as well).
#pragma once

#include "design/tavctrl.h"
#include "design/tavresp.h"
