// TTAVQuery: a query that fits a multiple linear regression to the records it returns.
#pragma once

#include "tav/db.h"
#include "tav/tavcore.h"

namespace tav {

// The query component: a TQuery (its SQL, DatabaseName, ...) that is its own regression's
// dataset. Open it before ReLoad; the regression reads the records the query returns.
class TTAVQuery : public TQuery, public TTAVRegression {
  public:
    explicit TTAVQuery(TComponent* owner = nullptr)
        : TQuery(owner), TTAVRegression(*this, QueryVariant) {}
    const char* ClassName() const override { return "TTAVQuery"; }
    using TTAVRegression::LoadValues;
};

}  // namespace tav
