// Connections of Qt Sql drivers other than SQLite: a clone of a connection the application
// configured, or one made from a connection URL. Each dataset reads through a connection of its
// own, inside a transaction that is read-only where the driver can say so and is rolled back when
// the dataset closes.
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QUrlQuery>
#include <atomic>

#include "host/dbconnection.h"
#include "host/sysutils.h"

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

// A money value as PostgreSQL writes it under lc_monetary 'C': "$1,234.56", "-$0.50".
bool ParseMoney(const QString& text, double& value) {
    QString digits;
    for (const QChar c : text)
        if (c != QLatin1Char('$') && c != QLatin1Char(',')) digits += c;
    bool ok = false;
    value = digits.toDouble(&ok);
    return ok;
}

bool IsPostgres(const QSqlDatabase& db) { return db.driverName() == QStringLiteral("QPSQL"); }

QString UniqueConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("tav-dataset-%1").arg(++counter);
}

class TQtConnection;

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
    std::string DeclaredType(int i) const override { return types_[i]; }
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
            case QMetaType::QString:
                return money_[i] && ParseMoney(v.toString(), value);
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
    std::vector<std::string> types_;
    std::vector<char> money_;
    bool hasRow_ = false;
};

class TQtConnection;

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
    // The statement time bound, with PostgreSQL's own bound replacing the session's (the role's
    // or the server's) while it is set.
    void SetTimeout(int seconds, bool wasBounded) {
        if (!transaction_ || !IsPostgres(db_) || (seconds == 0 && !wasBounded)) return;
        Run("SET LOCAL statement_timeout TO " +
            (seconds > 0 ? std::to_string(seconds * 1000) : std::string("DEFAULT")));
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
    bool transaction_ = false;
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
        if (IsPostgres(main_->Db())) snapshot_ = main_->ExportSnapshot();
    }

    std::unique_ptr<TCursor> Cursor(const std::string& sql) override {
        return std::make_unique<TQtCursor>(*this, main_->Db(), sql);
    }

    int64_t Count(const std::string& sql) override {
        if (!counter_) counter_ = std::make_unique<TSession>(Clone(main_->Db()), *this, snapshot_);
        QSqlQuery count(counter_->Db());
        count.setForwardOnly(true);
        const bool ok = count.exec(QString::fromStdString(sql)) && count.next();
        if (!ok) Fail(count.lastError(), sql);
        return count.value(0).toLongLong();
    }

    void SetTimeout(int seconds) override {
        const bool wasBounded = timeout_ > 0;
        timeout_ = seconds;
        for (TSession* session : {main_.get(), counter_.get()})
            if (session) session->SetTimeout(seconds, wasBounded);
    }

    // The statements' time bound in seconds, which the server keeps (0 for none).
    int Timeout() const { return timeout_; }
    const std::string& Label() const { return label_; }
    bool Postgres() const { return IsPostgres(main_->Db()); }

    [[noreturn]] void Fail(const QSqlError& error, const std::string& sql) {
        const QString code = error.nativeErrorCode();
        // PostgreSQL's 57014: a statement cancelled, here by statement_timeout; 25006: a write
        // in a read-only transaction.
        if (timeout_ > 0 && code == QStringLiteral("57014"))
            throw EDatabaseError(TimeoutMessage(timeout_));
        if (code == QStringLiteral("25006"))
            throw EDatabaseError(RefusedMessage(label_, sql, "only reading is allowed"));
        throw EDatabaseError(label_ + ": " + Text(error));
    }
    static std::string Text(const QSqlError& error) {
        const QString text =
            error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
        std::string line = text.simplified().toStdString();
        // PostgreSQL's error code follows its text in parentheses, empty when the connection
        // itself failed.
        if (line.size() >= 3 && line.compare(line.size() - 3, 3, " ()") == 0)
            line.resize(line.size() - 3);
        return line;
    }

  private:
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
            SetTimeout(owner_.Timeout(), false);
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
    const int n = record_.count();
    types_.assign(n, std::string());
    money_.assign(n, 0);
    if (connection_.Postgres()) {
        for (int i = 0; i < n; ++i) {
            const int oid = record_.field(i).typeID();
            types_[i] = PostgresTypeName(oid);
            money_[i] = oid == kMoneyOid;
        }
    }
    return hasRow_;
}

bool TQtCursor::Next() {
    hasRow_ = query_.next();
    if (!hasRow_ && query_.lastError().isValid())
        connection_.Fail(query_.lastError(), sql_.toStdString());
    return hasRow_;
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

std::unique_ptr<TConnection> OpenConnectionUrl(const std::string& text, const std::string& label,
                                               int timeoutSeconds) {
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    if (!url.isValid())
        // (Not with QUrl's reason: it repeats the whole text, a password included.)
        throw EDatabaseError(label +
                             ": not a valid connection URL (postgresql://USER@HOST:PORT/DBNAME "
                             "expected)");
    if (!url.password().isEmpty())
        throw EDatabaseError(label +
                             ": a password is not taken from the connection URL; give it in "
                             "PGPASSWORD or ~/.pgpass");
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        throw EDatabaseError(label + ": the PostgreSQL driver of Qt Sql (QPSQL) is not installed");
    const QString name = UniqueConnectionName();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(url.host());
        if (url.port() != -1) db.setPort(url.port());
        db.setUserName(url.userName());
        db.setDatabaseName(url.path().mid(1));
        QStringList options;
        for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
            options << key + QLatin1Char('=') + value;
        db.setConnectOptions(options.join(QLatin1Char(';')));
    }
    return std::make_unique<TQtConnection>(name, label, timeoutSeconds);
}

// Read as text, not as a URL: a URL too malformed to parse may still hold a password.
std::string DatabaseLabel(const std::string& databaseName) {
    if (!IsConnectionUrl(databaseName)) return databaseName;
    const std::size_t start = databaseName.find("://") + 3;
    const std::size_t path = databaseName.find('/', start);
    const std::size_t at = databaseName.rfind('@', path == std::string::npos ? path : path - 1);
    if (at == std::string::npos || at < start) return databaseName;
    const std::size_t colon = databaseName.find(':', start);
    if (colon > at) return databaseName;
    return databaseName.substr(0, colon) + databaseName.substr(at);
}

}  // namespace tav
