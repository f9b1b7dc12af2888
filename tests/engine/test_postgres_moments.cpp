// The server's sums of a whole table: the records it uses and skips, and the moments of those it
// uses, are the load's, on a table with every kind of record the rules refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/servermoments.h"
#include "support/tav_fit_support.h"
#include "support/tav_paths.h"
#include "support/tav_pg_support.h"
#include "support/tav_test_support.h"
#include "tav/tavtable.h"

using namespace tav;

namespace {

using ServerMomentsTest = tavtest::TPgTest;

// Regular records, and then one of each kind a rule refuses or a bound would break: nulls, empty
// and blank texts, values out of each rule's range, stored infinities, products and powers past
// the double range and below it.
constexpr const char* kTable = R"(
DROP TABLE IF EXISTS moments;
CREATE TABLE moments (y float8, a float8, b float8, t text, r real, g boolean);
INSERT INTO moments SELECT 1000 + 3 * i + sin(i) * 7, (i % 9) - 3.25, i * 0.37 - 11,
    CASE WHEN i % 5 = 0 THEN ' ' || i || ' ' ELSE (i * 0.1)::text END, i * 0.1, i % 3 = 0
  FROM generate_series(1, 120) AS i;
INSERT INTO moments VALUES (NULL, 1, 1, '1', 1, true), (5, NULL, 1, '1', 1, true),
  (5, 1, NULL, '1', 1, true), (5, 1, 1, NULL, 1, true), (5, 1, 1, '', 1, true),
  (5, 1, 1, '   ', 1, true), (5, 0, 1, '1', 1, true), (5, -2, 0, '1', 1, true),
  (5, 1e200, 1e200, '1', 1, true), (5, 1e-200, 1e-200, '1', 1, false),
  (5, 1e-300, 1e300, '1', 2, false), (5, 1e300, 1e-300, '1', 2, false),
  (5, 'Infinity', 2, '1', 1, true), (5, 2, 'NaN', '1', 1, true), ('Infinity', 2, 2, '1', 1, true),
  (-1, 2, 2, '1', NULL, true), (5, 1e100, 2, '2', 1e30, NULL), (5, -1e100, 3, '2', -1, true),
  (5, 5.6e102, 1, '1', 1, true), (5, -5.65e102, 1, '1', 1, true);
)";

struct TDefinition {
    const char* response;  // the response's transformation and field
    const char* field;
    std::vector<TIndepVar> controls;
};

TIndepVar With(TIndepVar var, int entry, const std::string& text) {
    var.SetStrings(entry, text);
    return var;
}

std::vector<TDefinition> Definitions() {
    using tavtest::Control;
    return {
        {"None",
         "y",
         {Control("None", "a"), Control("Product", "a", "b"), Control("Log", "b"),
          Control("Inverse", "a"), Control("Quotient", "b", "a"), Control("None", "t"),
          Control("Sqrt", "r"), With(Control("Power", "a"), 4, "3"),
          With(Control("Power", "b"), 4, "1.5"), Control("None", "g")}},
        {"Log",
         "y",
         {With(Control("Power", "a"), 4, "4"), Control("Quotient", "a", "b"),
          Control("Product", "a", "b")}},
        {"Inverse",
         "a",
         {With(Control("Scale", "a"), 5, "1e-19"), With(Control("Scale", "a"), 5, "1e300"),
          Control("Log", "t")}},
        {"Scale", "b", {With(Control("Scale", "b"), 5, "0")}},
    };
}

TEST_F(ServerMomentsTest, SkipsAndSumsTheRecordsTheLoadUses) {
    static const bool created = (tavtest::Psql(Server(), kTable), true);
    ASSERT_TRUE(created);
    for (const TDefinition& def : Definitions()) {
        SCOPED_TRACE(def.response + std::string(" with ") + def.controls.front().OutputTerm());
        TTAVTable table;
        tavtest::Point(table, Url(), "moments");
        table.SetResponse(tavtest::Response(def.field, def.response));
        for (std::size_t k = 0; k < def.controls.size(); ++k)
            table.SetControl(static_cast<int>(k + 1), def.controls[k]);
        table.Open();
        tavtest::TMessageRecorder messages;  // the invariant columns' and no freedom's
        table.ReLoad();
        ASSERT_TRUE(ServerCanSum(table));
        const int m = table.VarCount();
        const TIndepVar* controls[MaxTerms];
        for (int k = 1; k <= m; ++k) controls[k - 1] = table.GetcVar(static_cast<uint16_t>(k));
        const TTableMoments got = ServerMoments(table, *table.ResponseVarY(), controls, m);

        const TLoadAccount& account = table.GetLoadAccount();
        EXPECT_EQ(got.variables, m);
        EXPECT_EQ(got.read, account.read);
        EXPECT_EQ(got.used, account.used);
        for (int v = 0; v <= m; ++v)
            for (int reason = 0; reason < kSkipReasonCount; ++reason)
                EXPECT_EQ(got.skipped[v][reason], account.skipped[v][reason])
                    << "variable " << v << ": " << SkipReasonText(TSkipReason(reason));

        // The loaded arrays' moments, in long double.
        const int n = table.DataCount();
        const auto value = [&](int i, int v) { return v == 0 ? table.Gety(i) : table.Getx(i, v); };
        const auto near = [](long double a, long double b, long double scale) {
            return std::fabs(a - b) <= 1e-12L * scale;
        };
        for (int j = 0; j <= m && n > 0; ++j) {
            long double mean = 0, lo = value(1, j), hi = lo;
            for (int i = 1; i <= n; ++i) {
                mean += value(i, j);
                lo = std::min<long double>(lo, value(i, j));
                hi = std::max<long double>(hi, value(i, j));
            }
            mean /= n;
            EXPECT_TRUE(near(got.mean[j], mean, std::fabs(mean) + hi - lo)) << "mean " << j;
            // (The server's power and logarithm may differ from the load's in the last bit.)
            EXPECT_TRUE(near(got.min[j], lo, std::fabs(lo))) << got.min[j] << " " << j;
            EXPECT_TRUE(near(got.max[j], hi, std::fabs(hi))) << got.max[j] << " " << j;
            for (int k = 0; k <= j; ++k) {
                long double cross = 0, mk = 0, sj = 0, sk = 0;
                for (int i = 1; i <= n; ++i) mk += value(i, k);
                mk /= n;
                for (int i = 1; i <= n; ++i) {
                    cross += (value(i, j) - mean) * (value(i, k) - mk);
                    sj += (value(i, j) - mean) * (value(i, j) - mean);
                    sk += (value(i, k) - mk) * (value(i, k) - mk);
                }
                EXPECT_TRUE(near(got.cross[j][k], cross, std::sqrt(sj * sk)))
                    << "cross " << j << "," << k << ": " << static_cast<double>(got.cross[j][k])
                    << " instead of " << static_cast<double>(cross);
                EXPECT_EQ(got.cross[k][j], got.cross[j][k]);
            }
        }
    }
}

TEST_F(ServerMomentsTest, ATextThatIsNoNumberIsTheServersError) {
    tavtest::Psql(Server(),
                  "DROP TABLE IF EXISTS moments_text; CREATE TABLE moments_text AS SELECT * FROM "
                  "(VALUES (1.0, '2'), "
                  "(NULL, 'x'), (2.0, ' 3 '), (3.0, 'four')) AS v(y, t)");
    TTAVTable table;
    tavtest::Point(table, Url(), "moments_text");
    table.SetResponse(tavtest::Response("y"));
    const TIndepVar control = tavtest::Control("None", "t");
    table.SetControl1(control);
    table.Open();
    const TIndepVar* controls[] = {&control};
    // The record skipped for its response never reaches the text; the last one does.
    const std::string error =
        tavtest::ErrorOf([&] { ServerMoments(table, *table.ResponseVarY(), controls, 1); });
    EXPECT_NE(error.find("invalid input syntax for type double precision: \"four\""),
              std::string::npos)
        << error;
    EXPECT_THROW(table.ReLoad(), EConvertError);
}

// The table of tests/data/exact/exact_whole.py, made by the server: columns near 1E6 and 1.7E9.
TEST_F(ServerMomentsTest, MillionRecordsAgreeWithExactLeastSquares) {
    tavtest::Psql(Server(), R"(
DROP TABLE IF EXISTS whole;
CREATE TABLE whole AS SELECT
    1000000 + ((i * 7919) % 10007)::float8 / 16 AS x1,
    1700000000 + ((i * 104729) % 100003)::float8 / 8 AS x2,
    ((i * 31) % 1000 - 500)::float8 / 4 AS x3,
    7 + ((i * 31) % 1000 - 500)::float8 / 2 - 3 * ((i * 7919) % 10007)::float8 / 32 +
        ((i * 13) % 256)::float8 / 32 + ((i * 40503) % 4093 - 2046)::float8 / 64 AS y
  FROM generate_series(0::bigint, 999999) AS i;
)");
    TTAVTable table;
    tavtest::Point(table, Url(), "whole");
    table.SetResponse(tavtest::Response("y"));
    table.SetControl1(tavtest::None("x1"));
    table.SetControl2(tavtest::None("x2"));
    table.SetControl3(tavtest::None("x3"));
    table.Open();
    table.ExecuteAllRecords();
    const TWholeTableFit& whole = table.WholeTableFit();
    EXPECT_EQ(whole.Strategy(), TWholeTableStrategy::Server);
    ASSERT_EQ(whole.DataCount(), 1000000);
    std::string worst;
    const double least = tavtest::LeastDigits(
        tavtest::Statistics(whole, 3),
        tavtest::ReadReference(std::string(tavtest::TestDataDir()) + "/exact/whole-1m.ref"), worst);
    std::printf("million records in the server: least %.1f digits (%s), estimated %.1f\n", least,
                worst.c_str(), whole.GetEstimatedDigits());
    EXPECT_GE(least, 11) << worst;
    EXPECT_LE(whole.GetEstimatedDigits(), least);
}

}  // namespace
