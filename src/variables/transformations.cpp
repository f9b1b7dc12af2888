#include "tav/transformations.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace tav {

namespace {

using ext = long double;

// A divisor must be finite as well as away from zero: 1 / infinity would turn a value that is not
// a number into a plausible 0. (Every other transformation keeps an infinity infinite, and the
// loader rejects the record for its value.)
TSkipReason DivisorReason(double value) {
    if (!std::isfinite(value)) return TSkipReason::NotFinite;
    if (std::fabs(static_cast<ext>(value)) < kZeroTolerance) return TSkipReason::SmallDivisor;
    return TSkipReason::None;
}

// The response's divisor must exceed the tolerance; a control's may equal it.
TSkipReason StrictDivisorReason(double value) {
    if (!std::isfinite(value)) return TSkipReason::NotFinite;
    if (!(std::fabs(static_cast<ext>(value)) > kZeroTolerance)) return TSkipReason::SmallDivisor;
    return TSkipReason::None;
}

TSkipReason PositiveReason(double value) {
    if (std::isnan(value)) return TSkipReason::NotFinite;
    if (!(static_cast<ext>(value) > kZeroTolerance)) return TSkipReason::NotPositive;
    return TSkipReason::None;
}

bool IsWholeNumber(double y) { return std::isfinite(y) && std::floor(y) == y; }

// x1 raised to the power y. A whole y follows the classic rule: |x1|^n through the exponential,
// with the sign of x1 for odd n and exactly 0 for x1 = 0. A fractional y is defined for x1 >= 0
// only; records with a negative x1 are rejected as invalid before they get here.
double Power(double x1, double y) {
    if (x1 == 0.0) return 0.0;
    const ext magnitude = std::exp(static_cast<ext>(y) * std::log(std::fabs(static_cast<ext>(x1))));
    if (IsWholeNumber(y)) {
        const bool odd = std::fmod(y, 2.0) != 0.0;
        return static_cast<double>(odd && x1 < 0.0 ? -magnitude : magnitude);
    }
    if (x1 < 0.0) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(magnitude);
}

constexpr TParameterRule kExponent{
    TParameter::Exponent,
    4,
    "exponent",
    "N",
    "1.00",
    "",
    [](double y) {
        if (!std::isfinite(y)) return TSkipReason::NotFinite;
        if (y < 0.5) return TSkipReason::ExponentBelowHalf;
        return TSkipReason::None;
    },
    "the exponent %p is below 0.5",
};

// The scale factor must be a number away from zero: dividing by it is the transformation.
constexpr TParameterRule kScaleFactor{
    TParameter::ScaleFactor,
    5,
    "scale factor",
    "S",
    "10",
    "1",
    [](double factor) {
        if (!std::isfinite(factor)) return TSkipReason::NotFinite;
        if (!(std::fabs(static_cast<ext>(factor)) > kZeroTolerance))
            return TSkipReason::ZeroScaleFactor;
        return TSkipReason::None;
    },
    "the scale factor must not be 0",
};

using S = const std::string&;

// Guarded arithmetic in SQL. PostgreSQL raises "value out of range" where a product, quotient or
// power of doubles leaves the double range, at either end; the load gets an infinity (and skips the
// record) or a zero. Each guard decides which from operands scaled by powers of two, exact in the
// range they are used in, before the operation itself runs; a NULL stands for the infinity.
// Records whose operands are not finite fall through to the operation, which keeps them so.

// The powers of two the guards scale by.
std::string TwoTo(int exponent) { return SqlNumber(std::ldexp(1.0, exponent)); }

std::string Abs(S x) { return "ABS(" + x + ")"; }

// x1 * x2. Overflow is possible only with both magnitudes at least 1, and then it happens exactly
// when the product scaled by 2^-1024 reaches 1; a zero only with both below 1 and one below
// 2^-500, and then exactly when the product scaled by 2^1074 is at most 1/2.
std::string SqlProduct(S x1, S x2) {
    const std::string a = Abs(x1), b = Abs(x2), product = x1 + " * " + x2;
    return "CASE WHEN " + a + " >= 1 AND " + b + " >= 1 THEN CASE WHEN (" + a + " * " +
           TwoTo(-512) + ") * (" + b + " * " + TwoTo(-512) + ") < 1 THEN " + product +
           " END WHEN (" + a + " < " + TwoTo(-500) + " AND " + b + " < 1) OR (" + a + " < 1 AND " +
           b + " < " + TwoTo(-500) + ") THEN CASE WHEN (" + a + " * " + TwoTo(537) + ") * (" + b +
           " * " + TwoTo(537) + ") > 0.5 THEN " + product + " ELSE 0.0 END ELSE " + product +
           " END";
}

// x1 / x2, x2 a divisor the rules accept. Overflow needs |x1| >= 1 > |x2|; a zero needs
// |x1| < 1 < |x2|, split at 2^-200 so that each scaled quotient stays in range.
std::string SqlQuotient(S x1, S x2) {
    const std::string a = Abs(x1), b = Abs(x2), quotient = x1 + " / " + x2;
    const auto scaled = [&](int up, int down) {
        return "(" + a + " * " + TwoTo(up) + ") / (" + b + " * " + TwoTo(down) + ")";
    };
    return "CASE WHEN " + a + " >= 1 AND " + b + " < 1 THEN CASE WHEN " + scaled(-512, 512) +
           " < 1 THEN " + quotient + " END WHEN " + a + " < " + TwoTo(-200) + " AND " + b +
           " > 1 THEN CASE WHEN " + scaled(1000, -200) + " > " + TwoTo(125) + " THEN " + quotient +
           " ELSE 0.0 END WHEN " + a + " < 1 AND " + b + " > 1 THEN CASE WHEN " +
           scaled(500, -100) + " > " + TwoTo(-475) + " THEN " + quotient + " ELSE 0.0 END ELSE " +
           quotient + " END";
}

// h * h for h >= 0, as SqlProduct guards it.
std::string SqlSquare(S h) {
    return "CASE WHEN " + h + " >= 1 THEN CASE WHEN (" + h + " * " + TwoTo(-512) + ") * (" + h +
           " * " + TwoTo(-512) + ") < 1 THEN " + h + " * " + h + " END WHEN " + h + " < " +
           TwoTo(-500) + " THEN CASE WHEN (" + h + " * " + TwoTo(537) + ") * (" + h + " * " +
           TwoTo(537) + ") > 0.5 THEN " + h + " * " + h + " ELSE 0.0 END ELSE " + h + " * " + h +
           " END";
}

// x to the power y (y >= 0.5; x >= 0 unless y is whole). ln|x| decides with a wide margin where
// the result lies beyond e^720 or below e^-760, and where within e^-744 .. e^709, safely inside
// the range; in between, the result is the guarded square of |x|^(y/2), with the sign of x for
// an odd y.
std::string SqlPower(S x, double y) {
    const std::string ln = "LN(" + Abs(x) + ")";
    const auto over = [y](double bound) { return SqlNumber(bound / y); };
    std::string square = SqlSquare("POWER(" + Abs(x) + ", " + SqlNumber(y / 2) + ")");
    if (std::floor(y) == y && std::fmod(y, 2.0) != 0.0)
        square = "CASE WHEN " + x + " < 0 THEN -(" + square + ") ELSE " + square + " END";
    return "CASE WHEN " + x + " = 0 THEN 0.0 WHEN " + ln + " > " + over(720) + " THEN NULL WHEN " +
           ln + " < " + over(-760) + " THEN 0.0 WHEN " + ln + " BETWEEN " + over(-744) + " AND " +
           over(709) + " THEN POWER(" + x + ", " + SqlNumber(y) + ") ELSE " + square + " END";
}

// The reasons of the validity rules above, in SQL.
std::string SqlNotFinite(S x) { return "NOT " + SqlIsFinite(x); }

std::string SqlDivisorReason(S x, bool strict) {
    return "CASE WHEN " + SqlNotFinite(x) + " THEN " + std::to_string(int(TSkipReason::NotFinite)) +
           " WHEN " + Abs(x) + (strict ? " > " : " >= ") + "1E-20 THEN 0 ELSE " +
           std::to_string(int(TSkipReason::SmallDivisor)) + " END";
}

std::string SqlPositiveReason(S x) {
    return "CASE WHEN " + x + " = 'NaN' THEN " + std::to_string(int(TSkipReason::NotFinite)) +
           " WHEN " + x + " > 1E-20 THEN 0 ELSE " + std::to_string(int(TSkipReason::NotPositive)) +
           " END";
}

// The rows, in the order of the control dialog's choices. Each row:
//   id, code, control, response, fields, parameter,
//   term, responseTerm, status, syntax, help,
//   controlCaption, controlChoice, responseCaption, responseChoice,
//   check, value, sql, reason.
// clang-format off
constexpr TTransformationKind kKinds[] = {
    {TTransformation::Undefined, "Undefined", true, false, 0, nullptr,
     "Disabled", "", "Inactive", "", "",
     "Inactive", 0, "", -1,
     nullptr, nullptr, nullptr, nullptr},
    {TTransformation::None, "None", true, true, 1, nullptr,
     "%1", "%1", "%1", "%1", "the field as it is",
     "datafield1", 1, "datafield", 0,
     nullptr,
     [](double x1, double, double) { return x1; },
     [](S x1, S, double) { return x1; },
     nullptr},
    {TTransformation::Log, "Log", true, true, 1, nullptr,
     "Ln(%1)", "Ln(%1)", "ln(%1)", "Log(%1)",
     "natural logarithm (records with FIELD <= 1E-20 skipped)",
     "ln(datafield1)", 2, "ln(datafield)", 1,
     [](TOperands& in, TRole) { return PositiveReason(in.X1()); },
     [](double x1, double, double) { return static_cast<double>(std::log(ext(x1))); },
     [](S x1, S, double) { return "CASE WHEN " + x1 + " > 1E-20 THEN LN(" + x1 + ") END"; },
     [](S x1, S, double, TRole) { return SqlPositiveReason(x1); }},
    {TTransformation::Inverse, "Inverse", true, true, 1, nullptr,
     "1/%1", "1/(%1)", "1/(%1)", "Inverse(%1)", "1 / FIELD",
     "1/(datafield1)", 3, "1/(datafield)", 3,
     [](TOperands& in, TRole role) {
         return role == TRole::Response ? StrictDivisorReason(in.X1()) : DivisorReason(in.X1());
     },
     [](double x1, double, double) { return static_cast<double>(1.0L / ext(x1)); },
     [](S x1, S, double) {
         return "CASE WHEN ABS(" + x1 + ") >= 1E-20 THEN 1.0 / " + x1 + " END";
     },
     [](S x1, S, double, TRole role) { return SqlDivisorReason(x1, role == TRole::Response); }},
    {TTransformation::Sqrt, "Sqrt", true, false, 1, nullptr,
     "%1^1/2", "", "%1^1/2", "Sqrt(%1)", "square root",
     "sqrt(datafield)", 4, "", -1,
     [](TOperands& in, TRole) { return PositiveReason(in.X1()); },
     [](double x1, double, double) { return static_cast<double>(std::sqrt(ext(x1))); },
     [](S x1, S, double) { return "CASE WHEN " + x1 + " > 1E-20 THEN SQRT(" + x1 + ") END"; },
     [](S x1, S, double, TRole) { return SqlPositiveReason(x1); }},
    {TTransformation::Power, "Power", true, false, 1, &kExponent,
     "%1^%p", "", "%1^%p", "Power(%1,%p)", "FIELD to the power N (N >= 0.5)",
     "(datafield1)^r", 5, "", -1,
     // A fractional power of a negative number is not a real number.
     [](TOperands& in, TRole) {
         if (IsWholeNumber(in.Parameter())) return TSkipReason::None;
         const double x = in.X1();
         if (std::isnan(x)) return TSkipReason::NotFinite;
         return x < 0.0 ? TSkipReason::NegativeFractionalPower : TSkipReason::None;
     },
     [](double x1, double, double y) { return Power(x1, y); },
     [](S x1, S, double y) {
         const std::string power = SqlPower(x1, y);
         return IsWholeNumber(y) ? power : "CASE WHEN " + x1 + " >= 0 THEN " + power + " END";
     },
     [](S x1, S, double y, TRole) -> std::string {
         if (IsWholeNumber(y)) return "";
         return "CASE WHEN " + x1 + " = 'NaN' THEN " +
                std::to_string(int(TSkipReason::NotFinite)) + " WHEN " + x1 + " < 0 THEN " +
                std::to_string(int(TSkipReason::NegativeFractionalPower)) + " ELSE 0 END";
     }},
    {TTransformation::Scale, "Scale", true, true, 1, &kScaleFactor,
     "%1/%p", "%1/%p", "%1/%p", "Scale(%1,%p)", "FIELD / S (S not 0)",
     "(datafield)/n", 6, "datafield/n", 2,
     nullptr,
     [](double x1, double, double factor) { return static_cast<double>(ext(x1) / ext(factor)); },
     [](S x1, S, double factor) { return SqlQuotient(x1, SqlNumber(factor)); },
     nullptr},
    {TTransformation::Product, "Product", true, false, 2, nullptr,
     "%1*%2", "", "%1*%2", "Product(%1,%2)", "F1 * F2",
     "(datafield1)*(datafield2)", 7, "", -1,
     nullptr,
     [](double x1, double x2, double) { return static_cast<double>(ext(x1) * ext(x2)); },
     [](S x1, S x2, double) { return SqlProduct(x1, x2); },
     nullptr},
    {TTransformation::Quotient, "Quotient", true, false, 2, nullptr,
     "%1/%2", "", "%1/%2", "Quotient(%1,%2)", "F1 / F2",
     "(datafield1)/(datafield2)", 8, "", -1,
     [](TOperands& in, TRole) { return DivisorReason(in.X2()); },
     [](double x1, double x2, double) { return static_cast<double>(ext(x1) / ext(x2)); },
     [](S x1, S x2, double) {
         return "CASE WHEN ABS(" + x2 + ") >= 1E-20 THEN " + SqlQuotient(x1, x2) + " END";
     },
     [](S, S x2, double, TRole) { return SqlDivisorReason(x2, false); }},
};
// clang-format on

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

std::string_view TTransformationKind::SyntaxName() const {
    const auto open = syntax.find('(');
    return open == std::string_view::npos ? std::string_view() : syntax.substr(0, open);
}

std::span<const TTransformationKind> TransformationKinds() { return kKinds; }

const TTransformationKind& KindOf(TTransformation id) {
    for (const TTransformationKind& kind : kKinds)
        if (kind.id == id) return kind;
    return kKinds[0];
}

const TParameterRule& ParameterOf(TParameter id) {
    return id == TParameter::Exponent ? kExponent : kScaleFactor;
}

const TTransformationKind* FindKind(std::string_view code, TRole role) {
    for (const TTransformationKind& kind : kKinds)
        if (kind.code == code && kind.In(role)) return &kind;
    return nullptr;
}

const TTransformationKind* ChoiceKind(int position, TRole role) {
    for (const TTransformationKind& kind : kKinds)
        if (position >= 0 && kind.Choice(role) == position) return &kind;
    return nullptr;
}

std::string FillTerm(std::string_view pattern, std::string_view field1, std::string_view field2,
                     std::string_view parameter) {
    std::string text;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && (next == '1' || next == '2' || next == 'p')) {
            text += next == '1' ? field1 : next == '2' ? field2 : parameter;
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

std::string SqlIsFinite(const std::string& x) {
    return "ABS(" + x + ") < CAST('Infinity' AS DOUBLE PRECISION)";
}

std::string SqlNumber(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    std::string s = text;
    if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
    return s;
}

}  // namespace tav
