// Building the report texts of a ten-variable fit (what Output formats before it opens the
// window).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QTemporaryDir>
#include <string>

#include "bench_support.h"
#include "tav/tavquery.h"

namespace {

void BM_BuildReport_p10(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("r.db").toStdString();
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE d(x1 REAL, x2 REAL, x3 REAL, x4 REAL, x5 REAL, x6 REAL, x7 REAL,"
                 " x8 REAL, x9 REAL, x10 REAL, y REAL);"
                 "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 500)"
                 " INSERT INTO d SELECT i, sin(i), cos(i), i % 7, i % 11, (i * 13) % 17, sqrt(i),"
                 " i % 3, (i * 7) % 23, i % 29, 3 + 0.5 * i + sin(i * 3) FROM s;",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    tav::TTAVQuery q;
    q.SetDatabaseName(path);
    q.SetSQLText("SELECT * FROM d");
    for (int k = 1; k <= 10; ++k) {
        tav::TIndepVar v;
        v.SetTransformation("None");
        v.SetField1("x" + std::to_string(k));
        q.SetControl(k, v);
    }
    tav::TDependentVar r;
    r.SetField("y");
    q.SetResponse(r);
    q.Open();
    q.ReLoad();
    q.Execute();
    for (auto _ : state) {
        auto report = q.BuildReport();
        benchmark::DoNotOptimize(report);
    }
}
BENCHMARK(BM_BuildReport_p10)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return tavbench::Run(argc, argv); }
