// The products of the fit against plain loops in the order of their definitions, bit for bit, on
// every number of terms, on record counts that do and do not fill the groups of sums the routines
// advance together, on X'X (which is computed as a symmetric product) and on operands that only
// nearly have its shape.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "matrix/matrix.h"
#include "matrix_test_support.h"

namespace tav {
namespace {

using test::Bits;

constexpr double Sentinel = -77.0;
constexpr int32_t RecordCounts[] = {1, 2, 15, 16, 17, 31, 33, 250, MaxData};

struct TBlock {
    mbynp x, x2;
    npbym xt, at, p, ref;
    npbynp sq, xtx, ref_sq;
    mvector v, r, ref_r;
};

// Signed values over many binades, with all 53 bits of the significand in use: products then need
// more than 53 bits, rounding shows in nearly every partial sum, and a product rounded to double
// before it is added, a sum rounded once per term (a fused multiply-add) or a sum kept in extended
// precision soon gives a different bit somewhere.
double Value(test::TRandom& random, int32_t spread) {
    const double significand = random.Uniform(-1.0, 1.0) + random.Uniform(-1.0, 1.0) * 0x1p-27;
    return significand * std::ldexp(1.0, static_cast<int>(spread % 9) - 4);
}

std::unique_ptr<TBlock> MakeBlock(uint32_t seed) {
    test::TRandom random(seed);
    auto d = std::make_unique<TBlock>();
    for (int32_t i = 1; i <= MaxData; ++i) {
        for (int32_t j = 1; j <= MaxTerms; ++j) {
            d->x(i, j) = Value(random, i + j);
            d->x2(i, j) = Value(random, 3 * i + j);
        }
        d->v[i] = Value(random, i);
    }
    for (int32_t i = 1; i <= MaxTerms; ++i) {
        for (int32_t j = 1; j <= MaxData; ++j) d->at(i, j) = Value(random, i * j);
        for (int32_t j = 1; j <= MaxTerms; ++j) d->sq(i, j) = Value(random, i + 2 * j);
    }
    // The exact transpose, as the fit builds it.
    for (int32_t i = 1; i <= MaxData; ++i) {
        for (int32_t j = 1; j <= MaxTerms; ++j) d->xt(j, i) = d->x(i, j);
    }
    return d;
}

// P[i, j] = sum over k of A[i, k] * B[k, j], k increasing, with checked element access.
template <typename MA, typename MB, typename MP>
void Reference(const MA& a, const MB& b, MP& p, int32_t rows, int32_t inner, int32_t cols) {
    for (int32_t i = 1; i <= rows; ++i) {
        for (int32_t j = 1; j <= cols; ++j) {
            double sum = 0.0;
            for (int32_t k = 1; k <= inner; ++k) sum = AddProduct(sum, a(i, k), b(k, j));
            p(i, j) = sum;
        }
    }
}

// Every element of the leading rows x cols region as in `expected`, every other one the
// sentinel.
template <typename M>
void ExpectRegion(const M& expected, const M& actual, int32_t rows, int32_t cols) {
    for (int32_t i = M::RowLow; i <= M::RowHigh; ++i) {
        for (int32_t j = M::ColLow; j <= M::ColHigh; ++j) {
            const double want = (i <= rows && j <= cols) ? expected(i, j) : Sentinel;
            ASSERT_EQ(Bits(want), Bits(actual(i, j))) << "element " << i << ", " << j;
        }
    }
}

void CheckGram(const npbym& a, const mbynp& b, TBlock& d, int32_t m, int32_t np) {
    d.xtx.Fill(Sentinel);
    d.ref_sq.Fill(Sentinel);
    multnpbymmbynp(a, b, d.xtx, m, np);
    Reference(a, b, d.ref_sq, np, m, np);
    ExpectRegion(d.ref_sq, d.xtx, np, np);
}

TEST(MatrixProductBits, GramOfTheTransposeAndOfOtherOperands) {
    auto d = MakeBlock(11);
    for (int32_t np = 1; np <= MaxTerms; ++np) {
        for (int32_t m : RecordCounts) {
            SCOPED_TRACE(testing::Message() << "m = " << m << ", np = " << np);
            CheckGram(d->xt, d->x, *d, m, np);   // the transpose: the symmetric path
            CheckGram(d->at, d->x, *d, m, np);   // unrelated operands
            CheckGram(d->xt, d->x2, *d, m, np);  // B differs from the transpose
        }
    }
}

// An operand that is the transpose up to one element is found out at that record, after part of
// the symmetric sums has been formed; the result must still be A.B.
TEST(MatrixProductBits, GramOfANearTranspose) {
    auto d = MakeBlock(12);
    auto near = std::make_unique<npbym>();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct TChange {
        int32_t term, record;
        double value;
    };
    for (const TChange c : {TChange{1, 1, 0.5}, TChange{MaxTerms, MaxData / 2, -3.0},
                            TChange{4, MaxData, 1e-300}, TChange{2, 17, 0.0}}) {
        for (int32_t np : {c.term, MaxTerms}) {
            SCOPED_TRACE(testing::Message()
                         << "element " << c.term << ", " << c.record << ", np = " << np);
            *near = d->xt;
            (*near)(c.term, c.record) = c.value;
            CheckGram(*near, d->x, *d, MaxData, np);
        }
    }

    // A zero of the other sign, and a NaN in both operands at the same place: the transpose in
    // appearance only, and a case the symmetric path leaves alone.
    auto x = std::make_unique<mbynp>(d->x);
    for (const double odd : {0.0, nan}) {
        SCOPED_TRACE(odd);
        (*x)(9, 3) = odd;
        for (int32_t i = 1; i <= MaxData; ++i) {
            for (int32_t j = 1; j <= MaxTerms; ++j) (*near)(j, i) = (*x)(i, j);
        }
        if (odd == 0.0) (*near)(3, 9) = -0.0;
        CheckGram(*near, *x, *d, MaxData, MaxTerms);
    }
    EXPECT_TRUE(std::isnan(d->xtx(3, 3)));
}

TEST(MatrixProductBits, SquareTimesWideIncludingInPlace) {
    auto d = MakeBlock(13);
    for (int32_t np = 1; np <= MaxTerms; ++np) {
        for (int32_t m : RecordCounts) {
            SCOPED_TRACE(testing::Message() << "m = " << m << ", np = " << np);
            d->p.Fill(Sentinel);
            d->ref.Fill(Sentinel);
            multnpbynpnpbym(d->sq, d->at, d->p, m, np);
            Reference(d->sq, d->at, d->ref, np, np, m);
            ExpectRegion(d->ref, d->p, np, m);

            // In place, the result replaces the leading part of B and leaves the rest.
            d->p = d->at;
            multnpbynpnpbym(d->sq, d->p, d->p, m, np);
            for (int32_t i = 1; i <= MaxTerms; ++i) {
                for (int32_t j = 1; j <= MaxData; ++j) {
                    const bool inside = i <= np && j <= m;
                    ASSERT_EQ(Bits(inside ? d->ref(i, j) : d->at(i, j)), Bits(d->p(i, j)))
                        << "element " << i << ", " << j;
                }
            }
        }
    }
}

// The fit multiplies by X' whose first row is all ones; the routines notice and form the first
// term of each sum once. A one missing in one group of columns, and a negative zero (whose sum
// with the initial zero is a positive zero), must not make a difference.
TEST(MatrixProductBits, ProductsWithTheRowOfOnes) {
    auto d = MakeBlock(16);
    for (int32_t j = 1; j <= MaxData; ++j) d->xt(1, j) = 1.0;
    d->xt(1, 70) = 1.0 + 0x1p-52;
    d->xt(1, 2000) = -1.0;
    d->sq(1, 1) = -0.0;  // with np = 1 the whole sum
    test::TRandom random(116);
    npvector b;
    for (int32_t i = 0; i <= MaxTerms; ++i) b[i] = Value(random, i);
    for (int32_t np : {1, 2, 7, MaxTerms}) {
        for (int32_t m : {33, 64, 100, MaxData}) {
            SCOPED_TRACE(testing::Message() << "m = " << m << ", np = " << np);
            d->p.Fill(Sentinel);
            d->ref.Fill(Sentinel);
            multnpbynpnpbym(d->sq, d->xt, d->p, m, np);
            Reference(d->sq, d->xt, d->ref, np, np, m);
            ExpectRegion(d->ref, d->p, np, m);

            for (const double first : {b[1], -0.0}) {
                b[1] = first;
                d->r.Fill(Sentinel);
                mult1bynpbynpbym(d->r, b, d->xt, m, np);
                for (int32_t k = 1; k <= MaxData; ++k) {
                    double want = Sentinel;
                    if (k <= m) {
                        want = 0.0;
                        for (int32_t i = 1; i <= np; ++i)
                            want = AddProduct(want, b[i], d->xt(i, k));
                    }
                    ASSERT_EQ(Bits(want), Bits(d->r[k])) << k;
                }
            }
        }
    }
}

TEST(MatrixProductBits, VectorProducts) {
    auto d = MakeBlock(14);
    test::TRandom random(114);
    for (int32_t np = 1; np <= MaxTerms; ++np) {
        for (int32_t m : RecordCounts) {
            SCOPED_TRACE(testing::Message() << "m = " << m << ", np = " << np);
            npvector r;
            r.Fill(Sentinel);
            multnpbymmvector(d->at, d->v, r, m, np);
            for (int32_t i = 0; i <= MaxTerms; ++i) {
                double want = Sentinel;
                if (i >= 1 && i <= np) {
                    want = 0.0;
                    for (int32_t k = 1; k <= m; ++k) want = AddProduct(want, d->at(i, k), d->v[k]);
                }
                ASSERT_EQ(Bits(want), Bits(r[i])) << i;
            }

            npvector b;
            for (int32_t i = 0; i <= MaxTerms; ++i) b[i] = Value(random, i);
            d->r.Fill(Sentinel);
            mult1bynpbynpbym(d->r, b, d->xt, m, np);
            for (int32_t k = 1; k <= MaxData; ++k) {
                double want = Sentinel;
                if (k <= m) {
                    want = 0.0;
                    for (int32_t i = 1; i <= np; ++i) want = AddProduct(want, b[i], d->xt(i, k));
                }
                ASSERT_EQ(Bits(want), Bits(d->r[k])) << k;
            }
        }
    }
}

TEST(MatrixProductBits, FittedValuesOfAllRecords) {
    auto d = MakeBlock(17);
    test::TRandom random(117);
    npvector b;
    for (int32_t i = 0; i <= MaxTerms; ++i) b[i] = Value(random, i);
    b[0] = std::numeric_limits<double>::quiet_NaN();  // never read
    for (int32_t np = 0; np <= MaxTerms; ++np) {
        for (int32_t m : RecordCounts) {
            SCOPED_TRACE(testing::Message() << "m = " << m << ", np = " << np);
            d->r.Fill(Sentinel);
            multmbynpnpvector(d->x, b, d->r, m, np);
            for (int32_t i = 1; i <= MaxData; ++i) {
                double want = Sentinel;
                if (i <= m) {
                    want = 0.0;
                    for (int32_t k = 1; k <= np; ++k) want = AddProduct(want, b[k], d->x(i, k));
                }
                ASSERT_EQ(Bits(want), Bits(d->r[i])) << i;
            }
        }
    }
    EXPECT_THROW(multmbynpnpvector(d->x, b, d->r, MaxData + 1, 1), std::out_of_range);
    EXPECT_THROW(multmbynpnpvector(d->x, b, d->r, 1, MaxTerms + 1), std::out_of_range);
}

// The data above must be able to tell the stated arithmetic from plain double arithmetic and from
// a fused multiply-add (one rounding per term) and from a sum kept in extended precision;
// otherwise the comparisons would pass for a
// routine that lost the extended precision or the rounding after each term.
TEST(MatrixProductBits, DataTellTheArithmeticApart) {
    auto d = MakeBlock(11);
    int32_t plainDiffers = 0, fusedDiffers = 0, unroundedDiffers = 0;
    for (int32_t i = 1; i <= MaxTerms; ++i) {
        for (int32_t j = 1; j <= MaxTerms; ++j) {
            double stated = 0.0, plain = 0.0, fused = 0.0;
            long double unrounded = 0.0L;
            for (int32_t k = 1; k <= MaxData; ++k) {
                const double a = d->xt(i, k), b = d->x(k, j);
                stated = AddProduct(stated, a, b);
                volatile double product = a * b;
                plain = plain + product;
                fused = std::fma(a, b, fused);
                unrounded += static_cast<long double>(a) * static_cast<long double>(b);
            }
            plainDiffers += Bits(stated) != Bits(plain);
            fusedDiffers += Bits(stated) != Bits(fused);
            unroundedDiffers += Bits(stated) != Bits(static_cast<double>(unrounded));
        }
    }
    EXPECT_GT(plainDiffers, 0);
    EXPECT_GT(fusedDiffers, 0);
    EXPECT_GT(unroundedDiffers, 0);
}

TEST(MatrixProductBits, TransposeAndUnitColumnOnEveryShape) {
    auto d = MakeBlock(15);
    for (int32_t np = 1; np <= MaxTerms; ++np) {
        for (int32_t m : RecordCounts) {
            SCOPED_TRACE(testing::Message() << "m = " << m << ", np = " << np);
            d->p.Fill(Sentinel);
            transposembynp(d->x, d->p, m, np);
            for (int32_t i = 1; i <= MaxTerms; ++i) {
                for (int32_t j = 1; j <= MaxData; ++j) {
                    const double want = (i <= np && j <= m) ? d->x(j, i) : Sentinel;
                    ASSERT_EQ(Bits(want), Bits(d->p(i, j))) << i << ", " << j;
                }
            }

            // Into another block and in place: the same result, the rest untouched.
            d->x2.Fill(Sentinel);
            addunitmbynp(d->x, d->x2, m, np);
            auto in_place = std::make_unique<mbynp>(d->x);
            addunitmbynp(*in_place, *in_place, m, np);
            for (int32_t i = 1; i <= MaxData; ++i) {
                for (int32_t j = 1; j <= MaxTerms; ++j) {
                    const bool inside = i <= m && j <= np;
                    const double want = !inside ? Sentinel : j == 1 ? 1.0 : d->x(i, j - 1);
                    ASSERT_EQ(Bits(want), Bits(d->x2(i, j))) << i << ", " << j;
                    ASSERT_EQ(Bits(inside ? want : d->x(i, j)), Bits((*in_place)(i, j)))
                        << i << ", " << j;
                }
            }
        }
    }
}

}  // namespace
}  // namespace tav
