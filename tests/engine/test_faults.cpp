// Faults of the database under a load: each gives one clear error and leaves the component as a
// failed load leaves it (nothing loaded, controls enabled, no progress dialog left).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QApplication>
#include <QFile>
#include <QWidget>

#include "support/tav_test_support.h"
#include "tav/sysutils.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

using namespace tav;

namespace {

// A table t(x, y, pad) of `rows` records, y = 3x + 1, over many pages of the file.
std::string Table(int rows) {
    return "CREATE TABLE t(x REAL, y REAL, pad TEXT);"
           "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < " +
           std::to_string(rows) +
           ") INSERT INTO t SELECT i, 3 * i + 1, printf('%.200c', 'p') FROM s;";
}

void Overwrite(const std::string& path, qint64 offset, qint64 length) {
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(offset);
    f.write(QByteArray(length, '\xa5'));
}

// Loads `c` and gives the error, checking what a failed load leaves.
template <typename Component>
std::string FailedLoad(Component& c) {
    tavtest::TGaugeRecorder gauge;
    std::string error;
    try {
        if (!c.Active()) c.Open();
        c.ReLoad();
    } catch (const Exception& e) {
        error = e.what();
    }
    EXPECT_FALSE(c.ValuesLoaded());
    EXPECT_FALSE(c.ControlsDisabled());
    EXPECT_LE(gauge.Freed(), 1);
    for (const QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible()) << "left open: " << w->metaObject()->className();
    return error;
}

}  // namespace

TEST(Faults, TheDatabaseFileVanishesIsLockedOrCorrupt) {
    tavtest::TTempDb db;
    tavtest::TMessageRecorder messages;
    const struct {
        const char* name;
        std::function<void(const std::string& path, sqlite3* other)> fault;
        std::string error;
    } cases[] = {
        {"vanished",
         [](const std::string& path, sqlite3*) { QFile::remove(QString::fromStdString(path)); },
         "' not found"},
        {"locked by a writer",
         [](const std::string&, sqlite3* other) {
             ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; DELETE FROM t WHERE x < 10;", nullptr,
                                    nullptr, nullptr),
                       SQLITE_OK);
         },
         "': database is locked"},
        {"corrupt in the middle",
         [](const std::string& path, sqlite3*) {
             const qint64 size = QFile(QString::fromStdString(path)).size();
             Overwrite(path, size / 2, 8192);
         },
         "': database disk image is malformed"},
        {"not a database", [](const std::string& path, sqlite3*) { Overwrite(path, 0, 100); },
         "': file is not a database"},
    };
    int k = 0;
    for (const auto& c : cases) {
        const std::string path = db.Exec(Table(2000), "faults" + std::to_string(k++) + ".db");
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
        TTAVTable t;
        tavtest::Point(t, path);
        t.SetControl1(tavtest::None("x"));
        t.SetResponse(tavtest::Response("y"));
        t.SetQueryTimeout(1);  // how long a reader waits for a writer's lock
        c.fault(path, other);
        const std::string error = FailedLoad(t);
        EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.name;
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
    }
    EXPECT_TRUE(messages.Messages().empty()) << messages.Messages().front().text;
}

TEST(Faults, ATimedOutQueryLeavesTheComponentAsAFailedLoad) {
    tavtest::TTempDb db;
    tavtest::TMessageRecorder messages;
    TTAVQuery q;
    q.SetDatabaseName(db.Exec(Table(10)));
    q.SetSQLText(
        "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT n AS x, n AS y "
        "FROM r");
    q.SetControl1(tavtest::None("x"));
    q.SetResponse(tavtest::Response("y"));
    q.SetQueryTimeout(1);
    EXPECT_EQ(FailedLoad(q), "The query did not finish within 1 seconds");
}

TEST(Faults, ACountThatDisagreesWithTheRowsKeepsTheGaugeInRange) {
    // Counted with one row, read with many: rows were added between the count and the read.
    tavtest::TTempDb db;
    const std::string path = db.Exec(Table(1));
    TTAVTable t;
    tavtest::Point(t, path);
    t.SetControl1(tavtest::None("x"));
    t.SetResponse(tavtest::Response("y"));
    t.Open();
    ASSERT_EQ(t.RecordCount(), 1);
    t.Next();
    db.Exec(
        "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 999) "
        "INSERT INTO t SELECT i + 1, 3 * i + 4, 'p' FROM s;");
    tavtest::TGaugeRecorder gauge;
    t.ReLoad();
    EXPECT_TRUE(t.ValuesLoaded());
    EXPECT_EQ(t.DataCount(), 1000);
    EXPECT_EQ(gauge.MaxProgress(), 100);
}
