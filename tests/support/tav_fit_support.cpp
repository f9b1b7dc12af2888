#include "support/tav_fit_support.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace tavtest {

namespace {

void Check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE)
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

}  // namespace

std::string WriteTable(TTempDb& db, const TData& data, const std::string& name) {
    std::string create = "CREATE TABLE t(";
    std::string insert = "INSERT INTO t VALUES(";
    for (size_t j = 0; j < data.columns.size(); ++j) {
        create += (j ? ", " : "") + data.columns[j] + " REAL";
        insert += j ? ", ?" : "?";
    }
    const std::string path = db.Exec(create + ");", name);
    sqlite3* h = nullptr;
    if (sqlite3_open(path.c_str(), &h) != SQLITE_OK) throw std::runtime_error("cannot open db");
    sqlite3_stmt* stmt = nullptr;
    Check(sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr), h, "begin");
    Check(sqlite3_prepare_v2(h, (insert + ")").c_str(), -1, &stmt, nullptr), h, "prepare");
    for (const auto& row : data.rows) {
        for (size_t j = 0; j < row.size(); ++j) {
            const int column = static_cast<int>(j + 1);
            Check(std::isnan(row[j]) ? sqlite3_bind_null(stmt, column)
                                     : sqlite3_bind_double(stmt, column, row[j]),
                  h, "bind");
        }
        Check(sqlite3_step(stmt), h, "insert");
        Check(sqlite3_reset(stmt), h, "reset");
    }
    sqlite3_finalize(stmt);
    Check(sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr), h, "commit");
    sqlite3_close(h);
    return path;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> items;
    std::string item;
    std::istringstream in(line);
    if (separator == ' ') {
        while (in >> item) items.push_back(item);
    } else {
        while (std::getline(in, item, separator)) items.push_back(item);
    }
    return items;
}

double Number(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0') throw std::runtime_error("not a number: " + text);
    return value;
}

TData ReadCsv(const std::string& path) {
    const auto lines = ReadLines(path);
    TData data;
    data.columns = Split(lines.at(0), ',');
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<double> row;
        for (const auto& item : Split(lines[i], ','))
            row.push_back(item == "NA" ? std::numeric_limits<double>::quiet_NaN() : Number(item));
        if (row.size() != data.columns.size()) throw std::runtime_error("bad record in " + path);
        data.rows.push_back(row);
    }
    return data;
}

double Digits(double estimate, double reference, double scale) {
    if (!std::isfinite(estimate)) return 0.0;
    using ext = long double;
    const ext error = std::fabs(ext(estimate) - ext(reference)) / ext(scale);
    if (error == 0) return 15.0;
    return std::clamp(static_cast<double>(-std::log10(error)), 0.0, 15.0);
}

double Lre(double estimate, double reference) {
    return Digits(estimate, reference, reference == 0.0 ? 1.0 : std::fabs(reference));
}

tav::TIndepVar PowerOf(const std::string& field, int exponent) {
    tav::TIndepVar v;
    v.SetField1(field);
    if (exponent == 1) {
        v.SetTransformation("None");
    } else {
        v.SetTransformation("Power");
        v.SetExponent(std::to_string(exponent));
    }
    return v;
}

std::vector<tav::TIndepVar> PlainControls(const TData& data) {
    std::vector<tav::TIndepVar> controls;
    for (size_t j = 0; j + 1 < data.columns.size(); ++j) controls.push_back(None(data.columns[j]));
    return controls;
}

std::map<std::string, double> ReadReference(const std::string& path) {
    std::map<std::string, double> values;
    for (const std::string& line : ReadLines(path)) {
        if (line[0] == '#') continue;
        const std::vector<std::string> part = Split(line, ' ');
        if (part.size() == 3) values[part[0] + part[1]] = Number(part[2]);
        if (part.size() == 2) values[part[0]] = Number(part[1]);
    }
    return values;
}

double LeastDigits(const std::map<std::string, double>& got,
                   const std::map<std::string, double>& want, std::string& worst) {
    double least = 99;
    for (const auto& [name, value] : want) {
        const auto it = got.find(name);
        if (it == got.end() || (std::isnan(value) && std::isnan(it->second))) continue;
        // A p-value beyond the doubles' range is 0 in both.
        const double d = value == 0 && it->second == 0 ? 99 : Lre(it->second, value);
        if (d < least) {
            least = d;
            worst = name;
        }
    }
    return least;
}

}  // namespace tavtest
