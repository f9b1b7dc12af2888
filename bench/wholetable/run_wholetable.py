#!/usr/bin/python3
"""Times tavreg's whole-table fit (--all-records) against plain reading loops, PostgreSQL's own
sums, and peers that fetch or read every record and fit them, side by side in one run.

Not part of CI or ctest. Run as root (the throwaway PostgreSQL server runs as `postgres`) with
Debian's python3, on a RelWithDebInfo build:

    nice bench/wholetable/run_wholetable.py [--build build] [--sizes 1000000,10000000]
                                            [--rounds 5,2] [--work /tmp/...] [--keep]

For each size the script writes the data itself (10 numeric columns of mixed scale, some near
1e6 and 1.7e9, and a response), copies it into a SQLite file and a table of a PostgreSQL server
of its own on 127.0.0.1, then runs every command once per round, in pairs, the order within a
pair swapped from one round to the next. Each figure is a ratio taken round by round: the median
with the range over the rounds. Peak RSS comes from /usr/bin/time. The data, the server and its
folder are removed at the end unless --keep.
"""
import argparse
import json
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CONTROLS = [f"X{i}" for i in range(1, 11)]
PG_BIN = sorted(
    (d for d in os.listdir("/usr/lib/postgresql") if d.isdigit()), key=int)[-1]
PG_BIN = f"/usr/lib/postgresql/{PG_BIN}/bin"


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def run(argv, **kw):
    return subprocess.run(argv, check=True, **kw)


class Server:
    """A throwaway PostgreSQL cluster in `folder`, run as `postgres` when we are root."""

    def __init__(self, folder):
        self.folder = folder
        self.data = os.path.join(folder, "data")
        self.log = os.path.join(folder, "server.log")
        os.makedirs(folder)
        self.as_user = []
        if os.getuid() == 0:
            shutil.chown(folder, "postgres", "postgres")
            os.chmod(folder, 0o700)
            self.as_user = ["runuser", "-u", "postgres", "--"]
        run(self.as_user + [f"{PG_BIN}/initdb", "-D", self.data, "-U", "postgres", "-A", "trust",
                            "-E", "UTF8", "--locale=C", "--no-sync"], stdout=subprocess.DEVNULL)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        # Statements are logged with their durations: the phases of a server-side fit.
        options = (f"-p {self.port} -c listen_addresses=127.0.0.1 "
                   f"-c unix_socket_directories={folder} -c fsync=off -c full_page_writes=off "
                   "-c shared_buffers=512MB -c log_min_duration_statement=0 -c lc_messages=C")
        run(self.as_user + [f"{PG_BIN}/pg_ctl", "start", "-w", "-D", self.data, "-l", self.log,
                            "-o", options], stdout=subprocess.DEVNULL)
        self.url = f"postgresql://postgres@127.0.0.1:{self.port}/postgres"

    def psql(self, *args, **kw):
        return run(["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", self.url] + list(args), **kw)

    def stop(self):
        subprocess.run(self.as_user + [f"{PG_BIN}/pg_ctl", "stop", "-D", self.data, "-m", "fast"],
                       stdout=subprocess.DEVNULL)


def timed(argv, shell=False):
    """Wall seconds, peak RSS in KiB, CPU seconds (user and system, every thread and child) and
    standard output of one run."""
    with tempfile.NamedTemporaryFile("r") as rss:
        wrapped = ["/usr/bin/time", "-f", "%M %U %S", "-o", rss.name]
        wrapped += ["bash", "-o", "pipefail", "-c", argv] if shell else argv
        start = time.perf_counter()
        done = subprocess.run(wrapped, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        seconds = time.perf_counter() - start
        if done.returncode != 0:
            raise RuntimeError(f"{argv} failed ({done.returncode}): {done.stderr[-2000:]}")
        kib, user, system = rss.read().split()[-3:]
        return seconds, int(kib), float(user) + float(system), done.stdout


def coefficients(output):
    if output.lstrip().startswith("{"):
        return json.loads(output)["regressions"][0]["b"]
    for line in output.splitlines():
        if line.startswith("coef "):
            return [float(v) for v in line.split()[1:]]
    return None


def commands(args, csv, db, url, base):
    tav = [args.tavreg, "--quiet", "--all-records", "--json", "--y", "Y"]
    for c in CONTROLS:
        tav += ["--x", c]
    tav_pg = [args.tavreg, "--quiet", "--all-records", "--json", "--y", "y"]
    for c in CONTROLS:
        tav_pg += ["--x", c.lower()]
    python = "/usr/bin/python3"
    sums = ", ".join(f"sum({c.lower()})" for c in CONTROLS + ["Y"])
    return {
        "tav_csv": tav + ["--csv", csv],
        "c_csv": [base, "readcsv", csv],
        "tav_sqlite": tav + ["--db", db, "--table", "t"],
        "c_sqlite": [base, "readdb", db],
        "tav_server": tav_pg + ["--db", url, "--table", "t", "--sum-in", "Server"],
        "pg_sum": ["psql", "-X", "-Atq", url, "-c", f"SELECT {sums} FROM t"],
        "tav_client_pg": tav_pg + ["--db", url, "--table", "t", "--sum-in", "Client"],
        "copy_numpy": f"psql -X -q '{url}' -c '\\copy t to stdout csv header' | "
                      f"{python} {HERE}/peer_fit.py numpy -",
        "pandas_statsmodels": [python, f"{HERE}/peer_fit.py", "statsmodels", csv],
        "r_lm": ["Rscript", f"{HERE}/peer_fit.R", csv],
    }


# Pairs timed next to each other; the ratio is first / second.
PAIRS = [("tav_csv", "c_csv"), ("tav_sqlite", "c_sqlite"), ("tav_server", "pg_sum"),
         ("tav_client_pg", "copy_numpy"), ("pandas_statsmodels", "r_lm")]
# The comparisons of the report: (label, numerator, denominator, goal, goal is an upper bound).
RATIOS = [
    ("CSV stream / fgets+strtod loop", "tav_csv", "c_csv", 1.5, True),
    ("SQLite stream / sqlite3_step loop", "tav_sqlite", "c_sqlite", 1.5, True),
    ("in-server / server's own sum()", "tav_server", "pg_sum", 2.5, True),
]
for fetch in ("tav_client_pg", "copy_numpy", "pandas_statsmodels", "r_lm"):
    for ours in ("tav_csv", "tav_server"):
        RATIOS.append((f"{fetch} / {ours}", fetch, ours, 5.0, False))


def statement_times(server_log, since):
    """(seconds, statement head) of each statement the server logged after byte `since`."""
    with open(server_log, errors="replace") as f:
        f.seek(since)
        text = f.read()
    found = []
    for m in re.finditer(r"duration: ([0-9.]+) ms\s+(?:statement|execute [^:]*): (.*)", text):
        sql = m.group(2)
        found.append((float(m.group(1)) / 1000, f"[{len(sql)} chars, {sql.count('SUM(')} SUMs] "
                      + sql[:70]))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--sizes", default="1000000,10000000")
    parser.add_argument("--rounds", default="5,2", help="rounds per size, in the same order")
    parser.add_argument("--skip", default="", help="commands left out, comma separated")
    parser.add_argument("--once", default="r_lm",
                        help="commands run in the first round only, at every size but the first")
    parser.add_argument("--work", default=None, help="folder for the data (default: under /tmp)")
    parser.add_argument("--keep", action="store_true", help="keep the data and the server")
    args = parser.parse_args()
    args.tavreg = os.path.join(args.build, "apps", "tavreg", "tavreg")
    sizes = [int(s) for s in args.sizes.split(",")]
    rounds = [int(r) for r in args.rounds.split(",")]
    rounds += [rounds[-1]] * (len(sizes) - len(rounds))
    skip = set(filter(None, args.skip.split(",")))
    os.environ.update(QT_QPA_PLATFORM="offscreen", OPENBLAS_NUM_THREADS="1",
                      OMP_NUM_THREADS="1", MKL_NUM_THREADS="1")

    work = args.work or tempfile.mkdtemp(prefix="tav-wholetable-", dir="/tmp")
    os.makedirs(work, exist_ok=True)
    os.chmod(work, 0o755)
    base = os.path.join(work, "wholetable_baseline")
    run(["gcc", "-O2", "-Wall", "-Wextra", "-o", base, os.path.join(HERE, "wholetable_baseline.c"),
         "-lsqlite3"])
    server = Server(os.path.join(work, "pg"))
    try:
        cpu = re.search(r"model name\s*:\s*(.*)", open("/proc/cpuinfo").read()).group(1)
        ram = int(re.search(r"MemTotal:\s*(\d+)", open("/proc/meminfo").read()).group(1))
        print(f"machine: nproc {os.cpu_count()}, {cpu}, {ram / 2**20:.1f} GiB RAM; "
              f"load average at start {os.getloadavg()[0]:.2f}")
        for size, count in zip(sizes, rounds):
            once = set(filter(None, args.once.split(","))) if size != sizes[0] else set()
            bench_size(args, work, base, server, size, count, skip, once)
    finally:
        server.stop()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


def bench_size(args, work, base, server, size, count, skip, once):
    csv, db = os.path.join(work, f"w{size}.csv"), os.path.join(work, f"w{size}.db")
    log(f"== {size} rows: writing the CSV file, the SQLite file and the server's table")
    run([base, "gen", str(size), csv])
    run([base, "sqlite", csv, db])
    columns = ", ".join(f"{c.lower()} double precision" for c in CONTROLS + ["Y"])
    server.psql("-c", "DROP TABLE IF EXISTS t", "-c", f"CREATE TABLE t ({columns})",
                "-c", f"\\copy t from '{csv}' csv header", "-c", "VACUUM ANALYZE t")
    cmds = {k: v for k, v in commands(args, csv, db, server.url, base).items() if k not in skip}
    times = {k: [] for k in cmds}
    rss = {k: [] for k in cmds}
    cpu = {k: [] for k in cmds}
    coef = {}
    phases = []
    for r in range(count):
        for pair in PAIRS:
            for name in (pair if r % 2 == 0 else pair[::-1]):
                if name not in cmds or (r > 0 and name in once):
                    continue
                since = os.path.getsize(server.log)
                seconds, kib, cpu_s, out = timed(cmds[name], shell=isinstance(cmds[name], str))
                times[name].append(seconds)
                rss[name].append(kib)
                cpu[name].append(cpu_s)
                coef.setdefault(name, coefficients(out))
                if name == "tav_server":
                    phases.append(statement_times(server.log, since))
                log(f"  round {r + 1}/{count} {name:<20} {seconds:8.2f} s {cpu_s:8.2f} cpu s "
                    f"{kib / 1024:8.1f} MiB")
    report(size, count, times, rss, cpu, coef, phases)
    sys.stdout.flush()
    for path in (csv, db):
        os.remove(path)
    server.psql("-c", "DROP TABLE t")


def report(size, count, times, rss, cpu, coef, phases):
    print(f"\n## {size:,} rows, {count} rounds; load average now {os.getloadavg()[0]:.2f}")
    print(f"{'command':<20} {'median s':>9} {'min s':>8} {'max s':>8} {'cpu s':>7} "
          f"{'peak RSS MiB':>13}  max rel. coefficient diff vs tav_csv")
    ref = coef.get("tav_csv")
    for name, values in times.items():
        if not values:
            continue
        diff = ""
        if ref and coef.get(name) and name != "tav_csv":
            diff = f"{max(abs(a - b) / abs(b) for a, b in zip(coef[name], ref)):.2g}"
        print(f"{name:<20} {statistics.median(values):9.2f} {min(values):8.2f} "
              f"{max(values):8.2f} {statistics.median(cpu[name]):7.2f} "
              f"{max(rss[name]) / 1024:13.1f}  {diff}")
    print(f"\n{'ratio':<42} {'median':>7} {'range':>15}  goal")
    for label, a, b, goal, upper in RATIOS:
        if not times.get(a) or not times.get(b):
            continue
        n = min(len(times[a]), len(times[b]))
        ratios = [times[a][i] / times[b][i] for i in range(n)]
        median = statistics.median(ratios)
        met = median <= goal if upper else median >= goal
        print(f"{label:<42} {statistics.median(ratios):7.2f} "
              f"{min(ratios):7.2f}-{max(ratios):<7.2f}  {'<=' if upper else '>='} {goal} "
              f"{'met' if met else 'NOT met'}")
    if phases:
        print("\nstatements of the last in-server fit (server log):")
        for seconds, text in phases[-1]:
            if seconds >= 0.005:
                print(f"  {seconds:8.3f} s  {text}")


if __name__ == "__main__":
    main()
