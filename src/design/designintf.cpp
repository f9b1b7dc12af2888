#include "tav/designintf.h"

#include <algorithm>
#include <map>

#include "tav/sysutils.h"

namespace tav {

namespace {

struct TEditorRegistration {
    std::string propertyType;
    const TClassInfo* componentClass;
    std::string propertyName;
    TPropertyEditorClass editorClass;
};

struct TRegistry {
    std::vector<std::pair<std::string, std::vector<const TClassInfo*>>> pages;
    std::vector<const TClassInfo*> classes;
    std::vector<TEditorRegistration> editors;
};

TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}

// Steps from `cls` up to the class named `ancestor`, or -1 when it does not derive from it.
int Distance(const TClassInfo* cls, const std::string& ancestor) {
    int steps = 0;
    std::string name = cls ? cls->className : std::string();
    while (!name.empty() && steps < 64) {
        if (name == ancestor) return steps;
        const TClassInfo* known = FindClass(name);
        if (!known) return -1;
        name = known->parentClass;
        ++steps;
    }
    return -1;
}

}  // namespace

std::string TPropertyEditor::GetValue() const { return {}; }

TComponent* TPropertyEditor::GetComponent(int index) const {
    return index >= 0 && index < PropCount() ? components_[static_cast<std::size_t>(index)]
                                             : nullptr;
}

void TPropertyEditor::Initialize(std::vector<TComponent*> components,
                                 const TPropertyInfo* property) {
    components_ = std::move(components);
    property_ = property;
}

TPropertyAttributes TClassProperty::GetAttributes() const {
    return TPropertyAttribute::paMultiSelect | TPropertyAttribute::paSubProperties |
           static_cast<unsigned>(TPropertyAttribute::paReadOnly);
}

std::string TClassProperty::GetValue() const { return "(" + Property().typeName + ")"; }

void RegisterComponents(const std::string& page, const std::vector<const TClassInfo*>& classes) {
    auto& pages = Registry().pages;
    auto it =
        std::find_if(pages.begin(), pages.end(), [&](const auto& p) { return p.first == page; });
    if (it == pages.end()) it = pages.insert(pages.end(), {page, {}});
    for (const TClassInfo* cls : classes) {
        RegisterClass(cls);
        if (std::find(it->second.begin(), it->second.end(), cls) == it->second.end())
            it->second.push_back(cls);
    }
}

void RegisterClass(const TClassInfo* cls) {
    auto& classes = Registry().classes;
    for (auto& known : classes)
        if (known->className == cls->className) {
            known = cls;
            return;
        }
    classes.push_back(cls);
}

std::vector<std::string> PalettePages() {
    std::vector<std::string> names;
    for (const auto& [page, classes] : Registry().pages) names.push_back(page);
    return names;
}

std::vector<std::string> RegisteredComponents(const std::string& page) {
    std::vector<std::string> names;
    for (const auto& [name, classes] : Registry().pages)
        if (name == page)
            for (const TClassInfo* cls : classes) names.push_back(cls->className);
    return names;
}

const TClassInfo* FindClass(const std::string& className) {
    for (const TClassInfo* cls : Registry().classes)
        if (cls->className == className) return cls;
    return nullptr;
}

const TClassInfo* ClassOf(const TComponent& component) { return FindClass(component.ClassName()); }

bool InheritsFrom(const TClassInfo* cls, const std::string& ancestor) {
    return Distance(cls, ancestor) >= 0;
}

void RegisterPropertyEditor(const std::string& propertyType, const TClassInfo* componentClass,
                            const std::string& propertyName, TPropertyEditorClass editorClass) {
    auto& editors = Registry().editors;
    const bool known = std::any_of(editors.begin(), editors.end(), [&](const auto& e) {
        return e.propertyType == propertyType && e.componentClass == componentClass &&
               e.propertyName == propertyName;
    });
    if (!known)
        editors.push_back({propertyType, componentClass, propertyName, std::move(editorClass)});
}

std::unique_ptr<TPropertyEditor> GetPropertyEditor(const std::vector<TComponent*>& components,
                                                   const std::string& propertyName) {
    if (components.empty() || !components.front()) return nullptr;
    const TClassInfo* cls = ClassOf(*components.front());
    if (!cls) return nullptr;
    const TPropertyInfo* property = cls->FindProperty(propertyName);
    if (!property) return nullptr;
    const TEditorRegistration* best = nullptr;
    std::tuple<bool, int> bestRank{false, 0};
    for (const auto& e : Registry().editors) {
        if (e.propertyType != property->typeName) continue;
        if (!e.propertyName.empty() && e.propertyName != propertyName) continue;
        const int distance = e.componentClass ? Distance(cls, e.componentClass->className) : 1000;
        if (distance < 0) continue;
        // A name of its own first, then the nearest class; the later registration on a tie.
        const std::tuple<bool, int> rank{!e.propertyName.empty(), -distance};
        if (!best || rank >= bestRank) {
            best = &e;
            bestRank = rank;
        }
    }
    if (!best) return nullptr;
    auto editor = best->editorClass();
    editor->Initialize(components, property);
    return editor;
}

void EditProperty(const std::vector<TComponent*>& components, const std::string& propertyName) {
    if (components.empty() || !components.front()) throw Exception("No component is selected");
    const TClassInfo* cls = ClassOf(*components.front());
    if (!cls || !cls->FindProperty(propertyName))
        throw Exception("Property " + propertyName + " does not exist");
    auto editor = GetPropertyEditor(components, propertyName);
    if (!editor) throw Exception("No editor is registered for " + propertyName);
    editor->Edit();
}

}  // namespace tav
