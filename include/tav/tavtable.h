// TTAVTable: a table that fits a multiple linear regression to its own records.
#pragma once

#include "tav/db.h"
#include "tav/tavcore.h"

namespace tav {

// The table component: a TTable (its TableName, DatabaseName, ...) that is its own regression's
// dataset. Open it before ReLoad; the regression reads the table's records.
class TTAVTable : public TTable, public TTAVRegression {
  public:
    explicit TTAVTable(TComponent* owner = nullptr)
        : TTable(owner), TTAVRegression(*this, TableVariant) {}
    const char* ClassName() const override { return "TTAVTable"; }
    using TTAVRegression::LoadValues;
};

}  // namespace tav
