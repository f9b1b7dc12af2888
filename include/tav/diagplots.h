// The four diagnostic plots of a fit (residuals against fitted values, a normal Q-Q plot of the
// standardized residuals, scale-location, residuals against leverage), drawn with QPainter on any
// paint device, so that one drawing gives both the PNG and the SVG file. They read the
// component back through its public accessors only, after Execute; the plot window (tavplot.h)
// is a different thing and does not use them. The statistics they draw (the smoother, the
// quantiles, the ticks) are the engine's (plotstats.h).
#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>
#include <string>
#include <vector>

#include "tav/plotstats.h"

class QPainter;

namespace tav {

class TTAVRegression;

enum class TDiagnosticPlot { ResidualsFitted, NormalQQ, ScaleLocation, ResidualsLeverage };
inline constexpr TDiagnosticPlot kDiagnosticPlots[] = {
    TDiagnosticPlot::ResidualsFitted, TDiagnosticPlot::NormalQQ, TDiagnosticPlot::ScaleLocation,
    TDiagnosticPlot::ResidualsLeverage};

// The file name of a plot without its extension: "residuals-fitted", "normal-qq",
// "scale-location", "residuals-leverage".
QString DiagnosticPlotFileName(TDiagnosticPlot kind);
// Its title: "Residuals vs fitted values", ...
QString DiagnosticPlotTitle(TDiagnosticPlot kind);

// Where a drawn plot put its data: the plot area on the device and the data ranges it shows.
struct TPlotFrame {
    QRectF area;
    double xMin = 0, xMax = 1, yMin = 0, yMax = 1;
    QPointF ToDevice(double x, double y) const;
};

// The logical size every plot is laid out in; a device of another size gets it scaled.
inline constexpr int kDiagnosticWidth = 800;
inline constexpr int kDiagnosticHeight = 600;

// Draws the plot on the painter's device (white background included) and returns its frame in
// device coordinates. Records whose values are not finite (a leverage of 1, no residual degree
// of freedom) are left out; with none left, the frame says so.
TPlotFrame DrawDiagnosticPlot(QPainter& painter, const TTAVRegression& reg, TDiagnosticPlot kind);
// The (at most three) most extreme records of the plot, most extreme first: each record's index
// among the loaded ones (1..DataCount) and the name written beside it, its label or its position
// in the result set (TTAVRegression::GetRecordName).
struct TLabelledRecord {
    int record;
    std::string name;
};
std::vector<TLabelledRecord> DiagnosticPlotLabels(const TTAVRegression& reg, TDiagnosticPlot kind);

// The plot as a PNG (800 x 600 pixels at 96 dpi) and as an SVG document of the same size.
QByteArray DiagnosticPng(const TTAVRegression& reg, TDiagnosticPlot kind);
QByteArray DiagnosticSvg(const TTAVRegression& reg, TDiagnosticPlot kind);

}  // namespace tav
