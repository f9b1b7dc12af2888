// Loading 2500 records x 10 control variables through ReLoad, beside a plain sqlite3 loop that
// reads the same columns, and the same load from a table of 1,000,000 rows (only the first 2500
// are read, plus the COUNT(*)).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "tav/tavtable.h"

namespace {

QTemporaryDir* g_dir = nullptr;

std::string BuildDatabase(const char* file, int rows) {
    const std::string path = g_dir->filePath(file).toStdString();
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const std::string sql =
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
        "CREATE TABLE data(id INTEGER, x1 REAL, x2 REAL, x3 REAL, x4 REAL, x5 REAL, x6 REAL,"
        " x7 REAL, x8 REAL, x9 REAL, x10 REAL, y REAL, note TEXT);"
        "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < " +
        std::to_string(rows) +
        ") INSERT INTO data SELECT i, i * 0.5, (i % 97) * 1.25, (i % 13) + 0.1, (i * 7 % 101),"
        " sin(i), cos(i), (i % 37) * 0.3, (i % 11) * 2.0, (i % 5) + 1.0, ((i * 31) % 53) * 0.7,"
        " 3.0 + i * 0.25 + (i % 7), 'row' FROM s;";
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "bench_load: %s\n", err);
        std::exit(1);
    }
    sqlite3_close(db);
    return path;
}

const std::string& SmallDb() {
    static const std::string path = BuildDatabase("small.db", 2500);
    return path;
}
const std::string& LargeDb() {
    static const std::string path = BuildDatabase("large.db", 1000000);
    return path;
}

void Define(tav::TTAVTable& t, const std::string& path) {
    t.SetDatabaseName(path);
    t.SetTableName("data");
    for (int k = 1; k <= 10; ++k) {
        tav::TIndepVar v;
        v.SetTransformation("None");
        v.SetField1("x" + std::to_string(k));
        t.SetControl(k, v);
    }
    tav::TDependentVar r;
    r.SetField("y");
    t.SetResponse(r);
}

void LoadWithOpen(benchmark::State& state, const std::string& path) {
    auto t = std::make_unique<tav::TTAVTable>();
    Define(*t, path);
    for (auto _ : state) {
        t->Close();
        t->Open();  // a new open: the record count is run again
        t->ReLoad();
        if (t->DataCount() != 2500) state.SkipWithError("short load");
    }
}

void BM_ReLoad_2500x10(benchmark::State& state) { LoadWithOpen(state, SmallDb()); }
void BM_ReLoad_First2500Of1M(benchmark::State& state) { LoadWithOpen(state, LargeDb()); }

void PlainLoop(benchmark::State& state, const std::string& path, bool count) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    static double x[2500][10], y[2500];
    for (auto _ : state) {
        if (count) {
            sqlite3_stmt* c = nullptr;
            sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM \"data\"", -1, &c, nullptr);
            sqlite3_step(c);
            benchmark::DoNotOptimize(sqlite3_column_int64(c, 0));
            sqlite3_finalize(c);
        }
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, "SELECT * FROM \"data\"", -1, &s, nullptr);
        int n = 0;
        while (n < 2500 && sqlite3_step(s) == SQLITE_ROW) {
            bool usable = sqlite3_column_type(s, 11) != SQLITE_NULL;
            for (int j = 0; j < 10 && usable; ++j)
                usable = sqlite3_column_type(s, j + 1) != SQLITE_NULL;
            if (!usable) continue;
            y[n] = sqlite3_column_double(s, 11);
            for (int j = 0; j < 10; ++j) x[n][j] = sqlite3_column_double(s, j + 1);
            ++n;
        }
        sqlite3_finalize(s);
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(y);
    }
    sqlite3_close(db);
}

void BM_PlainSqlite_2500x10(benchmark::State& state) { PlainLoop(state, SmallDb(), true); }
void BM_PlainSqlite_First2500Of1M(benchmark::State& state) { PlainLoop(state, LargeDb(), true); }

void BM_CountStar_1M(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(LargeDb().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    for (auto _ : state) {
        sqlite3_stmt* c = nullptr;
        sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM \"data\"", -1, &c, nullptr);
        sqlite3_step(c);
        benchmark::DoNotOptimize(sqlite3_column_int64(c, 0));
        sqlite3_finalize(c);
    }
    sqlite3_close(db);
}

// Alternating timing of ReLoad against the plain loop, each on its own read-only, no-mutex
// connection: `bench_load --compare=ROUNDS` prints the medians and the ratio's median and range.
// "load": ReLoad of an open table against stepping a prepared statement again; "open + load":
// Close, Open (connection, COUNT(*), statement) and ReLoad against the same steps by hand.
// `--timeout=SECONDS` (before --compare) gives the table a QueryTimeout: the cost of the bound.
int g_timeout = 0;

struct TPlain {
    sqlite3* db = nullptr;
    sqlite3_stmt* select = nullptr;
    void Open(const std::string& path) {
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        sqlite3_stmt* c = nullptr;
        sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM \"data\"", -1, &c, nullptr);
        sqlite3_step(c);
        benchmark::DoNotOptimize(sqlite3_column_int64(c, 0));
        sqlite3_finalize(c);
        sqlite3_prepare_v2(db, "SELECT * FROM \"data\"", -1, &select, nullptr);
    }
    void Close() {
        sqlite3_finalize(select);
        sqlite3_close(db);
    }
    int Load() {
        static double x[2500][10], y[2500];
        sqlite3_reset(select);
        int n = 0;
        while (n < 2500 && sqlite3_step(select) == SQLITE_ROW) {
            bool usable = sqlite3_column_type(select, 11) != SQLITE_NULL;
            for (int j = 0; j < 10 && usable; ++j)
                usable = sqlite3_column_type(select, j + 1) != SQLITE_NULL;
            if (!usable) continue;
            y[n] = sqlite3_column_double(select, 11);
            for (int j = 0; j < 10; ++j) x[n][j] = sqlite3_column_double(select, j + 1);
            ++n;
        }
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(y);
        return n;
    }
};

void Compare(int rounds) {
    using Clock = std::chrono::steady_clock;
    auto micros = [](auto start) {
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    };
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    tav::TTAVTable t;
    Define(t, SmallDb());
    t.SetQueryTimeout(g_timeout);
    t.Open();
    TPlain plain;
    plain.Open(SmallDb());
    for (const bool withOpen : {false, true}) {
        std::vector<double> ours, theirs, ratio;
        for (int r = 0; r < rounds; ++r) {
            double us = 0, them = 0;
            for (int half = 0; half < 2; ++half) {  // alternate which goes first
                const bool oursFirst = (r + half) % 2 == 0;
                for (int side = 0; side < 2; ++side) {
                    const auto start = Clock::now();
                    if ((side == 0) == oursFirst) {
                        if (withOpen) {
                            t.Close();
                            t.Open();
                        }
                        t.ReLoad();
                        us += micros(start);
                    } else {
                        if (withOpen) {
                            plain.Close();
                            plain.Open(SmallDb());
                        }
                        plain.Load();
                        them += micros(start);
                    }
                }
            }
            ours.push_back(us / 2);
            theirs.push_back(them / 2);
            ratio.push_back(us / them);
        }
        std::printf(
            "%-12s ReLoad median %7.0f us, plain loop %7.0f us, ratio %.2f (%.2f .. %.2f)\n",
            withOpen ? "open + load" : "load", median(ours), median(theirs), median(ratio),
            *std::min_element(ratio.begin(), ratio.end()),
            *std::max_element(ratio.begin(), ratio.end()));
    }
    plain.Close();
}

BENCHMARK(BM_PlainSqlite_2500x10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReLoad_2500x10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountStar_1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSqlite_First2500Of1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReLoad_First2500Of1M)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return tavbench::Run(argc, argv, &g_dir, [](int& argc, char** argv) {
        for (int i = 1; i < argc; ++i)
            if (std::strncmp(argv[i], "--timeout=", 10) == 0) {
                g_timeout = std::atoi(argv[i] + 10);
            } else if (std::strncmp(argv[i], "--compare=", 10) == 0) {
                Compare(std::max(1, std::atoi(argv[i] + 10)));
                return true;
            }
        return false;
    });
}
