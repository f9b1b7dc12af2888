#include "variables/tavtypes.h"

#include <cmath>
#include <limits>
#include <string_view>

#include "host/db.h"
#include "host/sysutils.h"

namespace tav {

using namespace std::string_view_literals;

namespace {

double FieldValue(const TDataSet& ds, const std::string& name) {
    return ds.FieldByName(name)->AsFloat();
}

// A value read as a number is missing when its field is null or holds an empty or blank text
// (what importing a CSV file with empty cells stores).
TSkipReason Missing(const TDataSet& ds, const std::string& name) {
    switch (ds.FieldByName(name)->State()) {
        case TField::TState::Null:
            return TSkipReason::NullField;
        case TField::TState::Blank:
            return TSkipReason::EmptyText;
        case TField::TState::Value:
            break;
    }
    return TSkipReason::None;
}

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

TSkipReason TIndepVar::CheckRecord(const TDataSet& ds) const {
    if (const TSkipReason missing = Missing(ds, Field1()); missing != TSkipReason::None)
        return missing;
    const std::string& t = Transformation();
    if (t == "Product"sv) return Missing(ds, Field2());
    if (t == "Quotient"sv) {
        if (const TSkipReason missing = Missing(ds, Field2()); missing != TSkipReason::None)
            return missing;
        return DivisorReason(FieldValue(ds, Field2()));
    }
    if (t == "Inverse"sv) return DivisorReason(FieldValue(ds, Field1()));
    if (t == "Power"sv) {
        const double y = StrToFloat(Exponent());
        if (!std::isfinite(y)) return TSkipReason::NotFinite;
        if (y < 0.5) return TSkipReason::ExponentBelowHalf;
        // A fractional power of a negative number is not a real number.
        if (!IsWholeNumber(y)) {
            const double x = FieldValue(ds, Field1());
            if (std::isnan(x)) return TSkipReason::NotFinite;
            if (x < 0.0) return TSkipReason::NegativeFractionalPower;
        }
        return TSkipReason::None;
    }
    if (t == "Log"sv || t == "Sqrt"sv) return PositiveReason(FieldValue(ds, Field1()));
    if (t == "Scale"sv) return FactorReason(StrToFloat(ScaleFactor()));
    return TSkipReason::None;
}

double TIndepVar::Process(const TDataSet& ds) const {
    const std::string& t = Transformation();
    if (t == "None"sv) return FieldValue(ds, Field1());
    if (t == "Log"sv)
        return static_cast<double>(std::log(static_cast<long double>(FieldValue(ds, Field1()))));
    if (t == "Inverse"sv)
        return static_cast<double>(1.0L / static_cast<long double>(FieldValue(ds, Field1())));
    if (t == "Sqrt"sv)
        return static_cast<double>(std::sqrt(static_cast<long double>(FieldValue(ds, Field1()))));
    if (t == "Power"sv) {
        const double x1 = FieldValue(ds, Field1());
        if (x1 == 0.0) return 0.0;
        return Power(x1, StrToFloat(Exponent()));
    }
    if (t == "Scale"sv) {
        const double x1 = FieldValue(ds, Field1());
        return static_cast<double>(static_cast<long double>(x1) /
                                   static_cast<long double>(StrToFloat(ScaleFactor())));
    }
    if (t == "Product"sv) {
        const double x1 = FieldValue(ds, Field1());
        const double x2 = FieldValue(ds, Field2());
        return static_cast<double>(static_cast<long double>(x1) * static_cast<long double>(x2));
    }
    if (t == "Quotient"sv) {
        const double x1 = FieldValue(ds, Field1());
        const double x2 = FieldValue(ds, Field2());
        return static_cast<double>(static_cast<long double>(x1) / static_cast<long double>(x2));
    }
    // "Undefined" takes no part in a regression; an unknown code is a broken definition, and
    // a made-up value would poison the whole fit.
    throw EConvertError("'" + t + "' is not a valid transformation of a control variable");
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

// ------------------------------------------------------------ TDependentVar

TDependentVar::TDependentVar() {
    for (int i = 0; i < 6; ++i) Add("Undefined");
    SetField("Datafield");
    SetTransformation("None");
    SetScaleFactor("1");
}

TSkipReason TDependentVar::CheckRecord(const TDataSet& ds) const {
    if (const TSkipReason missing = Missing(ds, FieldName()); missing != TSkipReason::None)
        return missing;
    const std::string& t = Transformation();
    if (t == "Log"sv) return PositiveReason(FieldValue(ds, FieldName()));
    if (t == "Inverse"sv) {
        // The response's divisor must exceed the tolerance; a control's may equal it.
        const double value = FieldValue(ds, FieldName());
        if (!std::isfinite(value)) return TSkipReason::NotFinite;
        if (!(std::fabs(static_cast<long double>(value)) > kZeroTolerance))
            return TSkipReason::SmallDivisor;
        return TSkipReason::None;
    }
    if (t == "Scale"sv) return FactorReason(StrToFloat(ScaleFactor()));
    return TSkipReason::None;
}

double TDependentVar::Process(const TDataSet& ds) const {
    const std::string& t = Transformation();
    if (t == "Log"sv)
        return static_cast<double>(std::log(static_cast<long double>(FieldValue(ds, FieldName()))));
    if (t == "None"sv) return FieldValue(ds, FieldName());
    if (t == "Inverse"sv)
        return static_cast<double>(1.0L / static_cast<long double>(FieldValue(ds, FieldName())));
    if (t == "Scale"sv) {
        const double y = FieldValue(ds, FieldName());
        return static_cast<double>(static_cast<long double>(y) /
                                   static_cast<long double>(StrToFloat(ScaleFactor())));
    }
    throw EConvertError("'" + t + "' is not a valid transformation of a response variable");
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

}  // namespace tav
