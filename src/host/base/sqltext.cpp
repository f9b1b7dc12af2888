#include "tav/sqltext.h"

#include <algorithm>
#include <cctype>

namespace tav {

namespace {

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// The end of a quote opened at `open` and closed by `close` (doubled, it stands for itself);
// the text's end when it is left open. `escapes`: a backslash takes the next character with it.
std::size_t QuoteEnd(const std::string& s, std::size_t open, char close, bool escapes) {
    for (std::size_t j = open + 1; j < s.size(); ++j) {
        if (escapes && s[j] == '\\') {
            ++j;
        } else if (s[j] == close) {
            if (j + 1 < s.size() && s[j + 1] == close) {
                ++j;
                continue;
            }
            return j + 1;
        }
    }
    return s.size();
}

// PostgreSQL goes on with a string when only blanks holding a line end (and -- comments, each
// ended by a line end, the first one on the closing quote's own line too) stand between its
// closing quote at `end` - 1 and another quote; the position of that quote, or npos.
std::size_t ContinuedQuote(const std::string& s, std::size_t end) {
    const std::size_t n = s.size();
    std::size_t j = end;
    while (j < n && (s[j] == ' ' || s[j] == '\t' || s[j] == '\f')) ++j;
    if (s.compare(j, 2, "--") == 0) j = std::min(s.find_first_of("\n\r", j), n);
    if (j == n || (s[j] != '\n' && s[j] != '\r')) return std::string::npos;
    while (++j < n) {
        if (s.compare(j, 2, "--") == 0) {
            j = s.find_first_of("\n\r", j);
            if (j == std::string::npos) return j;
        } else if (!IsSpace(s[j])) {
            break;
        }
    }
    return j < n && s[j] == '\'' ? j : std::string::npos;
}

// Scans one lexical unit at `i` and returns the position after it. `significant` is false for
// blanks and comments.
std::size_t SkipUnit(const std::string& s, std::size_t i, TSqlDialect dialect, bool& significant) {
    const bool pg = dialect == TSqlDialect::PostgreSQL;
    const std::size_t n = s.size();
    const char c = s[i];
    significant = true;
    if (IsSpace(c)) {
        significant = false;
        return i + 1;
    }
    if (c == '-' && i + 1 < n && s[i + 1] == '-') {
        significant = false;
        const std::size_t end = s.find_first_of(pg ? "\n\r" : "\n", i);
        return end == std::string::npos ? n : end + 1;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '*') {
        significant = false;
        if (!pg) {
            const std::size_t end = s.find("*/", i + 2);
            return end == std::string::npos ? n : end + 2;
        }
        int depth = 1;  // PostgreSQL's comments nest
        std::size_t j = i + 2;
        while (j + 1 < n && depth > 0) {
            if (s[j] == '/' && s[j + 1] == '*') {
                ++depth;
                j += 2;
            } else if (s[j] == '*' && s[j + 1] == '/') {
                --depth;
                j += 2;
            } else {
                ++j;
            }
        }
        return depth == 0 ? j : n;
    }
    if (c == '\'' || c == '"' || (!pg && (c == '`' || c == '['))) {
        if (c == '[') {
            const std::size_t end = s.find(']', i);
            return end == std::string::npos ? n : end + 1;
        }
        return QuoteEnd(s, i, c, false);
    }
    if (pg && (c == 'E' || c == 'e') && i + 1 < n && s[i + 1] == '\'') {
        // E'...': backslash escapes, and a continuation keeps them.
        std::size_t end = QuoteEnd(s, i + 1, '\'', true);
        for (std::size_t more; end < n && (more = ContinuedQuote(s, end)) != std::string::npos;)
            end = QuoteEnd(s, more, '\'', true);
        return end;
    }
    if (pg && c == '$') {
        // $tag$ ... $tag$, the tag empty or a word that does not start with a digit (a $ inside
        // a word belongs to the word, and $1 is a parameter).
        std::size_t j = i + 1;
        while (j < n && IsWordChar(s[j])) ++j;
        if (j < n && s[j] == '$' && !(j > i + 1 && IsDigit(s[i + 1]))) {
            const std::string tag = s.substr(i, j - i + 1);
            const std::size_t end = s.find(tag, j + 1);
            return end == std::string::npos ? n : end + tag.size();
        }
        return i + 1;
    }
    if (IsDigit(c)) {  // a number, and letters stuck to it; never a $ (see above)
        std::size_t j = i + 1;
        while (j < n && (IsWordChar(s[j]) || s[j] == '.')) ++j;
        return j;
    }
    if (IsWordChar(c)) {
        std::size_t j = i + 1;
        while (j < n && (IsWordChar(s[j]) || s[j] == '$')) ++j;
        return j;
    }
    return i + 1;
}

}  // namespace

TStatementText ReadStatement(const std::string& sql, TSqlDialect dialect) {
    TStatementText result;
    std::size_t i = 0;
    std::size_t begin = 0;  // of the first significant unit of the first statement
    std::size_t end = 0;    // after its last one
    bool first = true;
    bool ended = false;  // a semicolon closed the first statement
    while (i < sql.size()) {
        bool significant = false;
        const std::size_t next = SkipUnit(sql, i, dialect, significant);
        if (!significant || (first && sql[i] == ';')) {
            // blanks, comments, and the empty statements before the first
        } else if (ended) {
            if (sql[i] != ';') {
                result.more = true;
                break;
            }
        } else if (sql[i] == ';') {
            ended = true;
        } else {
            if (first) {
                begin = i;
                for (std::size_t k = i; k < next && IsWordChar(sql[k]); ++k)
                    result.keyword +=
                        static_cast<char>(std::toupper(static_cast<unsigned char>(sql[k])));
            }
            first = false;
            end = next;
        }
        i = next;
    }
    result.statement = sql.substr(begin, end - begin);
    return result;
}

bool IsQueryKeyword(const std::string& keyword) {
    return keyword == "SELECT" || keyword == "WITH" || keyword == "VALUES";
}

std::string StatementExcerpt(const std::string& statement, std::size_t width) {
    std::string line;
    for (char c : statement) {
        const bool blank = IsSpace(c);
        if (blank && (line.empty() || line.back() == ' ')) continue;
        line += blank ? ' ' : c;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (line.size() > width) line = line.substr(0, width - 3) + "...";
    return line;
}

}  // namespace tav
