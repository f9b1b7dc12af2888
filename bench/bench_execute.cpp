// The fit of 2500 records x 10 control variables: Execute alone on a component loaded once, and
// ReLoad + Execute together, for the table and the query component.
//
// The data set is pseudo-random but fixed (mt19937's raw output, the same with every standard
// library), so that other programs can be timed on exactly the same numbers:
//   bench_execute --csv=PATH       writes the records as CSV (x1..x10, y) and exits
//   bench_execute --db=PATH        writes them as a SQLite file with the table "data" and exits
//   bench_execute --results=PATH   writes the coefficients, their standard errors and R squared
//                                  of our fit, one "name value" pair a line, and exits
//   bench_execute --paths=ROUNDS   times Execute on the three fit methods alternately, ROUNDS
//                                  rounds of 20 fits each, and prints the ratios to the normal
//                                  equations (median and range over the rounds)
//   bench_execute --diagnostics=ROUNDS   times Execute alone and Execute followed by every
//                                  inference statistic and record diagnostic, alternately, and
//                                  prints the cost of the diagnostics as a ratio to Execute
//   bench_execute --factor=ROUNDS  times, fit by fit, Execute and then the factorisation the
//                                  inference and diagnostics are computed from (made on the
//                                  first request after a fit), and prints its cost as a ratio
//                                  to Execute for each fit method
// These options may be combined; without them the program runs the benchmarks.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

namespace {

constexpr int Records = 2500;
constexpr int Controls = 10;

struct TRecord {
    double x[Controls];
    double y;
};

// Controls on different scales and offsets, two of them correlated with others, and a response
// that depends on all of them plus noise: a fit whose normal equations are neither trivial nor
// ill-conditioned.
std::vector<TRecord> MakeData() {
    std::mt19937 gen(20240611u);
    auto uniform = [&gen](double lo, double hi) {
        const double unit = static_cast<double>(gen() >> 5) / static_cast<double>(1u << 27);
        return lo + (hi - lo) * unit;
    };
    static const double scale[Controls] = {1, 10, 0.01, 100, 3, 0.5, 1000, 7, 0.2, 50};
    static const double offset[Controls] = {0, -5, 2, 1000, -1, 0, 250, 3, -0.1, 10};
    static const double coef[Controls] = {1.5, -0.25, 40, 0.003, 2, -3, 0.0007, 0.1, 5, -0.02};
    std::vector<TRecord> data(Records);
    for (TRecord& r : data) {
        for (int j = 0; j < Controls; ++j) r.x[j] = offset[j] + scale[j] * uniform(-1.0, 1.0);
        r.x[4] += 0.5 * r.x[0];
        r.x[8] += 0.01 * r.x[1];
        double y = 3.0;
        for (int j = 0; j < Controls; ++j) y += coef[j] * r.x[j];
        r.y = y + uniform(-2.0, 2.0);
    }
    return data;
}

const std::vector<TRecord>& Data() {
    static const std::vector<TRecord> data = MakeData();
    return data;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_execute: %s\n", what.c_str());
    std::exit(1);
}

void WriteCsv(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) Fail("cannot write " + path);
    for (int j = 1; j <= Controls; ++j) std::fprintf(f, "x%d,", j);
    std::fprintf(f, "y\n");
    // 17 significant digits: every value reads back as the same double.
    for (const TRecord& r : Data()) {
        for (double x : r.x) std::fprintf(f, "%.17g,", x);
        std::fprintf(f, "%.17g\n", r.y);
    }
    if (std::fclose(f) != 0) Fail("cannot write " + path);
}

void WriteDatabase(const std::string& path) {
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Fail("cannot create " + path);
    auto exec = [db](const char* sql) {
        char* err = nullptr;
        if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) Fail(err);
    };
    exec(
        "CREATE TABLE data(x1 REAL, x2 REAL, x3 REAL, x4 REAL, x5 REAL, x6 REAL, x7 REAL,"
        " x8 REAL, x9 REAL, x10 REAL, y REAL); BEGIN;");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO data VALUES (?,?,?,?,?,?,?,?,?,?,?)", -1, &insert, nullptr);
    for (const TRecord& r : Data()) {
        for (int j = 0; j < Controls; ++j) sqlite3_bind_double(insert, j + 1, r.x[j]);
        sqlite3_bind_double(insert, Controls + 1, r.y);
        if (sqlite3_step(insert) != SQLITE_DONE) Fail(sqlite3_errmsg(db));
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    exec("COMMIT;");
    sqlite3_close(db);
}

QTemporaryDir* g_dir = nullptr;

const std::string& Database() {
    static const std::string path = [] {
        const std::string p = g_dir->filePath("execute.db").toStdString();
        WriteDatabase(p);
        return p;
    }();
    return path;
}

void Define(tav::TTAVRegression& r) {
    for (int k = 1; k <= Controls; ++k) {
        tav::TIndepVar v;
        v.SetTransformation("None");
        v.SetField1("x" + std::to_string(k));
        r.SetControl(k, v);
    }
    tav::TDependentVar response;
    response.SetField("y");
    r.SetResponse(response);
}

std::unique_ptr<tav::TTAVTable> LoadedTable() {
    auto t = std::make_unique<tav::TTAVTable>();
    t->SetDatabaseName(Database());
    t->SetTableName("data");
    Define(*t);
    t->Open();
    t->ReLoad();
    if (!t->ValuesLoaded() || t->DataCount() != Records) Fail("the table did not load");
    return t;
}

std::unique_ptr<tav::TTAVQuery> LoadedQuery() {
    auto q = std::make_unique<tav::TTAVQuery>();
    q->SetDatabaseName(Database());
    q->SetSQLText("SELECT * FROM data");
    Define(*q);
    q->Open();
    q->ReLoad();
    if (!q->ValuesLoaded() || q->DataCount() != Records) Fail("the query did not load");
    return q;
}

void WriteResults(const std::string& path) {
    auto t = LoadedTable();
    t->Execute();
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) Fail("cannot write " + path);
    for (int j = 0; j <= Controls; ++j) {
        std::fprintf(f, "b%d %.17g\n", j, t->Getb(j));
        std::fprintf(f, "se%d %.17g\n", j, std::sqrt(t->GetCovar(j, j)));
    }
    std::fprintf(f, "rsquared %.17g\n", t->GetRSquared());
    std::fclose(f);
}

void Check(benchmark::State& state, tav::TTAVRegression& r) {
    if (!std::isfinite(r.Getb(0)) || !std::isfinite(r.GetCovar(Controls, Controls)))
        state.SkipWithError("the fit gave no finite result");
}

void BM_Execute_Table(benchmark::State& state) {
    auto t = LoadedTable();
    for (auto _ : state) {
        t->Execute();
        benchmark::ClobberMemory();
    }
    Check(state, *t);
}

// The query recomputes from the same load on every Execute.
void BM_Execute_Query(benchmark::State& state) {
    auto q = LoadedQuery();
    for (auto _ : state) {
        q->Execute();
        benchmark::ClobberMemory();
    }
    Check(state, *q);
}

void BM_ReLoadExecute_Table(benchmark::State& state) {
    auto t = LoadedTable();
    for (auto _ : state) {
        t->ReLoad();
        t->Execute();
        benchmark::ClobberMemory();
    }
    Check(state, *t);
}

void BM_ReLoadExecute_Query(benchmark::State& state) {
    auto q = LoadedQuery();
    for (auto _ : state) {
        q->ReLoad();
        q->Execute();
        benchmark::ClobberMemory();
    }
    Check(state, *q);
}

// The fit methods on one component: Auto keeps the normal equations on these data, so its cost
// over them is the decision alone.
void BM_Execute_Method(benchmark::State& state) {
    auto t = LoadedTable();
    t->SetFitMethod(static_cast<tav::TFitMethod>(state.range(0)));
    for (auto _ : state) {
        t->Execute();
        benchmark::ClobberMemory();
    }
    state.SetLabel(tav::FitMethodToStr(t->FitMethod()));
    Check(state, *t);
}

// Alternating timing of the three methods: each round times 20 fits of each, in a rotated order,
// so that a slower spell of the machine falls on all of them alike.
void ComparePaths(int rounds) {
    using Clock = std::chrono::steady_clock;
    auto t = LoadedTable();
    const tav::TFitMethod methods[] = {tav::TFitMethod::NormalEquations, tav::TFitMethod::Auto,
                                       tav::TFitMethod::QR};
    std::vector<double> micros[3];
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < 3; ++k) {
            const int m = (round + k) % 3;
            t->SetFitMethod(methods[m]);
            const auto start = Clock::now();
            for (int i = 0; i < 20; ++i) t->Execute();
            micros[m].push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count() / 20);
        }
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("Execute, %d records x %d controls, %d rounds of 20 fits per method\n", Records,
                Controls, rounds);
    for (int m = 0; m < 3; ++m) {
        std::vector<double> ratio;
        for (int r = 0; r < rounds; ++r) ratio.push_back(micros[m][r] / micros[0][r]);
        std::printf("  %-16s median %8.1f us   ratio to NormalEquations %.3f (%.3f .. %.3f)\n",
                    tav::FitMethodToStr(methods[m]), median(micros[m]), median(ratio),
                    *std::min_element(ratio.begin(), ratio.end()),
                    *std::max_element(ratio.begin(), ratio.end()));
    }
}

// Everything the inference and the diagnostics give, read once; returns a sum so that nothing is
// optimised away.
double AllDiagnostics(const tav::TTAVRegression& r) {
    double sum = r.GetAdjRSquared() + r.GetResidualStdError() + r.GetFPValue() +
                 r.GetLogLikelihood() + r.GetAIC() + r.GetBIC() + r.GetDurbinWatson() +
                 r.GetAnova().total.SS;
    for (uint16_t j = 0; j <= r.VarCount(); ++j) {
        const tav::TInterval ci = r.GetConfidenceInterval(j);
        sum += r.GetPValue(j) + ci.lower + ci.upper;
    }
    for (uint16_t k = 1; k <= r.VarCount(); ++k) sum += r.GetVIF(k);
    for (uint16_t i = 1; i <= r.DataCount(); ++i)
        sum += r.GetLeverage(i) + r.GetStandardizedResidual(i) + r.GetStudentizedResidual(i) +
               r.GetCooksDistance(i);
    return sum;
}

void BM_Execute_Diagnostics(benchmark::State& state) {
    auto t = LoadedTable();
    double sum = 0;
    for (auto _ : state) {
        t->Execute();
        sum += AllDiagnostics(*t);
        benchmark::DoNotOptimize(sum);
    }
    if (!std::isfinite(sum)) state.SkipWithError("a diagnostic is not finite");
}

// Execute alone and Execute with every diagnostic, alternately in each round (20 fits each, the
// order rotated); the diagnostics' cost is the difference, as a ratio to Execute alone.
void CompareDiagnostics(int rounds) {
    using Clock = std::chrono::steady_clock;
    auto t = LoadedTable();
    std::vector<double> alone, with, ratio;
    double sum = 0;
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < 2; ++k) {
            const bool diagnostics = (round + k) % 2 == 1;
            const auto start = Clock::now();
            for (int i = 0; i < 20; ++i) {
                t->Execute();
                if (diagnostics) sum += AllDiagnostics(*t);
            }
            (diagnostics ? with : alone)
                .push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
                           20);
        }
        ratio.push_back((with.back() - alone.back()) / alone.back());
    }
    if (!std::isfinite(sum)) Fail("a diagnostic is not finite");
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("%d records x %d controls, %d rounds of 20 fits each way\n", Records, Controls,
                rounds);
    std::printf("  Execute alone            median %8.1f us\n", median(alone));
    std::printf("  Execute + diagnostics    median %8.1f us\n", median(with));
    std::printf("  diagnostics / Execute    %.3f (%.3f .. %.3f)\n", median(ratio),
                *std::min_element(ratio.begin(), ratio.end()),
                *std::max_element(ratio.begin(), ratio.end()));
    // The fastest round each way is what the code costs when nothing else on the machine
    // interferes; the median of the per-round ratios moves with the machine's load.
    const double fastestAlone = *std::min_element(alone.begin(), alone.end());
    const double fastestWith = *std::min_element(with.begin(), with.end());
    std::printf("  fastest rounds           %.3f (%.1f us and %.1f us)\n",
                (fastestWith - fastestAlone) / fastestAlone, fastestAlone, fastestWith);
}

// Each fit: Execute, then the first diagnostic asked for, which makes the factorisation (and the
// record diagnostics from it); both timed in the same iteration so that the machine's load falls
// on both alike. ROUNDS rounds of 20 fits per method.
void CompareFactor(int rounds) {
    using Clock = std::chrono::steady_clock;
    auto t = LoadedTable();
    std::printf("%d records x %d controls, %d rounds of 20 fits per method\n", Records, Controls,
                rounds);
    double sum = 0;
    for (const tav::TFitMethod method : {tav::TFitMethod::NormalEquations, tav::TFitMethod::QR}) {
        t->SetFitMethod(method);
        std::vector<double> execute, factor, ratio;
        for (int round = 0; round < rounds; ++round) {
            Clock::duration fit{}, made{};
            for (int i = 0; i < 20; ++i) {
                const auto start = Clock::now();
                t->Execute();
                const auto fitted = Clock::now();
                sum += t->GetLeverage(1);
                const auto end = Clock::now();
                fit += fitted - start;
                made += end - fitted;
            }
            execute.push_back(std::chrono::duration<double, std::micro>(fit).count() / 20);
            factor.push_back(std::chrono::duration<double, std::micro>(made).count() / 20);
            ratio.push_back(factor.back() / execute.back());
        }
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        std::printf(
            "  %-16s Execute median %8.1f us, factorisation %8.1f us, ratio %.3f "
            "(%.3f .. %.3f)\n",
            tav::FitMethodToStr(method), median(execute), median(factor), median(ratio),
            *std::min_element(ratio.begin(), ratio.end()),
            *std::max_element(ratio.begin(), ratio.end()));
    }
    if (!std::isfinite(sum)) Fail("a leverage is not finite");
}

// With --benchmark_repetitions, the fastest repetition as well: on a machine shared with other
// work the median drifts with the load, the minimum much less.
double Fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

BENCHMARK(BM_Execute_Table)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Fastest);
BENCHMARK(BM_Execute_Query)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Fastest);
BENCHMARK(BM_ReLoadExecute_Table)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Fastest);
BENCHMARK(BM_ReLoadExecute_Query)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Fastest);
BENCHMARK(BM_Execute_Diagnostics)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Fastest);
BENCHMARK(BM_Execute_Method)
    ->Arg(static_cast<int>(tav::TFitMethod::NormalEquations))
    ->Arg(static_cast<int>(tav::TFitMethod::Auto))
    ->Arg(static_cast<int>(tav::TFitMethod::QR))
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", Fastest);

// Takes the export options out of argv; true when any was given.
bool HandleExports(int& argc, char** argv) {
    bool any = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, "--csv=", 6) == 0) {
            WriteCsv(arg + 6);
            any = true;
        } else if (std::strncmp(arg, "--db=", 5) == 0) {
            WriteDatabase(arg + 5);
            any = true;
        } else if (std::strncmp(arg, "--results=", 10) == 0) {
            WriteResults(arg + 10);
            any = true;
        } else if (std::strncmp(arg, "--diagnostics=", 14) == 0) {
            CompareDiagnostics(std::max(1, std::atoi(arg + 14)));
            any = true;
        } else if (std::strncmp(arg, "--factor=", 9) == 0) {
            CompareFactor(std::max(1, std::atoi(arg + 9)));
            any = true;
        } else if (std::strncmp(arg, "--paths=", 8) == 0) {
            ComparePaths(std::max(1, std::atoi(arg + 8)));
            any = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return any;
}

}  // namespace

int main(int argc, char** argv) { return tavbench::Run(argc, argv, &g_dir, HandleExports); }
