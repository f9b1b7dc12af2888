// The fitted equation as SQL, so that a database can score its own records.
//
// Each control variable is written out as the load forms it, each field read as a double, and
// guarded by the same validity rules: where the load would skip a record for a control variable
// (the logarithm of a value <= 1E-20, a divisor of magnitude < 1E-20, a fractional power of a
// negative value), the term is NULL and so is the score. Coefficients are written with 17
// significant digits, which read back as the very doubles of the fit.
#include <cmath>
#include <cstdio>
#include <string>

#include "engine/tavcore.h"
#include "host/db.h"
#include "host/sysutils.h"

namespace tav {

namespace {

// A double as a SQL literal that reads back as the same double.
std::string Literal(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    std::string s = text;
    // A whole number gets a decimal point, so that no database divides it as an integer.
    if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
    return s;
}

class TWriter {
  public:
    TWriter(TSqlDialect dialect, const TDataSet& dataSet) : dialect_(dialect), dataSet_(dataSet) {}

    // The field's value as a double.
    std::string Field(const std::string& name) const {
        const TField* field = dataSet_.Active() ? dataSet_.FindField(name) : nullptr;
        if (dynamic_cast<const TDateTimeField*>(field) != nullptr)
            throw Exception("field '" + name +
                            "' holds dates or times: the database does not read it as the "
                            "number the fit used, so no SQL expression is written");
        const bool postgres = dialect_ == TSqlDialect::PostgreSQL;
        // The dataset's own spelling: a server that keeps the case of names needs it.
        std::string value = QuoteIdentifier(field != nullptr ? field->FieldName() : name);
        // PostgreSQL has no direct cast of money to double precision.
        if (postgres && dynamic_cast<const TCurrencyField*>(field) != nullptr)
            value = "CAST(" + value + " AS NUMERIC)";
        return "CAST(" + value + (postgres ? " AS DOUBLE PRECISION)" : " AS REAL)");
    }

    std::string Term(const TIndepVar& var) const {
        const std::string& code = var.Transformation();
        const std::string x = Field(var.Field1());
        if (code == "None") return x;
        if (code == "Log") return "CASE WHEN " + x + " > 1E-20 THEN LN(" + x + ") END";
        if (code == "Sqrt") return "CASE WHEN " + x + " > 1E-20 THEN SQRT(" + x + ") END";
        if (code == "Inverse") return "CASE WHEN ABS(" + x + ") >= 1E-20 THEN 1.0 / " + x + " END";
        if (code == "Scale") return x + " / " + Literal(StrToFloat(var.ScaleFactor()));
        if (code == "Product") return x + " * " + Field(var.Field2());
        if (code == "Quotient") {
            const std::string divisor = Field(var.Field2());
            return "CASE WHEN ABS(" + divisor + ") >= 1E-20 THEN " + x + " / " + divisor + " END";
        }
        if (code == "Power") {
            const double y = StrToFloat(var.Exponent());
            const std::string power = "POWER(" + x + ", " + Literal(y) + ")";
            if (std::floor(y) == y) return power;
            return "CASE WHEN " + x + " >= 0 THEN " + power + " END";
        }
        throw EConvertError("'" + code + "' is not a valid transformation of a control variable");
    }

  private:
    TSqlDialect dialect_;
    const TDataSet& dataSet_;
};

}  // namespace

std::string TTAVRegression::ScoringSQL(TSqlDialect dialect) const {
    if (fitPath_ == TFitPath::None || fitProblem_ != TFitProblem::None)
        throw Exception("there is no valid fit to write as SQL");
    const TWriter writer(dialect, dataSet_);
    std::string sql = Literal(Getb(0));
    for (uint16_t k = 1; k <= varCount_; ++k) {
        if (aliased_[k]) continue;
        const double b = Getb(k);
        sql += std::signbit(b) ? " - " : " + ";
        sql += Literal(std::fabs(b)) + " * (" + writer.Term(*cVar_[k]) + ")";
    }
    return sql;
}

}  // namespace tav
