#include "tav/fields.h"

#include <cctype>
#include <stdexcept>

namespace tav {

namespace {

std::string Upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool Has(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

}  // namespace

TFieldClass FieldClassForType(const std::string& declaredType, TFieldClass fallback) {
    const std::string t = Upper(declaredType);
    if (t.empty()) return fallback;
    if (Has(t, "WORD") || Has(t, "UNSIGNED SMALLINT")) return TFieldClass::Word;
    if (Has(t, "SMALLINT") || Has(t, "INT2") || Has(t, "TINYINT")) return TFieldClass::Smallint;
    if (Has(t, "MONEY") || Has(t, "CURRENCY")) return TFieldClass::Currency;
    if (Has(t, "BOOL")) return TFieldClass::Boolean;
    if (Has(t, "DATETIME") || Has(t, "TIMESTAMP")) return TFieldClass::DateTime;
    if (Has(t, "DATE")) return TFieldClass::Date;
    if (Has(t, "TIME")) return TFieldClass::Time;
    if (Has(t, "INT")) return TFieldClass::Integer;
    if (Has(t, "MEMO") || Has(t, "CLOB") || Has(t, "LONGTEXT")) return TFieldClass::Memo;
    if (Has(t, "CHAR") || Has(t, "TEXT") || Has(t, "STRING")) return TFieldClass::String;
    if (Has(t, "BLOB") || Has(t, "BINARY") || Has(t, "BYTEA")) return TFieldClass::Blob;
    // REAL, FLOAT, DOUBLE, NUMERIC, DECIMAL and types SQLite would give numeric affinity.
    return TFieldClass::Float;
}

bool TField::IsNull() const { return source_->FieldIsNull(*this); }

bool TField::IsBlank() const { return source_->FieldIsBlank(*this); }

TField::TState TField::State() const { return source_->FieldState(*this); }

TField::TState TField::Peek(double& number, bool& isNumber) const {
    return source_->FieldPeek(*this, number, isNumber);
}

double TField::AsFloat() const { return source_->FieldAsFloat(*this); }

std::string TField::AsString() const { return source_->FieldAsString(*this); }

TCell* TRowReader::Add(const TField* field) {
    if (count_ == kCapacity) throw std::length_error("a row reader holds 32 fields at most");
    columns_[count_] = field->Index();
    return &cells_[count_++];
}

void TRowReader::Read(const TFieldSource& source) { source.PeekCells(columns_, count_, cells_); }

}  // namespace tav
