// The products of the fit and the dot product against plain loops in the order of their
// definitions, bit for bit: on every number of terms, on record counts around the group widths
// of the routines, on X'X (summed as a symmetric product) and operands that only nearly have its
// shape, on the row of ones of X', and, for the dot product's fused steps, on terms built to lie
// near a rounding boundary.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "support/tav_test_support.h"
#include "tav/matrix.h"

namespace tav {
namespace {

using tavtest::Bits;

// Signed, over nine binades, with all 53 bits of the significand random: a product rounded to
// double, a fused step or a sum kept in extended precision soon gives another bit somewhere.
double Value(tavtest::TRandom& r, int32_t spread = 4) {
    const double significand = r.Uniform(-1.0, 1.0) + r.Uniform(-1.0, 1.0) * 0x1p-27;
    return std::ldexp(significand, static_cast<int>(spread % 9) - 4);
}

template <typename M>
void Fill(M& a, tavtest::TRandom& r) {
    for (int32_t i = M::RowLow; i <= M::RowHigh; ++i)
        for (int32_t j = M::ColLow; j <= M::ColHigh; ++j) a(i, j) = Value(r, i + 3 * j);
}

// The whole object, bit for bit: the leading region and the rest the routine must leave alone.
template <typename T>
void ExpectSame(const T& want, const T& got, const char* what) {
    EXPECT_EQ(std::memcmp(&want, &got, sizeof(T)), 0) << what;
}

struct TData {
    mbynp x, x2, want_x, got_x;
    npbym xt, at, want_w, got_w;
    npbynp sq, want_sq, got_sq;
    mvector v, want_v, got_v;
    npvector b, want_b, got_b;
};

TEST(MatrixProductBits, EveryRoutineOnEveryShape) {
    tavtest::TRandom r(11);
    auto d = std::make_unique<TData>();
    Fill(d->x, r), Fill(d->x2, r), Fill(d->at, r), Fill(d->sq, r);
    for (int32_t k = 1; k <= MaxData; ++k) d->v[k] = Value(r, k);
    for (int32_t i = 0; i <= MaxTerms; ++i) d->b[i] = Value(r, i);
    transposembynp(d->x, d->xt, MaxData, MaxTerms);
    auto ones = std::make_unique<npbym>(d->xt);  // X' of a fit: a row of ones, one missing
    for (int32_t j = 1; j <= MaxData; ++j) (*ones)(1, j) = j == 70 ? 1.0 + 0x1p-52 : 1.0;
    auto sq0 = std::make_unique<npbynp>(d->sq);
    (*sq0)(1, 1) = -0.0;  // first term -0 * 1, whose sum with the initial zero is +0
    auto near = std::make_unique<npbym>();

    for (int32_t np = 0; np <= MaxTerms; ++np) {
        for (int32_t m : {0, 1, 2, 17, 31, 32, 33, 250, MaxData}) {
            SCOPED_TRACE(testing::Message() << "m = " << m << ", np = " << np);
            const auto gram = [&](const npbym& a, const mbynp& b, const char* what) {
                d->want_sq.Fill(-7.0), d->got_sq.Fill(-7.0);
                for (int32_t i = 1; i <= np; ++i)
                    for (int32_t j = 1; j <= np; ++j) {
                        double s = 0.0;
                        for (int32_t k = 1; k <= m; ++k) s = AddProduct(s, a(i, k), b(k, j));
                        d->want_sq(i, j) = s;
                    }
                multnpbymmbynp(a, b, d->got_sq, m, np);
                ExpectSame(d->want_sq, d->got_sq, what);
            };
            gram(d->xt, d->x, "X'X");
            gram(d->at, d->x, "unrelated A");
            gram(d->xt, d->x2, "B not the transpose");
            *near = d->xt;
            (*near)(std::max(np, 1), std::max(m, 1)) *= -1.0;  // found out at the last record
            gram(*near, d->x, "A the transpose but for the last record");

            for (const auto& [a, b] :
                 {std::pair{&d->sq, &d->at}, std::pair{sq0.get(), ones.get()}}) {
                d->want_w.Fill(-7.0), d->got_w.Fill(-7.0);
                for (int32_t i = 1; i <= np; ++i)
                    for (int32_t j = 1; j <= m; ++j) {
                        double s = 0.0;
                        for (int32_t k = 1; k <= np; ++k) s = AddProduct(s, (*a)(i, k), (*b)(k, j));
                        d->want_w(i, j) = s;
                    }
                multnpbynpnpbym(*a, *b, d->got_w, m, np);
                ExpectSame(d->want_w, d->got_w, "(X'X)^-1 X'");
                for (int32_t i = np + 1; i <= MaxTerms; ++i)  // in place: B outside the result
                    for (int32_t j = 1; j <= MaxData; ++j) d->want_w(i, j) = (*b)(i, j);
                for (int32_t i = 1; i <= np; ++i)
                    for (int32_t j = m + 1; j <= MaxData; ++j) d->want_w(i, j) = (*b)(i, j);
                d->got_w = *b;
                multnpbynpnpbym(*a, d->got_w, d->got_w, m, np);
                ExpectSame(d->want_w, d->got_w, "(X'X)^-1 X' in place");

                d->want_v.Fill(-7.0), d->got_v.Fill(-7.0);
                for (int32_t k = 1; k <= m; ++k) {
                    double s = 0.0;
                    for (int32_t i = 1; i <= np; ++i) s = AddProduct(s, d->b[i], (*b)(i, k));
                    d->want_v[k] = s;
                }
                mult1bynpbynpbym(d->got_v, d->b, *b, m, np);
                ExpectSame(d->want_v, d->got_v, "b' X'");
            }

            d->want_b.Fill(-7.0), d->got_b.Fill(-7.0);
            for (int32_t i = 1; i <= np; ++i) {
                double s = 0.0;
                for (int32_t k = 1; k <= m; ++k) s = AddProduct(s, d->at(i, k), d->v[k]);
                d->want_b[i] = s;
            }
            multnpbymmvector(d->at, d->v, d->got_b, m, np);
            ExpectSame(d->want_b, d->got_b, "(X'X)^-1 X' y");

            d->want_v.Fill(-7.0), d->got_v.Fill(-7.0);
            for (int32_t i = 1; i <= m; ++i) {
                double s = 0.0;
                for (int32_t k = 1; k <= np; ++k) s = AddProduct(s, d->b[k], d->x(i, k));
                d->want_v[i] = s;
            }
            multmbynpnpvector(d->x, d->b, d->got_v, m, np);
            ExpectSame(d->want_v, d->got_v, "fitted values");

            d->want_w.Fill(-7.0), d->got_w.Fill(-7.0);
            for (int32_t i = 1; i <= m; ++i)
                for (int32_t j = 1; j <= np; ++j) d->want_w(j, i) = d->x(i, j);
            transposembynp(d->x, d->got_w, m, np);
            ExpectSame(d->want_w, d->got_w, "transpose");

            d->want_x = d->x2;  // into another block, and in place
            for (int32_t i = 1; i <= m; ++i)
                for (int32_t j = 1; j <= np; ++j) d->want_x(i, j) = j == 1 ? 1.0 : d->x(i, j - 1);
            d->got_x = d->x2;
            addunitmbynp(d->x, d->got_x, m, np);
            ExpectSame(d->want_x, d->got_x, "unit column");
            for (int32_t i = 1; i <= MaxData; ++i)
                for (int32_t j = 1; j <= MaxTerms; ++j)
                    if (i > m || j > np) d->want_x(i, j) = d->x(i, j);
            d->got_x = d->x;
            addunitmbynp(d->got_x, d->got_x, m, np);
            ExpectSame(d->want_x, d->got_x, "unit column in place");
        }
    }

    // The data must tell the stated arithmetic from plain double, fused and unrounded sums, or
    // the comparisons above would pass for a routine that lost the extended precision.
    int32_t plain = 0, fused = 0, unrounded = 0;
    for (int32_t i = 1; i <= MaxTerms; ++i) {
        double stated = 0.0, p = 0.0, f = 0.0;
        long double u = 0.0L;
        for (int32_t k = 1; k <= MaxData; ++k) {
            const double a = d->at(i, k), c = d->v[k];
            stated = AddProduct(stated, a, c);
            volatile double product = a * c;
            p += product, f = std::fma(a, c, f), u += static_cast<long double>(a) * c;
        }
        plain += Bits(stated) != Bits(p), fused += Bits(stated) != Bits(f);
        unrounded += Bits(stated) != Bits(static_cast<double>(u));
    }
    EXPECT_GT(plain, 0);
    EXPECT_GT(fused, 0);
    EXPECT_GT(unrounded, 0);
}

// multmvectors takes a fused multiply-add for a term only where that provably gives the stated
// result; here are the terms where one rounding and the stated two give different doubles,
// found by search: s + x * y with x * y small beside s, cancelling half of s or more, and taking
// s to about the midpoint below a power of two. The first term makes the sum s exactly.
TEST(MatrixProductBits, DotProductNearRoundingBoundariesAndAtTheEnds) {
    tavtest::TRandom r(22);
    auto a = std::make_unique<mvector>(), b = std::make_unique<mvector>();
    const auto check = [&](double s, double x, double y, int32_t m) {
        (*a)[1] = s, (*b)[1] = 1.0;
        for (int32_t k = 2; k <= m; ++k) (*a)[k] = x, (*b)[k] = y;
        double want = 0.0;
        for (int32_t k = 1; k <= m; ++k) want = AddProduct(want, (*a)[k], (*b)[k]);
        ASSERT_EQ(Bits(want), Bits(multmvectors(*a, *b, m)))
            << std::hexfloat << s << " + " << x << " * " << y << ", m = " << m;
    };
    int32_t found[3] = {};
    for (int32_t trial = 0; trial < 6000000 && std::min({found[0], found[1], found[2]}) < 150;
         ++trial) {
        const int kind = trial % 3, e = static_cast<int>(trial % 41) - 20;
        double s = std::ldexp(Value(r), e), x = Value(r), y;
        if (kind == 0) {
            y = Value(r) * std::ldexp(std::fabs(s), -1 - static_cast<int>(trial % 11));
        } else if (kind == 1) {
            y = -s * r.Uniform(0.25, 1.0) / x;
        } else {
            const double j = std::floor(r.Uniform(0.0, 4.0));
            s = std::ldexp(1.0 + j * 0x1p-52, e);
            y = -std::ldexp(j * 0x1p-52 + 0x1p-54 + Value(r) * 0x1p-58, e) / x;
        }
        if (!std::isfinite(y) || Bits(AddProduct(s, x, y)) == Bits(std::fma(x, y, s))) continue;
        ++found[kind];
        check(s, x, y, 2);
    }
    EXPECT_GE(std::min({found[0], found[1], found[2]}), 150);

    const double inf = std::numeric_limits<double>::infinity(), tiny = 0x1p-1074;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double ends[][3] = {{-0.0, -0.0, 1.0},
                              {1.0, -1.0, 1.0},
                              {3e-310, 1e-300, 1e-10},
                              {DBL_MIN, -0.75, DBL_MIN},
                              {5 * tiny, 3.0, tiny},
                              {0x1p-969, 0.25, 0x1p-969},
                              {DBL_MAX, 1.0, 0x1p970},
                              {DBL_MAX, 1.0, 0x1p969},
                              {0.75 * DBL_MAX, 0.5, DBL_MAX},
                              {1.0, inf, 2.0},
                              {inf, -inf, 1.0},
                              {1.0, nan, 2.0},
                              {0x1p60, -1.0, 1.0},
                              {1.0, -0x1p-54, 1.0 + 0x1p-52}};
    for (const auto& c : ends) {
        check(c[0], c[1], c[2], 2);
        check(c[0], c[1], c[2], 40);
    }
}

}  // namespace
}  // namespace tav
