// The text of a query as a dataset runs it, read with SQL's lexical rules: quoted strings and
// identifiers ('...', "...", `...`, [...], $tag$...$tag$) and comments (-- to the line end,
// /* ... */) are passed over whole, so that a semicolon or a word inside them counts for nothing.
#pragma once

#include <string>

namespace tav {

struct TStatementText {
    // The first statement, without the blanks, comments and semicolons before and after it.
    std::string statement;
    // Its first word in upper case ("SELECT", "WITH", ...); empty when there is none.
    std::string keyword;
    // Whether another statement follows the first.
    bool more = false;
};

TStatementText ReadStatement(const std::string& sql);

// Whether a statement of this first word only asks for rows: SELECT, WITH or VALUES. (A WITH
// statement may still end in a write; the connections refuse those as they run.)
bool IsQueryKeyword(const std::string& keyword);

// A statement shortened to one line of at most `width` characters for a message: line ends and
// tabs as blanks, runs of blanks as one, "..." where it was cut.
std::string StatementExcerpt(const std::string& statement, std::size_t width = 60);

}  // namespace tav
