// The CSV reader and the import of a CSV file into an in-memory SQLite database.
#include "tav/csvtable.h"

#include <sqlite3.h>

#include <QFileInfo>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#include "host/data/csvreader.h"
#include "host/data/dbconnection.h"
#include "tav/db.h"
#include "tav/formfile.h"

namespace tav {

ECsvError::ECsvError(const std::string& source, int64_t line, const std::string& message)
    : Exception(line > 0 ? source + ", line " + IntToStr(line) + ": " + message
                         : source + ": " + message),
      line_(line) {}

using namespace csv;

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

// Fills the table from a second reading of the text, typed as the first reading found. A regular
// file is read twice rather than held whole; one that changed in between is refused.
void FillTable(TImportDb& db, TCsvText& text, const std::string& path, const TCsvShape& shape,
               TCsvImport& result) {
    const std::size_t columns = shape.names.size();
    std::string create = "CREATE TABLE " + QuoteIdentifier(result.table) + " (";
    std::string insert = "INSERT INTO " + QuoteIdentifier(result.table) + " VALUES (";
    for (std::size_t c = 0; c < columns; ++c) {
        create += (c ? ", " : "") + QuoteIdentifier(shape.names[c]) + " " + SqlType(shape.Type(c));
        insert += c ? ", ?" : "?";
        if (shape.Type(c) == TCsvType::Text) result.textColumns.push_back(shape.names[c]);
    }
    db.Exec(create + ")", "cannot make the table '" + result.table + "'");
    db.Exec("BEGIN", "cannot fill the table");
    sqlite3_stmt* stmt = db.Prepare(insert + ")", "cannot fill the table");

    TCsvRecords records(text, path);
    shape.CheckHeader(records, path);
    int64_t rows = 0;
    TCsvValue value;
    while (records.Next()) {
        for (std::size_t c = 0; c < columns; ++c) {
            if (!ReadValue(records.Field(c), shape.Type(c), shape.Mark(c), value))
                throw ChangedError(path, records.Line());
            const int k = static_cast<int>(c) + 1;
            int bound;
            switch (value.kind) {
                case TCsvValue::kNull:
                    bound = sqlite3_bind_null(stmt, k);
                    break;
                case TCsvValue::kInteger:
                    bound = sqlite3_bind_int64(stmt, k, value.whole);
                    break;
                case TCsvValue::kReal:
                    bound = sqlite3_bind_double(stmt, k, value.real);
                    break;
                default:
                    // The field's text stays as it is until the row is stepped.
                    bound = sqlite3_bind_text64(stmt, k, value.text.data(), value.text.size(),
                                                SQLITE_STATIC, SQLITE_UTF8);
                    break;
            }
            if (bound != SQLITE_OK) db.Fail("cannot fill the table");
        }
        if (sqlite3_step(stmt) != SQLITE_DONE) db.Fail("cannot fill the table");
        sqlite3_reset(stmt);
        ++rows;
    }
    if (rows != shape.rows) throw ChangedError(path, 0);
    db.Exec("COMMIT", "cannot fill the table");
    result.rows = rows;
    result.columns = static_cast<int>(columns);
    result.separator = shape.separator;
    if (shape.rowNames) result.rowNames = shape.names[0];
}

}  // namespace

TCsvImport ImportCsvFile(const std::string& path, const std::string& databaseName,
                         int timeoutSeconds) {
    const TCsvInput input(path, timeoutSeconds);
    TImportDb db(path);
    TCsvImport result;
    result.table = CsvTableName(path);
    const TCsvShape shape = ScanCsv(*input.Reading(), path);
    FillTable(db, *input.Reading(), path, shape, result);
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
