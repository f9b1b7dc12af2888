// The windows library's side of TRegressionWindows: the report and plot windows of this library.
#pragma once

namespace tav {

// Installs the report and plot windows for Output and ShowPlots; calling it again is harmless.
void RegisterRegressionWindows();

}  // namespace tav
