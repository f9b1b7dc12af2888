# Sourced by scripts/sanitize.sh and scripts/fuzz.sh: configures their shared clang build (the
# libraries with the address and undefined-behaviour sanitizers and the fuzzer's coverage
# instrumentation; -O1, as fast to build as to run) and the sanitizers' run-time options. Leaks
# are checked with no suppressions: the suite, Qt's offscreen platform and fonts included, leaks
# nothing. Debug information is line tables only: what the sanitizers' stack traces use.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
TAV_SANITIZE_BUILD="${TAV_SANITIZE_BUILD:-build-sanitize}"
cmake -S . -B "$TAV_SANITIZE_BUILD" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only \
    -DTAV_FUZZ=ON -DTAV_BUILD_BENCH=OFF "${TAV_CMAKE_ARGS[@]}" > /dev/null

export ASAN_OPTIONS="detect_leaks=1:strict_init_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
