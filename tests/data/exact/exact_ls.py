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


def inverse_diagonal(a):
    """The diagonal of a^-1."""
    n = len(a)
    return [solve(a, [Fraction(int(i == k)) for i in range(n)])[k] for k in range(n)]


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
    values = [(f"b{k}", b[k]) for k in range(q)]
    values += [(f"se{k}", sqrt(mse * d)) for k, d in enumerate(inverse_diagonal(xtx))]
    values += [("sse", sse), ("ssr", ssr), ("sst", sst), ("mse", mse), ("syx", sqrt(mse)),
               ("rsquared", ssr / sst), ("f", (ssr / p) / mse)]
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


if __name__ == "__main__":
    main()
