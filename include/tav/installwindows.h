// Installs this library's windows for the engine: the report and plot windows behind
// TRegressionWindows and the load progress dialog behind TLoadProgressWindows.
#pragma once

namespace tav {

// Installs the report and plot windows for Output and ShowPlots, the load progress dialog for
// ShowLoadProgress, and the message box that shows MessageDlg's messages where no hook answers
// them; calling it again is harmless.
void RegisterRegressionWindows();

}  // namespace tav
