// Text conversions and the exception hierarchy of the host layer.
//
// These are the classic framework's conversion routines rebuilt on the C++ standard library, so
// that code ported from that framework formats and parses numbers exactly as it did. The header
// exposes no Qt types: the matrix and variable libraries include it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tav {

// Root of every error the host layer raises. Derives from std::runtime_error so that hosts that
// know nothing of this hierarchy can still catch and print it.
class Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string& message)
        : std::runtime_error(message), message_(message) {}
    // The whole message, a NUL byte in it included (what() ends at the first one).
    const std::string& Message() const { return message_; }

  private:
    std::string message_;
};

// The message of any exception: Message() for the host's own, what() for the others.
inline std::string ErrorMessage(const std::exception& e) {
    if (const auto* own = dynamic_cast<const Exception*>(&e)) return own->Message();
    return e.what();
}

// A text is not a number of the requested kind: "'abc' is not a valid floating point value".
class EConvertError : public Exception {
  public:
    using Exception::Exception;
};

// Dataset errors: a missing field, a closed dataset, a database that cannot be opened, bad SQL.
class EDatabaseError : public Exception {
  public:
    using Exception::Exception;
};

// An index outside a string list: "List index out of bounds (6)".
class EStringListError : public Exception {
  public:
    using Exception::Exception;
};

// Floating-point formats of FloatToStrF.
enum class TFloatFormat { ffGeneral, ffExponent, ffFixed };

std::string IntToStr(int64_t value);

// Decimal integer with optional sign and surrounding blanks; "$" prefix for hexadecimal.
// Raises EConvertError "'text' is not a valid integer value".
int32_t StrToInt(const std::string& text);

// Reads everything FloatToStr, FloatToStrF and FormatFloat write: optional blanks, sign, digits
// with '.', an exponent "E[+-]d..", and "NAN", "INF", "-INF" (also "INFINITY"; any case). A
// numeral beyond the double range ("1e999") is an infinity of its sign, one below the subnormals
// a zero. Raises EConvertError "'text' is not a valid floating point value".
double StrToFloat(const std::string& text);

// General format with 15 significant digits, trailing zeros removed; scientific ("1.5E-7",
// "1E20") when the integer part needs more than 15 digits or the magnitude is below 1E-5.
std::string FloatToStr(double value);

// ffFixed: rounds to `precision` significant digits (ties away from zero), then writes exactly
// `digits` decimals; digits beyond the precision are zeros. When the integer part needs more
// than `precision` digits the value is written in scientific form ("1.0000000E+20").
// ffGeneral and ffExponent follow the classic framework's meaning.
// NaN and infinities are "NAN", "INF" and "-INF" in every format.
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits);

// Pattern formatting with up to three sections "positive;negative;zero", placeholders '0' and
// '#', '.', ',' for thousands, exponents "E+0", "E-0", "e+0", "e-0", quoted literals.
std::string FormatFloat(const std::string& pattern, double value);

// Days since 1899-12-30, with the time of day as the fraction.
using TDateTime = double;
TDateTime Now();
// "yyyy-mm-dd hh:nn:ss"
std::string DateTimeToStr(TDateTime value);

// A text that others wrote (a server's notice, a message quoting a file), made safe to show as one
// line on a terminal: line ends and tabs as \n \r \t; the other C0 controls, DEL, the C1 controls
// U+0080-U+009F, the bidirectional controls (U+061C, U+200E, U+200F, U+202A-U+202E,
// U+2066-U+2069) and the line and paragraph separators U+2028 and U+2029 as \u followed by four
// hex digits ("\u001b", "\u202e"); a byte that is not part of valid UTF-8 as \x and two hex
// digits. Everything else is kept as it is.
std::string EscapedLine(const std::string& text);

}  // namespace tav
