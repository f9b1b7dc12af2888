// TTAVQuery: a query that fits a multiple linear regression to the records it returns.
#pragma once

#include "engine/tavcore.h"
#include "host/data/db.h"

namespace tav {

class TTAVQuery : public TQuery, public TTAVRegression {
  public:
    explicit TTAVQuery(TComponent* owner = nullptr)
        : TQuery(owner), TTAVRegression(*this, QueryVariant) {}
    const char* ClassName() const override { return "TTAVQuery"; }
    using TTAVRegression::LoadValues;
};

}  // namespace tav
