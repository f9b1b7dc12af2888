// The widget library's message box: a QMessageBox as the presenter of MessageDlg
// (tav/messages.h).
#pragma once

#include "tav/messages.h"

namespace tav {

// Installs the QMessageBox presenter unless one is installed already. The host's windows do it
// when they are created; a program that shows message boxes without them calls it itself.
void InstallMessageBoxes();

}  // namespace tav
