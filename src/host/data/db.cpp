#include "tav/db.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <limits>

#include "host/data/dbconnection.h"
#include "tav/sqltext.h"
#include "tav/sysutils.h"

namespace tav {

std::unique_ptr<TField> MakeField(TFieldClass cls, TFieldSource* ds, const std::string& name,
                                  int index, const std::string& type) {
    switch (cls) {
        case TFieldClass::Float:
            return std::make_unique<TFloatField>(ds, name, index, type);
        case TFieldClass::Currency:
            return std::make_unique<TCurrencyField>(ds, name, index, type);
        case TFieldClass::Integer:
            return std::make_unique<TIntegerField>(ds, name, index, type);
        case TFieldClass::Smallint:
            return std::make_unique<TSmallintField>(ds, name, index, type);
        case TFieldClass::Word:
            return std::make_unique<TWordField>(ds, name, index, type);
        case TFieldClass::String:
            return std::make_unique<TStringField>(ds, name, index, type);
        case TFieldClass::Boolean:
            return std::make_unique<TBooleanField>(ds, name, index, type);
        case TFieldClass::DateTime:
            return std::make_unique<TDateTimeField>(ds, name, index, type);
        case TFieldClass::Date:
            return std::make_unique<TDateField>(ds, name, index, type);
        case TFieldClass::Time:
            return std::make_unique<TTimeField>(ds, name, index, type);
        case TFieldClass::Blob:
            return std::make_unique<TBlobField>(ds, name, index, type);
        case TFieldClass::Memo:
            return std::make_unique<TMemoField>(ds, name, index, type);
    }
    return std::make_unique<TStringField>(ds, name, index, type);
}

TField* FindFieldIn(const std::vector<std::unique_ptr<TField>>& fields, const std::string& name) {
    for (const auto& f : fields)
        if (f->FieldName() == name) return f.get();
    for (const auto& f : fields)
        if (SameFieldName(f->FieldName(), name)) return f.get();
    return nullptr;
}

void RaiseFieldNotFound(const std::string& dataset, const std::string& name) {
    throw EDatabaseError(dataset.empty() ? "Field '" + name + "' not found"
                                         : dataset + ": Field '" + name + "' not found");
}

double FieldTextToFloat(const TField& field, const std::string& text, int64_t record) {
    try {
        return StrToFloat(text);
    } catch (const EConvertError&) {
        throw EConvertError("'" + text + "' is not a valid floating point value for field '" +
                            field.FieldName() + "' in record " + IntToStr(record));
    }
}

namespace {

constexpr double kUnixEpochInDays = 25569.0;  // 1970-01-01 as a TDateTime

// A time of day as the fraction of a day it is (a time with no date: day 0, 1899-12-30).
double DayFraction(const QTime& time) { return time.msecsSinceStartOfDay() / 86400000.0; }

// A date and time read as written (no time zone) as days since 1899-12-30.
double ToDays(QDateTime dt) {
    dt.setTimeSpec(Qt::UTC);
    return kUnixEpochInDays + static_cast<double>(dt.toMSecsSinceEpoch()) / 86400000.0;
}

}  // namespace

TFieldClass ClassForMetaType(int typeId) {
    switch (typeId) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
            return TFieldClass::Integer;
        case QMetaType::Short:
            return TFieldClass::Smallint;
        case QMetaType::UShort:
            return TFieldClass::Word;
        case QMetaType::Double:
        case QMetaType::Float:
            return TFieldClass::Float;
        case QMetaType::Bool:
            return TFieldClass::Boolean;
        case QMetaType::QDate:
            return TFieldClass::Date;
        case QMetaType::QTime:
            return TFieldClass::Time;
        case QMetaType::QDateTime:
            return TFieldClass::DateTime;
        case QMetaType::QByteArray:
            return TFieldClass::Blob;
        default:
            return TFieldClass::String;
    }
}

std::string QuoteIdentifier(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

struct TDataSet::Impl {
    std::unique_ptr<TConnection> connection;
    std::unique_ptr<TCursor> cursor;
    bool active = false;
    bool eof = true;
    bool moved = false;  // the cursor has left the first record since the statement ran
    int32_t recNo = 0;   // of the current record, from 1
    int32_t recordCount = -1;

    void Release() {
        cursor.reset();  // before the connection: a statement must not outlive it
        connection.reset();
        active = false;
        eof = true;
        moved = false;
        recNo = 0;
        recordCount = -1;
    }
};

TDataSet::TDataSet(TComponent* owner) : TComponent(owner), impl_(std::make_unique<Impl>()) {}

bool SameFieldName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

TDataSet::~TDataSet() { Close(); }

std::unique_ptr<TConnection> Connect(const std::string& databaseName,
                                     const std::string& baseDirectory, int timeoutSeconds) {
    const std::string label = "Database '" + DatabaseLabel(databaseName) + "'";
    if (const auto image = FindSqliteImage(databaseName))
        return OpenSqliteImage(*image, label, timeoutSeconds);
    const QString name = QString::fromStdString(databaseName);
    if (!name.isEmpty() && QSqlDatabase::contains(name)) {
        const QSqlDatabase configured = QSqlDatabase::database(name, false);
        if (configured.driverName() == QStringLiteral("QSQLITE"))
            return OpenSqliteFile(configured.databaseName().toStdString(), label, timeoutSeconds);
        return OpenQtConnection(databaseName, label, timeoutSeconds);
    }
    if (IsConnectionUrl(databaseName))
        return OpenConnectionUrl(databaseName, label, timeoutSeconds);
    if (databaseName.empty()) throw EDatabaseError("No database name given");
    QFileInfo info(name);
    if (info.isRelative() && !baseDirectory.empty())
        info = QFileInfo(QDir(QString::fromStdString(baseDirectory)), name);
    if (!info.exists() || !info.isFile())
        throw EDatabaseError("Database '" + databaseName + "' not found");
    return OpenSqliteFile(QFile::encodeName(info.absoluteFilePath()).toStdString(), label,
                          timeoutSeconds);
}

// As Connect decides what a name stands for.
TSqlDialect SqlDialectOf(const std::string& databaseName) {
    if (FindSqliteImage(databaseName)) return TSqlDialect::SQLite;
    const QString name = QString::fromStdString(databaseName);
    if (!name.isEmpty() && QSqlDatabase::contains(name))
        return QSqlDatabase::database(name, false).driverName() == QStringLiteral("QPSQL")
                   ? TSqlDialect::PostgreSQL
                   : TSqlDialect::SQLite;
    return IsConnectionUrl(databaseName) ? TSqlDialect::PostgreSQL : TSqlDialect::SQLite;
}

std::vector<std::optional<std::string>> TConnection::Row(const std::string&) {
    throw EDatabaseError("Only a PostgreSQL server sums the records of a statement itself");
}

std::string TimeoutMessage(int seconds) {
    return "The query did not finish within " + IntToStr(seconds) + " seconds";
}

std::string RefusedMessage(const std::string& label, const std::string& statement,
                           const std::string& reason) {
    return label + ": \"" + StatementExcerpt(statement) + "\" was refused: " + reason;
}

void TDataSet::SetQueryTimeout(int seconds) {
    if (seconds < 0 || seconds > kMaxQueryTimeout)
        throw EDatabaseError("QueryTimeout must be from 0 to " + IntToStr(kMaxQueryTimeout) +
                             " seconds, not " + IntToStr(seconds));
    queryTimeout_ = seconds;
    if (impl_->connection) impl_->connection->SetTimeout(StatementTimeout());
}

namespace {
std::atomic<int> g_statementTimeoutCap{0};
}  // namespace

void SetStatementTimeoutCap(int seconds) {
    if (seconds < 0 || seconds > TDataSet::kMaxQueryTimeout)
        throw EDatabaseError("The statement time cap must be from 0 to " +
                             IntToStr(TDataSet::kMaxQueryTimeout) + " seconds, not " +
                             IntToStr(seconds));
    g_statementTimeoutCap = seconds;
}

int StatementTimeoutCap() { return g_statementTimeoutCap; }

int TDataSet::StatementTimeout() const {
    const int cap = StatementTimeoutCap();
    if (cap == 0) return queryTimeout_;
    return queryTimeout_ == 0 ? cap : std::min(queryTimeout_, cap);
}

void TDataSet::SetDatabaseName(const std::string& name) {
    CheckInactive();
    databaseName_ = name;
}

bool TDataSet::Active() const { return impl_->active; }

void TDataSet::SetActive(bool active) {
    if (active)
        Open();
    else
        Close();
}

void TDataSet::CheckActive() const {
    if (!impl_->active)
        throw EDatabaseError(Name().empty()
                                 ? "Cannot perform this operation on a closed dataset"
                                 : Name() + ": Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckInactive() const {
    if (impl_->active)
        throw EDatabaseError(Name().empty()
                                 ? "Cannot perform this operation on an open dataset"
                                 : Name() + ": Cannot perform this operation on an open dataset");
}

void TDataSet::Open() {
    if (impl_->active) return;
    Impl& d = *impl_;
    try {
        const std::string sql = SelectStatement();
        d.connection = Connect(databaseName_, baseDirectory_, StatementTimeout());
        d.cursor = d.connection->Cursor(sql);
        d.eof = !d.cursor->Exec();
        d.moved = false;
        d.recNo = d.eof ? 0 : 1;
        fields_.clear();
        lookupCache_.fill(nullptr);
        for (int i = 0; i < d.cursor->ColumnCount(); ++i) {
            const std::string type = d.cursor->DeclaredType(i);
            fields_.push_back(MakeField(FieldClassForType(type, d.cursor->ValueClass(i)), this,
                                        d.cursor->ColumnName(i), i, type));
        }
        d.active = true;
    } catch (...) {
        lookupCache_.fill(nullptr);
        fields_.clear();
        d.Release();
        throw;
    }
}

void TDataSet::Close() {
    lookupCache_.fill(nullptr);
    fields_.clear();
    impl_->Release();
}

std::unique_ptr<TDataSet> TDataSet::SplitRest(int64_t& before) {
    CheckActive();
    const std::string table = WholeTable();
    if (table.empty()) return nullptr;
    std::vector<std::string> columns;
    for (const auto& field : fields_) columns.push_back(field->FieldName());
    const auto split = impl_->connection->SplitTable(SelectStatement(), table, columns);
    if (!split) return nullptr;
    auto rest = std::make_unique<TQuery>();
    rest->SetDatabaseName(databaseName_);
    rest->SetBaseDirectory(baseDirectory_);
    rest->SetQueryTimeout(queryTimeout_);
    rest->SetSQLText(split->rest);
    rest->Open();
    before = split->before;
    return rest;
}

void TDataSet::First() {
    CheckActive();
    Impl& d = *impl_;
    if (!d.moved) return;  // still on the first record of the last run
    d.eof = !d.cursor->Exec();
    d.moved = false;
    d.recNo = d.eof ? 0 : 1;
}

void TDataSet::Next() {
    CheckActive();
    Impl& d = *impl_;
    if (d.eof) return;
    d.moved = true;
    d.eof = !d.cursor->Next();
    if (!d.eof) ++d.recNo;
}

int32_t TDataSet::RecNo() const {
    CheckActive();
    return impl_->eof ? 0 : impl_->recNo;
}

bool TDataSet::Eof() const {
    CheckActive();
    return impl_->eof;
}

std::vector<std::optional<std::string>> TDataSet::AggregateRow(const std::string& head,
                                                               const std::string& tail) {
    CheckActive();
    // The line end keeps the closing parenthesis out of a comment on the statement's last line.
    return impl_->connection->Row(head + " (" + SelectStatement() + "\n) AS t" + tail);
}

int32_t TDataSet::RecordCount() {
    CheckActive();
    Impl& d = *impl_;
    if (d.recordCount < 0) {
        // A count past what RecordCount can say (or below nothing) says the most it can.
        const int64_t count = d.connection->Count(CountStatement());
        d.recordCount = static_cast<int32_t>(
            std::clamp<int64_t>(count, 0, std::numeric_limits<int32_t>::max()));
    }
    return d.recordCount;
}

TField* TDataSet::Fields(int index) const {
    if (index < 0 || index >= FieldCount())
        throw EDatabaseError("Field index out of range (" + IntToStr(index) + ")");
    return fields_[static_cast<std::size_t>(index)].get();
}

TField* TDataSet::FindField(const std::string& name) const {
    // Loaders look the same few names up for every record, usually through the same string
    // objects: a small cache keyed by the text's address answers most lookups with one compare.
    const auto slot = static_cast<std::size_t>(
        ((reinterpret_cast<std::uintptr_t>(name.data()) >> 3) * 0x9E3779B97F4A7C15u) >> 58);
    if (TField* cached = lookupCache_[slot]; cached && cached->FieldName() == name) return cached;
    TField* found = FindFieldUncached(name);
    if (found) lookupCache_[slot] = found;
    return found;
}

TField* TDataSet::FindFieldUncached(const std::string& name) const {
    return FindFieldIn(fields_, name);
}

TField* TDataSet::FieldByName(const std::string& name) const {
    if (TField* f = FindField(name)) return f;
    RaiseFieldNotFound(Name(), name);
}

void TDataSet::GetFieldNames(TStringList& list) const {
    for (const auto& f : fields_) list.Add(f->FieldName());
}

// Fields: their values, read from the current record

bool TDataSet::FieldIsNull(const TField& field) const {
    CheckActive();
    const auto& d = *impl_;
    return d.eof || d.cursor->IsNull(field.Index());
}

bool TDataSet::FieldIsBlank(const TField& field) const {
    CheckActive();
    const auto& d = *impl_;
    return !d.eof && d.cursor->IsBlankText(field.Index());
}

TField::TState TDataSet::FieldState(const TField& field) const {
    CheckActive();
    const auto& d = *impl_;
    return d.eof ? TField::TState::Null : d.cursor->State(field.Index());
}

void TDataSet::PeekCells(const int* columns, int count, TCell* cells) const {
    CheckActive();
    if (impl_->eof) {
        for (int k = 0; k < count; ++k) cells[k] = TCell();
        return;
    }
    impl_->cursor->PeekCells(columns, count, cells);
}

TField::TState TDataSet::FieldPeek(const TField& field, double& number, bool& isNumber) const {
    CheckActive();
    const auto& d = *impl_;
    isNumber = false;
    return d.eof ? TField::TState::Null : d.cursor->Peek(field.Index(), number, isNumber);
}

double TDataSet::FieldAsFloat(const TField& field) const {
    CheckActive();
    const auto& d = *impl_;
    const int index = field.Index();
    if (d.eof || d.cursor->IsNull(index)) return 0.0;
    double number;
    if (d.cursor->Number(index, number)) return number;
    const QVariant v = d.cursor->Value(index);
    switch (v.typeId()) {
        case QMetaType::QDate:
        case QMetaType::QDateTime:
            return ToDays(v.toDateTime());
        case QMetaType::QTime:
            return DayFraction(v.toTime());
        default:
            break;
    }
    const std::string text = v.toString().toStdString();
    const QString qtext = QString::fromStdString(text);
    if (dynamic_cast<const TTimeField*>(&field)) {
        const QTime time = QTime::fromString(qtext, Qt::ISODateWithMs);
        if (time.isValid()) return DayFraction(time);
    } else if (dynamic_cast<const TDateTimeField*>(&field)) {
        QDateTime dt = QDateTime::fromString(qtext, Qt::ISODate);
        if (!dt.isValid()) dt = QDateTime(QDate::fromString(qtext, Qt::ISODate), QTime(0, 0));
        if (dt.isValid()) return ToDays(dt);
    }
    return FieldTextToFloat(field, text, d.recNo);
}

std::string TDataSet::FieldAsString(const TField& field) const {
    CheckActive();
    const auto& d = *impl_;
    const int index = field.Index();
    if (d.eof || d.cursor->IsNull(index)) return {};
    const QVariant v = d.cursor->Value(index);
    if (v.typeId() == QMetaType::Double) return FloatToStr(v.toDouble());
    return v.toString().toStdString();
}

// Tables and queries

void TTable::SetTableName(const std::string& name) {
    CheckInactive();
    tableName_ = name;
}

std::string TTable::SelectStatement() const {
    if (tableName_.empty()) throw EDatabaseError("No table name given");
    return "SELECT * FROM " + QuoteIdentifier(tableName_);
}

std::string TTable::CountStatement() const {
    return "SELECT COUNT(*) FROM " + QuoteIdentifier(tableName_);
}

std::string TTable::WholeTable() const { return QuoteIdentifier(tableName_); }

void TQuery::SetSQL(const TStringList& sql) {
    CheckInactive();
    sql_.Assign(sql);
}

void TQuery::SetSQLText(const std::string& text) {
    TStringList lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            lines.Add(line);
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    if (!line.empty()) lines.Add(line);
    SetSQL(lines);
}

// The query's one statement, without what ends it (blanks, comments, semicolons). Anything but a
// single statement that asks for rows is refused before it reaches a database.
std::string TQuery::SelectStatement() const {
    std::string sql;
    for (const auto& line : sql_.Items()) sql += line + "\n";
    const TStatementText text = ReadStatement(sql, SqlDialectOf(DatabaseName()));
    if (text.statement.empty()) throw EDatabaseError("No SQL statement available");
    const std::string label = "Database '" + DatabaseLabel(DatabaseName()) + "'";
    if (!IsQueryKeyword(text.keyword))
        throw EDatabaseError(RefusedMessage(label, text.statement,
                                            "a query runs one SELECT, WITH or VALUES statement"));
    if (text.more)
        throw EDatabaseError(RefusedMessage(label, sql, "a query runs one statement, not several"));
    return text.statement;
}

// The line end keeps the closing parenthesis out of a comment on the statement's last line.
std::string TQuery::CountStatement() const {
    return "SELECT COUNT(*) FROM (" + SelectStatement() + "\n) AS tav_count";
}

}  // namespace tav
