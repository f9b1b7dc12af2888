// Datasets on PostgreSQL: connection URLs and configured connections, the field class of every
// mapped type, identifiers that need their quotes, and reading that never writes.
#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cmath>
#include <iterator>

#include "host/data/dbconnection.h"
#include "support/tav_pg_support.h"
#include "tav/classes.h"
#include "tav/db.h"
#include "tav/sysutils.h"
#include "tav/tavtypes.h"

using namespace tav;

namespace {

using PostgreSQL = tavtest::TPgTest;

// The application's own connection to the test database, configured under `name`.
QSqlDatabase Configure(const tavtest::TPgAddress& a, const QString& name) {
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", name);
    db.setHostName(QString::fromStdString(a.host));
    db.setPort(a.port);
    db.setUserName(QString::fromStdString(a.user));
    db.setDatabaseName(QString::fromStdString(a.database));
    return db;
}

// Opens the dataset and reads all its records and their count, as a load does.
void ReadAll(TDataSet& d) {
    d.Open();
    d.RecordCount();
    for (; !d.Eof(); d.Next()) {
    }
}

}  // namespace

TEST_F(PostgreSQL, EveryTypeHasItsFieldClass) {
    // The three records of table types: plain values, nulls, negative or large values (money
    // then reads "-$1,234,567.89"). NaN: the value is not checked.
    const double unchecked = NAN;
    const struct {
        const char* name;
        const char* fieldClass;
        bool numeric;
        double first, third;
    } columns[] = {
        {"f_int2", "TSmallintField", true, 8, -8},
        {"f_int4", "TIntegerField", true, 6, -6},
        {"f_int8", "TIntegerField", true, 7, 4e9},
        {"f_float4", "TFloatField", true, 1.5, -2.5},
        {"f_float8", "TFloatField", true, 3.5, 1e300},
        {"f_numeric", "TFloatField", true, 4.25, -1234567.89},
        {"f_money", "TCurrencyField", true, 5.75, -1234567.89},
        {"f_bool", "TBooleanField", false, 1, 0},
        {"f_varchar", "TStringField", false, unchecked, unchecked},
        {"f_bpchar", "TStringField", false, unchecked, unchecked},
        {"f_text", "TStringField", false, unchecked, unchecked},
        // Days since 1899-12-30, as for SQLite's dates.
        {"f_date", "TDateField", false, 45293, 0},
        {"f_time", "TTimeField", false, 0.25, 0},
        {"f_timestamp", "TDateTimeField", false, 45293.5, 0},
        {"f_timestamptz", "TDateTimeField", false, unchecked, unchecked},
        {"f_bytea", "TBlobField", false, unchecked, unchecked},
    };
    TTable t;
    t.SetDatabaseName(Url());
    t.SetTableName("types");
    t.Open();
    ASSERT_EQ(t.FieldCount(), static_cast<int>(std::size(columns)));
    for (int record = 1; record <= 3; ++record, t.Next()) {
        ASSERT_FALSE(t.Eof());
        for (const auto& c : columns) {
            const TField* f = t.FieldByName(c.name);
            if (record == 1) {
                EXPECT_STREQ(f->ClassName(), c.fieldClass) << c.name;
                EXPECT_EQ(NumericField(f), c.numeric) << c.name;
            }
            EXPECT_EQ(f->IsNull(), record == 2) << c.name << " in record " << record;
            const double expected = record == 1 ? c.first : c.third;
            if (record != 2 && !std::isnan(expected)) {
                EXPECT_EQ(f->AsFloat(), expected) << c.name << " in record " << record;
            }
        }
        if (record == 1) {
            EXPECT_EQ(t.FieldByName("f_varchar")->AsString(), "eleven");
            EXPECT_EQ(t.FieldByName("f_bpchar")->AsString(), "twelve  ");
            EXPECT_EQ(t.FieldByName("F_TEXT")->AsString(), "ten") << "lookup ignores case";
        }
    }
    EXPECT_TRUE(t.Eof());
}

TEST_F(PostgreSQL, IdentifiersKeepTheirCaseBlanksQuotesAndDots) {
    for (const std::string table : {"Sales Data", "Odd \"Name\".v2"}) {
        TTable t;
        t.SetDatabaseName(Url());
        t.SetTableName(table);
        t.Open();
        EXPECT_EQ(t.RecordCount(), 300) << table;
        TStringList names;
        t.GetFieldNames(names);
        ASSERT_EQ(names.Count(), 3) << table;
        EXPECT_EQ(names[0], "Id");
        EXPECT_EQ(names[1], "Profit");
        EXPECT_EQ(names[2], "advert Cost");
        EXPECT_EQ(t.FieldByName("Profit")->AsFloat(), 1061.2) << table;
        EXPECT_STREQ(t.FieldByName("advert Cost")->ClassName(), "TFloatField") << table;

        const std::string where = " FROM " + QuoteIdentifier(table) + " WHERE \"Profit\" > 1000";
        TQuery q;
        q.SetDatabaseName(Url());
        q.SetSQLText("SELECT \"advert Cost\"" + where);
        q.Open();
        EXPECT_EQ(std::to_string(q.RecordCount()) + "\n",
                  tavtest::Psql(Server(), "SELECT count(*)" + where))
            << table;
    }
}

TEST_F(PostgreSQL, DatabaseNameIsAUrlOrAConfiguredConnection) {
    Configure(Server(), "tav-pg");
    for (const std::string& name : {Url(), Server().Url("postgres"), std::string("tav-pg")}) {
        TTable t;
        t.SetDatabaseName(name);
        t.SetTableName("sales");
        t.Open();
        EXPECT_EQ(t.RecordCount(), 300) << name;
        EXPECT_EQ(t.FieldByName("PROFIT")->AsFloat(), 1061.2) << name;
    }
    // Refused, with the reason, never repeating a password.
    tavtest::TPgAddress password = Server(), noDatabase = Server(), noServer = Server();
    password.user = "tav:s3cret";
    noDatabase.database = "nodb";
    noServer.port = 1;
    const struct {
        std::string name;
        const char* says;
    } refused[] = {
        {password.Url(), "password"},
        {password.Url("postgres"), "password"},
        {noDatabase.Url(), "nodb"},
        {noServer.Url(), "refused"},
    };
    for (const auto& r : refused) {
        TTable t;
        t.SetDatabaseName(r.name);
        t.SetTableName("sales");
        try {
            t.Open();
            ADD_FAILURE() << "opened " << r.name;
        } catch (const EDatabaseError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(r.says), std::string::npos) << what;
            EXPECT_EQ(what.find("s3cret"), std::string::npos) << what;
        }
        EXPECT_FALSE(t.Active()) << r.name;
    }
}

TEST_F(PostgreSQL, NothingWritesWhateverTheSql) {
    // A write in the statement, and ways out of a read-only transaction: ending it and asking
    // for writing in the next, or asking for writing before the transaction has read anything.
    const char* statements[] = {
        "WITH d AS (DELETE FROM sales RETURNING *) SELECT * FROM d",
        "COMMIT; WITH d AS (DELETE FROM victim RETURNING id) SELECT id FROM d",
        ("COMMIT; SET SESSION CHARACTERISTICS AS TRANSACTION READ WRITE;"
         " WITH d AS (DELETE FROM victim RETURNING id) SELECT id FROM d"),
        "SET TRANSACTION READ WRITE; WITH d AS (DELETE FROM victim RETURNING id) SELECT id FROM d",
        "SELECT nextval('victim_seq') AS id",
        // Read otherwise than the server reads them, these would hide the statements after them.
        "SELECT ARRAY[']'] AS a; COMMIT; DELETE FROM victim; SELECT ''",
        "SELECT E'\\''; COMMIT; DELETE FROM victim; SELECT 1",
        "SELECT 1 /* /* */ */; COMMIT; DELETE FROM victim",
        "SELECT $$;$$; COMMIT; DELETE FROM victim",
        "SELECT U&'\\'; COMMIT; DELETE FROM victim; SELECT ';'",
        "SELECT 1; SET LOCAL statement_timeout = 0",
        "SET statement_timeout = 0",
        "/* c */ COMMIT",
    };
    const std::string state =
        "SELECT (SELECT count(*) FROM sales), (SELECT count(*) FROM victim), last_value, "
        "is_called FROM victim_seq";
    ASSERT_EQ(tavtest::Psql(Server(), state), "300|10|1|f\n");
    Configure(Server(), "tav-pg");
    for (const std::string& database : {Url(), std::string("tav-pg")}) {
        for (const char* sql : statements) {
            TQuery q;
            q.SetDatabaseName(database);
            q.SetSQLText(sql);
            EXPECT_THROW(ReadAll(q), EDatabaseError) << database << ": " << sql;
            EXPECT_EQ(tavtest::Psql(Server(), state), "300|10|1|f\n") << database << ": " << sql;
        }
    }
}

TEST_F(PostgreSQL, TheServerRunsOneStatementAndNoticesComeEscaped) {
    // Past the reader: the server itself refuses a second statement, in the cursor and the count.
    const auto connection = Connect(Url(), "", 0);
    const std::string twice = "SELECT 1; DELETE FROM victim";
    for (bool count : {false, true}) {
        try {
            count ? (void)connection->Count(twice) : (void)connection->Cursor(twice)->Exec();
            ADD_FAILURE() << "ran " << twice;
        } catch (const EDatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find("multiple commands"), std::string::npos);
        }
    }
    EXPECT_EQ(tavtest::Psql(Server(), "SELECT count(*) FROM victim"), "10\n");

    // A function's warnings, with an escape sequence, line ends and a bidi control in them.
    tavtest::Psql(Server(),
                  "CREATE OR REPLACE FUNCTION tav_noisy() RETURNS int LANGUAGE plpgsql AS $f$ "
                  "BEGIN FOR i IN 1..30 LOOP RAISE WARNING '%', E'red\\x1b[31m\\nnext\\u202e'; "
                  "END LOOP; RETURN 1; END $f$");
    static QStringList notices;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& m) {
            if (QString(context.category) == "tav.sql") notices << m;
        });
    TQuery q;
    q.SetDatabaseName(Url());
    q.SetSQLText("SELECT tav_noisy() AS n");
    q.Open();  // (the record count's session has notices of its own)
    q.Close();
    qInstallMessageHandler(previous);
    ASSERT_EQ(notices.size(), 21) << notices.join('|').toStdString();
    EXPECT_EQ(notices[0], "WARNING:  red\\u001b[31m\\nnext\\u202e");
    EXPECT_EQ(notices[20], "further notices not shown");
}

TEST_F(PostgreSQL, AConfiguredConnectionIsLeftAsTheApplicationHadIt) {
    // The application's settings stand after every use, read, refused or timed out, and no
    // transaction is left open: its next statement starts one of its own.
    QSqlDatabase app = Configure(Server(), "tav-pg");
    ASSERT_TRUE(app.open());
    ASSERT_TRUE(QSqlQuery(app).exec("SET statement_timeout = '7s'"));
    auto ask = [&app](const char* sql) {
        QSqlQuery q(app);
        return q.exec(sql) && q.next() ? q.value(0).toString().toStdString()
                                       : "failed: " + q.lastError().text().toStdString();
    };
    const struct {
        const char* sql;
        int timeout;
        bool fails;
    } uses[] = {
        {"SELECT * FROM sales", 3, false},
        {"WITH d AS (DELETE FROM victim RETURNING id) SELECT id FROM d", 0, true},
        {"SELECT pg_sleep(30), * FROM sales", 1, true},
    };
    for (const auto& use : uses) {
        {
            TQuery q;
            q.SetDatabaseName("tav-pg");
            q.SetSQLText(use.sql);
            q.SetQueryTimeout(use.timeout);
            try {
                ReadAll(q);
                EXPECT_FALSE(use.fails) << use.sql;
            } catch (const EDatabaseError& e) {
                EXPECT_TRUE(use.fails) << use.sql << ": " << e.what();
            }
        }
        EXPECT_EQ(ask("SHOW statement_timeout"), "7s") << use.sql;
        EXPECT_EQ(ask("SHOW transaction_read_only"), "off") << use.sql;
        EXPECT_EQ(ask("SELECT now() = statement_timestamp()"), "true") << use.sql;
    }
}
