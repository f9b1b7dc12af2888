#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <tuple>

#include "support/tav_test_support.h"
#include "tav/sysutils.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

using namespace tav;

namespace {

const std::string LB = "\n\r";

// A table t(i, a, b, c, y) of `rows` records: a = i, b = i mod 7, c = i * i, y = 2i + (i mod 3).
std::string Rows(int rows) {
    return "CREATE TABLE t(i INTEGER, a REAL, b SMALLINT, c DOUBLE, y REAL);"
           "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < " +
           std::to_string(rows) +
           ") INSERT INTO t SELECT i, i, i % 7, i * i, 2 * i + (i % 3) FROM s;";
}

using tavtest::Control;
using tavtest::Point;
using tavtest::Response;

}  // namespace

TEST(Load, ColumnsFollowTheDefinedVariablesInOrder) {
    tavtest::TTempDb db;
    tavtest::TMessageRecorder messages;
    TTAVTable t;
    Point(t, db.Exec(Rows(20)));
    t.SetControl1(Control("None", "a"));
    t.SetControl3(Control("None", "c"));  // ControlVar02 stays undefined
    t.SetResponse(Response("y"));
    t.Open();
    t.ReLoad();
    ASSERT_TRUE(t.ValuesLoaded());
    EXPECT_EQ(t.VarCount(), 2);
    EXPECT_EQ(t.DataCount(), 20);
    EXPECT_EQ(t.GetDOF(), 17);
    EXPECT_EQ(t.GetcVar(2)->Field1(), "c");
    EXPECT_EQ(t.Getx(5, 1), 5.0);
    EXPECT_EQ(t.Getx(5, 2), 25.0);
    EXPECT_EQ(t.Gety(5), 12.0);
    EXPECT_EQ(t.GetxMin(2), 1.0);
    EXPECT_EQ(t.GetxMax(2), 400.0);
    EXPECT_EQ(t.GetyMax(), 40.0 + 2);
    EXPECT_EQ(t.GetyMin(), 3.0);
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_FALSE(t.ControlsDisabled());
    EXPECT_THROW(t.GetcVar(3), std::out_of_range);
    EXPECT_THROW(t.Getx(2501, 1), std::out_of_range);

    // Setters clear ValuesLoaded; LoadValues does not re-read while loaded.
    t.SetControl4(Control("None", "b"));
    EXPECT_FALSE(t.ValuesLoaded());
    t.ReLoad();
    EXPECT_EQ(t.VarCount(), 3);
    t.SetResponse(Response("y"));
    EXPECT_FALSE(t.ValuesLoaded());
}

TEST(Load, InterceptOnlyRegressionChecksTheResponseAlone) {
    tavtest::TTempDb db;
    tavtest::TMessageRecorder messages;
    TTAVQuery q;
    Point(q, db.Exec(Rows(10)));
    q.SetResponse(Response("y"));
    q.Open();
    q.ReLoad();
    EXPECT_TRUE(q.ValuesLoaded());
    EXPECT_EQ(q.VarCount(), 0);
    EXPECT_EQ(q.GetDOF(), 9);
}

TEST(Load, CapAtMaxDataCountsOnlyAcceptedRecords) {
    tavtest::TTempDb db;
    // 3000 records, of which every 10th has a null control value.
    const std::string path = db.Exec(Rows(3000) + "UPDATE t SET a = NULL WHERE i % 10 = 0;");
    for (bool warnings : {false, true}) {
        tavtest::TMessageRecorder messages;
        TTAVTable t;
        Point(t, path);
        t.SetShowWarnings(warnings);
        t.SetControl1(Control("None", "a"));
        t.SetResponse(Response("y"));
        t.Open();
        t.ReLoad();
        EXPECT_EQ(t.DataCount(), 2500);
        // The 2500th accepted record is record 2777 (every 10th skipped).
        EXPECT_EQ(t.Getx(2500, 1), 2777.0);
        const TLoadAccount& account = t.GetLoadAccount();
        EXPECT_EQ(account.read, 2777);
        EXPECT_EQ(account.used, 2500);
        EXPECT_EQ(account.skipped[1][static_cast<int>(TSkipReason::NullField)], 277);
        EXPECT_EQ(account.Skipped(), 277);
        EXPECT_EQ(account.notRead, 3000 - 2777);
        EXPECT_TRUE(account.Capped());
        if (warnings) {
            ASSERT_EQ(messages.Messages().size(), 1u);
            EXPECT_EQ(messages.Messages()[0].text,
                      "Orvenko analyzes a maximum of 2500" + LB +
                          "records. There are 3000 records in" + LB +
                          "in your dataset. You can use table filters" + LB +
                          "to limit the number of eligible records." + LB + LB +
                          "Loading the first 2500 records...");
            EXPECT_EQ(messages.Messages()[0].type, TMsgDlgType::mtWarning);
        } else {
            EXPECT_TRUE(messages.Messages().empty());
        }
    }
    tavtest::TMessageRecorder messages;
    TTAVQuery q;
    Point(q, path);
    q.SetShowWarnings(true);
    q.SetResponse(Response("y"));
    q.Open();
    q.ReLoad();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text,
              "Orvenko analyzes a maximum of 2500" + LB + "Records. There are 3000 records" + LB +
                  "records in your dataset. You can make" + LB +
                  "your query more specific to limit the" + LB + "number of records returned." +
                  LB + LB + "Loading the first 2500 records...");
}

TEST(Load, EverySkippedRecordIsCountedByVariableAndReason) {
    // Twenty good records, then one bad record per line below: a copy of a good one with one
    // value changed. Columns declared REAL keep '' and ' ' as text (what importing a CSV file
    // with empty cells stores) and 1e999 as an infinity.
    using R = TSkipReason;
    struct Bad {
        const char* set;
        int variable;  // 0 the response, k the k-th control
        R reason;
    } bad[] = {
        {"a = NULL", 1, R::NullField},
        {"a = ''", 1, R::EmptyText},
        {"a = ' '", 1, R::EmptyText},
        {"a = 0", 1, R::NotPositive},
        {"a = 'inf'", 1, R::NotFinite},
        {"b = NULL", 2, R::NullField},
        {"c = 0", 2, R::SmallDivisor},
        {"c = 1e999", 2, R::NotFinite},
        {"d = -4", 3, R::NegativeFractionalPower},
        {"e = 10", 4, R::NotFinite},
        {"y = NULL", 0, R::NullField},
        {"y = ''", 0, R::EmptyText},
        {"y = 1e999", 0, R::NotFinite},
        {"a = 0, y = NULL", 1, R::NotPositive},
    };
    std::string sql =
        "CREATE TABLE t(i INTEGER, a REAL, b REAL, c REAL, d REAL, e REAL, y REAL);"
        "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 20)"
        " INSERT INTO t SELECT i, i, i, 1 + i % 3, i, 1 + i % 2, 2 * i + i % 3 FROM s;";
    int expected[MaxTerms + 1][kSkipReasonCount] = {};
    for (size_t k = 0; k < std::size(bad); ++k) {
        sql += "INSERT INTO t SELECT i + 100, a, b, c, d, e, y FROM t WHERE i = 1;UPDATE t SET " +
               std::string(bad[k].set) +
               " WHERE i = 101;UPDATE t SET i = " + std::to_string(200 + k) + " WHERE i = 101;";
        ++expected[bad[k].variable][static_cast<int>(bad[k].reason)];
    }
    tavtest::TTempDb db;
    const std::string path = db.Exec(sql);
    TIndepVar quotient = Control("Quotient", "b"), root = Control("Power", "d"),
              power = Control("Power", "e");
    quotient.SetField2("c");
    root.SetExponent("0.5");
    power.SetExponent("400");
    tavtest::TMessageRecorder messages;
    TTAVQuery q;
    Point(q, path);
    q.SetControl1(Control("Log", "a"));
    q.SetControl2(quotient);
    q.SetControl3(root);
    q.SetControl4(power);
    q.SetResponse(Response("y"));
    q.Open();
    q.ReLoad();
    const TLoadAccount& account = q.GetLoadAccount();
    EXPECT_EQ(account.recordCount, 34);
    EXPECT_EQ(account.read, 34);
    EXPECT_EQ(account.used, 20);
    EXPECT_EQ(q.DataCount(), 20);
    EXPECT_FALSE(account.Capped());
    for (int v = 0; v <= MaxTerms; ++v)
        for (int r = 0; r < kSkipReasonCount; ++r)
            EXPECT_EQ(account.skipped[v][r], expected[v][r])
                << "variable " << v << ", " << SkipReasonText(static_cast<R>(r));

    // Definitions that no record can meet skip every record for their reason.
    for (const auto& [exponent, factor, reason] : {std::tuple{"0.4", "10", R::ExponentBelowHalf},
                                                   std::tuple{"2", "0", R::ZeroScaleFactor}}) {
        TIndepVar first = Control("Power", "a"), second = Control("Scale", "b");
        first.SetExponent(exponent);
        second.SetScaleFactor(factor);
        q.SetControl1(first);
        q.SetControl2(second);
        q.ReLoad();
        const int variable = reason == R::ExponentBelowHalf ? 1 : 2;
        // Missing values are found first: three of a, and for the second variable one of b.
        EXPECT_EQ(q.GetLoadAccount().skipped[variable][static_cast<int>(reason)],
                  reason == R::ExponentBelowHalf ? 34 - 3 : 34 - 3 - 1)
            << SkipReasonText(reason);
        EXPECT_EQ(q.GetLoadAccount().used, 0);
    }
}

TEST(Load, DegreesOfFreedomMessageOnlyBelowPPlusOne) {
    tavtest::TTempDb db;
    const std::string path = db.Exec(Rows(3));
    for (int p : {2, 3}) {
        tavtest::TMessageRecorder messages;
        TTAVTable t;
        Point(t, path);
        t.SetControl1(Control("None", "a"));
        t.SetControl2(Control("None", "c"));
        if (p == 3) t.SetControl3(Control("Log", "a"));
        t.SetResponse(Response("y"));
        t.Open();
        t.ReLoad();
        EXPECT_EQ(t.GetDOF(), 0);
        if (p == 2) {
            EXPECT_TRUE(messages.Messages().empty()) << "n = p + 1 is accepted silently";
        } else {
            ASSERT_EQ(messages.Messages().size(), 1u);
            EXPECT_EQ(messages.Messages()[0].text, "There are 0 degrees of freedom.");
            EXPECT_EQ(messages.Messages()[0].type, TMsgDlgType::mtError);
        }
        EXPECT_TRUE(t.ValuesLoaded()) << "the load still follows the invariance test";
    }
}

TEST(Load, NoValidRecordShowsTheDegreesOfFreedomMessage) {
    tavtest::TTempDb db;
    tavtest::TMessageRecorder messages;
    TTAVQuery q;
    q.SetDatabaseName(db.Exec(Rows(5)));
    q.SetSQLText("SELECT * FROM t WHERE i > 100");
    q.SetResponse(Response("y"));
    q.Open();
    q.ReLoad();
    EXPECT_FALSE(q.ValuesLoaded());
    EXPECT_EQ(q.DataCount(), 0);
    EXPECT_EQ(q.GetDOF(), 0);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"There are 0 degrees of freedom."});
}

TEST(Load, InvariantColumnsWithinTheTolerance) {
    tavtest::TTempDb db;
    const std::string path = db.Exec(
        "CREATE TABLE t(x REAL, z REAL, y REAL);"
        "INSERT INTO t VALUES (1, 1e-21, 1e-21), (2, 2e-21, 2e-21), (3, 3e-21, 5e-21);");
    const std::string expected =
        "The dataset has an invariant" + LB + "column. Matrix is singular!";
    {
        tavtest::TMessageRecorder messages;
        TTAVTable t;
        t.SetDatabaseName(path);
        t.SetTableName("t");
        t.SetControl1(Control("None", "x"));
        t.SetResponse(Response("y"));  // differs by 4e-21 only
        t.Open();
        t.ReLoad();
        EXPECT_FALSE(t.ValuesLoaded());
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{expected});
    }
    {
        tavtest::TMessageRecorder messages;
        TTAVTable t;
        t.SetDatabaseName(path);
        t.SetTableName("t");
        t.SetControl1(Control("None", "x"));
        t.SetControl2(Control("None", "z"));  // varies by 2e-21 only
        t.SetResponse(Response("x"));
        t.Open();
        t.ReLoad();
        EXPECT_FALSE(t.ValuesLoaded());
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{expected});
        EXPECT_EQ(messages.Messages()[0].type, TMsgDlgType::mtError);
    }
}

TEST(Load, TableGaugeFollowsTheLoadAndQueryGaugeStaysAtZero) {
    tavtest::TTempDb db;
    const std::string path = db.Exec(Rows(100) + "UPDATE t SET a = NULL WHERE i % 10 = 0;");
    {
        tavtest::TGaugeRecorder gauge;
        TTAVTable t;
        Point(t, path);
        t.SetShowLoadProgress(true);
        t.SetControl1(Control("None", "a"));
        t.SetResponse(Response("y"));
        t.Open();
        t.ReLoad();
        ASSERT_FALSE(gauge.Steps().empty());
        EXPECT_EQ(gauge.Steps().back().progress, 90) << "90 accepted of 100 records";
        EXPECT_EQ(gauge.Steps().back().text, "Records Loaded: 90");
        EXPECT_TRUE(gauge.EverVisible());
        EXPECT_EQ(gauge.Freed(), 1);
    }
    {
        tavtest::TGaugeRecorder gauge;
        TTAVQuery q;
        Point(q, path);
        q.SetControl1(Control("None", "a"));
        q.SetResponse(Response("y"));
        q.Open();
        q.ReLoad();
        ASSERT_EQ(gauge.Steps().size(), 2u) << "set once before the load, never after";
        for (const auto& step : gauge.Steps()) EXPECT_EQ(step.progress, 0);
        EXPECT_EQ(gauge.Steps().back().text, "Records Loaded: 0");
        EXPECT_EQ(gauge.Freed(), 1);
    }
    {
        // Without ShowLoadProgress the progress is still followed and ended, never shown.
        tavtest::TGaugeRecorder gauge;
        TTAVTable t;
        Point(t, path);
        t.SetResponse(Response("y"));
        t.Open();
        t.ReLoad();
        EXPECT_EQ(gauge.Steps().back().progress, 100);
        EXPECT_FALSE(gauge.EverVisible());
        EXPECT_EQ(gauge.Freed(), 1);
    }
}

TEST(Load, GaugeStopsShortWithMoreThanMaxDataRecords) {
    tavtest::TTempDb db;
    tavtest::TGaugeRecorder gauge;
    TTAVTable t;
    Point(t, db.Exec(Rows(2600)));
    t.SetResponse(Response("y"));
    t.Open();
    t.ReLoad();
    EXPECT_EQ(gauge.Steps().back().progress, static_cast<int>(100.0 * 2500 / 2600));  // 96
    EXPECT_EQ(gauge.Steps().back().text, "Records Loaded: 2500");
}

TEST(Load, BadInputRaisesAndLeavesNothingHalfDone) {
    tavtest::TTempDb db;
    const std::string path = db.Exec(Rows(10) + "INSERT INTO t VALUES (11, 'n/a', 1, 1, 1);");
    auto attempt = [&](auto configure) {
        tavtest::TMessageRecorder messages;
        tavtest::TGaugeRecorder gauge;
        TTAVTable t;
        Point(t, path);
        t.SetResponse(Response("y"));
        configure(t);
        std::string error;
        try {
            if (!t.Active()) t.Open();
            t.ReLoad();
        } catch (const Exception& e) {
            error = e.what();
        }
        EXPECT_FALSE(t.ValuesLoaded());
        EXPECT_FALSE(t.ControlsDisabled()) << "controls re-enabled after a failed load";
        EXPECT_LE(gauge.Freed(), 1);
        return error;
    };
    EXPECT_EQ(attempt([](TTAVTable& t) { t.SetControl1(Control("None", "nope")); }),
              "Field 'nope' not found");
    EXPECT_EQ(attempt([](TTAVTable& t) {
                  TIndepVar v = Control("Power", "b");
                  v.SetExponent("x");
                  t.SetControl1(v);
              }),
              "'x' is not a valid floating point value");
    EXPECT_EQ(attempt([](TTAVTable& t) { t.SetControl1(Control("None", "a")); }),
              "'n/a' is not a valid floating point value for field 'a' in record 11");
    EXPECT_EQ(attempt([](TTAVTable& t) {
                  TStringList shortDef;
                  shortDef.Add("Active");
                  shortDef.Add("None");
                  TIndepVar v;
                  v.Assign(shortDef);
                  t.SetControl1(v);
              }),
              "List index out of bounds (2)");

    // Not open: the dataset's own error.
    tavtest::TMessageRecorder messages;
    TTAVTable closed;
    Point(closed, path);
    closed.SetResponse(Response("y"));
    EXPECT_THROW(closed.ReLoad(), EDatabaseError);
    EXPECT_FALSE(closed.ValuesLoaded());
}
