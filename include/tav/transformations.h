// The transformation kinds of the variables, one row each.
//
// A variable stores its kind as a text code ("Log") among its entries. Everything the kind means
// is read from its row: the fields and the parameter it reads, the texts that show it (the
// report's term, the definition dialog's choice and preview, tavreg's term syntax and help), the
// records it cannot use, its value in extended precision and the SQL that computes the same
// value. The load, the predictions, the scoring SQL, tavreg, the definition dialogs and the form
// reader's checks all read this table, so adding a kind means adding its row (and laying out its
// choice in the control dialog).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tav {

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

// The variable a kind serves: some rules differ between a control variable and the response.
enum class TRole : uint8_t { Control, Response };

enum class TTransformation : uint8_t {
    Undefined,  // an inactive control variable: no value
    None,
    Log,
    Inverse,
    Sqrt,
    Power,
    Scale,
    Product,
    Quotient,
};

// The numbers a validity rule reads, each converted when the rule first asks for it: the load
// reads a field's text as a number only where a rule needs it, so that a text that is no number
// raises its error only on a record the other rules accept.
class TOperands {
  public:
    virtual double X1() = 0;
    virtual double X2() = 0;
    virtual double Parameter() = 0;

  protected:
    ~TOperands() = default;
};

enum class TParameter : uint8_t { Exponent, ScaleFactor };

// The parameter of a kind: an entry of the variable, kept as text and read as a number.
struct TParameterRule {
    TParameter id;
    int entry;                         // its index among the variable's six entries
    std::string_view name;             // "exponent", in tavreg's messages
    std::string_view symbol;           // "N", in tavreg's help
    std::string_view controlDefault;   // the entry of a new control variable
    std::string_view responseDefault;  // ... of a new response ("" when a response has none)
    // Why a value cannot be the parameter (not finite, out of range); None when it can.
    TSkipReason (*check)(double value);
    // tavreg's message for a number that `check` refuses, %p standing for the text given.
    std::string_view refusal;
};

// A kind. Texts are patterns in which %1 and %2 stand for the fields and %p for the parameter's
// text.
struct TTransformationKind {
    TTransformation id;
    std::string_view code;            // the stored code
    bool control, response;           // the roles that may have it
    int fields;                       // the fields it reads, 1 or 2 (0: none)
    const TParameterRule* parameter;  // null: it reads none

    std::string_view term;          // a control variable's term in the report and the summary
    std::string_view responseTerm;  // ... the response's
    std::string_view status;        // the definition dialog's preview
    std::string_view syntax;        // tavreg's term ("" for none)
    std::string_view help;          // tavreg's help line

    // The definition dialogs' choices: the caption and its position (-1: not offered).
    std::string_view controlCaption;
    int controlChoice;
    std::string_view responseCaption;
    int responseChoice;

    // Why a record cannot be used, the fields being present and the parameter accepted by its
    // rule; null when every such record can.
    TSkipReason (*check)(TOperands& in, TRole role);
    // The value of a record the rules accept, formed in extended precision; null: no value.
    double (*value)(double x1, double x2, double parameter);
    // The value as a SQL expression over the fields' expressions (as doubles); SQLite and
    // PostgreSQL read it alike (the dialect shows only in how a field is read as a double, which
    // the scoring writer decides). Where the load would skip the record, the expression is NULL.
    // Rules on the parameter are not repeated: a definition they refuse loads nothing to score.
    // A product, quotient or power beyond the double range is NULL as well (the load gets an
    // infinity and skips the record), one below it 0 (as the load's rounding gives): PostgreSQL
    // raises "value out of range" for either, where it computes one.
    std::string (*sql)(const std::string& x1, const std::string& x2, double parameter);
    // Why `check` refuses a record, as a SQL integer expression over the fields' expressions (a
    // TSkipReason's number, 0 for None), read as PostgreSQL reads it (NaN equals itself and lies
    // above every number); null where `check` is, "" where it accepts every record under this
    // parameter.
    std::string (*reason)(const std::string& x1, const std::string& x2, double parameter,
                          TRole role);

    bool In(TRole role) const { return role == TRole::Control ? control : response; }
    bool Reads(TParameter p) const { return parameter != nullptr && parameter->id == p; }
    int Choice(TRole role) const { return role == TRole::Control ? controlChoice : responseChoice; }
    std::string_view Caption(TRole role) const {
        return role == TRole::Control ? controlCaption : responseCaption;
    }
    // tavreg's name of the kind: the syntax before its parenthesis ("" for a bare field).
    std::string_view SyntaxName() const;
    // The number of arguments of its tavreg syntax.
    int Arity() const { return fields + (parameter != nullptr ? 1 : 0); }
};

// Every kind, in the order in which messages list them.
std::span<const TTransformationKind> TransformationKinds();
const TTransformationKind& KindOf(TTransformation id);
const TParameterRule& ParameterOf(TParameter id);
// The kind a stored code names for the role; null for a code the role does not know.
const TTransformationKind* FindKind(std::string_view code, TRole role);
// The kind offered at a dialog's choice `position`; null for none.
const TTransformationKind* ChoiceKind(int position, TRole role);

// A pattern with %1, %2 and %p replaced.
std::string FillTerm(std::string_view pattern, std::string_view field1, std::string_view field2,
                     std::string_view parameter);

// A double as a SQL literal that reads back as the same double, with a decimal point so that no
// database divides it as an integer.
std::string SqlNumber(double value);

// A condition, as PostgreSQL reads it, that holds where the double `x` is a finite number (not
// where it is NULL).
std::string SqlIsFinite(const std::string& x);

}  // namespace tav
