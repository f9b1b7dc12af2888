// The CSV reader that the import and the record stream share: a file opened for two readings,
// the records of each reading (a text held whole or a file read a block at a time), the columns'
// types that the first reading finds, and each cell's value as the second one takes it.
#pragma once

#include <sys/types.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tav/csvtable.h"
#include "tav/formfile.h"

namespace tav::csv {

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// A whole number, with an optional sign, that fits 64 bits.
bool ParseInteger(std::string_view s, int64_t& value);
// A numeral (optional sign, digits with the decimal mark `mark`, optional exponent) or a word for
// a value that is not finite ("Inf", "-Infinity", "NaN", in any case).
bool ParseReal(std::string_view s, char mark, double& value);

// What the cells of one column have shown so far.
struct TColumnScan {
    bool present = false;
    bool integer = true;
    bool number = true;
    bool point = false;     // some cell has the decimal mark '.'
    bool comma = false;     // some cell has the decimal mark ','
    bool unquoted = false;  // some cell is not in quotes

    // A present cell (without the blanks around it).
    void Add(std::string_view cell, char separator, bool quoted);
    // The decimal mark of a REAL column.
    char Mark() const { return comma ? ',' : '.'; }
    bool operator==(const TColumnScan&) const = default;
    // What `other` saw of the same column, as if its cells had been added here.
    void Merge(const TColumnScan& other) {
        present = present || other.present;
        integer = integer && other.integer;
        number = number && other.number;
        point = point || other.point;
        comma = comma || other.comma;
        unquoted = unquoted || other.unquoted;
    }
};

// One field of a record: its text and whether it was in quotes. The text holds until the next
// record is read: a field without quotes is seen where it stands in the text of the file.
struct TRawField {
    std::string_view text;
    bool quoted = false;
    std::string unquoted;  // a quoted field's text, without its quotes
};

// A missing value: an empty or blank cell, or NA without quotes (`value` is the cell's text
// without the blanks around it).
inline bool IsMissing(const TRawField& field, std::string_view value) {
    return value.empty() || (!field.quoted && value == "NA");
}

// The columns' types once every record is scanned. Row names are text. So is a column whose every
// cell is a quoted numeral: R writes factors and text that way and numbers never (ChickWeight's
// "1" .. "4" are levels, not amounts).
void SettleTypes(std::vector<TColumnScan>& scans, bool rowNames);

TCsvType TypeOf(const TColumnScan& s);
// The type the cells of `column` scanned so far give it, as SettleTypes would leave it.
TCsvType SettledType(const TColumnScan& s, std::size_t column, bool rowNames);

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
            // Blanks before an opening quote are written by some programs after each separator.
            std::size_t start = pos_;
            while (!AtEnd(start) && IsBlank(text_[start])) ++start;
            f.quoted = !AtEnd(start) && text_[start] == '"';
            if (f.quoted) {
                pos_ = start;
                f.unquoted.clear();
                ReadQuoted(f.unquoted, count);
            } else {
                f.text = ReadPlain();
            }
            if (!AtEnd(pos_) && text_[pos_] == separator_) {
                ++pos_;
                continue;
            }
            if (!AtEnd(pos_)) EndLine();
            // Only now: a field added to `fields` may have moved the others' texts.
            for (std::size_t k = 0; k < count; ++k)
                if (fields[k].quoted) fields[k].text = fields[k].unquoted;
            return true;
        }
    }

    // Past one line end (LF, CR LF or CR).
    void EndLine() {
        if (text_[pos_] == '\r' && !AtEnd(pos_ + 1) && text_[pos_ + 1] == '\n') ++pos_;
        ++pos_;
        ++line_;
    }

    std::string_view ReadPlain() {
        const std::size_t start = pos_, size = text_.size();
        const char* const text = text_.data();
        const char separator = separator_;
        std::size_t end = start;
        while (end < size && text[end] != separator && !IsLineEnd(text[end])) ++end;
        pos_ = end;
        if (end == size) AtEnd(end);  // a field cut off at the end of a piece waits for the rest
        return text_.substr(start, end - start);
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
    // `whole` is the text from `offset` on.
    explicit TCsvText(std::string_view whole, int64_t offset = 0) : view_(whole), base_(offset) {}
    // The file from `offset` on.
    TCsvText(const TInputFile& file, const std::string& source, int64_t offset = 0)
        : last_(false), file_(&file), source_(&source), base_(offset), offset_(offset) {
        More(0);
    }
    TCsvText(const TCsvText&) = delete;  // the view may point into the buffer
    TCsvText& operator=(const TCsvText&) = delete;

    std::string_view View() const { return view_; }
    bool Last() const { return last_; }
    // Where the view starts in the whole text.
    int64_t Offset() const { return base_; }

    // Drops the first `done` bytes of the view and reads on after the rest.
    void More(std::size_t done);

  private:
    std::string_view view_;
    bool last_ = true;
    const TInputFile* file_ = nullptr;
    const std::string* source_ = nullptr;
    std::string buffer_;
    int64_t base_ = 0;
    off_t offset_ = 0;  // of the file, past the buffer
};

// The records of a CSV text: the header, read and checked at construction, then every other
// record, each with as many fields as the header.
class TCsvRecords {
  public:
    // Reads the header and checks its names; raises ECsvError.
    TCsvRecords(TCsvText& text, const std::string& source);
    // The records of a text that starts where a record of `header`'s file starts, past its
    // header: a part of the file read on its own.
    TCsvRecords(TCsvText& text, const std::string& source, const TCsvRecords& header);

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
    // Where in the whole text the records not yet read start.
    int64_t End() const { return text_.Offset() + static_cast<int64_t>(reader_.Position()); }

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

// A CSV file opened to be read twice: a regular file is read a block at a time by each reading;
// a pipe (a FIFO, or a shell's <(zcat sales.csv.gz)) is read whole into memory first, waiting at
// most `timeoutSeconds` from the start for its end (0: no bound), and refused beyond
// kMaxCsvStreamBytes. Anything else (a folder, a device such as /dev/zero) is refused without
// reading it. Raises ECsvError naming the file as `path` gives it.
class TCsvInput {
  public:
    TCsvInput(const std::string& path, int timeoutSeconds);
    TCsvInput(const TCsvInput&) = delete;  // the readings point into it
    TCsvInput& operator=(const TCsvInput&) = delete;

    const std::string& Path() const { return path_; }
    // A reading of the text from `offset` (its start by default); the input outlives it.
    std::unique_ptr<TCsvText> Reading(int64_t offset = 0) const;
    // The text's size in bytes (a regular file's when it was opened).
    int64_t Size() const;

  private:
    std::string path_;
    TInputFile file_;
    std::string whole_;  // a pipe's text
};

// The declared type of a column of `type` in the import's table.
const char* SqlType(TCsvType type);

// The columns' names, separator and types, from a first reading of the whole text.
struct TCsvShape {
    char separator = ',';
    std::vector<std::string> names;
    bool rowNames = false;  // the first column holds row names
    std::vector<TColumnScan> scans;
    int64_t rows = 0;

    TCsvType Type(std::size_t column) const { return TypeOf(scans[column]); }
    // Scans the cells of the current record of `records` and counts it: whether a column's
    // scan changed.
    bool Add(const TCsvRecords& records);
    // The decimal mark of a REAL column.
    char Mark(std::size_t column) const { return scans[column].Mark(); }
    // Raises ECsvError unless a second reading starts with the header the first one found.
    void CheckHeader(const TCsvRecords& records, const std::string& path) const;
};

TCsvShape ScanCsv(TCsvText& text, const std::string& source);

// The error of a second reading that does not give what the first one gave.
ECsvError ChangedError(const std::string& path, int64_t line);

// A cell as the import's table holds it: missing (NULL), a whole number of an INTEGER column, a
// number of a REAL column, or a text (a TEXT column's cell as the file gives it, or a REAL
// column's NaN, which SQLite would store as NULL, without the blanks around it).
struct TCsvValue {
    enum TKind { kNull, kInteger, kReal, kText };
    TKind kind = kNull;
    int64_t whole = 0;
    double real = 0;
    std::string_view text;  // into the field
};

// The value of `field` in a column of `type` (and, for REAL, decimal mark `mark`); false when the
// cell is not of that type, which the first reading found it to be.
inline bool ReadValue(const TRawField& field, TCsvType type, char mark, TCsvValue& out) {
    const std::string_view value = Trimmed(field.text);
    if (IsMissing(field, value)) {
        out.kind = TCsvValue::kNull;
        return true;
    }
    switch (type) {
        case TCsvType::Integer:
            out.kind = TCsvValue::kInteger;
            return ParseInteger(value, out.whole);
        case TCsvType::Real:
            if (!ParseReal(value, mark, out.real)) return false;
            out.kind = std::isnan(out.real) ? TCsvValue::kText : TCsvValue::kReal;
            out.text = value;
            return true;
        default:
            out.kind = TCsvValue::kText;
            out.text = field.text;
            return true;
    }
}

}  // namespace tav::csv
