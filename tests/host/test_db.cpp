#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>

#include "support/tav_test_support.h"
#include "tav/classes.h"
#include "tav/db.h"
#include "tav/sysutils.h"
#include "tav/tavtypes.h"

using namespace tav;

namespace {

const char* kTypesTable = R"sql(
CREATE TABLE types (
    F_REAL REAL, F_FLOAT FLOAT, F_DOUBLE DOUBLE PRECISION, F_NUMERIC NUMERIC(10,2),
    F_MONEY MONEY, F_INT INTEGER, F_BIGINT BIGINT, F_SMALL SMALLINT, F_WORD WORD,
    F_TEXT TEXT, F_CHAR VARCHAR(20), F_DATE DATE, F_DATETIME DATETIME, F_TIME TIME,
    F_BOOL BOOLEAN, F_MEMO MEMO, F_BLOB BLOB);
INSERT INTO types VALUES (1.5, 2.5, 3.5, 4.25, 5.75, 6, 7, 8, 9, 'ten', 'eleven',
    '2024-01-02', '2024-01-02 12:00:00', '06:00:00', 1, 'long text', x'00ff');
)sql";

}  // namespace

TEST(Fields, ClassesFollowTheDeclaredColumnType) {
    tavtest::TTempDb db;
    TTable t;
    t.SetDatabaseName(db.Exec(kTypesTable));
    t.SetTableName("types");
    t.Open();
    const std::pair<const char*, const char*> expected[] = {
        {"F_REAL", "TFloatField"},        {"F_FLOAT", "TFloatField"},
        {"F_DOUBLE", "TFloatField"},      {"F_NUMERIC", "TFloatField"},
        {"F_MONEY", "TCurrencyField"},    {"F_INT", "TIntegerField"},
        {"F_BIGINT", "TIntegerField"},    {"F_SMALL", "TSmallintField"},
        {"F_WORD", "TWordField"},         {"F_TEXT", "TStringField"},
        {"F_CHAR", "TStringField"},       {"F_DATE", "TDateField"},
        {"F_DATETIME", "TDateTimeField"}, {"F_TIME", "TTimeField"},
        {"F_BOOL", "TBooleanField"},      {"F_MEMO", "TMemoField"},
        {"F_BLOB", "TBlobField"}};
    ASSERT_EQ(t.FieldCount(), 17);
    for (const auto& [name, cls] : expected) EXPECT_STREQ(t.FieldByName(name)->ClassName(), cls);

    // NumericField: float, integer, small-integer, word and currency, and what derives from them.
    for (const char* numeric : {"F_REAL", "F_MONEY", "F_INT", "F_SMALL", "F_WORD"})
        EXPECT_TRUE(NumericField(t.FieldByName(numeric))) << numeric;
    for (const char* other : {"F_TEXT", "F_DATE", "F_BOOL", "F_MEMO", "F_BLOB"})
        EXPECT_FALSE(NumericField(t.FieldByName(other))) << other;

    EXPECT_EQ(t.FieldByName("F_MONEY")->AsFloat(), 5.75);
    EXPECT_EQ(t.FieldByName("f_small")->AsFloat(), 8.0) << "lookup ignores case";
    EXPECT_EQ(t.FieldByName("F_DATE")->AsFloat(), 45293.0) << "days since 1899-12-30";
    EXPECT_EQ(t.FieldByName("F_DATETIME")->AsFloat(), 45293.5);
    EXPECT_EQ(t.FieldByName("F_TIME")->AsFloat(), 0.25) << "the fraction of a day";
    EXPECT_EQ(t.FieldByName("F_TEXT")->AsString(), "ten");

    TStringList names;
    t.GetFieldNames(names);
    ASSERT_EQ(names.Count(), 17);
    EXPECT_EQ(names[0], "F_REAL");
    EXPECT_EQ(names[16], "F_BLOB");
}

TEST(Fields, ExpressionColumnsTakeTheirClassFromTheFirstValue) {
    tavtest::TTempDb db;
    TQuery q;
    q.SetDatabaseName(db.Exec("CREATE TABLE t(a SMALLINT); INSERT INTO t VALUES (3);"));
    q.SetSQLText("SELECT a, a * 1.5 AS R, a + 1 AS I, 'x' AS S, NULL AS N FROM t");
    q.Open();
    EXPECT_STREQ(q.FieldByName("a")->ClassName(), "TSmallintField");
    EXPECT_STREQ(q.FieldByName("R")->ClassName(), "TFloatField");
    EXPECT_STREQ(q.FieldByName("I")->ClassName(), "TIntegerField");
    EXPECT_STREQ(q.FieldByName("S")->ClassName(), "TStringField");
    EXPECT_TRUE(q.FieldByName("N")->IsNull());
}

TEST(DataSet, ForwardReadingCountingAndRerunning) {
    tavtest::TTempDb db;
    TTable t;
    t.SetDatabaseName(
        db.Exec("CREATE TABLE \"odd \"\"name\"\"\"(v REAL);"
                "INSERT INTO \"odd \"\"name\"\"\" VALUES (1),(2),(3);"));
    t.SetTableName("odd \"name\"");  // quoted as an identifier, embedded quotes doubled
    t.Open();
    EXPECT_EQ(t.RecordCount(), 3);
    double sum = 0;
    int seen = 0;
    for (t.First(); !t.Eof(); t.Next()) {
        sum += t.FieldByName("v")->AsFloat();
        ++seen;
    }
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(sum, 6.0);
    t.Next();  // past the end stays at the end
    EXPECT_TRUE(t.Eof());
    t.First();  // runs the statement again
    EXPECT_FALSE(t.Eof());
    EXPECT_EQ(t.FieldByName("v")->AsFloat(), 1.0);

    EXPECT_THROW(t.SetTableName("other"), EDatabaseError) << "not while open";
    t.Close();
    EXPECT_FALSE(t.Active());

    TQuery q;
    q.SetDatabaseName(t.DatabaseName());
    q.SetSQLText("SELECT v FROM \"odd \"\"name\"\"\" WHERE v > 1;\n");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 2);

    TQuery empty;
    empty.SetDatabaseName(t.DatabaseName());
    empty.SetSQLText("SELECT v FROM \"odd \"\"name\"\"\" WHERE v > 10");
    empty.Open();
    EXPECT_TRUE(empty.Eof());
    EXPECT_EQ(empty.RecordCount(), 0);
}

TEST(DataSet, ErrorsNameTheirCulprit) {
    tavtest::TTempDb db;
    const std::string path =
        db.Exec("CREATE TABLE t(v REAL, s TEXT); INSERT INTO t VALUES ('abc', 'x');");

    TTable closed;
    closed.SetDatabaseName(path);
    closed.SetTableName("t");
    EXPECT_THROW(closed.First(), EDatabaseError);
    EXPECT_THROW(closed.RecordCount(), EDatabaseError);

    // A missing database file is an error, and no empty file is left behind.
    TTable missing;
    const std::string nowhere = db.Path("nowhere.db");
    missing.SetDatabaseName(nowhere);
    missing.SetTableName("t");
    try {
        missing.Open();
        FAIL() << "expected EDatabaseError";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("nowhere.db"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(nowhere)));
    EXPECT_FALSE(missing.Active());

    TQuery bad;
    bad.SetDatabaseName(path);
    bad.SetSQLText("SELECT v FROM t WHERE AND");
    try {
        bad.Open();
        FAIL() << "expected EDatabaseError";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("syntax error"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(bad.Active());

    TTable noTable;
    noTable.SetDatabaseName(path);
    noTable.SetTableName("absent");
    EXPECT_THROW(noTable.Open(), EDatabaseError);

    TTable t;
    t.SetDatabaseName(path);
    t.SetTableName("t");
    t.Open();
    try {
        t.FieldByName("w");
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Field 'w' not found");
    }
    // A text in a numeric column is an error naming the field, never a silent 0.
    try {
        t.FieldByName("v")->AsFloat();
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(),
                     "'abc' is not a valid floating point value for field 'v' in record 1");
    }
}

TEST(DataSet, ReadsSqliteFilesThroughItsOwnConnectionWalIncluded) {
    // A WAL database whose -shm file cannot be made beside it (here a folder stands in its
    // place, as a read-only folder would refuse the file) still reads; and so does a file named
    // through a configured Qt connection of the SQLite driver.
    tavtest::TTempDb db;
    const std::string path = db.Exec(
        "PRAGMA journal_mode=WAL; CREATE TABLE t(v REAL); INSERT INTO t VALUES (1), (2), (3);",
        "wal.db");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path + "-shm")));
    QSqlDatabase configured = QSqlDatabase::addDatabase("QSQLITE", "configured-wal");
    configured.setDatabaseName(QString::fromStdString(path));
    for (const std::string& name : {path, std::string("configured-wal")}) {
        TTable t;
        t.SetDatabaseName(name);
        t.SetTableName("t");
        t.Open();
        EXPECT_EQ(t.RecordCount(), 3) << name;
        double sum = 0;
        for (; !t.Eof(); t.Next()) sum += t.FieldByName("v")->AsFloat();
        EXPECT_EQ(sum, 6.0) << name;
    }
    configured = QSqlDatabase();
    QSqlDatabase::removeDatabase("configured-wal");
}

TEST(DataSet, SplitsOnlyATableReadInTheOrderOfItsRowids) {
    // 50000 records, a tenth of the first half deleted; the column named rowid leaves the
    // rowids to another of their names. A view, a table without rowids, a small table and a
    // database in WAL mode (whose writers a reader does not hold off) are not split.
    tavtest::TTempDb db;
    const std::string n =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50000) ";
    const std::string path =
        db.Exec("CREATE TABLE t(rowid REAL, x REAL);" + n + "INSERT INTO t SELECT -i, i FROM n;" +
                "DELETE FROM t WHERE x <= 25000 AND x % 10 = 0; CREATE VIEW v AS SELECT * FROM t;" +
                "CREATE TABLE w(k INTEGER PRIMARY KEY) WITHOUT ROWID;" + n +
                "INSERT INTO w SELECT i FROM n;" +
                "CREATE TABLE small(x REAL); INSERT INTO small SELECT x FROM t LIMIT 30000;");
    const std::string wal = db.Exec(
        "PRAGMA journal_mode=WAL; CREATE TABLE t(x);" + n + "INSERT INTO t SELECT i FROM n;",
        "wal.db");
    int64_t before = 0;
    for (const auto& [file, table] :
         {std::pair{path, "t"}, std::pair{path, "v"}, std::pair{path, "w"},
          std::pair{path, "small"}, std::pair{wal, "t"}}) {
        TTable t;
        t.SetDatabaseName(file);
        t.SetTableName(table);
        t.Open();
        const std::unique_ptr<TDataSet> rest = t.SplitRest(before);
        EXPECT_EQ(rest != nullptr, file == path && std::string(table) == "t") << table;
        if (!rest) continue;
        EXPECT_EQ(before, 22500);
        EXPECT_EQ(rest->RecordCount(), 25000);
        EXPECT_EQ(rest->FieldByName("x")->AsFloat(), 25001.0);
        EXPECT_EQ(rest->FieldByName("rowid")->AsFloat(), -25001.0);
    }
}

TEST(StringList, IndexErrorsAndAssign) {
    TStringList a;
    a.Add("one");
    a.Add("two");
    try {
        a.Strings(2);
        FAIL();
    } catch (const EStringListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (2)");
    }
    EXPECT_THROW(a.SetStrings(-1, "x"), EStringListError);
    TStringList b;
    b.Add("x");
    b.Assign(a);
    EXPECT_EQ(b.Items(), a.Items());
    EXPECT_EQ(a.Text(), "one\n\rtwo\n\r");
}

TEST(Component, OwnerFreesWhatItOwns) {
    struct Probe : TComponent {
        Probe(TComponent* owner, int* deaths) : TComponent(owner), deaths_(deaths) {}
        ~Probe() override { ++*deaths_; }
        int* deaths_;
    };
    int deaths = 0;
    {
        TComponent owner;
        new Probe(&owner, &deaths);
        auto* early = new Probe(&owner, &deaths);
        EXPECT_EQ(owner.ComponentCount(), 2);
        delete early;  // leaves the owner's list
        EXPECT_EQ(owner.ComponentCount(), 1);
        EXPECT_EQ(deaths, 1);
    }
    EXPECT_EQ(deaths, 2);
}
