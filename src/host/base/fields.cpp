#include "host/base/fields.h"

#include <stdexcept>

namespace tav {

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
