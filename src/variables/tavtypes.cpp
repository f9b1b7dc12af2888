#include "variables/tavtypes.h"

#include <cmath>
#include <limits>
#include <string_view>

#include "host/db.h"
#include "host/sysutils.h"

namespace tav {

using namespace std::string_view_literals;

namespace {

// A divisor must be finite as well as away from zero: 1 / infinity would turn a value that is not
// a number into a plausible 0. (Every other transformation keeps an infinity infinite, and the
// loader rejects the record for its value.)
TSkipReason DivisorReason(double value) {
    if (!std::isfinite(value)) return TSkipReason::NotFinite;
    if (std::fabs(static_cast<long double>(value)) < kZeroTolerance)
        return TSkipReason::SmallDivisor;
    return TSkipReason::None;
}

TSkipReason PositiveReason(double value) {
    if (std::isnan(value)) return TSkipReason::NotFinite;
    if (!(static_cast<long double>(value) > kZeroTolerance)) return TSkipReason::NotPositive;
    return TSkipReason::None;
}

TSkipReason FactorReason(double factor) {
    if (!std::isfinite(factor)) return TSkipReason::NotFinite;
    if (!(std::fabs(static_cast<long double>(factor)) > kZeroTolerance))
        return TSkipReason::ZeroScaleFactor;
    return TSkipReason::None;
}

// The transformation codes each kind of variable knows, in the order their messages list them.
constexpr std::string_view kControlCodes[] = {"Undefined", "None",  "Log",     "Inverse", "Sqrt",
                                              "Power",     "Scale", "Product", "Quotient"};
constexpr std::string_view kResponseCodes[] = {"None", "Log", "Inverse", "Scale"};
constexpr std::string_view kUsages[] = {"Active", "Inactive"};

template <std::size_t N>
bool OneOf(const std::string& text, const std::string_view (&codes)[N]) {
    for (const std::string_view code : codes)
        if (text == code) return true;
    return false;
}

// "usage 'X': Active or Inactive expected"
template <std::size_t N>
std::string NotOneOf(const char* entry, const std::string& text,
                     const std::string_view (&codes)[N]) {
    std::string expected;
    for (std::size_t k = 0; k < N; ++k)
        expected += std::string(k == 0 ? "" : k + 1 == N ? " or " : ", ") + std::string(codes[k]);
    return std::string(entry) + " '" + text + "': " + expected + " expected";
}

std::string CountError(const TStringList& entries) {
    if (entries.Count() == 6) return "";
    return "6 entries expected, " + std::to_string(entries.Count()) + " found";
}

bool IsWholeNumber(double y) { return std::isfinite(y) && std::floor(y) == y; }

// x1 raised to the power y. A whole y follows the classic rule: |x1|^n through the exponential,
// with the sign of x1 for odd n and exactly 0 for x1 = 0. A fractional y is defined for x1 >= 0
// only; records with a negative x1 are rejected as invalid before they get here.
double Power(double x1, double y) {
    if (x1 == 0.0) return 0.0;
    const long double magnitude =
        std::exp(static_cast<long double>(y) * std::log(std::fabs(static_cast<long double>(x1))));
    if (IsWholeNumber(y)) {
        const bool odd = std::fmod(y, 2.0) != 0.0;
        return static_cast<double>(odd && x1 < 0.0 ? -magnitude : magnitude);
    }
    if (x1 < 0.0) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(magnitude);
}

}  // namespace

const char* SkipReasonText(TSkipReason reason) {
    static constexpr const char* kTexts[kSkipReasonCount] = {
        "none",
        "null field",
        "empty text",
        "value not finite",
        "ln or square root of a value <= 1E-20",
        "divisor of magnitude < 1E-20",
        "exponent below 0.5",
        "scale factor 0",
        "fractional power of a negative value",
    };
    return kTexts[static_cast<int>(reason)];
}

// ---------------------------------------------------------------- TIndepVar

TIndepVar::TIndepVar() {
    for (int i = 0; i < 6; ++i) Add("Undefined");
    SetField1("Datafield1");
    SetField2("Datafield2");
    SetTransformation("Undefined");
    SetUsage("Inactive");
    SetScaleFactor("10");
    SetExponent("1.00");
}

void TIndepVar::SetUsage(const std::string& value) {
    SetParameters(0, value);
    if (value == "Inactive"sv) SetTransformation("Undefined");
}

void TIndepVar::SetTransformation(const std::string& value) {
    SetParameters(1, value);
    if (value != "Undefined"sv) SetUsage("Active");
}

std::string TIndepVar::DefinitionError(const TStringList& entries) {
    if (std::string count = CountError(entries); !count.empty()) return count;
    const std::string& usage = entries[0];
    const std::string& transformation = entries[1];
    if (!OneOf(usage, kUsages)) return NotOneOf("usage", usage, kUsages);
    if (!OneOf(transformation, kControlCodes))
        return NotOneOf("transformation", transformation, kControlCodes);
    if (usage == "Inactive"sv && transformation != "Undefined"sv)
        return "usage Inactive with transformation " + transformation +
               ": an inactive variable's transformation is Undefined";
    return "";
}

TSkipReason TIndepVar::CheckRecord(const TDataSet& ds) const {
    TRowReader reader;
    TPreparedVar prepared;
    prepared.Prepare(*this, ds, reader);
    reader.Read(ds);
    return prepared.Check();
}

double TIndepVar::Process(const TDataSet& ds) const {
    TRowReader reader;
    TPreparedVar prepared;
    prepared.Prepare(*this, ds, reader);
    reader.Read(ds);
    return prepared.Process();
}

std::string TIndepVar::OutputTerm() const {
    const std::string& t = Transformation();
    if (t == "None"sv) return Field1();
    if (t == "Log"sv) return "Ln(" + Field1() + ")";
    if (t == "Inverse"sv) return "1/" + Field1();
    if (t == "Sqrt"sv) return Field1() + "^1/2";
    if (t == "Power"sv) return Field1() + "^" + Exponent();
    if (t == "Scale"sv) return Field1() + "/" + ScaleFactor();
    if (t == "Product"sv) return Field1() + "*" + Field2();
    if (t == "Quotient"sv) return Field1() + "/" + Field2();
    return "Disabled";
}

double TIndepVar::ValueOf(double field1, double field2, TSkipReason& reason) const {
    using ext = long double;
    const std::string& t = Transformation();
    reason = TSkipReason::None;
    if (std::isnan(field1) || ((t == "Product"sv || t == "Quotient"sv) && std::isnan(field2)))
        reason = TSkipReason::NotFinite;
    else if (t == "Log"sv || t == "Sqrt"sv)
        reason = PositiveReason(field1);
    else if (t == "Inverse"sv)
        reason = DivisorReason(field1);
    else if (t == "Quotient"sv)
        reason = DivisorReason(field2);
    if (reason != TSkipReason::None) return 0.0;
    double value = 0.0;
    if (t == "None"sv) {
        value = field1;
    } else if (t == "Log"sv) {
        value = static_cast<double>(std::log(ext(field1)));
    } else if (t == "Inverse"sv) {
        value = static_cast<double>(1.0L / ext(field1));
    } else if (t == "Sqrt"sv) {
        value = static_cast<double>(std::sqrt(ext(field1)));
    } else if (t == "Scale"sv) {
        const double factor = StrToFloat(ScaleFactor());
        if ((reason = FactorReason(factor)) != TSkipReason::None) return 0.0;
        value = static_cast<double>(ext(field1) / ext(factor));
    } else if (t == "Product"sv) {
        value = static_cast<double>(ext(field1) * ext(field2));
    } else if (t == "Quotient"sv) {
        value = static_cast<double>(ext(field1) / ext(field2));
    } else if (t == "Power"sv) {
        const double y = StrToFloat(Exponent());
        if (!std::isfinite(y))
            reason = TSkipReason::NotFinite;
        else if (y < 0.5)
            reason = TSkipReason::ExponentBelowHalf;
        else if (!IsWholeNumber(y) && field1 < 0.0)
            reason = TSkipReason::NegativeFractionalPower;
        if (reason != TSkipReason::None) return 0.0;
        value = Power(field1, y);
    } else {
        throw EConvertError("'" + t + "' is not a valid transformation of a control variable");
    }
    if (!std::isfinite(value)) reason = TSkipReason::NotFinite;
    return value;
}

// ------------------------------------------------------------ TDependentVar

TDependentVar::TDependentVar() {
    for (int i = 0; i < 6; ++i) Add("Undefined");
    SetField("Datafield");
    SetTransformation("None");
    SetScaleFactor("1");
}

std::string TDependentVar::DefinitionError(const TStringList& entries) {
    if (std::string count = CountError(entries); !count.empty()) return count;
    if (!OneOf(entries[1], kResponseCodes))
        return NotOneOf("transformation", entries[1], kResponseCodes);
    return "";
}

TSkipReason TDependentVar::CheckRecord(const TDataSet& ds) const {
    TRowReader reader;
    TPreparedVar prepared;
    prepared.Prepare(*this, ds, reader);
    reader.Read(ds);
    return prepared.Check();
}

double TDependentVar::Process(const TDataSet& ds) const {
    TRowReader reader;
    TPreparedVar prepared;
    prepared.Prepare(*this, ds, reader);
    reader.Read(ds);
    return prepared.Process();
}

std::string TDependentVar::OutputTerm() const {
    const std::string& t = Transformation();
    if (t == "None"sv) return FieldName();
    if (t == "Log"sv) return "Ln(" + FieldName() + ")";
    if (t == "Inverse"sv) return "1/(" + FieldName() + ")";
    if (t == "Scale"sv) return FieldName() + "/" + ScaleFactor();
    return "Disabled";
}

bool NumericField(const TField* field) {
    return dynamic_cast<const TFloatField*>(field) != nullptr ||
           dynamic_cast<const TIntegerField*>(field) != nullptr;
}

// ------------------------------------------------------------------------- TPreparedVar

void TPreparedVar::Reset(const std::string& code, bool response) {
    field1_ = TSlot();
    field2_ = TSlot();
    exponent_ = TNumber();
    factor_ = TNumber();
    response_ = response;
    codeText_ = code;
    static constexpr std::pair<std::string_view, TCode> kCodes[] = {
        {"None", TCode::None},       {"Log", TCode::Log},          {"Inverse", TCode::Inverse},
        {"Sqrt", TCode::Sqrt},       {"Power", TCode::Power},      {"Scale", TCode::Scale},
        {"Product", TCode::Product}, {"Quotient", TCode::Quotient}};
    code_ = TCode::Other;
    for (const auto& [text, c] : kCodes)
        if (code == text) code_ = c;
    // A response knows only None, Log, Inverse and Scale.
    if (response && code_ != TCode::None && code_ != TCode::Log && code_ != TCode::Inverse &&
        code_ != TCode::Scale)
        code_ = TCode::Other;
}

void TPreparedVar::Resolve(TSlot& slot, const TDataSet& ds, const std::string& name,
                           TRowReader& reader) {
    try {
        slot.field = ds.FieldByName(name);
        slot.cell = reader.Add(slot.field);
    } catch (...) {
        slot.error = std::current_exception();
        slot.failed = true;
    }
}

void TPreparedVar::Parse(TNumber& number, const std::string& text) {
    try {
        number.value = StrToFloat(text);
    } catch (...) {
        number.error = std::current_exception();
    }
}

double TPreparedVar::Number(const TNumber& number) {
    if (number.error) std::rethrow_exception(number.error);
    return number.value;
}

void TPreparedVar::Prepare(const TIndepVar& var, const TDataSet& ds, TRowReader& reader) {
    Reset(var.Transformation(), false);
    Resolve(field1_, ds, var.Field1(), reader);
    if (code_ == TCode::Product || code_ == TCode::Quotient)
        Resolve(field2_, ds, var.Field2(), reader);
    if (code_ == TCode::Power) Parse(exponent_, var.Exponent());
    if (code_ == TCode::Scale) Parse(factor_, var.ScaleFactor());
}

void TPreparedVar::Prepare(const TDependentVar& var, const TDataSet& ds, TRowReader& reader) {
    Reset(var.Transformation(), true);
    Resolve(field1_, ds, var.FieldName(), reader);
    if (code_ == TCode::Scale) Parse(factor_, var.ScaleFactor());
}

// A value read as a number is missing when its field is null or holds an empty or blank text
// (what importing a CSV file with empty cells stores).
TSkipReason TPreparedVar::Missing(const TSlot& slot) {
    if (slot.failed) std::rethrow_exception(slot.error);
    switch (slot.cell->state) {
        case TField::TState::Null:
            return TSkipReason::NullField;
        case TField::TState::Blank:
            return TSkipReason::EmptyText;
        case TField::TState::Value:
            break;
    }
    return TSkipReason::None;
}

// The field's value as a double (0 for a null); a text that is no number raises EConvertError
// the first time it is asked for.
double TPreparedVar::Value(const TSlot& slot) {
    if (slot.failed) std::rethrow_exception(slot.error);
    TCell& cell = *slot.cell;
    if (!cell.converted) {
        cell.number = cell.state == TField::TState::Null ? 0.0 : slot.field->AsFloat();
        cell.converted = true;
    }
    return cell.number;
}

TSkipReason TPreparedVar::CheckAny() {
    if (const TSkipReason missing = Missing(field1_); missing != TSkipReason::None) return missing;
    switch (code_) {
        case TCode::Product:
            return Missing(field2_);
        case TCode::Quotient:
            if (const TSkipReason missing = Missing(field2_); missing != TSkipReason::None)
                return missing;
            return DivisorReason(Value(field2_));
        case TCode::Inverse:
            if (!response_) return DivisorReason(Value(field1_));
            {
                // The response's divisor must exceed the tolerance; a control's may equal it.
                const double value = Value(field1_);
                if (!std::isfinite(value)) return TSkipReason::NotFinite;
                if (!(std::fabs(static_cast<long double>(value)) > kZeroTolerance))
                    return TSkipReason::SmallDivisor;
                return TSkipReason::None;
            }
        case TCode::Power: {
            const double y = Number(exponent_);
            if (!std::isfinite(y)) return TSkipReason::NotFinite;
            if (y < 0.5) return TSkipReason::ExponentBelowHalf;
            // A fractional power of a negative number is not a real number.
            if (!IsWholeNumber(y)) {
                const double x = Value(field1_);
                if (std::isnan(x)) return TSkipReason::NotFinite;
                if (x < 0.0) return TSkipReason::NegativeFractionalPower;
            }
            return TSkipReason::None;
        }
        case TCode::Log:
            return PositiveReason(Value(field1_));
        case TCode::Sqrt:
            return response_ ? TSkipReason::None : PositiveReason(Value(field1_));
        case TCode::Scale:
            return FactorReason(Number(factor_));
        case TCode::None:
        case TCode::Other:
            break;
    }
    return TSkipReason::None;
}

double TPreparedVar::ProcessAny() {
    using ext = long double;
    switch (code_) {
        case TCode::None:
            return Value(field1_);
        case TCode::Log:
            return static_cast<double>(std::log(ext(Value(field1_))));
        case TCode::Inverse:
            return static_cast<double>(1.0L / ext(Value(field1_)));
        case TCode::Sqrt:
            return static_cast<double>(std::sqrt(ext(Value(field1_))));
        case TCode::Power: {
            const double x1 = Value(field1_);
            if (x1 == 0.0) return 0.0;
            return Power(x1, Number(exponent_));
        }
        case TCode::Scale:
            return static_cast<double>(ext(Value(field1_)) / ext(Number(factor_)));
        case TCode::Product:
            return static_cast<double>(ext(Value(field1_)) * ext(Value(field2_)));
        case TCode::Quotient:
            return static_cast<double>(ext(Value(field1_)) / ext(Value(field2_)));
        case TCode::Other:
            break;
    }
    // "Undefined" takes no part in a regression; an unknown code is a broken definition, and
    // a made-up value would poison the whole fit.
    throw EConvertError("'" + codeText_ + "' is not a valid transformation of " +
                        (response_ ? "a response variable" : "a control variable"));
}

}  // namespace tav
