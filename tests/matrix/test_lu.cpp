// LU decomposition, back-substitution and inversion.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <memory>

#include "support/tav_test_support.h"
#include "tav/matrix.h"

namespace tav {
namespace {

using tavtest::TMessageRecorder;

npbynp Square(std::initializer_list<std::initializer_list<double>> rows) {
    npbynp a;
    int32_t i = 1;
    for (const auto& row : rows) {
        int32_t j = 1;
        for (double x : row) a(i, j++) = x;
        ++i;
    }
    return a;
}

// max_i |(A.x - b)_i| / (max row sum of |A| * max |x_i|): the backward error of a solution, near
// machine precision for any stable solver whatever the condition of A.
double RelativeResidual(const npbynp& a, int32_t n, const npvector& x, const npvector& b) {
    long double resid = 0, norm_a = 0, norm_x = 0;
    for (int32_t i = 1; i <= n; ++i) {
        long double r = -static_cast<long double>(b[i]), row = 0;
        for (int32_t j = 1; j <= n; ++j) {
            r += static_cast<long double>(a(i, j)) * x[j];
            row += std::fabs(a(i, j));
        }
        resid = std::max(resid, std::fabs(r));
        norm_a = std::max(norm_a, row);
        norm_x = std::max(norm_x, static_cast<long double>(std::fabs(x[i])));
    }
    return static_cast<double>(resid / (norm_a * norm_x));
}

TEST(LuDecomposition, OneByOne) {
    npbynp a = Square({{4.0}});
    indexvector indx;
    double d = 0.0;
    ludecomp(a, 1, indx, d);
    EXPECT_EQ(a(1, 1), 4.0);
    EXPECT_EQ(d, 1.0);
    EXPECT_EQ(indx[1], 1);

    npbynp y;
    a = Square({{4.0}});
    invertnpbynp(a, y, 1);
    EXPECT_EQ(y(1, 1), 0.25);
}

TEST(LuDecomposition, ExchangesRowsForAZeroLeadingElement) {
    npbynp a = Square({{0, 1}, {1, 0}});
    indexvector indx;
    double d = 0.0;
    ludecomp(a, 2, indx, d);
    EXPECT_EQ(indx[1], 2);
    EXPECT_EQ(indx[2], 2);
    EXPECT_EQ(d, -1.0);

    npbynp y;
    a = Square({{0, 1}, {1, 0}});
    invertnpbynp(a, y, 2);
    EXPECT_EQ(y(1, 1), 0.0);
    EXPECT_EQ(y(1, 2), 1.0);
    EXPECT_EQ(y(2, 1), 1.0);
    EXPECT_EQ(y(2, 2), 0.0);
}

TEST(LuDecomposition, InverseOfSymmetricAndTransposedInverseOfNonSymmetric) {
    TMessageRecorder recorder;  // the work matrix goes to a display routine with Show false
    const npbynp spd = Square({{4, 1, 2}, {1, 3, 0}, {2, 0, 5}});
    npbynp a = spd, y;
    y.Fill(99.0);
    invertnpbynp(a, y, 3);
    for (int32_t i = 1; i <= 3; ++i) {
        for (int32_t j = 1; j <= 3; ++j) {
            long double p = 0;
            for (int32_t k = 1; k <= 3; ++k) p += static_cast<long double>(spd(i, k)) * y(k, j);
            EXPECT_NEAR(static_cast<double>(p), i == j ? 1.0 : 0.0, 1e-15);
            EXPECT_NEAR(y(i, j), y(j, i), 1e-15);
        }
    }
    EXPECT_EQ(y(1, 4), 99.0);  // only the leading part is written
    EXPECT_EQ(y(4, 1), 99.0);

    // (1 2; 3 4) has the inverse (-2 1; 1.5 -0.5); row j of Y solves A.x = e_j.
    a = Square({{1, 2}, {3, 4}});
    invertnpbynp(a, y, 2);
    EXPECT_NEAR(y(1, 1), -2.0, 1e-15);
    EXPECT_NEAR(y(1, 2), 1.5, 1e-15);
    EXPECT_NEAR(y(2, 1), 1.0, 1e-15);
    EXPECT_NEAR(y(2, 2), -0.5, 1e-15);
    EXPECT_TRUE(recorder.Messages().empty());

    // Y may be A itself: the factors are consumed before Y is written.
    a = Square({{1, 2}, {3, 4}});
    invertnpbynp(a, a, 2);
    EXPECT_NEAR(a(1, 2), 1.5, 1e-15);
}

TEST(LuDecomposition, EqualRowsGiveATinyPivotWithoutMessage) {
    TMessageRecorder recorder;
    npbynp a = Square({{1, 2, 3}, {1, 2, 3}, {2, 1, 1}});
    indexvector indx;
    double d = 0.0;
    ludecomp(a, 3, indx, d);
    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_EQ(a(3, 3), TINY);
    EXPECT_EQ(indx[1], 3);  // largest scaled element: 2 of (2, 1, 1)
    EXPECT_EQ(indx[2], 3);  // equal candidates: the last row wins
    EXPECT_EQ(d, 1.0);      // two exchanges
}

// No candidate of a NaN column wins the pivot search; the rows then stay where they are and the
// NaNs show in the result instead of an exchange with a row that does not exist.
TEST(LuDecomposition, NanColumnKeepsTheRowOrder) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    npbynp a = Square({{nan, 1}, {nan, 2}});
    indexvector indx;
    double d = 0.0;
    ludecomp(a, 2, indx, d);
    EXPECT_EQ(indx[1], 1);
    EXPECT_EQ(d, 1.0);
    EXPECT_TRUE(std::isnan(a(2, 1)));
}

TEST(LuDecomposition, OneDecompositionServesSeveralRightHandSides) {
    const npbynp original = Square({{2, 1, 1}, {4, -6, 0}, {-2, 7, 2}});
    npbynp a = original;
    indexvector indx;
    double d = 0.0;
    ludecomp(a, 3, indx, d);

    // Solutions (1, 1, 2) and (-1, 0, 3).
    npvector b1, b2;
    b1[0] = 42.0;
    const double rhs1[] = {5, -2, 9}, rhs2[] = {1, -4, 8};
    for (int32_t i = 1; i <= 3; ++i) {
        b1[i] = rhs1[i - 1];
        b2[i] = rhs2[i - 1];
    }
    lubacksub(a, 3, indx, b1);
    lubacksub(a, 3, indx, b2);
    EXPECT_NEAR(b1[1], 1.0, 1e-15);
    EXPECT_NEAR(b1[2], 1.0, 1e-15);
    EXPECT_NEAR(b1[3], 2.0, 1e-15);
    EXPECT_NEAR(b2[1], -1.0, 1e-15);
    EXPECT_NEAR(b2[2], 0.0, 1e-15);
    EXPECT_NEAR(b2[3], 3.0, 1e-15);
    EXPECT_EQ(b1[0], 42.0);
}

TEST(LuDecomposition, ZeroRowReportsSingularAndStops) {
    TMessageRecorder recorder;
    const npbynp original = Square({{1, 2, 3}, {0, 0, 0}, {4, 5, 6}});
    npbynp a = original;
    indexvector indx;
    indx.Fill(7);
    double d = 0.0;
    try {
        ludecomp(a, 3, indx, d);
        FAIL() << "no exception";
    } catch (const ESingularMatrix& e) {
        EXPECT_STREQ(e.what(), "Your matrix is singular");
    }
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_EQ(recorder.Messages()[0].text, "Your matrix is singular");
    EXPECT_EQ(recorder.Messages()[0].type, TMsgDlgType::mtError);
    EXPECT_EQ(recorder.Messages()[0].buttons, mbOK);
    for (int32_t i = 1; i <= 3; ++i) {
        for (int32_t j = 1; j <= 3; ++j) EXPECT_EQ(a(i, j), original(i, j));
        EXPECT_EQ(indx[i], 7);
    }

    // invertnpbynp lets it through and leaves Y alone.
    npbynp y;
    y.Fill(5.0);
    a = original;
    EXPECT_THROW(invertnpbynp(a, y, 3), ESingularMatrix);
    EXPECT_EQ(y(1, 1), 5.0);
    EXPECT_EQ(recorder.Messages().size(), 2u);
}

TEST(LuDecomposition, RejectsOrdersOutsideCapacityAndForeignPivotRecords) {
    npbynp a, y;
    indexvector indx;
    double d = 0.0;
    for (int32_t n : {0, -1, MaxTerms + 1}) {
        EXPECT_THROW(ludecomp(a, n, indx, d), std::out_of_range) << n;
        EXPECT_THROW(invertnpbynp(a, y, n), std::out_of_range) << n;
    }
    npvector b;
    EXPECT_THROW(lubacksub(a, MaxTerms + 1, indx, b), std::out_of_range);

    // A record pointing outside the leading n rows is refused before B changes.
    a = Square({{2, 0}, {0, 2}});
    indx[1] = 1;
    indx[2] = 3;
    b[1] = 4.0;
    b[2] = 6.0;
    EXPECT_THROW(lubacksub(a, 2, indx, b), std::out_of_range);
    EXPECT_EQ(b[1], 4.0);
    EXPECT_EQ(b[2], 6.0);
}

TEST(LuDecomposition, RandomSystemsSolveToMachinePrecision) {
    tavtest::TRandom random(20240611);
    TMessageRecorder recorder;
    const double eps = std::numeric_limits<double>::epsilon();
    auto original = std::make_unique<npbynp>();
    for (int32_t n = 1; n <= MaxTerms; ++n) {
        for (int trial = 0; trial < 20; ++trial) {
            for (int32_t i = 1; i <= n; ++i) {
                for (int32_t j = 1; j <= n; ++j) (*original)(i, j) = random.Uniform(-1.0, 1.0);
            }
            npbynp a = *original, y;
            indexvector indx;
            double d = 0.0;
            ludecomp(a, n, indx, d);
            npvector b, x;
            for (int32_t i = 1; i <= n; ++i) b[i] = x[i] = random.Uniform(-10.0, 10.0);
            lubacksub(a, n, indx, x);
            EXPECT_LT(RelativeResidual(*original, n, x, b), 4 * n * eps) << n << "/" << trial;

            // Every row of the inverse's transpose solves its unit system as well.
            a = *original;
            invertnpbynp(a, y, n);
            for (int32_t col = 1; col <= n; ++col) {
                npvector e, yj;
                e[col] = 1.0;
                for (int32_t k = 1; k <= n; ++k) yj[k] = y(col, k);
                EXPECT_LT(RelativeResidual(*original, n, yj, e), 4 * n * eps) << n;
            }
        }
    }
    EXPECT_TRUE(recorder.Messages().empty());
}

}  // namespace
}  // namespace tav
