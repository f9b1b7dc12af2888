// The CSV reader that the import and the record stream share.
#include "host/data/csvreader.h"

#include <poll.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <limits>
#include <unordered_map>

namespace tav::csv {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What a cell's text is as a number (the blanks around it already taken off).
struct TNumberText {
    bool number = false;
    bool whole = false;  // digits only, after an optional sign
    char mark = 0;       // the decimal mark it holds, 0 for none
    std::size_t digits = 0;
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
    t.digits = digits;
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

// A word for a value that is not finite ("Inf", "-Infinity", "NaN", in any case), read by the
// rule a load reads a text field with (StrToFloat), so that the file and the field agree.
[[gnu::noinline]] bool ReadNonFiniteWord(std::string_view s, double& value) {
    try {
        value = StrToFloat(std::string(s));
    } catch (const EConvertError&) {
        return false;
    }
    return !std::isfinite(value);
}

inline bool NonFiniteWord(std::string_view s, double& value) {
    const std::size_t i = !s.empty() && (s[0] == '+' || s[0] == '-') ? 1 : 0;
    if (i >= s.size() || !((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z')))
        return false;
    return ReadNonFiniteWord(s, value);
}

}  // namespace

bool ParseInteger(std::string_view s, int64_t& value) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size();
}

// A numeral as ScanNumber finds it, with the decimal mark `mark`, or a word NonFiniteWord reads.
// A numeral with a decimal point is read where it stands: every record's cells pass here.
bool ParseReal(std::string_view s, char mark, double& value) {
    if (NonFiniteWord(s, value)) return true;
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    std::string copy;
    if (mark == ',') {
        copy.assign(s);
        for (char& c : copy)
            if (c == ',') c = '.';
        s = copy;
    }
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (end != s.data() + s.size()) return false;
    if (ec == std::errc()) return true;
    if (ec != std::errc::result_out_of_range) return false;
    // Beyond the double range ("1e999": an infinity) or below it (a zero), as a field reads it.
    value = StrToFloat(std::string(s));
    return true;
}

void TColumnScan::Add(std::string_view cell, char separator, bool quoted) {
    present = true;
    unquoted = unquoted || !quoted;
    if (!number) return;
    const TNumberText t = ScanNumber(cell);
    if (t.whole) {
        // Up to 18 digits always fit 64 bits.
        int64_t value;
        if (t.digits <= 18 || ParseInteger(cell, value)) return;
    }
    integer = false;
    double value;
    // An infinity or a NaN keeps the column a number: the load skips it and says why.
    if (!t.number && NonFiniteWord(cell, value)) return;
    // A comma is a decimal mark only where it cannot be the separator; one column writes
    // its numbers one way. A numeral that ScanNumber accepts ParseReal always reads (out of
    // the double range too), so the scan leaves the conversion to the records' reading.
    const bool ok = t.number && !(t.mark == ',' && separator == ',') && !(t.mark == ',' && point) &&
                    !(t.mark == '.' && comma);
    if (!ok) {
        number = false;
        return;
    }
    if (t.mark == ',') comma = true;
    if (t.mark == '.') point = true;
}

namespace {

bool SettlesAsText(const TColumnScan& s, std::size_t column, bool rowNames) {
    return (rowNames && column == 0) || (s.present && !s.unquoted);
}

}  // namespace

void SettleTypes(std::vector<TColumnScan>& scans, bool rowNames) {
    for (std::size_t k = 0; k < scans.size(); ++k)
        if (SettlesAsText(scans[k], k, rowNames)) scans[k].number = false;
}

TCsvType SettledType(const TColumnScan& s, std::size_t column, bool rowNames) {
    return SettlesAsText(s, column, rowNames) ? TCsvType::Text : TypeOf(s);
}

TCsvType TypeOf(const TColumnScan& s) {
    return !s.number ? TCsvType::Text : s.integer && s.present ? TCsvType::Integer : TCsvType::Real;
}

void TCsvText::More(std::size_t done) {
    base_ += static_cast<int64_t>(done);
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
    if (n < 0) throw ECsvError(*source_, 0, std::string("cannot be read: ") + std::strerror(errno));
    buffer_.resize(had + static_cast<std::size_t>(n));
    offset_ += n;
    last_ = n == 0;
    view_ = buffer_;
}

namespace {

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

}  // namespace

TCsvRecords::TCsvRecords(TCsvText& text, const std::string& source)
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

TCsvRecords::TCsvRecords(TCsvText& text, const std::string& source, const TCsvRecords& header)
    : text_(text),
      source_(source),
      reader_(text.View(), source),
      separator_(header.separator_),
      names_(header.names_),
      rowNames_(header.rowNames_) {
    reader_.SetText(text_.View(), text_.Last());
    reader_.SetSeparator(separator_);
}

namespace {

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

}  // namespace

TCsvInput::TCsvInput(const std::string& path, int timeoutSeconds) : path_(path), file_(path) {
    if (file_.ErrorNumber() == ENOENT) throw ECsvError(path, 0, "no such file");
    if (file_.ErrorNumber()) throw ECsvError(path, 0, "cannot be read: " + file_.Error());
    if (file_.IsFolder()) throw ECsvError(path, 0, "is a folder, not a CSV file");
    // A device (/dev/zero, a terminal) may never end; a pipe is read to its end within bounds.
    if (!file_.IsRegular() && !file_.IsPipe())
        throw ECsvError(path, 0, "is not a regular file or a pipe");
    if (!file_.IsRegular()) whole_ = ReadPipe(file_, path, timeoutSeconds);
}

std::unique_ptr<TCsvText> TCsvInput::Reading(int64_t offset) const {
    if (file_.IsRegular()) return std::make_unique<TCsvText>(file_, path_, offset);
    return std::make_unique<TCsvText>(
        std::string_view(whole_).substr(static_cast<std::size_t>(offset)), offset);
}

int64_t TCsvInput::Size() const {
    return file_.IsRegular() ? file_.Size() : static_cast<int64_t>(whole_.size());
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

TCsvShape ScanCsv(TCsvText& text, const std::string& source) {
    TCsvRecords records(text, source);
    TCsvShape shape{records.Separator(), records.Names(), records.RowNames(), {}, 0};
    shape.scans.resize(shape.names.size());
    while (records.Next()) shape.Add(records);
    SettleTypes(shape.scans, shape.rowNames);
    return shape;
}

bool TCsvShape::Add(const TCsvRecords& records) {
    bool changed = false;
    for (std::size_t k = 0; k < scans.size(); ++k) {
        const TRawField& f = records.Field(k);
        const std::string_view value = Trimmed(f.text);
        if (IsMissing(f, value)) continue;
        const TColumnScan before = scans[k];
        scans[k].Add(value, separator, f.quoted);
        changed = changed || !(scans[k] == before);
    }
    ++rows;
    return changed;
}

ECsvError ChangedError(const std::string& path, int64_t line) {
    return ECsvError(path, line, "the file changed while it was read");
}

void TCsvShape::CheckHeader(const TCsvRecords& records, const std::string& path) const {
    if (records.Separator() != separator || records.Names() != names)
        throw ChangedError(path, records.Line());
}

}  // namespace tav::csv
