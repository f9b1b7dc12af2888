// Text conversions: fixed cases, and random values against an exact reference that rounds with
// 128-bit integer arithmetic instead of decimal digit strings.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <tuple>

#include "tav/sysutils.h"

namespace tav {
namespace {

using F = TFloatFormat;
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- Reference ----------------------------------------------------------------------------

using u128 = unsigned __int128;

// floor(|v| * 10^k) and whether the exact remainder is at least one half; nullopt when the
// exact product does not fit in 128 bits.
std::optional<std::pair<u128, bool>> Scaled(double v, int k) {
    int e;
    const double frac = std::frexp(std::fabs(v), &e);
    const auto m = static_cast<u128>(std::ldexp(frac, 53));
    e -= 53;
    const int numBits = 53 + std::max(e, 0) + 4 * std::max(k, 0);
    const int denBits = std::max(-e, 0) + 4 * std::max(-k, 0);
    if (numBits > 126 || denBits > 126) return std::nullopt;
    u128 num = m << std::max(e, 0);
    u128 den = u128{1} << std::max(-e, 0);
    for (int i = 0; i < std::abs(k); ++i) (k > 0 ? num : den) *= 10;
    return std::make_pair(num / den, 2 * (num % den) >= den);
}

std::optional<u128> RoundAway(double v, int k) {
    const auto s = Scaled(v, k);
    return s ? std::optional<u128>(s->first + s->second) : std::nullopt;
}

// E with 10^(E-1) <= |v| < 10^E.
int Exponent10(double v) {
    int e = static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 1;
    while (Scaled(v, 1 - e)->first == 0) --e;  // |v| < 10^(e-1)
    while (Scaled(v, -e)->first != 0) ++e;     // |v| >= 10^e
    return e;
}

std::string ToText(u128 n, int minLength = 1) {
    std::string s;
    do {
        s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(n % 10)));
        n /= 10;
    } while (n != 0);
    return std::string(std::max(0, minLength - static_cast<int>(s.size())), '0') + s;
}

u128 Pow10(int k) {
    u128 p = 1;
    while (k-- > 0) p *= 10;
    return p;
}

// d.ddd with `sig` digits, 'E', the exponent (sign always when alwaysSign).
std::optional<std::string> RefExponent(double v, int sig, bool alwaysSign, int minExpDigits) {
    int e = Exponent10(v);
    auto n = RoundAway(v, sig - e);
    if (!n) return std::nullopt;
    if (*n == Pow10(sig)) *n /= 10, ++e;
    const std::string d = ToText(*n);
    const std::string exp = ToText(static_cast<u128>(std::abs(e - 1)), minExpDigits);
    return (v < 0 ? "-" : "") + d.substr(0, 1) + (sig > 1 ? "." + d.substr(1) : "") + "E" +
           (e - 1 < 0 ? "-" : (alwaysSign ? "+" : "")) + exp;
}

std::optional<std::string> RefFixed(double v, int precision, int digits) {
    if (v == 0) return FloatToStrF(0.0, F::ffFixed, precision, digits);
    const int e = Exponent10(v);
    if (e > precision) return RefExponent(v, precision, true, 2);
    const int dd = std::min(digits, precision - e);
    const auto n = RoundAway(v, dd);
    if (!n) return std::nullopt;
    if (*n >= Pow10(precision + dd)) return RefExponent(v, precision, true, 2);
    std::string s = ToText(*n, dd + 1);
    if (dd > 0) s.insert(s.size() - static_cast<size_t>(dd), ".");
    if (digits > dd) s += std::string(dd == 0 ? "." : "") + std::string(digits - dd, '0');
    return (v < 0 && *n != 0 ? "-" : "") + s;
}

// Random doubles from three families: spread over many magnitudes, short decimals such as
// statistics print (2.675), and binary fractions, which hit exact ties.
double RandomValue(std::mt19937_64& rng) {
    std::uniform_int_distribution<int> family(0, 2);
    const double sign = std::uniform_int_distribution<int>(0, 1)(rng) ? -1.0 : 1.0;
    switch (family(rng)) {
        case 0:
            return sign * std::pow(10.0, std::uniform_real_distribution<double>(-12, 12)(rng));
        case 1:
            return sign * static_cast<double>(std::uniform_int_distribution<int>(0, 9999999)(rng)) /
                   std::pow(10.0, std::uniform_int_distribution<int>(0, 7)(rng));
        default:
            return sign * std::ldexp(std::uniform_int_distribution<int>(0, 1 << 24)(rng),
                                     -std::uniform_int_distribution<int>(0, 12)(rng));
    }
}

// ---- Integers and parsing -----------------------------------------------------------------

template <class Convert>
void ExpectRejected(Convert convert, std::initializer_list<const char*> texts, const char* kind) {
    for (const char* text : texts) {
        try {
            convert(text);
            ADD_FAILURE() << text;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), "'" + std::string(text) + "' is not a valid " + kind);
        }
    }
}

TEST(SysUtils, Integers) {
    EXPECT_EQ(IntToStr(-42), "-42");
    EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
    // clang-format off
    const std::pair<const char*, int32_t> good[] = {
        {" -17 ", -17}, {"+5", 5}, {"\t12\t", 12}, {"$ff", 255}, {"-$10", -16}, {"007", 7},
        {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"-$80000000", INT32_MIN}};
    // clang-format on
    for (const auto& [text, value] : good) EXPECT_EQ(StrToInt(text), value) << text;
    // Hexadecimal is a magnitude too: "$FFFFFFFF" is out of range, not -1.
    ExpectRejected(StrToInt,
                   {"", " ", "-", "$", "12a", "1 2", "- 1", "1.0", "1e3", "2147483648",
                    "-2147483649", "$80000000", "$FFFFFFFF", "99999999999999999999", "0x10", "+-1"},
                   "integer value");
}

TEST(SysUtils, StrToFloat) {
    // The last three are the largest double as written at 15, 3 and 1 significant digits.
    // clang-format off
    const std::pair<const char*, double> good[] = {
        {"-2.5", -2.5}, {" 2.50E+0 ", 2.5}, {"1.23E-4", 1.23e-4}, {"1e20", 1e20}, {"+.5", 0.5},
        {"7.", 7}, {"0.1", 0.1}, {"\t-1.0000000E+20", -1e20}, {"1E-400", 0}, {"inf", kInf},
        {"-INF", -kInf}, {"4.94065645841247E-324", 5e-324}, {"1.79769313486232E308", DBL_MAX},
        {"-1.80E+308", -DBL_MAX}, {"2E+308", DBL_MAX}, {"1e400", kInf}, {"-1.9E308", -kInf},
        {"2.1E+308", kInf}, {"1e1000000000000", kInf}, {"INFINITY", kInf}, {"-Infinity", -kInf}};
    // clang-format on
    for (const auto& [text, value] : good) EXPECT_EQ(StrToFloat(text), value) << text;
    EXPECT_TRUE(std::signbit(StrToFloat("-1E-400")));
    EXPECT_TRUE(std::isnan(StrToFloat(" nan ")));
    ExpectRejected(StrToFloat,
                   {"", "  ", "abc", ".", "-", "1e", "1e+", "E5", "1 2", "1..2", "--1", "1,5",
                    "0x10", "NAN1", "INFINITE", "- 1"},
                   "floating point value");
}

TEST(SysUtils, RandomValuesReadBackExactly) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const double v = i % 2 ? RandomValue(rng) : std::bit_cast<double>(rng() >> 1);
        if (!std::isfinite(v)) continue;
        char buffer[64];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
        ASSERT_EQ(StrToFloat(std::string(buffer, end)), v) << std::string(buffer, end);
        ASSERT_EQ(StrToFloat(FloatToStrF(v, F::ffGeneral, 17, 0)), v);
        ASSERT_EQ(StrToFloat(FloatToStrF(v, F::ffExponent, 17, 0)), v);
    }
}

// ---- Formatting ---------------------------------------------------------------------------

TEST(SysUtils, FloatToStr) {
    // clang-format off
    const std::pair<double, const char*> cases[] = {
        {-0.0, "0"}, {100, "100"}, {-2.5, "-2.5"}, {0.1, "0.1"}, {1e20, "1E20"},
        {1.5e-7, "1.5E-7"}, {1e-5, "0.00001"}, {9.9e-6, "9.9E-6"}, {1.0 / 3, "0.333333333333333"},
        {123456789012345678.0, "1.23456789012346E17"}, {999999999999999.0, "999999999999999"},
        {999999999999999.9, "1E15"}, {5e-324, "4.94065645841247E-324"},
        {DBL_MAX, "1.79769313486232E308"}};
    // clang-format on
    for (const auto& [value, text] : cases) EXPECT_EQ(FloatToStr(value), text) << value;

    std::mt19937_64 rng(11);
    for (int i = 0; i < 20000; ++i) {
        const double v = RandomValue(rng);
        // to_chars rounds ties to even; one ulp away from zero turns an exact tie into a value
        // just beyond it without crossing any other rounding boundary.
        char buffer[80];
        const auto digits = [&buffer](double x, int decimals) {
            const auto end = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(x),
                                           std::chars_format::scientific, decimals);
            return std::string(buffer, end.ptr);
        };
        const std::string cut = digits(v, 60).substr(16, 46);  // digits 16 to 61
        const bool tie = cut[0] == '5' && cut.find_first_not_of('0', 1) == std::string::npos;
        const std::string rounded = digits(tie ? std::nextafter(v, v * kInf) : v, 14);
        double expected;
        std::from_chars(rounded.data(), rounded.data() + rounded.size(), expected);
        ASSERT_EQ(StrToFloat(FloatToStr(v)), std::copysign(expected, v)) << rounded;
    }
}

TEST(SysUtils, FloatToStrF) {
    // 0.125 is an exact tie; 2.675 and 1.0005 are stored just below one. 0.0149999 rounds once
    // (not to 0.0150, then 0.02). 99999999.6 needs 9 integer digits only after rounding.
    // clang-format off
    const std::tuple<double, F, int, int, const char*> cases[] = {
        {1.5, F::ffFixed, 6, 4, "1.5000"},          {-2, F::ffFixed, 6, 4, "-2.0000"},
        {12.5, F::ffFixed, 8, 3, "12.500"},         {123456.789, F::ffFixed, 8, 4, "123456.7900"},
        {0.00012345, F::ffFixed, 6, 4, "0.0001"},   {0.125, F::ffFixed, 8, 2, "0.13"},
        {-0.125, F::ffFixed, 8, 2, "-0.13"},        {2.675, F::ffFixed, 8, 2, "2.67"},
        {1.0005, F::ffFixed, 8, 3, "1.000"},        {0.0149999, F::ffFixed, 3, 2, "0.01"},
        {0.996, F::ffFixed, 8, 2, "1.00"},          {-0.0001, F::ffFixed, 8, 3, "0.000"},
        {7, F::ffFixed, 8, 0, "7"},                 {12345678.4, F::ffFixed, 8, 3, "12345678.000"},
        {1e20, F::ffFixed, 8, 3, "1.0000000E+20"},  {99999999.6, F::ffFixed, 8, 3, "1.0000000E+08"},
        {-123456789.0, F::ffFixed, 8, 4, "-1.2345679E+08"},
        {1234.5, F::ffExponent, 4, 2, "1.235E+03"}, {-1e-10, F::ffExponent, 3, 0, "-1.00E-10"},
        {0, F::ffExponent, 6, 2, "0.00000E+00"},    {1e-7, F::ffGeneral, 6, 3, "1E-007"},
        {123.456, F::ffGeneral, 4, 0, "123.5"},     {12345, F::ffGeneral, 4, 0, "1.235E4"}};
    // clang-format on
    for (const auto& [value, format, precision, digits, text] : cases) {
        EXPECT_EQ(FloatToStrF(value, format, precision, digits), text) << value;
    }
}

TEST(SysUtils, FixedFormatMatchesExactReference) {
    std::mt19937_64 rng(3);
    const std::pair<int, int> formats[] = {{8, 3}, {8, 4}, {15, 2}, {6, 0}, {12, 6}};
    int compared = 0;
    for (int i = 0; i < 30000; ++i) {
        const double v = RandomValue(rng) * (i % 10 == 0 ? 1e9 : 1.0);
        for (const auto& [precision, digits] : formats) {
            const auto expected = RefFixed(v, precision, digits);
            if (!expected) continue;
            const std::string text = FloatToStrF(v, F::ffFixed, precision, digits);
            ASSERT_EQ(text, *expected) << std::hexfloat << v;
            StrToFloat(text);  // every form reads back
            ++compared;
        }
    }
    EXPECT_GT(compared, 100000);
}

TEST(SysUtils, FormatFloat) {
    // 9.996 carries into the exponent; 1.125 is an exact tie; 2.0005 is stored just above one
    // and 2.675 just below; a negative value shown as zero gets no '-' from the first section,
    // keeps its own section, and only an exact zero takes the zero section.
    // clang-format off
    const std::tuple<const char*, double, const char*> cases[] = {
        {"0.00E+0", 1234.5, "1.23E+3"},   {"0.00E+0", 0.000123, "1.23E-4"},
        {"0.00E+0", -2.5, "-2.50E+0"},    {"0.00E+0", -0.0, "0.00E+0"},
        {"0.00E+0", 1, "1.00E+0"},        {"0.00E+0", 9.996, "1.00E+1"},
        {"0.00E+0", 1.125, "1.13E+0"},    {"0.0e-00", 1234.5, "1.2e03"},
        {"0.0e-00", 0.05, "5.0e-02"},     {"00.0E+0", 1234.5, "12.3E+2"},
        {"0.##E+0", 1, "1E+0"},           {"0.000", 2.0005, "2.001"},
        {"0.00", 2.675, "2.67"},          {"0.000", -0.0004, "0.000"},
        {"#,##0.00", 0, "0.00"},          {"#,##0.00", 1234567.891, "1,234,567.89"},
        {"0", 2.5, "3"},                  {"#,##0.00", -1234.5, "-1,234.50"},
        {"#", 0, ""},                     {"0", 1e20, "100000000000000000000"},
        {"#", 12, "12"},                  {"0.##", 1, "1"},
        {"0.##", 1.5, "1.5"},             {"#.##", 0.5, ".5"},
        {"000", 7, "007"},                {"$0.00", -1, "-$1.00"},
        {"", 2.5, "2.5"},                 {"'#'0 \"a;b\"", 5, "#5 a;b"},
        {" 0.00E+0;-0.00E+0", 2.5, " 2.50E+0"},  {" 0.00E+0;-0.00E+0", -2.5, "-2.50E+0"},
        {" 0.00E+0;-0.00E+0", 0, " 0.00E+0"},    {"0.00;(0.00);'zero'", -2, "(2.00)"},
        {"0.00;(0.00);'zero'", 0, "zero"},       {"0.00;(0.00);'zero'", -0.001, "(0.00)"},
        {"0.00;;'zero'", -2, "-2.00"}};
    // clang-format on
    for (const auto& [pattern, value, text] : cases) {
        EXPECT_EQ(FormatFloat(pattern, value), text) << pattern << " " << value;
    }
}

TEST(SysUtils, ScientificPatternMatchesExactReference) {
    std::mt19937_64 rng(5);
    for (int i = 0; i < 30000; ++i) {
        const double v = RandomValue(rng);
        const auto expected = v == 0 ? std::nullopt : RefExponent(v, 3, true, 0);
        if (!expected) continue;
        const std::string sci = FormatFloat("0.00E+0", v);
        ASSERT_EQ(sci, *expected) << std::hexfloat << v;
        ASSERT_EQ(FormatFloat(" 0.00E+0;-0.00E+0", v), (v < 0 ? "" : " ") + sci);
        ASSERT_EQ(StrToFloat(sci), StrToFloat(expected->c_str()));
    }
}

TEST(SysUtils, NonFiniteValues) {
    const std::pair<double, const char*> cases[] = {
        {std::nan(""), "NAN"}, {kInf, "INF"}, {-kInf, "-INF"}};
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(FloatToStr(value), text);
        for (F f : {F::ffFixed, F::ffExponent, F::ffGeneral}) {
            EXPECT_EQ(FloatToStrF(value, f, 8, 3), text);
        }
        EXPECT_EQ(FormatFloat(" 0.00E+0;-0.00E+0", value), text);
        EXPECT_EQ(FloatToStr(StrToFloat(text)), text);
    }
}

// ---- Dates --------------------------------------------------------------------------------

TEST(SysUtils, DateTime) {
    // The fraction is the time of day whatever the sign; time goes to the nearest millisecond.
    // clang-format off
    const std::pair<double, const char*> cases[] = {
        {0, "1899-12-30 00:00:00"},        {-1.25, "1899-12-29 06:00:00"},
        {45658.75, "2025-01-01 18:00:00"}, {36585 + 0.99999999999, "2000-03-01 00:00:00"},
        {-693593, "0001-01-01 00:00:00"},  {2958465.5, "9999-12-31 12:00:00"}};
    // clang-format on
    for (const auto& [value, text] : cases) EXPECT_EQ(DateTimeToStr(value), text) << value;
    for (double bad : {std::nan(""), kInf, 2958466.0, -693594.0}) {
        EXPECT_THROW(DateTimeToStr(bad), EConvertError) << bad;
    }
    // Now() and the clock agree on the day (unless the day ends during the test).
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", &local);
    const std::string now = DateTimeToStr(Now());
    if (local.tm_hour != 23 || local.tm_min != 59) {
        EXPECT_EQ(now.substr(0, 10), day);
    }
}

TEST(SysUtils, EscapedLineLeavesNoControlForATerminal) {
    const struct {
        std::string text, line;
    } cases[] = {
        {"a\tb\r\nc", "a\\tb\\r\\nc"},
        {"\x1b[31mred\x7f", "\\u001b[31mred\\u007f"},
        {"\xc2\x9b"
         "2J \xe2\x80\xae \xe2\x81\xa6 \xd8\x9c \xe2\x80\x8f \xe2\x80\xa8",
         "\\u009b2J \\u202e \\u2066 \\u061c \\u200f \\u2028"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"\x9b\xff\xc3", "\\x9b\\xff\\xc3"},                      // not UTF-8: C1 as a raw byte
        {"\xc0\xaf \xed\xa0\x80", "\\xc0\\xaf \\xed\\xa0\\x80"},  // overlong; a surrogate
        {std::string("a\0b", 3), "a\\u0000b"},
    };
    for (const auto& c : cases) EXPECT_EQ(EscapedLine(c.text), c.line) << c.text;
}

}  // namespace
}  // namespace tav
