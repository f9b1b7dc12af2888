// TTAVTable: a table that fits a multiple linear regression to its own records.
#pragma once

#include "engine/tavcore.h"
#include "host/data/db.h"

namespace tav {

class TTAVTable : public TTable, public TTAVRegression {
  public:
    explicit TTAVTable(TComponent* owner = nullptr)
        : TTable(owner), TTAVRegression(*this, TableVariant) {}
    const char* ClassName() const override { return "TTAVTable"; }
    using TTAVRegression::LoadValues;
};

}  // namespace tav
