// The four diagnostic plots of a fit (residuals against fitted values, a normal Q-Q plot of the
// standardized residuals, scale-location, residuals against leverage), drawn with QPainter on any
// paint device, so that one drawing gives both the PNG and the SVG file. They read the
// component back through its public accessors only, after Execute; the plot window (tavplot.h)
// is a different thing and does not use them.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>
#include <string>
#include <vector>

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

// ---- the statistics the plots draw, usable on their own

// The robust locally weighted scatterplot smoother: fitted values at the points sorted by x
// (returned in that order, with the sorted x), each from a weighted linear fit to the fraction
// `f` of the points nearest to it, reweighted `iterations` times by bisquare weights of the
// residuals; points closer than `delta` to the last fitted one are interpolated (a negative
// delta means 1% of the range of x).
struct TSmooth {
    std::vector<double> x, y;
};
TSmooth Lowess(const std::vector<double>& x, const std::vector<double>& y, double f = 2.0 / 3.0,
               int iterations = 3, double delta = -1);

// Plotting positions (i - a) / (n + 1 - 2a), i = 1..n, with a = 3/8 for n <= 10 and 1/2 beyond,
// and their standard normal quantiles.
std::vector<double> PlottingPositions(std::size_t n);
std::vector<double> NormalQuantiles(const std::vector<double>& p);
// The quantile of sorted values by linear interpolation between order statistics (the sample
// quantile whose position is 1 + (n - 1) p).
double SampleQuantile(const std::vector<double>& sorted, double p);

// Round tick values covering [lo, hi]: steps of 1, 2 or 5 times a power of ten, about `count` of
// them, all inside the range; and a tick's label with as many decimals as the step needs.
std::vector<double> NiceTicks(double lo, double hi, int count = 5);
std::string TickLabel(double value, double step);

}  // namespace tav
