#include "tav/formfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "tav/outputfiles.h"

namespace tav {

EReadError::EReadError(int line, const std::string& message)
    : Exception(line > 0 ? "Line " + IntToStr(line) + ": " + message : message), line_(line) {}

const TPropertyInfo* TClassInfo::FindProperty(const std::string& name) const {
    for (const auto& p : properties)
        if (p.name == name) return &p;
    return nullptr;
}

void TClassRegistry::Register(TClassInfo info) { classes_.push_back(std::move(info)); }

const TClassInfo* TClassRegistry::Find(const std::string& className) const {
    for (const auto& c : classes_)
        if (c.className == className) return &c;
    return nullptr;
}

const TClassInfo* TClassRegistry::ClassOf(const TComponent& component) const {
    return Find(component.ClassName());
}

namespace {

const std::set<std::string> kRootClasses = {"TDataModule", "TForm"};

// ------------------------------------------------------------------ writing

std::string Quote(const std::string& s) {
    // Printable runs in quotes, control characters as #n, joined without separators.
    std::string out;
    bool inQuote = false;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7f) {
            if (inQuote) out += '\'';
            inQuote = false;
            out += '#' + std::to_string(c);
        } else {
            if (!inQuote) out += '\'';
            inQuote = true;
            if (c == '\'') out += '\'';
            out += static_cast<char>(c);
        }
    }
    if (inQuote) out += '\'';
    if (out.empty()) out = "''";
    return out;
}

// "Invalid property value (...)" when the property's check refuses `v`, "" otherwise.
std::string CheckValue(const TPropertyInfo& p, const TPropertyValue& v) {
    if (!p.check) return "";
    const std::string why = p.check(v);
    return why.empty() ? "" : "Invalid property value (" + why + ")";
}

void WriteComponent(std::ostringstream& out, const TClassInfo& info, const TComponent& c) {
    out << "  object " << c.Name() << ": " << info.className << "\n";
    for (const auto& p : info.properties) {
        const TPropertyValue v = p.read(c);
        if (const std::string error = CheckValue(p, v); !error.empty())
            throw Exception("Cannot write " + c.Name() + "." + p.name + ": " + error);
        switch (p.kind) {
            case TPropertyKind::String:
                if (!p.omitDefault || std::get<std::string>(v) != p.defaultValue)
                    out << "    " << p.name << " = " << Quote(std::get<std::string>(v)) << "\n";
                break;
            case TPropertyKind::Boolean:
                out << "    " << p.name << " = " << (std::get<bool>(v) ? "True" : "False") << "\n";
                break;
            case TPropertyKind::Enumeration: {
                const auto& id = std::get<std::string>(v);
                if (id != p.defaultValue) out << "    " << p.name << " = " << id << "\n";
                break;
            }
            case TPropertyKind::Integer: {
                const std::string number = std::to_string(std::get<std::int64_t>(v));
                if (number != p.defaultValue) out << "    " << p.name << " = " << number << "\n";
                break;
            }
            case TPropertyKind::Strings: {
                const auto& list = std::get<TStringList>(v);
                out << "    " << p.name << ".Strings = (";
                for (int i = 0; i < list.Count(); ++i) out << "\n      " << Quote(list[i]);
                out << ")\n";
                break;
            }
        }
    }
    out << "  end\n";
}

// ------------------------------------------------------------------ reading

enum class TTok { Ident, String, Number, Symbol, End };

struct Token {
    TTok kind;
    std::string text;
    int line;
};

class Lexer {
  public:
    explicit Lexer(const std::string& text) : s_(text) {
        // A UTF-8 byte-order mark is no part of the text.
        if (s_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
    }

    std::vector<Token> All() {
        std::vector<Token> tokens;
        for (;;) {
            Token t = NextToken();
            tokens.push_back(t);
            if (t.kind == TTok::End) return tokens;
        }
    }

  private:
    Token NextToken() {
        SkipBlanks();
        if (pos_ >= s_.size()) return {TTok::End, "", line_};
        const char c = s_[pos_];
        const int line = line_;
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            std::string id;
            while (pos_ < s_.size() &&
                   (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_'))
                id += s_[pos_++];
            return {TTok::Ident, id, line};
        }
        if (c == '\'' || c == '#') return {TTok::String, ReadString(), line};
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '-') {
            std::string num(1, s_[pos_++]);
            while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) ||
                                        s_[pos_] == '.' || s_[pos_] == '+' || s_[pos_] == '-'))
                num += s_[pos_++];
            return {TTok::Number, num, line};
        }
        if (std::string(":=().+").find(c) != std::string::npos) {
            ++pos_;
            return {TTok::Symbol, std::string(1, c), line};
        }
        throw EReadError(line, std::string("Invalid character '") + c + "'");
    }

    // LF, CR LF and a CR alone each end a line.
    bool AtLineEnd() const { return s_[pos_] == '\n' || s_[pos_] == '\r'; }
    void SkipLineEnd() {
        if (s_[pos_] == '\r' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '\n') ++pos_;
        ++pos_;
        ++line_;
    }

    void SkipBlanks() {
        while (pos_ < s_.size()) {
            if (AtLineEnd()) {
                SkipLineEnd();
            } else if (s_[pos_] == ' ' || s_[pos_] == '\t') {
                ++pos_;
            } else {
                break;
            }
        }
    }

    // A string is a run of quoted parts and #n characters with nothing between them.
    std::string ReadString() {
        std::string value;
        while (pos_ < s_.size()) {
            if (s_[pos_] == '\'') {
                ++pos_;
                for (;;) {
                    if (pos_ >= s_.size() || AtLineEnd())
                        throw EReadError(line_, "Unterminated string");
                    if (s_[pos_] == '\'') {
                        if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
                            value += '\'';
                            pos_ += 2;
                            continue;
                        }
                        ++pos_;
                        break;
                    }
                    value += s_[pos_++];
                }
            } else if (s_[pos_] == '#') {
                ++pos_;
                std::string digits;
                while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_])))
                    digits += s_[pos_++];
                if (digits.empty() || digits.size() > 3 || std::stoi(digits) > 255)
                    throw EReadError(line_, "Invalid character code in string");
                value += static_cast<char>(std::stoi(digits));
            } else {
                break;
            }
        }
        return value;
    }

    const std::string& s_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

struct ParsedProperty {
    const TPropertyInfo* info;
    TPropertyValue value;
    int line;
};

struct ParsedObject {
    std::string name;
    const TClassInfo* info;
    int line;
    std::vector<ParsedProperty> properties;
};

class Parser {
  public:
    Parser(const TClassRegistry& registry, std::vector<Token> tokens)
        : registry_(registry), t_(std::move(tokens)) {}

    void Parse(std::string& rootName, std::string& rootClass, std::vector<ParsedObject>& objects) {
        ExpectIdent("object");
        rootName = Ident("a component name");
        ExpectSymbol(":");
        const Token& cls = Peek();
        rootClass = Ident("a class name");
        if (!kRootClasses.count(rootClass))
            throw EReadError(cls.line, "Class " + rootClass + " not found");
        std::set<std::string> names;
        for (;;) {
            const Token& t = Peek();
            if (t.kind == TTok::Ident && t.text == "end") {
                ++i_;
                break;
            }
            if (t.kind == TTok::Ident && t.text == "object") {
                ParsedObject o = Object();
                if (!names.insert(o.name).second)
                    throw EReadError(o.line, "A component named " + o.name + " already exists");
                objects.push_back(std::move(o));
                continue;
            }
            if (t.kind == TTok::End) throw EReadError(t.line, "'end' expected");
            throw EReadError(t.line, "Properties of the root object are not supported");
        }
        if (Peek().kind != TTok::End)
            throw EReadError(Peek().line, "Text after the end of the root object");
    }

  private:
    ParsedObject Object() {
        ParsedObject o;
        o.line = Peek().line;
        ExpectIdent("object");
        o.name = Ident("a component name");
        ExpectSymbol(":");
        const Token& cls = Peek();
        const std::string className = Ident("a class name");
        o.info = registry_.Find(className);
        if (!o.info) throw EReadError(cls.line, "Class " + className + " not found");
        std::set<std::string> seen;
        for (;;) {
            const Token& t = Peek();
            if (t.kind == TTok::Ident && t.text == "end") {
                ++i_;
                return o;
            }
            if (t.kind == TTok::Ident && t.text == "object")
                throw EReadError(t.line, o.name + " cannot own components");
            if (t.kind != TTok::Ident) throw EReadError(t.line, "Property name or 'end' expected");
            ParsedProperty p = Property(o);
            if (!seen.insert(p.info->name).second)
                throw EReadError(p.line, "Property " + p.info->name + " given twice");
            o.properties.push_back(std::move(p));
        }
    }

    ParsedProperty Property(const ParsedObject& o) {
        const int line = Peek().line;
        std::string name = Ident("a property name");
        bool strings = false;
        if (Peek().kind == TTok::Symbol && Peek().text == ".") {
            ++i_;
            const std::string sub = Ident("a property name");
            if (sub != "Strings")
                throw EReadError(line, "Error reading " + o.name + "." + name + "." + sub +
                                           ": Property " + name + "." + sub + " does not exist");
            strings = true;
        }
        const TPropertyInfo* info = o.info->FindProperty(name);
        if (!info)
            throw EReadError(line, "Error reading " + o.name + "." + name + ": Property " + name +
                                       " does not exist");
        ExpectSymbol("=");
        const Token& v = Peek();
        const std::string where = "Error reading " + o.name + "." + name + ": ";
        ParsedProperty p{info, std::string(), line};
        switch (info->kind) {
            case TPropertyKind::String:
                if (strings || v.kind != TTok::String)
                    throw EReadError(v.line, where + "Invalid property value (a string expected)");
                p.value = StringValue();
                break;
            case TPropertyKind::Boolean:
                if (strings || v.kind != TTok::Ident || (v.text != "True" && v.text != "False"))
                    throw EReadError(v.line,
                                     where + "Invalid property value (True or False expected)");
                p.value = v.text == "True";
                ++i_;
                break;
            case TPropertyKind::Enumeration: {
                const auto& ids = info->identifiers;
                if (strings || v.kind != TTok::Ident ||
                    std::find(ids.begin(), ids.end(), v.text) == ids.end()) {
                    std::string expected;
                    for (std::size_t k = 0; k < ids.size(); ++k)
                        expected += (k == 0 ? "" : k + 1 == ids.size() ? " or " : ", ") + ids[k];
                    throw EReadError(v.line,
                                     where + "Invalid property value (" + expected + " expected)");
                }
                p.value = v.text;
                ++i_;
                break;
            }
            case TPropertyKind::Integer: {
                const std::string range =
                    std::to_string(info->minValue) + " to " + std::to_string(info->maxValue);
                std::int64_t number = 0;
                const char* first = v.text.data();
                const char* last = first + v.text.size();
                const auto [end, error] = std::from_chars(first, last, number);
                if (strings || v.kind != TTok::Number || error != std::errc() || end != last ||
                    number < info->minValue || number > info->maxValue)
                    throw EReadError(v.line, where + "Invalid property value (an integer from " +
                                                 range + " expected)");
                p.value = number;
                ++i_;
                break;
            }
            case TPropertyKind::Strings: {
                if (!strings)
                    throw EReadError(line, where + "Invalid property value (" + name +
                                               ".Strings = ( ... ) expected)");
                if (!(v.kind == TTok::Symbol && v.text == "("))
                    throw EReadError(v.line, where + "Invalid property value ('(' expected)");
                ++i_;
                TStringList list;
                while (Peek().kind == TTok::String) list.Add(StringValue());
                if (!(Peek().kind == TTok::Symbol && Peek().text == ")"))
                    throw EReadError(Peek().line, where + "')' expected");
                ++i_;
                p.value = list;
                break;
            }
        }
        if (const std::string error = CheckValue(*info, p.value); !error.empty())
            throw EReadError(line, where + error);
        return p;
    }

    // A string token, possibly continued with '+' on following lines.
    std::string StringValue() {
        std::string s = t_[i_++].text;
        while (Peek().kind == TTok::Symbol && Peek().text == "+") {
            ++i_;
            if (Peek().kind != TTok::String)
                throw EReadError(Peek().line, "String expected after '+'");
            s += t_[i_++].text;
        }
        return s;
    }

    const Token& Peek() const { return t_[i_]; }

    std::string Ident(const char* what) {
        const Token& t = Peek();
        if (t.kind != TTok::Ident) throw EReadError(t.line, std::string(what) + " expected");
        ++i_;
        return t.text;
    }
    void ExpectIdent(const char* word) {
        const Token& t = Peek();
        if (t.kind != TTok::Ident || t.text != word)
            throw EReadError(t.line, std::string("'") + word + "' expected");
        ++i_;
    }
    void ExpectSymbol(const char* symbol) {
        const Token& t = Peek();
        if (t.kind != TTok::Symbol || t.text != symbol)
            throw EReadError(t.line, std::string("'") + symbol + "' expected");
        ++i_;
    }

    const TClassRegistry& registry_;
    std::vector<Token> t_;
    std::size_t i_ = 0;
};

}  // namespace

std::string WriteForm(const TClassRegistry& registry, const std::string& rootName,
                      const std::string& rootClass,
                      const std::vector<const TComponent*>& components) {
    std::ostringstream out;
    out << "object " << rootName << ": " << rootClass << "\n";
    for (const TComponent* c : components) {
        const TClassInfo* info = registry.ClassOf(*c);
        if (!info) throw Exception("Component " + c->Name() + " has no class that can be written");
        WriteComponent(out, *info, *c);
    }
    out << "end\n";
    return out.str();
}

TFormContents ReadForm(const TClassRegistry& registry, const std::string& text,
                       const std::function<void(TComponent&)>& prepare) {
    TFormContents contents;
    std::vector<ParsedObject> objects;
    Parser(registry, Lexer(text).All()).Parse(contents.rootName, contents.rootClass, objects);

    // Everything is checked: now build. A failure while setting a property (a dataset that
    // cannot open, say) discards every component built so far.
    auto root = std::make_unique<TComponent>();
    root->SetName(contents.rootName);
    std::vector<TComponent*> built;
    for (const auto& o : objects) {
        TComponent* c = o.info->create(root.get()).release();  // owned by root from here on
        c->SetName(o.name);
        if (prepare) prepare(*c);
        built.push_back(c);
        for (int pass = 0; pass < 2; ++pass) {
            for (const auto& p : o.properties) {
                if (p.info->deferred != (pass == 1)) continue;
                try {
                    p.info->write(*c, p.value);
                } catch (const std::exception& e) {
                    throw EReadError(p.line, "Error reading " + o.name + "." + p.info->name + ": " +
                                                 ErrorMessage(e));
                }
            }
        }
    }
    contents.root = std::move(root);
    contents.components = std::move(built);
    return contents;
}

TInputFile::TInputFile(const std::string& path) {
    do fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (fd_ < 0 && errno == EINTR);
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        errno = error;
    }
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    size_ = static_cast<std::int64_t>(st.st_size);
    mode_ = st.st_mode;
}

TInputFile::~TInputFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::string TInputFile::Error() const { return error_ ? std::strerror(error_) : ""; }

bool TInputFile::IsRegular() const { return fd_ >= 0 && S_ISREG(mode_); }
bool TInputFile::IsFolder() const { return fd_ >= 0 && S_ISDIR(mode_); }
bool TInputFile::IsPipe() const { return fd_ >= 0 && S_ISFIFO(mode_); }
std::int64_t TInputFile::Size() const { return size_; }

std::string TInputFile::ReadRest(std::string& text, std::int64_t limit) const {
    constexpr std::size_t kBlock = 1 << 20;
    for (;;) {
        const std::size_t had = text.size();
        // The rest of the size the file had when opened comes in one read (one byte more finds
        // a file that grew); beyond it, blocks.
        const std::int64_t left = size_ - static_cast<std::int64_t>(had);
        const std::size_t want = left > 0 ? static_cast<std::size_t>(left) + 1 : kBlock;
        text.resize(had + want);
        const ssize_t n = ::read(fd_, text.data() + had, want);
        text.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::strerror(errno);
        if (n == 0 || static_cast<std::int64_t>(text.size()) > limit) return "";
    }
}

std::string ReadTextFile(const std::string& path) {
    const TInputFile file(path);
    if (file.ErrorNumber()) throw EReadError(0, "Cannot open file '" + path + "': " + file.Error());
    if (!file.IsRegular()) throw EReadError(0, "'" + path + "' is not a regular file");
    const std::string tooLarge = "'" + path + "' is larger than " +
                                 IntToStr(kMaxFormFileBytes >> 20) +
                                 " MiB, the most a form file may be";
    if (file.Size() > kMaxFormFileBytes) throw EReadError(0, tooLarge);
    std::string text;
    if (const std::string error = file.ReadRest(text, kMaxFormFileBytes); !error.empty())
        throw EReadError(0, "Cannot read file '" + path + "': " + error);
    if (static_cast<std::int64_t>(text.size()) > kMaxFormFileBytes) throw EReadError(0, tooLarge);
    return text;
}

void WriteTextFile(const std::string& path, const std::string& text) {
    WriteFileWhole(QString::fromStdString(path), QByteArray::fromStdString(text));
}

}  // namespace tav
