// The CSV reader and the import of a CSV file into an in-memory SQLite database.
#include "host/csvtable.h"

#include <sqlite3.h>

#include <QFileInfo>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <memory>

#include "host/db.h"
#include "host/dbconnection.h"

namespace tav {

ECsvError::ECsvError(const std::string& source, int64_t line, const std::string& message)
    : Exception(line > 0 ? source + ", line " + IntToStr(line) + ": " + message
                         : source + ": " + message),
      line_(line) {}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What a cell's text is as a number (the blanks around it already taken off).
struct TNumberText {
    bool number = false;
    bool whole = false;  // digits only, after an optional sign
    char mark = 0;       // the decimal mark it holds, 0 for none
};

// [+-] digits [mark digits] [e [+-] digits], or [+-] mark digits [...]; the mark '.' or ','.
TNumberText ScanNumber(std::string_view s) {
    TNumberText t;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
    bool whole = true;
    if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
        t.mark = s[i++];
        whole = false;
        while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return t;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        whole = false;
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exponent = 0;
        while (i < s.size() && IsDigit(s[i])) ++i, ++exponent;
        if (exponent == 0) return t;
    }
    if (i != s.size()) return t;
    t.number = true;
    t.whole = whole;
    return t;
}

bool ParseInteger(std::string_view s, int64_t& value) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size();
}

bool ParseReal(std::string_view s, char mark, double& value) {
    std::string text(s.front() == '+' ? s.substr(1) : s);
    if (mark == ',')
        for (char& c : text)
            if (c == ',') c = '.';
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// What the cells of one column have shown so far.
struct TColumnScan {
    bool present = false;
    bool integer = true;
    bool number = true;
    bool point = false;  // some cell has the decimal mark '.'
    bool comma = false;  // some cell has the decimal mark ','

    void Add(std::string_view cell, char separator) {
        present = true;
        if (!number) return;
        const TNumberText t = ScanNumber(cell);
        if (t.whole) {
            int64_t value;
            if (ParseInteger(cell, value)) return;
        }
        integer = false;
        // A comma is a decimal mark only where it cannot be the separator; one column writes
        // its numbers one way.
        const bool ok = t.number && !(t.mark == ',' && separator == ',') &&
                        !(t.mark == ',' && point) && !(t.mark == '.' && comma);
        double value;
        if (!ok || !ParseReal(cell, t.mark, value)) {
            number = false;
            return;
        }
        if (t.mark == ',') comma = true;
        if (t.mark == '.') point = true;
    }
};

// One field of a record: its text and whether it was in quotes.
struct TRawField {
    std::string text;
    bool quoted = false;
};

// Walks the records of a CSV text, counting physical lines.
class TRecordReader {
  public:
    TRecordReader(std::string_view text, const std::string& source)
        : text_(text), source_(source) {}

    // Reads the next non-empty record into `fields` (reusing their storage); false at the end.
    bool Next(std::vector<TRawField>& fields, std::size_t& count, int64_t& line) {
        while (pos_ < text_.size() && IsLineEnd(text_[pos_])) EndLine();
        if (pos_ >= text_.size()) return false;
        line = line_;
        count = 0;
        for (;;) {
            if (count == fields.size()) fields.emplace_back();
            TRawField& f = fields[count++];
            f.text.clear();
            // Blanks before an opening quote are written by some programs after each separator.
            std::size_t start = pos_;
            while (start < text_.size() && IsBlank(text_[start])) ++start;
            f.quoted = start < text_.size() && text_[start] == '"';
            if (f.quoted) {
                pos_ = start;
                ReadQuoted(f.text, count);
            } else {
                ReadPlain(f.text);
            }
            if (pos_ < text_.size() && text_[pos_] == separator_) {
                ++pos_;
                continue;
            }
            if (pos_ < text_.size()) EndLine();
            return true;
        }
    }

    void SetSeparator(char separator) { separator_ = separator; }

    // The separator of the header row starting at the current position: ';' when the row,
    // read as the records are read, gives more fields with it than with ','. A row that cannot
    // be read with one of them gives no fields with it (and its error when it is read).
    char HeaderSeparator() const {
        auto fields = [this](char separator) -> std::size_t {
            TRecordReader probe(*this);
            probe.separator_ = separator;
            std::vector<TRawField> row;
            std::size_t count = 0;
            int64_t line = 0;
            try {
                return probe.Next(row, count, line) ? count : 0;
            } catch (const ECsvError&) {
                return 0;
            }
        };
        return fields(';') > fields(',') ? ';' : ',';
    }

  private:
    static bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

    // Past one line end (LF, CR LF or CR).
    void EndLine() {
        if (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ++pos_;
        ++pos_;
        ++line_;
    }

    void ReadPlain(std::string& out) {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] != separator_ && !IsLineEnd(text_[pos_])) ++pos_;
        out.assign(text_.substr(start, pos_ - start));
    }

    void ReadQuoted(std::string& out, std::size_t field) {
        const int64_t opened = line_;
        ++pos_;
        for (;;) {
            const std::size_t quote = text_.find('"', pos_);
            if (quote == std::string_view::npos)
                throw ECsvError(
                    source_, opened,
                    "the quotes opened in field " + IntToStr(field) + " are never closed");
            CountLines(pos_, quote);
            out.append(text_.substr(pos_, quote - pos_));
            pos_ = quote + 1;
            if (pos_ < text_.size() && text_[pos_] == '"') {
                out += '"';
                ++pos_;
                continue;
            }
            break;
        }
        while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
        if (pos_ < text_.size() && text_[pos_] != separator_ && !IsLineEnd(text_[pos_]))
            throw ECsvError(source_, line_,
                            "field " + IntToStr(field) +
                                " goes on after its closing quote (a quote inside quotes is "
                                "written twice: \"\")");
    }

    void CountLines(std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            if (text_[i] == '\n' || (text_[i] == '\r' && (i + 1 >= to || text_[i + 1] != '\n')))
                ++line_;
    }

    std::string_view text_;
    const std::string& source_;
    std::size_t pos_ = 0;
    int64_t line_ = 1;
    char separator_ = ',';
};

bool SameName(const std::string& a, const std::string& b) {
    return sqlite3_stricmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

TCsvTable TCsvTable::Parse(std::string_view text, const std::string& source) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    TCsvTable table;
    TRecordReader reader(text, source);
    table.separator_ = reader.HeaderSeparator();
    reader.SetSeparator(table.separator_);

    std::vector<TRawField> fields;
    std::size_t count = 0;
    int64_t line = 0;
    if (!reader.Next(fields, count, line)) throw ECsvError(source, 0, "the file is empty");
    for (std::size_t k = 0; k < count; ++k) {
        const std::string name(Trimmed(fields[k].text));
        // Programs that write row names often leave their column's name empty.
        if (name.empty())
            throw ECsvError(source, line,
                            "column " + IntToStr(k + 1) + " has no name" +
                                (k == 0 ? " (row names? name the column or leave it out)" : ""));
        for (std::size_t j = 0; j < k; ++j)
            if (SameName(table.names_[j], name))
                throw ECsvError(source, line,
                                "the column name '" + name + "' is given twice (columns " +
                                    IntToStr(j + 1) + " and " + IntToStr(k + 1) + ")");
        table.names_.push_back(name);
    }

    const std::size_t columns = count;
    std::vector<TColumnScan> scans(columns);
    while (reader.Next(fields, count, line)) {
        if (count != columns)
            throw ECsvError(source, line,
                            IntToStr(count) + (count == 1 ? " field" : " fields") +
                                " where the header has " + IntToStr(columns));
        for (std::size_t k = 0; k < columns; ++k) {
            const TRawField& f = fields[k];
            const std::string_view value = Trimmed(f.text);
            const bool missing = value.empty() || (!f.quoted && value == "NA");
            table.missing_.push_back(missing);
            if (!missing) {
                table.text_ += f.text;
                scans[k].Add(value, table.separator_);
            }
            table.ends_.push_back(table.text_.size());
        }
        ++table.rows_;
    }
    for (const TColumnScan& s : scans) {
        table.types_.push_back(!s.number                ? TCsvType::Text
                               : s.integer && s.present ? TCsvType::Integer
                                                        : TCsvType::Real);
        table.marks_.push_back(s.comma ? ',' : '.');
    }
    return table;
}

std::optional<std::string_view> TCsvTable::Cell(int64_t row, int column) const {
    if (row < 0 || row >= rows_ || column < 0 || column >= ColumnCount())
        throw std::out_of_range("CSV cell " + IntToStr(row) + ", " + IntToStr(column));
    const std::size_t i = static_cast<std::size_t>(row) * names_.size() + column;
    if (missing_[i]) return std::nullopt;
    const std::size_t start = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(start, ends_[i] - start);
}

int64_t TCsvTable::Integer(int64_t row, int column) const {
    int64_t value = 0;
    const auto cell = Cell(row, column);
    if (!cell || !ParseInteger(Trimmed(*cell), value))
        throw EConvertError("CSV cell " + IntToStr(row) + ", " + IntToStr(column) +
                            " is not a whole number");
    return value;
}

double TCsvTable::Real(int64_t row, int column) const {
    double value = 0;
    const auto cell = Cell(row, column);
    if (!cell || !ParseReal(Trimmed(*cell), marks_.at(column), value))
        throw EConvertError("CSV cell " + IntToStr(row) + ", " + IntToStr(column) +
                            " is not a number");
    return value;
}

std::string CsvTableName(const std::string& path) {
    const QFileInfo info(QString::fromStdString(path));
    const QString base = info.completeBaseName();
    return (base.isEmpty() ? info.fileName() : base).toStdString();
}

namespace {

// The import's own connection: a writable in-memory database that nothing else sees.
class TImportDb {
  public:
    explicit TImportDb(const std::string& source) : source_(source) {
        if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK)
            Fail("cannot make an in-memory database");
    }
    ~TImportDb() {
        sqlite3_finalize(stmt_);
        sqlite3_close(db_);
    }
    TImportDb(const TImportDb&) = delete;
    TImportDb& operator=(const TImportDb&) = delete;

    void Exec(const std::string& sql, const std::string& what) {
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(what);
    }
    sqlite3_stmt* Prepare(const std::string& sql, const std::string& what) {
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) Fail(what);
        return stmt_;
    }
    [[noreturn]] void Fail(const std::string& what) {
        throw ECsvError(source_, 0, what + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory"));
    }
    TSqliteImage Image() {
        sqlite3_int64 size = 0;
        unsigned char* bytes = sqlite3_serialize(db_, "main", &size, 0);
        if (!bytes) Fail("cannot keep the table in memory");
        return {
            std::shared_ptr<const unsigned char>(
                bytes, [](const unsigned char* p) { sqlite3_free(const_cast<unsigned char*>(p)); }),
            size};
    }

  private:
    const std::string& source_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
};

std::string ReadCsvFile(const std::string& path) {
    const QFileInfo info(QString::fromStdString(path));
    if (!info.exists()) throw ECsvError(path, 0, "no such file");
    if (info.isDir()) throw ECsvError(path, 0, "is a folder, not a CSV file");
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    std::string text;
    if (in) {
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        in.seekg(0, std::ios::beg);
        if (size > 0) {
            text.resize(static_cast<std::size_t>(size));
            in.read(text.data(), size);
        }
    }
    if (!in) throw ECsvError(path, 0, std::string("cannot be read: ") + std::strerror(errno));
    return text;
}

const char* SqlType(TCsvType type) {
    switch (type) {
        case TCsvType::Integer:
            return "INTEGER";
        case TCsvType::Real:
            return "REAL";
        default:
            return "TEXT";
    }
}

// The file's text, its table and the database are held one after another, not all at once: a
// file of a million rows would otherwise take several times its size.
void FillTable(TImportDb& db, const TCsvTable& table, TCsvImport& result) {
    result.rows = table.RowCount();
    result.columns = table.ColumnCount();
    result.separator = table.Separator();

    std::string create = "CREATE TABLE " + QuoteIdentifier(result.table) + " (";
    std::string insert = "INSERT INTO " + QuoteIdentifier(result.table) + " VALUES (";
    for (int c = 0; c < table.ColumnCount(); ++c) {
        create += (c ? ", " : "") + QuoteIdentifier(table.ColumnName(c)) + " " +
                  SqlType(table.ColumnType(c));
        insert += c ? ", ?" : "?";
        if (table.ColumnType(c) == TCsvType::Text)
            result.textColumns.push_back(table.ColumnName(c));
    }
    db.Exec(create + ")", "cannot make the table '" + result.table + "'");
    db.Exec("BEGIN", "cannot fill the table");
    sqlite3_stmt* stmt = db.Prepare(insert + ")", "cannot fill the table");
    for (int64_t r = 0; r < table.RowCount(); ++r) {
        for (int c = 0; c < table.ColumnCount(); ++c) {
            const auto cell = table.Cell(r, c);
            if (!cell)
                sqlite3_bind_null(stmt, c + 1);
            else if (table.ColumnType(c) == TCsvType::Integer)
                sqlite3_bind_int64(stmt, c + 1, table.Integer(r, c));
            else if (table.ColumnType(c) == TCsvType::Real)
                sqlite3_bind_double(stmt, c + 1, table.Real(r, c));
            else
                sqlite3_bind_text64(stmt, c + 1, cell->data(), cell->size(), SQLITE_STATIC,
                                    SQLITE_UTF8);
        }
        if (sqlite3_step(stmt) != SQLITE_DONE) db.Fail("cannot fill the table");
        sqlite3_reset(stmt);
    }
    db.Exec("COMMIT", "cannot fill the table");
}

}  // namespace

TCsvImport ImportCsvFile(const std::string& path, const std::string& databaseName) {
    TImportDb db(path);
    TCsvImport result;
    result.table = CsvTableName(path);
    {
        const TCsvTable table = TCsvTable::Parse(ReadCsvFile(path), path);
        FillTable(db, table, result);
    }
    RegisterSqliteImage(databaseName, db.Image());
    return result;
}

std::string CsvImportSummary(const std::string& source, const TCsvImport& import) {
    const auto count = [](int64_t n, const char* what) {
        return IntToStr(n) + " " + what + (n == 1 ? "" : "s");
    };
    std::string notes;
    if (import.separator != ',') notes = std::string("separator '") + import.separator + "'";
    if (!import.textColumns.empty()) {
        constexpr std::size_t kNamed = 5;
        std::string names;
        for (std::size_t k = 0; k < import.textColumns.size() && k < kNamed; ++k)
            names += (k ? ", " : "") + import.textColumns[k];
        if (import.textColumns.size() > kNamed)
            names += " and " + IntToStr(import.textColumns.size() - kNamed) + " more";
        notes += (notes.empty() ? "" : "; ") + names + " as text";
    }
    return "read " + count(import.rows, "row") + " of " + count(import.columns, "column") +
           " from " + source + (notes.empty() ? "" : " (" + notes + ")");
}

}  // namespace tav
