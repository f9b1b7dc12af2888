// tavreg end to end: the bundled example through every output, and the failing inputs.
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include "engine/tavclasses.h"
#include "engine/tavtable.h"
#include "host/formfile.h"
#include "host/sysutils.h"
#include "support/tav_test_support.h"

using namespace tav;

namespace {

struct Result {
    int exitCode;
    QString out;
    QString err;
};

Result Tavreg(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(TAVREG_PATH, args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QString ExampleForm() { return QString(TAV_SAMPLE_DB).replace("sales.db", "sales.dfm"); }

// The example's table component, fitted in this process.
struct Reference {
    TFormContents form;
    TTAVTable* table = nullptr;
    Reference() {
        tavtest::TMessageRecorder quiet;
        const std::string dfm = ExampleForm().toStdString();
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
    const Result r = Tavreg({"--text", ExampleForm()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Data: sales   Profit by store"));
    EXPECT_TRUE(r.out.contains("Data: SELECT * FROM sales   Units sold, regions known"));
    EXPECT_TRUE(r.out.contains("X3 = PRICE*UNITS"));
    EXPECT_TRUE(r.out.contains(QString("Number of observations: %1").arg(ref.table->DataCount())));
    for (int j = 0; j <= ref.table->VarCount(); ++j) {
        const QString b =
            QString::fromStdString(FloatToStrF(ref.table->Getb(j), TFloatFormat::ffFixed, 8, 4));
        EXPECT_TRUE(r.out.contains(QString("B%1: %2").arg(j).arg(b))) << j << b.toStdString();
    }
    const QString sse =
        QString::fromStdString(FloatToStrF(ref.table->GetSSE(), TFloatFormat::ffFixed, 8, 3));
    EXPECT_TRUE(r.out.contains("SSE : " + sse));
    EXPECT_TRUE(r.out.contains("Covariance Matrix:"));
    EXPECT_TRUE(r.out.contains("Correlation Matrix:"));
}

TEST(Tavreg, PdfPlotsAndJsonOfTheExample) {
    tavtest::TTempDb tmp;
    const QString pdf = QString::fromStdString(tmp.Path("report.pdf"));
    const QString plots = QString::fromStdString(tmp.Path("plots"));
    const Result r = Tavreg({"--json", "--pdf", pdf, "--plots", plots, ExampleForm()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    // Two components: one PDF each, named after the component, one page each.
    for (const char* name : {"SalesTable", "UnitsQuery"}) {
        QProcess info;
        info.start("pdfinfo",
                   {QString::fromStdString(tmp.Path(std::string("report-") + name + ".pdf"))});
        ASSERT_TRUE(info.waitForFinished(20000));
        EXPECT_TRUE(
            QString(info.readAllStandardOutput()).contains(QRegularExpression("Pages:\\s+1\\n")))
            << name;
    }
    // Five control variables each: a scatter and a residual plot per variable, four more.
    const QStringList pngs = QDir(plots).entryList({"*.png"}, QDir::Files);
    EXPECT_EQ(pngs.size(), 2 * (2 * 5 + 4)) << pngs.join(", ").toStdString();
    EXPECT_TRUE(pngs.contains("SalesTable-ecdf.png"));
    EXPECT_TRUE(pngs.contains("UnitsQuery-scatter-X5.png"));

    // The JSON documents parse and hold what the accessors give.
    Reference ref;
    const QByteArray out = r.out.toUtf8();
    const int split = out.indexOf("}\n{");
    ASSERT_GT(split, 0);
    const QJsonDocument first = QJsonDocument::fromJson(out.left(split + 1));
    ASSERT_TRUE(first.isObject());
    const QJsonObject o = first.object();
    EXPECT_EQ(o["component"].toString(), "SalesTable");
    EXPECT_EQ(o["n"].toInt(), ref.table->DataCount());
    const QJsonArray b = o["b"].toArray();
    ASSERT_EQ(b.size(), ref.table->VarCount() + 1);
    for (int j = 0; j < b.size(); ++j) EXPECT_EQ(b[j].toDouble(), ref.table->Getb(j)) << j;
    EXPECT_EQ(o["RSquared"].toDouble(), ref.table->GetRSquared());
    EXPECT_EQ(o["residuals"].toArray().size(), ref.table->DataCount());
    EXPECT_TRUE(QJsonDocument::fromJson(out.mid(split + 2)).isObject());
}

TEST(Tavreg, CommandLineDefinition) {
    Reference ref;
    const Result r = Tavreg({"--json", "--db", TAV_SAMPLE_DB, "--table", "sales", "--y", "PROFIT",
                             "--x", "Log(ADVERT)", "--x", "STORES", "--x", "Product(PRICE,UNITS)",
                             "--x", "Inverse(COMPETITORS)", "--x", "Sqrt(INCOME)"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    const QJsonArray b = o["b"].toArray();
    ASSERT_EQ(b.size(), 6);
    // The same definition as the example's table component: the same fit, bit for bit.
    for (int j = 0; j < b.size(); ++j) EXPECT_EQ(b[j].toDouble(), ref.table->Getb(j)) << j;
    EXPECT_EQ(o["terms"].toArray()[2].toString(), "PRICE*UNITS");
}

TEST(Tavreg, FailingInputsNameTheCulprit) {
    tavtest::TTempDb tmp;
    const QString bad = QString::fromStdString(tmp.Exec("CREATE TABLE t(a REAL);", "empty.db"));
    const QString malformed = QString::fromStdString(tmp.Path("broken.dfm"));
    WriteTextFile(malformed.toStdString(),
                  "object M: TDataModule\n  object T: TTAVTabel\n  end\nend\n");
    struct Case {
        QStringList args;
        int exitCode;
        const char* message;
    } cases[] = {
        {{"--text", "--db", "/nowhere/x.db", "--table", "t", "--y", "a"},
         1,
         "Regression: Database '/nowhere/x.db' not found"},
        {{"--text", "--db", TAV_SAMPLE_DB, "--sql", "SELEC 1", "--y", "a"}, 1, "syntax error"},
        {{"--text", "--db", TAV_SAMPLE_DB, "--table", "sales", "--y", "PROFIT", "--x", "NOPE"},
         1,
         "Regression: Field 'NOPE' not found"},
        {{"--text", malformed}, 1, "broken.dfm: Line 2: Class TTAVTabel not found"},
        {{"--text", "--db", bad, "--table", "t", "--y", "a"}, 1, "nothing usable was loaded"},
        {{"--text", "--db", TAV_SAMPLE_DB, "--table", "sales", "--y", "PROFIT", "--x", "Cube(A)"},
         2,
         "unknown transformation Cube"},
        {{"--table", "sales"}, 2, "need --db"},
    };
    for (const auto& c : cases) {
        const Result r = Tavreg(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists("/nowhere/x.db"));
    const Result help = Tavreg({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("Product(F1,F2)"));
}

TEST(Tavreg, FitMethodAndFlaggedFits) {
    const QStringList sales = {"--db", TAV_SAMPLE_DB, "--table", "sales", "--y", "PROFIT"};
    Reference ref;
    {
        // QR on well-conditioned data: the coefficients of the normal equations to 10 digits.
        const Result r =
            Tavreg(QStringList{"--json", "--fit-method", "QR"} + sales +
                   QStringList{"--x", "Log(ADVERT)", "--x", "STORES", "--x", "Product(PRICE,UNITS)",
                               "--x", "Inverse(COMPETITORS)", "--x", "Sqrt(INCOME)"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
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
            Tavreg(QStringList{"--text"} + sales + QStringList{"--x", "STORES", "--x", "STORES"});
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_TRUE(r.err.contains("X2 = STORES repeats or combines the ones before it"))
            << r.err.toStdString();
        EXPECT_TRUE(r.out.contains("Coefficients:"));
    }
    const Result bad = Tavreg(QStringList{"--fit-method", "Fast"} + sales);
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.err.contains("'Fast' is not a fit method")) << bad.err.toStdString();
    const Result help = Tavreg({"--help"});
    EXPECT_TRUE(help.out.contains("FitMethod"));
    EXPECT_TRUE(help.out.contains("3 when the results were written but a fit is not valid"));
}
