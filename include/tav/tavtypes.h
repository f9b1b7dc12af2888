// Definitions of the variables of a regression.
//
// A variable is a string list of exactly six texts; every parameter, numbers included, is kept as
// text and converted when it is used, so that a definition streams into a form file as the plain
// list of its entries. Copies are made with Assign. Transformation codes and usage states are
// compared exactly and case-sensitively.
#pragma once

#include <exception>
#include <string>

#include "tav/classes.h"
#include "tav/fields.h"
#include "tav/maxdata.h"
#include "tav/transformations.h"

namespace tav {

// A control (independent) variable: entries Usage, Transformation, Field1, Field2, Exponent,
// ScaleFactor. Usage and Transformation are coupled by their setters.
class TIndepVar : public TStringList {
  public:
    TIndepVar();

    void SetParameters(int index, const std::string& value) { SetStrings(index, value); }

    const std::string& Usage() const { return Strings(0); }
    const std::string& Transformation() const { return Strings(1); }
    const std::string& Field1() const { return Strings(2); }
    const std::string& Field2() const { return Strings(3); }
    const std::string& Exponent() const { return Strings(4); }
    const std::string& ScaleFactor() const { return Strings(5); }

    // "Inactive" also makes the transformation "Undefined".
    void SetUsage(const std::string& value);
    // Any code other than "Undefined" also makes the usage "Active".
    void SetTransformation(const std::string& value);
    void SetField1(const std::string& value) { SetParameters(2, value); }
    void SetField2(const std::string& value) { SetParameters(3, value); }
    void SetExponent(const std::string& value) { SetParameters(4, value); }
    void SetScaleFactor(const std::string& value) { SetParameters(5, value); }

    // Whether the dataset's current record can be used for this variable, and if not, why.
    bool ValidTransformation(const TFieldSource& dataSet) const {
        return CheckRecord(dataSet) == TSkipReason::None;
    }
    TSkipReason CheckRecord(const TFieldSource& dataSet) const;
    // The variable's value on the current record; call only for records found valid.
    double Process(const TFieldSource& dataSet) const;
    // The variable's term in the fitted equation ("Ln(SALES)", "PRICE*UNITS", ...).
    std::string OutputTerm() const;
    // The variable's value for the values of its fields (field2 read by the kinds of two fields
    // only), by the rules of a load; `reason` tells why there is none (the result is then 0).
    double ValueOf(double field1, double field2, TSkipReason& reason) const;
    // The kind the transformation code names; null for a code no control variable has.
    const TTransformationKind* Kind() const { return FindKind(Transformation(), TRole::Control); }

    // Why `entries` (a stored definition, such as a form file's list) are not a control variable:
    // not six entries, a usage other than Active or Inactive, an unknown transformation code, or
    // an Inactive usage with a transformation other than Undefined (a state the setters never
    // leave, and one in which the variable would still enter the fit). "" when they are one.
    static std::string DefinitionError(const TStringList& entries);
};

// The response (dependent) variable: entries 1 (Transformation), 2 (FieldName) and
// 5 (ScaleFactor) are used; 0, 3 and 4 stay "Undefined".
class TDependentVar : public TStringList {
  public:
    TDependentVar();

    void SetParameters(int index, const std::string& value) { SetStrings(index, value); }

    const std::string& Transformation() const { return Strings(1); }
    const std::string& FieldName() const { return Strings(2); }
    const std::string& ScaleFactor() const { return Strings(5); }

    void SetTransformation(const std::string& value) { SetParameters(1, value); }
    void SetField(const std::string& value) { SetParameters(2, value); }
    void SetScaleFactor(const std::string& value) { SetParameters(5, value); }

    bool ValidTransformation(const TFieldSource& dataSet) const {
        return CheckRecord(dataSet) == TSkipReason::None;
    }
    TSkipReason CheckRecord(const TFieldSource& dataSet) const;
    double Process(const TFieldSource& dataSet) const;
    std::string OutputTerm() const;
    // The kind the transformation code names; null for a code no response has.
    const TTransformationKind* Kind() const { return FindKind(Transformation(), TRole::Response); }

    // Why `entries` are not a response variable: not six entries, or a transformation other than
    // None, Log, Inverse and Scale (the response is always fitted, so Undefined is none either).
    // The entries no operation reads are not looked at. "" when they are one.
    static std::string DefinitionError(const TStringList& entries);
};

// True for fields of the float, integer, small-integer, word and currency classes and of classes
// derived from them.
bool NumericField(const TField* field);

// A variable made ready for the records of one load: its fields looked up and its parameter
// parsed once, its kind found, its fields read with the others of the record by one TRowReader.
// Check and Process follow the variable's rules (CheckRecord, Process) exactly. An error the
// definition holds (a field the dataset lacks, an exponent that is not a number) is raised when a
// record reaches it, as the plain rules raise it; a text that is no number, when its value is
// first asked for. The variable, the dataset and the reader must outlive the preparation, and the
// dataset stay open.
class TPreparedVar {
  public:
    // Looks the fields up and adds them to `reader`, which reads them for every record.
    void Prepare(const TIndepVar& var, const TFieldSource& ds, TRowReader& reader);
    void Prepare(const TDependentVar& var, const TFieldSource& ds, TRowReader& reader);
    // The field as it is, stored as a number, is every load's commonest case: answered here.
    TSkipReason Check() {
        if (plain_ && !field1_.failed && field1_.cell->state == TField::TState::Value)
            return TSkipReason::None;
        return CheckAny();
    }
    double Process() {
        if (plain_ && !field1_.failed && field1_.cell->converted) return field1_.cell->number;
        return ProcessAny();
    }

  private:
    struct TSlot {
        const TField* field = nullptr;
        TCell* cell = nullptr;
        bool failed = false;
        std::exception_ptr error;  // the lookup's, raised at the first use
    };
    struct TNumber {
        double value = 0;
        std::exception_ptr error;
    };
    class TRecordOperands;
    void Prepare(const TStringList& var, TRole role, const TFieldSource& ds, TRowReader& reader);
    TSkipReason CheckAny();
    double ProcessAny();
    static void Resolve(TSlot& slot, const TFieldSource& ds, const std::string& name,
                        TRowReader& reader);
    static void Parse(TNumber& number, const std::string& text);
    static double Number(const TNumber& number);
    static TSkipReason Missing(const TSlot& slot);
    static double Value(const TSlot& slot);

    const TTransformationKind* kind_ = nullptr;  // null: a code the role does not know
    bool plain_ = false;                         // the kind None
    TRole role_ = TRole::Control;
    std::string codeText_;
    TSlot field1_, field2_;
    TNumber parameter_;
};

// The rules of a load for every record: the response and the control variables in use, prepared
// once, tell whether the current record is usable and, if so, its values. One record is refused
// for the first reason met: the control variables' rules in their order, then the response's,
// then a value that is not a finite number (the response's first): an infinity stored in the
// database, or a power or product beyond the double range, never reaches a fit.
class TRecordRules {
  public:
    // Prepares the response and controls[0..count-1] for the records of `source`, which must
    // outlive the rules and stay open.
    void Prepare(const TDependentVar& response, const TIndepVar* const* controls, int count,
                 const TFieldSource& source);
    // Reads the current record of the source: TSkipReason::None and values[0] (the response),
    // values[1..count] (the controls) when it is usable; otherwise the reason, and in `variable`
    // the variable that refused it (0 the response, k the k-th control).
    TSkipReason Evaluate(const TFieldSource& source, double* values, int& variable);
    int Count() const { return count_; }

  private:
    TPreparedVar prepared_[MaxTerms + 1];
    TRowReader reader_;
    int count_ = 0;
};

}  // namespace tav
