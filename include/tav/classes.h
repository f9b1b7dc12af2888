// TComponent and TStringList: the ownership and text-list classes of the classic framework.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tav {

// A component may own other components: an owner frees what it owns when it is destroyed, and a
// component destroyed first leaves its owner's list. Components are not copyable.
class TComponent {
  public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    // The name of the component's class ("TTAVTable"); every component class says its own.
    virtual const char* ClassName() const { return "TComponent"; }
    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const;

  private:
    TComponent* owner_;
    std::string name_;
    std::vector<TComponent*> components_;
};

// An ordered list of texts. Indexed access outside 0..Count()-1 raises EStringListError
// "List index out of bounds (i)".
class TStringList {
  public:
    TStringList() = default;
    virtual ~TStringList() = default;
    TStringList(const TStringList&) = default;
    TStringList& operator=(const TStringList&) = default;

    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& Strings(int index) const;
    void SetStrings(int index, const std::string& value);
    const std::string& operator[](int index) const { return Strings(index); }
    int Add(const std::string& value);
    void Insert(int index, const std::string& value);
    void Delete(int index);
    void Clear() { items_.clear(); }
    int IndexOf(const std::string& value) const;
    // Replaces every entry with a copy of the other list's.
    void Assign(const TStringList& source);
    // The entries joined, each followed by LF CR.
    std::string Text() const;
    const std::vector<std::string>& Items() const { return items_; }

    bool operator==(const TStringList& other) const { return items_ == other.items_; }

  private:
    void CheckIndex(int index) const;
    std::vector<std::string> items_;
};

}  // namespace tav
