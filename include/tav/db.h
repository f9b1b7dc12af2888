// Datasets and fields of the host layer, over Qt Sql.
//
// A dataset reads its result set forward only: Open runs the statement and makes the first record
// current, Next moves on, Eof tells when the records are used up, and First runs the statement
// again. RecordCount is a COUNT(*) run once per open and kept. Fields are created at Open, one per
// column, with their class chosen from the column's declared type (see FieldClassForType); the
// dataset owns them and frees them at Close.
//
// DatabaseName is either the name of a Qt Sql connection the application has configured, or the
// path of an existing SQLite file (opened read-only: reading never creates a file). The fields and
// the interface through which they read the current record are the base library's
// (tav/fields.h). The header exposes no Qt types.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tav/classes.h"
#include "tav/fields.h"

namespace tav {

class TCursor;

// A bound on every statement of every dataset in the process, whatever their QueryTimeout says:
// for an application that must not hang on a form file's datasets (tavreg --timeout,
// tavdesigner). A statement's bound is the smaller of its dataset's QueryTimeout and the cap,
// each where it is not 0; datasets opened from now on take it. 0, the default, for no cap;
// SetStatementTimeoutCap raises EDatabaseError outside 0 to TDataSet::kMaxQueryTimeout.
void SetStatementTimeoutCap(int seconds);
int StatementTimeoutCap();

// A bound on the memory SQLite may take in this process (its heap: page caches, sorts, values
// being built), so that a query asking for gigabytes ends in "out of memory" instead of taking
// them. SQLite knows only one bound for the whole process: it is a hard one (an allocation past
// it fails; a soft bound only asks caches to shrink and stops no query), applied when the first
// SQLite connection of the library opens, and raised by the size of the images registered with
// RegisterSqliteImage while they are held, which are data, not a query's working memory. 0 for
// no bound; kDefaultSqliteHeapLimit without a call.
constexpr int64_t kDefaultSqliteHeapLimit = int64_t{1} << 30;
void SetSqliteHeapLimit(int64_t bytes);
int64_t SqliteHeapLimit();

// A dataset: a component that reads the result set of its statement (SelectStatement) through
// its own connection; not made on its own, only as a TTable or a TQuery. Its fields exist while
// it is open.
class TDataSet : public TComponent, public TFieldSource {
  public:
    explicit TDataSet(TComponent* owner = nullptr);
    ~TDataSet() override;
    const char* ClassName() const override { return "TDataSet"; }

    const std::string& DatabaseName() const { return databaseName_; }
    void SetDatabaseName(const std::string& name);

    // Folder against which a relative SQLite path is resolved when the dataset opens (a form
    // file's folder); empty for the working folder. DatabaseName itself keeps the text as given.
    const std::string& BaseDirectory() const { return baseDirectory_; }
    void SetBaseDirectory(const std::string& folder) { baseDirectory_ = folder; }

    // Seconds a statement may spend in the database (the record count, and the query from its
    // start to its last record) before it is interrupted with EDatabaseError "The query did not
    // finish within N seconds"; 0, the default, for no bound. An open dataset's next statements
    // take a new bound as well.
    static constexpr int kMaxQueryTimeout = 86400;
    int QueryTimeout() const { return queryTimeout_; }
    // Raises EDatabaseError outside 0 to kMaxQueryTimeout.
    void SetQueryTimeout(int seconds);

    bool Active() const;
    void SetActive(bool active);
    void Open();
    void Close();

    void First();
    void Next();
    bool Eof() const;
    // The number of the current record, from 1 for the first of the result set (0 when there is
    // none).
    int32_t RecNo() const;
    // Number of records of the open result set, counted once per open.
    int32_t RecordCount();
    // Runs `head` (<the dataset's statement>) AS t `tail`, an aggregate of one row over the
    // records, as the record count runs (the same connection, snapshot, refusals and time bound),
    // and gives its values as the database writes them (none for a null). The database must sum
    // records itself (PostgreSQL); others raise EDatabaseError. The dataset must be open.
    std::vector<std::optional<std::string>> AggregateRow(const std::string& head,
                                                         const std::string& tail = {});

    // For a whole table read on two threads: the records from about the middle of the result
    // set on, as a dataset of their own (the same database, bound and fields), open on the first
    // of them, and in `before` how many records this dataset gives ahead of them. Nothing where
    // the database cannot tell where the middle is in the order this dataset reads, or may show
    // the second dataset other records; only a table of a SQLite database read in its order of
    // rowids is split. The dataset must be open.
    std::unique_ptr<TDataSet> SplitRest(int64_t& before);

    int FieldCount() const { return static_cast<int>(fields_.size()); }
    TField* Fields(int index) const;
    // Case-insensitive lookup; raises EDatabaseError "Field 'X' not found".
    TField* FieldByName(const std::string& name) const override;
    TField* FindField(const std::string& name) const;
    // Appends the names of all fields in column order.
    void GetFieldNames(TStringList& list) const;
    // Looks at the given columns of the current record (TRowReader's work).
    void PeekCells(const int* columns, int count, TCell* cells) const override;

    void DisableControls() { ++disableCount_; }
    void EnableControls() {
        if (disableCount_ > 0) --disableCount_;
    }
    bool ControlsDisabled() const { return disableCount_ > 0; }

    // Raises EDatabaseError when the dataset is closed.
    void CheckActive() const;

  protected:
    // The statement that produces the result set, and the one that counts it.
    virtual std::string SelectStatement() const = 0;
    virtual std::string CountStatement() const = 0;
    // The table the statement reads whole, quoted; empty for any other statement.
    virtual std::string WholeTable() const { return {}; }
    void CheckInactive() const;

    bool FieldIsNull(const TField& field) const override;
    bool FieldIsBlank(const TField& field) const override;
    TField::TState FieldState(const TField& field) const override;
    TField::TState FieldPeek(const TField& field, double& number, bool& isNumber) const override;
    double FieldAsFloat(const TField& field) const override;
    std::string FieldAsString(const TField& field) const override;

  private:
    TField* FindFieldUncached(const std::string& name) const;
    // The bound its connection runs statements with: QueryTimeout under the process's cap.
    int StatementTimeout() const;
    static constexpr std::size_t kLookupCacheSize =
        64;  // the lookup takes the top 6 bits of a hash
    mutable std::array<TField*, kLookupCacheSize> lookupCache_{};
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string databaseName_;
    std::string baseDirectory_;
    int queryTimeout_ = 0;
    std::vector<std::unique_ptr<TField>> fields_;
    int disableCount_ = 0;
};

// A whole table; its name is always quoted as an identifier.
class TTable : public TDataSet {
  public:
    explicit TTable(TComponent* owner = nullptr) : TDataSet(owner) {}
    const char* ClassName() const override { return "TTable"; }
    const std::string& TableName() const { return tableName_; }
    void SetTableName(const std::string& name);

  protected:
    std::string SelectStatement() const override;
    std::string CountStatement() const override;
    std::string WholeTable() const override;

  private:
    std::string tableName_;
};

// A query; its SQL is a list of lines run as written.
class TQuery : public TDataSet {
  public:
    explicit TQuery(TComponent* owner = nullptr) : TDataSet(owner) {}
    const char* ClassName() const override { return "TQuery"; }
    const TStringList& SQL() const { return sql_; }
    void SetSQL(const TStringList& sql);
    void SetSQLText(const std::string& text);

  protected:
    std::string SelectStatement() const override;
    std::string CountStatement() const override;

  private:
    TStringList sql_;
};

// Whether a DatabaseName is a connection URL: postgresql://user@host:port/dbname (also
// postgres://), with options as query items (?sslmode=require). A password is refused: libpq takes
// it from PGPASSWORD or ~/.pgpass.
bool IsConnectionUrl(const std::string& databaseName);

// "name" with embedded quotes doubled.
std::string QuoteIdentifier(const std::string& name);

// Whether two field names name the same field, as FieldByName finds fields: equal but for the
// case of ASCII letters.
bool SameFieldName(const std::string& a, const std::string& b);

}  // namespace tav
