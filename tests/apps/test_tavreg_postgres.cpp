// tavreg on PostgreSQL: the reports it writes on the SQLite database, and the runs it ends.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <regex>

#include "support/tav_app_support.h"
#include "support/tav_pg_support.h"
#include "support/tav_test_support.h"
#include "tav/formfile.h"

namespace {

using PostgreSQLTavreg = tavtest::TPgTest;

using Result = tavtest::TProgramResult;
using tavtest::Tavreg;

// A report with its time stamp blanked: two runs may fall in different seconds.
std::string Undated(const std::string& report) {
    static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
    return std::regex_replace(report, stamp, "YYYY-MM-DD hh:mm:ss");
}

// The definitions of the example's two components.
const QStringList kTable = {"--table", "sales",
                            "--y",     "PROFIT",
                            "--x",     "Log(ADVERT)",
                            "--x",     "STORES",
                            "--x",     "Product(PRICE,UNITS)",
                            "--x",     "Inverse(COMPETITORS)",
                            "--x",     "Sqrt(INCOME)"};
const QStringList kQuery = {"--sql", "SELECT * FROM sales WHERE REGION IS NOT NULL",
                            "--y",   "Log(UNITS)",
                            "--x",   "Log(ADVERT)",
                            "--x",   "PRICE",
                            "--x",   "Quotient(INCOME,STORES)",
                            "--x",   "Power(TEMP,2)",
                            "--x",   "Scale(STORES,100)"};
// Indicators of a text field's levels, made by the database in a query over the table.
const QStringList kFactor = {"--table", "sales",  "--y", "PROFIT",
                             "--x",     "STORES", "--x", "Factor(REGION)"};

}  // namespace

TEST_F(PostgreSQLTavreg, ReportsAsOnSqlite) {
    // The example form file, and a copy whose components name the PostgreSQL database.
    const QString example = tavtest::SampleForm();
    QString text = QString::fromStdString(tav::ReadTextFile(example.toStdString()));
    ASSERT_EQ(text.count("DatabaseName = 'sales.db'"), 2);
    text.replace("DatabaseName = 'sales.db'", QString("DatabaseName = '%1'").arg(Url().c_str()));
    tavtest::TTempDb tmp;
    const QString form = QString::fromStdString(tmp.Path("pg.dfm"));
    tav::WriteTextFile(form.toStdString(), text.toStdString());

    const QString url = QString::fromStdString(Url());
    const struct {
        QStringList onSqlite, onPg;
    } runs[] = {
        {QStringList{"--db", tavtest::SampleDb()} + kTable, QStringList{"--db", url} + kTable},
        {QStringList{"--db", tavtest::SampleDb()} + kQuery, QStringList{"--db", url} + kQuery},
        {QStringList{"--db", tavtest::SampleDb()} + kFactor, QStringList{"--db", url} + kFactor},
        {{example}, {form}},
    };
    for (const auto& run : runs) {
        const Result sqlite = Tavreg(QStringList{"--text"} + run.onSqlite);
        const Result pg = Tavreg(QStringList{"--text"} + run.onPg);
        ASSERT_EQ(sqlite.exitCode, 0) << sqlite.err.toStdString();
        EXPECT_EQ(pg.exitCode, 0) << pg.err.toStdString();
        EXPECT_TRUE(sqlite.out.contains("Coefficients:"));
        // The factor's query names the field as each database spells it.
        const std::string pgOut = std::regex_replace(Undated(pg.out.toStdString()),
                                                     std::regex("\"region\""), "\"REGION\"");
        EXPECT_EQ(pgOut, Undated(sqlite.out.toStdString())) << run.onPg.join(' ').toStdString();
        EXPECT_EQ(pg.err, sqlite.err) << run.onPg.join(' ').toStdString();
    }
}

TEST_F(PostgreSQLTavreg, TimeoutEndsAStatementAndWrongInputsNameTheirCulprit) {
    const QString url = QString::fromStdString(Url());
    tavtest::TPgAddress password = Server();
    password.user = "tav:s3cret";
    const QStringList sales = {"--table", "sales", "--y", "PROFIT"};
    const struct {
        QStringList args;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"--db", url, "--timeout", "5", "--sql",
          "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) "
          "SELECT n AS y, n AS x FROM r",
          "--y", "y", "--x", "x"},
         1,
         "The query did not finish within 5 seconds"},
        {QStringList{"--db", QString::fromStdString(password.Url())} + sales, 1, "password"},
        {{"--db", url, "--sql", "SELECT ARRAY[']'] AS a; COMMIT; DELETE FROM victim; SELECT ''",
          "--y", "a", "--x", "a"},
         1,
         "was refused: a query runs one statement, not several"},
        {{"--db", url, "--sql", "/* */ COMMIT", "--y", "a", "--x", "a"},
         1,
         "\"COMMIT\" was refused: a query runs one SELECT, WITH or VALUES statement"},
        {QStringList{"--db", url, "--timeout", "-1"} + sales, 2, "-1"},
        {QStringList{"--db", url, "--timeout", "soon"} + sales, 2, "soon"},
    };
    for (const auto& c : cases) {
        const Result r = Tavreg(QStringList{"--text"} + c.args);
        const std::string run = c.args.join(' ').toStdString();
        const std::string err = r.err.toStdString();
        std::printf("exit %d after %lld ms: %s", r.exitCode, static_cast<long long>(r.ms),
                    err.c_str());
        EXPECT_EQ(r.exitCode, c.exitCode) << run;
        EXPECT_LT(r.ms, 15000) << run;
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(err.find("s3cret"), std::string::npos) << err;
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
    EXPECT_EQ(tavtest::Psql(Server(), "SELECT count(*) FROM victim"), "10\n");
}
