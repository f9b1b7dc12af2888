// The factorisation behind the inference where a column's norm cancels part way (a control that
// nearly repeats a sum of others): leverages and variances against the inverse cross products in
// extended precision, whatever the order of the controls.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/tav_fit_support.h"

namespace {

// Five controls, the fourth the sum of the first two up to 1E-3 of its spread, and a response.
tavtest::TData NearlyRepeatedSum() {
    tavtest::TData data{{"X1", "X2", "X3", "X4", "X5", "Y"}, {}};
    uint32_t state = 12345u;
    auto uniform = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 16777216.0 - 0.5;
    };
    for (int i = 0; i < 60; ++i) {
        const double x1 = 3 + uniform(), x2 = 100 * uniform(), x3 = uniform(), x5 = uniform();
        const double x4 = x1 + x2 + 0.03 * uniform();
        data.rows.push_back({x1, x2, x3, x4, x5, x1 - x3 + 0.1 * x4 + uniform()});
    }
    return data;
}

// Leverages and the variances of the slopes per unit error variance, from the centred controls
// and their inverse cross products by Gauss-Jordan elimination.
void Reference(const tavtest::TData& data, std::vector<double>& leverage,
               std::vector<double>& variance) {
    using ext = long double;
    const int n = static_cast<int>(data.rows.size()), p = 5;
    std::vector<std::vector<ext>> a(n, std::vector<ext>(p)), m(p, std::vector<ext>(2 * p, 0));
    for (int j = 0; j < p; ++j) {
        ext mean = 0;
        for (int i = 0; i < n; ++i) mean += data.rows[i][j] / ext(n);
        for (int i = 0; i < n; ++i) a[i][j] = data.rows[i][j] - mean;
    }
    for (int j = 0; j < p; ++j) {
        for (int k = 0; k < p; ++k)
            for (int i = 0; i < n; ++i) m[j][k] += a[i][j] * a[i][k];
        m[j][p + j] = 1;
    }
    for (int c = 0; c < p; ++c) {
        const ext pivot = m[c][c];
        for (ext& v : m[c]) v /= pivot;
        for (int r = 0; r < p; ++r)
            for (int k = 2 * p - 1; r != c && k >= 0; --k) m[r][k] -= m[r][c] * m[c][k];
    }
    for (int j = 0; j < p; ++j) variance.push_back(static_cast<double>(m[j][p + j]));
    for (int i = 0; i < n; ++i) {
        ext h = 1.0L / n;
        for (int j = 0; j < p; ++j)
            for (int k = 0; k < p; ++k) h += a[i][j] * m[j][p + k] * a[i][k];
        leverage.push_back(static_cast<double>(h));
    }
}

TEST(CancellingNorm, LeveragesAndVariancesAsTheInverseCrossProductsInEveryOrder) {
    const tavtest::TData data = NearlyRepeatedSum();
    std::vector<double> leverage, variance;
    Reference(data, leverage, variance);
    tavtest::TTempDb db;
    const auto path = tavtest::WriteTable(db, data);
    for (const std::vector<int>& order :
         {std::vector{0, 1, 2, 3, 4}, {3, 4, 2, 1, 0}, {2, 3, 0, 4, 1}}) {
        std::vector<tav::TIndepVar> controls;
        for (int j : order) controls.push_back(tavtest::None(data.columns[j]));
        tav::TTAVTable c;
        tavtest::LoadTable(c, path, controls);
        c.Execute();
        const double s2 = c.GetResidualStdError() * c.GetResidualStdError();
        for (uint16_t i = 1; i <= 60; ++i)
            EXPECT_NEAR(c.GetLeverage(i), leverage[i - 1], 1.0E-9 * leverage[i - 1]) << i;
        for (int k = 0; k < 5; ++k) {
            const double se = c.GetStdErrorOfb(static_cast<uint16_t>(k + 1));
            const double expected = std::sqrt(variance[order[k]] * s2);
            EXPECT_NEAR(se, expected, 1.0E-8 * expected) << data.columns[order[k]];
        }
    }
}

}  // namespace
