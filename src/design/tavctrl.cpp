#include "tav/tavctrl.h"

#include <QLabel>
#include <QRadioButton>

#include "design/dlgparts.h"
#include "tav/forms.h"
#include "tav/qtstrings.h"
#include "tav/sysutils.h"
#include "tav/tavclasses.h"
#include "tav/tavquery.h"

namespace tav {

namespace Tavctrl {
int32_t ComponentType = 0;
std::string PropertyName;
std::string helpString;
std::unique_ptr<TIndepVar> Parameters;
}  // namespace Tavctrl

using namespace Tavctrl;
using dlgparts::MakeComboBox;
using dlgparts::MakeEdit;
using dlgparts::MakeLabel;
using dlgparts::MakePanel;

namespace {

constexpr const char* LB = "\n\r";

// The help text of a kind's choice, before any note of the query variant.
std::string HelpText(TTransformation kind) {
    const std::string& p = PropertyName;
    switch (kind) {
        case TTransformation::Undefined:
            return "The Inactive option disables " + p + ".";
        case TTransformation::None:
            return "This will set " + p + " to the" + LB + "values of the database field with" +
                   LB + "the name listed in \"datafield1\".";
        case TTransformation::Log:
            return "This will set " + p + " to the" + LB + "natural logarithm of the values of" +
                   LB + "the database field named in \"datafield1\".";
        case TTransformation::Inverse:
            return "This will set " + p + " to" + LB + "1 divided by the values of" + LB +
                   "the database field named in \"datafield1\"." + LB + LB +
                   "NOTE: All values must be nonzero.";
        case TTransformation::Sqrt:
            return "This will set " + p + " to the" + LB + "square root of the values of" + LB +
                   "\"datafield1\"." + LB + LB + "All values must be >= 0.";
        case TTransformation::Power:
            return "This will set " + p + " to the" + LB + "values of database field named in" +
                   LB + "\"datafield1\" raised to the power" + LB + "entered below.";
        case TTransformation::Scale:
            return "This will set each element of " + p + LB +
                   "to the value of the database field named in" + LB +
                   "\"datafield1\", divided by the value below.";
        case TTransformation::Product:
            return "This will set each element of " + p + LB +
                   "to the value of the database field named in" + LB +
                   "\"datafield1\", multiplied by the value of the" + LB +
                   "database field named in \"datafield2\".";
        case TTransformation::Quotient:
            return "This will set each element of " + p + LB +
                   "to the value of the database field named in" + LB +
                   "\"datafield1\", divided by the value of the" + LB +
                   "database field named in \"datafield2\".";
    }
    return {};
}

// What a query adds to the help of a choice: the fields must be in its result.
std::string QueryNote(const TTransformationKind& kind) {
    if (kind.fields == 1)
        return std::string(LB) + LB + "NOTE: \"datafield1\" must be in the" + LB +
               "query's result dataset.";
    if (kind.fields != 2) return {};
    std::string note = std::string(LB) + LB + "NOTE: Both \"datafield1\" and \"datafield2\"" + LB +
                       "must be in the query's result dataset.";
    if (kind.id == TTransformation::Quotient)
        note += std::string(LB) + "ALL values in datafield2 MUST be nonzero.";
    return note;
}

// The square root shows as the power 1/2: the exponent's panel, its box disabled at 1/2.
bool ShowsPower(const TTransformationKind* kind) {
    return kind != nullptr &&
           (kind->Reads(TParameter::Exponent) || kind->id == TTransformation::Sqrt);
}

}  // namespace

TControlDefDlg::TControlDefDlg(QWidget* parent) : TForm(parent) {
    setObjectName("ControlDefDlg");
    setWindowTitle("Control Variable Definition");
    setFixedSize(339, 337);
    move(200, 100);
    setFont(dlgparts::PixelFont("Arial", 13));
    QPalette black = palette();
    black.setColor(QPalette::WindowText, Qt::black);
    setPalette(black);

    dlgparts::MakeBevel(this, 8, 56, 324, 221);
    dlgparts::MakeTitle(this);
    dlgparts::MakePicturePanel(this);

    radioGroup1_ = dlgparts::MakeChoices(this, 14, 65, 311, 100, "Set Control Variable to",
                                         dlgparts::ChoiceCaptions(TRole::Control));
    radioGroup1_->OnClick = [this] { RadioGroup1Click(); };
    const auto validateData = [this] { ValidateData(); };

    // The upper field area: one of two panels, by the component's kind.
    pnlTblX_ = MakePanel(this, "pnlTblX", 14, 175, 311, 41);
    MakeLabel(pnlTblX_, "Label7", "datafield1", 10, 12, 68);
    cboxTableX_ = MakeComboBox(pnlTblX_, "cboxTableX", 80, 10, 200);
    cboxTableX_->OnChange = cboxTableX_->OnExit = validateData;
    pnlQryX_ = MakePanel(this, "pnlQryX", 14, 175, 311, 41);
    MakeLabel(pnlQryX_, "Label5", "datafield1", 10, 12, 68);
    edStringX_ = MakeEdit(pnlQryX_, "edStringX", 81, 10, 200);
    edStringX_->OnChange = edStringX_->OnEnter = validateData;

    // The lower area: four panels at one place, from back to front as created; the one brought to
    // the front last is the one seen.
    pnlScaleX_ = MakePanel(this, "pnlScaleX", 14, 218, 311, 47);
    label8_ = MakeLabel(pnlScaleX_, "Label8", "Divide datafield1 by the value:", 10, 18, 186);
    cboxDivideBy_ = MakeComboBox(pnlScaleX_, "cboxDivideBy", 199, 16, 81,
                                 {"10", "100", "1000", "10000", "100000", "1000000"}, "1");
    cboxDivideBy_->OnChange = cboxDivideBy_->OnExit = [this] { ValidateXScaled(); };
    pnlQryY_ = MakePanel(this, "pnlQryY", 14, 218, 311, 47);
    MakeLabel(pnlQryY_, "Label6", "datafield2", 10, 15, 68);
    edStringY_ = MakeEdit(pnlQryY_, "edStringY", 81, 13, 200);
    edStringY_->OnChange = edStringY_->OnEnter = validateData;
    pnlTblY_ = MakePanel(this, "pnlTblY", 14, 218, 311, 47);
    MakeLabel(pnlTblY_, "Label1", "datafield2", 10, 15, 68);
    cboxTableY_ = MakeComboBox(pnlTblY_, "cboxTableY", 80, 13, 200);
    cboxTableY_->OnChange = cboxTableY_->OnExit = validateData;
    pnlXpwry_ = MakePanel(this, "pnlXpwry", 14, 218, 311, 47);
    label4_ = MakeLabel(pnlXpwry_, "Label4", "Raise datafield1 to the power ", 10, 6, 196, 36);
    label4_->setWordWrap(true);
    cboxpwrY_ =
        MakeComboBox(pnlXpwry_, "cboxpwrY", 210, 19, 71, {"1/2", "2", "3", "4", "5", "6"}, "1");
    cboxpwrY_->OnChange = cboxpwrY_->OnClick = cboxpwrY_->OnEnter =
        cboxpwrY_->OnExit = [this] { ValidateXtoPowery(); };

    const auto buttons = dlgparts::MakeButtons(this, 286, 28, 132, 235);
    bbtnOK_ = buttons.ok;
    bbtnCancel_ = buttons.cancel;
    bbtnHelp_ = buttons.help;
    bbtnHelp_->OnClick = [this] { bbtnHelpClick(); };
    panel2_ = dlgparts::MakeStatusPanel(this, 322, 339);
    OnActivate = [this] { FormActivate(); };

    // Tab order: RadioGroup1, pnlTblX, pnlTblY, bbtnOK, pnlXpwry, pnlQryX, pnlQryY, bbtnCancel,
    // bbtnHelp, Panel1, Panel2, pnlScaleX (the panels by the boxes in them).
    QWidget* order[] = {radioGroup1_->Button(0),
                        cboxTableX_,
                        cboxTableY_,
                        bbtnOK_,
                        cboxpwrY_,
                        edStringX_,
                        edStringY_,
                        bbtnCancel_,
                        bbtnHelp_,
                        cboxDivideBy_};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

TControlDefDlg::~TControlDefDlg() = default;

void TControlDefDlg::OpenForm(TTAVRegression* Component, const std::string& PropertyName_,
                              TIndepVar& Variable, const TStringList& FieldNames) {
    Parameters = std::make_unique<TIndepVar>();
    auto backup = std::make_unique<TIndepVar>();
    Parameters->Assign(Variable);
    backup->Assign(*Parameters);
    // The working copy lives exactly as long as this call, however it ends.
    struct TRelease {
        ~TRelease() { Parameters.reset(); }
    } release;

    cboxTableX_->ClearItems();
    cboxTableY_->ClearItems();
    TDataSet& dataSet = Component->DataSet();
    ComponentType = ComponentKind(&dataSet).query != nullptr ? 1 : 0;
    PropertyName = PropertyName_;
    setWindowTitle(Q(dataSet.Name() + " Control Variable Definition"));
    radioGroup1_->setTitle(Q("Set " + PropertyName + " to "));
    UpdateNow(this);
    pnlTblX_->setVisible(Table());
    pnlQryX_->setVisible(!Table());
    for (int i = 0; i < FieldNames.Count(); ++i) {
        cboxTableX_->AddItem(Q(FieldNames[i]));
        cboxTableY_->AddItem(Q(FieldNames[i]));
    }
    InputControlView(*Parameters);
    if (ShowModal(this) == mrOk)
        Variable.Assign(*Parameters);
    else
        Variable.Assign(*backup);
}

void TControlDefDlg::InputControlView(const TIndepVar& Variable) {
    dlgparts::ShowStored(cboxDivideBy_, Q(Variable.ScaleFactor()));
    cboxTableX_->SetItemIndex(cboxTableX_->IndexOf(Q(Variable.Field1())));
    cboxTableY_->SetItemIndex(cboxTableY_->IndexOf(Q(Variable.Field2())));
    edStringX_->setText(Q(Variable.Field1()));
    edStringY_->setText(Q(Variable.Field2()));
    cboxpwrY_->SetText(Q(Variable.Exponent()));
    if (const TTransformationKind* kind = Variable.Kind(); kind != nullptr)
        radioGroup1_->SetItemIndex(kind->controlChoice);
    UpdateNow(this);
}

void TControlDefDlg::RadioGroup1Click() {
    const TTransformationKind* kind = ChoiceKind(radioGroup1_->ItemIndex(), TRole::Control);
    panel2_->SetCaption(QString());
    cboxpwrY_->setEnabled(kind != nullptr && kind->Reads(TParameter::Exponent));
    cboxDivideBy_->setEnabled(kind != nullptr && kind->Reads(TParameter::ScaleFactor));
    if (cboxpwrY_->isEnabled()) pnlXpwry_->raise();
    if (cboxDivideBy_->isEnabled()) pnlScaleX_->raise();
    QWidget* field1 = Table() ? static_cast<QWidget*>(cboxTableX_) : edStringX_;
    QWidget* field2 = Table() ? static_cast<QWidget*>(cboxTableY_) : edStringY_;
    field1->setEnabled(kind != nullptr && kind->fields >= 1);
    field2->setEnabled(kind != nullptr && kind->fields == 2);
    if (field2->isEnabled()) (Table() ? pnlTblY_ : pnlQryY_)->raise();

    if (kind != nullptr) {
        if (kind->id == TTransformation::Sqrt) cboxpwrY_->SetItemIndex(0);
        if (cboxpwrY_->isEnabled()) cboxpwrY_->setFocus();
        helpString = HelpText(kind->id);
        if (!Table()) helpString += QueryNote(*kind);
        if (kind->id == TTransformation::Undefined) {
            Parameters->SetUsage("Inactive");
            panel2_->SetCaption(Q(std::string(kind->status)));
            bbtnOK_->setEnabled(true);
        } else {
            Parameters->SetTransformation(std::string(kind->code));
        }
        // The box the choice is waiting for.
        if (field2->isEnabled())
            field2->setFocus();
        else if (cboxDivideBy_->isEnabled())
            cboxDivideBy_->setFocus();
        else if (field1->isEnabled() && !ShowsPower(kind))
            field1->setFocus();
    }
    ValidateData();
}

void TControlDefDlg::ValidateData() {
    const TTransformationKind* kind = ChoiceKind(radioGroup1_->ItemIndex(), TRole::Control);
    if (kind == nullptr || kind->fields == 0) return;
    if (ShowsPower(kind)) {
        ValidateXtoPowery();
    } else if (kind->Reads(TParameter::ScaleFactor)) {
        ValidateXScaled();
    } else if (kind->fields == 2) {
        ValidateTwoFields(*kind);
    } else {
        if (Table()) {
            bbtnOK_->setEnabled(cboxTableX_->ItemIndex() >= 0);
            if (bbtnOK_->isEnabled()) Parameters->SetField1(S(cboxTableX_->Text()));
        } else {
            bbtnOK_->setEnabled(!edStringX_->text().isEmpty());
            Parameters->SetField1(S(edStringX_->text()));
        }
        if (bbtnOK_->isEnabled())
            panel2_->SetCaption(Q(FillTerm(kind->status, Parameters->Field1(), "", "")));
    }
}

void TControlDefDlg::ValidateXtoPowery() {
    // The entry "1/2" is no number to convert; any other text is, or the handler stops here.
    const double y = cboxpwrY_->ItemIndex() == 0 ? 0.5 : StrToFloat(S(cboxpwrY_->Text()));
    Parameters->SetExponent(FloatToStr(y));
    if (Table()) {
        const bool picked = cboxTableX_->ItemIndex() >= 0;
        if (picked) {
            Parameters->SetField1(S(cboxTableX_->Text()));
            label4_->setText("Raise " + cboxTableX_->Text() + " to the power:");
        }
        bbtnOK_->setEnabled(picked &&
                            ParameterOf(TParameter::Exponent).check(y) == TSkipReason::None);
    } else {
        label4_->setText("Raise " + edStringX_->text() + " to the power:");
        Parameters->SetField1(S(edStringX_->text()));
        bbtnOK_->setEnabled(!edStringX_->text().isEmpty());
    }
    // The exponent as the box shows it ("1/2").
    if (bbtnOK_->isEnabled())
        panel2_->SetCaption(Q(FillTerm(KindOf(TTransformation::Power).status, Parameters->Field1(),
                                       "", S(cboxpwrY_->Text()))));
}

void TControlDefDlg::ValidateXScaled() {
    // A divisor the load would refuse is stored as the default one.
    const TParameterRule& rule = ParameterOf(TParameter::ScaleFactor);
    const bool accepted = rule.check(StrToFloat(S(cboxDivideBy_->Text()))) == TSkipReason::None;
    const std::string s = accepted ? S(cboxDivideBy_->Text()) : std::string(rule.controlDefault);
    Parameters->SetScaleFactor(s);
    if (Table()) {
        if (accepted) {
            Parameters->SetField1(S(cboxTableX_->Text()));
            label8_->setText("Scale " + cboxTableX_->Text() + " by the value:");
        }
        bbtnOK_->setEnabled(cboxTableX_->ItemIndex() >= 0);
    } else {
        label8_->setText("Scale " + edStringX_->text() + " by the value:");
        Parameters->SetField1(S(edStringX_->text()));
        bbtnOK_->setEnabled(!edStringX_->text().isEmpty());
    }
    if (bbtnOK_->isEnabled())
        panel2_->SetCaption(
            Q(FillTerm(KindOf(TTransformation::Scale).status, Parameters->Field1(), "", s)));
}

void TControlDefDlg::ValidateTwoFields(const TTransformationKind& kind) {
    if (Table()) {
        bbtnOK_->setEnabled(cboxTableX_->ItemIndex() >= 0 && cboxTableY_->ItemIndex() >= 0);
        if (bbtnOK_->isEnabled()) {
            Parameters->SetField1(S(cboxTableX_->Text()));
            Parameters->SetField2(S(cboxTableY_->Text()));
        }
    } else {
        bbtnOK_->setEnabled(!edStringX_->text().isEmpty() && !edStringY_->text().isEmpty());
        Parameters->SetField1(S(edStringX_->text()));
        Parameters->SetField2(S(edStringY_->text()));
    }
    if (bbtnOK_->isEnabled())
        panel2_->SetCaption(
            Q(FillTerm(kind.status, Parameters->Field1(), Parameters->Field2(), "")));
}

void TControlDefDlg::ValidateDataXTimesY() { ValidateTwoFields(KindOf(TTransformation::Product)); }

void TControlDefDlg::ValidateDataXDivY() { ValidateTwoFields(KindOf(TTransformation::Quotient)); }

void TControlDefDlg::bbtnHelpClick() {
    MessageDlg(helpString, TMsgDlgType::mtInformation, mbOK, 0);
}

void TControlDefDlg::FormActivate() {
    (Table() ? pnlTblY_ : pnlQryY_)->raise();
    if (!Parameters) return;
    const TTransformationKind* kind = Parameters->Kind();
    if (ShowsPower(kind)) pnlXpwry_->raise();
    if (kind != nullptr && kind->Reads(TParameter::ScaleFactor)) pnlScaleX_->raise();
}

}  // namespace tav
