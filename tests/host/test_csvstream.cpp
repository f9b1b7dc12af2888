// A CSV file read as a stream of records gives, field by field and reader by reader, what the
// dataset over its import gives, and refuses the files the import refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "host/data/dbconnection.h"
#include "support/tav_app_support.h"
#include "support/tav_test_support.h"
#include "tav/csvtable.h"
#include "tav/db.h"

using namespace tav;

namespace {

// Every reader's answer for every field of the current record, as one line.
std::string Readings(const TFieldSource& source, const std::vector<std::string>& names) {
    std::ostringstream s;
    std::vector<int> columns;
    for (const std::string& name : names) columns.push_back(source.FieldByName(name)->Index());
    std::vector<TCell> cells(names.size());
    source.PeekCells(columns.data(), static_cast<int>(columns.size()), cells.data());
    for (std::size_t k = 0; k < names.size(); ++k) {
        const TField& f = *source.FieldByName(names[k]);
        double number = -1;
        bool isNumber = false;
        const int state = static_cast<int>(f.Peek(number, isNumber));
        const TCell& c = cells[k];
        s << f.FieldName() << " " << f.ClassName() << " " << f.DeclaredType() << " " << state
          << static_cast<int>(f.State()) << f.IsNull() << f.IsBlank() << isNumber << " "
          << tavtest::Bits(number) << " cell " << static_cast<int>(c.state) << c.isNumber
          << c.converted << " " << tavtest::Bits(c.number) << " [" << f.AsString() << "] ";
        const std::string error = tavtest::ErrorOf([&] { s << tavtest::Bits(f.AsFloat()); });
        s << error << "; ";
    }
    return s.str();
}

}  // namespace

TEST(CsvStream, ReadsEveryFieldAsTheImportedTable) {
    const std::string rows =
        "\"1\",1,2.5,\"a\",\"1\",Inf\r\n"
        "\"2\",NA,,\"two\r\nlines\",\"2\",-Infinity\r\n"
        "\"3\",9007199254740993, ,\" \n \",NA,1e999\r\n"
        "\"4\",-0,-0.0,\"NA\",\"4\",NaN\r\n"
        "\"5\", 7 ,\"1e3\",\"caf\xc3\xa9 \xff\",\"\",-1e999\r\n";
    // Past the blocks a file is read in, in few records: long texts, a block's end inside one.
    std::string many;
    for (int k = 0; k < 600; ++k)
        many += rows + "\"6\",1,2,\"" + std::string(2000 + k, 'x') + "\",\"6\",1\r\n";
    // Columns whose types change after the first records: whole numbers, then a real; quoted
    // numerals, then one without quotes; numbers, then a text; a decimal mark seen late.
    std::string late = "i,q,t\n", mark = "id;w\n";
    for (int k = 0; k < 5000; ++k) {
        late +=
            std::to_string(k) + ",\"" + std::to_string(k % 7) + "\"," + std::to_string(k) + "\n";
        mark += std::to_string(k) + ";" + std::to_string(k % 9) + "\n";
    }
    const std::string files[] = {
        "\"\",\"x\",\"y\",\"t\",\"q\",\"inf\"\r\n" + rows,
        "\"\",\"x\",\"y\",\"t\",\"q\",\"inf\"\r\n" + many,
        "id;w;s\r\n1;7,4;x\r\n2;NA;\r\n3;-1,5E999;\"1,5\"\r\n4; 0,25 ;\"multi\nline\"",
        late + "2.5,\"3\",x\n",
        late + "7,4,5\n",
        mark + "1;2,5\n",
    };
    tavtest::TTempDb dir;
    const std::string path = dir.Path("hard.csv");
    for (const std::string& text : files) {  // each read through an import, then streamed
        tavtest::WriteFile(path, text);
        TTable t;
        t.SetDatabaseName("hard.csv");
        t.SetTableName(ImportCsvFile(path, "hard.csv").table);
        t.Open();
        std::vector<std::string> names, expected;
        for (int k = 0; k < t.FieldCount(); ++k) names.push_back(t.Fields(k)->FieldName());
        for (; !t.Eof(); t.Next()) expected.push_back(Readings(t, names));
        const auto stream = OpenCsvStream(path);
        const auto count = static_cast<int64_t>(expected.size());
        EXPECT_EQ(stream->Count(), count > 4096 ? -1 : count);
        std::vector<std::string> got;  // of the last pass, which reads with the file's types
        do {
            got.clear();
            while (stream->Next() && got.size() <= expected.size())
                got.push_back(Readings(stream->Fields(), names));
        } while (stream->Reread());
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t n = 0; n < got.size(); ++n)
            ASSERT_EQ(got[n], expected[n]) << "record " << n + 1;
        EXPECT_EQ(tavtest::ErrorOf([&] { stream->Fields().FieldByName("Nope"); }),
                  "Field 'Nope' not found");
    }
}

// The files the import refuses, the stream refuses with the same error; a file that changes
// between two readings is refused where the change shows.
TEST(CsvStream, RefusesWhatTheImportRefuses) {
    tavtest::TTempDb dir;
    const std::string file = dir.Path("r.csv"), fifo = dir.Path("fifo.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto same = [](const std::string& path) {
        const std::string imported = tavtest::ErrorOf([&] { ImportCsvFile(path, "r", 1); });
        EXPECT_EQ(tavtest::ErrorOf([&] { OpenCsvStream(path, 1); }), imported) << path;
    };
    for (const char* text : {"", "a,b\n1,2\n3\n", "a,a\n", "a\n\"x\"y\n", "a;b\n1;2\n"}) {
        tavtest::WriteFile(file, text);
        same(file);
    }
    for (const std::string& path :
         {fifo, dir.Path("none.csv"), dir.Path("."), std::string("/dev/zero")})
        same(path);
    UnregisterSqliteImage("r");

    // A file read again for its last record's type, and changed before that second reading
    // gets past its first block.
    std::string text = "a\n";
    for (int k = 0; k < 1100000; ++k) text += "1\n";
    const std::pair<std::string, std::string> changes[] = {
        {text + "2.5\n3\n", "r.csv: the file changed while it was read"},
        {text.substr(0, text.size() - 2) + "x\n2.5\n", "r.csv, line 1100001: the file changed"},
    };
    for (const auto& change : changes) {
        tavtest::WriteFile(file, text + "2.5\n");
        const std::string raised = tavtest::ErrorOf([&] {
            const auto stream = OpenCsvStream(file);
            while (stream->Next()) stream->Fields().FieldByName("a")->AsFloat();
            EXPECT_TRUE(stream->Reread());
            tavtest::WriteFile(file, change.first);
            while (stream->Next()) stream->Fields().FieldByName("a")->AsFloat();
        });
        EXPECT_NE(raised.find(change.second), std::string::npos) << raised;
    }
}

// A stream split near its middle: the part's records count only where a record begins at the
// split; otherwise the stream reads them itself and meets their errors where a reading from the
// first record meets them. Neither part reads the file twice for the types.
TEST(CsvStream, SplitsWhereARecordBegins) {
    std::string numbers = "x,t\n", quoted = numbers, broken = numbers;
    for (int k = 0; k < 150000; ++k) {
        // A real among the first records: the whole numbers before it are read as reals at once.
        const std::string record = (k == 2000 ? "0.5" : std::to_string(k)) + ",\"a\"\n";
        numbers += record;
        // The middle of the second file is inside a text of many lines.
        quoted += k == 75000 ? "1,\"" + std::string(300000, '\n') + "\"\n" : record;
        broken += k == 120000 ? "1\n" : record;
    }
    tavtest::TTempDb dir;
    const std::string path = dir.Path("s.csv");
    for (const std::string* text : {&numbers, &quoted, &broken}) {
        tavtest::WriteFile(path, *text);
        const std::string imported = tavtest::ErrorOf([&] { ImportCsvFile(path, "s", 1); });
        const auto stream = OpenCsvStream(path);
        ASSERT_TRUE(stream->Next());
        const auto part = stream->Split();
        ASSERT_NE(part, nullptr);
        EXPECT_EQ(stream->Split(), nullptr);
        int64_t records = 1, split = 0;
        const std::string partError = tavtest::ErrorOf([&] {
            while (part->Next()) ++split;
        });
        const bool read = partError.empty() && !part->Reread();
        std::string error = tavtest::ErrorOf([&] {
            while (stream->Next()) ++records;
            if (stream->TakeSplitPart(read))
                records += split;
            else
                while (stream->Next()) ++records;
        });
        EXPECT_EQ(error, imported);
        if (text != &broken) {
            EXPECT_EQ(records, 150000);
        }
        EXPECT_EQ(read && error.empty(), text == &numbers);
    }
    UnregisterSqliteImage("s");
}
