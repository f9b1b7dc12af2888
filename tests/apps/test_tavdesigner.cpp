// tavdesigner's window, driven in this process on a copy of the example form file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include "designer.h"
#include "support/tav_app_support.h"
#include "support/tav_test_support.h"
#include "support/tav_ui_support.h"
#include "tav/formfile.h"
#include "tav/tav32reg.h"
#include "tav/tavctrl.h"
#include "tav/tavoutpt.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

using namespace tav;
using tavtest::Child;
using tavtest::Click;

namespace {

// The example form file and its database in a folder of their own.
struct TExample {
    tavtest::TTempDb folder;
    QString form;
    TExample() {
        Register();
        form = QString::fromStdString(folder.Path("sales.dfm"));
        EXPECT_TRUE(QFile::copy(tavtest::ExampleFormSource(), form));
        EXPECT_TRUE(
            QFile::copy(tavtest::SampleDb(), QString::fromStdString(folder.Path("sales.db"))));
        QFile::setPermissions(form, QFile::ReadOwner | QFile::WriteOwner);
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::string text = ReadTextFile(form.toStdString());
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            lines.push_back(text.substr(at, end - at));
            at = end == std::string::npos ? text.size() : end + 1;
        }
        return lines;
    }
};

QStringList Names(const TDesignerWindow& w) {
    QStringList names;
    for (const TComponent* c : w.Components()) names << QString::fromStdString(c->Name());
    return names;
}

}  // namespace

TEST(Tavdesigner, EditsTheExampleEndToEnd) {
    TExample example;
    const std::vector<std::string> before = example.Lines();
    TDesignerWindow w;
    ASSERT_TRUE(w.OpenFile(example.form));
    EXPECT_EQ(Names(w), (QStringList{"SalesTable", "UnitsQuery"}));
    // Opened with the first component selected.
    EXPECT_EQ(Child<QLineEdit>(w, "Value_TableName")->text(), "sales");

    // ControlVar02, STORES as it is, becomes its logarithm in the dialog.
    {
        tavtest::TModalDriver driver([](QDialog* d) {
            EXPECT_EQ(d->windowTitle(), "SalesTable Control Variable Definition");
            Click(Child<TRadioGroup>(*d, "RadioGroup1")->Button(2));
            Click(Child<QWidget>(*d, "bbtnOK"));
        });
        Click(Child<QToolButton>(w, "Edit_ControlVar02"));
    }
    EXPECT_TRUE(w.Modified());

    // Fit: the report window, and the account of the load on the status line.
    bool report = false;
    {
        tavtest::TModalDriver driver(
            [&](QDialog* d) { report = dynamic_cast<TRegressionOutputForm*>(d) != nullptr; });
        Click(Child<QToolButton>(w, "FitButton"));
    }
    EXPECT_TRUE(report);
    // The whole account in the tool tip; the line itself cut with an ellipsis where it is short.
    const QLabel* status = Child<QLabel>(w, "Status");
    EXPECT_TRUE(status->toolTip().contains("SalesTable: 265 of 300 records used"))
        << status->toolTip().toStdString();
    EXPECT_TRUE(status->text() == status->toolTip() || status->text().endsWith(QChar(0x2026)));

    // Saved: the one line that says the transformation differs, and nothing else.
    ASSERT_TRUE(w.Save());
    EXPECT_FALSE(w.Modified());
    const std::vector<std::string> after = example.Lines();
    ASSERT_EQ(after.size(), before.size());
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < before.size(); ++i)
        if (before[i] != after[i]) changed.push_back(i);
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(before[changed[0]], "      'None'");
    EXPECT_EQ(after[changed[0]], "      'Log'");
    EXPECT_EQ(before[changed[0] - 2], "    ControlVar02.Strings = (");

    // Reopened, the change is there.
    TDesignerWindow again;
    ASSERT_TRUE(again.OpenFile(example.form));
    EXPECT_EQ(dynamic_cast<TTAVTable*>(again.Components()[0])->ControlVar02()->OutputTerm(),
              "Ln(STORES)");
}

TEST(Tavdesigner, PaletteInspectorAndUnsavedChanges) {
    TExample example;
    TDesignerWindow w;
    w.show();
    ASSERT_TRUE(w.OpenFile(example.form));
    // A click on the palette adds a component with a name of its own.
    Click(Child<QToolButton>(w, "Palette_TTAVQuery"));
    Click(Child<QToolButton>(w, "Palette_TTAVQuery"));
    EXPECT_EQ(Names(w), (QStringList{"SalesTable", "UnitsQuery", "TAVQuery1", "TAVQuery2"}));
    EXPECT_TRUE(w.Modified());

    // Both queries selected: a value typed goes to both.
    w.Select({"TAVQuery1", "TAVQuery2"});
    auto* description = Child<QLineEdit>(w, "Value_Description");
    description->setFocus();
    QTest::keyClicks(description, "shared");
    QTest::keyClick(description, Qt::Key_Return);
    QApplication::processEvents();

    auto* timeout = Child<QSpinBox>(w, "Value_QueryTimeout");
    EXPECT_EQ(timeout->maximum(), TDataSet::kMaxQueryTimeout);
    timeout->setFocus();
    QTest::keyClick(timeout, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(timeout, "30");
    QTest::keyClick(timeout, Qt::Key_Return);
    QApplication::processEvents();
    for (int k : {2, 3}) {
        const auto* q = dynamic_cast<TTAVQuery*>(w.Components()[static_cast<std::size_t>(k)]);
        EXPECT_EQ(q->Description(), "shared");
        EXPECT_EQ(q->QueryTimeout(), 30);
    }

    // A value the component refuses: the error box, and the value shown again as stored.
    w.Select({"SalesTable"});
    {
        tavtest::TMessageRecorder messages;
        auto* name = Child<QLineEdit>(w, "Value_DatabaseName");
        name->setFocus();
        QTest::keyClicks(name, "x");
        QTest::keyClick(name, Qt::Key_Return);
        QApplication::processEvents();
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_NE(messages.Texts()[0].find("open dataset"), std::string::npos);
        EXPECT_EQ(Child<QLineEdit>(w, "Value_DatabaseName")->text(), "sales.db");
    }

    // Discarding asks first: Cancel keeps everything, No discards.
    uint16_t answer = mrCancel;
    const auto previous =
        SetMessageDlgHook([&](const std::string&, TMsgDlgType, TMsgDlgButtons) { return answer; });
    EXPECT_FALSE(w.NewForm());
    EXPECT_EQ(w.Components().size(), 4u);
    answer = mrNo;
    EXPECT_TRUE(w.NewForm());
    EXPECT_TRUE(w.Components().empty());
    SetMessageDlgHook(previous);
    // The file was never written.
    EXPECT_EQ(ReadTextFile(example.form.toStdString()), ReadTextFile(tavtest::ExampleFormSource()));
}

// The picture of the README, written only when asked for:
//     TAV_DESIGNER_PICTURE=docs/images/tavdesigner.png test_apps
//         --gtest_also_run_disabled_tests --gtest_filter='*DesignerPicture*'
TEST(DesignerPicture, DISABLED_TheExample) {
    const QString file = qEnvironmentVariable("TAV_DESIGNER_PICTURE");
    if (file.isEmpty()) GTEST_SKIP() << "TAV_DESIGNER_PICTURE";
    TExample example;
    TDesignerWindow w;
    ASSERT_TRUE(w.OpenFile(example.form));
    w.Select({"SalesTable"});
    {
        tavtest::TModalDriver driver([](QDialog*) {});
        w.Fit();
    }
    w.show();
    QApplication::processEvents();
    EXPECT_TRUE(w.grab().save(file));
}

// A form whose query never gives a row, with no bound of its own: the designer's bound ends its
// Open.
TEST(Tavdesigner, OpeningAFormIsBoundedWhateverItSays) {
    Register();
    tavtest::TTempDb tmp;
    const std::string db = tmp.Exec("CREATE TABLE t(a REAL);", "t.db");
    const std::string form = tmp.Path("endless.dfm");
    WriteTextFile(form,
                  "object M: TDataModule\n  object Q: TTAVQuery\n    DatabaseName = '" + db +
                      "'\n    SQL.Strings = (\n      'WITH RECURSIVE r(n) AS (SELECT 1 UNION "
                      "ALL SELECT n + 1 FROM r) SELECT count(*) AS a FROM r')\n    Active = True\n"
                      "    QueryTimeout = 0\n  end\nend\n");
    SetStatementTimeoutCap(1);
    tavtest::TMessageRecorder messages;
    TDesignerWindow w;
    EXPECT_FALSE(w.OpenFile(QString::fromStdString(form)));
    SetStatementTimeoutCap(0);
    ASSERT_EQ(messages.Texts().size(), 1u);
    EXPECT_NE(messages.Texts()[0].find("did not finish within 1 seconds"), std::string::npos)
        << messages.Texts()[0];
}

TEST(Tavdesigner, WithoutADisplayOneLineAndExit1HelpAnywhere) {
    auto noDisplay = [](QProcessEnvironment& e) {
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) e.remove(name);
    };
    const auto window = tavtest::RunOffscreen(tavtest::TavdesignerPath(), {}, noDisplay);
    EXPECT_EQ(window.exitCode, 1);
    EXPECT_TRUE(window.err.startsWith("tavdesigner: no display") && window.err.count('\n') == 1)
        << window.err.toStdString();
    const auto help = tavtest::RunOffscreen(tavtest::TavdesignerPath(), {"--help"}, noDisplay);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("--timeout")) << help.out.toStdString();
}
