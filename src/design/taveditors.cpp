#include "tav/taveditors.h"

#include <memory>

#include "tav/messages.h"
#include "tav/sysutils.h"
#include "tav/tavclasses.h"
#include "tav/tavctrl.h"
#include "tav/tavquery.h"
#include "tav/tavresp.h"
#include "tav/tavtable.h"

namespace tav {

namespace {

// A table that is closed is opened for as long as its fields are looked at.
class TOpenWhileListing {
  public:
    explicit TOpenWhileListing(TDataSet& ds) : ds_(ds), opened_(!ds.Active()) {
        if (opened_) ds_.Open();
    }
    ~TOpenWhileListing() {
        if (opened_) ds_.Close();
    }
    TOpenWhileListing(const TOpenWhileListing&) = delete;
    TOpenWhileListing& operator=(const TOpenWhileListing&) = delete;

  private:
    TDataSet& ds_;
    bool opened_;
};

// "ControlVar01".."ControlVar10" -> 1..10; 0 for any other name.
int ControlNumber(const std::string& name) {
    for (int k = 1; k <= 10; ++k)
        if (name == std::string(k < 10 ? "ControlVar0" : "ControlVar") + IntToStr(k)) return k;
    return 0;
}

}  // namespace

TPropertyAttributes TVariableProperty::GetAttributes() const {
    return TPropertyAttribute::paDialog | TPropertyAttribute::paMultiSelect;
}

TTAVRegression& TVariableProperty::Regression() const {
    if (TTAVRegression* regression = ComponentKind(GetComponent(0)).regression)
        return *regression;
    throw Exception("The selected component is not a regression component");
}

bool TVariableProperty::FieldNames(TTAVRegression& component, TStringList& names) const {
    TTAVTable* table = ComponentKind(&component.DataSet()).table;
    if (!table) {
        names.Add("...");
        return true;
    }
    TOpenWhileListing open(*table);
    TStringList all;
    table->GetFieldNames(all);
    for (int i = 0; i < all.Count(); ++i)
        if (NumericField(table->FieldByName(all[i]))) names.Add(all[i]);
    if (names.Count() > 0) return true;
    MessageDlg("No numeric fields found in " + table->TableName() + ".", TMsgDlgType::mtError, mbOK,
               0);
    return false;
}

void TControlVarProperty::GetCurrentParameters(TTAVRegression& Component,
                                               TIndepVar& Variable) const {
    if (const int k = ControlNumber(GetName())) Variable.Assign(*Component.ControlVar(k));
}

void TControlVarProperty::SetNewParameters(TTAVRegression& Component,
                                           const TIndepVar& Variable) const {
    if (const int k = ControlNumber(GetName())) Component.SetControl(k, Variable);
}

void TControlVarProperty::Edit() {
    TTAVRegression& component = Regression();
    auto dialog = std::make_unique<TControlDefDlg>();
    TStringList names;
    TIndepVar variable;
    GetCurrentParameters(component, variable);
    if (FieldNames(component, names)) dialog->OpenForm(&component, GetName(), variable, names);
    // Stored whatever the dialog did: a cancelled edit stores the definition unchanged.
    SetNewParameters(component, variable);
}

void TResponseVarProperty::Edit() {
    TTAVRegression& component = Regression();
    auto dialog = std::make_unique<TResponseDefDlg>();
    TStringList names;
    TDependentVar variable;
    variable.Assign(*component.ResponseVarY());
    if (FieldNames(component, names)) dialog->OpenForm(&component, GetName(), variable, names);
    component.SetResponse(variable);
}

}  // namespace tav
