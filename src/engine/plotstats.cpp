#include "tav/plotstats.h"

#include <algorithm>
#include <array>
#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace tav {

namespace {

double Cube(double v) { return v * v * v; }

// One local fit of the smoother at xs over the points nleft..nright (1-based arrays, as the
// classic algorithm is written); w is work storage for the weights, rw the robustness weights
// when `robust`. False when no point has weight.
bool LocalFit(const double* x, const double* y, int n, double xs, double& ys, int nleft, int nright,
              double* w, bool robust, const double* rw) {
    const double range = x[n] - x[1];
    const double h = std::max(xs - x[nleft], x[nright] - xs);
    const double h9 = 0.999 * h;
    const double h1 = 0.001 * h;
    double a = 0;
    int j = nleft;
    // Tricube weights; the points beyond nright that tie with the neighbourhood's edge count too.
    for (; j <= n; ++j) {
        w[j] = 0;
        const double r = std::fabs(x[j] - xs);
        if (r <= h9) {
            w[j] = r <= h1 ? 1.0 : Cube(1 - Cube(r / h));
            if (robust) w[j] *= rw[j];
            a += w[j];
        } else if (x[j] > xs) {
            break;
        }
    }
    const int nrt = j - 1;
    if (a <= 0) return false;
    for (j = nleft; j <= nrt; ++j) w[j] /= a;
    if (h > 0) {
        // The weighted straight line, unless the points are too close together in x for a slope.
        a = 0;
        for (j = nleft; j <= nrt; ++j) a += w[j] * x[j];
        double b = xs - a;
        double c = 0;
        for (j = nleft; j <= nrt; ++j) c += w[j] * (x[j] - a) * (x[j] - a);
        if (std::sqrt(c) > 0.001 * range) {
            b /= c;
            for (j = nleft; j <= nrt; ++j) w[j] *= b * (x[j] - a) + 1;
        }
    }
    ys = 0;
    for (j = nleft; j <= nrt; ++j) ys += w[j] * y[j];
    return true;
}

}  // namespace

TSmooth Lowess(const std::vector<double>& xIn, const std::vector<double>& yIn, double f,
               int iterations, double delta) {
    const int n = static_cast<int>(std::min(xIn.size(), yIn.size()));
    std::vector<int> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return xIn[a] < xIn[b]; });
    TSmooth out;
    if (n == 0) return out;
    // 1-based copies: the algorithm reads naturally that way.
    std::vector<double> xv(n + 1), yv(n + 1), ys(n + 1), rw(n + 1), res(n + 1);
    for (int i = 1; i <= n; ++i) {
        xv[i] = xIn[order[i - 1]];
        yv[i] = yIn[order[i - 1]];
    }
    const double* x = xv.data();
    const double* y = yv.data();
    if (delta < 0) delta = 0.01 * (x[n] - x[1]);
    if (n < 2) {
        ys[1] = y[1];
    } else {
        const int ns = std::max(2, std::min(n, static_cast<int>(f * n + 1e-7)));
        for (int iter = 1; iter <= iterations + 1; ++iter) {
            int nleft = 1, nright = ns, last = 0, i = 1;
            for (;;) {
                // Slide the neighbourhood of ns points while that brings it closer to x[i].
                if (nright < n && x[i] - x[nleft] > x[nright + 1] - x[i]) {
                    ++nleft;
                    ++nright;
                    continue;
                }
                if (!LocalFit(x, y, n, x[i], ys[i], nleft, nright, res.data(), iter > 1, rw.data()))
                    ys[i] = y[i];
                // The points skipped within delta are interpolated.
                if (last < i - 1) {
                    const double denom = x[i] - x[last];
                    for (int j = last + 1; j < i; ++j) {
                        const double alpha = (x[j] - x[last]) / denom;
                        ys[j] = alpha * ys[i] + (1 - alpha) * ys[last];
                    }
                }
                last = i;
                const double cut = x[last] + delta;
                for (i = last + 1; i <= n; ++i) {
                    if (x[i] > cut) break;
                    if (x[i] == x[last]) {
                        ys[i] = ys[last];
                        last = i;
                    }
                }
                i = std::max(last + 1, i - 1);
                if (last >= n) break;
            }
            double sc = 0;
            for (int k = 1; k <= n; ++k) {
                res[k] = y[k] - ys[k];
                sc += std::fabs(res[k]);
            }
            sc /= n;
            if (iter > iterations) break;
            // Bisquare weights against six times the median absolute residual.
            std::vector<double> a(n);
            for (int k = 1; k <= n; ++k) a[k - 1] = std::fabs(res[k]);
            const int m1 = n / 2;
            std::nth_element(a.begin(), a.begin() + m1, a.end());
            double cmad;
            if (n % 2 == 0) {
                const double upper = a[m1];
                const double lower = *std::max_element(a.begin(), a.begin() + m1);
                cmad = 3 * (upper + lower);
            } else {
                cmad = 6 * a[m1];
            }
            if (cmad < 1e-7 * sc) break;  // an almost exact fit: nothing to reweight
            const double c9 = 0.999 * cmad;
            const double c1 = 0.001 * cmad;
            for (int k = 1; k <= n; ++k) {
                const double r = std::fabs(res[k]);
                rw[k] = r <= c1   ? 1.0
                        : r <= c9 ? (1 - (r / cmad) * (r / cmad)) * (1 - (r / cmad) * (r / cmad))
                                  : 0.0;
            }
        }
    }
    out.x.assign(xv.begin() + 1, xv.end());
    out.y.assign(ys.begin() + 1, ys.end());
    return out;
}

std::vector<double> PlottingPositions(std::size_t n) {
    const double a = n <= 10 ? 3.0 / 8.0 : 0.5;
    std::vector<double> p(n);
    for (std::size_t i = 0; i < n; ++i)
        p[i] = (static_cast<double>(i + 1) - a) / (static_cast<double>(n) + 1 - 2 * a);
    return p;
}

std::vector<double> NormalQuantiles(const std::vector<double>& p) {
    const boost::math::normal_distribution<double> standard;
    std::vector<double> q(p.size());
    for (std::size_t i = 0; i < p.size(); ++i) q[i] = boost::math::quantile(standard, p[i]);
    return q;
}

double SampleQuantile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return std::nan("");
    const double h = (static_cast<double>(sorted.size()) - 1) * p;
    const auto lo = static_cast<std::size_t>(std::floor(h));
    const std::size_t hi = std::min(lo + 1, sorted.size() - 1);
    return sorted[lo] + (h - std::floor(h)) * (sorted[hi] - sorted[lo]);
}

namespace {

double NiceStep(double lo, double hi, int count) {
    const double raw = (hi - lo) / std::max(count, 1);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / magnitude;
    return magnitude * (fraction < 1.5 ? 1 : fraction < 3 ? 2 : fraction < 7 ? 5 : 10);
}

}  // namespace

std::vector<double> NiceTicks(double lo, double hi, int count) {
    if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo)) return {lo};
    const double step = NiceStep(lo, hi, count);
    if (!(step > 0) || !std::isfinite(step)) return {lo};
    std::vector<double> ticks;
    for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + step * 1e-9; ++k) {
        const double v = k * step;
        ticks.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
        if (ticks.size() > 100) break;
    }
    return ticks;
}

std::string TickLabel(double value, double step) {
    const double scale = std::max(std::fabs(value), step);
    std::array<char, 64> buffer{};
    if (scale >= 1e7 || (step > 0 && step < 1e-5)) {
        // Far from 1: as many significant digits as the step needs (all of them for a value
        // that is not finite, which has no digits to count).
        const double digits =
            std::floor(std::log10(scale)) - std::floor(std::log10(step) + 1e-9) + 1;
        const int precision =
            std::isfinite(digits) ? static_cast<int>(std::clamp(digits, 1.0, 15.0)) : 15;
        std::snprintf(buffer.data(), buffer.size(), "%.*g", precision, value);
    } else {
        // Below 1e7 in size: a few characters whatever the decimals.
        const double decimals = step > 0 ? std::max(0.0, -std::floor(std::log10(step) + 1e-9)) : 0;
        std::snprintf(buffer.data(), buffer.size(), "%.*f", static_cast<int>(decimals), value);
    }
    std::string text = buffer.data();
    // No "-0" for a value that rounds to zero.
    if (text.starts_with('-') &&
        std::all_of(text.begin() + 1, text.end(), [](char ch) { return ch == '0' || ch == '.'; }))
        text.erase(0, 1);
    return text;
}

}  // namespace tav
