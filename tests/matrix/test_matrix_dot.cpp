// multmvectors against the plain sum of its definition, bit for bit. The routine takes a fused
// multiply-add for a term when it can show that this gives the stated result, so these tests
// look for the terms where the two differ: random sums of several kinds, terms built to land
// near a rounding boundary, and the values at the ends of the range.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <memory>

#include "matrix/matrix.h"
#include "matrix_test_support.h"

namespace tav {
namespace {

using test::Bits;

double Stated(const mvector& a, const mvector& b, int32_t m) {
    double sum = 0.0;
    for (int32_t k = 1; k <= m; ++k) sum = AddProduct(sum, a[k], b[k]);
    return sum;
}

// A double with all 53 bits of its significand random, in [-1, 1).
double Full(test::TRandom& random) {
    return random.Uniform(-1.0, 1.0) + random.Uniform(-1.0, 1.0) * 0x1p-27;
}

struct TVectors {
    mvector a, b;
};

TEST(MatrixDotProduct, RandomSumsOfSeveralKinds) {
    test::TRandom random(21);
    auto v = std::make_unique<TVectors>();
    enum TKind { Squares, Signed, Spread, Drifting, KindCount };
    for (int kind = 0; kind < KindCount; ++kind) {
        for (int32_t trial = 0; trial < 60; ++trial) {
            for (int32_t k = 1; k <= MaxData; ++k) {
                double x = Full(random), y = Full(random);
                switch (kind) {
                    case Squares:  // sums of squares, as y . y
                        y = x;
                        break;
                    case Signed:  // a sum that wanders around zero
                        break;
                    case Spread:  // terms over forty binades
                        x = std::ldexp(x, static_cast<int>((k * 7 + trial) % 41) - 20);
                        break;
                    case Drifting:  // a growing sum whose terms vary in sign and size, as v . y
                        y = x + 0.01 * y;
                        x = std::ldexp(x, static_cast<int>(k % 5));
                        break;
                }
                v->a[k] = x;
                v->b[k] = y;
            }
            for (int32_t m : {1, 2, 3, 10, 257, MaxData}) {
                ASSERT_EQ(Bits(Stated(v->a, v->b, m)), Bits(multmvectors(v->a, v->b, m)))
                    << "kind " << kind << ", trial " << trial << ", m = " << m;
            }
        }
    }
}

// Sums s + x * y for which one rounding (a fused multiply-add) and the stated two roundings give
// different doubles: such a term is one whose exact value lies at or near a rounding boundary.
// Found by search, with |x * y| below |s| / 2 (where the routine relies on its check) and above.
TEST(MatrixDotProduct, TermsNearARoundingBoundary) {
    test::TRandom random(22);
    auto v = std::make_unique<TVectors>();
    int32_t found = 0, small = 0;
    for (int32_t trial = 0; trial < 2000000 && found < 400; ++trial) {
        const double s = std::ldexp(Full(random), static_cast<int>(trial % 61) - 30);
        const double scale = std::ldexp(std::fabs(s), -static_cast<int>(trial % 13));
        const double x = Full(random), y = Full(random) * scale;
        if (Bits(AddProduct(s, x, y)) == Bits(std::fma(x, y, s))) continue;
        ++found;
        small += std::fabs(x * y) < std::fabs(s) / 2;
        // The first term makes the sum s exactly, the second is the one found.
        v->a[1] = s, v->b[1] = 1.0;
        v->a[2] = x, v->b[2] = y;
        ASSERT_EQ(Bits(Stated(v->a, v->b, 2)), Bits(multmvectors(v->a, v->b, 2)))
            << std::hexfloat << s << " + " << x << " * " << y;
    }
    EXPECT_EQ(found, 400);
    EXPECT_GT(small, 100);
}

// The same, where the search above seldom goes: a term that cancels half or more of the sum
// (the fused step's error is then not exactly at hand), and a sum that rounds to a power of two
// (whose gap below is half the gap above).
TEST(MatrixDotProduct, TermsNearARoundingBoundaryInHarderPlaces) {
    test::TRandom random(23);
    auto v = std::make_unique<TVectors>();
    int32_t cancelling = 0, powers = 0;
    for (int32_t trial = 0; trial < 4000000 && (cancelling < 200 || powers < 200); ++trial) {
        const int k = static_cast<int>(trial % 41) - 20;
        double s, x, y;
        if (trial % 2 == 0) {
            s = std::ldexp(Full(random), k);
            x = Full(random);
            y = -s * random.Uniform(0.25, 1.0) / x;  // x * y between -s and -s / 4
        } else {
            // s just above 2^k; x * y takes it to about the midpoint below 2^k.
            const double j = std::floor(random.Uniform(0.0, 4.0));
            s = std::ldexp(1.0 + j * 0x1p-52, k);
            x = Full(random);
            const double target = -std::ldexp(j * 0x1p-52 + 0x1p-54 + Full(random) * 0x1p-62, k);
            y = target / x;
        }
        if (!std::isfinite(y) || Bits(AddProduct(s, x, y)) == Bits(std::fma(x, y, s))) continue;
        (trial % 2 == 0 ? cancelling : powers) += 1;
        v->a[1] = s, v->b[1] = 1.0;
        v->a[2] = x, v->b[2] = y;
        ASSERT_EQ(Bits(Stated(v->a, v->b, 2)), Bits(multmvectors(v->a, v->b, 2)))
            << std::hexfloat << s << " + " << x << " * " << y;
    }
    EXPECT_GE(cancelling, 200);
    EXPECT_GE(powers, 200);
}

TEST(MatrixDotProduct, EndsOfTheRange) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double tiny = std::numeric_limits<double>::denorm_min();
    struct TCase {
        double s, x, y;
    };
    const TCase cases[] = {
        {0.0, 0.0, -1.0},
        {-0.0, -0.0, 1.0},
        {-0.0, 0.0, 1.0},
        {1.0, -1.0, 1.0},  // exact cancellation
        {3e-310, 1e-300, 1e-10},
        {DBL_MIN, -0.75, DBL_MIN},
        {5 * tiny, 3.0, tiny},
        {std::ldexp(1.0, -969), 0.25, std::ldexp(1.0, -969)},
        {DBL_MAX, 1.0, std::ldexp(1.0, 970)},  // at the overflow threshold
        {DBL_MAX, 1.0, std::ldexp(1.0, 969)},
        {DBL_MAX, 0.5, std::ldexp(1.0, 971) * (1 - 0x1p-52)},
        {-DBL_MAX, DBL_MAX, -1.0},
        {0.75 * DBL_MAX, 0.5, DBL_MAX},
        {1.0, inf, 2.0},
        {inf, -inf, 1.0},
        {1.0, nan, 2.0},
        {nan, 1.0, 1.0},
        {std::ldexp(1.0, 60), 1.0, 1.0},  // s a power of two: the gap below is half the gap above
        {std::ldexp(1.0, 60), -1.0, 1.0},
        {1.0, -0x1p-54, 1.0 + 0x1p-52},
        {1.0, -0x1p-54, 1.0 - 0x1p-53},
    };
    auto v = std::make_unique<TVectors>();
    for (const TCase& c : cases) {
        // As the second term and, repeated, as the rest of a sum.
        v->a[1] = c.s, v->b[1] = 1.0;
        for (int32_t k = 2; k <= 40; ++k) v->a[k] = c.x, v->b[k] = c.y;
        for (int32_t m : {2, 40}) {
            ASSERT_EQ(Bits(Stated(v->a, v->b, m)), Bits(multmvectors(v->a, v->b, m)))
                << std::hexfloat << c.s << " + " << c.x << " * " << c.y << ", m = " << m;
        }
    }
}

}  // namespace
}  // namespace tav
