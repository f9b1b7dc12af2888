# Reference values of the inference and diagnostic statistics, from R's lm on data sets that come
# with R. Base R only; run from this folder:  Rscript make_references.R
#
# For each case below it writes NAME.csv (the records: the columns the model reads, as decimal
# text that reads back as the very doubles R holds, "NA" for a missing value) and NAME.ref (header
# comments, then one "name index value" line per number, printed with %.17g). See README.md for
# the names.

options(warn = 1)

# Column names without dots, so that they are plain SQL identifiers.
plain <- function(d) {
    names(d) <- gsub(".", "", names(d), fixed = TRUE)
    d
}

cases <- list(
    list(name = "mtcars",
         data = mtcars[, c("wt", "hp", "qsec", "drat", "mpg")],
         formula = mpg ~ wt + hp + qsec + drat,
         new = data.frame(wt = c(2.62, 3.5, 5.4), hp = c(110, 180, 335),
                          qsec = c(16.5, 18, 14.6), drat = c(3.9, 3.1, 3.54))),
    # Every transformation of a control but the logarithm and the product, and the inverse of
    # the response.
    list(name = "mtcars-transformed",
         data = mtcars[, c("hp", "disp", "cyl", "wt", "qsec", "mpg")],
         formula = I(1 / mpg) ~ sqrt(hp) + I(disp / cyl) + I(wt^2) + I(qsec / 10),
         new = data.frame(hp = c(110, 200), disp = c(160, 400), cyl = c(6, 8),
                          wt = c(2.62, 4.1), qsec = c(16.46, 17.5))),
    list(name = "trees",
         data = trees,
         formula = log(Volume) ~ log(Girth) + log(Height),
         new = data.frame(Girth = c(10, 15, 21), Height = c(70, 80, 90))),
    list(name = "stackloss",
         data = plain(stackloss),
         formula = stackloss ~ AirFlow + WaterTemp + AcidConc,
         new = data.frame(AirFlow = c(58, 70, 85), WaterTemp = c(18, 22, 27),
                          AcidConc = c(80, 87, 93))),
    # Records with a missing Ozone or Solar.R are left out (na.omit, as the load skips them).
    list(name = "airquality",
         data = plain(airquality[, c("Solar.R", "Wind", "Temp", "Ozone")]),
         formula = Ozone ~ SolarR + Wind + Temp + I(Wind * Temp), labels = TRUE,
         new = data.frame(SolarR = c(50, 200, 320), Wind = c(3, 10, 18), Temp = c(60, 80, 95))),
    list(name = "swiss",
         data = plain(swiss),
         formula = I(Fertility / 100) ~ Agriculture + Examination + Education + Catholic +
             InfantMortality,
         new = data.frame(Agriculture = c(20, 50, 80), Examination = c(5, 15, 30),
                          Education = c(3, 10, 40), Catholic = c(3, 50, 97),
                          InfantMortality = c(15, 20, 25))),
    # Ill-conditioned: kappa of the design about 2.4e7.
    list(name = "longley",
         data = plain(longley),
         formula = Employed ~ GNPdeflator + GNP + Unemployed + ArmedForces + Population + Year,
         new = data.frame(GNPdeflator = c(90, 120), GNP = c(300, 560), Unemployed = c(300, 450),
                          ArmedForces = c(250, 300), Population = c(110, 131),
                          Year = c(1950, 1963))),
    # A factor: Diet's levels 1 to 4 as indicators of 2, 3 and 4, as R codes them. The records
    # are R's ChickWeight as write.csv writes it (examples/ChickWeight.csv), so no NAME.csv; the
    # statistics of the first 12 of its 578 records.
    list(name = "chickweight-factor",
         data = ChickWeight[, c("weight", "Time", "Diet")], write = FALSE, records = 12,
         formula = weight ~ Time + Diet,
         new = data.frame(Time = c(0, 10, 21), Diet = factor(c(1, 2, 4), levels = 1:4)))
)

# The shortest of 15 or 17 significant digits that reads back as x itself.
decimal <- function(x) {
    vapply(x, function(v) {
        if (is.na(v)) return("NA")
        s <- sprintf("%.15g", v)
        if (as.numeric(s) != v) s <- sprintf("%.17g", v)
        s
    }, "")
}

write_data <- function(d, file) {
    lines <- apply(vapply(d, decimal, character(nrow(d))), 1, paste, collapse = ",")
    if (nrow(d) == 1) lines <- paste(vapply(d, decimal, ""), collapse = ",")
    writeLines(c(paste(names(d), collapse = ","), lines), file)
}

# R's row names of the records used, and the three records that plot.lm labels on each plot
# (id.n = 3): by |residual| on residuals-fitted, by |standardized residual| on the normal Q-Q and
# scale-location plots, by Cook's distance on the Cook's distance and residuals-leverage plots.
put_labels <- function(fit, put, wanted) {
    if (!isTRUE(wanted)) return()
    top <- function(v) as.numeric(names(v)[order(-abs(v))[1:3]])
    put("rowname", as.numeric(names(residuals(fit))))
    put("label_resid", top(residuals(fit)))
    put("label_rstandard", top(rstandard(fit)))
    put("label_cooks", top(cooks.distance(fit)))
}

make_case <- function(case) {
    d <- case$data
    rownames(d) <- NULL
    fit <- lm(case$formula, data = d, na.action = na.omit)
    s <- summary(fit)
    n <- nobs(fit)
    p <- length(coef(fit)) - 1
    stopifnot(fit$rank == p + 1)
    dfres <- fit$df.residual
    out <- character()
    put <- function(name, values, first = 1) {
        idx <- seq_along(values) - 1 + first
        out <<- c(out, sprintf("%s %d %.17g", name, idx, unname(values)))
    }
    put_labels(fit, put, case$labels)

    put("n", n)
    put("dropped", nrow(d) - n)
    put("df_residual", dfres)

    cf <- coef(s)
    put("coef", cf[, 1], 0)
    put("se", cf[, 2], 0)
    put("t", cf[, 3], 0)
    put("p", cf[, 4], 0)
    for (level in c(95, 99)) {
        ci <- confint(fit, level = level / 100)
        put(sprintf("ci%d_lower", level), ci[, 1], 0)
        put(sprintf("ci%d_upper", level), ci[, 2], 0)
    }

    put("r2", s$r.squared)
    put("adjr2", s$adj.r.squared)
    put("sigma", s$sigma)
    fs <- s$fstatistic
    put("f", fs[["value"]])
    put("f_p", pf(fs[["value"]], fs[["numdf"]], fs[["dendf"]], lower.tail = FALSE))

    # The analysis of variance: the regression line sums the sequential sums of squares of the
    # terms; the total is regression plus residual, on n - 1 degrees of freedom.
    a <- anova(fit)
    res <- nrow(a)
    reg_df <- sum(a$Df[-res])
    reg_ss <- sum(a[["Sum Sq"]][-res])
    res_df <- a$Df[res]
    res_ss <- a[["Sum Sq"]][res]
    res_ms <- res_ss / res_df
    reg_ms <- reg_ss / reg_df
    reg_f <- reg_ms / res_ms
    put("anova_df", c(reg_df, res_df, reg_df + res_df))
    put("anova_ss", c(reg_ss, res_ss, reg_ss + res_ss))
    put("anova_ms", c(reg_ms, res_ms))
    put("anova_f", reg_f)
    put("anova_p", pf(reg_f, reg_df, res_df, lower.tail = FALSE))

    ll <- logLik(fit)
    stopifnot(attr(ll, "df") == p + 2)
    put("loglik", as.numeric(ll))
    put("aic", AIC(fit))
    put("bic", BIC(fit))

    # Predictions at new points: their transformed control values (the model matrix's rows,
    # without the intercept column), then fit, its standard error and both intervals.
    tt <- delete.response(terms(fit))
    xnew <- model.matrix(tt, model.frame(tt, case$new))
    for (k in seq_len(p)) put(sprintf("pred_x%d", k), xnew[, k + 1])
    for (level in c(95, 90)) {
        conf <- predict(fit, case$new, interval = "confidence", level = level / 100, se.fit = TRUE)
        pred <- predict(fit, case$new, interval = "prediction", level = level / 100)
        if (level == 95) {
            put("pred_fit", conf$fit[, "fit"])
            put("pred_se", conf$se.fit)
        }
        put(sprintf("pred_conf%d_lower", level), conf$fit[, "lwr"])
        put(sprintf("pred_conf%d_upper", level), conf$fit[, "upr"])
        put(sprintf("pred_pred%d_lower", level), pred[, "lwr"])
        put(sprintf("pred_pred%d_upper", level), pred[, "upr"])
    }

    # Per record: every record, or the first `records` of a large data set.
    shown <- seq_len(min(n, if (is.null(case$records)) n else case$records))
    put("resid", residuals(fit)[shown])
    put("hat", hatvalues(fit)[shown])
    put("rstandard", rstandard(fit)[shown])
    put("rstudent", rstudent(fit)[shown])
    put("cooks", cooks.distance(fit)[shown])

    # Variance inflation: 1 / (1 - R^2) of each control on the others, with an intercept.
    X <- model.matrix(fit)[, -1, drop = FALSE]
    vif <- vapply(seq_len(p), function(k) {
        if (p == 1) return(1)
        1 / (1 - summary(lm(X[, k] ~ X[, -k]))$r.squared)
    }, 0)
    put("vif", vif)
    e <- residuals(fit)
    put("dw", sum(diff(e)^2) / sum(e^2))

    header <- c(
        paste("#", R.version.string),
        paste("# data set:", case$name, "-", nrow(d), "records,", nrow(d) - n, "with a missing value"),
        paste("# model:", paste(deparse(case$formula, width.cutoff = 500L), collapse = " ")),
        "# fitted by lm (QR); statistics of summary, confint, anova, logLik, AIC, BIC, predict,",
        "# hatvalues, rstandard, rstudent, cooks.distance; vif and dw as make_references.R computes them")
    if (!isFALSE(case$write)) write_data(d, paste0(case$name, ".csv"))
    writeLines(c(header, out), paste0(case$name, ".ref"))
    cat(sprintf("%-20s n = %3d (dropped %d), p = %d, kappa = %.3g\n", case$name, n,
                nrow(d) - n, p, kappa(model.matrix(fit), exact = TRUE)))
}

for (case in cases) make_case(case)

# Degenerate fits: only what summary(lm) says of them, an aliased coefficient as nan.
make_degenerate <- function(name, d, formula) {
    said <- character()
    fit <- lm(formula, data = d)
    s <- withCallingHandlers(summary(fit), warning = function(w) {
        said <<- c(said, conditionMessage(w))
        invokeRestart("muffleWarning")
    })
    fs <- s$fstatistic
    values <- list(n = nobs(fit), rank = fit$rank, df_residual = fit$df.residual,
                   coef = coef(fit), se = coef(s)[, 2][names(coef(fit))], r2 = s$r.squared,
                   adjr2 = s$adj.r.squared, sigma = s$sigma, f = fs[["value"]],
                   f_numdf = fs[["numdf"]], f_dendf = fs[["dendf"]])
    out <- unlist(lapply(names(values), function(key) {
        v <- unname(values[[key]])
        first <- if (key %in% c("coef", "se")) 0 else 1
        sprintf("%s %d %s", key, seq_along(v) - 1 + first,
                ifelse(is.na(v), "nan", sprintf("%.17g", v)))
    }))
    header <- c(paste("#", R.version.string),
                paste("# model:", paste(deparse(formula, width.cutoff = 500L), collapse = " ")),
                paste("# summary warns:", if (length(said)) said else "nothing"))
    write_data(d, paste0(name, ".csv"))
    writeLines(c(header, out), paste0(name, ".ref"))
    cat(sprintf("%-20s rank %d, df %d%s\n", name, fit$rank, fit$df.residual,
                paste("", said, collapse = "")))
}
make_degenerate("trees-aliased", trees, Volume ~ Girth + I(Girth / 2))
make_degenerate("perfect", data.frame(x = 1:10, y = 2 + 3 * (1:10)), y ~ x)

# R's freeny, the records for the exact references of ../exact (exact_ls.py), the response last.
freeny_data <- plain(freeny)
names(freeny_data)[1] <- "Y"
write_data(freeny_data[, c(2:5, 1)], "../exact/freeny.csv")

# A table of 100000 records whose mean shifts after the first half, generated by a formula that
# the whole-table test repeats (every value a multiple of 1/128, exact in doubles); only the
# reference is written.
make_shifted <- function(name) {
    i <- 0:99999
    d <- data.frame(x1 = ((i * 37) %% 101) / 8, x2 = ((i * 7919) %% 1009) / 16)
    d$y <- ifelse(i < 50000, 1, 6) + 0.5 * d$x1 - 0.25 * d$x2 + (((i * 104729) %% 2003) - 1001) / 128
    fit <- lm(y ~ x1 + x2, data = d)
    s <- summary(fit)
    fs <- s$fstatistic
    ll <- logLik(fit)
    values <- list(n = nobs(fit), coef = coef(fit), se = coef(s)[, 2], t = coef(s)[, 3],
                   p = coef(s)[, 4], r2 = s$r.squared, adjr2 = s$adj.r.squared,
                   sigma = s$sigma, f = fs[["value"]],
                   fp = pf(fs[["value"]], fs[["numdf"]], fs[["dendf"]], lower.tail = FALSE),
                   loglik = as.numeric(ll), aic = AIC(fit), bic = BIC(fit))
    out <- unlist(lapply(names(values), function(key) {
        v <- unname(values[[key]])
        first <- if (key %in% c("coef", "se", "t", "p")) 0 else 1
        sprintf("%s %d %.17g", key, seq_along(v) - 1 + first, v)
    }))
    writeLines(c(paste("#", R.version.string), "# model: y ~ x1 + x2 over the formula's 100000 records",
                 out), paste0(name, ".ref"))
}
make_shifted("wholetable-shift")
