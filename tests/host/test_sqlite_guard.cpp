#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdlib>

#include "host/data/dbconnection.h"
#include "support/tav_test_support.h"

using namespace tav;

namespace {

std::string Count(const std::string& path) {
    TQuery q;
    q.SetDatabaseName(path);
    q.SetSQLText("SELECT * FROM t");
    const std::string error = tavtest::ErrorOf([&] { q.Open(); });
    return error.empty() ? std::to_string(q.RecordCount()) : error;
}

}  // namespace

TEST(SqliteGuard, TheDatabaseSaysWhatOneStatementIs) {
    tavtest::TTempDb db;
    const auto c = OpenSqliteFile(db.Exec("CREATE TABLE t(v);"), "Database 'x'", 0);
    for (const char* sql : {"SELECT 1; DROP TABLE t", "SELECT 1; SELECT 2", "SELECT 1; nonsense"})
        EXPECT_EQ(tavtest::ErrorOf([&] { c->Cursor(sql); }), std::string("Database 'x': \"") + sql +
                                                                 "\" was refused: a query runs one "
                                                                 "statement, not several");
    EXPECT_EQ(tavtest::ErrorOf([&] { c->Cursor("SELECT 1 ;; -- end\n/* more */ ;\n")->Exec(); }),
              "");
}

TEST(SqliteGuard, EveryBoundCountsFromTheStartWhateverTheFormSays) {
    tavtest::TTempDb db;
    const std::string path = db.Exec("CREATE TABLE t(v);");
    const std::string slowRows =
        "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r WHERE n < 2000) "
        "SELECT length(hex(randomblob(4000000))) AS v FROM r";
    const struct { int queryTimeout, cap; } cases[] = {{1, 0}, {0, 1}, {86400, 1}, {1, 60}};
    for (const auto& c : cases) {
        SetStatementTimeoutCap(c.cap);
        TQuery q;
        q.SetDatabaseName(path);
        q.SetSQLText(slowRows);
        q.SetQueryTimeout(c.queryTimeout);
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(tavtest::ErrorOf([&] {
                      for (q.Open(); !q.Eof();) q.Next();
                  }),
                  "The query did not finish within 1 seconds");
        EXPECT_LT(timer.elapsed(), 10000) << c.queryTimeout << " " << c.cap;
    }
    SetStatementTimeoutCap(0);
}

TEST(SqliteGuard, AQueryThatAsksForGigabytesRunsOutOfMemoryClearly) {
    tavtest::TTempDb db;
    const std::string path = db.Exec("CREATE TABLE t(v);");
    SetSqliteHeapLimit(64 << 20);
    EXPECT_EQ(tavtest::ErrorOf([&] {
                  OpenSqliteFile(path, "Database 'x'", 0)
                      ->Cursor("SELECT randomblob(99999999), randomblob(99999999)")
                      ->Exec();
              }),
              "Database 'x': out of memory (the database may use at most 64 MiB)");
    SetSqliteHeapLimit(kDefaultSqliteHeapLimit);
}

TEST(SqliteGuard, AWalDatabaseIsReadWholeOrRefusedAndLeftAsItWas) {
    tavtest::TTempDb db;
    const std::string path =
        db.Exec("PRAGMA journal_mode = WAL; CREATE TABLE t(v); INSERT INTO t VALUES (1);", "w.db");
    EXPECT_EQ(Count(path), "1");
    EXPECT_EQ(QDir(QString::fromStdString(db.Path(""))).entryList(QDir::Files),
              QStringList{"w.db"});

    // A writer's row in the log, copied to a folder nobody may write to; the database alone.
    const QString ro = QString::fromStdString(db.Path("ro"));
    ASSERT_TRUE(QDir().mkpath(ro));
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
    sqlite3_exec(writer, "PRAGMA wal_autocheckpoint = 0; INSERT INTO t VALUES (2);", nullptr,
                 nullptr, nullptr);
    for (const char* file : {"w.db", "w.db-wal"})
        QFile::copy(QString::fromStdString(db.Path(file)), ro + "/" + file);
    QFile::copy(QString::fromStdString(path), ro + "/alone.db");
    sqlite3_close(writer);
    if (std::system(("chattr +i '" + ro.toStdString() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot make a folder that nobody may write to (chattr +i)";
    EXPECT_EQ(Count(ro.toStdString() + "/w.db"),
              "Database '" + ro.toStdString() +
                  "/w.db': its write-ahead log 'w.db-wal' holds changes that cannot be read (the "
                  "folder is not writable); checkpoint it, or read it where it can be written");
    EXPECT_EQ(Count(ro.toStdString() + "/alone.db"), "1");
    EXPECT_EQ(std::system(("chattr -i '" + ro.toStdString() + "'").c_str()), 0);
}
