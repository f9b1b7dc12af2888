// The regression report: thirteen texts and two matrix line lists, laid out character for
// character as the output window expects them.
#include "tav/tavreport.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "tav/sysutils.h"
#include "tav/tavclasses.h"
#include "tav/tavcore.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"
#include "tav/tavwindows.h"

namespace tav {

namespace {

constexpr const char* LB = "\n\r";
constexpr const char* Five = "     ";

std::string Fix3(double v) { return FloatToStrF(v, TFloatFormat::ffFixed, 8, 3); }
std::string Fix4(double v) { return FloatToStrF(v, TFloatFormat::ffFixed, 8, 4); }
std::string Sci(double v) { return FormatFloat("0.00E+0", v); }
std::string SciPad(double v) { return FormatFloat(" 0.00E+0;-0.00E+0", v); }
std::string Int(int64_t k) { return IntToStr(k); }

// b / sqrt(variance), in extended precision.
double TValue(double b, double variance) {
    return static_cast<double>(static_cast<long double>(b) /
                               std::sqrt(static_cast<long double>(variance)));
}

}  // namespace

TRegressionReport TTAVRegression::BuildReport() {
    const Arrays& d = *d_;
    const int p = varCount_;
    const int n = dataCount_;
    const int q = p + 1;
    const std::string pText = Int(p);
    const std::string residualDof = Int(int64_t{n} - q);

    TRegressionReport r;
    r.DependentVariable = std::string(LB) + "    Y = " + response_->OutputTerm();
    r.Observations = Int(n);
    r.ResidualMeanSquare = Fix3(MSE_);
    r.SSE = Fix3(GetSSE());
    r.SSR = Fix3(GetSSR());
    r.FStatistic = "(" + pText + "," + residualDof + "): " + Fix3(GetF());

    r.IndependentVariables = LB;
    r.Means = LB;
    r.StdDevs = LB;
    r.StdErrors = LB;
    r.Coefficients = std::string(LB) + Five + "B0: " + Fix4(d.b[0]) + LB;
    r.Means += std::string(Five) + "Y: " + Fix4(yBar_) + LB;
    r.StdDevs += std::string(Five) + Fix4(yStdErr_) + LB;
    r.DegreesOfFreedom = std::string(LB) + Five + "Regression " + pText + LB + Five + "Residual " +
                         residualDof + LB + Five + "Total " + Int(int64_t{n} - 1);

    r.CovarianceLines.Add("Covariance Matrix:");
    r.CovarianceLines.Add(" ");
    for (int i = 1; i <= q; ++i) {
        std::string line;
        for (int j = 1; j <= q; ++j) {
            const double c = d.Covar(i, j);
            if (variant_.covarianceEntriesPadded)
                line += SciPad(c) + "   ";
            else if (c > 0.0)
                line += " " + Sci(c) + "    ";
            else
                line += Sci(c) + "    ";
            if (j == i)
                r.StdErrors +=
                    "   " + Fix4(static_cast<double>(std::sqrt(static_cast<long double>(c)))) + LB;
        }
        r.CovarianceLines.Add(line);
    }

    r.TValues = std::string(LB) + "  " + Fix4(TValue(d.b[0], d.Covar(1, 1))) + LB;
    const std::string tPrefix = variant_.tValuePrefix;
    int k = 0;
    for (int i = 1; i <= p; ++i) {
        const TIndepVar& var = *cVar_[i];
        if (var.Transformation() == "Inactive") continue;
        ++k;
        r.IndependentVariables += std::string(Five) + "X" + Int(k) + " = " + var.OutputTerm() + LB;
        r.Coefficients += std::string(Five) + "B" + Int(k) + ": " + Fix4(d.b[i]) + LB;
        r.Means += std::string(Five) + "X" + Int(k) + ": " + Fix4(d.xBar[i]) + LB;
        r.StdDevs += std::string(Five) + Fix4(d.xStdErr[i]) + LB;
        r.TValues += tPrefix + Fix4(TValue(d.b[i], d.Covar(i + 1, i + 1))) + LB;
    }

    r.CorrelationLines.Add("Correlation Matrix:");
    r.CorrelationLines.Add(" ");
    for (int i = 1; i <= q; ++i) {
        std::string line;
        for (int j = 1; j <= q; ++j) {
            const double c = d.Corr(i, j);
            if (static_cast<long double>(c) > 1.0E-20L)
                line += " " + Sci(c) + "    ";
            else
                line += Sci(c) + "    ";
        }
        r.CorrelationLines.Add(line);
    }
    return r;
}

const char* const kProductNotice =
    "tav regression components: least-squares fits straight from your database tables and queries";

std::string ReportDataSetName(TTAVRegression& regression) {
    const TComponentKind kind = ComponentKind(&regression.DataSet());
    if (kind.query) return kind.query->SQL().Count() > 0 ? kind.query->SQL()[0] : std::string();
    if (kind.table) return kind.table->TableName();
    return {};
}

TReportPage MakeReportPage(const TRegressionReport& r, const std::string& dataSetName,
                           const std::string& description, const std::string& date,
                           const std::string& reportMessage) {
    TReportPage page;
    page.dataSetName = dataSetName;
    page.description = description;
    page.date = date;
    const double sse = StrToFloat(r.SSE);
    const double ssr = StrToFloat(r.SSR);
    const double sst = sse + ssr;
    // With both sums zero there is no total to divide by: R squared is not a number.
    const double rsqr = sst == 0.0 ? std::numeric_limits<double>::quiet_NaN() : ssr / sst;
    page.depVarName = "Dependent Variable: " + r.DependentVariable;
    page.indepVarNames = "Independent Variables: " + r.IndependentVariables;
    page.dataCount = "Number of observations: " + r.Observations;
    page.dof = "Degrees of Freedom: " + r.DegreesOfFreedom;
    page.mean = "Mean: " + r.Means;
    page.stdDev = "Std. Dev. (Data): " + r.StdDevs;
    page.coeffs = "Coefficients: " + r.Coefficients;
    page.stdErrCoeff = "Std. Err. (Coeff): " + r.StdErrors;
    page.tValue = "t* Values" + r.TValues;
    page.sumSquare = "Sum of Squares";
    page.ssr = "Regression SSR : " + r.SSR;
    page.sse = "Residual      SSE : " + r.SSE;
    page.sst = "Total            SST : " + FloatToStrF(sst, TFloatFormat::ffFixed, 8, 3);
    page.sSquared = "s   : " + r.ResidualMeanSquare;
    page.rSquared = "R  : " + FloatToStrF(rsqr, TFloatFormat::ffFixed, 8, 3);
    page.fStat = "F Statistic" + r.FStatistic;
    page.covariance = r.CovarianceLines;
    page.correlation = r.CorrelationLines;
    page.footer = reportMessage.empty() ? kProductNotice : reportMessage;
    return page;
}

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return lines;
        start = end + 1;
    }
}

std::string Trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// Columns of multi-line texts side by side, each padded to its width (in characters).
std::string SideBySide(const std::vector<std::string>& columns, const std::vector<int>& widths) {
    std::vector<std::vector<std::string>> lines;
    std::size_t rows = 0;
    for (const auto& c : columns) {
        lines.push_back(SplitLines(DisplayText(c)));
        rows = std::max(rows, lines.back().size());
    }
    std::string out;
    for (std::size_t r = 0; r < rows; ++r) {
        std::string row;
        for (std::size_t c = 0; c < lines.size(); ++c) {
            const std::string cell = r < lines[c].size() ? lines[c][r] : std::string();
            row += cell;
            // Widths count characters; a UTF-8 sequence is one of them.
            std::size_t chars = 0;
            for (const unsigned char ch : cell) chars += (ch & 0xC0) != 0x80;
            if (c + 1 < lines.size())
                row.append(static_cast<std::size_t>(
                               std::max<int64_t>(0, widths[c] - static_cast<int64_t>(chars))),
                           ' ');
        }
        row = Trimmed(row);
        if (row.find_first_not_of(' ') != std::string::npos) out += row + "\n";
    }
    return out;
}

}  // namespace

std::string ReportPageText(const TReportPage& p) {
    auto text = [](const std::string& s) { return DisplayText(s); };
    std::string out = "Multiple Regression Analysis Report\n";
    out += "Data: " + p.dataSetName + "   " + p.description + "   " + p.date + "\n\n";
    out += text(p.depVarName) + "\n";
    out += text(p.indepVarNames);
    out += text(p.dataCount) + "\n";
    out += text(p.dof) + "\n\n";
    out += SideBySide({p.mean, p.stdDev}, {26, 20}) + "\n";
    out += SideBySide({p.coeffs, p.stdErrCoeff, p.tValue}, {26, 22, 12}) + "\n";
    out += p.sumSquare + "\n";
    for (const std::string* line : {&p.ssr, &p.sse, &p.sst}) out += "  " + text(*line) + "\n";
    // The windows draw the squares as small raised 2s beside s and R.
    out += "s\u00b2" + p.sSquared.substr(1) + "\n";
    out += "R\u00b2" + p.rSquared.substr(1) + "\n";
    out += text(p.fStat) + "\n\n";
    for (const TStringList* list : {&p.covariance, &p.correlation}) {
        for (const auto& line : list->Items()) out += line + "\n";
        out += "\n";
    }
    return out + text(p.footer) + "\n";
}

void TTAVRegression::Output() {
    if (variant_.outputClearsValuesLoaded) valuesLoaded_ = false;
    RegressionWindows().ShowReport(*this, BuildReport());
}

void TTAVRegression::ShowPlots() { RegressionWindows().ShowPlots(*this); }

namespace {
TRegressionWindows*& Windows() {
    static TRegressionWindows* windows = nullptr;
    return windows;
}
}  // namespace

void SetRegressionWindows(TRegressionWindows* windows) { Windows() = windows; }

TRegressionWindows& RegressionWindows() {
    if (!Windows())
        throw Exception(
            "No report or plot window is installed: link tav::tav and include <tav/tav.h>, or "
            "call tav::RegisterRegressionWindows()");
    return *Windows();
}

}  // namespace tav
