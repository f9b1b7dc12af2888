# Times R's summary(lm(...)) on the data set that bench_execute exports.
# Usage: Rscript peers.R DATA.csv OURS.txt REPETITIONS
# Prints "r_summary_lm median_us max_relative_coefficient_difference se=... r2=...", the
# differences taken against our results (OURS.txt, from bench_execute --results).
args <- commandArgs(trailingOnly = TRUE)
data <- read.csv(args[1])
ours <- read.table(args[2], col.names = c("name", "value"))
repetitions <- as.integer(args[3])
value <- function(name) ours$value[ours$name == name]
b_ours <- sapply(0:10, function(j) value(paste0("b", j)))
se_ours <- sapply(0:10, function(j) value(paste0("se", j)))

fit <- function() summary(lm(y ~ ., data = data))
s <- fit()
times <- numeric(repetitions)
for (r in seq_len(repetitions)) {
  # Sys.time has microsecond resolution on Linux; proc.time only milliseconds.
  start <- Sys.time()
  s <- fit()
  times[r] <- as.numeric(difftime(Sys.time(), start, units = "secs"))
}
co <- coef(s)
worst <- function(ours, theirs) max(abs(theirs - ours) / abs(ours))
cat(sprintf("r_summary_lm %.1f %.3g se=%.3g r2=%.3g\n", median(times) * 1e6,
            worst(b_ours, co[, 1]), worst(se_ours, co[, 2]),
            abs(s$r.squared - value("rsquared"))))
