#include "summary.h"

#include <QJsonArray>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ostream>
#include <sstream>

#include "report.h"
#include "tav/db.h"
#include "tav/diagplots.h"
#include "tav/plotstats.h"
#include "tav/sysutils.h"
#include "tav/tavtable.h"
#include "terms.h"

namespace tavreg {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// `value` with `digits` significant digits: in plain decimals from 1E-4 up to 1E15, in exponent
// form beyond, so that a small slope never prints as 0.0000.
std::string Sig(double value, int digits) {
    if (std::isnan(value)) return "NA";
    if (std::isinf(value)) return value > 0 ? "Inf" : "-Inf";
    char text[64];
    const double magnitude = std::fabs(value);
    if (value != 0 && (magnitude < 1E-4 || magnitude >= 1E15)) {
        std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
        // 3.300e-05 -> 3.3e-05
        std::string s = text;
        const auto e = s.find('e');
        std::string mantissa = s.substr(0, e);
        if (mantissa.find('.') != std::string::npos) {
            while (mantissa.back() == '0') mantissa.pop_back();
            if (mantissa.back() == '.') mantissa.pop_back();
        }
        return mantissa + s.substr(e);
    }
    const int exponent = value == 0 ? 0 : static_cast<int>(std::floor(std::log10(magnitude)));
    const int decimals = std::max(0, digits - 1 - exponent);
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string PValue(double p) {
    if (std::isnan(p)) return "NA";
    if (p < 2.2E-16) return "<2e-16";
    return Sig(p, 3);
}

std::string Stars(double p) {
    if (std::isnan(p)) return "";
    return p < 0.001 ? "***" : p < 0.01 ? "**" : p < 0.05 ? "*" : p < 0.1 ? "." : "";
}

// Columns of texts: the first left-aligned, the others right-aligned, two blanks apart.
std::string Table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> width;
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) {
            if (width.size() <= c) width.push_back(0);
            width[c] = std::max(width[c], row[c].size());
        }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            const std::string pad(width[c] - row[c].size(), ' ');
            line += c == 0 ? row[c] + pad : "  " + pad + row[c];
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }
    return out;
}

std::string Percent(double level) {
    std::string s = Sig(100 * level, 6);
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s + "%";
}

// What a fit's inference says, the same for the component's fit and the whole table's: the
// coefficients with their tests and intervals, the residual standard error, R squared, the F
// test and the likelihood. `term(k)` names control variable k.
template <class Fit>
void Inference(std::ostream& out, Fit& r, int p, const std::function<std::string(int)>& term,
               double level) {
    const std::string half = Percent((1 - level) / 2), upper = Percent(1 - (1 - level) / 2);
    std::vector<std::vector<std::string>> rows = {
        {"", "Estimate", "Std. Error", "t value", "Pr(>|t|)", "", half, upper}};
    for (int j = 0; j <= p; ++j) {
        const auto k = static_cast<uint16_t>(j);
        const bool aliased = j > 0 && r.GetAliased(k);
        const std::string name = j == 0 ? "(Intercept)" : term(j);
        if (aliased) {
            rows.push_back({name, "(aliased)", "", "", "", "", "", ""});
            continue;
        }
        const double pValue = r.GetPValue(k);
        const tav::TInterval ci = r.GetConfidenceInterval(k, level);
        rows.push_back({name, Sig(r.Getb(k), 5), Sig(r.GetStdErrorOfb(k), 4),
                        Sig(r.GettValue(k), 4), PValue(pValue), Stars(pValue), Sig(ci.lower, 5),
                        Sig(ci.upper, 5)});
    }
    out << "Coefficients:\n" << Table(rows);
    out << "Signif. codes: 0 '***' 0.001 '**' 0.01 '*' 0.05 '.' 0.1 ' ' 1\n\n";

    const tav::TAnovaTable anova = r.GetAnova();
    const auto df = [](double v) {
        return std::isnan(v) ? std::string("NA") : std::to_string(std::llround(v));
    };
    out << "Residual standard error: " << Sig(r.GetResidualStdError(), 4) << " on "
        << df(anova.residual.df) << " degrees of freedom\n";
    out << "R-squared: " << Sig(r.GetRSquared(), 4)
        << ",  adjusted R-squared: " << Sig(r.GetAdjRSquared(), 4) << "\n";
    out << "F-statistic: " << Sig(anova.regression.F, 4) << " on " << df(anova.regression.df)
        << " and " << df(anova.residual.df) << " DF,  p-value: " << PValue(anova.regression.p)
        << "\n";
    // The parameters of the likelihood: the coefficients fitted (not the aliased) and the error
    // variance.
    int parameters = 2;
    for (int k = 1; k <= p; ++k) parameters += r.GetAliased(static_cast<uint16_t>(k)) ? 0 : 1;
    out << "Log-likelihood: " << Sig(r.GetLogLikelihood(), 6) << " (df = " << parameters
        << "),  AIC: " << Sig(r.GetAIC(), 6) << ",  BIC: " << Sig(r.GetBIC(), 6) << "\n";
}

// The variance inflation factors, where there are several control variables.
template <class Fit>
void InflationFactors(std::ostream& out, const Fit& r, int p,
                      const std::function<std::string(int)>& term) {
    if (p < 2) return;
    out << "Variance inflation factors:\n";
    std::vector<std::vector<std::string>> vif;
    for (int k = 1; k <= p; ++k)
        vif.push_back({"  " + term(k), Sig(r.GetVIF(static_cast<uint16_t>(k)), 4)});
    out << Table(vif);
}

// The first lines of a summary: the component, its data and its response.
void Heading(std::ostream& out, const std::string& name, const tav::TTAVRegression& r) {
    const tav::TDataSet& ds = r.DataSet();
    const auto* table = dynamic_cast<const tav::TTAVTable*>(&ds);
    out << name << ": " << (table ? "table " + table->TableName() : std::string("a query"))
        << " of " << ds.DatabaseName() << "\n";
    if (!r.Description().empty()) out << r.Description() << "\n";
    out << "Response: " << r.ResponseVarY()->OutputTerm() << "\n";
}

std::string Digits(double digits) {
    return std::isnan(digits) ? std::string("no")
                              : std::to_string(static_cast<int>(std::floor(digits)));
}

}  // namespace

std::string SummaryText(const std::string& name, tav::TTAVRegression& r, double level) {
    const int n = r.DataCount();
    const int p = r.VarCount();
    std::ostringstream out;
    Heading(out, name, r);
    out << "Records: " << r.LoadSummary() << "\n";
    const double digits = r.GetStatisticsDigits();
    out << "Fit: "
        << (r.GetFitPath() == tav::TFitPath::QR ? "QR decomposition in extended precision"
                                                : "normal equations")
        << ", about " << Digits(digits) << " correct digits";
    if (r.GetFitProblem() != tav::TFitProblem::None)
        out << "; NOT VALID (" << tav::FitProblemToStr(r.GetFitProblem()) << ")";
    out << "\n\n";

    std::vector<double> residuals;
    for (int i = 1; i <= n; ++i) residuals.push_back(r.Gete(static_cast<uint16_t>(i)));
    std::sort(residuals.begin(), residuals.end());
    out << "Residuals:\n"
        << Table({{"", "Min", "1Q", "Median", "3Q", "Max"},
                  {"", Sig(tav::SampleQuantile(residuals, 0), 4),
                   Sig(tav::SampleQuantile(residuals, 0.25), 4),
                   Sig(tav::SampleQuantile(residuals, 0.5), 4),
                   Sig(tav::SampleQuantile(residuals, 0.75), 4),
                   Sig(tav::SampleQuantile(residuals, 1), 4)}})
        << "\n";

    const auto term = [&r](int k) { return r.GetcVar(static_cast<uint16_t>(k))->OutputTerm(); };
    Inference(out, r, p, term, level);
    out << "Durbin-Watson (load order): " << Sig(r.GetDurbinWatson(), 4) << "\n";
    if (r.GetPerfectFit()) out << "Warning: essentially perfect fit: summary may be unreliable\n";
    // The records the diagnostic plots label, chosen and named as they are there.
    const auto extremes = [&](tav::TDiagnosticPlot plot, const char* what, auto value) {
        std::string list;
        for (const tav::TLabelledRecord& l : tav::DiagnosticPlotLabels(r, plot))
            list += (list.empty() ? "" : ", ") + l.name + " (" +
                    Sig(value(static_cast<uint16_t>(l.record)), 3) + ")";
        if (!list.empty()) out << what << list << "\n";
    };
    extremes(tav::TDiagnosticPlot::NormalQQ, "Largest standardized residuals: ", [&](uint16_t i) {
        return r.GetStandardizedResidual(i);
    });
    extremes(tav::TDiagnosticPlot::ResidualsLeverage,
             "Largest Cook's distances: ", [&](uint16_t i) { return r.GetCooksDistance(i); });
    InflationFactors(out, r, p, term);
    return out.str();
}

std::string WholeTableSummaryText(const std::string& name, const tav::TTAVRegression& r,
                                  double level) {
    const tav::TWholeTableFit& fit = r.WholeTableFit();
    std::ostringstream out;
    Heading(out, name, r);
    out << "Records: " << r.WholeTableSummary() << "\n";
    out << "Fit: every record, summed "
        << (fit.Strategy() == tav::TWholeTableStrategy::Server ? "inside the database server"
                                                               : "as they were read")
        << ", about " << Digits(fit.GetEstimatedDigits()) << " correct digits";
    if (!fit.Valid()) out << "; NOT VALID (" << fit.Problem() << ")";
    out << "\n";
    out << "Statistics of single records (residuals, leverage, Cook's distance, Durbin-Watson)\n"
           "are not computed over the whole table.\n\n";
    const int p = fit.Variables();
    const auto term = [&r](int k) { return r.WholeTableTerm(k); };
    Inference(out, fit, p, term, level);
    if (fit.GetPerfectFit()) out << "Warning: essentially perfect fit: summary may be unreliable\n";
    InflationFactors(out, fit, p, term);
    return out.str();
}

double ParseLevel(const std::string& text) {
    std::string number = text;
    const bool percent = !number.empty() && number.back() == '%';
    if (percent) number.pop_back();
    char* end = nullptr;
    double level = number.empty() ? kNaN : std::strtod(number.c_str(), &end);
    if (end == nullptr || *end != '\0') level = kNaN;
    if (percent) level /= 100;
    if (!(level > 0 && level < 1))
        throw UsageError("--level: '" + text + "' is not a confidence level (give 0.95 or 95%)");
    return level;
}

std::vector<TFieldValue> ParseFieldValues(const std::string& text) {
    std::vector<TFieldValue> values;
    std::string::size_type from = 0;
    while (from <= text.size()) {
        const auto comma = std::min(text.find(',', from), text.size());
        const std::string item = text.substr(from, comma - from);
        const auto equals = item.find('=');
        const auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(' '));
            s.erase(s.find_last_not_of(' ') + 1);
            return s;
        };
        const std::string field = equals == std::string::npos ? "" : trim(item.substr(0, equals));
        const std::string number = equals == std::string::npos ? "" : trim(item.substr(equals + 1));
        char* end = nullptr;
        const double value = number.empty() ? kNaN : std::strtod(number.c_str(), &end);
        if (field.empty() || number.empty() || *end != '\0' || !std::isfinite(value))
            throw UsageError("--predict: '" + item +
                             "' is not FIELD=NUMBER (give 'FIELD=NUMBER,FIELD=NUMBER')");
        for (const TFieldValue& v : values)
            if (tav::SameFieldName(v.field, field))
                throw UsageError("--predict: " + field + " is given twice");
        values.push_back({field, value});
        from = comma + 1;
    }
    return values;
}

namespace {

bool ReadsTwoFields(const tav::TIndepVar& var) {
    return var.Kind() != nullptr && var.Kind()->fields == 2;
}

// "A, B, C"
std::string List(const std::vector<std::string>& fields) {
    std::string list;
    for (const std::string& f : fields) list += (list.empty() ? "" : ", ") + f;
    return list;
}

bool Holds(const std::vector<std::string>& fields, const std::string& field) {
    for (const std::string& f : fields)
        if (tav::SameFieldName(f, field)) return true;
    return false;
}

}  // namespace

void CheckPredictionFields(const std::vector<std::vector<std::string>>& read,
                           const std::vector<TFieldValue>& values) {
    std::vector<std::string> all;
    for (const auto& fields : read)
        for (const std::string& f : fields)
            if (!Holds(all, f)) all.push_back(f);
    for (const TFieldValue& v : values)
        if (!Holds(all, v.field))
            throw tav::Exception("--predict: no control variable reads " + v.field +
                                 " (they read " + List(all) + ")");
}

namespace {

// The fields the control variables read, each once, in their order.
std::vector<std::string> PredictionFields(const tav::TTAVRegression& r) {
    std::vector<std::string> fields;
    for (uint16_t k = 1; k <= r.VarCount(); ++k) {
        const tav::TIndepVar& var = *r.GetcVar(k);
        if (!Holds(fields, var.Field1())) fields.push_back(var.Field1());
        if (ReadsTwoFields(var) && !Holds(fields, var.Field2())) fields.push_back(var.Field2());
    }
    return fields;
}

}  // namespace

std::optional<TPrediction> TryPrediction(const tav::TTAVRegression& r,
                                         const std::vector<TFieldValue>& values, double level,
                                         std::string& reason) {
    TPrediction p;
    p.fields = PredictionFields(r);
    for (const TFieldValue& v : values)
        if (Holds(p.fields, v.field)) p.at.push_back(v);
    auto valueOf = [&](const std::string& field) -> std::optional<double> {
        for (const TFieldValue& v : p.at)
            if (tav::SameFieldName(v.field, field)) return v.value;
        reason = "no value for " + field + " (give one for each of " + List(p.fields) + ")";
        return std::nullopt;
    };
    tav::npvector x;
    for (uint16_t k = 1; k <= r.VarCount(); ++k) {
        const tav::TIndepVar& var = *r.GetcVar(k);
        const std::optional<double> field1 = valueOf(var.Field1());
        const std::optional<double> field2 =
            ReadsTwoFields(var) ? valueOf(var.Field2()) : std::optional<double>(0.0);
        if (!field1 || !field2) return std::nullopt;
        tav::TSkipReason skip;
        x[k] = var.ValueOf(*field1, *field2, skip);
        if (skip != tav::TSkipReason::None) {
            reason = var.OutputTerm() + " has no value there (" + tav::SkipReasonText(skip) + ")";
            return std::nullopt;
        }
    }
    p.interval = r.PredictInterval(x, r.VarCount(), level);
    return p;
}

TPrediction Prediction(const tav::TTAVRegression& r, const std::vector<TFieldValue>& values,
                       double level, bool everyValueRead) {
    if (everyValueRead) CheckPredictionFields({PredictionFields(r)}, values);
    std::string reason;
    std::optional<TPrediction> p = TryPrediction(r, values, level, reason);
    if (!p) throw tav::Exception("--predict: " + reason);
    return *p;
}

namespace {

// A cell of CSV output: in quotes when it holds a comma, a quote or a line break.
std::string CsvCell(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// A number as R's write.csv writes it: 15 significant digits, or 17 where 15 do not read back
// as the same double; nothing for a value that is not finite.
std::string CsvNumber(double value) {
    if (!std::isfinite(value)) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    if (std::strtod(text, nullptr) != value) std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

}  // namespace

std::string PredictionTable(const tav::TTAVRegression& r, const tav::TCsvTable& rows, double level,
                            bool header, const std::string& component) {
    std::string out;
    const std::string first = component.empty() ? "" : CsvCell(component) + ",";
    if (header) {
        if (!component.empty()) out += "component,";
        for (int c = 0; c < rows.ColumnCount(); ++c) out += CsvCell(rows.ColumnName(c)) + ",";
        out += "fit,se.fit,conf.lwr,conf.upr,pred.lwr,pred.upr,reason\n";
    }
    for (int64_t i = 0; i < rows.RowCount(); ++i) {
        std::vector<TFieldValue> values;
        out += first;
        for (int c = 0; c < rows.ColumnCount(); ++c) {
            const std::optional<std::string_view> cell = rows.Cell(i, c);
            out += (cell ? CsvCell(*cell) : std::string()) + ",";
            if (!cell || rows.ColumnType(c) == tav::TCsvType::Text) continue;
            values.push_back({rows.ColumnName(c), rows.ColumnType(c) == tav::TCsvType::Integer
                                                      ? static_cast<double>(rows.Integer(i, c))
                                                      : rows.Real(i, c)});
        }
        std::string reason;
        if (const std::optional<TPrediction> p = TryPrediction(r, values, level, reason)) {
            const tav::TPredictionInterval& v = p->interval;
            for (const double number : {v.fit, v.seFit, v.confidence.lower, v.confidence.upper,
                                        v.prediction.lower, v.prediction.upper})
                out += CsvNumber(number) + ",";
            out += "\n";
        } else {
            out += ",,,,,," + CsvCell(reason) + "\n";
        }
    }
    return out;
}

std::string PredictionText(const std::string& name, const tav::TTAVRegression& r,
                           const TPrediction& prediction) {
    const tav::TPredictionInterval& p = prediction.interval;
    std::string at;
    for (const TFieldValue& v : prediction.at) {
        char number[32];
        std::snprintf(number, sizeof number, "%.15g", v.value);
        at += (at.empty() ? "" : ", ") + v.field + " = " + number;
    }
    const std::string level = Percent(p.level);
    return "Prediction of " + r.ResponseVarY()->OutputTerm() + " by " + name + " at " + at + ": " +
           Sig(p.fit, 6) + " (standard error " + Sig(p.seFit, 4) + ")\n  " + level +
           " confidence interval of the mean: [" + Sig(p.confidence.lower, 6) + ", " +
           Sig(p.confidence.upper, 6) + "]\n  " + level + " prediction interval: [" +
           Sig(p.prediction.lower, 6) + ", " + Sig(p.prediction.upper, 6) + "]\n";
}

QJsonObject PredictionJson(const TPrediction& prediction) {
    const tav::TPredictionInterval& p = prediction.interval;
    const auto number = JsonNumber;
    QJsonObject at;
    for (const TFieldValue& v : prediction.at) at[QString::fromStdString(v.field)] = v.value;
    return QJsonObject{
        {"at", at},
        {"fit", number(p.fit)},
        {"seFit", number(p.seFit)},
        {"level", p.level},
        {"confidence", QJsonArray{number(p.confidence.lower), number(p.confidence.upper)}},
        {"prediction", QJsonArray{number(p.prediction.lower), number(p.prediction.upper)}}};
}

}  // namespace tavreg
