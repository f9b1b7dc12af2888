// Fields and what reads them, without the database behind them.
//
// A field is one column of a record source's current record. Its values come from the source
// (TFieldSource), which the data library's TDataSet implements over a database cursor; a reader of
// values needs nothing more, so the variable library reads fields through this header alone. The
// header exposes no Qt types.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tav {

class TFieldSource;

// Base of all fields. Values are read from the source's current record.
class TField {
  public:
    virtual ~TField() = default;
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    const std::string& FieldName() const { return name_; }
    // The column's declared type as the database reports it ("SMALLINT", "MONEY", ...).
    const std::string& DeclaredType() const { return declaredType_; }
    int Index() const { return index_; }
    // The dataset the field belongs to.
    TFieldSource* Source() const { return source_; }
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
    TField(TFieldSource* source, std::string name, int index, std::string declaredType)
        : source_(source),
          name_(std::move(name)),
          declaredType_(std::move(declaredType)),
          index_(index) {}

  private:
    TFieldSource* source_;
    std::string name_;
    std::string declaredType_;
    int index_;
};

#define TAV_FIELD_CLASS(Name, Base)                                                   \
    class Name : public Base {                                                        \
      public:                                                                         \
        Name(TFieldSource* source, std::string name, int index, std::string declType) \
            : Base(source, std::move(name), index, std::move(declType)) {}            \
        const char* ClassName() const override { return #Name; }                      \
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

// What fields and their readers see of a dataset: its fields by name and the values of its current
// record. Every operation on a closed source raises EDatabaseError.
class TFieldSource {
  public:
    virtual ~TFieldSource() = default;
    // Case-insensitive lookup; raises EDatabaseError "Field 'X' not found".
    virtual TField* FieldByName(const std::string& name) const = 0;
    // Looks at the given columns of the current record (TRowReader's work).
    virtual void PeekCells(const int* columns, int count, TCell* cells) const = 0;

  protected:
    friend class TField;
    // The answers of TField's readers of the same names for `field`, one of the source's own.
    virtual bool FieldIsNull(const TField& field) const = 0;
    virtual bool FieldIsBlank(const TField& field) const = 0;
    virtual TField::TState FieldState(const TField& field) const = 0;
    virtual TField::TState FieldPeek(const TField& field, double& number, bool& isNumber) const = 0;
    virtual double FieldAsFloat(const TField& field) const = 0;
    virtual std::string FieldAsString(const TField& field) const = 0;
};

// Records read one after another, each through the fields of a TFieldSource: what a whole-table
// fit reads when it sums the records in the client.
class TRecordStream {
  public:
    virtual ~TRecordStream() = default;
    // The fields of the current record.
    virtual const TFieldSource& Fields() const = 0;
    // Moves to the next record (the first at the first call); false past the last.
    virtual bool Next() = 0;
    // The records the stream holds, for progress; -1 when it cannot tell.
    virtual int64_t Count() const { return -1; }
    // After Next gave false: whether the records given since the first must be read again,
    // because the stream found that it gave them otherwise than it should have; Next then gives
    // the first record again. A stream asked once answers false after.
    virtual bool Reread() { return false; }

    // Splits the records not yet read near the middle so that two threads may read them: gives
    // a stream of the second part's records from its first, and Next then stops where they
    // begin. Nothing (and no change) when the stream cannot split or has too little left. The
    // part is read as a guess: only TakeSplitPart tells whether its records count.
    virtual std::unique_ptr<TRecordStream> Split() { return nullptr; }
    // After Next gave false: whether the records of the part split off count in place of those
    // this stream would have read next. `partRead`: the part's stream gave all its records
    // without an error and does not want them read again. When they do not count, Next goes on
    // with them as though the stream had never split (false at once if it has read past them,
    // the split having fallen inside a record).
    virtual bool TakeSplitPart(bool /*partRead*/) { return false; }
};

// The values of chosen fields of the current record, read in one pass over the record (one look
// at each value's type): what a loader reads of every record.
class TRowReader {
  public:
    static constexpr int kCapacity = 32;
    void Clear() { count_ = 0; }
    // The cell that will hold `field`'s value; raises std::length_error past kCapacity fields.
    TCell* Add(const TField* field);
    // Reads the cells from the current record of `source`.
    void Read(const TFieldSource& source);

  private:
    int count_ = 0;
    int columns_[kCapacity] = {};
    TCell cells_[kCapacity];
};

}  // namespace tav
