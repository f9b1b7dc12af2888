// The statistics that plots of a fit draw and that summaries print: the robust smoother, plotting
// positions and quantiles, and round tick values with their labels. Plain functions of the
// numbers given, usable on their own (the diagnostic plots and tavreg's summary use them).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tav {

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
// them, all inside the range; and a tick's label with as many decimals as the step needs (with
// as many significant digits, in exponent form, far from 1).
std::vector<double> NiceTicks(double lo, double hi, int count = 5);
std::string TickLabel(double value, double step);

}  // namespace tav
