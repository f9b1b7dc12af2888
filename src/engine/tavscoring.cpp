// The fitted equation as SQL, so that a database can score its own records.
//
// Each control variable is written out as the load forms it, each field read as a double, and
// guarded by the same validity rules: where the load would skip a record for a control variable
// (the logarithm of a value <= 1E-20, a divisor of magnitude < 1E-20, a fractional power of a
// negative value), the term is NULL and so is the score. Coefficients are written with 17
// significant digits, which read back as the very doubles of the fit.
#include "tav/tavscoring.h"

#include <cmath>
#include <string>

#include "engine/sqlfield.h"
#include "tav/db.h"
#include "tav/sysutils.h"
#include "tav/tavcore.h"
#include "tav/transformations.h"

namespace tav {

namespace {

class TWriter {
  public:
    TWriter(TSqlDialect dialect, const TDataSet& dataSet) : dialect_(dialect), dataSet_(dataSet) {}

    // The field's value as a double.
    std::string Field(const std::string& name) const {
        return SqlField(dataSet_, name, dialect_).number;
    }

    std::string Term(const TIndepVar& var) const {
        const std::string x1 = Field(var.Field1());
        const TTransformationKind* kind = var.Kind();
        if (kind == nullptr || kind->sql == nullptr)
            throw EConvertError("'" + var.Transformation() +
                                "' is not a valid transformation of a control variable");
        const std::string x2 = kind->fields == 2 ? Field(var.Field2()) : std::string();
        const double parameter =
            kind->parameter != nullptr ? StrToFloat(var.Strings(kind->parameter->entry)) : 0.0;
        return kind->sql(x1, x2, parameter);
    }

  private:
    TSqlDialect dialect_;
    const TDataSet& dataSet_;
};

}  // namespace

std::string FittedEquationSQL(const TTAVRegression& regression, TSqlDialect dialect) {
    if (regression.GetFitPath() == TFitPath::None ||
        regression.GetFitProblem() != TFitProblem::None)
        throw Exception("there is no valid fit to write as SQL");
    const TWriter writer(dialect, regression.DataSet());
    std::string sql = SqlNumber(regression.Getb(0));
    for (uint16_t k = 1; k <= regression.VarCount(); ++k) {
        if (regression.GetAliased(k)) continue;
        const double b = regression.Getb(k);
        sql += std::signbit(b) ? " - " : " + ";
        sql += SqlNumber(std::fabs(b)) + " * (" + writer.Term(*regression.GetcVar(k)) + ")";
    }
    return sql;
}

std::string TTAVRegression::ScoringSQL(TSqlDialect dialect) const {
    return FittedEquationSQL(*this, dialect);
}

}  // namespace tav
