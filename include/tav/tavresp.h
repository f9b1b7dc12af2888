// TResponseDefDlg: the modal dialog in which the response variable of a regression component is
// defined, one of four transformations with its field and, for a scaling, its divisor.
//
// The property editor creates the dialog, calls OpenForm once and frees it. Every choice and edit
// goes at once into a working copy (Tavresp::Parameters); OK copies it into the caller's variable,
// any other way of closing gives the caller back the definition it passed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tav/controls.h"
#include "tav/tavtypes.h"

class QLabel;

namespace tav {

class TPanel;
class TTAVRegression;

// The unit's state, shared by every dialog object; the handlers read it.
namespace Tavresp {
extern int32_t ComponentType;  // 1 for a query (or derived), 0 for a table
extern std::string PropertyName;
extern std::string helpString;
extern std::unique_ptr<TDependentVar> Parameters;  // exists only while OpenForm runs
}  // namespace Tavresp

// The dialog itself: OpenForm runs it modally and returns when it is closed; the handlers below are
// its controls' events.
class TResponseDefDlg : public TForm {
  public:
    explicit TResponseDefDlg(QWidget* parent = nullptr);
    ~TResponseDefDlg() override;

    void OpenForm(TTAVRegression* Component, const std::string& PropertyName,
                  TDependentVar& Variable, const TStringList& FieldNames);
    void InputResponseView(const TDependentVar& Variable);

    // Event handlers.
    void RadioGroup1Click();
    void ValidateData();
    void ValidateXScaled();
    void bbtnHelpClick();
    void FormActivate();

  private:
    bool Table() const { return Tavresp::ComponentType == 0; }

    TRadioGroup* radioGroup1_;
    TPanel *pnlTblX_, *pnlQryX_;
    TComboBox *cboxTableX_, *cboxDivideBy_;
    TEdit* edStringX_;
    QLabel* label1_;
    TBitBtn *bbtnOK_, *bbtnCancel_, *bbtnHelp_;
    TPanel* panel2_;
};

}  // namespace tav
