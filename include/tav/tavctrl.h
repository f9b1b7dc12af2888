// TControlDefDlg: the modal dialog in which a control variable of a regression component is
// defined, one of nine choices (inactive or a transformation) with its fields, exponent or
// divisor.
//
// The property editor creates the dialog, calls OpenForm once and frees it. Every choice and edit
// goes at once into a working copy (Tavctrl::Parameters); OK copies it into the caller's variable,
// any other way of closing gives the caller back the definition it passed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tav/controls.h"
#include "tav/tavtypes.h"

class QFrame;
class QLabel;

namespace tav {

class TPanel;
class TTAVRegression;

// The unit's state, shared by every dialog object; the handlers read it.
namespace Tavctrl {
// 1 when the edited component is a query (or derived from one), 0 for a table.
extern int32_t ComponentType;
// The edited property's name ("ControlVar01"), inserted into the help texts.
extern std::string PropertyName;
// The help text of the current choice; it outlives the dialog until a later choice replaces it.
extern std::string helpString;
// The working copy; it exists only while OpenForm runs.
extern std::unique_ptr<TIndepVar> Parameters;
}  // namespace Tavctrl

// The dialog itself: OpenForm runs it modally and returns when it is closed; the handlers below are
// its controls' events.
class TControlDefDlg : public TForm {
  public:
    explicit TControlDefDlg(QWidget* parent = nullptr);
    ~TControlDefDlg() override;

    // Shows the dialog on a copy of Variable, with the field names offered for a table; on return
    // Variable holds the edited definition after OK and the one it was given otherwise.
    void OpenForm(TTAVRegression* Component, const std::string& PropertyName, TIndepVar& Variable,
                  const TStringList& FieldNames);
    // Loads a definition into the controls.
    void InputControlView(const TIndepVar& Variable);

    // Event handlers.
    void RadioGroup1Click();
    void ValidateData();
    void ValidateXtoPowery();
    void ValidateXScaled();
    void ValidateDataXTimesY();
    void ValidateDataXDivY();
    void bbtnHelpClick();
    void FormActivate();

  private:
    bool Table() const { return Tavctrl::ComponentType == 0; }
    void ValidateTwoFields(const TTransformationKind& kind);

    TRadioGroup* radioGroup1_;
    TPanel *pnlTblX_, *pnlQryX_, *pnlScaleX_, *pnlQryY_, *pnlTblY_, *pnlXpwry_;
    TComboBox *cboxTableX_, *cboxTableY_, *cboxDivideBy_, *cboxpwrY_;
    TEdit *edStringX_, *edStringY_;
    QLabel *label4_, *label8_;
    TBitBtn *bbtnOK_, *bbtnCancel_, *bbtnHelp_;
    TPanel* panel2_;
};

}  // namespace tav
