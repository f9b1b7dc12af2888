// SQLite files, read through a connection of the library's own: never through the handle inside
// Qt's driver, whose SQLite may be another copy of the library than ours.
#include <sqlite3.h>

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <algorithm>
#include <array>
#include <map>
#include <mutex>

#include "host/dbconnection.h"
#include "host/sysutils.h"

namespace tav {

namespace {

bool IsBlankChar(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// What the authorizer calls each action, for the message that refuses it.
std::string ActionName(int action) {
    static const std::array<const char*, 34> kNames = {"COPY",
                                                       "CREATE INDEX",
                                                       "CREATE TABLE",
                                                       "CREATE TEMP INDEX",
                                                       "CREATE TEMP TABLE",
                                                       "CREATE TEMP TRIGGER",
                                                       "CREATE TEMP VIEW",
                                                       "CREATE TRIGGER",
                                                       "CREATE VIEW",
                                                       "DELETE",
                                                       "DROP INDEX",
                                                       "DROP TABLE",
                                                       "DROP TEMP INDEX",
                                                       "DROP TEMP TABLE",
                                                       "DROP TEMP TRIGGER",
                                                       "DROP TEMP VIEW",
                                                       "DROP TRIGGER",
                                                       "DROP VIEW",
                                                       "INSERT",
                                                       "PRAGMA",
                                                       "READ",
                                                       "SELECT",
                                                       "a transaction",
                                                       "UPDATE",
                                                       "ATTACH",
                                                       "DETACH",
                                                       "ALTER TABLE",
                                                       "REINDEX",
                                                       "ANALYZE",
                                                       "CREATE VIRTUAL TABLE",
                                                       "DROP VIRTUAL TABLE",
                                                       "FUNCTION",
                                                       "SAVEPOINT",
                                                       "RECURSIVE"};
    return action >= 0 && action < static_cast<int>(kNames.size()) ? kNames[action]
                                                                   : "action " + IntToStr(action);
}

// Pragmas that only report, allowed from inside a query (the table-valued pragma_...()
// functions): those whose argument names a table or an index, with or without it, and those that
// set something when given an argument, only without one.
bool IsReportingPragma(const char* pragma, const char* argument) {
    static const char* const kOfObjects[] = {"table_info",      "table_xinfo", "table_list",
                                             "index_list",      "index_info",  "index_xinfo",
                                             "foreign_key_list"};
    static const char* const kWithoutArgument[] = {
        "database_list",   "collation_list", "function_list", "module_list",    "pragma_list",
        "compile_options", "page_count",     "page_size",     "freelist_count", "schema_version",
        "user_version",    "application_id", "encoding",      "data_version"};
    const auto in = [&](const auto& names) {
        return std::any_of(std::begin(names), std::end(names),
                           [&](const char* name) { return sqlite3_stricmp(name, pragma) == 0; });
    };
    return in(kOfObjects) || (!argument && in(kWithoutArgument));
}

class TSqliteConnection;

class TSqliteCursor final : public TCursor {
  public:
    TSqliteCursor(TSqliteConnection& connection, sqlite3_stmt* stmt)
        : connection_(connection), stmt_(stmt) {}
    ~TSqliteCursor() override { sqlite3_finalize(stmt_); }

    bool Exec() override;
    bool Next() override { return Step(); }
    int ColumnCount() const override { return sqlite3_column_count(stmt_); }
    std::string ColumnName(int i) const override {
        const char* name = sqlite3_column_name(stmt_, i);
        return name ? name : "";
    }
    std::string DeclaredType(int i) const override {
        const char* type = sqlite3_column_decltype(stmt_, i);
        return type ? type : "";
    }
    TFieldClass ValueClass(int i) const override {
        if (!hasRow_) return TFieldClass::Float;
        switch (sqlite3_column_type(stmt_, i)) {
            case SQLITE_INTEGER:
                return TFieldClass::Integer;
            case SQLITE_TEXT:
                return TFieldClass::String;
            case SQLITE_BLOB:
                return TFieldClass::Blob;
            default:
                return TFieldClass::Float;
        }
    }
    bool IsNull(int i) const override {
        return !hasRow_ || sqlite3_column_type(stmt_, i) == SQLITE_NULL;
    }
    bool IsBlankText(int i) const override {
        return hasRow_ && sqlite3_column_type(stmt_, i) == SQLITE_TEXT && BlankText(i);
    }
    TField::TState State(int i) const override {
        double number;
        bool isNumber;
        return Peek(i, number, isNumber);
    }
    void PeekCells(const int* columns, int count, TCell* cells) const override {
        for (int k = 0; k < count; ++k) {
            TCell& c = cells[k];
            c.state = SqlitePeek(columns[k], c.number, c.isNumber);
            c.converted = c.isNumber;
        }
    }
    TField::TState Peek(int i, double& number, bool& isNumber) const override {
        return SqlitePeek(i, number, isNumber);
    }
    bool Number(int i, double& value) const override {
        switch (sqlite3_column_type(stmt_, i)) {
            case SQLITE_FLOAT:
                value = sqlite3_column_double(stmt_, i);
                return true;
            case SQLITE_INTEGER:
                value = static_cast<double>(sqlite3_column_int64(stmt_, i));
                return true;
            default:
                return false;
        }
    }
    QVariant Value(int i) const override {
        switch (sqlite3_column_type(stmt_, i)) {
            case SQLITE_NULL:
                return {};
            case SQLITE_INTEGER:
                return QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt_, i)));
            case SQLITE_FLOAT:
                return QVariant(sqlite3_column_double(stmt_, i));
            case SQLITE_BLOB: {
                const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, i));
                return QVariant(QByteArray(data, sqlite3_column_bytes(stmt_, i)));
            }
            default: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
                return QVariant(QString::fromUtf8(text, sqlite3_column_bytes(stmt_, i)));
            }
        }
    }

  private:
    TField::TState SqlitePeek(int i, double& number, bool& isNumber) const {
        isNumber = false;
        if (!hasRow_) return TField::TState::Null;
        switch (sqlite3_column_type(stmt_, i)) {
            case SQLITE_NULL:
                return TField::TState::Null;
            case SQLITE_FLOAT:
                number = sqlite3_column_double(stmt_, i);
                isNumber = true;
                return TField::TState::Value;
            case SQLITE_INTEGER:
                number = static_cast<double>(sqlite3_column_int64(stmt_, i));
                isNumber = true;
                return TField::TState::Value;
            case SQLITE_TEXT:
                return BlankText(i) ? TField::TState::Blank : TField::TState::Value;
            default:
                return TField::TState::Value;
        }
    }
    bool BlankText(int i) const {
        const auto* text = sqlite3_column_text(stmt_, i);
        const int size = sqlite3_column_bytes(stmt_, i);
        return std::all_of(text, text + size, [](unsigned char c) { return IsBlankChar(c); });
    }
    bool Step();

    TSqliteConnection& connection_;
    sqlite3_stmt* stmt_;
    bool hasRow_ = false;
};

// A SQLite database file opened read-only, or an image in memory deserialized read-only in
// place. A database in WAL mode whose folder does not let the
// reader make its -shm file is opened as immutable. An authorizer lets statements read and call
// functions, nothing else (no ATTACH, no temporary objects, no pragma that sets anything); a
// statement that is not read-only once prepared (VACUUM INTO is one that no authorizer sees) is
// refused as well.
class TSqliteConnection final : public TConnection {
  public:
    TSqliteConnection(const std::string& path, const std::string& label, int timeoutSeconds)
        : label_(label), clock_(timeoutSeconds) {
        Open(path, false);
    }
    TSqliteConnection(const TSqliteImage& image, const std::string& label, int timeoutSeconds)
        : label_(label), image_(image), clock_(timeoutSeconds) {
        Open(":memory:", false);
    }
    ~TSqliteConnection() override { sqlite3_close(db_); }
    TSqliteConnection(const TSqliteConnection&) = delete;
    TSqliteConnection& operator=(const TSqliteConnection&) = delete;

    // Prepares `sql`, reopening the file as immutable once when the first statement cannot open
    // its -shm file.
    std::unique_ptr<TCursor> Cursor(const std::string& sql) override { return Prepare(sql); }

    int64_t Count(const std::string& sql) override {
        auto cursor = Prepare(sql);
        double count = 0;
        if (!cursor->Exec() || !cursor->Number(0, count))
            throw EDatabaseError(label_ + ": the record count gave no number");
        return static_cast<int64_t>(count);
    }

    // A writer's lock is waited for as long as a statement may take, or kLockWait seconds
    // without a bound; then the statement fails with "database is locked".
    void SetTimeout(int seconds) override {
        clock_.SetSeconds(seconds);
        sqlite3_busy_timeout(db_, (seconds > 0 ? seconds : kLockWait) * 1000);
        sqlite3_progress_handler(db_, seconds > 0 ? kProgressSteps : 0,
                                 seconds > 0 ? &TSqliteConnection::Progress : nullptr, this);
    }

    TStatementClock& Clock() { return clock_; }
    void ClearDenied() { denied_.clear(); }

    // The error of a statement that stopped with `rc`.
    [[noreturn]] void Fail(sqlite3_stmt* stmt, int rc) {
        if ((rc & 0xff) == SQLITE_INTERRUPT && clock_.Bounded())
            throw EDatabaseError(TimeoutMessage(clock_.Seconds()));
        if ((rc & 0xff) == SQLITE_AUTH && !denied_.empty())
            throw EDatabaseError(Refused(sqlite3_sql(stmt)));
        throw EDatabaseError(label_ + ": " + sqlite3_errmsg(db_));
    }

  private:
    std::string Refused(const std::string& sql) const {
        return RefusedMessage(label_, sql, "only reading is allowed, not " + denied_);
    }

    std::unique_ptr<TSqliteCursor> Prepare(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        denied_.clear();
        int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr);
        if (rc != SQLITE_OK && (rc & 0xff) == SQLITE_CANTOPEN && !immutable_ && !image_.bytes) {
            sqlite3_close(db_);
            db_ = nullptr;
            Open(path_, true);
            rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr);
        }
        if (rc != SQLITE_OK || !stmt) {
            sqlite3_finalize(stmt);
            if (!denied_.empty())
                throw EDatabaseError(
                    RefusedMessage(label_, sql, "only reading is allowed, not " + denied_));
            throw EDatabaseError(label_ + ": " + sqlite3_errmsg(db_));
        }
        if (!sqlite3_stmt_readonly(stmt)) {
            sqlite3_finalize(stmt);
            throw EDatabaseError(RefusedMessage(label_, sql, "it would change a database"));
        }
        return std::make_unique<TSqliteCursor>(*this, stmt);
    }

    void Open(const std::string& path, bool immutable) {
        path_ = path;
        immutable_ = immutable;
        std::string name = path;
        int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;
        if (immutable) {
            name =
                "file:" + QUrl::toPercentEncoding(QString::fromStdString(path), "/").toStdString() +
                "?immutable=1";
            flags |= SQLITE_OPEN_URI;
        }
        if (sqlite3_open_v2(name.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            const std::string error = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            db_ = nullptr;
            throw EDatabaseError(label_ + ": " + error);
        }
        // Without SQLITE_DESERIALIZE_RESIZEABLE and FREEONCLOSE SQLite reads the image where it
        // is and frees nothing; read-only, it writes nothing either (a write fails as it does
        // on a read-only file), so one image serves every connection.
        if (image_.bytes &&
            sqlite3_deserialize(db_, "main", const_cast<unsigned char*>(image_.bytes.get()),
                                image_.size, image_.size,
                                SQLITE_DESERIALIZE_READONLY) != SQLITE_OK) {
            const std::string error = sqlite3_errmsg(db_);
            sqlite3_close(db_);
            db_ = nullptr;
            throw EDatabaseError(label_ + ": " + error);
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
        sqlite3_set_authorizer(db_, &TSqliteConnection::Authorize, this);
        SetTimeout(clock_.Seconds());
    }

    static int Authorize(void* self, int action, const char* arg1, const char* arg2, const char* db,
                         const char*) {
        auto* connection = static_cast<TSqliteConnection*>(self);
        switch (action) {
            case SQLITE_SELECT:
            case SQLITE_READ:
            case SQLITE_FUNCTION:
            case SQLITE_RECURSIVE:
                return SQLITE_OK;
            case SQLITE_PRAGMA:
                if (arg1 && IsReportingPragma(arg1, arg2)) return SQLITE_OK;
                break;
            case SQLITE_UPDATE:
                // A table-valued pragma function declares its virtual table in the in-memory
                // schema, which the authorizer sees as an update of sqlite_master's columns.
                if (arg1 && std::string(arg1) == "sqlite_master" && db && std::string(db) == "main")
                    return SQLITE_OK;
                break;
            default:
                break;
        }
        std::string what = ActionName(action);
        if (arg1 && action != SQLITE_TRANSACTION) what += std::string(" ") + arg1;
        if (connection->denied_.empty()) connection->denied_ = what;
        return SQLITE_DENY;
    }

    // Called every kProgressSteps virtual machine steps of a running statement: non-zero
    // interrupts it.
    static int Progress(void* self) {
        return static_cast<TSqliteConnection*>(self)->clock_.Tick() ? 1 : 0;
    }

    static constexpr int kProgressSteps = 10000;
    static constexpr int kLockWait = 5;

    sqlite3* db_ = nullptr;
    std::string path_;
    std::string label_;
    TSqliteImage image_;  // shared with the registry; outlives db_, which reads it
    bool immutable_ = false;
    std::string denied_;  // the first action the authorizer refused in the last prepare
    TStatementClock clock_;
};

bool TSqliteCursor::Exec() {
    sqlite3_reset(stmt_);
    connection_.ClearDenied();
    connection_.Clock().Restart();
    return Step();
}

bool TSqliteCursor::Step() {
    connection_.Clock().Enter();
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return hasRow_ = true;
    hasRow_ = false;
    if (rc != SQLITE_DONE) connection_.Fail(stmt_, rc);
    return false;
}

}  // namespace

std::unique_ptr<TConnection> OpenSqliteFile(const std::string& path, const std::string& label,
                                            int timeoutSeconds) {
    return std::make_unique<TSqliteConnection>(path, label, timeoutSeconds);
}

std::unique_ptr<TConnection> OpenSqliteImage(const TSqliteImage& image, const std::string& label,
                                             int timeoutSeconds) {
    return std::make_unique<TSqliteConnection>(image, label, timeoutSeconds);
}

namespace {

struct TImageRegistry {
    std::mutex mutex;
    std::map<std::string, TSqliteImage> images;
};

TImageRegistry& Images() {
    static TImageRegistry registry;
    return registry;
}

}  // namespace

void RegisterSqliteImage(const std::string& name, const TSqliteImage& image) {
    TImageRegistry& r = Images();
    const std::lock_guard lock(r.mutex);
    r.images[name] = image;
}

void UnregisterSqliteImage(const std::string& name) {
    TImageRegistry& r = Images();
    const std::lock_guard lock(r.mutex);
    r.images.erase(name);
}

std::optional<TSqliteImage> FindSqliteImage(const std::string& name) {
    TImageRegistry& r = Images();
    const std::lock_guard lock(r.mutex);
    const auto it = r.images.find(name);
    if (it == r.images.end()) return std::nullopt;
    return it->second;
}

}  // namespace tav
