// The definition dialogs, driven as a user drives them: clicks on the choices, picks from the
// field lists, typing, OK, Cancel, Esc and Help.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QRadioButton>
#include <QTimer>

#include "support/tav_test_support.h"
#include "support/tav_ui_support.h"
#include "tav/forms.h"
#include "tav/tavctrl.h"
#include "tav/tavquery.h"
#include "tav/tavresp.h"
#include "tav/tavtable.h"

using namespace tav;
using tavtest::Child;
using tavtest::Click;
using tavtest::Pick;
using tavtest::Type;

namespace {

const std::string LB = "\n\r";
const QStringList kFields = {"AREA", "PRICE", "UNITS"};

// What the user sees of a dialog.
struct TView {
    QDialog& d;
    TRadioGroup* Choices() const { return Child<TRadioGroup>(d, "RadioGroup1"); }
    void Choose(int i) const { Click(Choices()->Button(i)); }
    TComboBox* Box(const char* name) const { return Child<TComboBox>(d, name); }
    TEdit* Edit(const char* name) const { return Child<TEdit>(d, name); }
    TBitBtn* Button(const char* name) const { return Child<TBitBtn>(d, name); }
    bool OkEnabled() const { return Button("bbtnOK")->isEnabled(); }
    std::string Status() const { return Child<TPanel>(d, "Panel2")->Caption().toStdString(); }
    void Ok() const { Click(Button("bbtnOK")); }
    void Cancel() const { Click(Button("bbtnCancel")); }
    // The help text shown by the Help button.
    std::string Help() const {
        tavtest::TMessageRecorder messages;
        Click(Button("bbtnHelp"));
        EXPECT_EQ(messages.Messages().size(), 1u);
        if (messages.Messages().empty()) return {};
        EXPECT_EQ(messages.Messages()[0].type, TMsgDlgType::mtInformation);
        return messages.Messages()[0].text;
    }
};

// Opens the dialog on a copy of `variable` for a component of kind C named "Sales", lets
// `drive` act on it once it is shown, and returns what the caller's variable then holds.
template <typename Dlg, typename C, typename Var>
Var Edit(const Var& variable, const std::function<void(const TView&)>& drive,
         const char* property = "ControlVar01") {
    C component;
    component.SetName("Sales");
    Var v;
    v.Assign(variable);
    TStringList names;
    for (const QString& f : kFields) names.Add(f.toStdString());
    tavtest::TModalDriver driver([&](QDialog* d) { drive(TView{*d}); });
    Dlg dialog;
    dialog.OpenForm(&component, property, v, names);
    return v;
}

template <typename C>
TIndepVar EditControl(const TIndepVar& v, const std::function<void(const TView&)>& drive) {
    return Edit<TControlDefDlg, C>(v, drive);
}
template <typename C>
TDependentVar EditResponse(const TDependentVar& v, const std::function<void(const TView&)>& drive) {
    return Edit<TResponseDefDlg, C>(v, drive, "ResponseVarY");
}

TIndepVar Defined(const char* transformation, const char* field1, const char* field2 = "B",
                  const char* exponent = "3", const char* factor = "100") {
    TIndepVar v;
    v.SetTransformation(transformation);
    v.SetField1(field1);
    v.SetField2(field2);
    v.SetExponent(exponent);
    v.SetScaleFactor(factor);
    return v;
}

const QStringList kLowerPanels = {"pnlScaleX", "pnlQryY", "pnlTblY", "pnlXpwry"};

// Line breaks are line feed then carriage return, never the other way round.
bool BreaksAreLfCr(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i + 1 == text.size() || text[i + 1] != '\r')) return false;
        if (text[i] == '\r' && (i == 0 || text[i - 1] != '\n')) return false;
    }
    return true;
}

}  // namespace

TEST(ControlDialog, DefaultDefinitionOpensInactiveAndWaitsForAField) {
    const TIndepVar result = EditControl<TTAVTable>(TIndepVar(), [](const TView& v) {
        EXPECT_EQ(v.d.windowTitle(), "Sales Control Variable Definition");
        EXPECT_EQ(v.Choices()->title(), "Set ControlVar01 to ");
        EXPECT_EQ(v.Choices()->ItemIndex(), 0);
        EXPECT_FALSE(v.Box("cboxTableX")->isEnabled());
        EXPECT_TRUE(v.Box("cboxTableX")->isVisibleTo(&v.d));
        EXPECT_FALSE(Child<QWidget>(v.d, "pnlQryX")->isVisibleTo(&v.d));
        EXPECT_EQ(v.Status(), "Inactive");
        EXPECT_TRUE(v.OkEnabled());
        EXPECT_EQ(v.Help(), "The Inactive option disables ControlVar01.");
        // "Datafield1" is not among the fields: none is selected, and OK waits for one.
        v.Choose(1);
        EXPECT_EQ(v.Box("cboxTableX")->ItemIndex(), -1);
        EXPECT_FALSE(v.OkEnabled());
        Pick(v.Box("cboxTableX"), "PRICE");
        EXPECT_TRUE(v.OkEnabled());
        EXPECT_EQ(v.Status(), "PRICE");
        v.Ok();
    });
    EXPECT_EQ(result.Items(),
              (std::vector<std::string>{"Active", "None", "PRICE", "Datafield2", "1.00", "10"}));
}

TEST(ControlDialog, HelpTextsForTablesAndQueries) {
    const std::string log = "This will set ControlVar01 to the" + LB +
                            "natural logarithm of the values of" + LB +
                            "the database field named in \"datafield1\".";
    const std::string inverse = "This will set ControlVar01 to" + LB +
                                "1 divided by the values of" + LB +
                                "the database field named in \"datafield1\"." + LB + LB +
                                "NOTE: All values must be nonzero.";
    const std::string note =
        LB + LB + "NOTE: \"datafield1\" must be in the" + LB + "query's result dataset.";
    const std::string quotient = "This will set each element of ControlVar01" + LB +
                                 "to the value of the database field named in" + LB +
                                 "\"datafield1\", divided by the value of the" + LB +
                                 "database field named in \"datafield2\".";
    const std::string both = LB + LB + "NOTE: Both \"datafield1\" and \"datafield2\"" + LB +
                             "must be in the query's result dataset.";
    const struct {
        bool query;
        int choice;
        std::string text;
    } cases[] = {
        {false, 2, log},
        {true, 2, log + note},
        {false, 3, inverse},
        {true, 3, inverse + note},
        {false, 8, quotient},
        {true, 8, quotient + both + LB + "ALL values in datafield2 MUST be nonzero."},
        {true, 0, "The Inactive option disables ControlVar01."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.query ? "query" : "table") + ", choice " +
                     std::to_string(c.choice));
        auto drive = [&](const TView& v) {
            v.Choose(c.choice);
            const std::string help = v.Help();
            EXPECT_EQ(help, c.text);
            EXPECT_TRUE(BreaksAreLfCr(help));
            v.Cancel();
        };
        if (c.query)
            EditControl<TTAVQuery>(Defined("None", "A"), drive);
        else
            EditControl<TTAVTable>(Defined("None", "AREA"), drive);
    }
    // Every help text of a query for choices 1 to 6 ends with the note.
    for (int choice = 1; choice <= 6; ++choice)
        EditControl<TTAVQuery>(Defined("None", "A"), [&](const TView& v) {
            v.Choose(choice);
            const std::string help = v.Help();
            EXPECT_EQ(help.substr(help.size() - note.size()), note) << choice;
            v.Cancel();
        });
}

TEST(ControlDialog, PowersSquareRootsAndDivisors) {
    // The entry "1/2" is stored as 0.5 and previewed as picked.
    TIndepVar power = EditControl<TTAVTable>(TIndepVar(), [](const TView& v) {
        v.Choose(5);
        Pick(v.Box("cboxTableX"), "AREA");
        Pick(v.Box("cboxpwrY"), "1/2");
        EXPECT_EQ(v.Status(), "AREA^1/2");
        EXPECT_EQ(Child<QLabel>(v.d, "Label4")->text(), "Raise AREA to the power:");
        v.Ok();
    });
    EXPECT_EQ(power.Transformation(), "Power");
    EXPECT_EQ(power.Exponent(), "0.5");
    // A typed 0.25: below 0.5, which a table refuses and a query stores.
    EditControl<TTAVTable>(TIndepVar(), [](const TView& v) {
        v.Choose(5);
        Pick(v.Box("cboxTableX"), "AREA");
        Type(v.Box("cboxpwrY"), "0.25");
        EXPECT_FALSE(v.OkEnabled());
        v.Cancel();
    });
    power = EditControl<TTAVQuery>(TIndepVar(), [](const TView& v) {
        v.Choose(5);
        Type(v.Edit("edStringX"), "Q1");
        Type(v.Box("cboxpwrY"), "0.25");
        EXPECT_TRUE(v.OkEnabled());
        v.Ok();
    });
    EXPECT_EQ(power.Exponent(), "0.25");
    EXPECT_EQ(power.Field1(), "Q1");

    // The square root: "1/2" in the disabled exponent box, stored as 0.5; reopened, the
    // exponent panel is in front.
    const TIndepVar root = EditControl<TTAVTable>(Defined("None", "UNITS"), [](const TView& v) {
        v.Choose(4);
        EXPECT_FALSE(v.Box("cboxpwrY")->isEnabled());
        EXPECT_EQ(v.Box("cboxpwrY")->Text(), "1/2");
        EXPECT_EQ(v.Status(), "UNITS^1/2");
        v.Ok();
    });
    EXPECT_EQ(root.Transformation(), "Sqrt");
    EXPECT_EQ(root.Exponent(), "0.5");
    EditControl<TTAVTable>(root, [](const TView& v) {
        EXPECT_EQ(tavtest::Front(&v.d, kLowerPanels), "pnlXpwry");
        // Back to a plain field: the exponent panel stays in front, its box disabled.
        v.Choose(2);
        EXPECT_EQ(tavtest::Front(&v.d, kLowerPanels), "pnlXpwry");
        EXPECT_FALSE(v.Box("cboxpwrY")->isEnabled());
        v.Cancel();
    });

    // A divisor of 0 is stored as 10.
    const TIndepVar scaled = EditControl<TTAVTable>(TIndepVar(), [](const TView& v) {
        v.Choose(6);
        EXPECT_EQ(tavtest::Front(&v.d, kLowerPanels), "pnlScaleX");
        Pick(v.Box("cboxTableX"), "PRICE");
        Type(v.Box("cboxDivideBy"), "0");
        EXPECT_TRUE(v.OkEnabled());
        EXPECT_EQ(v.Status(), "PRICE/10");
        v.Ok();
    });
    EXPECT_EQ(scaled.ScaleFactor(), "10");
    EXPECT_EQ(scaled.Field1(), "PRICE");

    // A stored divisor that is no entry of the list (typed before) shows as it is, and so does
    // the response's default; no error box.
    tavtest::TMessageRecorder messages;
    EditControl<TTAVTable>(Defined("Scale", "PRICE", "B", "3", "250"), [](const TView& v) {
        EXPECT_EQ(v.Box("cboxDivideBy")->Text(), "250");
        EXPECT_EQ(v.Status(), "PRICE/250");
        v.Cancel();
    });
    EditResponse<TTAVTable>(TDependentVar(), [](const TView& v) {
        EXPECT_EQ(v.Box("cboxDivideBy")->Text(), "1");
        v.Cancel();
    });
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{});
}

TEST(ControlDialog, ProductsAndQuotientsMayUseOneFieldTwice) {
    for (const auto& [choice, code, status] :
         {std::tuple{7, "Product", "UNITS*UNITS"}, std::tuple{8, "Quotient", "UNITS/UNITS"}}) {
        const TIndepVar r = EditControl<TTAVTable>(
            TIndepVar(), [&, choice = choice, status = status](const TView& v) {
                v.Choose(choice);
                EXPECT_EQ(tavtest::Front(&v.d, kLowerPanels), "pnlTblY");
                Pick(v.Box("cboxTableX"), "UNITS");
                EXPECT_FALSE(v.OkEnabled());
                Pick(v.Box("cboxTableY"), "UNITS");
                EXPECT_TRUE(v.OkEnabled());
                EXPECT_EQ(v.Status(), status);
                v.Ok();
            });
        EXPECT_EQ(r.Transformation(), code);
        EXPECT_EQ(r.Field1(), "UNITS");
        EXPECT_EQ(r.Field2(), "UNITS");
    }
    // A query types both names.
    const TIndepVar q = EditControl<TTAVQuery>(TIndepVar(), [](const TView& v) {
        v.Choose(8);
        EXPECT_EQ(tavtest::Front(&v.d, kLowerPanels), "pnlQryY");
        Type(v.Edit("edStringX"), "A");
        Type(v.Edit("edStringY"), "B");
        EXPECT_EQ(v.Status(), "A/B");
        v.Ok();
    });
    EXPECT_EQ(q.Items(), (std::vector<std::string>{"Active", "Quotient", "A", "B", "1.00", "10"}));
}

TEST(ControlDialog, CancelAndEscGiveTheVariableBackAndInactiveKeepsTheRest) {
    const TIndepVar given = Defined("Power", "AREA", "UNITS", "3", "100");
    for (const bool esc : {false, true}) {
        const TIndepVar r = EditControl<TTAVTable>(given, [&](const TView& v) {
            v.Choose(7);
            Pick(v.Box("cboxTableY"), "PRICE");
            v.Choose(6);
            Type(v.Box("cboxDivideBy"), "1000");
            EXPECT_TRUE(v.OkEnabled());
            if (esc)
                tavtest::PressEsc(&v.d);
            else
                v.Cancel();
        });
        EXPECT_EQ(r.Items(), given.Items()) << (esc ? "Esc" : "Cancel");
    }
    // Inactive, then OK: Usage and Transformation change, the other entries are the working
    // copy's.
    const TIndepVar inactive = EditControl<TTAVTable>(given, [](const TView& v) {
        v.Choose(0);
        EXPECT_FALSE(v.Box("cboxTableX")->isEnabled());
        v.Ok();
    });
    EXPECT_EQ(inactive.Items(),
              (std::vector<std::string>{"Inactive", "Undefined", "AREA", "UNITS", "3", "100"}));
    EXPECT_EQ(EditControl<TTAVTable>(inactive, [](const TView& v) { v.Ok(); }).Items(),
              inactive.Items());
}

TEST(ControlDialog, ATextThatIsNoNumberShowsTheErrorBoxAndChangesNothing) {
    const TIndepVar r = EditControl<TTAVTable>(TIndepVar(), [](const TView& v) {
        v.Choose(5);
        Pick(v.Box("cboxTableX"), "AREA");
        Pick(v.Box("cboxpwrY"), "2");
        ASSERT_EQ(v.Status(), "AREA^2");
        tavtest::TMessageRecorder messages;
        Type(v.Box("cboxpwrY"), "x");
        ASSERT_FALSE(messages.Messages().empty());
        for (const auto& m : messages.Messages()) {
            EXPECT_EQ(m.type, TMsgDlgType::mtError);
            EXPECT_EQ(m.text, "'x' is not a valid floating point value");
        }
        EXPECT_EQ(v.Status(), "AREA^2");
        EXPECT_TRUE(v.OkEnabled());
        EXPECT_EQ(Tavctrl::Parameters->Exponent(), "2");
        v.Ok();
    });
    EXPECT_EQ(r.Exponent(), "2");
}

TEST(ResponseDialog, DefaultDefinitionHelpTextsAndDivisors) {
    const TDependentVar picked = EditResponse<TTAVTable>(TDependentVar(), [](const TView& v) {
        EXPECT_EQ(v.d.windowTitle(), "Sales Response Variable Definition");
        EXPECT_EQ(v.Choices()->title(), "Set ResponseVarY to ");
        EXPECT_EQ(v.Choices()->ItemIndex(), 0);
        EXPECT_EQ(v.Box("cboxTableX")->ItemIndex(), -1);
        EXPECT_FALSE(v.OkEnabled());
        EXPECT_FALSE(v.Box("cboxDivideBy")->isEnabled());
        Pick(v.Box("cboxTableX"), "UNITS");
        EXPECT_TRUE(v.OkEnabled());
        EXPECT_EQ(v.Status(), "UNITS");
        v.Choose(1);
        EXPECT_EQ(v.Help(),
                  "This will set ResponseVarY to the" + LB + "natural logarithm of the values of" +
                      LB + "the database field named in \"datafield\"." + LB +
                      "NOTE: \"datafield\" must NOT contain" + LB + "ANY non positive values.");
        v.Choose(3);
        EXPECT_EQ(v.Help(), "This will set each element of ResponseVarY" + LB +
                                "to the value of 1/\"datafield\"." + LB + LB +
                                "NOTE: \"datafield\" must NOT contain" + LB + "ANY zero values.");
        EXPECT_EQ(v.Status(), "1/(UNITS)");
        // The scaling previews the divisor stored, without reading its box.
        v.Choose(2);
        EXPECT_TRUE(v.Box("cboxDivideBy")->isEnabled());
        EXPECT_EQ(v.Status(), "UNITS/1");
        // A divisor of 0 is stored as 1 and disables OK; the status keeps its text.
        Type(v.Box("cboxDivideBy"), "0");
        EXPECT_FALSE(v.OkEnabled());
        EXPECT_EQ(v.Status(), "UNITS/1");
        EXPECT_EQ(Tavresp::Parameters->ScaleFactor(), "1");
        Type(v.Box("cboxDivideBy"), "100");
        EXPECT_EQ(v.Status(), "UNITS/100");
        v.Ok();
    });
    EXPECT_EQ(picked.Items(), (std::vector<std::string>{"Undefined", "Scale", "UNITS", "Undefined",
                                                        "Undefined", "100"}));

    // Every help text of a query ends with its note.
    const std::string note =
        LB + LB + "NOTE: \"datafield\" must be in the" + LB + "query's result dataset.";
    for (int choice = 0; choice < 4; ++choice)
        EditResponse<TTAVQuery>(TDependentVar(), [&](const TView& v) {
            v.Choose(choice);
            const std::string help = v.Help();
            EXPECT_EQ(help.substr(help.size() - note.size()), note) << choice;
            EXPECT_TRUE(BreaksAreLfCr(help));
            v.Cancel();
        });
}

TEST(ResponseDialog, ScalingWithATypedFieldCancelAndErrors) {
    // A table, scaling, no field picked: a divisor enables OK, and OK stores the box's text.
    const TDependentVar typed = EditResponse<TTAVTable>(TDependentVar(), [](const TView& v) {
        v.Choose(2);
        Type(v.Box("cboxTableX"), "TYPED");
        EXPECT_FALSE(v.OkEnabled());
        Type(v.Box("cboxDivideBy"), "10");
        EXPECT_TRUE(v.OkEnabled());
        EXPECT_EQ(Child<QLabel>(v.d, "Label1")->text(), "Divide TYPED by the value:");
        v.Ok();
    });
    EXPECT_EQ(typed.FieldName(), "TYPED");
    EXPECT_EQ(typed.ScaleFactor(), "10");

    TDependentVar given;
    given.SetTransformation("Log");
    given.SetField("PRICE");
    given.SetScaleFactor("1000");
    const TDependentVar back = EditResponse<TTAVTable>(given, [](const TView& v) {
        EXPECT_EQ(v.Choices()->ItemIndex(), 1);
        EXPECT_EQ(v.Box("cboxDivideBy")->ItemIndex(), 2);
        tavtest::TMessageRecorder messages;
        v.Choose(2);
        Type(v.Box("cboxDivideBy"), "n");
        EXPECT_EQ(messages.Texts(),
                  std::vector<std::string>{"'n' is not a valid floating point value"});
        EXPECT_EQ(Tavresp::Parameters->ScaleFactor(), "1000");
        Pick(v.Box("cboxTableX"), "AREA");
        v.Cancel();
    });
    EXPECT_EQ(back.Items(), given.Items());
}

TEST(Dialogs, WorkWithoutAHookAsPlainModalDialogs) {
    // A plain Qt program: the dialog is the active modal widget; it is driven by object names.
    ASSERT_FALSE(HasModalHook());
    TTAVTable component;
    component.SetName("Plain");
    TIndepVar v;
    TStringList names;
    names.Add("AREA");
    bool seen = false;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        seen = modal->windowTitle() == "Plain Control Variable Definition";
        Click(Child<TRadioGroup>(*modal, "RadioGroup1")->Button(2));
        Pick(Child<TComboBox>(*modal, "cboxTableX"), "AREA");
        Click(Child<QWidget>(*modal, "bbtnOK"));
    });
    TControlDefDlg dialog;
    dialog.OpenForm(&component, "ControlVar03", v, names);
    EXPECT_TRUE(seen);
    EXPECT_EQ(v.Transformation(), "Log");
    EXPECT_EQ(v.Field1(), "AREA");
}

// Pictures of the dialogs for the README, written only when asked for:
//     TAV_DIALOG_PICTURES=docs/images test_design --gtest_also_run_disabled_tests
//         --gtest_filter='*DialogPictures*'
TEST(DialogPictures, DISABLED_TableAndQuery) {
    const QString folder = qEnvironmentVariable("TAV_DIALOG_PICTURES");
    if (folder.isEmpty()) GTEST_SKIP() << "TAV_DIALOG_PICTURES";
    auto save = [&](const char* file) {
        return [&folder, file](const TView& v) {
            QApplication::processEvents();
            EXPECT_TRUE(v.d.grab().save(folder + "/" + file)) << file;
            v.Cancel();
        };
    };
    TIndepVar product = Defined("Product", "PRICE", "UNITS");
    EditControl<TTAVTable>(product, save("dialog_control_table.png"));
    EditControl<TTAVQuery>(Defined("Power", "PRICE", "B", "2"), save("dialog_control_query.png"));
    TDependentVar response;
    response.SetTransformation("Log");
    response.SetField("UNITS");
    EditResponse<TTAVTable>(response, save("dialog_response_table.png"));
    response.SetTransformation("Scale");
    response.SetScaleFactor("1000");
    EditResponse<TTAVQuery>(response, save("dialog_response_query.png"));
}
