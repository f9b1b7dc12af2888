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

#include "tav/classes.h"
#include "tav/sysutils.h"

namespace tav {

// A form file that cannot be read: the message names the line (1 for the first).
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
    // A string property is written even at its default unless this is set (one added after
    // files were written without it, which they must keep reading as they did).
    bool omitDefault = false;
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

// The classes a form file may create, by name, with their published properties.
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

// The most a form file may hold: a form of thousands of components is a few megabytes.
inline constexpr std::int64_t kMaxFormFileBytes = std::int64_t{64} << 20;

// File helpers: raise EReadError (line 0) when the file cannot be read or written. ReadTextFile
// reads a regular file of at most kMaxFormFileBytes and refuses anything else at once, without
// reading it: a FIFO (whose open would wait for a writer), a device such as /dev/zero (which
// never ends), a folder.
std::string ReadTextFile(const std::string& path);
// Writes the file whole or not at all (WriteFileWhole).
void WriteTextFile(const std::string& path, const std::string& text);

// A file opened for reading, closed with the object. It is opened with O_NONBLOCK, so that
// opening a FIFO never waits for a writer, and its kind and size are those of the open file (a
// name may be pointed elsewhere between a look and the open).
class TInputFile {
  public:
    explicit TInputFile(const std::string& path);
    ~TInputFile();
    TInputFile(const TInputFile&) = delete;
    TInputFile& operator=(const TInputFile&) = delete;

    // Why the file could not be opened: errno, and the system's text for it ("" when open).
    int ErrorNumber() const { return error_; }
    std::string Error() const;
    int Descriptor() const { return fd_; }
    bool IsRegular() const;
    bool IsFolder() const;
    bool IsPipe() const;  // a FIFO, or a pipe given as /dev/fd/N
    std::int64_t Size() const;
    // Appends what is left of a regular file to `text` until its end, or until `text` is longer
    // than `limit` (so that a file grown since it was opened is still bounded). Returns the
    // system's reason when a read fails, "" otherwise.
    std::string ReadRest(std::string& text, std::int64_t limit) const;

  private:
    int fd_ = -1;
    int error_ = 0;
    std::int64_t size_ = 0;
    unsigned mode_ = 0;
};

}  // namespace tav
