// Installs this library's windows for the engine: the report and plot windows behind
// TRegressionWindows and the load progress dialog behind TLoadProgressWindows.
#pragma once

namespace tav {

// Installs the report and plot windows for Output and ShowPlots and the load progress dialog for
// ShowLoadProgress; calling it again is harmless.
void RegisterRegressionWindows();

}  // namespace tav
