#include "engine/sqlfield.h"

#include "tav/db.h"
#include "tav/sysutils.h"

namespace tav {

TSqlField SqlField(const TDataSet& dataSet, const std::string& name, TSqlDialect dialect) {
    const TField* field = dataSet.Active() ? dataSet.FindField(name) : nullptr;
    if (dynamic_cast<const TDateTimeField*>(field) != nullptr)
        throw Exception("field '" + name +
                        "' holds dates or times: the database does not read it as the "
                        "number the fit used, so no SQL expression is written");
    const bool postgres = dialect == TSqlDialect::PostgreSQL;
    TSqlField sql;
    // The dataset's own spelling: a server that keeps the case of names needs it.
    sql.column = QuoteIdentifier(field != nullptr ? field->FieldName() : name);
    std::string value = sql.column;
    if (postgres) {
        // PostgreSQL has no direct cast of money or of a truth value to double precision. A real
        // (float4) reaches the load as the shortest text that reads back as it, which a double
        // reads as the decimal number written: the cast through text reads the same.
        if (dynamic_cast<const TCurrencyField*>(field) != nullptr)
            value = "CAST(" + value + " AS NUMERIC)";
        else if (dynamic_cast<const TBooleanField*>(field) != nullptr)
            value = "CAST(" + value + " AS INTEGER)";
        else if (field != nullptr && SameFieldName(field->DeclaredType(), "REAL"))
            value = "CAST(" + value + " AS TEXT)";
    }
    sql.number = "CAST(" + value + (postgres ? " AS DOUBLE PRECISION)" : " AS REAL)");
    if (dynamic_cast<const TStringField*>(field) != nullptr ||
        dynamic_cast<const TMemoField*>(field) != nullptr)
        sql.blank = postgres ? "CAST(" + sql.column + " AS TEXT) ~ '^[[:space:]]*$'"
                             : "TRIM(" + sql.column + ", char(32, 9, 10, 11, 12, 13)) = ''";
    return sql;
}

}  // namespace tav
