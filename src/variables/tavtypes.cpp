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

bool FieldIsNull(const TDataSet& ds, const std::string& name) {
    return ds.FieldByName(name)->IsNull();
}

// A divisor must be finite as well as away from zero: 1 / infinity would turn a value that is not
// a number into a plausible 0. (Every other transformation keeps an infinity infinite, and the
// loader rejects the record for its value.)
bool UsableDivisor(double value) {
    return std::isfinite(value) && std::fabs(static_cast<long double>(value)) >= kZeroTolerance;
}

bool UsableFactor(double factor) {
    return std::isfinite(factor) && std::fabs(static_cast<long double>(factor)) > kZeroTolerance;
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

bool TIndepVar::ValidTransformation(const TDataSet& ds) const {
    if (FieldIsNull(ds, Field1())) return false;
    const std::string& t = Transformation();
    bool valid = true;
    if (t == "Product"sv) {
        valid = !FieldIsNull(ds, Field2());
    } else if (t == "Quotient"sv) {
        valid = !FieldIsNull(ds, Field2()) && UsableDivisor(FieldValue(ds, Field2()));
    } else if (t == "Inverse"sv) {
        valid = UsableDivisor(FieldValue(ds, Field1()));
    } else if (t == "Power"sv) {
        const double y = StrToFloat(Exponent());
        valid = std::isfinite(y) && y >= 0.5;
        // A fractional power of a negative number is not a real number.
        if (valid && !IsWholeNumber(y)) valid = FieldValue(ds, Field1()) >= 0.0;
    } else if (t == "Log"sv || t == "Sqrt"sv) {
        valid = static_cast<long double>(FieldValue(ds, Field1())) > kZeroTolerance;
    } else if (t == "Scale"sv) {
        valid = UsableFactor(StrToFloat(ScaleFactor()));
    }
    return valid;
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

bool TDependentVar::ValidTransformation(const TDataSet& ds) const {
    if (FieldIsNull(ds, FieldName())) return false;
    const std::string& t = Transformation();
    bool valid = true;
    if (t == "Log"sv) {
        valid = static_cast<long double>(FieldValue(ds, FieldName())) > kZeroTolerance;
    } else if (t == "Inverse"sv) {
        const double value = FieldValue(ds, FieldName());
        valid = std::isfinite(value) && std::fabs(static_cast<long double>(value)) > kZeroTolerance;
    } else if (t == "Scale"sv) {
        valid = UsableFactor(StrToFloat(ScaleFactor()));
    }
    return valid;
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
