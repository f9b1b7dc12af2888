// SQLite files, read through a connection of the library's own: never through the handle inside
// Qt's driver, whose SQLite may be another copy of the library than ours.
#include <sqlite3.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "host/data/dbconnection.h"
#include "tav/db.h"
#include "tav/sysutils.h"

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

// The size of a file in bytes; -1 when there is none.
int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// SQLite's heap bound (see SetSqliteHeapLimit): the bound asked for, and the bytes of the
// registered images, which the bound is raised by.
struct THeapBound {
    std::mutex mutex;
    int64_t limit = kDefaultSqliteHeapLimit;
    int64_t held = 0;
    bool applied = false;

    void Apply() {  // under the mutex
        sqlite3_hard_heap_limit64(limit > 0 ? limit + held : 0);
        applied = true;
    }
};

// Never destroyed, as the watchdog below: images and connections may outlive static objects.
THeapBound& HeapBound() {
    static auto* bound = new THeapBound;
    return *bound;
}

void EnsureHeapBound() {
    THeapBound& h = HeapBound();
    const std::lock_guard lock(h.mutex);
    if (!h.applied) h.Apply();
}

void HoldImageBytes(int64_t bytes) {
    THeapBound& h = HeapBound();
    const std::lock_guard lock(h.mutex);
    h.held += bytes;
    if (h.applied) h.Apply();
}

using Clock = std::chrono::steady_clock;

// One run of a bounded statement, as the watchdog sees it (guarded by the watchdog's mutex).
struct TWatchEntry {
    sqlite3* db = nullptr;
    Clock::time_point deadline{};
    bool inside = false;   // the statement's thread is in sqlite3_step
    bool expired = false;  // the deadline has passed
    bool fired = false;  // it passed while the statement was inside: the connection is interrupted
};

// One thread for the process that ends bounded statements at their deadline, which counts from
// the statement's start however its rows arrive. A statement inside the database at its deadline
// is interrupted (sqlite3_interrupt stops even one long step of the virtual machine, which a
// progress handler never sees); one that waits on the program fails as it next steps. An
// interrupt lands only while the statement it is meant for is inside sqlite3_step: Enter, Leave
// and the watchdog share one mutex. A statement costs one look at the clock, a row two uncontended
// locks; a statement without a bound costs nothing.
class TWatchdog {
  public:
    // Never destroyed: a connection closed while the process exits may still disarm.
    static TWatchdog& Instance() {
        static auto* watchdog = new TWatchdog;
        return *watchdog;
    }

    void Arm(TWatchEntry& e, sqlite3* db, int seconds) {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
        {
            const std::lock_guard lock(mutex_);
            e = TWatchEntry{db, deadline};
            armed_.push_back(&e);
            if (!started_) {
                std::thread([this] { Run(); }).detach();
                started_ = true;
            }
        }
        wake_.notify_one();
    }
    void Disarm(TWatchEntry& e) {
        const std::lock_guard lock(mutex_);
        std::erase(armed_, &e);
        e = TWatchEntry{};
    }
    // The statement's thread is about to step it: false when it is past its deadline.
    bool Enter(TWatchEntry& e) {
        const std::lock_guard lock(mutex_);
        if (e.expired) return false;
        e.inside = true;
        return true;
    }
    // It has stepped it: whether the connection was interrupted meanwhile.
    bool Leave(TWatchEntry& e) {
        const std::lock_guard lock(mutex_);
        e.inside = false;
        return e.fired;
    }

  private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            const Clock::time_point now = Clock::now();
            Clock::time_point next = Clock::time_point::max();
            for (auto it = armed_.begin(); it != armed_.end();) {
                TWatchEntry& e = **it;
                if (e.deadline > now) {
                    next = std::min(next, e.deadline);
                    ++it;
                    continue;
                }
                e.expired = true;
                if (e.inside) {
                    sqlite3_interrupt(e.db);
                    e.fired = true;
                }
                it = armed_.erase(it);
            }
            if (next == Clock::time_point::max())
                wake_.wait(lock);
            else
                wake_.wait_until(lock, next);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<TWatchEntry*> armed_;
    bool started_ = false;
};

// The -wal and -shm files of the database files the library's connections have open in this
// process: whether the first of them found none (so that the files are the reading's own), and
// how many are open.
struct TSidecars {
    std::mutex mutex;
    std::map<std::string, std::pair<int, bool>> files;  // path: open connections, ours
};

TSidecars& Sidecars() {
    static auto* sidecars = new TSidecars;
    return *sidecars;
}

void SidecarsOpened(const std::string& path) {
    TSidecars& s = Sidecars();
    const std::lock_guard lock(s.mutex);
    auto& [open, ours] = s.files[path];
    if (open++ == 0) ours = FileSize(path + "-wal") < 0 && FileSize(path + "-shm") < 0;
}

// A read-only connection to a database in WAL mode makes its -wal and -shm files and leaves them:
// SQLite removes them when the last connection closes, but only a connection that may write
// does (it checkpoints first). When the last of ours closes and they are ours with the log still
// empty, a connection that may write is opened for that alone: with nothing to checkpoint it
// writes nothing to the database, and while any other connection holds it it removes nothing.
void SidecarsClosed(const std::string& path) {
    TSidecars& s = Sidecars();
    const std::lock_guard lock(s.mutex);
    const auto it = s.files.find(path);
    if (it == s.files.end() || --it->second.first > 0) return;
    const bool ours = it->second.second;
    s.files.erase(it);
    const int64_t wal = FileSize(path + "-wal");
    if (!ours || wal > 0 || (wal < 0 && FileSize(path + "-shm") < 0)) return;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) ==
        SQLITE_OK)
        sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

class TSqliteConnection;

class TSqliteCursor final : public TCursor {
  public:
    TSqliteCursor(TSqliteConnection& connection, sqlite3_stmt* stmt);
    ~TSqliteCursor() override;
    TSqliteCursor(const TSqliteCursor&) = delete;
    TSqliteCursor& operator=(const TSqliteCursor&) = delete;

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
    // Ends a run that the connection's interrupt would end at its next step: the statement fails
    // with the time bound's message until it runs again.
    void Expire() {
        if (!sqlite3_stmt_busy(stmt_)) return;
        Disarm();
        sqlite3_reset(stmt_);
        hasRow_ = false;
        expired_ = true;
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
        // The cell's value read once, its type and number from it: the connection has no mutex
        // (it is opened with SQLITE_OPEN_NOMUTEX), so the value needs no protection, and each
        // sqlite3_column_ call would look the cell up again.
        sqlite3_value* const value = sqlite3_column_value(stmt_, i);
        switch (sqlite3_value_type(value)) {
            case SQLITE_NULL:
                return TField::TState::Null;
            case SQLITE_FLOAT:
                number = sqlite3_value_double(value);
                isNumber = true;
                return TField::TState::Value;
            case SQLITE_INTEGER:
                number = static_cast<double>(sqlite3_value_int64(value));
                isNumber = true;
                return TField::TState::Value;
            case SQLITE_TEXT:
                return BlankText(i) ? TField::TState::Blank : TField::TState::Value;
            default:
                return TField::TState::Value;
        }
    }
    bool BlankText(int i) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return tav::IsBlankText(std::string_view(text, sqlite3_column_bytes(stmt_, i)));
    }
    bool Step();
    [[noreturn]] void TimedOut();
    void Disarm() {
        if (!watched_) return;
        TWatchdog::Instance().Disarm(watch_);
        watched_ = false;
    }

    TSqliteConnection& connection_;
    sqlite3_stmt* stmt_;
    bool hasRow_ = false;
    bool watched_ = false;  // the watchdog has this run's deadline
    bool expired_ = false;  // this run is past its bound
    int seconds_ = 0;       // this run's bound
    TWatchEntry watch_;
};

// A SQLite database file opened read-only, or an image in memory deserialized read-only in
// place. A database in WAL mode whose folder does not let the reader make its -shm file is opened
// as immutable when its log holds nothing, and refused when it holds changes (an immutable
// reader would silently leave them out). An authorizer lets statements read and call functions,
// nothing else (no ATTACH, no temporary objects, no pragma that sets anything); a statement that
// is not read-only once prepared (VACUUM INTO is one that no authorizer sees) is refused as well,
// and so is a text that holds more than one statement.
class TSqliteConnection final : public TConnection {
  public:
    TSqliteConnection(const std::string& path, const std::string& label, int timeoutSeconds)
        : label_(label), seconds_(timeoutSeconds) {
        SidecarsOpened(path);
        try {
            Open(path, false);
        } catch (...) {
            SidecarsClosed(path);
            throw;
        }
    }
    TSqliteConnection(const TSqliteImage& image, const std::string& label, int timeoutSeconds)
        : label_(label), image_(image), seconds_(timeoutSeconds) {
        Open(":memory:", false);
    }
    ~TSqliteConnection() override {
        sqlite3_close(db_);
        if (!image_.bytes) SidecarsClosed(path_);
    }
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

    // A table read in the order of its rowids, split at the middle of their range. Only for a
    // database no writer changes while this connection reads it: one in rollback mode, where its
    // reading holds every writer off, or one read as immutable.
    std::optional<TSplitPoint> SplitTable(const std::string& select, const std::string& table,
                                          const std::vector<std::string>& columns) override {
        constexpr int64_t kLeastRecords = int64_t{1} << 14;  // in each part
        if (!immutable_ && !image_.bytes && FileSize(path_ + "-wal") >= 0) return std::nullopt;
        // SQLite's plan: a scan of the table itself (not of an index that covers it, nor of
        // a virtual table or a view), which gives the records in the order of their rowids.
        auto plan = Prepare("EXPLAIN QUERY PLAN " + select);
        if (!plan->Exec()) return std::nullopt;
        const std::string step = plan->Value(3).toString().toStdString();
        if (plan->Next() || step.rfind("SCAN ", 0) != 0 ||
            step.find(" USING ") != std::string::npos ||
            step.find("VIRTUAL TABLE") != std::string::npos)
            return std::nullopt;
        // The rowid's name that no column takes.
        std::string rowid;
        for (const char* name : {"rowid", "_rowid_", "oid"})
            if (std::none_of(columns.begin(), columns.end(),
                             [&](const std::string& c) { return SameFieldName(c, name); })) {
                rowid = name;
                break;
            }
        if (rowid.empty()) return std::nullopt;
        std::optional<int64_t> first, last;
        try {
            first = Integer("SELECT MIN(" + rowid + ") FROM " + table);
            last = Integer("SELECT MAX(" + rowid + ") FROM " + table);
        } catch (const EDatabaseError&) {
            return std::nullopt;  // a table without rowids (a view's are nulls)
        }
        if (!first || !last) return std::nullopt;
        const uint64_t span = static_cast<uint64_t>(*last) - static_cast<uint64_t>(*first);
        if (span < 2 * kLeastRecords) return std::nullopt;
        const std::string middle =
            std::to_string(static_cast<int64_t>(static_cast<uint64_t>(*first) + span / 2));
        const auto before =
            Integer("SELECT COUNT(*) FROM " + table + " WHERE " + rowid + " <= " + middle);
        if (!before) return std::nullopt;
        return TSplitPoint{select + " WHERE " + rowid + " > " + middle, *before};
    }

    // The integer a statement gives first; nothing for another value or none.
    std::optional<int64_t> Integer(const std::string& sql) {
        const auto cursor = Prepare(sql);
        if (!cursor->Exec()) return std::nullopt;
        const QVariant value = cursor->Value(0);
        if (value.typeId() != QMetaType::LongLong) return std::nullopt;
        return value.toLongLong();
    }

    // A writer's lock is waited for as long as a statement may take, or kLockWait seconds
    // without a bound; then the statement fails with "database is locked".
    void SetTimeout(int seconds) override {
        seconds_ = seconds;
        sqlite3_busy_timeout(db_, (seconds > 0 ? seconds : kLockWait) * 1000);
    }

    int Timeout() const { return seconds_; }
    sqlite3* Handle() const { return db_; }
    void ClearDenied() { denied_.clear(); }
    void Adopt(TSqliteCursor* cursor) { cursors_.push_back(cursor); }
    void Forget(TSqliteCursor* cursor) { std::erase(cursors_, cursor); }

    // After the watchdog interrupted the connection: SQLite keeps the interrupt until no
    // statement of the connection is running, so every running one ends now (it would fail at
    // its next step anyway) and none started later is hit.
    void EndInterrupted() {
        for (TSqliteCursor* cursor : cursors_) cursor->Expire();
    }

    // The error of a statement that stopped with `rc`.
    std::string Message(sqlite3_stmt* stmt, int rc) const {
        if ((rc & 0xff) == SQLITE_AUTH && !denied_.empty()) return Refused(sqlite3_sql(stmt));
        return Error(rc);
    }
    [[noreturn]] void Fail(sqlite3_stmt* stmt, int rc) { throw EDatabaseError(Message(stmt, rc)); }

  private:
    std::string Refused(const std::string& sql) const {
        return RefusedMessage(label_, sql, "only reading is allowed, not " + denied_);
    }

    std::string Error(int rc) const {
        const int64_t limit = SqliteHeapLimit();
        if ((rc & 0xff) == SQLITE_NOMEM && limit > 0)
            return label_ + ": out of memory (the database may use at most " +
                   IntToStr(limit >> 20) + " MiB)";
        return label_ + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    }

    // Whether the rest of a text after its first statement holds another: SQLite prepares no
    // statement from blanks, comments and semicolons, and fails or gives one from anything else.
    bool HoldsStatement(const char* tail) {
        if (!tail || std::all_of(tail, tail + std::strlen(tail),
                                 [](unsigned char c) { return IsBlankChar(c) || c == ';'; }))
            return false;
        sqlite3_stmt* next = nullptr;
        const int rc = sqlite3_prepare_v2(db_, tail, -1, &next, nullptr);
        sqlite3_finalize(next);
        denied_.clear();
        return rc != SQLITE_OK || next != nullptr;
    }

    std::unique_ptr<TSqliteCursor> Prepare(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        const char* tail = nullptr;
        denied_.clear();
        int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, &tail);
        if (rc != SQLITE_OK && (rc & 0xff) == SQLITE_CANTOPEN && !immutable_ && !image_.bytes) {
            CheckLogReadable();
            sqlite3_close(db_);
            db_ = nullptr;
            Open(path_, true);
            rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, &tail);
        }
        if (rc != SQLITE_OK || !stmt) {
            sqlite3_finalize(stmt);
            throw EDatabaseError(!denied_.empty() ? Refused(sql) : Error(rc));
        }
        if (!sqlite3_stmt_readonly(stmt)) {
            sqlite3_finalize(stmt);
            throw EDatabaseError(RefusedMessage(label_, sql, "it would change a database"));
        }
        if (HoldsStatement(tail)) {
            sqlite3_finalize(stmt);
            throw EDatabaseError(
                RefusedMessage(label_, sql, "a query runs one statement, not several"));
        }
        return std::make_unique<TSqliteCursor>(*this, stmt);
    }

    // A database in WAL mode whose -shm file cannot be made: an immutable reader sees only the
    // database file, which is all there is when the log holds no frame past its header.
    void CheckLogReadable() const {
        constexpr int64_t kWalHeader = 32;
        const std::string wal = path_ + "-wal";
        if (FileSize(wal) <= kWalHeader) return;
        const std::size_t slash = wal.rfind('/');
        throw EDatabaseError(label_ + ": its write-ahead log '" +
                             (slash == std::string::npos ? wal : wal.substr(slash + 1)) +
                             "' holds changes that cannot be read (the folder is not writable); "
                             "checkpoint it, or read it where it can be written");
    }

    void Open(const std::string& path, bool immutable) {
        path_ = path;
        immutable_ = immutable;
        std::string name = path;
        int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;
        EnsureHeapBound();
        if (immutable) {
            name =
                "file:" + QUrl::toPercentEncoding(QString::fromStdString(path), "/").toStdString() +
                "?immutable=1";
            flags |= SQLITE_OPEN_URI;
        }
        if (sqlite3_open_v2(name.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            const std::string error = Error(db_ ? sqlite3_errcode(db_) : SQLITE_NOMEM);
            sqlite3_close(db_);
            db_ = nullptr;
            throw EDatabaseError(error);
        }
        // Without SQLITE_DESERIALIZE_RESIZEABLE and FREEONCLOSE SQLite reads the image where it
        // is and frees nothing; read-only, it writes nothing either (a write fails as it does
        // on a read-only file), so one image serves every connection.
        if (image_.bytes &&
            sqlite3_deserialize(db_, "main", const_cast<unsigned char*>(image_.bytes.get()),
                                image_.size, image_.size,
                                SQLITE_DESERIALIZE_READONLY) != SQLITE_OK) {
            const std::string error = Error(sqlite3_errcode(db_));
            sqlite3_close(db_);
            db_ = nullptr;
            throw EDatabaseError(error);
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
        sqlite3_set_authorizer(db_, &TSqliteConnection::Authorize, this);
        SetTimeout(seconds_);
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

    static constexpr int kLockWait = 5;

    sqlite3* db_ = nullptr;
    std::string path_;
    std::string label_;
    TSqliteImage image_;  // shared with the registry; outlives db_, which reads it
    bool immutable_ = false;
    std::string denied_;  // the first action the authorizer refused in the last prepare
    int seconds_ = 0;     // the bound of each statement from its start; 0 for none
    std::vector<TSqliteCursor*> cursors_;
};

TSqliteCursor::TSqliteCursor(TSqliteConnection& connection, sqlite3_stmt* stmt)
    : connection_(connection), stmt_(stmt) {
    connection_.Adopt(this);
}

TSqliteCursor::~TSqliteCursor() {
    Disarm();
    connection_.Forget(this);
    sqlite3_finalize(stmt_);
}

bool TSqliteCursor::Exec() {
    Disarm();
    sqlite3_reset(stmt_);
    expired_ = false;
    connection_.ClearDenied();
    seconds_ = connection_.Timeout();
    if (seconds_ > 0) {
        TWatchdog::Instance().Arm(watch_, connection_.Handle(), seconds_);
        watched_ = true;
    }
    return Step();
}

void TSqliteCursor::TimedOut() {
    Disarm();
    sqlite3_reset(stmt_);
    hasRow_ = false;
    expired_ = true;
    throw EDatabaseError(TimeoutMessage(seconds_));
}

bool TSqliteCursor::Step() {
    if (expired_ || (watched_ && !TWatchdog::Instance().Enter(watch_))) TimedOut();
    const int rc = sqlite3_step(stmt_);
    if (watched_ && TWatchdog::Instance().Leave(watch_)) {
        // Interrupted at the deadline. A step that ended otherwise just before the interrupt
        // landed is past the bound too; an error of the statement's own (a writer's lock held
        // to the end) says more than the bound.
        const int primary = rc & 0xff;
        const bool own =
            primary != SQLITE_ROW && primary != SQLITE_DONE && primary != SQLITE_INTERRUPT;
        const std::string error = own ? connection_.Message(stmt_, rc) : "";
        connection_.EndInterrupted();
        if (own) throw EDatabaseError(error);
        TimedOut();
    }
    if (rc == SQLITE_ROW) return hasRow_ = true;
    hasRow_ = false;
    Disarm();
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

void SetSqliteHeapLimit(int64_t bytes) {
    if (bytes < 0) throw EDatabaseError("SQLite's heap bound cannot be negative");
    THeapBound& h = HeapBound();
    const std::lock_guard lock(h.mutex);
    h.limit = bytes;
    h.Apply();
}

int64_t SqliteHeapLimit() {
    THeapBound& h = HeapBound();
    const std::lock_guard lock(h.mutex);
    return h.limit;
}

namespace {

// Keeps a registered image's bytes counted out of SQLite's heap bound while any connection or
// the registry holds it.
struct TImageLease {
    TImageLease(std::shared_ptr<const unsigned char> b, int64_t s) : bytes(std::move(b)), size(s) {
        HoldImageBytes(size);
    }
    ~TImageLease() { HoldImageBytes(-size); }
    TImageLease(const TImageLease&) = delete;
    TImageLease& operator=(const TImageLease&) = delete;
    std::shared_ptr<const unsigned char> bytes;
    int64_t size;
};

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
    const auto lease = std::make_shared<TImageLease>(image.bytes, image.size);
    const TSqliteImage held{std::shared_ptr<const unsigned char>(lease, image.bytes.get()),
                            image.size};
    const std::lock_guard lock(r.mutex);
    r.images[name] = held;
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
