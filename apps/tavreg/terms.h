// The variable terms of tavreg's command line: FIELD, Log(F), Power(F,N), ... turned into the
// components' variable definitions, checked when the command line is read. The terms are those of
// the table of transformation kinds (tav/transformations.h).
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "tav/tavtypes.h"

namespace tavreg {

// A wrong command line (exit status 2).
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Raise UsageError naming the term when it is malformed or can never give a usable value: an
// unknown or empty transformation name ("(F)"), a wrong number of arguments, an empty field name,
// unbalanced parentheses, an exponent or factor that is not a finite number, an exponent below 0.5,
// a factor of magnitude <= 1E-20. Blanks around the arguments are dropped; blanks inside a field
// name are part of it.
tav::TIndepVar ControlTerm(const std::string& term);
tav::TDependentVar ResponseTerm(const std::string& term);

// The field of a term Factor(FIELD), which stands for indicators of the field's levels (see
// factors.h); none for any other term. Raises UsageError for a malformed Factor term.
std::optional<std::string> FactorField(const std::string& term);

// The term of a variable's entries `v` in this syntax, which ControlTerm or ResponseTerm reads
// back as the same definition; "" for a kind the syntax has no term for.
std::string TermSyntax(const tav::TStringList& v, tav::TRole role);

// For --help: the response's terms ("FIELD, Log(FIELD), ... or Scale(FIELD,S)"), and the lines,
// one per term of a control variable, that say what each means (no line break after the last).
std::string ResponseTermList();
std::string ControlTermLines();

}  // namespace tavreg
