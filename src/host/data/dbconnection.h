// What a dataset reads through: a connection, and the forward-only cursors it runs. Two kinds: a
// SQLite file read through a connection of the library's own (straight through the SQLite API;
// the per-row cost of the generic path dominates a load otherwise), and a connection of any other
// Qt Sql driver. Both only read, and both bound a statement's time when asked to.
#pragma once

#include <QVariant>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tav/fields.h"
#include "tav/sqltext.h"

namespace tav {

// A result set read forward only.
class TCursor {
  public:
    virtual ~TCursor() = default;
    // Runs the statement and makes the first row current; false when there is none.
    virtual bool Exec() = 0;
    // Makes the next row current; false past the last one.
    virtual bool Next() = 0;
    virtual int ColumnCount() const = 0;
    virtual std::string ColumnName(int i) const = 0;
    virtual std::string DeclaredType(int i) const = 0;
    // Field class of an expression column, from its value on the current (first) row.
    virtual TFieldClass ValueClass(int i) const = 0;
    virtual bool IsNull(int i) const = 0;
    // Whether the value is a text of nothing but blanks (or none at all).
    virtual bool IsBlankText(int i) const = 0;
    // Null, blank text, or anything else.
    virtual TField::TState State(int i) const {
        if (IsNull(i)) return TField::TState::Null;
        return IsBlankText(i) ? TField::TState::Blank : TField::TState::Value;
    }
    // The state, and the number where the value is stored as one.
    virtual TField::TState Peek(int i, double& number, bool& isNumber) const {
        const TField::TState state = State(i);
        isNumber = state == TField::TState::Value && Number(i, number);
        return state;
    }
    virtual void PeekCells(const int* columns, int count, TCell* cells) const {
        for (int k = 0; k < count; ++k) {
            TCell& c = cells[k];
            c.state = Peek(columns[k], c.number, c.isNumber);
            c.converted = c.isNumber;
        }
    }
    // The value when it is stored as a number; false for any other kind of value.
    virtual bool Number(int i, double& value) const = 0;
    virtual QVariant Value(int i) const = 0;
};

// A connection that only reads. Errors are EDatabaseError prefixed with the connection's label
// ("Database 'sales.db'"); a statement past the time bound raises TimeoutMessage's text.
class TConnection {
  public:
    virtual ~TConnection() = default;
    // A cursor over `sql` (not yet run). A statement that would change anything is refused,
    // here or when it runs.
    virtual std::unique_ptr<TCursor> Cursor(const std::string& sql) = 0;
    // Runs a statement whose first column of its first row is a number, and gives it.
    virtual int64_t Count(const std::string& sql) = 0;
    // Runs a statement of one row (an aggregate over the dataset's statement) where the cursor's
    // records are read, and gives its values as the database writes them (none for a null).
    // Only a server that sums records itself has it (PostgreSQL's); others raise EDatabaseError.
    virtual std::vector<std::optional<std::string>> Row(const std::string& sql);
    // The time bound of the statements run from now on, in seconds; 0 for none.
    virtual void SetTimeout(int seconds) = 0;

    // Where a second connection may take over reading a whole table, `table` (quoted) with
    // `columns`, while this one reads it with `select` (every column of every record): the
    // statement that gives the table's records from about their middle on, in the order this
    // connection gives them, and how many records come before those. Nothing where the database
    // cannot say so, or where a second connection might see other records than this one while it
    // reads.
    struct TSplitPoint {
        std::string rest;
        int64_t before = 0;
    };
    virtual std::optional<TSplitPoint> SplitTable(const std::string& /*select*/,
                                                  const std::string& /*table*/,
                                                  const std::vector<std::string>& /*columns*/) {
        return std::nullopt;
    }
};

// The connection for a dataset's DatabaseName: a SQLite image registered under that name, the
// application's configured Qt Sql connection of that name (one of SQLite through our own connection
// to its file, any other driver through a clone of it, so that the application's own transactions
// are never touched), a connection URL, or the path of a SQLite file (relative to `baseDirectory`
// when that is not empty).
std::unique_ptr<TConnection> Connect(const std::string& databaseName,
                                     const std::string& baseDirectory, int timeoutSeconds);

// Whose lexical rules the statements run on DatabaseName follow (other drivers than SQLite's and
// PostgreSQL's: SQLite's, the widest choice of quotes).
TSqlDialect SqlDialectOf(const std::string& databaseName);

// DatabaseName as messages show it: a connection URL without any password in it.
std::string DatabaseLabel(const std::string& databaseName);

std::unique_ptr<TConnection> OpenSqliteFile(const std::string& path, const std::string& label,
                                            int timeoutSeconds);
// The image of a SQLite database held in memory (as sqlite3_serialize gives it), shared by every
// connection that reads it and never written: each one deserializes it read-only in place, under
// the same guards as a file.
struct TSqliteImage {
    std::shared_ptr<const unsigned char> bytes;
    int64_t size = 0;
};
// Makes `image` what a dataset whose DatabaseName is `name` reads, before any file or configured
// connection of that name; a later registration under the same name replaces it. Connections
// already open keep the image they read.
void RegisterSqliteImage(const std::string& name, const TSqliteImage& image);
void UnregisterSqliteImage(const std::string& name);
std::optional<TSqliteImage> FindSqliteImage(const std::string& name);
std::unique_ptr<TConnection> OpenSqliteImage(const TSqliteImage& image, const std::string& label,
                                             int timeoutSeconds);
std::unique_ptr<TConnection> OpenQtConnection(const std::string& connectionName,
                                              const std::string& label, int timeoutSeconds);
// IsConnectionUrl (tav/db.h) tells a connection URL.
std::unique_ptr<TConnection> OpenConnectionUrl(const std::string& url, const std::string& label,
                                               int timeoutSeconds);

// "The query did not finish within N seconds".
std::string TimeoutMessage(int seconds);
// `label`: "STATEMENT" was refused: `reason`.
std::string RefusedMessage(const std::string& label, const std::string& statement,
                           const std::string& reason);

TFieldClass ClassForMetaType(int typeId);

// The rules of fields that every record source of the data library follows as the datasets do
// (a CSV file's record stream is one): the field of a class, the lookup by name and its error,
// the reading of a text as a number, and what a blank text is.
// A field of class `cls` whose values `source` gives.
std::unique_ptr<TField> MakeField(TFieldClass cls, TFieldSource* source, const std::string& name,
                                  int index, const std::string& type);
// The field `name` names as FieldByName finds it: the same name, else the first that differs
// only in case; nullptr when there is none.
TField* FindFieldIn(const std::vector<std::unique_ptr<TField>>& fields, const std::string& name);
// EDatabaseError "Field 'X' not found", after the name of the dataset when it has one.
[[noreturn]] void RaiseFieldNotFound(const std::string& dataset, const std::string& name);
// A field's text read as a number (StrToFloat); a text that is none raises EConvertError naming
// the text, the field and the record (from 1).
double FieldTextToFloat(const TField& field, const std::string& text, int64_t record);
// Whether a text value is blank as a SQLite dataset reads one: empty, or nothing but spaces,
// tabs and line ends.
inline bool IsBlankText(std::string_view text) {
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
    return true;
}

}  // namespace tav
