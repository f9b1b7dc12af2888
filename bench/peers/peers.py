"""Times the Python peers of our fit on the data set that bench_execute exports.

Usage: peers.py DATA.csv DATA.db OURS.txt REPETITIONS

Prints one line per peer, "name median_us max_relative_coefficient_difference", where the
difference is taken against our coefficients (OURS.txt, from bench_execute --results), so that a
peer fitting something else shows up at once. Each peer runs REPETITIONS times after a warm-up;
the median is reported.
"""

import sqlite3
import statistics
import sys
import time

import numpy as np
import pandas as pd
import statsmodels.api as sm

CONTROLS = [f"x{j}" for j in range(1, 11)]


def median_us(fn, repetitions):
    fn()
    times = []
    for _ in range(repetitions):
        start = time.perf_counter_ns()
        fn()
        times.append(time.perf_counter_ns() - start)
    return statistics.median(times) / 1000.0


def read_ours(path):
    values = {}
    with open(path) as f:
        for line in f:
            name, value = line.split()
            values[name] = float(value)
    b = np.array([values[f"b{j}"] for j in range(11)])
    se = np.array([values[f"se{j}"] for j in range(11)])
    return b, se, values["rsquared"]


def worst(ours, theirs):
    return float(np.max(np.abs(theirs - ours) / np.abs(ours)))


def main():
    csv_path, db_path, ours_path, repetitions = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    b_ours, se_ours, r2_ours = read_ours(ours_path)
    data = np.loadtxt(csv_path, delimiter=",", skiprows=1)
    x, y = data[:, :10], data[:, 10]
    design = np.column_stack([np.ones(len(y)), x])
    n, q = design.shape

    # (a) lstsq with what a regression reports: coefficients, residuals, standard errors, R^2.
    def lstsq_full():
        b = np.linalg.lstsq(design, y, rcond=None)[0]
        e = y - design @ b
        sse = e @ e
        mse = sse / (n - q)
        cov = mse * np.linalg.inv(design.T @ design)
        se = np.sqrt(np.diag(cov))
        dev = y - y.mean()
        r2 = 1.0 - sse / (dev @ dev)
        return b, se, r2

    # (b) statsmodels OLS, with the standard errors and R^2 it computes on demand.
    def statsmodels_fit():
        fit = sm.OLS(y, design).fit()
        return fit.params, fit.bse, fit.rsquared

    # (d) the bare least-squares solve.
    def lstsq_bare():
        return np.linalg.lstsq(design, y, rcond=None)[0]

    # (e) reading the table into pandas, then the statsmodels fit: the counterpart of ReLoad +
    # Execute. The connection stays open, as our component's does.
    connection = sqlite3.connect(db_path)

    def pandas_statsmodels():
        frame = pd.read_sql_query("SELECT * FROM data", connection)
        fit = sm.OLS(frame["y"], sm.add_constant(frame[CONTROLS])).fit()
        return fit.params.to_numpy(), fit.bse.to_numpy(), fit.rsquared

    b, se, r2 = lstsq_full()
    print(f"numpy_lstsq_full {median_us(lstsq_full, repetitions):.1f} {worst(b_ours, b):.3g}"
          f" se={worst(se_ours, se):.3g} r2={abs(r2 - r2_ours):.3g}")
    b, se, r2 = statsmodels_fit()
    print(f"statsmodels_ols {median_us(statsmodels_fit, repetitions):.1f} {worst(b_ours, b):.3g}"
          f" se={worst(se_ours, se):.3g} r2={abs(r2 - r2_ours):.3g}")
    b = lstsq_bare()
    print(f"numpy_lstsq_bare {median_us(lstsq_bare, repetitions):.1f} {worst(b_ours, b):.3g}")
    b, se, r2 = pandas_statsmodels()
    print(f"pandas_sqlite_statsmodels {median_us(pandas_statsmodels, repetitions):.1f}"
          f" {worst(b_ours, b):.3g} se={worst(se_ours, se):.3g} r2={abs(r2 - r2_ours):.3g}")
    connection.close()


if __name__ == "__main__":
    main()
