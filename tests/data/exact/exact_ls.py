#!/usr/bin/env python3
"""Exact least squares for the accuracy tests, in rational arithmetic.

For each design below this writes NAME.csv (the records, as decimal text that reads back as the
intended doubles) where the design is generated, and NAME.ref: the model, then one "name value"
line per result, to 25 significant digits:

    b0 .. bp      coefficients (intercept first)
    se0 .. sep    their standard errors, sqrt(MSE * (X'X)^-1[k, k])
    sse ssr sst   sums of squares (SST about the mean; SSR = SST - SSE)
    mse syx       SSE / (n - p - 1) and its square root
    rsquared f    SSR / SST and (SSR / p) / MSE
    dw            Durbin-Watson, sum of (e[i] - e[i-1])^2 over SSE
    vif1 .. vifp  variance inflation, the diagonal of the inverse of the controls' correlation
                  matrix (1 / (1 - R^2) of each control on the others)
    e1 .. en      residuals, then per record: h (leverage, x_i' (X'X)^-1 x_i), rs (standardized
                  residual, e / sqrt(MSE (1 - h))) and cook (Cook's distance, rs^2 h / (p+1) / (1 - h))

The inputs are the doubles the engine loads: every value of a CSV file is read as Python reads it
(the double nearest to the text), and a transformed value (a power) is the exact power rounded to
the nearest double. Everything after that is exact: the normal equations are solved over the
rationals, so no rounding enters the references until they are printed. Square roots are taken
to 40 digits.

Run it from anywhere; it rewrites the files next to itself:  python3 exact_ls.py
"""

import csv
import decimal
import os
from fractions import Fraction

HERE = os.path.dirname(os.path.abspath(__file__))
decimal.getcontext().prec = 40


def exact(value):
    """The double `value` as an exact fraction."""
    return Fraction(float(value))


def rounded(fraction):
    """The double nearest to an exact value, as an exact fraction (the engine stores doubles)."""
    return Fraction(float(fraction))


def solve(a, rhs):
    """Solves a x = rhs exactly by Gaussian elimination (a is square and regular)."""
    n = len(a)
    m = [row[:] + [r] for row, r in zip(a, rhs)]
    for col in range(n):
        pivot = next(r for r in range(col, n) if m[r][col] != 0)
        m[col], m[pivot] = m[pivot], m[col]
        for r in range(n):
            if r != col and m[r][col] != 0:
                f = m[r][col] / m[col][col]
                m[r] = [x - f * y for x, y in zip(m[r], m[col])]
    return [m[i][n] / m[i][i] for i in range(n)]


def inverse(a):
    """a^-1, by columns (a is symmetric, so these are its rows too)."""
    n = len(a)
    return [solve(a, [Fraction(int(i == k)) for i in range(n)]) for k in range(n)]


def sqrt(fraction):
    return (decimal.Decimal(fraction.numerator) / decimal.Decimal(fraction.denominator)).sqrt()


def fit(x, y):
    """x: rows of control values (exact), y: responses (exact). Returns the reference lines."""
    n, p = len(x), len(x[0])
    q = p + 1
    design = [[Fraction(1)] + row for row in x]
    xtx = [[sum(r[i] * r[j] for r in design) for j in range(q)] for i in range(q)]
    xty = [sum(r[i] * yi for r, yi in zip(design, y)) for i in range(q)]
    b = solve(xtx, xty)
    residuals = [yi - sum(bk * rk for bk, rk in zip(b, r)) for r, yi in zip(design, y)]
    sse = sum(e * e for e in residuals)
    mean = sum(y) / n
    sst = sum((yi - mean) ** 2 for yi in y)
    ssr = sst - sse
    mse = sse / (n - q)
    xtx_inv = inverse(xtx)
    values = [(f"b{k}", b[k]) for k in range(q)]
    values += [(f"se{k}", sqrt(mse * xtx_inv[k][k])) for k in range(q)]
    values += [("sse", sse), ("ssr", ssr), ("sst", sst), ("mse", mse), ("syx", sqrt(mse)),
               ("rsquared", ssr / sst), ("f", (ssr / p) / mse)]
    values.append(("dw", sum((residuals[i] - residuals[i - 1]) ** 2 for i in range(1, n)) / sse))
    # Centred cross products of the controls: their inverse's diagonal times their diagonal.
    means = [sum(r[j] for r in x) / n for j in range(p)]
    sxx = [[sum((r[i] - means[i]) * (r[j] - means[j]) for r in x) for j in range(p)]
           for i in range(p)]
    sxx_inv = inverse(sxx)
    values += [(f"vif{k + 1}", sxx[k][k] * sxx_inv[k][k]) for k in range(p)]
    values += [(f"e{i + 1}", e) for i, e in enumerate(residuals)]
    for i, r in enumerate(design):
        h = sum(r[j] * sum(xtx_inv[j][k] * r[k] for k in range(q)) for j in range(q))
        e2 = residuals[i] ** 2 / (mse * (1 - h))
        rs = sqrt(e2) * (1 if residuals[i] >= 0 else -1)
        values += [(f"h{i + 1}", h), (f"rs{i + 1}", rs), (f"cook{i + 1}", e2 * h / q / (1 - h))]
    return values


def text(value):
    if isinstance(value, Fraction):
        value = decimal.Decimal(value.numerator) / decimal.Decimal(value.denominator)
    return format(value, ".25g")


def read_csv(name):
    with open(os.path.join(HERE, name + ".csv"), newline="") as f:
        rows = list(csv.reader(f))
    return rows[0], [[exact(v) for v in row] for row in rows[1:]]


def write_csv(name, columns, rows):
    with open(os.path.join(HERE, name + ".csv"), "w", newline="") as f:
        f.write(",".join(columns) + "\n")
        for row in rows:
            f.write(",".join(row) + "\n")


def write_ref(name, model, values):
    with open(os.path.join(HERE, name + ".ref"), "w") as f:
        f.write("model " + model + "\n")
        for key, value in values:
            f.write(f"{key} {text(value)}\n")


def design(name, response, terms):
    """Fits `response` on `terms` ((column, power) pairs) over NAME.csv and writes NAME.ref."""
    columns, rows = read_csv(name)
    at = {c: i for i, c in enumerate(columns)}
    x = [[rounded(row[at[c]] ** k) for c, k in terms] for row in rows]
    y = [row[at[response]] for row in rows]
    model = response + " ~ " + " + ".join(c if k == 1 else f"{c}^{k}" for c, k in terms)
    write_ref(name, model, fit(x, y))


def main():
    # R's longley data (GNP in billions, employment in millions): Employed ~ GNP + Year + Year^2.
    design("longley-r", "Employed", [("GNP", 1), ("Year", 1), ("Year", 2)])

    # Unix times as a control variable: 200 seconds from 1700000000, a response of about i / 2
    # with a deterministic noise of +-2.3.
    rows = []
    for i in range(1, 201):
        noise = Fraction((i * 7919) % 1001 - 500, 220)
        y = Fraction(i, 2) + noise
        rows.append([str(1700000000 + i), f"{float(y):.3f}"])
    write_csv("unix-time", ["X", "Y"], rows)
    design("unix-time", "Y", [("X", 1)])

    # An offset at the edge of the double range of integers: X = 1E15 + (i mod 2).
    rows = []
    for i in range(1, 201):
        noise = Fraction((i * 4567) % 997 - 498, 1000)
        rows.append([str(10**15 + i % 2), f"{float(3 + 2 * (i % 2) + noise):.3f}"])
    write_csv("offset-1e15", ["X", "Y"], rows)
    design("offset-1e15", "Y", [("X", 1)])

    # Dates as day numbers (2020..2026) with a quadratic trend, and a second control.
    rows = []
    for i in range(1, 301):
        day = 43831 + 7 * i
        z = (i * 37) % 19 - 9
        y = Fraction(day - 44000, 100) + Fraction((day - 44500) ** 2, 10**5) + z + \
            Fraction((i * 7919) % 101 - 50, 40)
        rows.append([str(day), str(z), f"{float(y):.4f}"])
    write_csv("day-numbers", ["DAY", "Z", "Y"], rows)
    design("day-numbers", "Y", [("DAY", 1), ("DAY", 2), ("Z", 1)])

    # Designs whose record diagnostics lose about 2 log10(cond) digits through cross products.
    def noise(i, prime, scale):
        return Fraction((i * prime) % 201 - 100, scale)

    # x, x^2 at an offset of a million.
    rows = [[str(10**6 + i), f"{float(2 + Fraction(i, 10) + Fraction(i * i, 500) + noise(i, 7919, 400)):.4f}"]
            for i in range(1, 41)]
    write_csv("offset-1e6", ["X", "Y"], rows)
    design("offset-1e6", "Y", [("X", 1), ("X", 2)])

    # t, t^2 for Unix times a day apart.
    rows = [[str(1700000000 + 86400 * i),
             f"{float(Fraction(i, 3) - Fraction(i * i, 400) + noise(i, 4567, 300)):.4f}"]
            for i in range(1, 121)]
    write_csv("unix-days", ["T", "Y"], rows)
    design("unix-days", "Y", [("T", 1), ("T", 2)])

    # Two controls `delta` apart, X2 = X1 + delta * u with u in [-1, 1]; the response depends on u.
    for name, delta in (("close-1e-6", Fraction(1, 10**6)), ("close-1e-8", Fraction(1, 10**8))):
        rows = []
        for i in range(1, 31):
            x1, u = Fraction(i, 4), noise(i, 7919, 100)
            y = 1 + 2 * x1 + 3 * u + noise(i, 4567, 10000)
            rows.append([str(float(x1)), repr(float(x1 + delta * u)), f"{float(y):.6f}"])
        write_csv(name, ["X1", "X2", "Y"], rows)
        design(name, "Y", [("X1", 1), ("X2", 1)])

    # A cubic.
    rows = []
    for i in range(1, 41):
        x = 10 + Fraction(i, 4)
        y = 1 + x - Fraction(x * x, 20) + Fraction(x ** 3, 1000) + noise(i, 7919, 1000)
        rows.append([str(float(x)), f"{float(y):.5f}"])
    write_csv("cubic", ["X", "Y"], rows)
    design("cubic", "Y", [("X", 1), ("X", 2), ("X", 3)])

    # A response of large mean over a symmetric control: y = mean + 1e-3 x + noise, x = -5..5.
    for name, mean in (("mean-1e6", 10**6), ("mean-1e9", 10**9)):
        rows = [[str(x), f"{float(mean + Fraction(x, 1000) + noise(x + 6, 37, 10**7)):.7f}"]
                for x in range(-5, 6)]
        write_csv(name, ["X", "Y"], rows)
        design(name, "Y", [("X", 1)])

    # R's freeny (written by tests/data/r/make_references.R).
    design("freeny", "Y", [("lagquarterlyrevenue", 1), ("priceindex", 1), ("incomelevel", 1),
                           ("marketpotential", 1)])


if __name__ == "__main__":
    main()
