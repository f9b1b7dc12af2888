// The plots of a fit as tavreg saves them: the classic plots, one PNG per plot kind and per
// control variable for the scatter and residual plots; and the diagnostic plots, as PNG and SVG.
#pragma once

#include <QString>

#include "tav/outputfiles.h"
#include "tav/tavcore.h"

namespace tavreg {

// Names the files of the plots of one regression, `prefix` before each name, in the folder `dir`.
void DeclareClassicPlots(const QString& dir, const QString& prefix, tav::TOutputFiles& files);

// Writes the plots of the last Execute of `reg` into the folder `dir`, `prefix` before each name.
void SaveClassicPlots(tav::TTAVRegression& reg, const QString& dir, const QString& prefix,
                      tav::TOutputFiles& files);

// Names the files of the diagnostic plots of one regression, `prefix` before each name, in the
// folder `dir`.
void DeclareDiagnostics(const QString& dir, const QString& prefix, tav::TOutputFiles& files);

// Writes the diagnostic plots of the last Execute of `reg` into the folder `dir`.
void SaveDiagnostics(const tav::TTAVRegression& reg, const QString& dir, const QString& prefix,
                     tav::TOutputFiles& files);

}  // namespace tavreg
