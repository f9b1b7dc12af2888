#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "support/tav_test_support.h"
#include "tav/formfile.h"
#include "tav/tavclasses.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

using namespace tav;

namespace {

const char* kForm = R"(object Module1: TDataModule
  object T1: TTAVTable
    DatabaseName = 'data.db'
    TableName = 'it''s'
    Active = False
    ControlVar01.Strings = (
      'Active'
      'Quotient'
      'A'
      'B'
      '1.00'
      '10')
    ControlVar02.Strings = (
      'Inactive'
      'Undefined'
      'Datafield1'
      'Datafield2'
      '1.00'
      '10')
    ControlVar03.Strings = (
      'Active'
      'Power'
      'A'
      'Datafield2'
      '0.5'
      '10')
    ControlVar04.Strings = (
      'Inactive'
      'Undefined'
      'Datafield1'
      'Datafield2'
      '1.00'
      '10')
    ControlVar05.Strings = (
      'Inactive'
      'Undefined'
      'Datafield1'
      'Datafield2'
      '1.00'
      '10')
    Description = 'Two lines'#10#13'of text'
    ShowLoadProgress = True
    ShowWarnings = False
    ResponseVarY.Strings = (
      'Undefined'
      'Log'
      'Y'
      'Undefined'
      'Undefined'
      '1')
    ReportMessage = ''
  end
  object Q1: TTAVQuery
    DatabaseName = 'data.db'
    SQL.Strings = (
      'SELECT *'
      'FROM t')
    Active = False
    ControlVar01.Strings = (
      'Active'
      'None'
      'A'
      'Datafield2'
      '1.00'
      '10')
    ControlVar02.Strings = (
      'Inactive'
      'Undefined'
      'Datafield1'
      'Datafield2'
      '1.00'
      '10')
    ControlVar03.Strings = (
      'Inactive'
      'Undefined'
      'Datafield1'
      'Datafield2'
      '1.00'
      '10')
    ControlVar04.Strings = (
      'Inactive'
      'Undefined'
      'Datafield1'
      'Datafield2'
      '1.00'
      '10')
    ControlVar05.Strings = (
      'Inactive'
      'Undefined'
      'Datafield1'
      'Datafield2'
      '1.00'
      '10')
    Description = ''
    ShowLoadProgress = False
    ShowWarnings = True
    ResponseVarY.Strings = (
      'Undefined'
      'None'
      'Y'
      'Undefined'
      'Undefined'
      '1')
    ReportMessage = 'note'
  end
end
)";

std::string Rewrite(const TFormContents& f) {
    std::vector<const TComponent*> parts(f.components.begin(), f.components.end());
    return WriteForm(TAVClassRegistry(), f.rootName, f.rootClass, parts);
}

// The error of reading `text`, or "" when it reads.
std::string ReadError(const std::string& text, int* line = nullptr) {
    try {
        ReadForm(TAVClassRegistry(), text);
    } catch (const EReadError& e) {
        if (line) *line = e.Line();
        return e.what();
    }
    return "";
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    const auto pos = s.find(from);
    EXPECT_NE(pos, std::string::npos) << from;
    return s.replace(pos, from.size(), to);
}

// `text` with the entries of the list `property` of the component `component` replaced.
std::string WithList(std::string text, const std::string& component, const std::string& property,
                     const std::vector<std::string>& entries) {
    const auto start =
        text.find("    " + property + ".Strings = (", text.find("object " + component));
    const auto end = text.find(")\n", start);
    EXPECT_NE(start, std::string::npos) << component << "." << property;
    std::string list = "    " + property + ".Strings = (";
    for (const auto& e : entries) list += "\n      '" + e + "'";
    return text.replace(start, end - start + 1, list + ")");
}

// Every line end of `text` replaced by `lineEnd`.
std::string WithLineEnds(const std::string& text, const std::string& lineEnd) {
    std::string out;
    for (const char c : text) out += c == '\n' ? lineEnd : std::string(1, c);
    return out;
}

}  // namespace

TEST(FormFile, ReadsComponentsAndWritesTheSameBytes) {
    const TFormContents f = ReadForm(TAVClassRegistry(), kForm);
    ASSERT_EQ(f.components.size(), 2u);
    EXPECT_EQ(f.rootName, "Module1");
    auto* t = dynamic_cast<TTAVTable*>(f.components[0]);
    auto* q = dynamic_cast<TTAVQuery*>(f.components[1]);
    ASSERT_TRUE(t && q);
    EXPECT_EQ(t->Name(), "T1");
    EXPECT_EQ(t->TableName(), "it's");
    EXPECT_EQ(t->ControlVar01()->Transformation(), "Quotient");
    EXPECT_EQ(t->ControlVar01()->Field2(), "B");
    EXPECT_EQ(t->ControlVar03()->Exponent(), "0.5");
    EXPECT_EQ(t->ResponseVarY()->Transformation(), "Log");
    EXPECT_EQ(t->Description(), "Two lines\n\rof text");
    EXPECT_TRUE(t->ShowLoadProgress());
    EXPECT_FALSE(t->ShowWarnings());
    EXPECT_EQ(q->SQL().Count(), 2);
    EXPECT_EQ(q->SQL()[1], "FROM t");
    EXPECT_EQ(q->ReportMessage(), "note");
    EXPECT_EQ(Rewrite(f), kForm);
}

TEST(FormFile, FitMethodQueryTimeoutAndIdFieldFollowReportMessageWhenNotTheDefault) {
    // Files written before the properties existed read as Auto, 0 and '' and write back
    // unchanged (kForm, above); other values are written, and read back, after ReportMessage.
    const std::string withQr =
        Replace(kForm, "'note'\n",
                "'note'\n    FitMethod = QR\n    QueryTimeout = 30\n    IdField = 'a''b'\n");
    const TFormContents f = ReadForm(TAVClassRegistry(), withQr);
    const auto* t = dynamic_cast<TTAVTable*>(f.components[0]);
    const auto* q = dynamic_cast<TTAVQuery*>(f.components[1]);
    EXPECT_EQ(t->FitMethod(), TFitMethod::Auto);
    EXPECT_EQ(q->FitMethod(), TFitMethod::QR);
    EXPECT_EQ(t->QueryTimeout(), 0);
    EXPECT_EQ(q->QueryTimeout(), 30);
    EXPECT_EQ(t->IdField(), "");
    EXPECT_EQ(q->IdField(), "a'b");
    EXPECT_EQ(Rewrite(f), withQr);
}

TEST(FormFile, ControlVariablesSixToTenAreNeverStreamed) {
    TTAVTable t;
    t.SetName("T");
    TIndepVar v;
    v.SetTransformation("Log");
    v.SetField1("HIDDEN");
    t.SetControl7(v);
    const std::string text = WriteForm(TAVClassRegistry(), "M", "TDataModule", {&t});
    EXPECT_EQ(text.find("HIDDEN"), std::string::npos);
    EXPECT_EQ(text.find("ControlVar07"), std::string::npos);
    const std::string withSeven = Replace(
        text, "    Description", "    ControlVar07.Strings = (\n      'Active')\n    Description");
    int line = 0;
    EXPECT_NE(ReadError(withSeven, &line).find("Property ControlVar07 does not exist"),
              std::string::npos);
    EXPECT_EQ(line, 41);
}

TEST(FormFile, MalformedFilesNameTheirLine) {
    struct Case {
        std::string text;
        int line;
        const char* message;
    } cases[] = {
        {Replace(kForm, "TTAVTable", "TTAVTabel"), 2, "Class TTAVTabel not found"},
        {Replace(kForm, "    TableName", "    TableNam"), 4, "Property TableNam does not exist"},
        {Replace(kForm, "ShowLoadProgress = True", "ShowLoadProgress = 'yes'"), 42,
         "True or False expected"},
        {Replace(kForm, "Description = ''", "Description = True"), 94, "a string expected"},
        {Replace(kForm, "    ReportMessage = 'note'", "    ReportMessage = 'note"), 104,
         "Unterminated string"},
        {Replace(kForm, "object Q1", "object T1"), 53, "already exists"},
        {Replace(kForm, "ControlVar01.Strings = (\n      'Active'\n      'None'",
                 "ControlVar01 = (\n      'Active'\n      'None'"),
         59, ".Strings = ( ... ) expected"},
        {std::string(kForm).substr(0, std::string(kForm).size() - 4), 106, "'end' expected"},
        {std::string(kForm) + "object X: TDataModule\nend\n", 107, "Text after the end"},
        {Replace(kForm, "TDataModule", "TWindow"), 1, "Class TWindow not found"},
        {Replace(kForm, "'note'\n", "'note'\n    FitMethod = Fast\n"), 105,
         "Error reading Q1.FitMethod: Invalid property value (Auto, NormalEquations or QR "
         "expected)"},
        {Replace(kForm, "'note'\n", "'note'\n    FitMethod = 'QR'\n"), 105,
         "NormalEquations or QR expected"},
        {Replace(kForm, "'note'\n", "'note'\n    QueryTimeout = -1\n"), 105,
         "Error reading Q1.QueryTimeout: Invalid property value (an integer from 0 to 86400 "
         "expected)"},
        {Replace(kForm, "'note'\n", "'note'\n    QueryTimeout = 86401\n"), 105,
         "an integer from 0 to 86400 expected"},
        {Replace(kForm, "'note'\n", "'note'\n    QueryTimeout = 1.5\n"), 105,
         "an integer from 0 to 86400 expected"},
        {Replace(kForm, "'note'\n", "'note'\n    QueryTimeout = '30'\n"), 105,
         "an integer from 0 to 86400 expected"},
        {Replace(kForm,
                 "    Active = False\n    ControlVar01.Strings = (\n      'Active'\n      'None'",
                 "    Active = False\n    object Inner: TTAVQuery\n    end\n    "
                 "ControlVar01.Strings = (\n      'Active'\n      'None'"),
         59, "cannot own components"},
    };
    for (const auto& c : cases) {
        int line = -1;
        const std::string error = ReadError(c.text, &line);
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(line, c.line) << error;
        EXPECT_EQ(error.rfind("Line " + std::to_string(c.line) + ": ", 0), 0u) << error;
    }
}

TEST(FormFile, MalformedVariablesNameTheirLineAndProperty) {
    const std::vector<std::string> undefined = {"Undefined", "Undefined", "Undefined",
                                                "Undefined", "Undefined", "1"};
    struct Case {
        std::string component, property;
        std::vector<std::string> entries;
        int line;
        const char* message;
    } cases[] = {
        {"T1",
         "ControlVar01",
         {"Active", "Quotient", "A", "B", "1.00"},
         6,
         "Error reading T1.ControlVar01: Invalid property value (6 entries expected, 5 found)"},
        {"T1",
         "ControlVar02",
         {"Active", "Log", "A", "B", "1.00", "10", "extra"},
         13,
         "Error reading T1.ControlVar02: Invalid property value (6 entries expected, 7 found)"},
        {"T1", "ControlVar02", {}, 13, "(6 entries expected, 0 found)"},
        {"T1",
         "ControlVar03",
         {"Enabled", "Log", "A", "B", "1.00", "10"},
         20,
         "Error reading T1.ControlVar03: Invalid property value (usage 'Enabled': Active or "
         "Inactive expected)"},
        {"T1",
         "ControlVar04",
         {"Active", "Cube", "A", "B", "1.00", "10"},
         27,
         "Error reading T1.ControlVar04: Invalid property value (transformation 'Cube': "
         "Undefined, None, Log, Inverse, Sqrt, Power, Scale, Product or Quotient expected)"},
        {"T1",
         "ControlVar05",
         {"Active", "log", "A", "B", "1.00", "10"},
         34,
         "(transformation 'log': Undefined, None"},
        {"T1",
         "ControlVar05",
         {"Inactive", "Log", "A", "B", "1.00", "10"},
         34,
         "Error reading T1.ControlVar05: Invalid property value (usage Inactive with "
         "transformation Log: an inactive variable's transformation is Undefined)"},
        {"T1",
         "ResponseVarY",
         {"Undefined", "Sqrt", "Y", "Undefined", "Undefined", "1"},
         44,
         "Error reading T1.ResponseVarY: Invalid property value (transformation 'Sqrt': None, "
         "Log, Inverse or Scale expected)"},
        {"Q1", "ResponseVarY", undefined, 97, "(transformation 'Undefined': None, Log, Inverse"},
        {"Q1",
         "ResponseVarY",
         {"Undefined", "None"},
         97,
         "Error reading Q1.ResponseVarY: Invalid property value (6 entries expected, 2 found)"},
        {"Q1", "ControlVar01", {"Active", "Undefined", "A", "B", "1.00", "10"}, 59, ""},
    };
    for (const auto& c : cases) {
        int line = -1;
        const std::string text = WithList(kForm, c.component, c.property, c.entries);
        const std::string error = ReadError(text, &line);
        if (*c.message == 0) {
            EXPECT_EQ(error, "") << "the setters leave an active variable undefined";
            continue;
        }
        EXPECT_EQ(error.rfind("Line " + std::to_string(c.line) + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(FormFile, LineEndsAndAByteOrderMark) {
    // Each kind of line end counts lines; the mark is no character of the file.
    const std::string broken =
        WithList(kForm, "T1", "ControlVar03", {"Active", "Cube", "A", "B", "1.00", "10"});
    const std::string unterminated = Replace(kForm, "'note'", "'note");
    for (const std::string bom : {"", "\xEF\xBB\xBF"}) {
        for (const std::string lineEnd : {"\n", "\r\n", "\r"}) {
            SCOPED_TRACE(testing::PrintToString(bom + lineEnd));
            const TFormContents f =
                ReadForm(TAVClassRegistry(), bom + WithLineEnds(kForm, lineEnd));
            EXPECT_EQ(Rewrite(f), kForm);
            int line = 0;
            EXPECT_NE(ReadError(bom + WithLineEnds(broken, lineEnd), &line).find("'Cube'"),
                      std::string::npos);
            EXPECT_EQ(line, 20);
            EXPECT_NE(ReadError(bom + WithLineEnds(unterminated, lineEnd), &line)
                          .find("Unterminated string"),
                      std::string::npos);
            EXPECT_EQ(line, 104);
        }
    }
    int line = 0;
    EXPECT_NE(ReadError("\xEF\xBB" + std::string(kForm), &line).find("Invalid character"),
              std::string::npos)
        << "only the whole mark is skipped";
    EXPECT_EQ(line, 1);
}

TEST(FormFile, AVariableTheReaderWouldRefuseIsNotWritten) {
    TTAVTable t;
    t.SetName("T");
    TIndepVar v;
    v.SetParameters(1, "Log");  // bypasses the setters' coupling: Inactive and Log
    t.SetControl2(v);
    std::string error;
    try {
        WriteForm(TAVClassRegistry(), "M", "TDataModule", {&t});
    } catch (const Exception& e) {
        error = e.what();
    }
    EXPECT_NE(error.find("Cannot write T.ControlVar02: Invalid property value (usage Inactive with "
                         "transformation Log"),
              std::string::npos)
        << error;
}

TEST(FormFile, AFailureWhileBuildingLeavesNoComponent) {
    // Every property is well formed, but the database does not exist: opening fails at the
    // Active line, and nothing that was built survives.
    tavtest::TTempDb db;
    const std::string text = Replace(kForm, "    TableName = 'it''s'\n    Active = False",
                                     "    TableName = 'it''s'\n    Active = True");
    bool prepared = false;
    try {
        ReadForm(TAVClassRegistry(), text, [&](TComponent& c) {
            prepared = true;
            dynamic_cast<TDataSet&>(c).SetBaseDirectory(db.Path("."));
        });
        FAIL() << "expected EReadError";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Line(), 5);
        EXPECT_NE(
            std::string(e.what()).find("Error reading T1.Active: Database 'data.db' not found"),
            std::string::npos)
            << e.what();
    }
    EXPECT_TRUE(prepared);
}

TEST(FormFile, RelativeDatabaseNamesResolveAgainstTheFormFolder) {
    tavtest::TTempDb db;
    db.Exec(
        "CREATE TABLE t(A REAL, B REAL, Y REAL);"
        "INSERT INTO t VALUES (1, 2, 3), (2, 1, 5), (3, 5, 4), (4, 3, 8);",
        "data.db");
    const std::string text =
        Replace(kForm, "SQL.Strings = (\n      'SELECT *'\n      'FROM t')\n    Active = False",
                "SQL.Strings = (\n      'SELECT *'\n      'FROM t')\n    Active = True");
    const std::string path = db.Path("form.dfm");
    WriteTextFile(path, text);
    const std::string folder = QFileInfo(QString::fromStdString(path)).absolutePath().toStdString();
    QDir::setCurrent(QDir::tempPath());  // the working folder is not the form's folder
    const TFormContents f = ReadForm(TAVClassRegistry(), ReadTextFile(path), [&](TComponent& c) {
        dynamic_cast<TDataSet&>(c).SetBaseDirectory(folder);
    });
    auto* q = dynamic_cast<TTAVQuery*>(f.components[1]);
    ASSERT_TRUE(q->Active());
    EXPECT_EQ(q->DatabaseName(), "data.db") << "kept as written";
    q->ReLoad();
    EXPECT_EQ(q->GetLoadAccount().used, 4);
    EXPECT_EQ(
        Rewrite(f),
        Replace(text,
                "    Active = True\n    ControlVar01.Strings = (\n      'Active'\n      'None'",
                "    Active = True\n    ControlVar01.Strings = (\n      'Active'\n      'None'"));
}

TEST(FormFile, TheBundledExampleReadsAndWritesBack) {
    const std::string path = std::string(tavtest::ExampleFormSource());
    const std::string text = ReadTextFile(path);
    const TFormContents f = ReadForm(TAVClassRegistry(), text, [](TComponent& c) {
        dynamic_cast<TDataSet&>(c).SetBaseDirectory(
            QFileInfo(QString::fromUtf8(tavtest::SampleDb())).absolutePath().toStdString());
    });
    ASSERT_EQ(f.components.size(), 2u);
    for (TComponent* c : f.components) EXPECT_TRUE(dynamic_cast<TDataSet*>(c)->Active());
    EXPECT_EQ(Rewrite(f), text);
}

// A FIFO would block the open, a device never ends, a huge file is not read whole: each is
// refused at once, before anything is read.
TEST(FormFile, OnlyRegularFilesWithinTheBoundAreRead) {
    tavtest::TTempDb dir;
    const std::string fifo = dir.Path("form.fifo"), big = dir.Path("big.dfm");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    WriteTextFile(big, "");
    ASSERT_EQ(::truncate(big.c_str(), kMaxFormFileBytes + (1 << 20)), 0);  // sparse
    const std::pair<std::string, std::string> cases[] = {
        {fifo, "'" + fifo + "' is not a regular file"},
        {"/dev/zero", "'/dev/zero' is not a regular file"},
        {big, "'" + big + "' is larger than 64 MiB, the most a form file may be"},
        {dir.Path("none.dfm"),
         "Cannot open file '" + dir.Path("none.dfm") + "': No such file or directory"},
    };
    for (const auto& [path, message] : cases) {
        try {
            ReadTextFile(path);
            ADD_FAILURE() << path;
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message(), message);
        }
    }
}
