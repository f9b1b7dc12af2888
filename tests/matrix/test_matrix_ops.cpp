// Products, transposition, shifting, dot products, extrema and sorting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "support/tav_test_support.h"
#include "tav/matrix.h"

namespace tav {
namespace {

using tavtest::Bits;

constexpr double Sentinel = 99.0;

// Values spread over many binades, so that rounding shows in nearly every partial sum.
template <typename M>
void FillRandom(M& a, tavtest::TRandom& random) {
    for (int32_t i = M::RowLow; i <= M::RowHigh; ++i) {
        for (int32_t j = M::ColLow; j <= M::ColHigh; ++j) {
            a(i, j) = random.Uniform(-1.0, 1.0) * std::ldexp(1.0, static_cast<int>(j % 7) - 3);
        }
    }
}

// Plain triple loops in the stated order, with checked element access: the reference the
// row-walking products must match to the bit.
template <typename MA, typename MB, typename MP>
void ReferenceProduct(const MA& a, const MB& b, MP& p, int32_t rows, int32_t inner, int32_t cols) {
    for (int32_t i = 1; i <= rows; ++i) {
        for (int32_t j = 1; j <= cols; ++j) p(i, j) = 0.0;
    }
    for (int32_t i = 1; i <= rows; ++i) {
        for (int32_t j = 1; j <= cols; ++j) {
            for (int32_t k = 1; k <= inner; ++k) p(i, j) = AddProduct(p(i, j), a(i, k), b(k, j));
        }
    }
}

template <typename M>
void ExpectSameBits(const M& expected, const M& actual) {
    for (int32_t i = M::RowLow; i <= M::RowHigh; ++i) {
        for (int32_t j = M::ColLow; j <= M::ColHigh; ++j) {
            ASSERT_EQ(Bits(expected(i, j)), Bits(actual(i, j))) << i << "," << j;
        }
    }
}

struct TOperands {
    npbym a_t, p_wide, ref_wide;
    mbynp b;
    npbynp sq, p_sq, ref_sq;
    mvector v, r, ref_r;
};

TEST(MatrixProducts, MatchStraightforwardLoopsBitForBit) {
    tavtest::TRandom random(7);
    auto o = std::make_unique<TOperands>();
    FillRandom(o->a_t, random);
    FillRandom(o->b, random);
    FillRandom(o->sq, random);
    for (int32_t k = 1; k <= MaxData; ++k) o->v[k] = random.Uniform(-100.0, 100.0);

    struct TShape {
        int32_t m, np;
    };
    for (TShape s : {TShape{MaxData, MaxTerms}, TShape{7, 3}, TShape{1, 1}, TShape{0, 4}}) {
        SCOPED_TRACE(testing::Message() << s.m << " x " << s.np);
        // Outside its region every result keeps the sentinel.
        o->p_sq.Fill(Sentinel);
        o->ref_sq.Fill(Sentinel);
        multnpbymmbynp(o->a_t, o->b, o->p_sq, s.m, s.np);
        ReferenceProduct(o->a_t, o->b, o->ref_sq, s.np, s.m, s.np);
        ExpectSameBits(o->ref_sq, o->p_sq);

        o->p_wide.Fill(Sentinel);
        o->ref_wide.Fill(Sentinel);
        multnpbynpnpbym(o->sq, o->a_t, o->p_wide, s.m, s.np);
        ReferenceProduct(o->sq, o->a_t, o->ref_wide, s.np, s.np, s.m);
        ExpectSameBits(o->ref_wide, o->p_wide);

        // In place: the result replaces B.
        npbym& in_place = o->p_wide;
        in_place = o->a_t;
        multnpbynpnpbym(o->sq, in_place, in_place, s.m, s.np);
        for (int32_t i = 1; i <= MaxTerms; ++i) {
            for (int32_t j = 1; j <= MaxData; ++j) {
                const bool inside = i <= s.np && j <= s.m;
                ASSERT_EQ(Bits(in_place(i, j)), Bits(inside ? o->ref_wide(i, j) : o->a_t(i, j)));
            }
        }

        npvector r, v;
        r.Fill(Sentinel);
        multnpbymmvector(o->a_t, o->v, r, s.m, s.np);
        for (int32_t i = 0; i <= MaxTerms; ++i) {
            double expected = Sentinel;
            if (i >= 1 && i <= s.np) {
                expected = 0.0;
                for (int32_t k = 1; k <= s.m; ++k)
                    expected = AddProduct(expected, o->a_t(i, k), o->v[k]);
            }
            ASSERT_EQ(Bits(expected), Bits(r[i])) << i;
        }

        for (int32_t i = 1; i <= MaxTerms; ++i) v[i] = random.Uniform(-5.0, 5.0);
        v[0] = std::numeric_limits<double>::quiet_NaN();  // never read
        o->r.Fill(Sentinel);
        mult1bynpbynpbym(o->r, v, o->a_t, s.m, s.np);
        for (int32_t k = 1; k <= MaxData; ++k) {
            double expected = Sentinel;
            if (k <= s.m) {
                expected = 0.0;
                for (int32_t i = 1; i <= s.np; ++i)
                    expected = AddProduct(expected, v[i], o->a_t(i, k));
            }
            ASSERT_EQ(Bits(expected), Bits(o->r[k])) << k;
        }
    }
}

// (1, a).(-1, a) with a = 1 + 2^-27: a.a = 1 + 2^-26 + 2^-54 exactly. Rounding the product to
// double first loses the 2^-54, which the extended-precision step keeps.
TEST(MatrixProducts, ProductsAreFormedInExtendedPrecision) {
    const double a = 1.0 + std::ldexp(1.0, -27);
    const double exact = std::ldexp(1.0, -26) + std::ldexp(1.0, -54);
    volatile double product = a * a;
    const double plain = -1.0 + product;
    ASSERT_NE(Bits(plain), Bits(exact));

    mvector x, y;
    x[1] = 1.0, y[1] = -1.0;
    x[2] = a, y[2] = a;
    EXPECT_EQ(Bits(multmvectors(x, y, 2)), Bits(exact));

    npvector xn, yn;
    xn[1] = 1.0, yn[1] = -1.0;
    xn[2] = a, yn[2] = a;
    EXPECT_EQ(Bits(multnpvectors(xn, yn, 2)), Bits(exact));

    auto at = std::make_unique<npbym>();
    auto b = std::make_unique<mbynp>();
    npbynp p;
    (*at)(1, 1) = 1.0, (*b)(1, 1) = -1.0;
    (*at)(1, 2) = a, (*b)(2, 1) = a;
    multnpbymmbynp(*at, *b, p, 2, 1);
    EXPECT_EQ(Bits(p(1, 1)), Bits(exact));
}

TEST(MatrixProducts, EmptyDimensions) {
    mvector x, y;
    x.Fill(1.0);
    y.Fill(1.0);
    EXPECT_EQ(multmvectors(x, y, 0), 0.0);
    EXPECT_EQ(multmvectors(x, y, -3), 0.0);
    npvector xn, yn;
    xn.Fill(1.0);
    yn.Fill(1.0);
    EXPECT_EQ(multnpvectors(xn, yn, 0), 0.0);
    EXPECT_EQ(multnpvectors(xn, yn, 3), 3.0);  // element 0 is not part of the sum
}

TEST(MatrixShapes, TransposeAndUnitColumn) {
    auto a = std::make_unique<mbynp>();
    auto b = std::make_unique<mbynp>();
    auto at = std::make_unique<npbym>();
    for (int32_t i = 1; i <= 3; ++i) {
        for (int32_t j = 1; j <= 2; ++j) (*a)(i, j) = 10 * i + j;
    }
    at->Fill(Sentinel);
    transposembynp(*a, *at, 3, 2);
    EXPECT_EQ((*at)(2, 3), 32.0);
    EXPECT_EQ((*at)(1, 2), 21.0);
    EXPECT_EQ((*at)(3, 1), Sentinel);
    EXPECT_EQ((*at)(1, 4), Sentinel);

    // np = 1: only the column of ones.
    b->Fill(Sentinel);
    addunitmbynp(*a, *b, 2, 1);
    EXPECT_EQ((*b)(1, 1), 1.0);
    EXPECT_EQ((*b)(2, 1), 1.0);
    EXPECT_EQ((*b)(1, 2), Sentinel);
    EXPECT_EQ((*b)(3, 1), Sentinel);

    addunitmbynp(*a, *b, 3, 3);
    EXPECT_EQ((*b)(3, 1), 1.0);
    EXPECT_EQ((*b)(3, 2), 31.0);
    EXPECT_EQ((*b)(3, 3), 32.0);

    // In place the columns move right instead of all turning into ones.
    addunitmbynp(*a, *a, 3, 3);
    EXPECT_EQ((*a)(2, 1), 1.0);
    EXPECT_EQ((*a)(2, 2), 21.0);
    EXPECT_EQ((*a)(2, 3), 22.0);
}

TEST(MatrixVectors, ZeroShift) {
    npvector v;
    const double values[] = {9, 1, 2, 3, 7};
    for (int32_t i = 0; i < 5; ++i) v[i] = values[i];
    zeroshiftnpvector(v, 3);
    const double expected[] = {1, 2, 3, 3, 7};
    for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(v[i], expected[i]) << i;
    zeroshiftnpvector(v, 0);
    EXPECT_EQ(v[0], 1.0);
}

TEST(MatrixVectors, SortAndExtrema) {
    mvector v;
    v.Fill(-7.0);
    const double values[] = {3, 1, 2, 1};
    for (int32_t k = 1; k <= 4; ++k) v[k] = values[k - 1];
    sortmvector(v, 4);
    const double sorted[] = {1, 1, 2, 3};
    for (int32_t k = 1; k <= 4; ++k) EXPECT_EQ(v[k], sorted[k - 1]);
    EXPECT_EQ(v[5], -7.0);

    v[1] = 3, v[2] = -1, v[3] = 5;
    EXPECT_EQ(minmvector(v, 3), -1.0);
    EXPECT_EQ(maxmvector(v, 3), 5.0);
    EXPECT_EQ(minmvector(v, 1), 3.0);
    EXPECT_EQ(maxmvector(v, 0), 3.0);

    // Values that compare equal but differ in sign show which one is kept.
    v[1] = 0.0, v[2] = -0.0;
    EXPECT_FALSE(std::signbit(minmvector(v, 2)));  // ties keep the earlier element
    EXPECT_FALSE(std::signbit(maxmvector(v, 2)));
    sortmvector(v, 2);
    EXPECT_FALSE(std::signbit(v[1]));  // equal elements are not exchanged

    EXPECT_EQ(tav::min(1, 2), 1.0);
    EXPECT_EQ(tav::max(1, 2), 2.0);
    EXPECT_TRUE(std::signbit(tav::min(0.0, -0.0)));  // ties return the second argument
    EXPECT_TRUE(std::signbit(tav::max(0.0, -0.0)));
}

TEST(MatrixVectors, SortGivesTheExchangeSortsOrderBitForBit) {
    // Vectors with many ties, with zeros of both signs, and with a NaN, against the classic
    // exchange loop written out here.
    std::mt19937 gen(7);
    for (const int kind : {0, 1, 2}) {
        auto v = std::make_unique<mvector>();
        std::vector<double> classic(MaxData);
        for (int32_t k = 0; k < MaxData; ++k) {
            const double x = static_cast<double>(gen() % 50) - 25.0;
            classic[static_cast<std::size_t>(k)] = kind == 1 && x == 0.0 && k % 2 ? -0.0 : x;
        }
        if (kind == 2) classic[100] = std::numeric_limits<double>::quiet_NaN();
        for (int32_t k = 0; k < MaxData; ++k) (*v)[k + 1] = classic[static_cast<std::size_t>(k)];
        for (std::size_t i = 0; i + 1 < classic.size(); ++i)
            for (std::size_t j = i + 1; j < classic.size(); ++j)
                if (classic[j] < classic[i]) std::swap(classic[i], classic[j]);
        sortmvector(*v, MaxData);
        for (int32_t k = 0; k < MaxData; ++k)
            ASSERT_EQ(std::memcmp(&(*v)[k + 1], &classic[static_cast<std::size_t>(k)], 8), 0)
                << "kind " << kind << ", element " << k;
    }
}

TEST(MatrixChecks, DimensionsBeyondCapacityThrow) {
    auto o = std::make_unique<TOperands>();
    npvector nv;
    o->p_sq.Fill(Sentinel);
    EXPECT_THROW(multnpbymmbynp(o->a_t, o->b, o->p_sq, MaxData + 1, 2), std::out_of_range);
    EXPECT_THROW(multnpbymmbynp(o->a_t, o->b, o->p_sq, 3, MaxTerms + 1), std::out_of_range);
    EXPECT_EQ(o->p_sq(1, 1), Sentinel);  // checked before anything is written
    EXPECT_THROW(multnpbynpnpbym(o->sq, o->a_t, o->p_wide, MaxData + 1, 2), std::out_of_range);
    EXPECT_THROW(multnpbymmvector(o->a_t, o->v, nv, 2, MaxTerms + 1), std::out_of_range);
    EXPECT_THROW(mult1bynpbynpbym(o->r, nv, o->a_t, MaxData + 1, 2), std::out_of_range);
    EXPECT_THROW(transposembynp(o->b, o->a_t, 2, MaxTerms + 1), std::out_of_range);
    EXPECT_THROW(addunitmbynp(o->b, o->b, MaxData + 1, 2), std::out_of_range);
    EXPECT_THROW(zeroshiftnpvector(nv, MaxTerms + 1), std::out_of_range);
    EXPECT_THROW(multmvectors(o->v, o->v, MaxData + 1), std::out_of_range);
    EXPECT_THROW(multnpvectors(nv, nv, MaxTerms + 1), std::out_of_range);
    EXPECT_THROW(minmvector(o->v, MaxData + 1), std::out_of_range);
    EXPECT_THROW(maxmvector(o->v, MaxData + 1), std::out_of_range);
    EXPECT_THROW(sortmvector(o->v, MaxData + 1), std::out_of_range);
    EXPECT_THROW(shownpbynpmatrix(o->sq, MaxTerms + 1, "A", 0), std::out_of_range);
    EXPECT_THROW(showmvector(o->v, MaxData + 1, "v", 0), std::out_of_range);

    // Element access is checked too, with a message that says what went wrong.
    try {
        o->sq(1, 12) = 1.0;
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "matrix column index 12 is outside 1..11");
    }
    EXPECT_THROW(nv[-1], std::out_of_range);
    EXPECT_THROW(o->v[0], std::out_of_range);
    EXPECT_THROW(Matrix::indx[MaxTerms + 1], std::out_of_range);
}

}  // namespace
}  // namespace tav
