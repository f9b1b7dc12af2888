// Builds a SQLite database from a schema file and one CSV file per table (header line first,
// empty cells become NULL; column affinity turns numeric texts into numbers).
//   csv2sqlite OUT.db SCHEMA.sql TABLE=FILE.csv [TABLE=FILE.csv ...]
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> SplitCsvLine(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            cells.push_back(cell);
            cell.clear();
        } else if (c != '\r') {
            cell += c;
        }
    }
    cells.push_back(cell);
    return cells;
}

bool Check(int rc, sqlite3* db, const char* what) {
    if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
    std::cerr << "csv2sqlite: " << what << ": " << sqlite3_errmsg(db) << "\n";
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: csv2sqlite OUT.db SCHEMA.sql TABLE=FILE.csv...\n";
        return 2;
    }
    const std::string out = argv[1];
    std::remove(out.c_str());
    std::ifstream schemaFile(argv[2]);
    if (!schemaFile) {
        std::cerr << "csv2sqlite: cannot read " << argv[2] << "\n";
        return 1;
    }
    std::stringstream schema;
    schema << schemaFile.rdbuf();

    sqlite3* db = nullptr;
    if (sqlite3_open(out.c_str(), &db) != SQLITE_OK) {
        std::cerr << "csv2sqlite: cannot create " << out << "\n";
        return 1;
    }
    bool ok =
        Check(sqlite3_exec(db, schema.str().c_str(), nullptr, nullptr, nullptr), db, "schema") &&
        Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
    for (int a = 3; ok && a < argc; ++a) {
        const std::string argument = argv[a];
        const auto eq = argument.find('=');
        if (eq == std::string::npos) {
            std::cerr << "csv2sqlite: expected TABLE=FILE.csv, got " << argument << "\n";
            ok = false;
            break;
        }
        const std::string table = argument.substr(0, eq);
        std::ifstream csv(argument.substr(eq + 1));
        std::string line;
        if (!csv || !std::getline(csv, line)) {
            std::cerr << "csv2sqlite: cannot read " << argument.substr(eq + 1) << "\n";
            ok = false;
            break;
        }
        const auto header = SplitCsvLine(line);
        std::string sql = "INSERT INTO \"" + table + "\" VALUES (";
        for (std::size_t i = 0; i < header.size(); ++i) sql += i ? ",?" : "?";
        sql += ")";
        sqlite3_stmt* stmt = nullptr;
        ok = Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), db, "prepare");
        int lineNo = 1;
        while (ok && std::getline(csv, line)) {
            ++lineNo;
            if (line.empty()) continue;
            const auto cells = SplitCsvLine(line);
            if (cells.size() != header.size()) {
                std::cerr << "csv2sqlite: line " << lineNo << " has " << cells.size()
                          << " cells, expected " << header.size() << "\n";
                ok = false;
                break;
            }
            for (std::size_t i = 0; i < cells.size(); ++i) {
                const int col = static_cast<int>(i) + 1;
                if (cells[i].empty())
                    sqlite3_bind_null(stmt, col);
                else
                    sqlite3_bind_text(stmt, col, cells[i].c_str(), -1, SQLITE_TRANSIENT);
            }
            ok = Check(sqlite3_step(stmt), db, "insert");
            sqlite3_reset(stmt);
        }
        sqlite3_finalize(stmt);
    }
    ok = ok && Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);
    if (!ok) std::remove(out.c_str());
    return ok ? 0 : 1;
}
