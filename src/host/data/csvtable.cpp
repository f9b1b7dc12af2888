// The CSV reader and the import of a CSV file into an in-memory SQLite database.
#include "tav/csvtable.h"

#include <poll.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QFileInfo>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>
#include <utility>

#include "host/data/dbconnection.h"
#include "tav/db.h"
#include "tav/formfile.h"

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

// A word for a value that is not finite ("Inf", "-Infinity", "NaN", in any case), read by the
// rule a load reads a text field with (StrToFloat), so that the file and the field agree.
bool NonFiniteWord(std::string_view s, double& value) {
    const std::size_t i = !s.empty() && (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (i >= s.size() || !((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z')))
        return false;
    try {
        value = StrToFloat(std::string(s));
    } catch (const EConvertError&) {
        return false;
    }
    return !std::isfinite(value);
}

// A numeral as ScanNumber finds it, with the decimal mark `mark`, or a word NonFiniteWord reads.
bool ParseReal(std::string_view s, char mark, double& value) {
    if (NonFiniteWord(s, value)) return true;
    std::string text(s.front() == '+' ? s.substr(1) : s);
    if (mark == ',')
        for (char& c : text)
            if (c == ',') c = '.';
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size()) return false;
    if (ec == std::errc()) return true;
    if (ec != std::errc::result_out_of_range) return false;
    // Beyond the double range ("1e999": an infinity) or below it (a zero), as a field reads it.
    value = StrToFloat(text);
    return true;
}

// What the cells of one column have shown so far.
struct TColumnScan {
    bool present = false;
    bool integer = true;
    bool number = true;
    bool point = false;     // some cell has the decimal mark '.'
    bool comma = false;     // some cell has the decimal mark ','
    bool unquoted = false;  // some cell is not in quotes

    void Add(std::string_view cell, char separator, bool quoted) {
        present = true;
        unquoted = unquoted || !quoted;
        if (!number) return;
        const TNumberText t = ScanNumber(cell);
        if (t.whole) {
            int64_t value;
            if (ParseInteger(cell, value)) return;
        }
        integer = false;
        double value;
        // An infinity or a NaN keeps the column a number: the load skips it and says why.
        if (!t.number && NonFiniteWord(cell, value)) return;
        // A comma is a decimal mark only where it cannot be the separator; one column writes
        // its numbers one way.
        const bool ok = t.number && !(t.mark == ',' && separator == ',') &&
                        !(t.mark == ',' && point) && !(t.mark == '.' && comma);
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

// A missing value: an empty or blank cell, or NA without quotes (`value` is the cell's text
// without the blanks around it).
bool IsMissing(const TRawField& field, std::string_view value) {
    return value.empty() || (!field.quoted && value == "NA");
}

// The columns' types once every record is scanned. Row names are text. So is a column whose every
// cell is a quoted numeral: R writes factors and text that way and numbers never (ChickWeight's
// "1" .. "4" are levels, not amounts).
void SettleTypes(std::vector<TColumnScan>& scans, bool rowNames) {
    if (rowNames && !scans.empty()) scans[0].number = false;
    for (TColumnScan& s : scans)
        if (s.present && !s.unquoted) s.number = false;
}

TCsvType TypeOf(const TColumnScan& s) {
    return !s.number ? TCsvType::Text : s.integer && s.present ? TCsvType::Integer : TCsvType::Real;
}

// Thrown where a record runs past the piece of text at hand while more text may follow.
struct TNeedMore {};

// Walks the records of a CSV text, counting physical lines. The text may come in pieces: a
// record that a piece (not the last) does not hold whole is read again once the piece is given
// with the rest after it, so the records, their lines and their errors are those of the whole.
class TRecordReader {
  public:
    enum TStep { kRecord, kEnd, kMore };

    TRecordReader(std::string_view text, const std::string& source) : source_(source) {
        SetText(text, true);
    }

    // The text from Position() on, and whether it goes on to the end of the file.
    void SetText(std::string_view text, bool last) {
        text_ = text;
        last_ = last;
        pos_ = 0;
    }
    // Where the records not yet read start.
    std::size_t Position() const { return pos_; }

    // Reads the next non-empty record into `fields` (reusing their storage): kRecord, kEnd at
    // the end of the text, or kMore when the record goes on past a piece that is not the last.
    TStep Next(std::vector<TRawField>& fields, std::size_t& count, int64_t& line) {
        const std::size_t pos = pos_;
        const int64_t lines = line_;
        try {
            return Read(fields, count, line) ? kRecord : kEnd;
        } catch (const TNeedMore&) {
            pos_ = pos;
            line_ = lines;
            return kMore;
        }
    }

    void SetSeparator(char separator) { separator_ = separator; }

    // The separator of the header row starting at the current position: ';' when the row,
    // read as the records are read, gives more fields with it than with ','. A row that cannot
    // be read with one of them gives no fields with it (and its error when it is read). Nothing
    // when the row goes on past the piece at hand.
    std::optional<char> HeaderSeparator() const {
        std::size_t fields[2] = {0, 0};
        for (const char separator : {',', ';'}) {
            TRecordReader probe(*this);
            probe.separator_ = separator;
            std::vector<TRawField> row;
            std::size_t count = 0;
            int64_t line = 0;
            try {
                const TStep step = probe.Next(row, count, line);
                if (step == kMore) return std::nullopt;
                fields[separator == ';'] = step == kRecord ? count : 0;
            } catch (const ECsvError&) {
            }
        }
        return fields[1] > fields[0] ? ';' : ',';
    }

  private:
    static bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

    // Whether `p` is past the text: past a piece that is not the last, the record must wait.
    bool AtEnd(std::size_t p) const {
        if (p < text_.size()) return false;
        if (!last_) throw TNeedMore{};
        return true;
    }

    bool Read(std::vector<TRawField>& fields, std::size_t& count, int64_t& line) {
        while (!AtEnd(pos_) && IsLineEnd(text_[pos_])) EndLine();
        if (AtEnd(pos_)) return false;
        line = line_;
        count = 0;
        for (;;) {
            if (count == fields.size()) fields.emplace_back();
            TRawField& f = fields[count++];
            f.text.clear();
            // Blanks before an opening quote are written by some programs after each separator.
            std::size_t start = pos_;
            while (!AtEnd(start) && IsBlank(text_[start])) ++start;
            f.quoted = !AtEnd(start) && text_[start] == '"';
            if (f.quoted) {
                pos_ = start;
                ReadQuoted(f.text, count);
            } else {
                ReadPlain(f.text);
            }
            if (!AtEnd(pos_) && text_[pos_] == separator_) {
                ++pos_;
                continue;
            }
            if (!AtEnd(pos_)) EndLine();
            return true;
        }
    }

    // Past one line end (LF, CR LF or CR).
    void EndLine() {
        if (text_[pos_] == '\r' && !AtEnd(pos_ + 1) && text_[pos_ + 1] == '\n') ++pos_;
        ++pos_;
        ++line_;
    }

    void ReadPlain(std::string& out) {
        const std::size_t start = pos_;
        while (!AtEnd(pos_) && text_[pos_] != separator_ && !IsLineEnd(text_[pos_])) ++pos_;
        out.assign(text_.substr(start, pos_ - start));
    }

    void ReadQuoted(std::string& out, std::size_t field) {
        const int64_t opened = line_;
        ++pos_;
        for (;;) {
            const std::size_t quote = text_.find('"', pos_);
            if (quote == std::string_view::npos) {
                if (!last_) throw TNeedMore{};
                throw ECsvError(
                    source_, opened,
                    "the quotes opened in field " + IntToStr(field) + " are never closed");
            }
            CountLines(pos_, quote);
            out.append(text_.substr(pos_, quote - pos_));
            pos_ = quote + 1;
            if (!AtEnd(pos_) && text_[pos_] == '"') {
                out += '"';
                ++pos_;
                continue;
            }
            break;
        }
        while (!AtEnd(pos_) && IsBlank(text_[pos_])) ++pos_;
        if (!AtEnd(pos_) && text_[pos_] != separator_ && !IsLineEnd(text_[pos_]))
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
    bool last_ = true;
    const std::string& source_;
    std::size_t pos_ = 0;
    int64_t line_ = 1;
    char separator_ = ',';
};

// The text of a CSV file as the records ask for it: a text held whole, or a regular file read a
// block at a time (from its start, whatever else reads it), so that no more of a large file is
// held than the block and the record that crosses it.
class TCsvText {
  public:
    explicit TCsvText(std::string_view whole) : view_(whole) {}
    TCsvText(const TInputFile& file, const std::string& source)
        : last_(false), file_(&file), source_(&source) {
        More(0);
    }
    TCsvText(const TCsvText&) = delete;  // the view may point into the buffer
    TCsvText& operator=(const TCsvText&) = delete;

    std::string_view View() const { return view_; }
    bool Last() const { return last_; }

    // Drops the first `done` bytes of the view and reads on after the rest.
    void More(std::size_t done) {
        if (!file_) {
            view_.remove_prefix(done);
            return;
        }
        constexpr std::size_t kBlock = 1 << 20;
        buffer_.erase(0, done);
        const std::size_t had = buffer_.size();
        buffer_.resize(had + kBlock);
        ssize_t n;
        do n = ::pread(file_->Descriptor(), buffer_.data() + had, kBlock, offset_);
        while (n < 0 && errno == EINTR);
        if (n < 0)
            throw ECsvError(*source_, 0, std::string("cannot be read: ") + std::strerror(errno));
        buffer_.resize(had + static_cast<std::size_t>(n));
        offset_ += n;
        last_ = n == 0;
        view_ = buffer_;
    }

  private:
    std::string_view view_;
    bool last_ = true;
    const TInputFile* file_ = nullptr;
    const std::string* source_ = nullptr;
    std::string buffer_;
    off_t offset_ = 0;
};

// The most columns a table may have: SQLite's own limit (2000 unless it was built otherwise),
// asked of the library that will make the table.
int64_t MaxColumns() {
    static const int64_t limit = [] {
        int64_t n = std::numeric_limits<int64_t>::max();
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK)
            n = sqlite3_limit(db, SQLITE_LIMIT_COLUMN, -1);
        sqlite3_close(db);
        return n;
    }();
    return limit;
}

// A column's name as SQLite compares names (sqlite3_stricmp): ASCII letters without case.
std::string FoldedName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

// The records of a CSV text: the header, read and checked at construction, then every other
// record, each with as many fields as the header.
class TCsvRecords {
  public:
    TCsvRecords(TCsvText& text, const std::string& source)
        : text_(text), source_(source), reader_(text.View(), source) {
        reader_.SetText(text_.View(), text_.Last());
        // A UTF-8 byte-order mark is no part of the text.
        while (text_.View().size() < 3 && !text_.Last()) More();
        if (text_.View().substr(0, 3) == "\xEF\xBB\xBF") {
            text_.More(3);
            reader_.SetText(text_.View(), text_.Last());
        }
        std::optional<char> separator;
        while (!(separator = reader_.HeaderSeparator())) More();
        separator_ = *separator;
        reader_.SetSeparator(separator_);
        if (!Read()) throw ECsvError(source, 0, "the file is empty");
        // The count first: a header of a hundred thousand names is refused at once.
        if (static_cast<int64_t>(count_) > MaxColumns())
            throw ECsvError(source, line_,
                            IntToStr(count_) + " columns, more than the " + IntToStr(MaxColumns()) +
                                " a table may have");
        std::unordered_map<std::string, std::size_t> seen;
        for (std::size_t k = 0; k < count_; ++k) {
            const std::string name(Trimmed(fields_[k].text));
            // R's write.csv leaves the name of its first column, the row names, empty.
            if (name.empty() && k == 0) {
                rowNames_ = true;
                names_.emplace_back();
                continue;
            }
            if (name.empty())
                throw ECsvError(source, line_, "column " + IntToStr(k + 1) + " has no name");
            const auto [first, added] = seen.emplace(FoldedName(name), k);
            if (!added)
                throw ECsvError(source, line_,
                                "the column name '" + name + "' is given twice (columns " +
                                    IntToStr(first->second + 1) + " and " + IntToStr(k + 1) + ")");
            names_.push_back(name);
        }
        // The row names take a name no other column has: row.names, else row.names.1, ...
        for (int64_t suffix = 0; rowNames_ && names_[0].empty(); ++suffix) {
            const std::string name = suffix == 0 ? "row.names" : "row.names." + IntToStr(suffix);
            if (!seen.count(FoldedName(name))) names_[0] = name;
        }
    }

    char Separator() const { return separator_; }
    const std::vector<std::string>& Names() const { return names_; }
    // Whether the first column holds row names (its name made up): a text whatever it holds.
    bool RowNames() const { return rowNames_; }

    // Reads the next record: false at the end.
    bool Next() {
        if (!Read()) return false;
        if (count_ != names_.size())
            throw ECsvError(source_, line_,
                            IntToStr(count_) + (count_ == 1 ? " field" : " fields") +
                                " where the header has " + IntToStr(names_.size()));
        return true;
    }
    const TRawField& Field(std::size_t k) const { return fields_[k]; }
    int64_t Line() const { return line_; }

  private:
    bool Read() {
        for (;;) {
            const TRecordReader::TStep step = reader_.Next(fields_, count_, line_);
            if (step != TRecordReader::kMore) return step == TRecordReader::kRecord;
            More();
        }
    }
    void More() {
        text_.More(reader_.Position());
        reader_.SetText(text_.View(), text_.Last());
    }

    TCsvText& text_;
    const std::string& source_;
    TRecordReader reader_;
    char separator_ = ',';
    std::vector<std::string> names_;
    bool rowNames_ = false;
    std::vector<TRawField> fields_;
    std::size_t count_ = 0;
    int64_t line_ = 0;
};

}  // namespace

TCsvTable TCsvTable::Parse(std::string_view text, const std::string& source) {
    TCsvTable table;
    TCsvText whole(text);
    TCsvRecords records(whole, source);
    table.separator_ = records.Separator();
    table.names_ = records.Names();
    const std::size_t columns = table.names_.size();
    std::vector<TColumnScan> scans(columns);
    while (records.Next()) {
        for (std::size_t k = 0; k < columns; ++k) {
            const TRawField& f = records.Field(k);
            const std::string_view value = Trimmed(f.text);
            const bool missing = IsMissing(f, value);
            table.missing_.push_back(missing);
            if (!missing) {
                table.text_ += f.text;
                scans[k].Add(value, table.separator_, f.quoted);
            }
            table.ends_.push_back(table.text_.size());
        }
        ++table.rows_;
    }
    table.rowNames_ = records.RowNames();
    SettleTypes(scans, table.rowNames_);
    for (const TColumnScan& s : scans) {
        table.types_.push_back(TypeOf(s));
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

// The import's own database: in memory, writable, seen by nothing else. It is a resizable
// serialized image from the start, so that the finished table is handed on as the very bytes it
// was written into, never copied.
class TImportDb {
  public:
    explicit TImportDb(const std::string& source) : source_(source) {
        if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK)
            Fail("cannot make an in-memory database");
        if (sqlite3_deserialize(db_, "main", nullptr, 0, 0,
                                SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE) !=
            SQLITE_OK)
            Fail("cannot make an in-memory database");
        // Such an image stops at 1 GiB unless told otherwise; the heap's bound still holds.
        sqlite3_int64 unbounded = std::numeric_limits<sqlite3_int64>::max();
        sqlite3_file_control(db_, "main", SQLITE_FCNTL_SIZE_LIMIT, &unbounded);
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
    // The database's bytes; the connection, idle from now on, lives as long as they are read.
    TSqliteImage Image() {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        sqlite3_int64 size = 0;
        unsigned char* bytes = sqlite3_serialize(db_, "main", &size, SQLITE_SERIALIZE_NOCOPY);
        if (!bytes) Fail("cannot keep the table in memory");
        sqlite3_db_release_memory(db_);
        sqlite3* db = std::exchange(db_, nullptr);
        return {std::shared_ptr<const unsigned char>(
                    bytes, [db](const unsigned char*) { sqlite3_close(db); }),
                size};
    }

  private:
    const std::string& source_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
};

// The whole text of a pipe (tavreg --csv <(zcat sales.csv.gz)), waited for no longer than
// `timeoutSeconds` from the start (0: as long as the writer takes), and refused beyond
// kMaxCsvStreamBytes: a pipe may never end.
std::string ReadPipe(const TInputFile& file, const std::string& path, int timeoutSeconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    constexpr std::size_t kBlock = 1 << 16;
    std::string text;
    for (;;) {
        int wait = -1;
        if (timeoutSeconds > 0) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                throw ECsvError(path, 0,
                                "did not end within " + IntToStr(timeoutSeconds) + " seconds");
            wait = static_cast<int>(std::min<int64_t>(left, std::numeric_limits<int>::max()));
        }
        // A FIFO no writer has opened yet is not ready: poll waits for one.
        pollfd ready{file.Descriptor(), POLLIN, 0};
        const int events = ::poll(&ready, 1, wait);
        if (events < 0 && errno != EINTR)
            throw ECsvError(path, 0, std::string("cannot be read: ") + std::strerror(errno));
        if (events <= 0) continue;
        const std::size_t had = text.size();
        text.resize(had + kBlock);
        const ssize_t n = ::read(file.Descriptor(), text.data() + had, kBlock);
        const int error = errno;
        text.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n == 0) return text;
        if (n < 0 && error != EAGAIN && error != EINTR)
            throw ECsvError(path, 0, std::string("cannot be read: ") + std::strerror(error));
        if (static_cast<int64_t>(text.size()) > kMaxCsvStreamBytes)
            throw ECsvError(path, 0,
                            "gave more than " + IntToStr(kMaxCsvStreamBytes >> 20) +
                                " MiB, the most read from a pipe; save it to a file first");
    }
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

// The columns' names, separator and types, from a first reading of the whole text.
struct TCsvShape {
    char separator = ',';
    std::vector<std::string> names;
    bool rowNames = false;  // the first column holds row names
    std::vector<TColumnScan> scans;
    int64_t rows = 0;
};

TCsvShape ScanCsv(TCsvText& text, const std::string& source) {
    TCsvRecords records(text, source);
    TCsvShape shape{records.Separator(), records.Names(), records.RowNames(), {}, 0};
    shape.scans.resize(shape.names.size());
    while (records.Next()) {
        for (std::size_t k = 0; k < shape.names.size(); ++k) {
            const TRawField& f = records.Field(k);
            const std::string_view value = Trimmed(f.text);
            if (!IsMissing(f, value)) shape.scans[k].Add(value, shape.separator, f.quoted);
        }
        ++shape.rows;
    }
    SettleTypes(shape.scans, shape.rowNames);
    return shape;
}

// Fills the table from a second reading of the text, typed as the first reading found. A regular
// file is read twice rather than held whole; one that changed in between is refused.
void FillTable(TImportDb& db, TCsvText& text, const std::string& path, const TCsvShape& shape,
               TCsvImport& result) {
    const auto changed = [&](int64_t line) {
        return ECsvError(path, line, "the file changed while it was read");
    };
    const std::size_t columns = shape.names.size();
    std::vector<TCsvType> types;
    std::string create = "CREATE TABLE " + QuoteIdentifier(result.table) + " (";
    std::string insert = "INSERT INTO " + QuoteIdentifier(result.table) + " VALUES (";
    for (std::size_t c = 0; c < columns; ++c) {
        types.push_back(TypeOf(shape.scans[c]));
        create += (c ? ", " : "") + QuoteIdentifier(shape.names[c]) + " " + SqlType(types[c]);
        insert += c ? ", ?" : "?";
        if (types[c] == TCsvType::Text) result.textColumns.push_back(shape.names[c]);
    }
    db.Exec(create + ")", "cannot make the table '" + result.table + "'");
    db.Exec("BEGIN", "cannot fill the table");
    sqlite3_stmt* stmt = db.Prepare(insert + ")", "cannot fill the table");

    TCsvRecords records(text, path);
    if (records.Separator() != shape.separator || records.Names() != shape.names)
        throw changed(records.Line());
    int64_t rows = 0;
    while (records.Next()) {
        for (std::size_t c = 0; c < columns; ++c) {
            const TRawField& f = records.Field(c);
            const std::string_view value = Trimmed(f.text);
            const int k = static_cast<int>(c) + 1;
            int64_t whole = 0;
            double real = 0;
            int bound;
            if (IsMissing(f, value)) {
                bound = sqlite3_bind_null(stmt, k);
            } else if (types[c] == TCsvType::Integer) {
                if (!ParseInteger(value, whole)) throw changed(records.Line());
                bound = sqlite3_bind_int64(stmt, k, whole);
            } else if (types[c] == TCsvType::Real) {
                if (!ParseReal(value, shape.scans[c].comma ? ',' : '.', real))
                    throw changed(records.Line());
                // SQLite stores a NaN as NULL; kept as its text, the load reads it as a NaN.
                bound = std::isnan(real) ? sqlite3_bind_text64(stmt, k, value.data(), value.size(),
                                                               SQLITE_STATIC, SQLITE_UTF8)
                                         : sqlite3_bind_double(stmt, k, real);
            } else {
                // The field's text stays as it is until the row is stepped.
                bound = sqlite3_bind_text64(stmt, k, f.text.data(), f.text.size(), SQLITE_STATIC,
                                            SQLITE_UTF8);
            }
            if (bound != SQLITE_OK) db.Fail("cannot fill the table");
        }
        if (sqlite3_step(stmt) != SQLITE_DONE) db.Fail("cannot fill the table");
        sqlite3_reset(stmt);
        ++rows;
    }
    if (rows != shape.rows) throw changed(0);
    db.Exec("COMMIT", "cannot fill the table");
    result.rows = rows;
    result.columns = static_cast<int>(columns);
    result.separator = shape.separator;
    if (shape.rowNames) result.rowNames = shape.names[0];
}

}  // namespace

TCsvImport ImportCsvFile(const std::string& path, const std::string& databaseName,
                         int timeoutSeconds) {
    const TInputFile file(path);
    if (file.ErrorNumber() == ENOENT) throw ECsvError(path, 0, "no such file");
    if (file.ErrorNumber()) throw ECsvError(path, 0, "cannot be read: " + file.Error());
    if (file.IsFolder()) throw ECsvError(path, 0, "is a folder, not a CSV file");
    // A device (/dev/zero, a terminal) may never end; a pipe is read to its end within bounds.
    if (!file.IsRegular() && !file.IsPipe())
        throw ECsvError(path, 0, "is not a regular file or a pipe");
    TImportDb db(path);
    TCsvImport result;
    result.table = CsvTableName(path);
    if (file.IsRegular()) {
        TCsvText first(file, path), second(file, path);
        FillTable(db, second, path, ScanCsv(first, path), result);
    } else {
        const std::string whole = ReadPipe(file, path, timeoutSeconds);
        TCsvText first(whole), second(whole);
        FillTable(db, second, path, ScanCsv(first, path), result);
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
    if (!import.rowNames.empty())
        notes += (notes.empty() ? "" : "; ") + std::string("row names as ") + import.rowNames;
    std::vector<std::string> text = import.textColumns;
    if (!import.rowNames.empty() && !text.empty()) text.erase(text.begin());
    if (!text.empty()) {
        constexpr std::size_t kNamed = 5;
        std::string names;
        for (std::size_t k = 0; k < text.size() && k < kNamed; ++k)
            names += (k ? ", " : "") + text[k];
        if (text.size() > kNamed) names += " and " + IntToStr(text.size() - kNamed) + " more";
        notes += (notes.empty() ? "" : "; ") + names + " as text";
    }
    return "read " + count(import.rows, "row") + " of " + count(import.columns, "column") +
           " from " + source + (notes.empty() ? "" : " (" + notes + ")");
}

}  // namespace tav
