// Datasets and fields of the host layer, over Qt Sql.
//
// A dataset reads its result set forward only: Open runs the statement and makes the first record
// current, Next moves on, Eof tells when the records are used up, and First runs the statement
// again. RecordCount is a COUNT(*) run once per open and kept. Fields are created at Open, one per
// column, with their class chosen from the column's declared type (see FieldClassForType); the
// dataset owns them and frees them at Close.
//
// DatabaseName is either the name of a Qt Sql connection the application has configured, or the
// path of an existing SQLite file (opened read-only: reading never creates a file). The header
// exposes no Qt types, so the variable library can read fields through it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/classes.h"

namespace tav {

class TDataSet;
class TCursor;

// Base of all fields. Values are read from the dataset's current record.
class TField {
  public:
    virtual ~TField() = default;
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    const std::string& FieldName() const { return name_; }
    // The column's declared type as the database reports it ("SMALLINT", "MONEY", ...).
    const std::string& DeclaredType() const { return declaredType_; }
    int Index() const { return index_; }
    TDataSet* DataSet() const { return dataSet_; }
    virtual const char* ClassName() const { return "TField"; }

    bool IsNull() const;
    // Whether the value is a text that is empty or only blanks: a missing value where a number
    // is read.
    bool IsBlank() const;
    // Both questions at once, for loaders that ask them of every value.
    enum class TState { Value, Null, Blank };
    TState State() const;
    // The state, and where the value is stored as a number, the number (`isNumber` true); one look
    // at the value's type. Any other value is read with AsFloat.
    TState Peek(double& number, bool& isNumber) const;
    // The value as a double; 0 for a null value. A text that is not a number raises
    // EConvertError naming the field, the record and the text.
    double AsFloat() const;
    std::string AsString() const;

  protected:
    TField(TDataSet* dataSet, std::string name, int index, std::string declaredType)
        : dataSet_(dataSet),
          name_(std::move(name)),
          declaredType_(std::move(declaredType)),
          index_(index) {}

  private:
    friend class TDataSet;
    TDataSet* dataSet_;
    std::string name_;
    std::string declaredType_;
    int index_;
};

#define TAV_FIELD_CLASS(Name, Base)                                               \
    class Name : public Base {                                                    \
      public:                                                                     \
        Name(TDataSet* ds, std::string name, int index, std::string declaredType) \
            : Base(ds, std::move(name), index, std::move(declaredType)) {}        \
        const char* ClassName() const override { return #Name; }                  \
    }

TAV_FIELD_CLASS(TNumericField, TField);
TAV_FIELD_CLASS(TFloatField, TNumericField);
TAV_FIELD_CLASS(TCurrencyField, TFloatField);
TAV_FIELD_CLASS(TIntegerField, TNumericField);
TAV_FIELD_CLASS(TSmallintField, TIntegerField);
TAV_FIELD_CLASS(TWordField, TIntegerField);
TAV_FIELD_CLASS(TStringField, TField);
TAV_FIELD_CLASS(TBooleanField, TField);
TAV_FIELD_CLASS(TDateTimeField, TField);
TAV_FIELD_CLASS(TDateField, TDateTimeField);
TAV_FIELD_CLASS(TTimeField, TDateTimeField);
TAV_FIELD_CLASS(TBlobField, TField);
TAV_FIELD_CLASS(TMemoField, TBlobField);

#undef TAV_FIELD_CLASS

// Field classes by declared column type.
enum class TFieldClass {
    Float,
    Currency,
    Integer,
    Smallint,
    Word,
    String,
    Boolean,
    DateTime,
    Date,
    Time,
    Blob,
    Memo
};
// Maps a declared column type to a field class; an empty type (an expression column) gives
// `fallback`.
TFieldClass FieldClassForType(const std::string& declaredType, TFieldClass fallback);

// A value of the current record as a loader first looks at it: its state and, where it is stored
// as a number, the number. `converted` is for the reader's user, who may keep another reading of
// the value (AsFloat's) in `number` once it has made one.
struct TCell {
    TField::TState state = TField::TState::Null;
    bool isNumber = false;
    bool converted = false;
    double number = 0;
};

// The values of chosen fields of the current record, read in one pass over the record (one look
// at each value's type): what a loader reads of every record.
class TRowReader {
  public:
    static constexpr int kCapacity = 32;
    void Clear() { count_ = 0; }
    // The cell that will hold `field`'s value; raises std::length_error past kCapacity fields.
    TCell* Add(const TField* field);
    // Reads the cells from the current record of `dataSet`.
    void Read(const TDataSet& dataSet);

  private:
    int count_ = 0;
    int columns_[kCapacity] = {};
    TCell cells_[kCapacity];
};

// A bound on every statement of every dataset in the process, whatever their QueryTimeout says:
// for an application that must not hang on a form file's datasets (tavreg --timeout,
// tavdesigner). A statement's bound is the smaller of its dataset's QueryTimeout and the cap,
// each where it is not 0; datasets opened from now on take it. 0, the default, for no cap;
// SetStatementTimeoutCap raises EDatabaseError outside 0 to TDataSet::kMaxQueryTimeout.
void SetStatementTimeoutCap(int seconds);
int StatementTimeoutCap();

class TDataSet : public TComponent {
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

    int FieldCount() const { return static_cast<int>(fields_.size()); }
    TField* Fields(int index) const;
    // Case-insensitive lookup; raises EDatabaseError "Field 'X' not found".
    TField* FieldByName(const std::string& name) const;
    TField* FindField(const std::string& name) const;
    // Appends the names of all fields in column order.
    void GetFieldNames(TStringList& list) const;
    // Looks at the given columns of the current record (TRowReader's work).
    void PeekCells(const int* columns, int count, TCell* cells) const;

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
    void CheckInactive() const;

  private:
    friend class TField;
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

// "name" with embedded quotes doubled.
std::string QuoteIdentifier(const std::string& name);

// Whether two field names name the same field, as FieldByName finds fields: equal but for the
// case of ASCII letters.
bool SameFieldName(const std::string& a, const std::string& b);

}  // namespace tav
