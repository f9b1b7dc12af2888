// Definitions of the variables of a regression.
//
// A variable is a string list of exactly six texts; every parameter, numbers included, is kept as
// text and converted when it is used, so that a definition streams into a form file as the plain
// list of its entries. Copies are made with Assign. Transformation codes and usage states are
// compared exactly and case-sensitively.
#pragma once

#include <cstdint>
#include <string>

#include "host/classes.h"

namespace tav {

class TDataSet;
class TField;

// Threshold of every validity and invariance test, compared in extended precision. It is the
// double nearest to 1E-20, so that a field value of 1E-20 lies exactly on the threshold: accepted
// by the ">=" tests (divisors) and rejected by the ">" tests (logarithm, square root).
inline constexpr long double kZeroTolerance = static_cast<long double>(1.0E-20);

// Why a record cannot be used for a variable (None: it can).
enum class TSkipReason : uint8_t {
    None,
    NullField,                // a field the variable reads is null
    EmptyText,                // ... holds a text that is empty or only blanks
    NotFinite,                // a value, exponent or factor, or the result, is not a finite number
    NotPositive,              // the logarithm or square root of a value <= 1E-20
    SmallDivisor,             // a divisor of magnitude below 1E-20
    ExponentBelowHalf,        // a power whose exponent is below 0.5
    ZeroScaleFactor,          // a scale factor of magnitude <= 1E-20
    NegativeFractionalPower,  // a fractional power of a negative value
};
inline constexpr int kSkipReasonCount = 9;
// "null field", "empty text", "value not finite", ...
const char* SkipReasonText(TSkipReason reason);

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
    bool ValidTransformation(const TDataSet& dataSet) const {
        return CheckRecord(dataSet) == TSkipReason::None;
    }
    TSkipReason CheckRecord(const TDataSet& dataSet) const;
    // The variable's value on the current record; call only for records found valid.
    double Process(const TDataSet& dataSet) const;
    // The variable's term in the fitted equation ("Ln(SALES)", "PRICE*UNITS", ...).
    std::string OutputTerm() const;
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

    bool ValidTransformation(const TDataSet& dataSet) const {
        return CheckRecord(dataSet) == TSkipReason::None;
    }
    TSkipReason CheckRecord(const TDataSet& dataSet) const;
    double Process(const TDataSet& dataSet) const;
    std::string OutputTerm() const;
};

// True for fields of the float, integer, small-integer, word and currency classes and of classes
// derived from them.
bool NumericField(const TField* field);

}  // namespace tav
