// tavreg --csv end to end: the fit of a CSV file against the same data in a SQLite file, what it
// says about the rows it read, and its failures.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>

#include "support/tav_app_support.h"
#include "support/tav_test_support.h"
#include "tav/formfile.h"

namespace {

using tavtest::Regressions;
using tavtest::Tavreg;
using tavtest::TProgramResult;

// 30 records of a response, two numbers (exact in binary, so that every reader gets the same
// doubles), a text and a few missing values, as a SQLite table, a CSV file with commas and one
// with semicolons, decimal commas, CR LF and a byte-order mark.
struct TSameData {
    tavtest::TTempDb dir;
    std::string db, csv, european;

    TSameData() {
        std::string sql =
            "CREATE TABLE data (id INTEGER, region TEXT, x1 REAL, x2 INTEGER, y REAL);";
        std::string csv = "id,region,x1,x2,y\n";
        std::string eu = "\xEF\xBB\xBFid;region;x1;x2;y\r\n";
        tavtest::TRandom random(7);
        for (int i = 1; i <= 30; ++i) {
            const double x1 = static_cast<int>(random.Uniform(0, 800)) / 8.0;
            const int x2 = 1 + static_cast<int>(random.Uniform(0, 50));
            const double y = static_cast<int>(random.Uniform(0, 400)) / 4.0 + 2 * x1;
            const std::string region = i % 3 ? "North, upper" : "South \"low\"";
            std::string sx1 = tav::FloatToStr(x1), sy = tav::FloatToStr(y);
            if (i == 5) sx1.clear();  // missing: empty in one file, NA in the other
            sql += "INSERT INTO data VALUES (" + std::to_string(i) + ", '" + region + "', " +
                   (sx1.empty() ? "NULL" : sx1) + ", " + std::to_string(x2) + ", " + sy + ");";
            std::string quoted = region;
            for (std::size_t k = 0; (k = quoted.find('"', k)) != std::string::npos; k += 2)
                quoted.insert(k, "\"");
            csv += std::to_string(i) + ",\"" + quoted + "\"," + sx1 + "," + std::to_string(x2) +
                   "," + sy + "\n";
            auto comma = [](std::string s) {
                for (char& c : s)
                    if (c == '.') c = ',';
                return s;
            };
            eu += std::to_string(i) + ";\"" + quoted + "\";" + (sx1.empty() ? "NA" : comma(sx1)) +
                  ";" + std::to_string(x2) + ";" + comma(sy) + "\r\n";
        }
        db = dir.Exec(sql, "data.db");
        this->csv = dir.Path("data.csv");
        european = dir.Path("eu.csv");
        tavtest::WriteFile(this->csv, csv);
        tavtest::WriteFile(european, eu);
    }
};

const QStringList kModel = {"--y", "y", "--x", "x1", "--x", "Log(x2)", "--json"};

}  // namespace

TEST(TavregCsv, FitsAsTheSameDataInASqliteFile) {
    TSameData data;
    const TProgramResult fromDb =
        Tavreg(QStringList{"--db", QString::fromStdString(data.db), "--table", "data"} + kModel);
    ASSERT_EQ(fromDb.exitCode, 0) << fromDb.err.toStdString();
    const QJsonObject expected = Regressions(fromDb)[0].toObject();
    ASSERT_EQ(expected["recordsUsed"].toInt(), 29);

    const QString csv = QString::fromStdString(data.csv);
    const QString eu = QString::fromStdString(data.european);
    const std::pair<QStringList, QString> runs[] = {
        {{"--csv", csv}, "tavreg: read 30 rows of 5 columns from " + csv + " (region as text)\n"},
        {{"--csv", eu, "--sql", "SELECT * FROM eu"},
         "tavreg: read 30 rows of 5 columns from " + eu + " (separator ';'; region as text)\n"},
    };
    for (const auto& [args, readLine] : runs) {
        const TProgramResult r = Tavreg(args + kModel);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(Regressions(r)[0].toObject(), expected) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith(readLine)) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 2) << r.err.toStdString();
        EXPECT_TRUE(Tavreg(args + kModel + QStringList{"--quiet"}).err.isEmpty());
    }
}

TEST(TavregCsv, ManyRowsAreAllReadAndCounted) {
    tavtest::TTempDb dir;
    std::string text = "x,y\n";
    for (int i = 0; i < 3000; ++i)
        text += std::to_string(i) + "," + std::to_string(2 * i + i % 7) + "\n";
    const std::string path = dir.Path("big.csv");
    tavtest::WriteFile(path, text);
    const TProgramResult r =
        Tavreg({"--csv", QString::fromStdString(path), "--y", "y", "--x", "x", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("tavreg: read 3000 rows of 2 columns from "));
    EXPECT_TRUE(r.err.contains("2500 of 2500 records used; only the first 2500 of 3000 records"))
        << r.err.toStdString();
    EXPECT_EQ(Regressions(r)[0].toObject()["recordCount"].toInt(), 3000);
}

// Past the cap, --all-records reads every row of the file itself (no table is made) and gives the
// statistics the whole table has, those of single records left out; the db and the file agree.
TEST(TavregCsv, AllRecordsReadsEveryRowOfTheFileOrTable) {
    TSameData data;
    const TProgramResult fromDb = Tavreg(
        QStringList{"--db", QString::fromStdString(data.db), "--table", "data", "--all-records"} +
        kModel);
    ASSERT_EQ(fromDb.exitCode, 0) << fromDb.err.toStdString();
    const TProgramResult fromCsv =
        Tavreg(QStringList{"--csv", QString::fromStdString(data.csv), "--all-records"} + kModel);
    ASSERT_EQ(fromCsv.exitCode, 0) << fromCsv.err.toStdString();
    EXPECT_EQ(fromCsv.err,
              "tavreg: Regression: 29 of 30 records used; 1 skipped: 1 for x1 (null "
              "field)\n");
    QJsonObject db = Regressions(fromDb)[0].toObject(), csv = Regressions(fromCsv)[0].toObject();
    EXPECT_EQ(csv["n"].toInt(), 29);
    EXPECT_EQ(csv["perRecord"].toString(), "not computed over the whole table");
    EXPECT_FALSE(csv.contains("leverage"));
    csv.remove("component"), db.remove("component");
    EXPECT_EQ(csv, db);
    const TProgramResult pdf = Tavreg(
        QStringList{"--csv", QString::fromStdString(data.csv), "--all-records", "--pdf", "a.pdf"} +
        kModel);
    EXPECT_EQ(pdf.exitCode, 2);
    EXPECT_TRUE(pdf.err.contains("--pdf needs the records of a report")) << pdf.err.toStdString();
}

TEST(TavregCsv, FailuresNameTheCulpritWithTheirExitStatus) {
    TSameData data;
    const QString csv = QString::fromStdString(data.csv);
    const QString ragged = QString::fromStdString(data.dir.Path("ragged.csv"));
    tavtest::WriteFile(ragged.toStdString(), "a,b,c\n1,2,3\n4,5\n");
    const QString missing = QString::fromStdString(data.dir.Path("missing.csv"));
    const QString chicks = QString(tavtest::ExamplesDir()) + "/ChickWeight.csv",
                  cars = QString(tavtest::ExamplesDir()) + "/mtcars.csv";
    struct Case {
        QStringList args;
        int exitCode;
        QString message;
    };
    const Case cases[] = {
        {{"--csv", csv, "--db", QString::fromStdString(data.db), "--y", "y"},
         2,
         "tavreg: give either --db or --csv, not both"},
        {{"--csv", csv, "--table", "data", "--sql", "SELECT 1", "--y", "y"},
         2,
         "tavreg: give one of --table and --sql"},
        {{"--csv", csv, "some.dfm", "--y", "y"}, 2, "tavreg: give either a form file or --csv"},
        {{"--csv", csv, "--y", "y", "--x", "x1", "--pdf", csv},
         2,
         "tavreg: --pdf '" + csv + "' is the CSV file"},
        {{"--csv", missing, "--y", "y"}, 1, "tavreg: " + missing + ": no such file\n"},
        {{"--csv", ragged, "--y", "a"},
         1,
         "tavreg: " + ragged + ", line 3: 2 fields where the header has 3\n"},
        {{"--csv", csv, "--table", "other", "--y", "y", "--x", "x1"},
         1,
         "Database '" + csv + "': no such table: other"},
        // Factors and text columns: mtcars and ChickWeight as write.csv writes them.
        {{"--csv", chicks, "--y", "weight", "--x", "Diet"},
         1,
         "--x 'Diet': the column Diet is text in " + chicks},
        {{"--csv", chicks, "--y", "weight", "--x", "Diet", "--all-records"},
         1,
         "--x 'Diet': the column Diet is text in " + chicks},
        {{"--csv", chicks, "--y", "weight", "--x", "Factor(Feed)"},
         1,
         "tavreg: Factor(Feed): Field 'Feed' not found\n"},
        {{"--csv", cars, "--y", "mpg", "--x", "Factor(carb)", "--x", "Factor(cyl)", "--x",
          "Factor(gear)", "--x", "wt", "--x", "hp"},
         1,
         "Factor(gear): its 3 levels give 2 indicators, which make at least 11 control "
         "variables; a fit may have ten\n"},
        {{"--csv", cars, "--sql", "SELECT *, 1 AS am1 FROM mtcars", "--y", "mpg", "--x",
          "Factor(am)"},
         1,
         "Factor(am): its indicator am1 would have the name of a field of the data\n"},
        {{"--csv", cars, "--y", "mpg", "--x", "Factor(gear,2)"}, 2, "Factor takes 1 argument"},
        // A newcomer's mistakes get the way out.
        {{cars}, 1, cars + ": a CSV file, not a form file: give it with --csv\n"},
        {{"--db", cars, "--table", "mtcars", "--y", "mpg"}, 1, "; a CSV file is read with --csv\n"},
        {{"--csv", cars, "--y", "mpg", "--x", "weight"},
         1,
         "Field 'weight' not found (the fields are row.names, mpg, cyl, disp, hp, drat, wt,"},
        {{"--csv", cars, "--y", "mpg", "--x", "log(wt)"}, 2, "unknown transformation log (Log?)"},
    };
    for (const Case& c : cases) {
        const TProgramResult r = Tavreg(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        // A wrong command line is refused before the file is read.
        if (c.exitCode == 2) {
            EXPECT_FALSE(r.err.contains("tavreg: read ")) << r.err.toStdString();
        }
    }
}

TEST(TavregCsv, NonFiniteCellsAreSkippedAndRecordsNamedById) {
    tavtest::TTempDb dir;
    const QString path = QString::fromStdString(dir.Path("inf.csv"));
    tavtest::WriteFile(path.toStdString(),
                       "name,x,y\na,1,2.5\nb,2,Infinity\nc,3,6.5\nd,1e999,1\ne,4,-1E999\n"
                       "f,5,10.5\ng,-inf,3\nh,6,13\nk,NaN,1\n");
    const QStringList model = {"--csv", path, "--y", "y", "--x", "x", "--json"};
    // The numeric columns stay numbers; their infinities and NaN are counted, not fatal.
    const std::pair<QStringList, QJsonArray> runs[] = {
        {{}, {1, 3, 6, 8}},
        {{"--id", "name"}, {"a", "c", "f", "h"}},
    };
    for (const auto& [args, records] : runs) {
        const TProgramResult r = Tavreg(model + args);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(
            r.err.startsWith("tavreg: read 9 rows of 3 columns from " + path + " (name as text)\n"))
            << r.err.toStdString();
        const QJsonObject o = Regressions(r)[0].toObject();
        EXPECT_EQ(o["records"].toArray(), records);
        EXPECT_EQ(o["recordsSkipped"].toObject(),
                  (QJsonObject{{"y: value not finite", 2}, {"x: value not finite", 3}}));
    }
    const TProgramResult r = Tavreg(model + QStringList{"--id", "nope"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Field 'nope' not found")) << r.err.toStdString();
}

TEST(TavregCsv, RecordsAreNamedByRsRowNames) {
    // R's airquality as write.csv writes it: the row names first, in a column without a name.
    tavtest::TTempDb dir;
    std::string text =
        "\"\"," + tav::ReadTextFile(std::string(tavtest::TestDataDir()) + "/r/airquality.csv");
    for (std::size_t at = text.find('\n'), k = 1; at < text.size() - 1; at = text.find('\n', at))
        text.insert(++at, "\"" + std::to_string(k++) + "\",");
    const QString csv = QString::fromStdString(dir.Path("airquality.csv"));
    tavtest::WriteFile(csv.toStdString(), text);
    QStringList model{"--csv", csv};
    model +=
        QString("--quiet --y Ozone --x SolarR --x Wind --x Temp --x Product(Wind,Temp)").split(' ');
    // Named and ordered as R's plot.lm labels them (rstandard, cooks.distance: airquality.ref).
    const TProgramResult r = Tavreg(model + QStringList{"--summary"});
    EXPECT_TRUE(
        r.out.contains("Largest standardized residuals: 117 (4.92), 30 (2.94), 62 (2.77)\n"
                       "Largest Cook's distances: 117 (0.238), 126 (0.113), 62 ("))
        << r.out.toStdString() << r.err.toStdString();
    const QJsonArray records =
        Regressions(Tavreg(model + QStringList{"--json"}))[0].toObject()["records"].toArray();
    ASSERT_EQ(records.size(), 111);
    EXPECT_EQ((QJsonArray{records[0], records[22], records[33], records[76], records[110]}),
              (QJsonArray{"1", "30", "62", "117", "153"}));
}
