// What the engine asks of the windows library: the report window and the plot window of a
// regression (the load progress dialog is asked for the same way: tavprogress.h). The engine
// includes no window code; the windows library (tav_forms) provides these and
// RegisterRegressionWindows installs them, which <tav/tav.h> does for a host program.
#pragma once

#include "tav/reporttexts.h"

namespace tav {

class TTAVRegression;

// The windows the engine shows: implemented by the windows library, installed once per process.
class TRegressionWindows {
  public:
    virtual ~TRegressionWindows() = default;
    // The modal report window with the report's texts; returns when it is closed.
    virtual void ShowReport(TTAVRegression& regression, const TRegressionReport& report) = 0;
    // The modal plot window of the regression; returns when it is closed.
    virtual void ShowPlots(TTAVRegression& regression) = 0;
};

// Installs the windows (not owned; they live for the process). Null removes them.
void SetRegressionWindows(TRegressionWindows* windows);
// The installed windows; raises Exception when no window library has installed any.
TRegressionWindows& RegressionWindows();

}  // namespace tav
