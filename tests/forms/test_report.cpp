#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <map>

#include "forms/matrxdlg.h"
#include "support/tav_app_support.h"
#include "support/tav_test_support.h"
#include "support/tav_ui_support.h"
#include "tav/forms.h"
#include "tav/printing.h"
#include "tav/sysutils.h"
#include "tav/tavoutpt.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

using namespace tav;

namespace {

const std::string LB = "\n\r";

using tavtest::None;

// The four-record example: PROFIT on SALES.
template <typename Component>
void LoadExample(Component& c, tavtest::TTempDb& db, const std::string& extraColumns = "") {
    const std::string path = db.Exec(
        "CREATE TABLE t(SALES REAL, PROFIT REAL, COST REAL, N INTEGER);"
        "INSERT INTO t VALUES (1, 2, 5, 1), (2, 4, 3, 2), (3, 3, 8, 3), (4, 6, 1, 4);");
    tavtest::Point(c, path);
    c.SetControl1(None("SALES"));
    if (!extraColumns.empty()) c.SetControl2(None(extraColumns));
    TDependentVar r;
    r.SetField("PROFIT");
    c.SetResponse(r);
    c.Open();
    c.ReLoad();
    c.Execute();
}

}  // namespace

TEST(Report, TextsOfTheWorkedExampleForBothVariants) {
    tavtest::TMessageRecorder messages;
    tavtest::TTempDb db1, db2;
    TTAVTable table;
    LoadExample(table, db1);
    TTAVQuery query;
    LoadExample(query, db2);

    for (int variant = 0; variant < 2; ++variant) {
        const TRegressionReport r = variant == 0 ? table.BuildReport() : query.BuildReport();
        SCOPED_TRACE(variant == 0 ? "table" : "query");
        EXPECT_EQ(r.DependentVariable, LB + "    Y = PROFIT");
        EXPECT_EQ(r.IndependentVariables, LB + "     X1 = SALES" + LB);
        EXPECT_EQ(r.Observations, "4");
        EXPECT_EQ(r.DegreesOfFreedom,
                  LB + "     Regression 1" + LB + "     Residual 2" + LB + "     Total 3");
        EXPECT_EQ(r.Coefficients, LB + "     B0: 1.0000" + LB + "     B1: 1.1000" + LB);
        EXPECT_EQ(r.ResidualMeanSquare, "1.350");
        EXPECT_EQ(r.SSE, "2.700");
        EXPECT_EQ(r.SSR, "6.050");
        EXPECT_EQ(r.Means, LB + "     Y: 3.7500" + LB + "     X1: 2.5000" + LB);
        // sqrt(35/12) = 1.70782..., sqrt(5/3) = 1.29099...
        EXPECT_EQ(r.StdDevs, LB + "     1.7078" + LB + "     1.2910" + LB);
        // sqrt(2.025) = 1.42302..., sqrt(0.27) = 0.51961...
        EXPECT_EQ(r.StdErrors, LB + "   1.4230" + LB + "   0.5196" + LB);
        // 1 / 1.42302 = 0.70272..., 1.1 / 0.51961 = 2.11695...
        const std::string prefix = variant == 0 ? "  " : "   ";
        EXPECT_EQ(r.TValues, LB + "  0.7027" + LB + prefix + "2.1170" + LB);
        EXPECT_EQ(r.FStatistic, "(1,2): 4.481");
        ASSERT_EQ(r.CovarianceLines.Count(), 4);
        EXPECT_EQ(r.CovarianceLines[0], "Covariance Matrix:");
        EXPECT_EQ(r.CovarianceLines[1], " ");
        ASSERT_EQ(r.CorrelationLines.Count(), 4);
        EXPECT_EQ(r.CorrelationLines[0], "Correlation Matrix:");
        EXPECT_EQ(r.CorrelationLines[1], " ");
        // Corr[1, 2] = -0.675 / sqrt(2.025 * 0.27) = -0.91287...
        EXPECT_EQ(r.CorrelationLines[2], " 1.00E+0    -9.13E-1    ");
        EXPECT_EQ(r.CorrelationLines[3], "-9.13E-1     1.00E+0    ");
    }
    // 2.025 lies below 2.025 in binary (2.02499999999999991...), so two decimals give 2.02 only
    // if the computed variance is that double or below; the engine's value decides the digit.
    const std::string v11 = FormatFloat("0.00E+0", table.GetCovar(0, 0));
    EXPECT_TRUE(v11 == "2.02E+0" || v11 == "2.03E+0") << v11;
    const TRegressionReport t = table.BuildReport();
    EXPECT_EQ(t.CovarianceLines[2], " " + v11 + "   -6.75E-1   ");
    EXPECT_EQ(t.CovarianceLines[3], "-6.75E-1    2.70E-1   ");
    const TRegressionReport q = query.BuildReport();
    EXPECT_EQ(q.CovarianceLines[2], " " + v11 + "    -6.75E-1    ");
    EXPECT_EQ(q.CovarianceLines[3], "-6.75E-1     2.70E-1    ");
    EXPECT_TRUE(messages.Messages().empty());
}

TEST(Report, InterceptOnlyAndInactiveWorkingCopies) {
    tavtest::TMessageRecorder messages;
    {
        tavtest::TTempDb db;
        TTAVQuery q;
        const std::string path = db.Exec(
            "CREATE TABLE t(SALES REAL, PROFIT REAL);"
            "INSERT INTO t VALUES (1, 2), (2, 4), (3, 3), (4, 6);");
        q.SetDatabaseName(path);
        q.SetSQLText("SELECT * FROM t");
        TDependentVar r;
        r.SetField("PROFIT");
        q.SetResponse(r);
        q.Open();
        q.ReLoad();
        q.Execute();
        const TRegressionReport rep = q.BuildReport();
        EXPECT_EQ(rep.IndependentVariables, LB);
        EXPECT_EQ(rep.Coefficients, LB + "     B0: 3.7500" + LB);
        EXPECT_EQ(rep.Means, LB + "     Y: 3.7500" + LB);
        EXPECT_EQ(rep.StdDevs, LB + "     1.7078" + LB);
        EXPECT_EQ(rep.TValues.rfind(LB + "  ", 0), 0u);
        EXPECT_EQ(rep.TValues.find(LB, 2), rep.TValues.size() - 2) << "one line only";
        EXPECT_EQ(rep.CovarianceLines.Count(), 3);
        EXPECT_EQ(rep.CorrelationLines.Count(), 3);
        EXPECT_EQ(rep.DegreesOfFreedom,
                  LB + "     Regression 0" + LB + "     Residual 3" + LB + "     Total 3");
        // F divides by p = 0: printed as the conversions write a NaN.
        EXPECT_EQ(rep.FStatistic, "(0,3): NAN");
    }
    {
        // Working copy 1 made "Inactive" after the fit: skipped in the listed texts, numbering
        // closes the gap, while the standard errors and the matrices keep its row.
        tavtest::TTempDb db;
        TTAVTable t;
        LoadExample(t, db, "COST");
        t.GetcVar(1)->SetParameters(1, "Inactive");
        const TRegressionReport rep = t.BuildReport();
        EXPECT_EQ(rep.IndependentVariables, LB + "     X1 = COST" + LB);
        EXPECT_EQ(rep.Coefficients,
                  LB + "     B0: " + FloatToStrF(t.Getb(0), TFloatFormat::ffFixed, 8, 4) + LB +
                      "     B1: " + FloatToStrF(t.Getb(2), TFloatFormat::ffFixed, 8, 4) + LB);
        EXPECT_EQ(rep.Means, LB + "     Y: 3.7500" + LB + "     X1: 4.2500" + LB);
        int stdErrLines = 0;
        for (std::size_t pos = 0; (pos = rep.StdErrors.find("   ", pos)) != std::string::npos;
             pos += 3)
            ++stdErrLines;
        EXPECT_EQ(stdErrLines, 3);
        EXPECT_EQ(rep.CovarianceLines.Count(), 5);
        EXPECT_EQ(rep.CorrelationLines.Count(), 5);
        EXPECT_EQ(rep.DegreesOfFreedom.find("Regression 2"), 7u);
    }
}

TEST(Report, DegreesOfFreedomAndFTexts) {
    tavtest::TMessageRecorder messages;
    tavtest::TTempDb db;
    const std::string path = db.Exec(
        "CREATE TABLE t(i INTEGER, a REAL, b REAL, c REAL, y REAL);"
        "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 20)"
        " INSERT INTO t SELECT i, i, (i * i) % 7, (i * 3) % 5, 2 * i + (i % 4) FROM s;");
    TTAVQuery q;
    q.SetDatabaseName(path);
    q.SetSQLText("SELECT * FROM t WHERE i <= 10");
    q.SetControl1(None("a"));
    q.SetControl2(None("b"));
    q.SetControl3(None("c"));
    TDependentVar r;
    r.SetField("y");
    q.SetResponse(r);
    q.Open();
    q.ReLoad();
    q.Execute();
    EXPECT_EQ(q.BuildReport().DegreesOfFreedom,
              LB + "     Regression 3" + LB + "     Residual 6" + LB + "     Total 9");

    TTAVTable t;
    t.SetDatabaseName(path);
    t.SetTableName("t");
    t.SetControl1(None("a"));
    t.SetControl2(None("b"));
    t.SetResponse(r);
    t.Open();
    t.ReLoad();
    t.Execute();
    EXPECT_EQ(t.BuildReport().FStatistic.rfind("(2,17): ", 0), 0u);
}

TEST(Report, ZeroNegativeAndPositiveCovarianceEntries) {
    // x centred on zero makes the intercept and slope estimates exactly uncorrelated.
    tavtest::TMessageRecorder messages;
    tavtest::TTempDb db;
    const std::string path = db.Exec(
        "CREATE TABLE t(x REAL, y REAL); INSERT INTO t VALUES (-1, 1), (1, 3), (-1, 2), (1, 5);");
    TIndepVar x = None("x");
    TDependentVar y;
    y.SetField("y");
    TTAVTable t;
    t.SetDatabaseName(path);
    t.SetTableName("t");
    t.SetControl1(x);
    t.SetResponse(y);
    t.Open();
    t.ReLoad();
    t.Execute();
    ASSERT_EQ(t.GetCovar(0, 1), 0.0);
    TTAVQuery q;
    q.SetDatabaseName(path);
    q.SetSQLText("SELECT * FROM t");
    q.SetControl1(x);
    q.SetResponse(y);
    q.Open();
    q.ReLoad();
    q.Execute();
    // Residuals -0.5, -1, 0.5, 1: MSE = 2.5 / 2; Var(b0) = 1.25 / 4 = 0.3125, an exact tie that
    // rounds away from zero.
    EXPECT_EQ(t.BuildReport().CovarianceLines[2], " 3.13E-1    0.00E+0   ");
    EXPECT_EQ(q.BuildReport().CovarianceLines[2], " 3.13E-1    0.00E+0    ");
    EXPECT_EQ(q.BuildReport().CorrelationLines[2], " 1.00E+0    0.00E+0    ");

    // A negative entry: the example of the fitting tests.
    tavtest::TTempDb db2;
    TTAVQuery neg;
    LoadExample(neg, db2);
    EXPECT_EQ(neg.BuildReport().CovarianceLines[3].rfind("-6.75E-1    ", 0), 0u);
}

TEST(OutputWindow, LabelsAfterOpenAndTotalsFromTheTexts) {
    tavtest::TMessageRecorder messages;
    TTAVTable component;
    component.SetTableName("SALES");
    TStringList cov, corr;
    cov.Add("Covariance Matrix:");
    cov.Add(" ");
    cov.Add(" 1.00E+0   ");
    corr.Add("Correlation Matrix:");
    corr.Add(" ");
    corr.Add(" 1.00E+0    ");
    std::map<std::string, QString> seen;
    tavtest::TModalDriver driver([&](QDialog* form) {
        for (const char* name :
             {"labDepVarName", "labIndepVarNames", "labDataCount", "labDOF", "labMean", "labStdDev",
              "labCoeffs", "labStdErrCoeff", "labtValue", "labSSR", "labSSE", "labSST",
              "labsSquared", "labRsqr", "labFStat", "labSumSquare"})
            seen[name] = tavtest::LabelText(*form, name);
        seen["font"] = QString::number(form->findChild<QLabel*>("labMean")->font().pointSize());
        seen["matrix"] = form->findChild<QPlainTextEdit*>("Matrix")->toPlainText();
        seen["status"] = form->findChild<TPanel*>("Panel2")->Caption();
        seen["top"] = form->findChild<TPanel*>("TopPanel")->Caption();
        seen["header0"] = form->findChild<THeaderControl*>("Header1")->SectionText(0);
    });
    TRegressionOutputForm form;
    form.SetReportMessage("");
    form.Open(component, "Quarterly sales", LB + "    Y = PROFIT", LB + "     X1 = SALES" + LB, "4",
              LB + "     Regression 1", LB + "     B0: 1.0000" + LB, "1.350", "12.500", "37.500",
              LB + "     Y: 3.7500" + LB, LB + "     1.7078" + LB, LB + "   1.4230" + LB,
              LB + "  0.7027" + LB, "(1,2): 4.481", cov, corr);
    EXPECT_EQ(seen["labDepVarName"], "Dependent Variable: \n    Y = PROFIT");
    EXPECT_EQ(seen["labIndepVarNames"], "Independent Variables: \n     X1 = SALES\n");
    EXPECT_EQ(seen["labDataCount"], "Number of observations: 4");
    EXPECT_EQ(seen["labDOF"], "Degrees of Freedom: \n     Regression 1");
    EXPECT_EQ(seen["labtValue"], "t* Values\n  0.7027\n");
    EXPECT_EQ(seen["labSSR"], "Regression SSR : 37.500");
    EXPECT_EQ(seen["labSSE"], "Residual      SSE : 12.500");
    EXPECT_EQ(seen["labSST"], "Total            SST : 50.000");
    EXPECT_EQ(seen["labRsqr"], "R  : 0.750");
    EXPECT_EQ(seen["labsSquared"], "s   : 1.350");
    EXPECT_EQ(seen["labFStat"], "F Statistic(1,2): 4.481");
    EXPECT_EQ(seen["labSumSquare"], "Sum of Squares");
    EXPECT_EQ(seen["font"], "8");
    EXPECT_EQ(seen["matrix"], "Covariance Matrix:\n \n 1.00E+0   ");
    EXPECT_EQ(seen["status"], kProductNotice);
    EXPECT_EQ(seen["header0"], "Data: SALES");
    EXPECT_EQ(seen["top"].left(30), "Data: SALES  Quarterly sales  ");

    // Both sums zero: R squared has nothing to divide by.
    TRegressionOutputForm zero;
    zero.Open(component, "", "", "", "", "", "", "", "0.000", "0.000", "", "", "", "", "", cov,
              corr);
    EXPECT_EQ(seen["labRsqr"], "R  : NAN");
}

TEST(OutputWindow, MatrixSwitchingZoomAndTheMatrixWindow) {
    tavtest::TMessageRecorder messages;
    TTAVTable component;
    TStringList cov, corr;
    cov.Add("Covariance Matrix:");
    cov.Add(" ");
    corr.Add("Correlation Matrix:");
    corr.Add(" ");
    for (int i = 0; i < 7; ++i) {  // 9 lines each: seven terms
        cov.Add("cov row " + std::to_string(i));
        corr.Add("corr row " + std::to_string(i));
    }
    std::vector<std::tuple<QString, QString, int, QString, QString>> zooms;
    QString smallBox;
    int outputFont = 0;
    tavtest::TModalDriver driver([&](QDialog* dialog) {
        if (auto* zoom = dynamic_cast<TAnalysisMatrix*>(dialog)) {
            auto* header = zoom->findChild<THeaderControl*>("Header1");
            auto* memo = zoom->findChild<QPlainTextEdit*>("Memo1");
            zooms.emplace_back(header->SectionText(0), header->SectionText(1),
                               memo->font().pointSize(), memo->toPlainText(),
                               zoom->findChild<TPanel*>("Panel2")->Caption());
            return;
        }
        auto* form = dynamic_cast<TRegressionOutputForm*>(dialog);
        ASSERT_NE(form, nullptr);
        outputFont = form->findChild<QLabel*>("labMean")->font().pointSize();
        form->Zoom1Click();
        form->Correlation1Click();
        EXPECT_EQ(form->VisibleMatrix(), "Correlation");
        form->Zoom1Click();
        form->Covariance1Click();
        smallBox = form->findChild<QPlainTextEdit*>("Matrix")->toPlainText();
        form->Zoom1Click();
    });
    const std::string longMessage(100, 'm');
    TRegressionOutputForm form;
    form.SetReportMessage(longMessage);
    form.Open(component, "descr", "", "", "", "", "", "", "1", "1", "", "", "", "", "", cov, corr);
    EXPECT_EQ(outputFont, 7) << "9 lines of covariance text";
    ASSERT_EQ(zooms.size(), 3u);
    EXPECT_EQ(std::get<0>(zooms[0]), "Covariance Matrix");
    EXPECT_EQ(std::get<0>(zooms[1]), "Correlation Matrix");
    EXPECT_EQ(std::get<0>(zooms[2]), "Covariance Matrix");
    EXPECT_EQ(std::get<1>(zooms[0]), "descr");
    EXPECT_EQ(std::get<2>(zooms[0]), 6) << "more than 8 lines";
    EXPECT_EQ(std::get<3>(zooms[1]).left(12), " \n \ncorr row");
    EXPECT_EQ(std::get<4>(zooms[0]), QString::fromStdString(std::string(78, 'm') + "..."));
    EXPECT_TRUE(smallBox.startsWith("Covariance Matrix:"));

    // The matrix window on its own: font sizes by line count, short footers keep their dots.
    std::vector<int> fonts;
    std::vector<QString> footers;
    tavtest::TModalDriver direct([&](QDialog* dialog) {
        fonts.push_back(dialog->findChild<QPlainTextEdit*>("Memo1")->font().pointSize());
        footers.push_back(dialog->findChild<TPanel*>("Panel2")->Caption());
    });
    for (int lines : {6, 7, 9}) {
        TStringList l;
        for (int i = 0; i < lines; ++i) l.Add("x");
        TAnalysisMatrix m;
        m.Open(l, "T", "D", "short");
    }
    EXPECT_EQ(fonts, (std::vector<int>{8, 7, 6}));
    EXPECT_EQ(footers[0], "short...");
}

TEST(OutputWindow, PrintsOnePagePdfInEveryScaleAndRestoresTheWindow) {
    tavtest::TMessageRecorder messages;
    tavtest::TTempDb db;
    TTAVTable t;
    LoadExample(t, db);
    std::vector<std::string> files;
    bool restored = true;
    tavtest::TModalDriver driver([&](QDialog* dialog) {
        auto* form = dynamic_cast<TRegressionOutputForm*>(dialog);
        ASSERT_NE(form, nullptr);
        const std::pair<const char*, void (TRegressionOutputForm::*)()> scales[] = {
            {"none", &TRegressionOutputForm::NoScaling1Click},
            {"proportional", &TRegressionOutputForm::Proportional1Click},
            {"fit", &TRegressionOutputForm::ToFit1Click}};
        for (const auto& [name, choose] : scales) {
            if (choose) (form->*choose)();
            files.push_back(db.Path(std::string("report-") + name + ".pdf"));
            SetPrinterOutputFile(files.back());
            form->Print1Click();
            for (const char* b : {"bbtnPrintForm", "bbtnPlots", "bbtnShowMatrix", "bbtnClose"})
                restored = restored && form->findChild<QPushButton*>(b)->isVisible();
            restored = restored && form->findChild<THeaderControl*>("Header1")->isVisible();
            restored = restored && form->findChild<TPanel*>("Panel2")->BevelInner() ==
                                       TPanel::TBevel::bvLowered;
        }
    });
    t.Output();
    SetPrinterOutputFile("");
    EXPECT_TRUE(restored);
    ASSERT_EQ(files.size(), 3u);
    auto run = [](const char* program, const QStringList& args) {
        return tavtest::RunOffscreen(program, args).out;
    };
    // The page is drawn, not pasted as a picture: its text is text, laid out as in the window
    // at the scale chosen (one window pixel per printer dot of 1/1200 inch, the window's own
    // size at 96 pixels an inch, or the page's width).
    std::vector<double> span;  // from "Dependent" to "Coefficients:", in points
    for (const auto& file : files) {
        const QString path = QString::fromStdString(file);
        EXPECT_TRUE(run("pdfinfo", {path}).contains(QRegularExpression("Pages:\\s+1\\n"))) << file;
        EXPECT_TRUE(run("pdffonts", {path}).contains("TrueType")) << file;
        const QString words = run("pdftotext", {"-bbox", path, "-"});
        auto left = [&](const char* word) {
            const auto m =
                QRegularExpression(QString("<word xMin=\"([0-9.]+)\"[^>]*>%1</word>").arg(word))
                    .match(words);
            EXPECT_TRUE(m.hasMatch()) << file << " " << word;
            return m.captured(1).toDouble();
        };
        span.push_back(left("Coefficients:") - left("Dependent"));
    }
    EXPECT_NEAR(span[0] * 1200 / 96, span[1], 0.05 * span[1]);  // none, proportional
    EXPECT_GT(span[2], span[1]);                                // to fit

    // Output cleared the table's flag: a second Execute answers not loaded.
    t.SetShowWarnings(true);
    messages.Clear();
    t.Execute();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Table values NOT loaded."});
}

TEST(OutputWindow, QueryKeepsItsLoadAfterOutput) {
    tavtest::TMessageRecorder messages;
    tavtest::TTempDb db;
    TTAVQuery q;
    LoadExample(q, db);
    std::string name;
    tavtest::TModalDriver driver([&](QDialog* dialog) {
        name = static_cast<TRegressionOutputForm*>(dialog)->DataSetName();
    });
    q.Output();
    EXPECT_EQ(name, "SELECT * FROM t");
    EXPECT_TRUE(q.ValuesLoaded());
    q.Execute();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_NEAR(q.Getb(1), 1.1, 1e-12);
}
