#include "terms.h"

#include <cmath>
#include <vector>

#include "host/sysutils.h"

namespace tavreg {

namespace {

struct TTerm {
    std::string function;  // empty for a bare field
    std::vector<std::string> args;
};

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

[[noreturn]] void Fail(const std::string& term, const std::string& why) {
    throw UsageError("'" + term + "': " + why);
}

// "Name(a, b)" -> {"Name", {"a", "b"}}; a bare "FIELD" -> {"", {"FIELD"}}.
TTerm Split(const std::string& term) {
    const auto open = term.find('(');
    const auto close = term.find(')');
    if (open == std::string::npos) {
        if (close != std::string::npos) Fail(term, "unbalanced parentheses");
        const std::string field = Trim(term);
        if (field.empty()) Fail(term, "the field name is empty");
        return {"", {field}};
    }
    const std::string tail = Trim(term.substr(open));
    if (tail.back() != ')' || term.find('(', open + 1) != std::string::npos ||
        term.find(')', close + 1) != std::string::npos || close < open)
        Fail(term, "unbalanced parentheses");
    TTerm t{Trim(term.substr(0, open)), {}};
    // "(F)" is no bare field: a bare field is what an empty function name stands for.
    if (t.function.empty()) Fail(term, "the transformation name is empty");
    const std::string inside = tail.substr(1, tail.size() - 2);
    std::string::size_type start = 0;
    for (;;) {
        const auto comma = inside.find(',', start);
        t.args.push_back(Trim(inside.substr(start, comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return t;
}

void Expect(const std::string& term, const TTerm& t, std::size_t count) {
    if (t.args.size() != count)
        Fail(term, t.function + " takes " + std::to_string(count) +
                       (count == 1 ? " argument" : " arguments"));
    for (std::size_t k = 0; k < count; ++k)
        if (t.args[k].empty())
            Fail(term, k == 0 || t.function == "Product" || t.function == "Quotient"
                           ? "a field name is empty"
                           : "an argument is empty");
}

double Number(const std::string& term, const std::string& what, const std::string& text) {
    double value = 0;
    try {
        value = tav::StrToFloat(text);
    } catch (const tav::EConvertError&) {
        Fail(term, "the " + what + " '" + text + "' is not a number");
    }
    if (!std::isfinite(value)) Fail(term, "the " + what + " '" + text + "' is not finite");
    return value;
}

// The scale factor must be a number away from zero: dividing by it is the transformation.
std::string Factor(const std::string& term, const std::string& text) {
    if (!(std::fabs(static_cast<long double>(Number(term, "scale factor", text))) >
          tav::kZeroTolerance))
        Fail(term, "the scale factor must not be 0");
    return text;
}

}  // namespace

tav::TIndepVar ControlTerm(const std::string& term) {
    const TTerm t = Split(term);
    tav::TIndepVar v;
    if (t.function.empty()) {
        v.SetTransformation("None");
    } else if (t.function == "Log" || t.function == "Inverse" || t.function == "Sqrt") {
        Expect(term, t, 1);
        v.SetTransformation(t.function);
    } else if (t.function == "Power") {
        Expect(term, t, 2);
        if (Number(term, "exponent", t.args[1]) < 0.5)
            Fail(term, "the exponent " + t.args[1] + " is below 0.5");
        v.SetTransformation("Power");
        v.SetExponent(t.args[1]);
    } else if (t.function == "Scale") {
        Expect(term, t, 2);
        v.SetTransformation("Scale");
        v.SetScaleFactor(Factor(term, t.args[1]));
    } else if (t.function == "Product" || t.function == "Quotient") {
        Expect(term, t, 2);
        v.SetTransformation(t.function);
        v.SetField2(t.args[1]);
    } else {
        Fail(term, "unknown transformation " + t.function);
    }
    v.SetField1(t.args[0]);
    return v;
}

tav::TDependentVar ResponseTerm(const std::string& term) {
    const TTerm t = Split(term);
    tav::TDependentVar r;
    if (t.function.empty() || t.function == "Log" || t.function == "Inverse") {
        if (!t.function.empty()) Expect(term, t, 1);
        r.SetTransformation(t.function.empty() ? "None" : t.function);
    } else if (t.function == "Scale") {
        Expect(term, t, 2);
        r.SetTransformation("Scale");
        r.SetScaleFactor(Factor(term, t.args[1]));
    } else {
        Fail(term, "the response takes FIELD, Log, Inverse or Scale");
    }
    r.SetField(t.args[0]);
    return r;
}

}  // namespace tavreg
