#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include "engine/tavclasses.h"
#include "engine/tavquery.h"
#include "engine/tavtable.h"
#include "host/formfile.h"
#include "support/tav_test_support.h"

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

TEST(FormFile, FitMethodFollowsReportMessageWhenNotTheDefault) {
    // Files written before the property existed read as Auto and write back unchanged (kForm,
    // above); any other method is written, and read back, after ReportMessage.
    const std::string withQr = Replace(kForm, "'note'\n", "'note'\n    FitMethod = QR\n");
    const TFormContents f = ReadForm(TAVClassRegistry(), withQr);
    EXPECT_EQ(dynamic_cast<TTAVTable*>(f.components[0])->FitMethod(), TFitMethod::Auto);
    EXPECT_EQ(dynamic_cast<TTAVQuery*>(f.components[1])->FitMethod(), TFitMethod::QR);
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

TEST(FormFile, RelativeDatabaseNamesResolveAgainstTheFormFolderAndShortListsFailLater) {
    tavtest::TTempDb db;
    db.Exec(
        "CREATE TABLE t(A REAL, B REAL, Y REAL);"
        "INSERT INTO t VALUES (1, 2, 3), (2, 1, 5), (3, 5, 4), (4, 3, 8);",
        "data.db");
    std::string text =
        Replace(kForm, "SQL.Strings = (\n      'SELECT *'\n      'FROM t')\n    Active = False",
                "SQL.Strings = (\n      'SELECT *'\n      'FROM t')\n    Active = True");
    // A response list of two entries reads; using it fails with the list's index error.
    text = Replace(text,
                   "    ResponseVarY.Strings = (\n      'Undefined'\n      'None'\n      'Y'\n     "
                   " 'Undefined'\n      'Undefined'\n      '1')",
                   "    ResponseVarY.Strings = (\n      'Undefined'\n      'None')");
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
    EXPECT_EQ(q->ResponseVarY()->Count(), 2);
    EXPECT_THROW(q->ReLoad(), EStringListError);
    EXPECT_EQ(
        Rewrite(f),
        Replace(text,
                "    Active = True\n    ControlVar01.Strings = (\n      'Active'\n      'None'",
                "    Active = True\n    ControlVar01.Strings = (\n      'Active'\n      'None'"));
}

TEST(FormFile, TheBundledExampleReadsAndWritesBack) {
    const std::string path = std::string(TAV_EXAMPLES_DIR) + "/sales.dfm";
    const std::string text = ReadTextFile(path);
    const TFormContents f = ReadForm(TAVClassRegistry(), text, [](TComponent& c) {
        dynamic_cast<TDataSet&>(c).SetBaseDirectory(
            QFileInfo(QString::fromUtf8(TAV_SAMPLE_DB)).absolutePath().toStdString());
    });
    ASSERT_EQ(f.components.size(), 2u);
    for (TComponent* c : f.components) EXPECT_TRUE(dynamic_cast<TDataSet*>(c)->Active());
    EXPECT_EQ(Rewrite(f), text);
}
