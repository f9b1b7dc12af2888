// The entry point shared by the benchmark programs: a QApplication on the offscreen platform
// (the components show dialogs), a scratch folder for the databases the benchmarks build, and
// Google Benchmark's own option handling.
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <functional>

#include "tav/installwindows.h"

namespace tavbench {

// Runs the registered benchmarks. `scratch` receives a folder that lives while they run;
// `before` may take options out of argv and return true to end the program without running any.
inline int Run(int argc, char** argv, QTemporaryDir** scratch = nullptr,
               const std::function<bool(int&, char**)>& before = {}) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    tav::RegisterRegressionWindows();
    QTemporaryDir dir;
    if (scratch) *scratch = &dir;
    if (before && before(argc, argv)) return 0;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace tavbench
