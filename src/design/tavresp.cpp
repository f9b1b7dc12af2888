#include "tav/tavresp.h"

#include <QLabel>
#include <QRadioButton>

#include "design/dlgparts.h"
#include "tav/forms.h"
#include "tav/qtstrings.h"
#include "tav/sysutils.h"
#include "tav/tavclasses.h"
#include "tav/tavquery.h"

namespace tav {

namespace Tavresp {
int32_t ComponentType = 0;
std::string PropertyName;
std::string helpString;
std::unique_ptr<TDependentVar> Parameters;
}  // namespace Tavresp

using namespace Tavresp;
using dlgparts::MakeComboBox;
using dlgparts::MakeEdit;
using dlgparts::MakeLabel;
using dlgparts::MakePanel;

namespace {

constexpr const char* LB = "\n\r";

std::string HelpText(TTransformation kind) {
    const std::string& p = PropertyName;
    switch (kind) {
        case TTransformation::None:
            return "This will set " + p + " to the" + LB + "values of the database field with" +
                   LB + "the name listed in \"datafield\".";
        case TTransformation::Log:
            return "This will set " + p + " to the" + LB + "natural logarithm of the values of" +
                   LB + "the database field named in \"datafield\"." + LB +
                   "NOTE: \"datafield\" must NOT contain" + LB + "ANY non positive values.";
        case TTransformation::Scale:
            return "This will divide each element of " + p + LB + "by the scale value below.";
        case TTransformation::Inverse:
            return "This will set each element of " + p + LB + "to the value of 1/\"datafield\"." +
                   LB + LB + "NOTE: \"datafield\" must NOT contain" + LB + "ANY zero values.";
        default:
            return {};
    }
}

}  // namespace

TResponseDefDlg::TResponseDefDlg(QWidget* parent) : TForm(parent) {
    setObjectName("ResponseDefDlg");
    setWindowTitle("Response  Variable Definition");
    setFixedSize(339, 291);
    move(112, 90);
    setFont(dlgparts::PixelFont("Arial", 13));
    QPalette black = palette();
    black.setColor(QPalette::WindowText, Qt::black);
    setPalette(black);

    dlgparts::MakeBevel(this, 7, 62, 324, 167);
    dlgparts::MakeTitle(this);
    dlgparts::MakePicturePanel(this);

    radioGroup1_ = dlgparts::MakeChoices(this, 18, 71, 302, 60, "Set Response Variable to",
                                         dlgparts::ChoiceCaptions(TRole::Response));
    radioGroup1_->OnClick = [this] { RadioGroup1Click(); };
    const auto validateData = [this] { ValidateData(); };

    pnlTblX_ = MakePanel(this, "pnlTblX", 18, 133, 302, 41);
    MakeLabel(pnlTblX_, "labdatafield2", "datafield", 10, 12, 68);
    cboxTableX_ = MakeComboBox(pnlTblX_, "cboxTableX", 80, 10, 200);
    cboxTableX_->OnChange = cboxTableX_->OnExit = validateData;
    pnlQryX_ = MakePanel(this, "pnlQryX", 18, 133, 302, 41);
    MakeLabel(pnlQryX_, "lbDataField1", "datafield", 10, 12, 68);
    edStringX_ = MakeEdit(pnlQryX_, "edStringX", 81, 10, 200);
    edStringX_->OnChange = edStringX_->OnEnter = validateData;

    auto* panel3 = MakePanel(this, "Panel3", 18, 176, 302, 41);
    label1_ = MakeLabel(panel3, "Label1", "divide datafield by the value", 10, 17, 190);
    cboxDivideBy_ = MakeComboBox(panel3, "cboxDivideBy", 203, 15, 77,
                                 {"10", "100", "1000", "10000", "100000", "1000000"}, "1");
    cboxDivideBy_->OnChange = cboxDivideBy_->OnExit = [this] { ValidateXScaled(); };

    const auto buttons = dlgparts::MakeButtons(this, 237, 24, 130, 236);
    bbtnOK_ = buttons.ok;
    bbtnCancel_ = buttons.cancel;
    bbtnHelp_ = buttons.help;
    bbtnHelp_->OnClick = [this] { bbtnHelpClick(); };
    panel2_ = dlgparts::MakeStatusPanel(this, 276, 339);
    OnActivate = [this] { FormActivate(); };

    // Tab order: RadioGroup1, pnlTblX, bbtnOK, pnlQryX, bbtnCancel, bbtnHelp, Panel1, Panel2,
    // Panel3 (the panels by the boxes in them).
    QWidget* order[] = {radioGroup1_->Button(0),
                        cboxTableX_,
                        bbtnOK_,
                        edStringX_,
                        bbtnCancel_,
                        bbtnHelp_,
                        cboxDivideBy_};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

TResponseDefDlg::~TResponseDefDlg() = default;

void TResponseDefDlg::OpenForm(TTAVRegression* Component, const std::string& PropertyName_,
                               TDependentVar& Variable, const TStringList& FieldNames) {
    Parameters = std::make_unique<TDependentVar>();
    auto backup = std::make_unique<TDependentVar>();
    Parameters->Assign(Variable);
    backup->Assign(*Parameters);
    struct TRelease {
        ~TRelease() { Parameters.reset(); }
    } release;

    TDataSet& dataSet = Component->DataSet();
    ComponentType = ComponentKind(&dataSet).query != nullptr ? 1 : 0;
    PropertyName = PropertyName_;
    setWindowTitle(Q(dataSet.Name() + " Response Variable Definition"));
    radioGroup1_->setTitle(Q("Set " + PropertyName + " to "));
    UpdateNow(this);
    pnlTblX_->setVisible(Table());
    pnlQryX_->setVisible(!Table());
    cboxTableX_->ClearItems();
    for (int i = 0; i < FieldNames.Count(); ++i) cboxTableX_->AddItem(Q(FieldNames[i]));
    InputResponseView(*Parameters);
    if (ShowModal(this) == mrOk)
        Variable.Assign(*Parameters);
    else
        Variable.Assign(*backup);
}

void TResponseDefDlg::InputResponseView(const TDependentVar& Variable) {
    dlgparts::ShowStored(cboxDivideBy_, Q(Variable.ScaleFactor()));
    cboxTableX_->SetItemIndex(cboxTableX_->IndexOf(Q(Variable.FieldName())));
    edStringX_->setText(Q(Variable.FieldName()));
    if (const TTransformationKind* kind = Variable.Kind(); kind != nullptr)
        radioGroup1_->SetItemIndex(kind->responseChoice);
    UpdateNow(this);
}

void TResponseDefDlg::RadioGroup1Click() {
    const TTransformationKind* kind = ChoiceKind(radioGroup1_->ItemIndex(), TRole::Response);
    cboxDivideBy_->setEnabled(kind != nullptr && kind->Reads(TParameter::ScaleFactor));
    (Table() ? static_cast<QWidget*>(cboxTableX_) : edStringX_)->setFocus();
    if (kind != nullptr) {
        helpString = HelpText(kind->id);
        Parameters->SetTransformation(std::string(kind->code));
    }
    if (!Table())
        helpString += std::string(LB) + LB + "NOTE: \"datafield\" must be in the" + LB +
                      "query's result dataset.";
    ValidateData();
}

void TResponseDefDlg::ValidateData() {
    if (Table()) {
        bbtnOK_->setEnabled(cboxTableX_->ItemIndex() >= 0);
        if (bbtnOK_->isEnabled()) Parameters->SetField(S(cboxTableX_->Text()));
    } else {
        bbtnOK_->setEnabled(!edStringX_->text().isEmpty());
        Parameters->SetField(S(edStringX_->text()));
    }
    const TTransformationKind* kind = ChoiceKind(radioGroup1_->ItemIndex(), TRole::Response);
    if (!bbtnOK_->isEnabled() || kind == nullptr) return;
    // The scaling previews the divisor already stored, not the box's text.
    panel2_->SetCaption(
        Q(FillTerm(kind->status, Parameters->FieldName(), "", Parameters->ScaleFactor())));
}

void TResponseDefDlg::ValidateXScaled() {
    // A divisor the load would refuse is stored as the default one, and OK waits for another.
    const TParameterRule& rule = ParameterOf(TParameter::ScaleFactor);
    const bool valid = rule.check(StrToFloat(S(cboxDivideBy_->Text()))) == TSkipReason::None;
    Parameters->SetScaleFactor(valid ? S(cboxDivideBy_->Text())
                                     : std::string(rule.responseDefault));
    if (Table()) {
        if (valid) {
            Parameters->SetField(S(cboxTableX_->Text()));
            label1_->setText("Divide " + cboxTableX_->Text() + " by the value:");
        }
        bbtnOK_->setEnabled(valid);
    } else {
        label1_->setText("Scale " + edStringX_->text() + " by the value:");
        Parameters->SetField(S(edStringX_->text()));
        bbtnOK_->setEnabled(valid && !edStringX_->text().isEmpty());
    }
    if (bbtnOK_->isEnabled())
        panel2_->SetCaption(Q(FillTerm(KindOf(TTransformation::Scale).status,
                                       Parameters->FieldName(), "", Parameters->ScaleFactor())));
}

void TResponseDefDlg::bbtnHelpClick() {
    MessageDlg(helpString, TMsgDlgType::mtInformation, mbOK, 0);
}

void TResponseDefDlg::FormActivate() { (Table() ? pnlTblX_ : pnlQryX_)->raise(); }

}  // namespace tav
