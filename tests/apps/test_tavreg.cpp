// tavreg end to end: the bundled example through every output, the accounting of the records,
// and the failing inputs.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include "support/tav_app_support.h"
#include "support/tav_test_support.h"
#include "tav/formfile.h"
#include "tav/sysutils.h"
#include "tav/tavclasses.h"
#include "tav/tavtable.h"

using namespace tav;

namespace {

using Result = tavtest::TProgramResult;
using tavtest::Tavreg;

using tavtest::Digest;
using tavtest::Regressions;
using tavtest::RunOffscreen;
using tavtest::SampleForm;
const QStringList kSales = {"--db", tavtest::SampleDb(), "--table", "sales", "--y", "PROFIT"};

// The example's table component, fitted in this process.
struct Reference {
    TFormContents form;
    TTAVTable* table = nullptr;
    Reference() {
        tavtest::TMessageRecorder quiet;
        const std::string dfm = SampleForm();
        form = ReadForm(TAVClassRegistry(), ReadTextFile(dfm), [&](TComponent& c) {
            dynamic_cast<TDataSet&>(c).SetBaseDirectory(
                QFileInfo(QString::fromStdString(dfm)).absolutePath().toStdString());
        });
        table = dynamic_cast<TTAVTable*>(form.components[0]);
        table->ReLoad();
        table->Execute();
    }
};

}  // namespace

TEST(Tavreg, TextReportOfTheExampleMatchesTheAccessors) {
    Reference ref;
    // Headless without an output option: the text report, as with --text.
    for (const QStringList& args : {QStringList{"--text", SampleForm()}, QStringList{}}) {
        const Result r = Tavreg(args);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains("Data: sales   Profit by store"));
        EXPECT_TRUE(r.out.contains("Data: SELECT * FROM sales   Units sold, regions known"));
        EXPECT_TRUE(r.out.contains("X3 = PRICE*UNITS"));
        EXPECT_TRUE(
            r.out.contains(QString("Number of observations: %1").arg(ref.table->DataCount())));
        for (int j = 0; j <= ref.table->VarCount(); ++j) {
            const QString b = QString::fromStdString(
                FloatToStrF(ref.table->Getb(j), TFloatFormat::ffFixed, 8, 4));
            EXPECT_TRUE(r.out.contains(QString("B%1: %2").arg(j).arg(b))) << j << b.toStdString();
        }
        const QString sse =
            QString::fromStdString(FloatToStrF(ref.table->GetSSE(), TFloatFormat::ffFixed, 8, 3));
        EXPECT_TRUE(r.out.contains("SSE : " + sse));
        EXPECT_TRUE(r.out.contains("Correlation Matrix:"));
        // One line per regression on standard error: what the load used and skipped.
        const QString used = QString("tavreg: SalesTable: %1 of 300 records used; %2 skipped: ")
                                 .arg(ref.table->DataCount())
                                 .arg(300 - ref.table->DataCount());
        EXPECT_TRUE(r.err.contains(used)) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 2) << r.err.toStdString();
    }
    EXPECT_TRUE(Tavreg({"--text", "--quiet", SampleForm()}).err.isEmpty());
}

TEST(Tavreg, FileOutputsNeverNeedADisplay) {
    auto badDisplay = [](QProcessEnvironment& e) {
        e.remove("QT_QPA_PLATFORM");
        e.insert("DISPLAY", ":93");
    };
    const Result text = Tavreg({"--text", "--quiet", SampleForm()}, badDisplay);
    EXPECT_EQ(text.exitCode, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.contains("Coefficients:"));
    EXPECT_TRUE(text.err.isEmpty()) << text.err.toStdString();
    // Asked to show the windows, it falls back to the text and says so.
    const Result shown = Tavreg({"--quiet", SampleForm()}, badDisplay);
    EXPECT_EQ(shown.exitCode, 0) << shown.err.toStdString();
    EXPECT_TRUE(shown.out.contains("Coefficients:"));
    EXPECT_TRUE(shown.err.contains("no display could be opened")) << shown.err.toStdString();
}

TEST(Tavreg, PdfPlotsAndJsonOfTheExample) {
    tavtest::TTempDb tmp;
    const QString pdf = QString::fromStdString(tmp.Path("report.pdf"));
    const QString plots = QString::fromStdString(tmp.Path("plots"));
    const Result r = Tavreg({"--json", "--pdf", pdf, "--plots", plots, SampleForm()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    // Two components: one PDF each, named after the component, one page each, text as text.
    for (const char* name : {"SalesTable", "UnitsQuery"}) {
        const QString file =
            QString::fromStdString(tmp.Path(std::string("report-") + name + ".pdf"));
        EXPECT_TRUE(
            RunOffscreen("pdfinfo", {file}).out.contains(QRegularExpression("Pages:\\s+1\\n")))
            << name;
        EXPECT_TRUE(RunOffscreen("pdftotext", {file, "-"}).out.contains("Coefficients:")) << name;
        EXPECT_TRUE(RunOffscreen("pdffonts", {file}).out.contains("TrueType")) << name;
    }
    // Five control variables each: a scatter and a residual plot per variable, four more; and
    // no temporary file left beside them.
    const QStringList pngs = QDir(plots).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(pngs.size(), 2 * (2 * 5 + 4)) << pngs.join(", ").toStdString();
    EXPECT_TRUE(pngs.contains("SalesTable-ecdf.png"));
    EXPECT_TRUE(pngs.contains("UnitsQuery-scatter-X5.png"));
    EXPECT_EQ(
        QDir(QString::fromStdString(tmp.Path("."))).entryList(QDir::Files | QDir::Hidden).size(),
        2);

    // One JSON document for both, holding what the accessors give.
    Reference ref;
    const QJsonArray regressions = Regressions(r);
    ASSERT_EQ(regressions.size(), 2);
    const QJsonObject o = regressions[0].toObject();
    EXPECT_EQ(o["component"].toString(), "SalesTable");
    EXPECT_EQ(regressions[1].toObject()["component"].toString(), "UnitsQuery");
    EXPECT_EQ(o["n"].toInt(), ref.table->DataCount());
    const QJsonArray b = o["b"].toArray();
    ASSERT_EQ(b.size(), ref.table->VarCount() + 1);
    for (int j = 0; j < b.size(); ++j) EXPECT_EQ(b[j].toDouble(), ref.table->Getb(j)) << j;
    EXPECT_EQ(o["RSquared"].toDouble(), ref.table->GetRSquared());
    EXPECT_EQ(o["residuals"].toArray().size(), ref.table->DataCount());
    EXPECT_EQ(o["fitMethod"].toString(), "Auto");
    EXPECT_EQ(o["fitPath"].toString(), "NormalEquations");
    EXPECT_GT(o["estimatedDigits"].toDouble(), 7.0);
    EXPECT_EQ(o["recordsRead"].toInt(), 300);
    EXPECT_EQ(o["recordsUsed"].toInt(), ref.table->DataCount());
    EXPECT_FALSE(o["capped"].toBool());
    int skipped = 0;
    for (const QJsonValue v : o["recordsSkipped"].toObject()) skipped += v.toInt();
    EXPECT_EQ(skipped, 300 - ref.table->DataCount());
}

TEST(Tavreg, CommandLineDefinition) {
    Reference ref;
    const Result r =
        Tavreg(QStringList{"--json"} + kSales +
               QStringList{"--x", "Log(ADVERT)", "--x", "STORES", "--x", "Product( PRICE , UNITS )",
                           "--x", "Inverse(COMPETITORS)", "--x", "Sqrt(INCOME)"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject o = Regressions(r)[0].toObject();
    const QJsonArray b = o["b"].toArray();
    ASSERT_EQ(b.size(), 6);
    // The same definition as the example's table component: the same fit, bit for bit.
    for (int j = 0; j < b.size(); ++j) EXPECT_EQ(b[j].toDouble(), ref.table->Getb(j)) << j;
    EXPECT_EQ(o["terms"].toArray()[2].toString(), "PRICE*UNITS");

    // A query that ends in a comment or semicolons fits the same records.
    for (const QString sql : {"SELECT * FROM sales -- all rows", "SELECT * FROM sales;;\n"}) {
        const Result q = Tavreg({"--json", "--db", tavtest::SampleDb(), "--sql", sql, "--y",
                                 "PROFIT", "--x", "Log(ADVERT)", "--x", "STORES"});
        ASSERT_EQ(q.exitCode, 0) << q.err.toStdString();
        EXPECT_EQ(Regressions(q)[0].toObject()["recordsRead"].toInt(), 300) << sql.toStdString();
    }
}

TEST(Tavreg, RecordAccountingEmptyCellsAndTheCap) {
    // 100 records of which 10 have an empty Ozone cell, as `sqlite3 .import` leaves them; and a
    // table of 2600 records.
    tavtest::TTempDb tmp;
    const QString path = QString::fromStdString(tmp.Exec(
        "CREATE TABLE air(Ozone REAL, Temp REAL);"
        "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 100)"
        " INSERT INTO air SELECT CASE WHEN i % 10 = 0 THEN '' ELSE 20 + i % 7 + i * 0.3 END,"
        " 60 + i * 0.2 FROM s;"
        "CREATE TABLE big(x REAL, y REAL);"
        "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 2600)"
        " INSERT INTO big SELECT i, 2 * i + i % 5 FROM s;"));
    const Result air =
        Tavreg({"--json", "--db", path, "--table", "air", "--y", "Ozone", "--x", "Temp"});
    ASSERT_EQ(air.exitCode, 0) << air.err.toStdString();
    EXPECT_TRUE(air.err.contains(
        "tavreg: Regression: 90 of 100 records used; 10 skipped: 10 for Ozone (empty text)\n"))
        << air.err.toStdString();
    const QJsonObject o = Regressions(air)[0].toObject();
    EXPECT_EQ(o["n"].toInt(), 90);
    EXPECT_EQ(o["recordsSkipped"].toObject()["Ozone: empty text"].toInt(), 10);

    const Result big = Tavreg({"--json", "--db", path, "--table", "big", "--y", "y", "--x", "x"});
    ASSERT_EQ(big.exitCode, 0) << big.err.toStdString();
    EXPECT_TRUE(
        big.err.contains("2500 of 2500 records used; only the first 2500 of 2600 records "
                         "were read"))
        << big.err.toStdString();
    EXPECT_TRUE(Regressions(big)[0].toObject()["capped"].toBool());

    // No degrees of freedom left: the statistics that divide by them are null, and exit 3.
    const Result exact = Tavreg({"--json", "--quiet", "--db", path, "--sql",
                                 "SELECT x, y FROM big LIMIT 2", "--y", "y", "--x", "x"});
    EXPECT_EQ(exact.exitCode, 3);
    EXPECT_TRUE(Regressions(exact)[0].toObject()["MSE"].isNull());
}

TEST(Tavreg, FitMethodAndFlaggedFits) {
    Reference ref;
    {
        // QR on well-conditioned data: the coefficients of the normal equations to 10 digits.
        const Result r =
            Tavreg(QStringList{"--json", "--fit-method", "QR"} + kSales +
                   QStringList{"--x", "Log(ADVERT)", "--x", "STORES", "--x", "Product(PRICE,UNITS)",
                               "--x", "Inverse(COMPETITORS)", "--x", "Sqrt(INCOME)"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QJsonObject o = Regressions(r)[0].toObject();
        EXPECT_EQ(o["fitMethod"].toString(), "QR");
        EXPECT_EQ(o["fitPath"].toString(), "QR");
        EXPECT_EQ(o["fitProblem"].toString(), "None");
        EXPECT_GT(o["estimatedDigits"].toDouble(), 12.0);
        const QJsonArray b = o["b"].toArray();
        for (int j = 0; j < b.size(); ++j)
            EXPECT_NEAR(b[j].toDouble(), ref.table->Getb(j), 1e-10 * std::fabs(ref.table->Getb(j)));
    }
    {
        // A variable given twice: the report is written, the error names the repeat, exit 3.
        const Result r =
            Tavreg(QStringList{"--text"} + kSales + QStringList{"--x", "STORES", "--x", "STORES"});
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_TRUE(r.err.contains("X2 = STORES repeats or combines the ones before it"))
            << r.err.toStdString();
        EXPECT_TRUE(r.out.contains("Coefficients:"));
    }
    const Result help = Tavreg({"--help"});
    EXPECT_TRUE(help.out.contains("FitMethod"));
    EXPECT_TRUE(help.out.contains("3 when the results were written but a fit is not valid"));
}

TEST(Tavreg, WrongCommandLinesNameTheTerm) {
    const struct {
        QStringList args;
        const char* message;
    } cases[] = {
        {{"--x", "Power(STORES,-1)"}, "'Power(STORES,-1)': the exponent -1 is below 0.5"},
        {{"--x", "Power(STORES,0.4)"}, "'Power(STORES,0.4)': the exponent 0.4 is below 0.5"},
        {{"--x", "Power(STORES,two)"}, "'Power(STORES,two)': the exponent 'two' is not a number"},
        {{"--x", "Power(STORES,inf)"}, "the exponent 'inf' is not finite"},
        {{"--x", "Scale(STORES,0)"}, "'Scale(STORES,0)': the scale factor must not be 0"},
        {{"--x", "Scale(STORES,1e-30)"}, "the scale factor must not be 0"},
        {{"--x", "Log()"}, "'Log()': a field name is empty"},
        {{"--x", "Product(STORES,)"}, "'Product(STORES,)': a field name is empty"},
        {{"--x", "Log(STORES"}, "'Log(STORES': unbalanced parentheses"},
        {{"--x", "STORES)"}, "unbalanced parentheses"},
        {{"--x", "Log((STORES))"}, "unbalanced parentheses"},
        {{"--x", "Cube(STORES)"}, "unknown transformation Cube"},
        {{"--x", "()"}, "'()': the transformation name is empty"},
        {{"--x", "(PRICE)"}, "'(PRICE)': the transformation name is empty"},
        {{"--y", "Scale(PROFIT,0)"}, "'Scale(PROFIT,0)': the scale factor must not be 0"},
        {{"--fit-method", "Fast"}, "'Fast' is not a fit method"},
        {{"--pdf", ""}, "--pdf needs a value"},
        {{"--plots", ""}, "--plots needs a value"},
    };
    for (const auto& c : cases) {
        const Result r = Tavreg(kSales + c.args);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    }
    const Result db = Tavreg({"--db", "", "--table", "sales", "--y", "PROFIT"});
    EXPECT_EQ(db.exitCode, 2);
    EXPECT_TRUE(db.err.contains("--db needs a value")) << db.err.toStdString();
    // Blanks inside a field name are kept (and the name is quoted in SQL).
    const Result blank = Tavreg(kSales + QStringList{"--x", "Product(STORES, a b)"});
    EXPECT_EQ(blank.exitCode, 1);
    EXPECT_TRUE(blank.err.contains("Field 'a b' not found")) << blank.err.toStdString();
}

TEST(Tavreg, FailingInputsNameTheCulpritOnceOnOneLine) {
    tavtest::TTempDb tmp;
    const QString bad = QString::fromStdString(tmp.Exec("CREATE TABLE t(a REAL);", "empty.db"));
    const QString malformed = QString::fromStdString(tmp.Path("broken.dfm"));
    WriteTextFile(malformed.toStdString(),
                  "object M: TDataModule\n  object T: TTAVTabel\n  end\nend\n");
    const QString notDb = QString::fromStdString(tmp.Path("notes.db"));
    const QString copy = QString::fromStdString(tmp.Path("copy.db"));
    WriteTextFile(notDb.toStdString(), "these are notes, not a database\n");
    // A field whose name holds a NUL byte, a line feed and an escape, from a form file.
    const QString hostile = QString::fromStdString(tmp.Path("hostile.dfm"));
    WriteTextFile(hostile.toStdString(),
                  "object M: TDataModule\n  object T: TTAVTable\n    DatabaseName = '" +
                      std::string(tavtest::SampleDb()) +
                      "'\n    TableName = 'sales'\n    ResponseVarY.Strings = (\n"
                      "      'Undefined'\n      'None'\n      'A'#0'B'#10'C'#27'[31mD'\n"
                      "      'Undefined'\n      'Undefined'\n      '1')\n  end\nend\n");
    // A query that never ends, opened by the form file itself under a bound of its own or none.
    const auto endless = [&](const std::string& name, const std::string& timeout) {
        const std::string path = tmp.Path(name);
        WriteTextFile(path, "object M: TDataModule\n  object Q: TTAVQuery\n    DatabaseName = '" +
                                bad.toStdString() + "'\n    SQL.Strings = (\n      'WITH " +
                                "RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) " +
                                "SELECT n AS a FROM r')\n    Active = True\n    QueryTimeout = " +
                                timeout + "\n  end\nend\n");
        return QStringList{"--timeout", "2", QString::fromStdString(path)};
    };
    const struct {
        QStringList args;
        QString message;
    } cases[] = {
        {endless("none.dfm", "0"), "within 2 seconds\n"},
        {endless("day.dfm", "86400"), "within 2 seconds\n"},
        {{"--db", "/nowhere/x.db", "--table", "t", "--y", "a"},
         "tavreg: Regression: Database '/nowhere/x.db' not found\n"},
        {{"--db", tavtest::SampleDb(), "--sql", "SELECT 1 FROM WHERE", "--y", "a"}, "syntax error"},
        {kSales + QStringList{"--x", "NOPE"},
         "tavreg: Regression: Field 'NOPE' not found (the fields are ID, REGION, SALEDATE,"},
        {{malformed}, "broken.dfm: Line 2: Class TTAVTabel not found"},
        {{"--db", bad, "--table", "t", "--y", "a"}, "nothing usable was loaded (0 of 0 records"},
        {{"--db", notDb, "--table", "t", "--y", "a"},
         "Database '" + notDb + "': file is not a database"},
        {{hostile}, "Field 'A\\u0000B\\nC\\u001b[31mD' not found (the fields are "},
        {{"--db", bad, "--sql", "VACUUM INTO '" + copy + "'", "--y", "a"},
         "\"VACUUM INTO '" + copy +
             "'\" was refused: a query runs one SELECT, WITH or VALUES "
             "statement\n"},
        // SQLite's comments do not nest: the reader and SQLite see a second statement.
        {{"--db", bad, "--sql", "SELECT a FROM t /* /* */ ; DELETE FROM t; /* */", "--y", "a"},
         "was refused: a query runs one statement, not several\n"},
        {{"--timeout", "5", "--db", bad, "--sql",
          "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT n AS a FROM r",
          "--y", "a"},
         "tavreg: Regression: The query did not finish within 5 seconds\n"},
    };
    for (const auto& c : cases) {
        QElapsedTimer timer;
        timer.start();
        const Result r = Tavreg(QStringList{"--text"} + c.args);
        EXPECT_LT(timer.elapsed(), 15000) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.exitCode, 1) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << c.message.toStdString() << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("Regression: Regression")) << r.err.toStdString();
        for (const QString& line : r.err.split('\n', Qt::SkipEmptyParts))
            EXPECT_TRUE(line.startsWith("tavreg: ")) << line.toStdString();
        EXPECT_FALSE(r.err.contains('\x1b'));
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists("/nowhere/x.db"));
    EXPECT_FALSE(QFileInfo::exists(copy));
    // One record: one line that says what is missing, not the load's two boxes before it.
    const Result one =
        Tavreg({"--text", "--db", tavtest::SampleDb(), "--sql",
                "SELECT PROFIT, STORES FROM sales LIMIT 1", "--y", "PROFIT", "--x", "STORES"});
    EXPECT_EQ(one.exitCode, 1);
    EXPECT_TRUE(one.err.startsWith("tavreg: Regression: too few usable records for 2 terms") &&
                one.err.count('\n') == 1)
        << one.err.toStdString();
}

TEST(Tavreg, OutputsNeverReplaceInputsAndFailedRunsLeaveNothing) {
    tavtest::TTempDb tmp;
    const QString db = QString::fromStdString(tmp.Path("victim.db"));
    ASSERT_TRUE(QFile::copy(tavtest::SampleDb(), db));
    // The example's table component alone, beside a copy of its database.
    const QString form = QString::fromStdString(tmp.Path("victim.dfm"));
    const std::string example = ReadTextFile(SampleForm());
    WriteTextFile(form.toStdString(),
                  example.substr(0, example.find("  object UnitsQuery")) + "end\n");
    ASSERT_TRUE(QFile::copy(tavtest::SampleDb(), QString::fromStdString(tmp.Path("sales.db"))));
    const QByteArray dbBefore = Digest(db), formBefore = Digest(form);
    const QStringList onDb = {"--db", db, "--table", "sales", "--y", "PROFIT", "--x", "STORES"};
    const struct {
        QStringList args;
        const char* message;
    } cases[] = {
        {onDb + QStringList{"--pdf", db}, "is the database: an output never replaces an input"},
        {onDb + QStringList{"--plots", db}, "is the database"},
        {{"--pdf", form, form}, "is the form file"},
        {{"--pdf", QString::fromStdString(tmp.Path("sales.db")), form},
         "is the database of SalesTable"},
    };
    for (const auto& c : cases) {
        const Result r = Tavreg(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
    }
    EXPECT_EQ(Digest(db), dbBefore);
    EXPECT_EQ(Digest(form), formBefore);

    // A run that fails after its first outputs were made (the example's table component has
    // written its PDF and plots, its query component names a missing field) removes them, and
    // the folders it made.
    const QString two = QString::fromStdString(tmp.Path("two.dfm"));
    std::string text = ReadTextFile(SampleForm());
    text.replace(text.rfind("'UNITS'"), 7, "'NOPE'");
    WriteTextFile(two.toStdString(), text);
    const QString out = QString::fromStdString(tmp.Path("out"));
    const Result late =
        Tavreg({"--pdf", out + "/report.pdf", "--plots", out + "/plots/all", "--json", two});
    EXPECT_EQ(late.exitCode, 1) << late.err.toStdString();
    EXPECT_TRUE(late.err.contains("UnitsQuery: Field 'NOPE' not found")) << late.err.toStdString();
    EXPECT_TRUE(late.out.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(out + "/plots"));
    QDir().mkpath(out);
    const Result again = Tavreg({"--pdf", out + "/report.pdf", two});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(
        QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}
