#!/usr/bin/env bash
# Builds the fuzz targets (the clang build of scripts/sanitize.sh) and runs each for a bounded
# time, as many at once as there are processors, starting from its seed corpus in fuzz/corpus
# (copied, so that the run adds nothing to the repository). Any crash, sanitizer error, leak or
# broken round trip fails the run; the input that caused it is kept in the work folder, printed
# in the log, and belongs in fuzz/corpus/<target>/ once fixed.
#
#   TAV_FUZZ_SECONDS  seconds per target (default 10, as in CI; a long run: say 3600)
#   TAV_FUZZ_WORK     work folder for corpora, logs and findings (default: a temporary folder)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sanitize-env.sh

targets=(formfile sysutils sqltext variables terms csv)
# Where a PostgreSQL server can run (started as the tests start theirs), the statement reader is
# fuzzed against the server's parser (pgsqltext) in its own checks' turn, so the run takes no
# longer; the server goes when the run ends.
pg_state="$(mktemp)"
trap '"$TAV_SANITIZE_BUILD/tests/tav_pg_server" stop "$pg_state" || true; rm -f "$pg_state"' EXIT
if cmake --build "$TAV_SANITIZE_BUILD" -j"$(nproc)" --target tav_pg_server > /dev/null &&
    "$TAV_SANITIZE_BUILD/tests/tav_pg_server" start "$pg_state" >&2 &&
    grep -q '^port=' "$pg_state"; then
    export TAV_FUZZ_PG_URL="postgresql://tav@127.0.0.1:$(sed -n 's/^port=//p' "$pg_state")/tavtest"
    targets=("${targets[@]/#sqltext/pgsqltext}")
fi
stage fuzz-build cmake --build "$TAV_SANITIZE_BUILD" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

seconds="${TAV_FUZZ_SECONDS:-10}"
work="${TAV_FUZZ_WORK:-$(mktemp -d)}"
export TAV_SANITIZE_BUILD seconds work
export QT_QPA_PLATFORM=offscreen

run() {
    local target=$1 dict=()
    [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
    mkdir -p "$work/$target/corpus"
    if "$TAV_SANITIZE_BUILD/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$work/$target/" "${dict[@]}" \
        "$work/$target/corpus" "fuzz/corpus/$target" > "$work/$target/log" 2>&1; then
        echo "fuzz_$target: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' \
            "$work/$target/log" | grep -o '[0-9]*$') runs in ${seconds} s, no finding"
    else
        tail -n 60 "$work/$target/log"
        echo "fuzz_$target: FINDING (log and input in $work/$target)"
        return 1
    fi
}
export -f run
stage fuzz-run xargs -P "$(nproc)" -I{} bash -c 'run {}' < <(printf '%s\n' "${targets[@]}")
# Only a run without findings gets here; a work folder of our own is not needed any more.
[ -n "${TAV_FUZZ_WORK:-}" ] || rm -rf "$work"
