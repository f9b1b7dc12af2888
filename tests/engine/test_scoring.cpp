// The fitted equation as SQL, run by SQLite on the records of the fit.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "support/tav_scoring_support.h"
#include "support/tav_test_support.h"
#include "tav/tavtable.h"

using namespace tav;

namespace {

std::vector<tavtest::TScoredRow> Score(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    std::vector<tavtest::TScoredRow> rows;
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
        tavtest::TScoredRow row{std::nullopt, sqlite3_column_int(stmt, 1) != 0};
        if (sqlite3_column_type(stmt, 0) != SQLITE_NULL) row.score = sqlite3_column_double(stmt, 0);
        rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

}  // namespace

TEST(ScoringSQL, SqliteScoresEveryRecordOfTheFitAsTheFitDoes) {
    for (const TFitMethod method : {TFitMethod::NormalEquations, TFitMethod::QR}) {
        TTAVTable t;
        tavtest::Point(t, tavtest::SampleDb(), "sales");
        tavtest::DefineEveryTransformation(t);
        t.SetFitMethod(method);
        t.Open();
        t.ReLoad();
        ASSERT_TRUE(t.ValuesLoaded());
        ASSERT_GT(t.GetLoadAccount().Skipped(), 0);  // some rows must score NULL
        t.Execute();
        ASSERT_EQ(t.GetFitProblem(), TFitProblem::None);
        const std::string sql = t.ScoringSQL(TSqlDialect::SQLite);
        const auto rows = Score(tavtest::SampleDb(),
                                "SELECT " + sql + ", PROFIT IS NOT NULL FROM sales ORDER BY ID");
        EXPECT_EQ(tavtest::CompareWithFit(t, rows), "") << sql;
    }
}

TEST(ScoringSQL, NeedsAValidFitAndNumbers) {
    TTAVTable t;
    tavtest::Point(t, tavtest::SampleDb(), "sales");
    t.SetControl1(tavtest::None("SALEDATE"));
    t.SetResponse(tavtest::Response("PROFIT"));
    EXPECT_THROW(t.ScoringSQL(), Exception);  // nothing fitted yet
    t.Open();
    t.ReLoad();
    t.Execute();
    try {
        t.ScoringSQL();
        FAIL() << "a date field scored";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("'SALEDATE' holds dates"), std::string::npos) << e.Message();
    }
}
