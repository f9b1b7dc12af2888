// The number conversions on any text and any double: texts that read as numbers, and every text
// the writers produce, read back to what was written; no format, precision or pattern crashes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "tav/sysutils.h"

using namespace tav;

namespace {

std::string Show(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

// A text one of the writers wrote must read back; returns its value.
double ReadBack(const std::string& text, const std::string& writer, double v) {
    try {
        return StrToFloat(text);
    } catch (const EConvertError&) {
        tavfuzz::Finding(writer + " of " + Show(v) + " wrote '" + text + "', which does not read");
    }
}

void CheckDouble(double v, int format, int precision, int digits, const std::string& pattern) {
    // Seventeen significant digits tell every double from its neighbours.
    const std::string exact = FloatToStrF(v, TFloatFormat::ffExponent, 17, 0);
    const double back = ReadBack(exact, "FloatToStrF(ffExponent, 17)", v);
    if (!(back == v) && !(std::isnan(back) && std::isnan(v)))
        tavfuzz::Finding(Show(v) + " written as '" + exact + "' reads back as " + Show(back));

    // Fifteen digits: writing what was read gives the same text again.
    const std::string general = FloatToStr(v);
    const double rounded = ReadBack(general, "FloatToStr", v);
    if (FloatToStr(rounded) != general)
        tavfuzz::Finding("'" + general + "' reads as " + Show(rounded) + ", written as '" +
                         FloatToStr(rounded) + "'");

    // Every format rounds monotonically: the next double up never reads back smaller.
    const auto f = static_cast<TFloatFormat>(format);
    const double lower = ReadBack(FloatToStrF(v, f, precision, digits), "FloatToStrF", v);
    const double next = std::nextafter(v, HUGE_VAL);
    const double upper = ReadBack(FloatToStrF(next, f, precision, digits), "FloatToStrF", next);
    if (upper < lower)
        tavfuzz::Finding("FloatToStrF(" + std::to_string(format) + ", " +
                         std::to_string(precision) + ", " + std::to_string(digits) + ") of " +
                         Show(v) + " reads back above its successor's");
    FormatFloat(pattern, v);
    try {
        DateTimeToStr(v);
    } catch (const EConvertError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int format = in.ConsumeIntegralInRange(0, 2);
    const int precision = in.ConsumeIntegralInRange(-2, 40);
    const int digits = in.ConsumeIntegralInRange(-2, 40);
    uint64_t bits = in.ConsumeIntegral<uint64_t>();
    double raw;
    std::memcpy(&raw, &bits, sizeof raw);
    const std::string pattern = in.ConsumeRandomLengthString(64);
    const std::string text = in.ConsumeRemainingBytesAsString();

    CheckDouble(raw, format, precision, digits, pattern);
    try {
        const double v = StrToFloat(text);
        CheckDouble(v, format, precision, digits, pattern);
        // The C library reads what StrToFloat reads to the same double, where it is in range.
        const std::string plain = text.substr(0, text.find_last_not_of(" \t") + 1);
        char* end = nullptr;
        errno = 0;
        const double c = std::strtod(plain.c_str(), &end);
        if (std::isfinite(c) && errno == 0 && *end == 0 && c != v)
            tavfuzz::Finding("'" + text + "' reads as " + Show(v) + ", strtod says " + Show(c));
    } catch (const EConvertError&) {
    }
    try {
        const int32_t n = StrToInt(text);
        if (StrToInt(IntToStr(n)) != n) tavfuzz::Finding("'" + text + "' does not read back");
    } catch (const EConvertError&) {
    }
    return 0;
}
