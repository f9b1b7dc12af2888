#include "tav/classes.h"

#include <algorithm>

#include "tav/sysutils.h"

namespace tav {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
    // Owned components go first, last created first; each one unlinks itself.
    while (!components_.empty()) delete components_.back();
    if (owner_) {
        auto& siblings = owner_->components_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount())
        throw Exception("Component index out of bounds (" + IntToStr(index) + ")");
    return components_[static_cast<std::size_t>(index)];
}

void TStringList::CheckIndex(int index) const {
    if (index < 0 || index >= Count())
        throw EStringListError("List index out of bounds (" + IntToStr(index) + ")");
}

const std::string& TStringList::Strings(int index) const {
    CheckIndex(index);
    return items_[static_cast<std::size_t>(index)];
}

void TStringList::SetStrings(int index, const std::string& value) {
    CheckIndex(index);
    items_[static_cast<std::size_t>(index)] = value;
}

int TStringList::Add(const std::string& value) {
    items_.push_back(value);
    return Count() - 1;
}

void TStringList::Insert(int index, const std::string& value) {
    if (index < 0 || index > Count())
        throw EStringListError("List index out of bounds (" + IntToStr(index) + ")");
    items_.insert(items_.begin() + index, value);
}

void TStringList::Delete(int index) {
    CheckIndex(index);
    items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(const std::string& value) const {
    for (int i = 0; i < Count(); ++i)
        if (items_[static_cast<std::size_t>(i)] == value) return i;
    return -1;
}

void TStringList::Assign(const TStringList& source) {
    if (&source != this) items_ = source.items_;
}

std::string TStringList::Text() const {
    std::string text;
    for (const auto& s : items_) text += s + "\n\r";
    return text;
}

}  // namespace tav
