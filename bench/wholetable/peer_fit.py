# The Python peers of the whole-table benchmark: read a CSV file (or standard input, "-") whose
# last column is the response, fit it with every other column and an intercept, and print
# "coef b0 b1 ..." for the driver to compare with tavreg's coefficients.
#   peer_fit.py statsmodels FILE   pandas read_csv + statsmodels OLS (with bse and R squared)
#   peer_fit.py numpy FILE         pandas read_csv + numpy lstsq (the rows fetched with COPY)
import sys

import numpy as np
import pandas as pd

kind, path = sys.argv[1], sys.argv[2]
data = pd.read_csv(sys.stdin if path == "-" else path).to_numpy(dtype=np.float64)
y = data[:, -1]
X = np.column_stack([np.ones(len(data)), data[:, :-1]])
if kind == "statsmodels":
    import statsmodels.api as sm

    fit = sm.OLS(y, X).fit()
    b = fit.params
    _ = (fit.bse, fit.rsquared)
else:
    # The default cutoff (machine epsilon times the larger dimension) drops the singular value of
    # a column of 1e-3 beside one of 1.7e9 and returns coefficients wrong in the first digit;
    # machine epsilon alone keeps them.
    b, _, _, _ = np.linalg.lstsq(X, y, rcond=-1)
print("coef " + " ".join(repr(float(v)) for v in b))
