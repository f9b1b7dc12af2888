// The property editors of the variable properties: one per pair of variable kind (control,
// response) and component class (table, query). Edit opens the matching definition dialog on a
// copy of the component's variable, with the table's numeric field names (a table) or the one
// entry "..." (a query, whose fields are typed), and always stores the copy back through the
// component's setter, which clears ValuesLoaded.
#pragma once

#include "tav/designintf.h"
#include "tav/tavtypes.h"

namespace tav {

class TTAVRegression;

// What the four editors share: the attributes, the field names by component class, and one edit.
class TVariableProperty : public TClassProperty {
  public:
    // Edited through a dialog, also with several components selected.
    TPropertyAttributes GetAttributes() const override;

  protected:
    // The names offered: a table's numeric fields, in the dataset's order; a query's "...".
    // False (after the error box) when a table has no numeric field.
    bool FieldNames(TTAVRegression& component, TStringList& names) const;
    // The first selected component as a regression component.
    TTAVRegression& Regression() const;
};

// The editor of a control variable property (ControlVar01..ControlVar10): Edit opens the control
// variable dialog on a copy of the variable and stores the definition it gives back.
class TControlVarProperty : public TVariableProperty {
  public:
    void Edit() override;
    // The component's ControlVar01..ControlVar10 named like the edited property, into Variable;
    // any other name leaves Variable as it is.
    void GetCurrentParameters(TTAVRegression& Component, TIndepVar& Variable) const;
    // SetControl1..SetControl10 by the same name; any other name stores nothing.
    void SetNewParameters(TTAVRegression& Component, const TIndepVar& Variable) const;
};

// The editor of ResponseVarY: Edit opens the response dialog on a copy of the variable and stores
// the definition it gives back.
class TResponseVarProperty : public TVariableProperty {
  public:
    void Edit() override;
};

// The four registered editors; the table and query variants differ in the names FieldNames gives.
class TTAVTControlVarProperty : public TControlVarProperty {};
class TTAVQControlVarProperty : public TControlVarProperty {};
class TTAVTResponseVarProperty : public TResponseVarProperty {};
class TTAVQResponseVarProperty : public TResponseVarProperty {};

}  // namespace tav
