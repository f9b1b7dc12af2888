#include "host/db.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cctype>

#include "host/dialogs.h"
#include "host/sysutils.h"

namespace tav {

namespace {

std::string Upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool Has(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

std::unique_ptr<TField> MakeField(TFieldClass cls, TDataSet* ds, const std::string& name, int index,
                                  const std::string& type) {
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

std::string TrimStatement(std::string s) {
    while (!s.empty() && (std::isspace(static_cast<unsigned char>(s.back())) || s.back() == ';'))
        s.pop_back();
    return s;
}

constexpr double kUnixEpochInDays = 25569.0;  // 1970-01-01 as a TDateTime

// A date and time read as written (no time zone) as days since 1899-12-30.
double ToDays(QDateTime dt) {
    dt.setTimeSpec(Qt::UTC);
    return kUnixEpochInDays + static_cast<double>(dt.toMSecsSinceEpoch()) / 86400000.0;
}

}  // namespace

TFieldClass FieldClassForType(const std::string& declaredType, TFieldClass fallback) {
    const std::string t = Upper(declaredType);
    if (t.empty()) return fallback;
    if (Has(t, "WORD") || Has(t, "UNSIGNED SMALLINT")) return TFieldClass::Word;
    if (Has(t, "SMALLINT") || Has(t, "INT2") || Has(t, "TINYINT")) return TFieldClass::Smallint;
    if (Has(t, "MONEY") || Has(t, "CURRENCY")) return TFieldClass::Currency;
    if (Has(t, "BOOL")) return TFieldClass::Boolean;
    if (Has(t, "DATETIME") || Has(t, "TIMESTAMP")) return TFieldClass::DateTime;
    if (Has(t, "DATE")) return TFieldClass::Date;
    if (Has(t, "TIME")) return TFieldClass::Time;
    if (Has(t, "INT")) return TFieldClass::Integer;
    if (Has(t, "MEMO") || Has(t, "CLOB") || Has(t, "LONGTEXT")) return TFieldClass::Memo;
    if (Has(t, "CHAR") || Has(t, "TEXT") || Has(t, "STRING")) return TFieldClass::String;
    if (Has(t, "BLOB") || Has(t, "BINARY") || Has(t, "BYTEA")) return TFieldClass::Blob;
    // REAL, FLOAT, DOUBLE, NUMERIC, DECIMAL and types SQLite would give numeric affinity.
    return TFieldClass::Float;
}

std::string QuoteIdentifier(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// A result set read forward only. Two kinds: SQLite connections are read straight through the
// driver's native handle (the per-row cost of the generic path dominates a load otherwise); every
// other driver goes through QSqlQuery.
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

namespace {

class TSqliteCursor final : public TCursor {
  public:
    // Errors are prefixed with `label`, which names the database.
    TSqliteCursor(sqlite3* db, const std::string& sql, std::string label)
        : db_(db), label_(std::move(label)) {
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK || !stmt_) {
            const std::string error = sqlite3_errmsg(db_);
            sqlite3_finalize(stmt_);
            stmt_ = nullptr;
            throw EDatabaseError(label_ + ": " + error);
        }
    }
    ~TSqliteCursor() override { sqlite3_finalize(stmt_); }

    bool Exec() override {
        sqlite3_reset(stmt_);
        return Step();
    }
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

  public:
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
    bool BlankText(int i) const {
        const auto* text = sqlite3_column_text(stmt_, i);
        const int size = sqlite3_column_bytes(stmt_, i);
        return std::all_of(text, text + size, [](unsigned char c) { return IsBlank(c); });
    }
    bool Step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return hasRow_ = true;
        hasRow_ = false;
        if (rc != SQLITE_DONE) throw EDatabaseError(label_ + ": " + sqlite3_errmsg(db_));
        return false;
    }

    sqlite3* db_;
    std::string label_;
    sqlite3_stmt* stmt_ = nullptr;
    bool hasRow_ = false;
};

class TQtCursor final : public TCursor {
  public:
    TQtCursor(const QSqlDatabase& db, const std::string& sql, std::string label)
        : query_(db), sql_(QString::fromStdString(sql)), label_(std::move(label)) {
        query_.setForwardOnly(true);
    }
    bool Exec() override {
        query_.finish();
        if (!query_.exec(sql_))
            throw EDatabaseError(label_ + ": " + query_.lastError().text().toStdString());
        record_ = query_.record();
        return hasRow_ = query_.next();
    }
    bool Next() override { return hasRow_ = query_.next(); }
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
    QSqlQuery query_;
    QString sql_;
    std::string label_;
    QSqlRecord record_;
    bool hasRow_ = false;
};

}  // namespace

// A SQLite database file, opened read-only by the dataset itself: never through the handle
// inside Qt's driver, whose SQLite may be another copy of the library than ours. A database in
// WAL mode whose folder does not let the reader make its -shm file is opened as immutable.
class TSqliteConnection {
  public:
    TSqliteConnection(const std::string& path, const std::string& label) : label_(label) {
        Open(path, false);
    }
    ~TSqliteConnection() { sqlite3_close(db_); }
    TSqliteConnection(const TSqliteConnection&) = delete;
    TSqliteConnection& operator=(const TSqliteConnection&) = delete;

    sqlite3* Handle() const { return db_; }

    // Prepares `sql`, reopening the file as immutable once when the first statement cannot open
    // its -shm file.
    std::unique_ptr<TSqliteCursor> Cursor(const std::string& sql) {
        try {
            return std::make_unique<TSqliteCursor>(db_, sql, label_);
        } catch (const EDatabaseError&) {
            if ((sqlite3_extended_errcode(db_) & 0xff) != SQLITE_CANTOPEN || immutable_) throw;
        }
        sqlite3_close(db_);
        db_ = nullptr;
        Open(path_, true);
        return std::make_unique<TSqliteCursor>(db_, sql, label_);
    }

    int64_t Count(const std::string& sql) {
        auto cursor = Cursor(sql);
        double count = 0;
        if (!cursor->Exec() || !cursor->Number(0, count))
            throw EDatabaseError(label_ + ": the record count gave no number");
        return static_cast<int64_t>(count);
    }

  private:
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
        sqlite3_extended_result_codes(db_, 1);
    }

    sqlite3* db_ = nullptr;
    std::string path_;
    std::string label_;
    bool immutable_ = false;
};

struct TDataSet::Impl {
    QSqlDatabase db;  // a configured connection of another driver
    std::unique_ptr<TSqliteConnection> lite;
    std::unique_ptr<TCursor> cursor;
    bool active = false;
    bool eof = true;
    bool moved = false;  // the cursor has left the first record since the statement ran
    int32_t recNo = 0;   // of the current record, from 1
    int32_t recordCount = -1;

    void Release() {
        cursor.reset();  // before the connection: a statement must not outlive it
        lite.reset();
        db = QSqlDatabase();
        active = false;
        eof = true;
        moved = false;
        recNo = 0;
        recordCount = -1;
    }
};

TDataSet::TDataSet(TComponent* owner) : TComponent(owner), impl_(std::make_unique<Impl>()) {
    InstallMessageBoxes();
}

TDataSet::~TDataSet() { Close(); }

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
    const QString dbName = QString::fromStdString(databaseName_);
    const std::string label = "Database '" + databaseName_ + "'";
    try {
        const std::string sql = SelectStatement();
        if (!dbName.isEmpty() && QSqlDatabase::contains(dbName)) {
            // A configured connection: a SQLite one is read through a connection of our own to
            // its file, any other through Qt Sql.
            QSqlDatabase configured = QSqlDatabase::database(dbName, false);
            if (configured.driverName() == QStringLiteral("QSQLITE")) {
                d.lite = std::make_unique<TSqliteConnection>(
                    configured.databaseName().toStdString(), label);
            } else {
                d.db = QSqlDatabase::database(dbName, true);
                if (!d.db.isOpen())
                    throw EDatabaseError("Cannot open database '" + databaseName_ +
                                         "': " + d.db.lastError().text().toStdString());
            }
        } else {
            if (databaseName_.empty()) throw EDatabaseError("No database name given");
            QFileInfo info(dbName);
            if (info.isRelative() && !baseDirectory_.empty())
                info = QFileInfo(QDir(QString::fromStdString(baseDirectory_)), dbName);
            if (!info.exists() || !info.isFile())
                throw EDatabaseError("Database '" + databaseName_ + "' not found");
            d.lite = std::make_unique<TSqliteConnection>(
                QFile::encodeName(info.absoluteFilePath()).toStdString(), label);
        }
        if (d.lite)
            d.cursor = d.lite->Cursor(sql);
        else
            d.cursor = std::make_unique<TQtCursor>(d.db, sql, label);
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

int32_t TDataSet::RecordCount() {
    CheckActive();
    Impl& d = *impl_;
    if (d.recordCount < 0) {
        if (d.lite) {
            d.recordCount = static_cast<int32_t>(d.lite->Count(CountStatement()));
        } else {
            QSqlQuery count(d.db);
            count.setForwardOnly(true);
            if (!count.exec(QString::fromStdString(CountStatement())) || !count.next())
                throw EDatabaseError("Database '" + databaseName_ +
                                     "': " + count.lastError().text().toStdString());
            d.recordCount = static_cast<int32_t>(count.value(0).toLongLong());
        }
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
    for (const auto& f : fields_)
        if (f->FieldName() == name) return f.get();
    for (const auto& f : fields_)
        if (EqualsNoCase(f->FieldName(), name)) return f.get();
    return nullptr;
}

TField* TDataSet::FieldByName(const std::string& name) const {
    if (TField* f = FindField(name)) return f;
    throw EDatabaseError(Name().empty() ? "Field '" + name + "' not found"
                                        : Name() + ": Field '" + name + "' not found");
}

void TDataSet::GetFieldNames(TStringList& list) const {
    for (const auto& f : fields_) list.Add(f->FieldName());
}

// Fields

bool TField::IsNull() const {
    dataSet_->CheckActive();
    const auto& d = *dataSet_->impl_;
    return d.eof || d.cursor->IsNull(index_);
}

bool TField::IsBlank() const {
    dataSet_->CheckActive();
    const auto& d = *dataSet_->impl_;
    return !d.eof && d.cursor->IsBlankText(index_);
}

TField::TState TField::State() const {
    dataSet_->CheckActive();
    const auto& d = *dataSet_->impl_;
    return d.eof ? TState::Null : d.cursor->State(index_);
}

void TDataSet::PeekCells(const int* columns, int count, TCell* cells) const {
    CheckActive();
    if (impl_->eof) {
        for (int k = 0; k < count; ++k) cells[k] = TCell();
        return;
    }
    impl_->cursor->PeekCells(columns, count, cells);
}

TCell* TRowReader::Add(const TField* field) {
    if (count_ == kCapacity) throw std::length_error("a row reader holds 32 fields at most");
    columns_[count_] = field->Index();
    return &cells_[count_++];
}

void TRowReader::Read(const TDataSet& dataSet) { dataSet.PeekCells(columns_, count_, cells_); }

TField::TState TField::Peek(double& number, bool& isNumber) const {
    dataSet_->CheckActive();
    const auto& d = *dataSet_->impl_;
    isNumber = false;
    return d.eof ? TState::Null : d.cursor->Peek(index_, number, isNumber);
}

double TField::AsFloat() const {
    dataSet_->CheckActive();
    const auto& d = *dataSet_->impl_;
    if (d.eof || d.cursor->IsNull(index_)) return 0.0;
    double number;
    if (d.cursor->Number(index_, number)) return number;
    const QVariant v = d.cursor->Value(index_);
    switch (v.typeId()) {
        case QMetaType::QDate:
        case QMetaType::QDateTime:
        case QMetaType::QTime: {
            if (v.typeId() == QMetaType::QTime)
                return ToDays(QDateTime(QDate(1970, 1, 1), v.toTime()));
            return ToDays(v.toDateTime());
        }
        default:
            break;
    }
    const std::string text = v.toString().toStdString();
    if (dynamic_cast<const TDateTimeField*>(this)) {
        QDateTime dt = QDateTime::fromString(QString::fromStdString(text), Qt::ISODate);
        if (!dt.isValid())
            dt = QDateTime(QDate::fromString(QString::fromStdString(text), Qt::ISODate),
                           QTime(0, 0));
        if (dt.isValid()) return ToDays(dt);
    }
    try {
        return StrToFloat(text);
    } catch (const EConvertError&) {
        throw EConvertError("'" + text + "' is not a valid floating point value for field '" +
                            FieldName() + "' in record " + IntToStr(d.recNo));
    }
}

std::string TField::AsString() const {
    dataSet_->CheckActive();
    const auto& d = *dataSet_->impl_;
    if (d.eof || d.cursor->IsNull(index_)) return {};
    const QVariant v = d.cursor->Value(index_);
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

std::string TQuery::SelectStatement() const {
    std::string sql;
    for (const auto& line : sql_.Items()) sql += line + "\n";
    sql = TrimStatement(sql);
    if (sql.empty()) throw EDatabaseError("No SQL statement available");
    return sql;
}

std::string TQuery::CountStatement() const {
    return "SELECT COUNT(*) FROM (" + SelectStatement() + ") AS tav_count";
}

}  // namespace tav
