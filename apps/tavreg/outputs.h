// What tavreg writes to its standard streams, and how it shows a text that others wrote.
#pragma once

#include <string>

namespace tavreg {

// Keeps standard output and standard error, when they were closed, from being the descriptor of
// a file the run opens: they are opened on /dev/null for reading, so that writing them fails as
// it would have.
void KeepStandardStreams();

// Writes all of `bytes` to standard output and closes it; raises tav::Exception when the
// system says a write or the close failed (a full disk, a closed descriptor).
void WriteStandardOutput(const std::string& bytes);

// A message on one line: the line breaks of the system's own texts (LF CR) become blanks, and
// what a terminal would act on is shown escaped as tav::EscapedLine shows it (\n, \t, \u001b).
std::string OneLine(const std::string& text);
// The same for a text of several lines: line feeds stay, other control characters are escaped.
std::string Printable(const std::string& text);

}  // namespace tavreg
