// Connections of Qt Sql drivers other than SQLite: a clone of a connection the application
// configured, or one made from a connection URL. Each dataset reads through a connection of its
// own, inside a transaction that is read-only where the driver can say so and is rolled back when
// the dataset closes.
//
// On PostgreSQL the dataset's statements do not go through Qt's driver: it runs a text through
// the simple query protocol, which runs every statement in it (its prepare() too: it sends
// "PREPARE name AS text" the same way). They go through libpq's extended protocol on the
// connection the driver opened, where the server refuses a text of more than one statement, and
// rows stream one at a time. The session's own set-up statements still go through the driver.
#include <libpq-fe.h>

#include <QDate>
#include <QDateTime>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QUrlQuery>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "host/data/dbconnection.h"
#include "tav/db.h"
#include "tav/sysutils.h"

namespace tav {

namespace {

// PostgreSQL's type identifiers (pg_type.oid) and the declared types they stand for.
std::string PostgresTypeName(int oid) {
    switch (oid) {
        case 16:
            return "BOOLEAN";
        case 17:
            return "BYTEA";
        case 20:
            return "BIGINT";
        case 21:
            return "SMALLINT";
        case 23:
        case 26:  // oid
            return "INTEGER";
        case 25:
            return "TEXT";
        case 700:
            return "REAL";
        case 701:
            return "DOUBLE PRECISION";
        case 790:
            return "MONEY";
        case 1042:
            return "CHAR";
        case 1043:
            return "VARCHAR";
        case 1082:
            return "DATE";
        case 1083:
            return "TIME";
        case 1114:
            return "TIMESTAMP";
        case 1184:
            return "TIMESTAMPTZ";
        case 1700:
            return "NUMERIC";
        default:
            return {};
    }
}

constexpr int kMoneyOid = 790;

// The Qt type a value of a PostgreSQL type reads as (as Qt's driver gives it).
int MetaTypeForOid(Oid oid) {
    switch (oid) {
        case 16:
            return QMetaType::Bool;
        case 17:
            return QMetaType::QByteArray;
        case 20:
            return QMetaType::LongLong;
        case 21:
        case 23:
            return QMetaType::Int;
        case 24:  // regproc, oid, xid, cid
        case 26:
        case 28:
        case 29:
            return QMetaType::UInt;
        case 700:
        case 701:
        case 1700:
            return QMetaType::Double;
        case 1082:
            return QMetaType::QDate;
        case 1083:
        case 1266:
            return QMetaType::QTime;
        case 1114:
        case 1184:
            return QMetaType::QDateTime;
        default:
            return QMetaType::QString;
    }
}

// A money value as PostgreSQL writes it under lc_monetary 'C': "$1,234.56", "-$0.50".
bool ParseMoney(const char* text, double& value) {
    std::string digits;
    for (; *text; ++text)
        if (*text != '$' && *text != ',') digits += *text;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc() && end == digits.data() + digits.size() && !digits.empty();
}

// A number as PostgreSQL writes it (integers, float4 and float8 as the shortest text that reads
// back exactly, numeric in full, "NaN", "Infinity"), read exactly, whatever the locale.
bool ParseNumber(const char* text, int length, double& value) {
    const auto [end, error] = std::from_chars(text, text + length, value);
    if (end != text + length || length == 0) return false;
    if (error == std::errc::result_out_of_range) {
        // Only a numeric, written in full, goes past a double's range: beyond it when its
        // integer part is not zero, below it when it is.
        const bool negative = text[0] == '-';
        const bool below = std::strncmp(text + negative, "0.", 2) == 0;
        value = below ? 0.0 : HUGE_VAL;
        if (negative) value = -value;
        return true;
    }
    return error == std::errc();
}

bool IsPostgres(const QSqlDatabase& db) { return db.driverName() == QStringLiteral("QPSQL"); }

// The libpq connection under Qt's PostgreSQL driver.
PGconn* PgConnection(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // (The type's name is that of the struct behind libpq's typedef.)
    const char* type = handle.isValid() ? handle.metaType().name() : "";
    if (std::strcmp(type, "pg_conn*") != 0 && std::strcmp(type, "PGconn*") != 0) return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

using TPgResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

// A server's or libpq's message as one line.
std::string PgErrorText(const PGresult* result, const PGconn* conn) {
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const char* severity = result ? PQresultErrorField(result, PG_DIAG_SEVERITY) : nullptr;
    const QString text = primary ? QString::fromUtf8(severity ? severity : "ERROR") +
                                       QStringLiteral(": ") + QString::fromUtf8(primary)
                                 : QString::fromUtf8(PQerrorMessage(conn));
    return EscapedLine(text.simplified().toStdString());
}

// Server notices (RAISE NOTICE in a function or view, warnings) go to the log as one escaped line
// each, a few per connection, never raw to a terminal.
Q_LOGGING_CATEGORY(lcSql, "tav.sql")

struct TNotices {
    static constexpr int kShown = 20;
    int count = 0;
};

void ShowNotice(void* arg, const char* message) {
    auto& notices = *static_cast<TNotices*>(arg);
    if (notices.count > TNotices::kShown) return;
    if (notices.count++ == TNotices::kShown) {
        qCWarning(lcSql, "further notices not shown");
        return;
    }
    std::string text = message;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    qCWarning(lcSql, "%s", EscapedLine(text).c_str());
}

QString UniqueConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("tav-dataset-%1").arg(++counter);
}

class TQtConnection;

// A cursor of any other driver than PostgreSQL's, through Qt Sql.
class TQtCursor final : public TCursor {
  public:
    TQtCursor(TQtConnection& connection, const QSqlDatabase& db, const std::string& sql)
        : connection_(connection), query_(db), sql_(QString::fromStdString(sql)) {
        query_.setForwardOnly(true);
    }
    bool Exec() override;
    bool Next() override;
    int ColumnCount() const override { return record_.count(); }
    std::string ColumnName(int i) const override { return record_.fieldName(i).toStdString(); }
    std::string DeclaredType(int) const override { return {}; }
    TFieldClass ValueClass(int i) const override {
        return ClassForMetaType(record_.field(i).metaType().id());
    }
    bool IsNull(int i) const override { return !hasRow_ || query_.isNull(i); }
    bool IsBlankText(int i) const override {
        if (!hasRow_) return false;
        const QVariant v = query_.value(i);
        return v.typeId() == QMetaType::QString && v.toString().trimmed().isEmpty();
    }
    bool Number(int i, double& value) const override {
        const QVariant v = query_.value(i);
        switch (v.typeId()) {
            case QMetaType::Double:
            case QMetaType::LongLong:
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::ULongLong:
            case QMetaType::Short:
            case QMetaType::UShort:
            case QMetaType::Float:
            case QMetaType::Bool:
                value = v.toDouble();
                return true;
            default:
                return false;
        }
    }
    QVariant Value(int i) const override { return query_.value(i); }

  private:
    TQtConnection& connection_;
    QSqlQuery query_;
    QString sql_;
    QSqlRecord record_;
    bool hasRow_ = false;
};

// Adds a connection of the same driver and parameters as `db`, and gives its name.
QString Clone(const QSqlDatabase& db) {
    const QString name = UniqueConnectionName();
    QSqlDatabase::cloneDatabase(db, name);
    return name;
}

// One driver connection of the dataset's own, reading inside a transaction that lasts while it
// lives: for PostgreSQL a read-only one, at repeatable read so that a second session can share
// its snapshot; for other drivers that know transactions, one that is never committed.
class TSession {
  public:
    // Takes the connection `name` (added, not yet opened, and held by nothing else) and opens it.
    TSession(const QString& name, TQtConnection& owner, const std::string& snapshot = {});
    ~TSession() {
        if (transaction_ && db_.isOpen()) db_.rollback();
        Remove();
    }
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    const QSqlDatabase& Db() const { return db_; }
    PGconn* Pg() const { return pg_; }
    // Before a statement runs: the statement time bound, with PostgreSQL's own bound replacing
    // the session's (the role's or the server's) while it is set. (Not while a statement runs:
    // the connection is busy then, and the bound is for the statements run from now on.)
    void ApplyTimeout(int seconds) {
        if (!transaction_ || !pg_ || seconds == timeout_) return;
        Run("SET LOCAL statement_timeout TO " +
            (seconds > 0 ? std::to_string(seconds * 1000) : std::string("DEFAULT")));
        timeout_ = seconds;
    }
    std::string ExportSnapshot() {
        QSqlQuery q(db_);
        Run(q, "SELECT pg_export_snapshot()");
        q.next();
        return q.value(0).toString().toStdString();
    }

  private:
    void Run(const std::string& sql) {
        QSqlQuery q(db_);
        Run(q, sql);
    }
    void Run(QSqlQuery& q, const std::string& sql);
    void Remove() {
        const QString name = db_.connectionName();
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }

    static constexpr const char* kStart =
        "START TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY";
    QSqlDatabase db_;
    TQtConnection& owner_;
    PGconn* pg_ = nullptr;  // PostgreSQL's connection, which db_ owns
    TNotices notices_;
    bool transaction_ = false;
    int timeout_ = 0;  // the bound set in the transaction; 0: the session's own
};

// The dataset's cursor runs on one session; the record count on a second one, made when first
// asked for: a driver that streams a result set (PostgreSQL's does) cannot run another statement
// on the same connection before the last row has been read.
class TQtConnection final : public TConnection {
  public:
    // Takes the connection `name` as TSession does.
    TQtConnection(const QString& name, const std::string& label, int timeoutSeconds)
        : label_(label), timeout_(timeoutSeconds) {
        main_ = std::make_unique<TSession>(name, *this);
        if (main_->Pg()) snapshot_ = main_->ExportSnapshot();
    }

    std::unique_ptr<TCursor> Cursor(const std::string& sql) override;
    int64_t Count(const std::string& sql) override;
    std::vector<std::optional<std::string>> Row(const std::string& sql) override;
    void SetTimeout(int seconds) override { timeout_ = seconds; }

    // The statements' time bound in seconds, which the server keeps (0 for none).
    int Timeout() const { return timeout_; }
    const std::string& Label() const { return label_; }
    TSession& Main() { return *main_; }

    // `code`: the SQLSTATE, when there is one.
    [[noreturn]] void Fail(const QString& code, const std::string& text, const std::string& sql) {
        // PostgreSQL's 57014: a statement cancelled, here by statement_timeout; 25006: a write
        // in a read-only transaction.
        if (timeout_ > 0 && code == QStringLiteral("57014"))
            throw EDatabaseError(TimeoutMessage(timeout_));
        if (code == QStringLiteral("25006"))
            throw EDatabaseError(RefusedMessage(label_, sql, "only reading is allowed"));
        throw EDatabaseError(label_ + ": " + text);
    }
    [[noreturn]] void Fail(const QSqlError& error, const std::string& sql) {
        Fail(error.nativeErrorCode(), Text(error), sql);
    }
    [[noreturn]] void Fail(const PGresult* result, const PGconn* conn, const std::string& sql) {
        const char* code = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        Fail(QString::fromLatin1(code ? code : ""), PgErrorText(result, conn), sql);
    }
    static std::string Text(const QSqlError& error) {
        const QString text =
            error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
        std::string line = EscapedLine(text.simplified().toStdString());
        // PostgreSQL's error code follows its text in parentheses, empty when the connection
        // itself failed.
        if (line.size() >= 3 && line.compare(line.size() - 3, 3, " ()") == 0)
            line.resize(line.size() - 3);
        return line;
    }

  private:
    // The session of the statements run beside the cursor's, sharing its snapshot.
    TSession& Counter() {
        if (!counter_) counter_ = std::make_unique<TSession>(Clone(main_->Db()), *this, snapshot_);
        return *counter_;
    }

    std::string label_;
    int timeout_;
    std::string snapshot_;
    std::unique_ptr<TSession> main_;
    std::unique_ptr<TSession> counter_;
};

TSession::TSession(const QString& name, TQtConnection& owner, const std::string& snapshot)
    : db_(QSqlDatabase::database(name, false)), owner_(owner) {
    try {
        if (!db_.open())
            throw EDatabaseError(owner_.Label() + ": " + TQtConnection::Text(db_.lastError()));
        if (IsPostgres(db_)) {
            pg_ = PgConnection(db_);
            if (!pg_)
                throw EDatabaseError(owner_.Label() +
                                     ": Qt's PostgreSQL driver gave no libpq connection");
            PQsetNoticeProcessor(pg_, ShowNotice, &notices_);
            Run(kStart);
            transaction_ = true;
            // A snapshot that cannot be shared any more belongs to a transaction that has ended:
            // its statement failed, and its cursor will say why when it reaches that point. This
            // session reads in a transaction of its own meanwhile.
            if (!snapshot.empty() && !QSqlQuery(db_).exec(QString::fromStdString(
                                         "SET TRANSACTION SNAPSHOT '" + snapshot + "'"))) {
                Run("ROLLBACK");
                Run(kStart);
            }
            Run("SET LOCAL lc_monetary TO 'C'");
            // Strings read as the statement reader reads them: a backslash escapes only in E'...'.
            Run("SET LOCAL standard_conforming_strings TO on");
            ApplyTimeout(owner_.Timeout());
        } else if (db_.driver()->hasFeature(QSqlDriver::Transactions)) {
            transaction_ = db_.transaction();
        }
    } catch (...) {
        Remove();
        throw;
    }
}

void TSession::Run(QSqlQuery& q, const std::string& sql) {
    if (!q.exec(QString::fromStdString(sql))) owner_.Fail(q.lastError(), sql);
}

bool TQtCursor::Exec() {
    query_.finish();
    const bool ok = query_.exec(sql_);
    hasRow_ = ok && query_.next();
    if (!ok || (!hasRow_ && query_.lastError().isValid()))
        connection_.Fail(query_.lastError(), sql_.toStdString());
    record_ = query_.record();
    return hasRow_;
}

bool TQtCursor::Next() {
    hasRow_ = query_.next();
    if (!hasRow_ && query_.lastError().isValid())
        connection_.Fail(query_.lastError(), sql_.toStdString());
    return hasRow_;
}

// A cursor on PostgreSQL: one statement through the extended protocol, its rows one at a time
// (single-row mode), its values read from their text.
class TPgCursor final : public TCursor {
  public:
    TPgCursor(TQtConnection& connection, const std::string& sql)
        : connection_(connection), conn_(connection.Main().Pg()), sql_(sql) {}
    ~TPgCursor() override { Finish(); }
    bool Exec() override;
    bool Next() override;
    int ColumnCount() const override { return static_cast<int>(oids_.size()); }
    std::string ColumnName(int i) const override { return names_[i]; }
    std::string DeclaredType(int i) const override { return PostgresTypeName(oids_[i]); }
    TFieldClass ValueClass(int i) const override {
        return ClassForMetaType(MetaTypeForOid(oids_[i]));
    }
    bool IsNull(int i) const override { return !row_ || PQgetisnull(row_.get(), 0, i); }
    bool IsBlankText(int i) const override {
        if (IsNull(i) || MetaTypeForOid(oids_[i]) != QMetaType::QString) return false;
        const char* text = PQgetvalue(row_.get(), 0, i);
        if (*text && static_cast<unsigned char>(*text) < 0x80 && !std::isspace(*text))
            return false;  // the usual case, without a look at the whole text
        return QString::fromUtf8(text).trimmed().isEmpty();
    }
    bool Number(int i, double& value) const override;
    QVariant Value(int i) const override;

  private:
    // Reads the next result: a row (true), or the end of the statement.
    bool Fetch();
    // Ends a statement whose rows are not all read: the server is asked to stop, and what it
    // still sends is read, so that the connection can run the next statement.
    void Finish();

    TQtConnection& connection_;
    PGconn* conn_;
    std::string sql_;
    TPgResult row_{nullptr, PQclear};
    std::vector<std::string> names_;
    std::vector<Oid> oids_;
    bool running_ = false;  // results of the statement are still to be read
};

bool TPgCursor::Exec() {
    Finish();
    connection_.Main().ApplyTimeout(connection_.Timeout());
    names_.clear();
    oids_.clear();
    if (!PQsendQueryParams(conn_, sql_.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0))
        connection_.Fail(nullptr, conn_, sql_);
    running_ = true;
    if (!PQsetSingleRowMode(conn_)) {
        Finish();
        connection_.Fail(nullptr, conn_, sql_);
    }
    return Fetch();
}

bool TPgCursor::Next() { return running_ && Fetch(); }

bool TPgCursor::Fetch() {
    row_.reset(PQgetResult(conn_));
    const ExecStatusType status = row_ ? PQresultStatus(row_.get()) : PGRES_FATAL_ERROR;
    if (row_ && (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK) && oids_.empty()) {
        const int n = PQnfields(row_.get());
        for (int i = 0; i < n; ++i) {
            names_.emplace_back(PQfname(row_.get(), i));
            oids_.push_back(PQftype(row_.get(), i));
        }
    }
    if (status == PGRES_SINGLE_TUPLE) return true;
    TPgResult last = std::move(row_);
    // The statement has ended, with its last result (or none: the connection is gone).
    while (PGresult* rest = PQgetResult(conn_)) PQclear(rest);
    running_ = false;
    if (status != PGRES_TUPLES_OK) connection_.Fail(last.get(), conn_, sql_);
    return false;
}

void TPgCursor::Finish() {
    row_.reset();
    if (!running_) return;
    running_ = false;
    if (PGcancel* cancel = PQgetCancel(conn_)) {
        char error[256];
        PQcancel(cancel, error, sizeof error);
        PQfreeCancel(cancel);
    }
    while (PGresult* rest = PQgetResult(conn_)) PQclear(rest);
}

bool TPgCursor::Number(int i, double& value) const {
    if (IsNull(i)) return false;
    const char* text = PQgetvalue(row_.get(), 0, i);
    if (oids_[i] == kMoneyOid) return ParseMoney(text, value);
    switch (MetaTypeForOid(oids_[i])) {
        case QMetaType::Bool:
            value = text[0] == 't' ? 1.0 : 0.0;
            return true;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::Double:
            return ParseNumber(text, PQgetlength(row_.get(), 0, i), value);
        default:
            return false;
    }
}

QVariant TPgCursor::Value(int i) const {
    const int type = MetaTypeForOid(oids_[i]);
    if (IsNull(i)) return QVariant(QMetaType(type));
    const char* text = PQgetvalue(row_.get(), 0, i);
    double number = 0;
    switch (type) {
        case QMetaType::Bool:
            return QVariant(text[0] == 't');
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong: {
            qlonglong integer = 0;
            const char* end = text + PQgetlength(row_.get(), 0, i);
            if (std::from_chars(text, end, integer).ptr != end) return QString::fromUtf8(text);
            QVariant v(integer);
            v.convert(QMetaType(type));
            return v;
        }
        case QMetaType::Double:
            if (!Number(i, number)) return QString::fromUtf8(text);
            return number;
        case QMetaType::QDate:
            return QDate::fromString(QString::fromLatin1(text), Qt::ISODate);
        case QMetaType::QTime:
            return QTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
        case QMetaType::QDateTime: {
            // "2024-01-02 12:00:00", with "+00" after it for a timestamptz.
            QString iso = QString::fromLatin1(text);
            iso.replace(QLatin1Char(' '), QLatin1Char('T'));
            QDateTime dt = QDateTime::fromString(iso, Qt::ISODateWithMs);
            if (!dt.isValid() && iso.size() > 3 && iso[iso.size() - 3].isPunct())
                dt = QDateTime::fromString(iso + QStringLiteral(":00"), Qt::ISODateWithMs);
            return oids_[i] == 1184 ? dt.toUTC() : dt;
        }
        case QMetaType::QByteArray: {
            std::size_t length = 0;
            unsigned char* bytes =
                PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &length);
            const QByteArray value(reinterpret_cast<const char*>(bytes),
                                   static_cast<qsizetype>(length));
            PQfreemem(bytes);
            return value;
        }
        default:
            return QString::fromUtf8(text);
    }
}

std::unique_ptr<TCursor> TQtConnection::Cursor(const std::string& sql) {
    if (main_->Pg()) return std::make_unique<TPgCursor>(*this, sql);
    return std::make_unique<TQtCursor>(*this, main_->Db(), sql);
}

int64_t TQtConnection::Count(const std::string& sql) {
    if (Counter().Pg()) {
        const std::optional<std::string> text = Row(sql).front();
        int64_t count = 0;
        const char* begin = text ? text->c_str() : "";
        const auto [end, error] = std::from_chars(begin, begin + std::strlen(begin), count);
        if (!text || error != std::errc() || *end)
            throw EDatabaseError(label_ + ": '" + EscapedLine(begin) + "' is not a count");
        return count;
    }
    QSqlQuery count(counter_->Db());
    count.setForwardOnly(true);
    const bool ok = count.exec(QString::fromStdString(sql)) && count.next();
    if (!ok) Fail(count.lastError(), sql);
    return count.value(0).toLongLong();
}

// Through the extended protocol, as the cursor's statement, under the same time bound.
std::vector<std::optional<std::string>> TQtConnection::Row(const std::string& sql) {
    PGconn* pg = Counter().Pg();
    if (!pg) return TConnection::Row(sql);
    counter_->ApplyTimeout(timeout_);
    const TPgResult result(PQexecParams(pg, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0),
                           PQclear);
    if (!result || PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) < 1 ||
        PQnfields(result.get()) < 1) {
        // A failed statement ends its session's transaction: the next statement gets a session
        // of its own, sharing the cursor's snapshot again.
        try {
            Fail(result.get(), pg, sql);
        } catch (...) {
            counter_.reset();
            throw;
        }
    }
    std::vector<std::optional<std::string>> row;
    for (int i = 0; i < PQnfields(result.get()); ++i)
        row.push_back(PQgetisnull(result.get(), 0, i)
                          ? std::nullopt
                          : std::optional<std::string>(PQgetvalue(result.get(), 0, i)));
    return row;
}

}  // namespace

std::unique_ptr<TConnection> OpenQtConnection(const std::string& connectionName,
                                              const std::string& label, int timeoutSeconds) {
    const QString name =
        Clone(QSqlDatabase::database(QString::fromStdString(connectionName), false));
    return std::make_unique<TQtConnection>(name, label, timeoutSeconds);
}

bool IsConnectionUrl(const std::string& databaseName) {
    return databaseName.rfind("postgresql://", 0) == 0 || databaseName.rfind("postgres://", 0) == 0;
}

namespace {

// Whether the text after the first '?' of a connection URL, decoded, says "password" anywhere (an
// item pass%77ord=..., or a value that would pass one on to libpq), read as text: a URL too
// malformed to parse may hold one as well.
bool HasPasswordItem(const std::string& url) {
    const std::size_t query = url.find('?');
    if (query == std::string::npos) return false;
    return QUrl::fromPercentEncoding(QByteArray::fromStdString(url.substr(query + 1)))
        .contains(QStringLiteral("password"), Qt::CaseInsensitive);
}

// Qt's driver passes the options on to libpq unquoted, separated by blanks: one of these in a
// key or a value would make options of its own.
bool IsPlainOption(const QString& text, bool key) {
    for (const QChar c : text)
        if (c.isSpace() || c == QLatin1Char('\'') || c == QLatin1Char('\\') ||
            c == QLatin1Char(';') || (key && c == QLatin1Char('=')) || c.unicode() < 0x20)
            return false;
    return !key || !text.isEmpty();
}

}  // namespace

std::unique_ptr<TConnection> OpenConnectionUrl(const std::string& text, const std::string& label,
                                               int timeoutSeconds) {
    const std::string noPassword =
        ": a password is not taken from the connection URL; give it in PGPASSWORD or ~/.pgpass";
    // (DatabaseLabel leaves out what a password may be; where it leaves out anything, there is
    // one.)
    if (DatabaseLabel(text) != text) throw EDatabaseError(label + noPassword);
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    if (!url.isValid())
        // (Not with QUrl's reason: it repeats the whole text.)
        throw EDatabaseError(label +
                             ": not a valid connection URL (postgresql://USER@HOST:PORT/DBNAME "
                             "expected)");
    if (!url.password().isEmpty()) throw EDatabaseError(label + noPassword);
    QStringList options;
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (!IsPlainOption(key, true) || !IsPlainOption(value, false))
            throw EDatabaseError(label +
                                 ": a connection option holds a blank, quote, backslash, "
                                 "semicolon or control character");
        options << key + QLatin1Char('=') + value;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        throw EDatabaseError(label + ": the PostgreSQL driver of Qt Sql (QPSQL) is not installed");
    const QString name = UniqueConnectionName();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(url.host());
        if (url.port() != -1) db.setPort(url.port());
        db.setUserName(url.userName());
        db.setDatabaseName(url.path().mid(1));
        db.setConnectOptions(options.join(QLatin1Char(';')));
    }
    return std::make_unique<TQtConnection>(name, label, timeoutSeconds);
}

// Read as text, not as a URL: a URL too malformed to parse may still hold a password. What a
// password may be is left out generously: from the first ':' of a user part to the last '@' (a
// password may hold '@', '/', '?' or '#' not encoded), and the whole query where it speaks of a
// password.
std::string DatabaseLabel(const std::string& databaseName) {
    if (!IsConnectionUrl(databaseName)) return databaseName;
    std::string label = databaseName;
    const std::size_t start = label.find("://") + 3;
    const std::size_t at = label.find('@', start);
    const std::size_t colon = label.find(':', start);
    if (at != std::string::npos && colon < at)
        label = label.substr(0, colon) + label.substr(label.rfind('@'));
    if (HasPasswordItem(label)) label.resize(label.find('?'));
    return label;
}

}  // namespace tav
