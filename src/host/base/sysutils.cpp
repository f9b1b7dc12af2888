// Text conversions of the host layer.
//
// Every number is turned into text from the exact decimal expansion of its binary value, so the
// output never depends on the C library's locale or rounding quirks, and ties in the last shown
// digit round away from zero as the classic framework did. Parsing runs std::from_chars on a
// validated copy of the text, which is exact and ignores the locale as well.
#include "tav/sysutils.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <vector>

namespace tav {

namespace {

// The classic framework never shows more significant digits than its extended type holds; beyond
// them every conversion writes zeros. Precision arguments are clamped to this.
constexpr int kMaxSignificant = 18;

// Digits printed on the first attempt. The rounding digit is always within the first
// kMaxSignificant + 1 digits, and the rest only tell a true tie from a value just below one.
constexpr int kQuickDigits = 41;
// Enough digits to write any double exactly (the longest exact expansion has 767).
constexpr int kExactDigits = 780;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The leading `count` significant digits of a > 0, correctly rounded by the standard library,
// and the decimal exponent e with a = 0.d1d2d3... * 10^e.
struct Expansion {
    std::string digits;
    int exponent = 0;
};

Expansion Expand(double a, int count) {
    std::vector<char> buffer(static_cast<size_t>(count) + 32);
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), a,
                                std::chars_format::scientific, count - 1);
    assert(result.ec == std::errc());
    Expansion e;
    e.digits.reserve(static_cast<size_t>(count));
    const char* p = buffer.data();
    for (; p != result.ptr && *p != 'e'; ++p) {
        if (IsDigit(*p)) e.digits.push_back(*p);
    }
    int exp10 = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), result.ptr, exp10);
    e.exponent = exp10 + 1;
    return e;
}

// A rounded non-negative value: 0.digits * 10^exponent. Empty digits mean zero; otherwise the
// first digit is not zero. The digit string may end in zeros.
struct Decimal {
    std::string digits;
    int exponent = 0;
    bool IsZero() const { return digits.empty(); }
};

// Rounds a > 0 (whose first expansion is `quick`) to `keep` significant digits, ties away from
// zero on the exact binary value. keep may be zero or negative: the value then rounds to one unit
// of the position above its first digit, or to zero.
Decimal RoundTo(double a, const Expansion& quick, int keep) {
    assert(keep <= kMaxSignificant);
    if (keep < 0) return {};
    const Expansion* source = &quick;
    Expansion exact;
    // The quick digits are themselves rounded, so "5000...0" after the cut may hide an exact
    // value of "4999...9x" or "5000...0x"; only the full expansion tells.
    const std::string& d = quick.digits;
    if (d[static_cast<size_t>(keep)] == '5' &&
        std::all_of(d.begin() + keep + 1, d.end(), [](char c) { return c == '0'; })) {
        exact = Expand(a, kExactDigits);
        source = &exact;
    }
    Decimal r;
    r.digits = source->digits.substr(0, static_cast<size_t>(keep));
    r.exponent = source->exponent;
    if (source->digits[static_cast<size_t>(keep)] >= '5') {
        int i = keep - 1;
        for (; i >= 0 && r.digits[static_cast<size_t>(i)] == '9'; --i) {
            r.digits[static_cast<size_t>(i)] = '0';
        }
        if (i >= 0) {
            ++r.digits[static_cast<size_t>(i)];
        } else {
            // All nines (or nothing kept): the carry opens a new leading digit.
            r.digits.insert(r.digits.begin(), '1');
            if (keep > 0) r.digits.pop_back();
            ++r.exponent;
        }
    } else if (keep == 0) {
        return {};
    }
    return r;
}

Decimal RoundTo(double a, int keep) {
    if (a == 0) return {};
    return RoundTo(a, Expand(a, kQuickDigits), keep);
}

// The digit at decimal position `index` of a rounded value padded with zeros on both sides
// (index 0 is the first digit of `digits`).
char DigitAt(const Decimal& r, int index) {
    if (index < 0 || index >= static_cast<int>(r.digits.size())) return '0';
    return r.digits[static_cast<size_t>(index)];
}

std::string StripTrailingZeros(std::string digits) {
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    return digits;
}

std::string ExponentText(int exponent, bool alwaysSign, int minDigits) {
    std::string text;
    if (exponent < 0) {
        text = "-";
    } else if (alwaysSign) {
        text = "+";
    }
    std::string value = std::to_string(std::abs(exponent));
    if (static_cast<int>(value.size()) < minDigits) {
        text.append(static_cast<size_t>(minDigits) - value.size(), '0');
    }
    return text + value;
}

// The integer part and exactly `decimals` decimals of a rounded value.
std::string FixedText(const Decimal& r, int decimals) {
    std::string text;
    if (r.IsZero() || r.exponent <= 0) {
        text = "0";
    } else {
        for (int i = 0; i < r.exponent; ++i) text.push_back(DigitAt(r, i));
    }
    if (decimals > 0) {
        text.push_back('.');
        for (int j = 0; j < decimals; ++j) text.push_back(DigitAt(r, r.exponent + j));
    }
    return text;
}

// d.ddd with `precision` digits (padding with zeros), "E", and the exponent.
std::string ScientificText(const Decimal& r, int precision, bool alwaysSign, int minExpDigits) {
    std::string text(1, DigitAt(r, 0));
    if (precision > 1) {
        text.push_back('.');
        for (int i = 1; i < precision; ++i) text.push_back(DigitAt(r, i));
    }
    const int exponent = r.IsZero() ? 0 : r.exponent - 1;
    return text + "E" + ExponentText(exponent, alwaysSign, minExpDigits);
}

std::string NonFiniteText(double value) {
    if (std::isnan(value)) return "NAN";
    return value < 0 ? "-INF" : "INF";
}

// Fixed notation when the rounded value has at most `precision` integer digits and is at least
// 0.00001; scientific otherwise, with the exponent sign written only when negative.
std::string GeneralText(double value, int precision, int minExpDigits) {
    const Decimal r = RoundTo(std::fabs(value), precision);
    if (r.IsZero()) return "0";
    const std::string digits = StripTrailingZeros(r.digits);
    std::string text = value < 0 ? "-" : "";
    if (r.exponent > precision || r.exponent < -4) {
        text.push_back(digits[0]);
        if (digits.size() > 1) text += "." + digits.substr(1);
        return text + "E" + ExponentText(r.exponent - 1, false, minExpDigits);
    }
    const Decimal stripped{digits, r.exponent};
    const int decimals = std::max(0, static_cast<int>(digits.size()) - r.exponent);
    return text + FixedText(stripped, decimals);
}

[[noreturn]] void ThrowNotFloat(const std::string& text) {
    throw EConvertError("'" + text + "' is not a valid floating point value");
}

// Compares two non-zero rounded values.
int Compare(const Decimal& x, const Decimal& y) {
    if (x.exponent != y.exponent) return x.exponent < y.exponent ? -1 : 1;
    const int n = static_cast<int>(std::max(x.digits.size(), y.digits.size()));
    for (int i = 0; i < n; ++i) {
        const char cx = DigitAt(x, i);
        const char cy = DigitAt(y, i);
        if (cx != cy) return cx < cy ? -1 : 1;
    }
    return 0;
}

// ---- FormatFloat ---------------------------------------------------------------------------

// One section of a pattern, split into the pieces that the output walk visits in order.
struct PatternToken {
    enum Kind { kDigitZero, kDigitHash, kPoint, kExponent, kLiteral } kind;
    std::string text;  // kLiteral: the characters; kExponent: the letter ("E" or "e")
};

struct Pattern {
    std::vector<PatternToken> tokens;
    int intPlaceholders = 0;  // '0' and '#' before the decimal point
    int intZeros = 0;         // placeholders from the first '0' before the point up to the point
    int decPlaceholders = 0;  // '0' and '#' after the decimal point
    int lastDecZero = -1;     // index of the last '0' after the point
    bool grouping = false;    // a ',' before the decimal point
    bool scientific = false;
    bool expAlwaysSign = false;
    int expDigits = 0;
};

Pattern ParsePattern(const std::string& section) {
    Pattern p;
    bool seenPoint = false;
    bool seenExponent = false;
    int firstIntZero = -1;
    auto literal = [&p](const std::string& s) {
        if (!p.tokens.empty() && p.tokens.back().kind == PatternToken::kLiteral) {
            p.tokens.back().text += s;
        } else {
            p.tokens.push_back({PatternToken::kLiteral, s});
        }
    };
    for (size_t i = 0; i < section.size(); ++i) {
        const char c = section[i];
        if (c == '\'' || c == '"') {
            const size_t close = section.find(c, i + 1);
            const size_t end = close == std::string::npos ? section.size() : close;
            literal(section.substr(i + 1, end - i - 1));
            i = end;
        } else if (seenExponent) {
            literal(std::string(1, c));  // after the exponent everything is text
        } else if (c == '0' || c == '#') {
            if (seenPoint) {
                if (c == '0') p.lastDecZero = p.decPlaceholders;
                ++p.decPlaceholders;
            } else {
                if (c == '0' && firstIntZero < 0) firstIntZero = p.intPlaceholders;
                ++p.intPlaceholders;
            }
            p.tokens.push_back(
                {c == '0' ? PatternToken::kDigitZero : PatternToken::kDigitHash, {}});
        } else if (c == '.') {
            // Only the first point is the decimal point; further ones are dropped.
            if (!seenPoint) p.tokens.push_back({PatternToken::kPoint, {}});
            seenPoint = true;
        } else if (c == ',') {
            // Separators are never copied: they switch grouping on for the integer part.
            if (!seenPoint) p.grouping = true;
        } else if ((c == 'E' || c == 'e') && i + 1 < section.size() &&
                   (section[i + 1] == '+' || section[i + 1] == '-')) {
            seenExponent = true;
            p.scientific = true;
            p.expAlwaysSign = section[i + 1] == '+';
            p.tokens.push_back({PatternToken::kExponent, std::string(1, c)});
            i += 2;
            while (i < section.size() && section[i] == '0') {
                ++p.expDigits;
                ++i;
            }
            --i;
        } else {
            literal(std::string(1, c));
        }
    }
    if (firstIntZero >= 0) p.intZeros = p.intPlaceholders - firstIntZero;
    return p;
}

// Formats a >= 0 with one section; `allZero` reports whether every digit written is zero.
std::string FormatSection(const Pattern& p, double a, bool& allZero) {
    std::string intDigits;  // the integer digits, without leading zeros
    std::string decDigits;  // exactly decPlaceholders digits
    int exponent = 0;
    if (p.scientific) {
        const int shown = p.intPlaceholders + p.decPlaceholders;
        const Decimal r = RoundTo(a, std::clamp(shown, 1, kMaxSignificant));
        if (!r.IsZero()) exponent = r.exponent - p.intPlaceholders;
        for (int i = 0; i < p.intPlaceholders; ++i) intDigits.push_back(DigitAt(r, i));
        for (int j = 0; j < p.decPlaceholders; ++j) {
            decDigits.push_back(DigitAt(r, p.intPlaceholders + j));
        }
    } else {
        Decimal r;
        if (a != 0) {
            const Expansion quick = Expand(a, kQuickDigits);
            r = RoundTo(a, quick, std::min(kMaxSignificant, quick.exponent + p.decPlaceholders));
        }
        if (!r.IsZero()) {
            for (int i = 0; i < r.exponent; ++i) intDigits.push_back(DigitAt(r, i));
            for (int j = 0; j < p.decPlaceholders; ++j) {
                decDigits.push_back(DigitAt(r, r.exponent + j));
            }
        } else {
            decDigits.assign(static_cast<size_t>(p.decPlaceholders), '0');
        }
    }
    intDigits.erase(0, std::min(intDigits.find_first_not_of('0'), intDigits.size()));
    allZero = intDigits.empty() && decDigits.find_first_not_of('0') == std::string::npos;
    if (static_cast<int>(intDigits.size()) < p.intZeros) {
        intDigits.insert(0, static_cast<size_t>(p.intZeros) - intDigits.size(), '0');
    }
    const size_t nonZero = decDigits.find_last_not_of('0');
    const int lastNonZero = nonZero == std::string::npos ? -1 : static_cast<int>(nonZero);
    const int lastDecShown = std::max(p.lastDecZero, lastNonZero);

    std::string out;
    const int intCount = static_cast<int>(intDigits.size());
    // Writes the integer digit that stands `fromRight` places left of the decimal point.
    auto putIntDigit = [&](int fromRight) {
        out.push_back(intDigits[static_cast<size_t>(intCount - 1 - fromRight)]);
        if (p.grouping && fromRight > 0 && fromRight % 3 == 0) out.push_back(',');
    };
    int intSeen = 0;
    int decSeen = 0;
    bool intWritten = p.intPlaceholders > 0;  // without placeholders the point carries them
    for (const PatternToken& t : p.tokens) {
        switch (t.kind) {
            case PatternToken::kDigitZero:
            case PatternToken::kDigitHash:
                if (intSeen < p.intPlaceholders) {
                    const int fromRight = p.intPlaceholders - 1 - intSeen;
                    if (intSeen == 0) {
                        // Digits beyond the placeholders all go where the first one stands.
                        for (int k = intCount - 1; k > fromRight; --k) putIntDigit(k);
                    }
                    if (fromRight < intCount) putIntDigit(fromRight);
                    ++intSeen;
                } else {
                    if (decSeen <= lastDecShown)
                        out.push_back(decDigits[static_cast<size_t>(decSeen)]);
                    ++decSeen;
                }
                break;
            case PatternToken::kPoint:
                if (!intWritten) {
                    for (int k = intCount - 1; k >= 0; --k) putIntDigit(k);
                    intWritten = true;
                }
                if (lastDecShown >= 0) out.push_back('.');
                break;
            case PatternToken::kExponent:
                out += t.text + ExponentText(exponent, p.expAlwaysSign, p.expDigits);
                break;
            case PatternToken::kLiteral:
                out += t.text;
                break;
        }
    }
    return out;
}

// Splits at ';' outside quotes; at most three sections count.
std::vector<std::string> SplitSections(const std::string& pattern) {
    std::vector<std::string> sections(1);
    char quote = 0;
    for (char c : pattern) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == ';') {
            if (sections.size() == 3) break;
            sections.emplace_back();
            continue;
        }
        sections.back().push_back(c);
    }
    return sections;
}

// Days from 1970-01-01 to a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

constexpr int64_t kMSecsPerDay = 86400000;

int64_t EpochOffsetDays() { return DaysFromCivil(1899, 12, 30); }

// Narrows [i, end) to the text without surrounding blanks and past an optional sign; returns
// whether the sign was a minus.
bool TrimAndSign(const std::string& text, size_t& i, size_t& end) {
    while (i < end && IsBlank(text[i])) ++i;
    while (end > i && IsBlank(text[end - 1])) --end;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    return negative;
}

}  // namespace

std::string IntToStr(int64_t value) { return std::to_string(value); }

int32_t StrToInt(const std::string& text) {
    auto fail = [&text]() -> int32_t {
        throw EConvertError("'" + text + "' is not a valid integer value");
    };
    size_t i = 0;
    size_t end = text.size();
    const bool negative = TrimAndSign(text, i, end);
    int base = 10;
    if (i < end && text[i] == '$') {
        base = 16;
        ++i;
    }
    if (i == end) return fail();
    // Hexadecimal is a magnitude like decimal: "$FFFFFFFF" is out of range, not -1.
    const int64_t limit = negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
    int64_t magnitude = 0;
    for (; i < end; ++i) {
        const char c = Upper(text[i]);
        int digit;
        if (IsDigit(c)) {
            digit = c - '0';
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return fail();
        }
        magnitude = magnitude * base + digit;
        if (magnitude > limit) return fail();
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

double StrToFloat(const std::string& text) {
    size_t i = 0;
    size_t end = text.size();
    const bool negative = TrimAndSign(text, i, end);

    std::string word;
    for (size_t k = i; k < end; ++k) word.push_back(Upper(text[k]));
    if (word == "NAN") return std::numeric_limits<double>::quiet_NaN();
    // "INFINITY" as C, R and PostgreSQL write it, besides this framework's own "INF".
    if (word == "INF" || word == "INFINITY") {
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    }

    // The value's digits, for the C-locale copy handed to from_chars and for the range check.
    std::string intPart;
    std::string fracPart;
    for (; i < end && IsDigit(text[i]); ++i) intPart.push_back(text[i]);
    if (i < end && text[i] == '.') {
        for (++i; i < end && IsDigit(text[i]); ++i) fracPart.push_back(text[i]);
    }
    if (intPart.empty() && fracPart.empty()) ThrowNotFloat(text);
    int64_t exponent = 0;
    bool expNegative = false;
    if (i < end && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
        if (i == end || !IsDigit(text[i])) ThrowNotFloat(text);
        // Beyond any double's range the exact exponent no longer matters.
        for (; i < end && IsDigit(text[i]); ++i) {
            exponent = std::min<int64_t>(exponent * 10 + (text[i] - '0'), 1000000000);
        }
    }
    if (i != end) ThrowNotFloat(text);
    if (expNegative) exponent = -exponent;

    // from_chars wants a digit before the point; "1." and ".5" are fine for us.
    std::string copy = negative ? "-" : "";
    copy += intPart.empty() ? "0" : intPart;
    if (!fracPart.empty()) copy += "." + fracPart;
    copy += "e" + std::to_string(exponent);
    double value = 0;
    const auto result = std::from_chars(copy.data(), copy.data() + copy.size(), value);
    assert(result.ptr == copy.data() + copy.size());
    if (result.ec == std::errc()) return value;

    // The text's value as 0.ddd * 10^e, leading zeros taken out.
    const std::string all = intPart + fracPart;
    const size_t first = all.find_first_not_of('0');  // not npos: a zero cannot be out of range
    const Decimal read{StripTrailingZeros(all.substr(first)),
                       static_cast<int>(static_cast<int64_t>(intPart.size()) -
                                        static_cast<int64_t>(first) + exponent)};
    if (read.exponent < 0) return negative ? -0.0 : 0.0;  // below the subnormals: rounds to zero
    // Above the largest double. What these routines write for the largest double itself may
    // round up past it ("1.79769313486232E308", "1.80E+308"), and must read back: a text that
    // does not exceed the largest double rounded to the digits the text shows is that double.
    const double largest = std::numeric_limits<double>::max();
    const int shown = std::min(static_cast<int>(read.digits.size()), kMaxSignificant);
    // Beyond it the numeral is an infinity, as a data file means it ("1e999" is how some
    // programs write one): read as such, the load counts it as a value that is not finite.
    if (Compare(read, RoundTo(largest, shown)) > 0)
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    return negative ? -largest : largest;
}

std::string FloatToStr(double value) {
    if (!std::isfinite(value)) return NonFiniteText(value);
    return GeneralText(value, 15, 0);
}

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
    if (!std::isfinite(value)) return NonFiniteText(value);
    precision = std::clamp(precision, 1, kMaxSignificant);
    const double a = std::fabs(value);
    switch (format) {
        case TFloatFormat::ffGeneral:
            return GeneralText(value, precision, std::clamp(digits, 0, 4));
        case TFloatFormat::ffExponent: {
            const Decimal r = RoundTo(a, precision);
            const std::string sign = r.IsZero() || value > 0 ? "" : "-";
            return sign + ScientificText(r, precision, true, std::clamp(digits, 0, 4));
        }
        case TFloatFormat::ffFixed:
            break;
    }
    digits = std::clamp(digits, 0, kMaxSignificant);
    if (a == 0) return FixedText({}, digits);
    // One rounding, at whichever comes first: the last significant digit or the last decimal.
    const Expansion quick = Expand(a, kQuickDigits);
    const Decimal r = RoundTo(a, quick, std::min(precision, quick.exponent + digits));
    const std::string sign = r.IsZero() || value > 0 ? "" : "-";
    if (!r.IsZero() && r.exponent > precision) {
        // The integer part needs more digits than the precision allows. Exponents get at least
        // two digits ("1.0000000E+08"), as in the exponent format with its usual setting.
        return sign + ScientificText(RoundTo(a, quick, precision), precision, true, 2);
    }
    return sign + FixedText(r, digits);
}

std::string FormatFloat(const std::string& pattern, double value) {
    if (!std::isfinite(value)) return NonFiniteText(value);
    const std::vector<std::string> sections = SplitSections(pattern);
    // Zero (also -0) takes the third section, a negative value the second, written for its
    // magnitude; an absent or empty section falls back to the first, and a negative value
    // formatted with the first gets a leading '-' unless every digit shown is zero. The zero
    // section is for an exact zero only: a negative value that rounds to zero keeps its section.
    size_t index = 0;
    if (value == 0 && sections.size() > 2 && !sections[2].empty()) {
        index = 2;
    } else if (value < 0 && sections.size() > 1 && !sections[1].empty()) {
        index = 1;
    }
    if (sections[index].empty()) return FloatToStr(value);
    bool allZero = false;
    const std::string text =
        FormatSection(ParsePattern(sections[index]), std::fabs(value), allZero);
    if (value < 0 && index == 0 && !allZero) return "-" + text;
    return text;
}

TDateTime Now() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    int64_t millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    if (millis < 0) millis += 1000;
    const int64_t days =
        DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) - EpochOffsetDays();
    const int64_t msOfDay =
        ((local.tm_hour * 60 + local.tm_min) * 60 + std::min(local.tm_sec, 59)) * 1000 + millis;
    return static_cast<double>(days) + static_cast<double>(msOfDay) / kMSecsPerDay;
}

std::string DateTimeToStr(TDateTime value) {
    // The integer part counts days (negative before 1899-12-30); the fraction is the time of
    // day whatever the sign, so -1.25 is 1899-12-29 06:00. Time is taken to the nearest
    // millisecond first, so 0.99999999999 is the next midnight rather than 23:59:59.
    // Years outside 1..9999 cannot be written in this form.
    constexpr double kLimit = 2958466.0;  // 10000-01-01
    if (!std::isfinite(value) || std::fabs(value) >= kLimit) {
        throw EConvertError("'" + FloatToStr(value) + "' is not a valid date and time");
    }
    const int64_t total = std::llround(std::fabs(value) * kMSecsPerDay);
    int64_t days = total / kMSecsPerDay;
    int64_t ms = total % kMSecsPerDay;
    if (value < 0) days = -days;
    int64_t year;
    int month;
    int day;
    CivilFromDays(days + EpochOffsetDays(), year, month, day);
    if (year < 1 || year > 9999) {
        throw EConvertError("'" + FloatToStr(value) + "' is not a valid date and time");
    }
    const int64_t secs = ms / 1000;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(year),
                  month, day, static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                  static_cast<int>(secs % 60));
    return buffer;
}

namespace {

// The length of the valid UTF-8 sequence at `i` and its code point; 0 when it is not one
// (overlong forms, surrogates and code points past U+10FFFF included).
std::size_t Utf8Sequence(const std::string& s, std::size_t i, char32_t& code) {
    const auto byte = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    char32_t min;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string EscapedLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    char buffer[8];
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = 0;
        const std::size_t length = Utf8Sequence(text, i, code);
        if (length == 0) {
            std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned char>(text[i]));
            line += buffer;
            ++i;
            continue;
        }
        if (code == '\n' || code == '\r' || code == '\t') {
            line += code == '\n' ? "\\n" : code == '\r' ? "\\r" : "\\t";
        } else if (IsControl(code)) {
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(code));
            line += buffer;
        } else {
            line.append(text, i, length);
        }
        i += length;
    }
    return line;
}

}  // namespace tav
