// Form files: the text in which the published properties of components persist.
//
//   object DataModule1: TDataModule
//     object SalesTable: TTAVTable
//       DatabaseName = 'sales.db'
//       ControlVar01.Strings = (
//         'Active'
//         'Log')
//       ShowWarnings = True
//     end
//   end
//
// Strings are quoted with '...' (a quote inside is doubled; control characters are written as
// #13 and joined to their neighbours), booleans are True or False, enumerations one of their
// identifiers, integers decimal, string lists are Name.Strings = ( ... ). Each component class has
// one table of its published properties, in declared order; the writer streams exactly those, the
// reader accepts exactly those.
//
// Reading is all or nothing: the whole file is parsed and checked against the class tables
// before anything is built; any error raises EReadError naming the line, and no component is
// created or changed. A file may start with a UTF-8 byte-order mark, and its lines may end in
// LF, CR LF or CR alone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "host/classes.h"
#include "host/sysutils.h"

namespace tav {

class EReadError : public Exception {
  public:
    EReadError(int line, const std::string& message);
    int Line() const { return line_; }

  private:
    int line_;
};

enum class TPropertyKind { String, Boolean, Strings, Enumeration, Integer };

using TPropertyValue = std::variant<std::string, bool, TStringList, std::int64_t>;

// One published property: its name, type, and how to read and write it on a component.
struct TPropertyInfo {
    std::string name;
    TPropertyKind kind;
    // The property's type as design-time editors are registered for it ("TIndepVar", "string").
    std::string typeName;
    std::function<TPropertyValue(const TComponent&)> read;
    std::function<void(TComponent&, const TPropertyValue&)> write;
    // Applied after every other property of the component (a dataset's Active opens it only once
    // it knows its database, table and variables).
    bool deferred = false;
    // What a value must satisfy beyond its kind: the reason it is not a value of the property, or
    // "" when it is one. The reader applies it to every value it parses, so that a malformed value
    // is reported at its line before anything is built; the writer refuses a component holding
    // a value the reader would not take back.
    std::function<std::string(const TPropertyValue&)> check = {};
    // An enumeration's identifiers (its value is one of them, as a string), and its default (an
    // integer's as decimal text): a property at its default is not written, and a file without it
    // reads as the default.
    std::vector<std::string> identifiers = {};
    std::string defaultValue = {};
    // An integer's range.
    std::int64_t minValue = 0;
    std::int64_t maxValue = 0;
};

// A component class that form files can hold.
struct TClassInfo {
    std::string className;
    // The class it derives from ("TTable" for "TTAVTable"); design-time lookups follow it.
    std::string parentClass;
    std::function<std::unique_ptr<TComponent>(TComponent* owner)> create;
    std::vector<TPropertyInfo> properties;  // in declared (and streaming) order

    const TPropertyInfo* FindProperty(const std::string& name) const;
};

class TClassRegistry {
  public:
    void Register(TClassInfo info);
    const TClassInfo* Find(const std::string& className) const;
    // The class of a component: the registered class of the name it reports (ClassName).
    const TClassInfo* ClassOf(const TComponent& component) const;
    const std::vector<TClassInfo>& Classes() const { return classes_; }

  private:
    std::vector<TClassInfo> classes_;
};

// The components of a form file, owned by a root component of the root's class name.
struct TFormContents {
    std::string rootName;
    std::string rootClass;
    std::unique_ptr<TComponent> root;  // owns the components
    std::vector<TComponent*> components;
};

// Text of a form file holding `components` under a root object. Raises Exception, and writes
// nothing, when a component's class is not registered or one of its values fails its property's
// check (a file that could not be read back).
std::string WriteForm(const TClassRegistry& registry, const std::string& rootName,
                      const std::string& rootClass,
                      const std::vector<const TComponent*>& components);

// Builds the components a form file describes. `prepare` runs on each new component before its
// properties are set (for example to give datasets the form file's folder).
TFormContents ReadForm(const TClassRegistry& registry, const std::string& text,
                       const std::function<void(TComponent&)>& prepare = {});

// File helpers: raise EReadError (line 0) when the file cannot be read or written.
std::string ReadTextFile(const std::string& path);
void WriteTextFile(const std::string& path, const std::string& text);

}  // namespace tav
