// The fit over every record: the same answers as the component's fit where both read the same
// records, R's on a table past the cap, and exact least squares on a million records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "support/tav_app_support.h"
#include "support/tav_fit_support.h"
#include "support/tav_paths.h"
#include "support/tav_test_support.h"
#include "tav/csvtable.h"
#include "tav/tavtable.h"

namespace {

using namespace tavtest;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(WholeTable, AgreesWithTheComponentsFitOnTheSameRecords) {
    // Records that every rule of the load refuses somewhere, among usable ones.
    TData data{{"A", "B", "C", "Y"}, {}};
    TRandom random(7);
    for (int i = 0; i < 400; ++i) {
        double a = random.Uniform(1, 10), b = random.Uniform(-50, 50), c = random.Uniform(0, 1);
        double y = 3 + 2 * std::log(a) - 0.5 * b + 4 * c * c + random.Uniform(0, 1);
        if (i % 37 == 0) a = -1;    // no logarithm
        if (i % 41 == 0) b = kNaN;  // null
        if (i % 43 == 0) c = 0;     // no inverse
        if (i % 47 == 0) y = kNaN;
        data.rows.push_back({a, b, c, y});
    }
    TTempDb db;
    const std::string path = WriteTable(db, data);
    for (const bool aliased : {false, true}) {
        TMessageRecorder messages;  // the aliased fit's error box
        tav::TTAVTable table;
        std::vector<tav::TIndepVar> controls = {Control("Log", "A"), None("B"),
                                                Control("Inverse", "C")};
        // B scaled is an alias of B.
        if (aliased) {
            controls.push_back(Control("Scale", "B"));
            controls.back().SetScaleFactor("2");
        }
        LoadTable(table, path, controls);
        table.SetFitMethod(tav::TFitMethod::QR);
        table.Execute();
        table.ExecuteAllRecords();
        const tav::TWholeTableFit& whole = table.WholeTableFit();
        ASSERT_TRUE(whole.Valid()) << whole.Problem();
        const int p = table.VarCount();
        EXPECT_EQ(whole.DataCount(), table.DataCount());
        EXPECT_EQ(whole.GetDOF(), table.GetAnova().residual.df);
        for (int k = 1; k <= p; ++k) EXPECT_EQ(whole.GetAliased(k), table.GetAliased(k)) << k;
        std::string worst;
        EXPECT_GE(LeastDigits(Statistics(whole, p), Statistics(table, p), worst), 12) << worst;
        const tav::TLoadAccount& account = table.GetLoadAccount();
        EXPECT_EQ(whole.RecordsRead(), account.read);
        for (int v = 0; v <= p; ++v)
            for (int r = 0; r < tav::kSkipReasonCount; ++r)
                EXPECT_EQ(whole.Moments().skipped[v][r], account.skipped[v][r]) << v << " " << r;
        EXPECT_EQ(table.WholeTableSummary(), table.LoadSummary());
    }
}

TEST(WholeTable, ReadsPastTheCapAsRDoes) {
    // The formula of make_references.R's make_shifted: the mean moves after record 50000.
    TData data{{"X1", "X2", "Y"}, {}};
    for (int64_t i = 0; i < 100000; ++i) {
        const double x1 = static_cast<double>((i * 37) % 101) / 8;
        const double x2 = static_cast<double>((i * 7919) % 1009) / 16;
        const double noise = static_cast<double>((i * 104729) % 2003 - 1001) / 128;
        data.rows.push_back({x1, x2, (i < 50000 ? 1 : 6) + 0.5 * x1 - 0.25 * x2 + noise});
    }
    TTempDb db;
    tav::TTAVTable table;
    LoadTable(table, WriteTable(db, data), {None("X1"), None("X2")});
    EXPECT_TRUE(table.GetLoadAccount().Capped());
    table.ExecuteAllRecords();
    const tav::TWholeTableFit& whole = table.WholeTableFit();
    std::map<std::string, double> want = ReadReference(std::string(TestDataDir()) +
                                                       "/r/wholetable-shift.ref"),
                                  wanted;
    // R's names of the statistics, by ours.
    const std::map<std::string, std::string> names = {
        {"b0", "coef0"},       {"b1", "coef1"},
        {"b2", "coef2"},       {"se0", "se0"},
        {"se1", "se1"},        {"se2", "se2"},
        {"t0", "t0"},          {"t1", "t1"},
        {"t2", "t2"},          {"adjrsquared", "adjr21"},
        {"sigma", "sigma1"},   {"f", "f1"},
        {"loglik", "loglik1"}, {"aic", "aic1"},
        {"bic", "bic1"}};
    for (const auto& [ours, theirs] : names) wanted[ours] = want.at(theirs);
    EXPECT_EQ(whole.DataCount(), 100000);
    std::string worst;
    const double least = LeastDigits(Statistics(whole, 2), wanted, worst);
    std::printf("shifted table: least %.1f digits against R (%s)\n", least, worst.c_str());
    EXPECT_GE(least, 11) << worst;
    EXPECT_NEAR(whole.GetRSquared(), want["r21"], 1e-13);

    // From a CSV file whose last record makes a column of whole numbers a text: read again
    // with that type, the same sums.
    const std::string csv = db.Path("t.csv");
    std::string text = "X1,X2,Y,Tag\n";
    for (std::size_t i = 0; i < data.rows.size(); ++i) {
        char line[120];
        std::snprintf(line, sizeof line, "%.17g,%.17g,%.17g,%s\n", data.rows[i][0], data.rows[i][1],
                      data.rows[i][2], i + 1 < data.rows.size() ? std::to_string(i).c_str() : "x");
        text += line;
    }
    WriteFile(csv, text);
    const double b1 = whole.Getb(1), se2 = whole.GetStdErrorOfb(2);
    table.ExecuteAllRecords(*tav::OpenCsvStream(csv));
    EXPECT_EQ(table.WholeTableFit().DataCount(), 100000);
    EXPECT_EQ(table.WholeTableFit().Getb(1), b1);
    EXPECT_EQ(table.WholeTableFit().GetStdErrorOfb(2), se2);
}

TEST(WholeTable, TableReadOnTwoThreadsAsOnOne) {
    // A table is read on two threads (the tests above read theirs so), the same records through
    // a view on one: a text that is no number past the middle is named by its record as the
    // single reading names it.
    TData data{{"X", "Y"}, {}};
    for (int i = 0; i < 60000; ++i) data.rows.push_back({i % 1000 / 8.0, i % 101 / 64.0});
    TTempDb db;
    const std::string path = WriteTable(db, data);
    db.Exec("CREATE VIEW v AS SELECT * FROM t; UPDATE t SET X = 'x45000' WHERE rowid = 45000;",
            "t.db");
    std::string errors[2];
    for (int k = 0; k < 2; ++k) {
        tav::TTAVTable table;
        LoadTable(table, path, {None("X")});
        table.Close();
        table.SetTableName(k == 0 ? "t" : "v");
        table.Open();
        errors[k] = ErrorOf([&] { table.ExecuteAllRecords(); });
    }
    EXPECT_NE(errors[0].find("45000"), std::string::npos) << errors[0];
    EXPECT_EQ(errors[0], errors[1]);
}

// Under the address sanitizer a million records add ten times the time and nothing the
// 100,000 above do not check of the streaming's memory.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAV_SANITIZED 1
#endif
#endif

TEST(WholeTable, MillionRecordsAgreeWithExactLeastSquares) {
#ifdef TAV_SANITIZED
    GTEST_SKIP() << "a million records are read in the plain build";
#endif
    // The formula of tests/data/exact/exact_whole.py: columns near 1E6 and 1.7E9.
    TData data{{"X1", "X2", "X3", "Y"}, {}};
    data.rows.reserve(1000000);
    for (int64_t i = 0; i < 1000000; ++i) {
        const int64_t u = (i * 7919) % 10007, c = (i * 31) % 1000 - 500;
        const double x1 = 1000000 + static_cast<double>(u) / 16;
        const double x2 = 1700000000 + static_cast<double>((i * 104729) % 100003) / 8;
        const double y = 7 + 2 * static_cast<double>(c) / 4 - 3 * static_cast<double>(u) / 32 +
                         static_cast<double>((i * 13) % 256) / 32 +
                         static_cast<double>((i * 40503) % 4093 - 2046) / 64;
        data.rows.push_back({x1, x2, static_cast<double>(c) / 4, y});
    }
    TTempDb db;
    tav::TTAVTable table;
    LoadTable(table, WriteTable(db, data), {None("X1"), None("X2"), None("X3")});
    // The same records as a CSV file, streamed as it is read.
    const std::string csv = db.Path("t.csv");
    {
        std::FILE* out = std::fopen(csv.c_str(), "w");
        ASSERT_NE(out, nullptr);
        std::fputs("X1,X2,X3,Y\n", out);
        for (const auto& r : data.rows)
            std::fprintf(out, "%.17g,%.17g,%.17g,%.17g\n", r[0], r[1], r[2], r[3]);
        ASSERT_EQ(std::fclose(out), 0);
    }
    const std::map<std::string, double> want =
        ReadReference(std::string(TestDataDir()) + "/exact/whole-1m.ref");
    for (const bool streamed : {false, true}) {
        if (streamed)
            table.ExecuteAllRecords(*tav::OpenCsvStream(csv));
        else
            table.ExecuteAllRecords();
        const tav::TWholeTableFit& whole = table.WholeTableFit();
        ASSERT_EQ(whole.DataCount(), 1000000);
        std::string worst;
        const double least = LeastDigits(Statistics(whole, 3), want, worst);
        std::printf("million records%s: least %.1f digits (%s), estimated %.1f\n",
                    streamed ? " from CSV" : "", least, worst.c_str(), whole.GetEstimatedDigits());
        EXPECT_GE(least, 11) << worst;
        EXPECT_LE(whole.GetEstimatedDigits(), least);
    }
}

}  // namespace
