# The R peer of the whole-table benchmark: read.csv + lm + summary over every column (the last,
# Y, the response); prints "coef b0 b1 ..." for the driver to compare with tavreg's.
args <- commandArgs(trailingOnly = TRUE)
data <- read.csv(args[1])
s <- summary(lm(Y ~ ., data = data))
cat("coef", sprintf("%.17g", coef(s)[, 1]), "\n")
