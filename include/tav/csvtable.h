// CSV files as tables: the reader (header row, separator, quoting, missing values, a type per
// column) and the import that puts a file's table into an in-memory SQLite database, which a
// dataset then reads under the file's name like a database file (tavreg --csv); and the stream
// of a file's records, read as that dataset reads them without making the table (a whole-table
// fit over millions of rows).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tav/fields.h"
#include "tav/sysutils.h"

namespace tav {

// A CSV file that cannot be read as a table: the message names the file and, where there is one,
// the line ("sales.csv, line 17: 5 fields where the header has 6").
class ECsvError : public Exception {
  public:
    ECsvError(const std::string& source, int64_t line, const std::string& message);
    // The physical line of the file (from 1); 0 when the error is about the file as a whole.
    int64_t Line() const { return line_; }

  private:
    int64_t line_;
};

// INTEGER when every present cell is a whole number, REAL when every one is a number, otherwise
// TEXT. A column without any present cell is REAL.
enum class TCsvType { Integer, Real, Text };

// A CSV file read whole: the first row names the columns, every other row has as many fields.
//   - The separator is ',' or ';', whichever splits the header row, read as the records are,
//     into more fields (',' on a tie).
//   - A field in double quotes may hold separators, line breaks and quotes (doubled: ""); blanks
//     around the quotes are dropped.
//   - A cell that is empty or blank, or NA without quotes, is missing (NULL); "NA" in quotes is
//     the text NA.
//   - Numbers are read from their text without the blanks around it: an optional sign, digits
//     with an optional decimal mark, an optional exponent; no thousands separators. With ','
//     separators the decimal mark is '.'; with ';' separators it may be ',' (1,5) or '.' (1.5),
//     but one column uses one of them: a column holding both is TEXT.
//   - "Inf", "-Infinity", "NaN" (any case) and numerals beyond the double range ("1e999") are
//     numbers that are not finite: the column stays a number, and a load skips those records.
//   - Lines end in LF, CR LF or CR; empty lines are passed over; a UTF-8 byte-order mark before
//     the header is dropped. Column names lose the blanks around them, and must be neither empty
//     nor repeated (compared as SQLite compares names, ignoring ASCII case), except the first:
//     empty, it is a column of row names as R's write.csv writes them, TEXT, named row.names
//     (row.names.1, row.names.2 ... when another column has that name); a header of more
//     columns than SQLite allows in a table (SQLITE_LIMIT_COLUMN) is refused before its names
//     are checked.
// The table keeps every cell (for tests and tools; ImportCsvFile does not build one).
class TCsvTable {
  public:
    // Reads `text`, the whole file; `source` names it in errors. Raises ECsvError.
    static TCsvTable Parse(std::string_view text, const std::string& source);

    char Separator() const { return separator_; }
    int ColumnCount() const { return static_cast<int>(names_.size()); }
    int64_t RowCount() const { return rows_; }
    const std::string& ColumnName(int column) const { return names_.at(column); }
    TCsvType ColumnType(int column) const { return types_.at(column); }
    // Whether the first column holds R's row names (its name in the file was empty).
    bool RowNames() const { return rowNames_; }
    // The decimal mark of a REAL column: ',' or '.'.
    char DecimalMark(int column) const { return marks_.at(column); }
    // The cell's text as the file gives it (without its quotes); nothing for a missing value.
    std::optional<std::string_view> Cell(int64_t row, int column) const;
    // The value of a present cell of an INTEGER or REAL column.
    int64_t Integer(int64_t row, int column) const;
    double Real(int64_t row, int column) const;

  private:
    char separator_ = ',';
    int64_t rows_ = 0;
    std::vector<std::string> names_;
    std::vector<TCsvType> types_;
    std::vector<char> marks_;
    std::string text_;               // every present cell's text, one after another
    std::vector<std::size_t> ends_;  // where each cell's text ends in text_, row by row
    std::vector<bool> missing_;      // per cell
    bool rowNames_ = false;
};

// The table a CSV file becomes: its file name without the last suffix ("sales.csv" -> "sales").
std::string CsvTableName(const std::string& path);

// What an import made: the table, its size, the separator found and the columns read as text.
struct TCsvImport {
    std::string table;
    int64_t rows = 0;
    int columns = 0;
    char separator = ',';
    std::vector<std::string> textColumns;  // the columns of type TEXT, in order
    std::string rowNames;                  // the column of row names, "" when there is none
};

// The most read from a pipe: its text is held whole while it is read twice.
inline constexpr int64_t kMaxCsvStreamBytes = int64_t{1} << 30;

// Reads the CSV file `path` into the table CsvTableName(path) of a new in-memory SQLite database
// and registers it under `databaseName` (RegisterSqliteImage): a dataset with that DatabaseName
// reads it through the same read-only connection as a database file. A database registered under
// that name before is replaced. Raises ECsvError (naming the file as `path` gives it).
//   - A regular file is read twice, a block at a time: once for the columns' types, once into
//     the table, so that the import holds little more than the table it makes.
//   - A pipe (a FIFO, or a shell's <(zcat sales.csv.gz)) is read whole into memory first, waiting
//     at most `timeoutSeconds` from the start for its end (0: no bound), and refused beyond
//     kMaxCsvStreamBytes.
//   - Anything else (a folder, a device such as /dev/zero) is refused without reading it.
TCsvImport ImportCsvFile(const std::string& path, const std::string& databaseName,
                         int timeoutSeconds = 0);

// The records of a CSV file, one at a time, as the dataset of its import would give them. The
// file is read as ImportCsvFile reads it (a regular file twice, a block at a time: first for the
// columns' types, then for the records; a pipe whole, within the same bounds) and refused with
// the same ECsvError, but no table is made: a file of millions of rows takes a few blocks of
// memory. The stream's fields are the table's columns under the same names and of the classes
// its dataset makes (TIntegerField, TFloatField, TStringField), and every reader of them gives
// what it gives on the table: null for a missing cell, numbers (infinities too), texts (a NaN
// as the text that holds it), and the same EConvertError for a text that is no number. A file
// that changes between the two readings raises ECsvError from Next or from the field that reads
// the changed cell. Count() is the number of records; before the first Next and past the last,
// every field is null.
std::unique_ptr<TRecordStream> OpenCsvStream(const std::string& path, int timeoutSeconds = 0);

// What an import read, for a person: "read 300 rows of 12 columns from sales.csv (REGION,
// SALEDATE as text)"; a separator other than ',' is named too.
std::string CsvImportSummary(const std::string& source, const TCsvImport& import);

}  // namespace tav
