#include "host/sqltext.h"

#include <cctype>

namespace tav {

namespace {

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Scans one lexical unit at `i` and returns the position after it. `significant` is false for
// blanks and comments.
std::size_t SkipUnit(const std::string& s, std::size_t i, bool& significant) {
    const std::size_t n = s.size();
    const char c = s[i];
    significant = true;
    if (IsSpace(c)) {
        significant = false;
        return i + 1;
    }
    if (c == '-' && i + 1 < n && s[i + 1] == '-') {
        significant = false;
        const std::size_t end = s.find('\n', i);
        return end == std::string::npos ? n : end + 1;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '*') {
        significant = false;
        const std::size_t end = s.find("*/", i + 2);
        return end == std::string::npos ? n : end + 2;
    }
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
        const char close = c == '[' ? ']' : c;
        for (std::size_t j = i + 1; j < n; ++j) {
            if (s[j] != close) continue;
            if (close != ']' && j + 1 < n && s[j + 1] == close) {
                ++j;  // a doubled quote stands for itself
                continue;
            }
            return j + 1;
        }
        return n;
    }
    if (c == '$' && (i == 0 || !IsWordChar(s[i - 1]))) {
        // $tag$ ... $tag$, the tag empty or a word that does not start with a digit.
        std::size_t j = i + 1;
        while (j < n && IsWordChar(s[j]) && s[j] != '$') ++j;
        if (j < n && s[j] == '$' &&
            !(j > i + 1 && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            const std::string tag = s.substr(i, j - i + 1);
            const std::size_t end = s.find(tag, j + 1);
            return end == std::string::npos ? n : end + tag.size();
        }
    }
    if (IsWordChar(c)) {
        std::size_t j = i + 1;
        while (j < n && IsWordChar(s[j])) ++j;
        return j;
    }
    return i + 1;
}

}  // namespace

TStatementText ReadStatement(const std::string& sql) {
    TStatementText result;
    std::size_t i = 0;
    std::size_t begin = 0;  // of the first significant unit of the first statement
    std::size_t end = 0;    // after its last one
    bool first = true;
    bool ended = false;  // a semicolon closed the first statement
    while (i < sql.size()) {
        bool significant = false;
        const std::size_t next = SkipUnit(sql, i, significant);
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
                if (IsWordChar(sql[i]))
                    for (std::size_t k = i; k < next; ++k)
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
