// The reader of a query's text on any text: the statement it gives is a part of the text and
// reads again as itself with nothing after it; it ends in a blank or a semicolon only inside a
// quote or comment left open; the keyword is the statement's first word, in upper case. The first
// byte chooses the dialect (odd: PostgreSQL's).
#include <cctype>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "tav/sqltext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const auto dialect = data[0] & 1 ? tav::TSqlDialect::PostgreSQL : tav::TSqlDialect::SQLite;
    const std::string sql(reinterpret_cast<const char*>(data) + 1, size - 1);
    const tav::TStatementText t = tav::ReadStatement(sql, dialect);
    const std::size_t at = sql.rfind(t.statement);
    if (at == std::string::npos) tavfuzz::Finding("the statement is not in the text");
    if (!t.statement.empty() && at + t.statement.size() < sql.size()) {
        const unsigned char last = static_cast<unsigned char>(t.statement.back());
        if (std::isspace(last) || last == ';') tavfuzz::Finding("the statement ends in a blank");
    }
    const tav::TStatementText again = tav::ReadStatement(t.statement, dialect);
    if (again.statement != t.statement || again.keyword != t.keyword || again.more)
        tavfuzz::Finding("the statement does not read as itself");
    for (char c : t.keyword)
        if (std::islower(static_cast<unsigned char>(c))) tavfuzz::Finding("keyword not upper case");
    if (t.statement.empty() && t.more) tavfuzz::Finding("a second statement after none");
    tav::StatementExcerpt(sql, 20);
    return 0;
}
