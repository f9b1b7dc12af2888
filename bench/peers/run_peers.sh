#!/usr/bin/env bash
# Times other regression programs on the data set of bench_execute and prints each beside our
# own time, as a ratio. Not part of CI: it installs Debian packages (as root) when they are
# missing, and it takes a few minutes.
#
# Usage: bench/peers/run_peers.sh [BUILD_DIR] [REPETITIONS]
#   BUILD_DIR    a RelWithDebInfo build tree (default: build-perf beside the sources); bench_execute
#                is built there when missing
#   REPETITIONS  timed runs per peer, after one warm-up (default 300); each reports the median
#
# The peers: (a) numpy lstsq with residuals, standard errors and R squared, (b) statsmodels OLS
# with bse and rsquared, (c) R summary(lm(...)), (d) numpy lstsq alone; all against our Execute.
# (e) pandas reading the table from the SQLite file plus the statsmodels fit, against our
# ReLoad + Execute. BLAS and LAPACK run on one thread, as our fit does.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-$root/build-perf}"
repetitions="${2:-300}"
python=/usr/bin/python3  # Debian's interpreter, the one the packages install into

install_missing() {
    local missing=()
    for package in python3-numpy python3-statsmodels python3-pandas r-base-core; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [[ ${#missing[@]} -eq 0 ]] && return
    if [[ $(id -u) -ne 0 ]]; then
        echo "run_peers: missing ${missing[*]}; run as root to install them" >&2
        exit 1
    fi
    echo "run_peers: installing ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

install_missing

bench="$build/bench/bench_execute"
if [[ ! -x $bench ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
    cmake --build "$build" --target bench_execute -j2 >&2
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1 MKL_NUM_THREADS=1
"$bench" --csv="$work/data.csv" --db="$work/data.db" --results="$work/ours.txt" 2>/dev/null

echo "== ours (bench_execute, median of 20 repetitions)" >&2
"$bench" --benchmark_repetitions=20 --benchmark_report_aggregates_only=true \
    --benchmark_format=json --benchmark_out="$work/ours.json" --benchmark_out_format=json \
    >/dev/null 2>&1
echo "== python peers" >&2
"$python" "$here/peers.py" "$work/data.csv" "$work/data.db" "$work/ours.txt" "$repetitions" \
    >"$work/peers.txt"
echo "== R" >&2
Rscript "$here/peers.R" "$work/data.csv" "$work/ours.txt" "$repetitions" >>"$work/peers.txt"

blas="$(readlink -f /usr/lib/x86_64-linux-gnu/libblas.so.3 2>/dev/null || echo unknown)"
"$python" - "$work/ours.json" "$work/peers.txt" "$blas" <<'PY'
import json
import sys

ours, fastest = {}, {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[b["time_unit"]]
    if b.get("aggregate_name") == "median":
        ours[b["run_name"]] = b["real_time"] * scale
    elif b.get("aggregate_name") == "min":
        fastest[b["run_name"]] = b["real_time"] * scale
execute = ours["BM_Execute_Query"]
reload_execute = ours["BM_ReLoadExecute_Table"]

print(f"BLAS/LAPACK: {sys.argv[3]}, one thread")
print("ours:                        median    fastest")
for name, value in sorted(ours.items()):
    print(f"  {name:<24} {value:10.1f} {fastest.get(name, float('nan')):10.1f} us")
print()
print(f"{'peer':<28} {'peer us':>10} {'ours us':>10} {'peer/ours':>10}  coefficients vs ours")
against = {"pandas_sqlite_statsmodels": ("ReLoad+Execute", reload_execute)}
for line in open(sys.argv[2]):
    fields = line.split()
    name, us, detail = fields[0], float(fields[1]), " ".join(fields[2:])
    label, base = against.get(name, ("Execute", execute))
    print(f"{name:<28} {us:10.1f} {base:10.1f} {us / base:10.2f}  (vs {label}) max rel diff {detail}")
PY
