#include "terms.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "tav/sysutils.h"

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

// "A, B or C"
std::string Listed(const std::vector<std::string>& items) {
    std::string list;
    for (std::size_t k = 0; k < items.size(); ++k)
        list += (k == 0 ? "" : k + 1 == items.size() ? " or " : ", ") + items[k];
    return list;
}

// The kind's term in the help's symbols: "Power(FIELD,N)", "Product(F1,F2)".
std::string Symbols(const tav::TTransformationKind& kind) {
    const bool two = kind.fields == 2;
    return tav::FillTerm(kind.syntax, two ? "F1" : "FIELD", "F2",
                         kind.parameter != nullptr ? kind.parameter->symbol : "");
}

// "FIELD, Log, Inverse or Scale": the names of the kinds a role may have.
std::string Names(tav::TRole role) {
    std::vector<std::string> names;
    for (const tav::TTransformationKind& kind : tav::TransformationKinds())
        if (kind.In(role) && !kind.syntax.empty())
            names.emplace_back(kind.SyntaxName().empty() ? "FIELD" : kind.SyntaxName());
    return Listed(names);
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

// The kind of role `role` whose tavreg name is `name` ("" for a bare field); null for none.
const tav::TTransformationKind* Named(const std::string& name, tav::TRole role) {
    for (const tav::TTransformationKind& kind : tav::TransformationKinds())
        if (kind.In(role) && !kind.syntax.empty() && kind.SyntaxName() == name) return &kind;
    return nullptr;
}

// " (Log?)" for "log": the name a term has when only the case of its letters differs.
std::string Suggest(const std::string& name) {
    std::vector<std::string> known = {"Factor"};
    for (const tav::TTransformationKind& kind : tav::TransformationKinds())
        if (!kind.SyntaxName().empty()) known.emplace_back(kind.SyntaxName());
    for (const std::string& k : known)
        if (k.size() == name.size() &&
            std::equal(k.begin(), k.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            return " (" + k + "?)";
    return "";
}

void Expect(const std::string& term, const TTerm& t, const tav::TTransformationKind& kind) {
    const auto count = static_cast<std::size_t>(kind.Arity());
    if (t.args.size() != count)
        Fail(term, t.function + " takes " + std::to_string(count) +
                       (count == 1 ? " argument" : " arguments"));
    for (std::size_t k = 0; k < count; ++k)
        if (t.args[k].empty())
            Fail(term, k < static_cast<std::size_t>(kind.fields) ? "a field name is empty"
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

// The entries of a variable of role `role` that the term defines, checked.
void Define(const std::string& term, tav::TRole role, tav::TStringList& v) {
    const TTerm t = Split(term);
    const tav::TTransformationKind* kind = Named(t.function, role);
    if (kind == nullptr)
        Fail(term, role == tav::TRole::Control
                       ? "unknown transformation " + t.function + Suggest(t.function)
                       : "the response takes " + Names(role));
    if (!t.function.empty()) Expect(term, t, *kind);
    if (const tav::TParameterRule* p = kind->parameter) {
        const std::string& text = t.args[static_cast<std::size_t>(kind->fields)];
        if (p->check(Number(term, std::string(p->name), text)) != tav::TSkipReason::None)
            Fail(term, tav::FillTerm(p->refusal, "", "", text));
        v.SetStrings(p->entry, text);
    }
    v.SetStrings(1, std::string(kind->code));
    v.SetStrings(2, t.args[0]);
    if (kind->fields == 2) v.SetStrings(3, t.args[1]);
}

}  // namespace

tav::TIndepVar ControlTerm(const std::string& term) {
    tav::TIndepVar v;
    Define(term, tav::TRole::Control, v);
    v.SetUsage("Active");
    return v;
}

tav::TDependentVar ResponseTerm(const std::string& term) {
    tav::TDependentVar r;
    Define(term, tav::TRole::Response, r);
    return r;
}

std::string TermSyntax(const tav::TStringList& v, tav::TRole role) {
    const tav::TTransformationKind* kind = tav::FindKind(v[1], role);
    if (kind == nullptr || kind->syntax.empty()) return "";
    return tav::FillTerm(kind->syntax, v[2], v[3],
                         kind->parameter != nullptr ? v[kind->parameter->entry] : std::string());
}

std::string ResponseTermList() {
    std::vector<std::string> terms;
    for (const tav::TTransformationKind& kind : tav::TransformationKinds())
        if (kind.response && !kind.syntax.empty()) terms.push_back(Symbols(kind));
    return Listed(terms);
}

std::optional<std::string> FactorField(const std::string& term) {
    const TTerm t = Split(term);
    if (t.function != "Factor") return std::nullopt;
    if (t.args.size() != 1) Fail(term, "Factor takes 1 argument");
    if (t.args[0].empty()) Fail(term, "the field name is empty");
    return t.args[0];
}

std::string ControlTermLines() {
    std::string lines;
    for (const tav::TTransformationKind& kind : tav::TransformationKinds()) {
        if (!kind.control || kind.syntax.empty()) continue;
        std::string syntax = Symbols(kind);
        syntax.resize(std::max<std::size_t>(syntax.size() + 1, 17), ' ');
        lines +=
            (lines.empty() ? "" : "\n") + std::string(2, ' ') + syntax + std::string(kind.help);
    }
    return lines +
           "\n  Factor(FIELD)    one indicator (0 or 1) per level of FIELD but the first, in\n"
           "                   sorted order, named FIELD and the level as R names them\n"
           "                   (Diet2, Diet3, ...); each counts as a control variable";
}

}  // namespace tavreg
