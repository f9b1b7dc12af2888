// tavreg --diagnostics end to end: the eight files of a fit (named after the component when a
// form file holds several), a folder made when missing, and nothing left by a failed or refused
// run.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QXmlStreamReader>

#include "support/tav_app_support.h"
#include "support/tav_test_support.h"
#include "tav/formfile.h"

namespace {

using tavtest::Tavreg;

const char* kPlots[] = {"residuals-fitted", "normal-qq", "scale-location", "residuals-leverage"};

// Every file of the folder, hidden ones too.
QStringList Files(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Whether the folder holds the eight files of one fit, with the prefix, as readable pictures.
void ExpectPlots(const QString& dir, const QString& prefix) {
    for (const char* plot : kPlots) {
        const QString base = QDir(dir).filePath(prefix + plot);
        QImage png;
        EXPECT_TRUE(png.load(base + ".png", "PNG")) << base.toStdString();
        EXPECT_EQ(png.size(), QSize(800, 600)) << base.toStdString();
        QFile svg(base + ".svg");
        ASSERT_TRUE(svg.open(QIODevice::ReadOnly)) << base.toStdString();
        QXmlStreamReader xml(&svg);
        while (!xml.atEnd()) xml.readNext();
        EXPECT_FALSE(xml.hasError()) << base.toStdString();
    }
}

}  // namespace

TEST(TavregDiagnostics, EightFilesPerFitAndNothingFromAFailedRun) {
    tavtest::TTempDb tmp;
    const QString form = tavtest::SampleForm();

    // Two components: their names before the plots' names; the folders made as needed.
    const QString both = QString::fromStdString(tmp.Path("out/both"));
    tavtest::TProgramResult r = Tavreg({"--quiet", "--diagnostics", both, form});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());  // files only: no text report
    EXPECT_EQ(Files(both).size(), 16) << Files(both).join(' ').toStdString();
    ExpectPlots(both, "SalesTable-");
    ExpectPlots(both, "UnitsQuery-");

    // One regression: the plain names.
    const QString one = QString::fromStdString(tmp.Path("one"));
    const QStringList sales = {"--db", tavtest::SampleDb(), "--table", "sales",
                               "--y",  "Log(PROFIT)",       "--x",     "STORES",
                               "--x",  "Log(ADVERT)"};
    r = Tavreg(sales + QStringList{"--diagnostics", one});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Files(one).size(), 8);
    ExpectPlots(one, "");

    // Onto an input: refused before anything runs.
    r = Tavreg(sales + QStringList{"--diagnostics", tavtest::SampleDb()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("--diagnostics") && r.err.contains("is the database"))
        << r.err.toStdString();

    // The second component fails after the first has written its plots: none stay, nor the
    // folders the run made.
    const QString broken = QString::fromStdString(tmp.Path("broken.dfm"));
    std::string text = tav::ReadTextFile(form.toStdString());
    text.replace(text.rfind("'UNITS'"), 7, "'NOPE'");
    tav::WriteTextFile(broken.toStdString(), text);
    // The form file names its database relative to itself.
    ASSERT_TRUE(QFile::copy(tavtest::SampleDb(), QString::fromStdString(tmp.Path("sales.db"))));
    const QString failed = QString::fromStdString(tmp.Path("failed/plots"));
    r = Tavreg({"--diagnostics", failed, broken});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Field 'NOPE' not found")) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(tmp.Path("failed"))));
    // ... and into a folder that was there, nothing either.
    QDir().mkpath(failed);
    r = Tavreg({"--diagnostics", failed, broken});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Files(failed).isEmpty()) << Files(failed).join(' ').toStdString();
}
