// The design-time interface: the component palette and the property editors, as a design tool
// (tavdesigner, or any host program) and the package's Register use them.
//
// Components are registered on palette pages with their class information (the published-
// property tables that form files use). A property editor is registered for a property type, on
// a component class and its descendants, for one property name or (an empty name) every property
// of that type. EditProperty is what the object inspector's ellipsis button does: it finds the
// editor for the first selected component's class and the property's type, binds it to the
// selection and the property, and calls Edit.
//
// The registries live for the process; Register may be called once or many times (a second call
// registers nothing new).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tav/formfile.h"

namespace tav {

enum class TPropertyAttribute : unsigned {
    paValueList = 1u << 0,
    paSubProperties = 1u << 1,
    paDialog = 1u << 2,       // the inspector shows an ellipsis button that calls Edit
    paMultiSelect = 1u << 3,  // stays editable with several components selected
    paReadOnly = 1u << 4,
};
using TPropertyAttributes = unsigned;
inline TPropertyAttributes operator|(TPropertyAttribute a, TPropertyAttribute b) {
    return static_cast<unsigned>(a) | static_cast<unsigned>(b);
}
inline bool Has(TPropertyAttributes set, TPropertyAttribute a) {
    return (set & static_cast<unsigned>(a)) != 0;
}

// Edits one property of the selected components.
class TPropertyEditor {
  public:
    virtual ~TPropertyEditor() = default;
    virtual void Edit() {}
    virtual TPropertyAttributes GetAttributes() const { return 0; }
    // The property's value as the inspector shows it.
    virtual std::string GetValue() const;

    // The index-th selected component (0 = the first), or null.
    TComponent* GetComponent(int index) const;
    int PropCount() const { return static_cast<int>(components_.size()); }
    // The edited property's name.
    const std::string& GetName() const { return property_->name; }
    const TPropertyInfo& Property() const { return *property_; }

    // Binds the editor to the selection and the property (done by EditProperty).
    void Initialize(std::vector<TComponent*> components, const TPropertyInfo* property);

  private:
    std::vector<TComponent*> components_;
    const TPropertyInfo* property_ = nullptr;
};

// The editor of an object-valued property: shown as "(TypeName)"; multi-select, sub-properties,
// read-only as text.
class TClassProperty : public TPropertyEditor {
  public:
    TPropertyAttributes GetAttributes() const override;
    std::string GetValue() const override;
};

using TPropertyEditorClass = std::function<std::unique_ptr<TPropertyEditor>()>;

// Puts the classes on a palette page, in order; a class already on it stays where it is.
void RegisterComponents(const std::string& page, const std::vector<const TClassInfo*>& classes);
// Makes a class known without a palette place (a class only ever created from a form file).
void RegisterClass(const TClassInfo* cls);
std::vector<std::string> PalettePages();
// The class names on a page, in registration order.
std::vector<std::string> RegisteredComponents(const std::string& page);
// A registered class by name, or null.
const TClassInfo* FindClass(const std::string& className);
// The registered class of a component (by its ClassName), or null.
const TClassInfo* ClassOf(const TComponent& component);
// Whether `cls` is the class named `ancestor` or derives from it through registered classes
// (and, one step further, through their parentClass names).
bool InheritsFrom(const TClassInfo* cls, const std::string& ancestor);

// Registers an editor for properties of `propertyType` on `componentClass` (null: every class)
// and its descendants, named `propertyName` (empty: every property of that type).
void RegisterPropertyEditor(const std::string& propertyType, const TClassInfo* componentClass,
                            const std::string& propertyName, TPropertyEditorClass editorClass);

// The editor for the property of the first selected component, bound to the selection; null
// when none is registered. Among the registrations that fit, one for the property's own name
// wins over one for every name, then the nearest class, then the latest.
std::unique_ptr<TPropertyEditor> GetPropertyEditor(const std::vector<TComponent*>& components,
                                                   const std::string& propertyName);
// What the ellipsis button does: GetPropertyEditor, then Edit. Raises Exception when the first
// component has no such property or no editor is registered for it.
void EditProperty(const std::vector<TComponent*>& components, const std::string& propertyName);

}  // namespace tav
