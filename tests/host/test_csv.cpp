// The CSV reader (fields, separators, missing values, column types, errors with their line) and
// the import that datasets then read like a SQLite file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <thread>

#include "host/data/dbconnection.h"
#include "support/tav_app_support.h"
#include "support/tav_test_support.h"
#include "tav/csvtable.h"
#include "tav/db.h"

using namespace tav;

namespace {

// The table as one line: the separator, each column as NAME:TYPE, then each row, a text cell in
// brackets, a number as its value, a missing cell as NA.
std::string Render(const TCsvTable& t) {
    std::ostringstream s;
    s << t.Separator();
    for (int c = 0; c < t.ColumnCount(); ++c)
        s << " " << t.ColumnName(c) << ":"
          << "IRT"[static_cast<int>(t.ColumnType(c))];
    for (int64_t r = 0; r < t.RowCount(); ++r) {
        s << " /";
        for (int c = 0; c < t.ColumnCount(); ++c) {
            s << " ";
            const auto cell = t.Cell(r, c);
            if (!cell)
                s << "NA";
            else if (t.ColumnType(c) == TCsvType::Integer)
                s << t.Integer(r, c);
            else if (t.ColumnType(c) == TCsvType::Real)
                s << t.Real(r, c);
            else
                s << "[" << *cell << "]";
        }
    }
    return s.str();
}

}  // namespace

TEST(CsvReader, FieldsTypesAndMissingValues) {
    struct Case {
        const char* what;
        std::string text;
        const char* table;
    };
    const Case cases[] = {
        {"quoted separators and quotes", "name,x,y\n\"Smith, J\",1,2.5\n\"a \"\"b\"\"\",3,4\n",
         ", name:T x:I y:R / [Smith, J] 1 2.5 / [a \"b\"] 3 4"},
        {"semicolons with decimal commas", "a;b;c\n1,5;2;x\n-0,25;3;y",
         "; a:R b:I c:T / 1.5 2 [x] / -0.25 3 [y]"},
        {"semicolons with decimal points", "a;b\n1.5;2\n", "; a:R b:I / 1.5 2"},
        {"both decimal marks in one column are text", "a;b\n1,5;1\n2.5;2\n",
         "; a:T b:I / [1,5] 1 / [2.5] 2"},
        {"a decimal comma needs the semicolon separator", "a,b\n\"1,5\",1\n",
         ", a:T b:I / [1,5] 1"},
        {"empty cells and NA are missing; quoted NA is text", "x,y,z\n1,,NA\n,2.5,\"NA\"\n  ,NA,\n",
         ", x:I y:R z:T / 1 NA NA / NA 2.5 [NA] / NA NA NA"},
        {"CR LF and a byte-order mark",
         "\xEF\xBB\xBF"
         "a,b\r\n1,2\r\n3,4\r\n",
         ", a:I b:I / 1 2 / 3 4"},
        {"a line break inside quotes", "id,note\r\n1,\"two\r\nlines\"\r\n2,x\r\n",
         ", id:I note:T / 1 [two\r\nlines] / 2 [x]"},
        {"CR line ends, empty lines passed over", "a,b\r\r1,2\r\n\n3,4\n\n",
         ", a:I b:I / 1 2 / 3 4"},
        {"number forms",
         "i,r,e,big,hex,inf,none\n+7, 1.5 ,1e3,99999999999999999999,0x10,inf,\n"
         "-0,.5,2E-2,1,1,1,NA\n",
         ", i:I r:R e:R big:R hex:T inf:R none:R / 7 1.5 1000 1e+20 [0x10] inf NA / 0 0.5 "
         "0.02 1 [1] 1 NA"},
        {"infinities, NaN and numerals beyond the double range stay numbers",
         "a;b;c;d\nInfinity;1e999;NaN;1e-999\n-INF;-1,5E999;2;0,5\n",
         "; a:R b:R c:R d:R / inf inf nan 0 / -inf -inf 2 0.5"},
        {"R's row names: a text column whose name clashes with none",
         "\"\",\"row.names\"\n\"1\",x\n", ", row.names.1:T row.names:T / [1] [x]"},
        {"row names without quotes", ",a\n3,1\n", ", row.names:T a:I / [3] 1"},
        {"quoted numerals are text (R's factor levels)", "d,y\n\"1\",2\n\"2\",3\n",
         ", d:T y:I / [1] 2 / [2] 3"},
        {"names lose their blanks; blanks inside cells stay", " a , \"b c\"\n x y ,2\n",
         ", a:T b c:I / [ x y ] 2"},
        {"a header without rows", "a;b;c\n", "; a:R b:R c:R"},
        {"one column", "v\n1\n\n2\n", ", v:I / 1 / 2"},
        {"a quote inside a header field opens nothing", "in\"ch;feet;weight,x\n1;2;3,5\n",
         "; in\"ch:I feet:I weight,x:R / 1 2 3.5"},
        {"the separator is the one the header reads with", ",\"c;d\n1;2\n", "; ,\"c:I d:I / 1 2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Render(TCsvTable::Parse(c.text, "t.csv")), c.table) << c.what;
}

TEST(CsvReader, ErrorsNameTheFileAndLine) {
    struct Case {
        std::string text;
        int64_t line;
        const char* message;
    };
    std::string wide = "c";  // a header of 100000 names, refused before they are compared
    for (int k = 2; k <= 100000; ++k) wide += ",c" + std::to_string(k);
    const Case cases[] = {
        {wide + "\n1\n", 1, "t.csv, line 1: 100000 columns, more than the 2000 a table may have"},
        {"a,b,c\n1,2,3\n4,5\n", 3, "t.csv, line 3: 2 fields where the header has 3"},
        {"a,b\n\"x\ny\",1\n1,2,3\n", 4, "t.csv, line 4: 3 fields where the header has 2"},
        {"a,b\r\n1,\"open\r\n2,3\r\n", 2,
         "t.csv, line 2: the quotes opened in field 2 are never closed"},
        {"a,B,b\n", 1, "t.csv, line 1: the column name 'b' is given twice (columns 2 and 3)"},
        {"a,,c\n1,2,3\n", 1, "t.csv, line 1: column 2 has no name"},
        {"a\n\"x\"y\n", 2, "t.csv, line 2: field 1 goes on after its closing quote"},
        {"", 0, "t.csv: the file is empty"},
        {"\xEF\xBB\xBF\r\n\n", 0, "t.csv: the file is empty"},
    };
    for (const Case& c : cases) {
        try {
            TCsvTable::Parse(c.text, "t.csv");
            ADD_FAILURE() << "no error for: " << c.text;
        } catch (const ECsvError& e) {
            EXPECT_EQ(e.Line(), c.line) << c.text;
            EXPECT_EQ(e.Message().rfind(c.message, 0), 0u) << e.Message();
        }
    }
}

TEST(CsvImport, DatasetsReadTheTableUnderTheFileNameAndOnlyRead) {
    tavtest::TTempDb dir;
    const std::string path = dir.Path("air quality.csv");
    tavtest::WriteFile(path, "Ozone;Wind;Month\n41;7,4;May\nNA;8;June\n");
    const TCsvImport import = ImportCsvFile(path, "air quality.csv");
    EXPECT_EQ(import.table, "air quality");
    EXPECT_EQ(CsvImportSummary("air quality.csv", import),
              "read 2 rows of 3 columns from air quality.csv (separator ';'; Month as text)");

    TTable t;
    t.SetDatabaseName("air quality.csv");
    t.SetTableName("air quality");
    t.Open();
    EXPECT_EQ(t.RecordCount(), 2);
    EXPECT_STREQ(t.FieldByName("Ozone")->ClassName(), "TIntegerField");
    EXPECT_STREQ(t.FieldByName("Wind")->ClassName(), "TFloatField");
    EXPECT_STREQ(t.FieldByName("Month")->ClassName(), "TStringField");
    EXPECT_DOUBLE_EQ(t.FieldByName("Wind")->AsFloat(), 7.4);
    t.Close();

    // The same read-only, guarded connection as a file's: named as the file in its messages.
    const auto connection = Connect("air quality.csv", "", 0);
    for (const char* sql : {"DELETE FROM \"air quality\"", "CREATE TEMP TABLE x(a)",
                            "WITH a AS (SELECT 1) INSERT INTO \"air quality\" SELECT 1, 2, 3"}) {
        try {
            connection->Cursor(sql)->Exec();
            ADD_FAILURE() << sql;
        } catch (const EDatabaseError& e) {
            EXPECT_EQ(e.Message().rfind("Database 'air quality.csv': ", 0), 0u) << e.Message();
        }
    }

    // A second import replaces the first for new connections only.
    tavtest::WriteFile(path, "Ozone\n1\n2\n3\n");
    ImportCsvFile(path, "air quality.csv");
    EXPECT_EQ(connection->Count("SELECT COUNT(*) FROM \"air quality\""), 2);
    EXPECT_EQ(Connect("air quality.csv", "", 0)->Count("SELECT COUNT(*) FROM \"air quality\""), 3);
    UnregisterSqliteImage("air quality.csv");
    EXPECT_THROW(Connect("air quality.csv", "", 0), EDatabaseError);

    EXPECT_THROW(
        {
            try {
                ImportCsvFile(dir.Path("none.csv"), "none.csv");
            } catch (const ECsvError& e) {
                EXPECT_EQ(e.Message(), dir.Path("none.csv") + ": no such file");
                throw;
            }
        },
        ECsvError);
    EXPECT_FALSE(FindSqliteImage("none.csv"));
}

// A file read a block at a time gives what the whole text gives: records and line ends that cross
// a block, and the lines errors name. Devices are refused; a pipe is read within its bound.
TEST(CsvImport, FilesReadInBlocksPipesWithinBoundsDevicesNot) {
    tavtest::TTempDb dir;
    std::string text = "id,note\r\n";
    for (int i = 0; text.size() < (5u << 20); ++i) text += std::to_string(i) + ",\"a,\r\nb\"\r\n";
    const std::string path = dir.Path("blocks.csv");
    for (const std::string& tail : {std::string(), std::string("1,2,3\r\n")}) {
        tavtest::WriteFile(path, text + tail);
        std::string parsed, imported;
        try {
            parsed = IntToStr(TCsvTable::Parse(text + tail, path).RowCount());
        } catch (const ECsvError& e) {
            parsed = e.Message();
        }
        try {
            imported = IntToStr(ImportCsvFile(path, "blocks.csv").rows);
        } catch (const ECsvError& e) {
            imported = e.Message();
        }
        EXPECT_EQ(imported, parsed);
    }

    const std::string fifo = dir.Path("pipe.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { tavtest::WriteFile(fifo, "a;b\n1,5;2\n"); });
    EXPECT_EQ(CsvImportSummary("p", ImportCsvFile(fifo, "pipe.csv", 5)),
              "read 1 row of 2 columns from p (separator ';')");
    writer.join();
    const std::pair<std::string, std::string> refused[] = {
        {fifo, fifo + ": did not end within 1 seconds"},  // no writer
        {"/dev/zero", "/dev/zero: is not a regular file or a pipe"},
        {dir.Path("."), dir.Path(".") + ": is a folder, not a CSV file"},
    };
    for (const auto& [file, message] : refused) {
        try {
            ImportCsvFile(file, "refused.csv", 1);
            ADD_FAILURE() << file;
        } catch (const ECsvError& e) {
            EXPECT_EQ(e.Message(), message);
        }
    }
    UnregisterSqliteImage("blocks.csv");
    UnregisterSqliteImage("pipe.csv");
}
