// tavreg's inference outputs: the JSON statistics and a prediction against R's references, the
// summary as a reader sees it, the scoring expression, and the mistakes a user makes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVariantList>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "support/tav_app_support.h"

namespace {

const QString kTrees = QString(tavtest::TestDataDir()) + "/r/trees.csv";
const QStringList kTreesFit = {"--csv",      kTrees, "--y",         "Log(Volume)", "--x",
                               "Log(Girth)", "--x",  "Log(Height)", "--quiet"};

using tavtest::Tavreg;

// "name index" -> value of R's reference file.
std::map<std::string, double> Reference(const std::string& file) {
    std::map<std::string, double> values;
    std::ifstream in(std::string(tavtest::TestDataDir()) + "/r/" + file);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name, index, value;
        fields >> name >> index >> value;
        values[name + " " + index] = std::stod(value);
    }
    return values;
}

}  // namespace

TEST(TavregInference, JsonAndPredictionAgreeWithR) {
    const auto r = Tavreg(kTreesFit + QStringList{"--json", "--predict", "Girth=10,Height=70"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject fit = tavtest::Regressions(r)[0].toObject();
    const QJsonObject prediction = fit["prediction"].toObject();
    const auto ref = Reference("trees.ref");
    const struct {
        const char* reference;
        double value;
    } cases[] = {
        {"p 1", fit["pValues"].toArray()[1].toDouble()},
        {"ci95_lower 2", fit["confidenceIntervals"].toArray()[2].toArray()[0].toDouble()},
        {"ci95_upper 0", fit["confidenceIntervals"].toArray()[0].toArray()[1].toDouble()},
        {"adjr2 1", fit["adjRSquared"].toDouble()},
        {"sigma 1", fit["residualStdError"].toDouble()},
        {"f_p 1", fit["fPValue"].toDouble()},
        {"anova_ss 2", fit["anova"].toObject()["residual"].toObject()["SS"].toDouble()},
        {"aic 1", fit["aic"].toDouble()},
        {"bic 1", fit["bic"].toDouble()},
        {"loglik 1", fit["logLikelihood"].toDouble()},
        {"vif 2", fit["vif"].toArray()[1].toDouble()},
        {"dw 1", fit["durbinWatson"].toDouble()},
        {"hat 31", fit["leverage"].toArray()[30].toDouble()},
        {"rstandard 5", fit["standardizedResiduals"].toArray()[4].toDouble()},
        {"rstudent 5", fit["studentizedResiduals"].toArray()[4].toDouble()},
        {"cooks 1", fit["cooksDistance"].toArray()[0].toDouble()},
        {"pred_fit 1", prediction["fit"].toDouble()},
        {"pred_se 1", prediction["seFit"].toDouble()},
        {"pred_conf95_lower 1", prediction["confidence"].toArray()[0].toDouble()},
        {"pred_pred95_upper 1", prediction["prediction"].toArray()[1].toDouble()},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(ref.count(c.reference)) << c.reference;
        const double expected = ref.at(c.reference);
        EXPECT_NEAR(c.value, expected, 1E-9 * std::fabs(expected)) << c.reference;
    }
    EXPECT_EQ(fit["confidenceLevel"].toDouble(), 0.95);
    EXPECT_EQ(fit["leverage"].toArray().size(), 31);
}

TEST(TavregInference, PredictionTableAgreesWithRRowByRow) {
    // R's new points for trees, with a row between them that has no prediction (log of -1).
    QTemporaryDir tmp;
    const QString rows = tmp.filePath("new.csv"), out = tmp.filePath("out.csv");
    tavtest::WriteFile(rows.toStdString(), "Girth,Height\n10,70\n-1,70\n15,80\n21,90\n");
    const auto r = Tavreg(kTreesFit + QStringList{"--predict-csv", rows, "--predict-out", out,
                                                  "--level", "90%", "--summary"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Regression: table trees"));
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], "Girth,Height,fit,se.fit,conf.lwr,conf.upr,pred.lwr,pred.upr,reason");
    EXPECT_TRUE(lines[2].startsWith("-1,70,,,,,,,Ln(Girth) has no value there"))
        << lines[2].toStdString();
    const auto ref = Reference("trees.ref");
    const char* names[] = {"pred_fit",          "pred_se",           "pred_conf90_lower",
                           "pred_conf90_upper", "pred_pred90_lower", "pred_pred90_upper"};
    for (int row = 1; row <= 3; ++row) {
        const QStringList cells = lines[row == 1 ? 1 : row + 1].split(',');
        for (int k = 0; k < 6; ++k) {
            const double expected = ref.at(names[k] + (" " + std::to_string(row)));
            EXPECT_NEAR(cells[2 + k].toDouble(), expected, 1E-9 * std::fabs(expected)) << names[k];
        }
        EXPECT_EQ(cells[8], "");
    }
}

TEST(TavregInference, FactorAgreesWithRInEveryStatistic) {
    // R's ChickWeight as write.csv wrote it (row names, Diet's levels in quotes), read with no
    // option; the indicators Diet2..4 come from the database.
    const auto r = Tavreg({"--csv", QString(tavtest::ExamplesDir()) + "/ChickWeight.csv", "--y",
                           "weight", "--x", "Time", "--x", "Factor(Diet)", "--json", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject fit = tavtest::Regressions(r)[0].toObject();
    EXPECT_EQ(fit["terms"].toArray().toVariantList(),
              (QVariantList{"Time", "Diet2", "Diet3", "Diet4"}));
    const auto ref = Reference("chickweight-factor.ref");
    const QJsonObject anova = fit["anova"].toObject();
    std::map<std::string, double> got = {
        {"r2 1", fit["RSquared"].toDouble()},
        {"adjr2 1", fit["adjRSquared"].toDouble()},
        {"sigma 1", fit["residualStdError"].toDouble()},
        {"f 1", fit["F"].toDouble()},
        {"f_p 1", fit["fPValue"].toDouble()},
        {"loglik 1", fit["logLikelihood"].toDouble()},
        {"aic 1", fit["aic"].toDouble()},
        {"bic 1", fit["bic"].toDouble()},
        {"dw 1", fit["durbinWatson"].toDouble()},
        {"anova_ss 1", anova["regression"].toObject()["SS"].toDouble()},
        {"anova_ss 2", anova["residual"].toObject()["SS"].toDouble()}};
    const std::pair<const char*, const char*> vectors[] = {{"coef", "b"},
                                                           {"se", "stdErrors"},
                                                           {"t", "tValues"},
                                                           {"p", "pValues"},
                                                           {"vif", "vif"},
                                                           {"resid", "residuals"},
                                                           {"hat", "leverage"},
                                                           {"rstandard", "standardizedResiduals"},
                                                           {"rstudent", "studentizedResiduals"},
                                                           {"cooks", "cooksDistance"}};
    for (const auto& [name, key] : vectors) {
        const QJsonArray values = fit[key].toArray();
        const int first = ref.count(std::string(name) + " 0") ? 0 : 1;
        for (int i = 0; ref.count(name + (" " + std::to_string(i + first))); ++i)
            got[name + (" " + std::to_string(i + first))] = values[i].toDouble();
    }
    EXPECT_EQ(got.size(), 11u + 4 * 5 + 4 + 5 * 12);  // scalars, terms, controls, records
    for (const auto& [name, value] : got) {
        ASSERT_TRUE(ref.count(name)) << name;
        EXPECT_NEAR(value, ref.at(name), 1E-9 * std::fabs(ref.at(name))) << name;
    }
}

TEST(TavregInference, SummaryReadsAsAReaderNeedsIt) {
    // A slope of 3.3e-05 on a control in the tens of thousands, and the trees at 99%.
    QTemporaryDir dir;
    std::string csv = "income,spend\n";
    for (int i = 0; i < 40; ++i)
        csv += std::to_string(20000 + 1000 * i) + "," +
               std::to_string(5 + 3.3E-5 * (20000 + 1000 * i) + ((i * 7) % 5 - 2) * 0.01) + "\n";
    const std::string path = QDir(dir.path()).filePath("spend.csv").toStdString();
    tavtest::WriteFile(path, csv);
    const auto small = Tavreg({"--csv", QString::fromStdString(path), "--y", "spend", "--x",
                               "income", "--summary", "--quiet"});
    ASSERT_EQ(small.exitCode, 0) << small.err.toStdString();
    EXPECT_TRUE(small.out.contains(QRegularExpression("income +3\\.3\\d*e-05 ")))
        << small.out.toStdString();

    const auto trees = Tavreg(kTreesFit + QStringList{"--summary", "--level", "99%"});
    ASSERT_EQ(trees.exitCode, 0) << trees.err.toStdString();
    for (const char* text :
         {"Response: Ln(Volume)", "Records: 31 of 31 records used", "Ln(Girth)", "<2e-16  ***",
          "0.5%", "99.5%", "R-squared: 0.9777,  adjusted R-squared: 0.9761",
          "F-statistic: 613.2 on 2 and 28 DF", "AIC: -62.7112", "Durbin-Watson (load order): 2.073",
          "Variance inflation factors:"})
        EXPECT_TRUE(trees.out.contains(text)) << text << "\n" << trees.out.toStdString();
    EXPECT_FALSE(trees.out.contains("X1"));
}

TEST(TavregInference, ScoringExpressionAndMistakes) {
    const auto sql = Tavreg(kTreesFit + QStringList{"--sql-expression"});
    ASSERT_EQ(sql.exitCode, 0) << sql.err.toStdString();
    EXPECT_TRUE(sql.out.startsWith("-6.63161712587")) << sql.out.toStdString();
    EXPECT_TRUE(sql.out.contains("LN(CAST(\"Girth\" AS REAL))"));
    EXPECT_EQ(sql.out.count('\n'), 1);

    const struct {
        QStringList args;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"--level", "1.5"}, 2, "--level: '1.5' is not a confidence level"},
        {{"--predict", "Girth=10;Height=70"}, 2, "is not FIELD=NUMBER"},
        {{"--predict", "Girth=10,Girth=11"}, 2, "Girth is given twice"},
        {{"--predict", "Girth=10"}, 1, "no value for Height (give one for each of Girth, Height)"},
        {{"--predict", "Girth=10,Heigt=70"}, 1, "no control variable reads Heigt"},
        {{"--predict", "Girth=0,Height=70"}, 1, "Ln(Girth) has no value there"},
    };
    for (const auto& c : cases) {
        const auto r = Tavreg(kTreesFit + c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.says;
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

TEST(TavregInference, OnePredictionServesEveryRegressionOfAForm) {
    // The example's two regressions read different fields: each takes the values it reads.
    const QString form = tavtest::SampleForm();
    const QString values = "ADVERT=20,STORES=40,PRICE=20,UNITS=300,COMPETITORS=8,INCOME=50000";
    const auto both = Tavreg({form, "--quiet", "--predict", values + ",TEMP=20"});
    ASSERT_EQ(both.exitCode, 0) << both.err.toStdString();
    EXPECT_TRUE(
        both.out.contains("Prediction of PROFIT by SalesTable at ADVERT = 20, STORES = 40, "
                          "PRICE = 20, UNITS = 300, COMPETITORS = 8, INCOME = 50000: "));
    EXPECT_TRUE(
        both.out.contains("Prediction of Ln(UNITS) by UnitsQuery at ADVERT = 20, STORES = "
                          "40, PRICE = 20, INCOME = 50000, TEMP = 20: "));
    const auto unread = Tavreg({form, "--quiet", "--predict", values + ",TEMP=20,FOO=1"});
    EXPECT_EQ(unread.exitCode, 1);
    EXPECT_TRUE(unread.err.contains("no control variable reads FOO")) << unread.err.toStdString();
    const auto missing = Tavreg({form, "--quiet", "--predict", values});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("UnitsQuery: --predict: no value for TEMP"));
}
