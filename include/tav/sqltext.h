// The text of a query as a dataset runs it, read with the lexical rules of the database it goes
// to, so that a semicolon or a word inside a quote or a comment counts for nothing. The reader
// gives early, clear refusals; it is not the guarantee: the connections run a statement so that
// the database itself refuses a second one.
#pragma once

#include <string>

namespace tav {

// Whose lexical rules a text is read with.
//   SQLite:     '...' and "...", `...`, [...] with '' "" `` doubled inside, no escapes; /* */
//               comments do not nest; $ starts a parameter ($name), never a quote.
//   PostgreSQL: '...' (and U&'...') with '' doubled; E'...' with backslash escapes too; "...";
//   dollar
//               quotes $tag$...$tag$; /* */ comments nest; [ ] and ` are only punctuation.
// Both: -- comments to the line end.
enum class TSqlDialect { SQLite, PostgreSQL };

// The first statement of an SQL text as ReadStatement finds it.
struct TStatementText {
    // The first statement, without the blanks, comments and semicolons before and after it.
    std::string statement;
    // Its first word in upper case ("SELECT", "WITH", ...); empty when there is none.
    std::string keyword;
    // Whether another statement follows the first.
    bool more = false;
};

TStatementText ReadStatement(const std::string& sql, TSqlDialect dialect);

// Whether a statement of this first word only asks for rows: SELECT, WITH or VALUES. (A WITH
// statement may still end in a write; the connections refuse those as they run.)
bool IsQueryKeyword(const std::string& keyword);

// A statement shortened to one line of at most `width` characters for a message: line ends and
// tabs as blanks, runs of blanks as one, "..." where it was cut.
std::string StatementExcerpt(const std::string& statement, std::size_t width = 60);

}  // namespace tav
