#include "report.h"

#include <QJsonArray>
#include <cmath>
#include <functional>
#include <vector>

#include "tav/qtstrings.h"

namespace tavreg {

QJsonValue JsonNumber(double v) { return std::isfinite(v) ? QJsonValue(v) : QJsonValue(); }

namespace {

const auto Number = JsonNumber;

QJsonArray Vector(int from, int to, const std::function<double(int)>& get) {
    QJsonArray a;
    for (int i = from; i <= to; ++i) a.append(Number(get(i)));
    return a;
}

using tav::Q;

// The term a skip is counted against: the response (0) or a control variable.
std::string Term(const tav::TTAVRegression& r, int variable) {
    return variable == 0 ? r.ResponseVarY()->OutputTerm()
                         : r.GetcVar(static_cast<uint16_t>(variable))->OutputTerm();
}

QJsonObject AnovaRow(const tav::TAnovaRow& row) {
    QJsonObject o;
    o["df"] = Number(row.df);
    o["SS"] = Number(row.SS);
    o["MS"] = Number(row.MS);
    o["F"] = Number(row.F);
    o["p"] = Number(row.p);
    return o;
}

// The keys the component's fit and the whole table's share. The coefficients, and their standard
// errors and t as the inference gives them (NaN for an aliased coefficient and t of a perfect fit).
template <class Fit>
void Coefficients(QJsonObject& o, Fit& r, int p) {
    o["b"] = Vector(0, p, [&](int j) { return r.Getb(static_cast<uint16_t>(j)); });
    o["stdErrors"] =
        Vector(0, p, [&](int j) { return r.GetStdErrorOfb(static_cast<uint16_t>(j)); });
    o["tValues"] = Vector(0, p, [&](int j) { return r.GettValue(static_cast<uint16_t>(j)); });
}

template <class Fit>
void SumsOfSquares(QJsonObject& o, Fit& r) {
    o["SSE"] = Number(r.GetSSE());
    o["SSR"] = Number(r.GetSSR());
    o["SST"] = Number(r.GetSST());
    o["MSE"] = Number(r.GetMSE());
    o["RSquared"] = Number(r.GetRSquared());
    o["F"] = Number(r.GetF());
}

template <class Fit>
void Inference(QJsonObject& o, Fit& r, int p, double level) {
    o["pValues"] = Vector(0, p, [&](int j) { return r.GetPValue(static_cast<uint16_t>(j)); });
    QJsonArray intervals;
    for (int j = 0; j <= p; ++j) {
        const tav::TInterval ci = r.GetConfidenceInterval(static_cast<uint16_t>(j), level);
        intervals.append(QJsonArray{Number(ci.lower), Number(ci.upper)});
    }
    o["confidenceIntervals"] = intervals;
    o["confidenceLevel"] = level;
    o["adjRSquared"] = Number(r.GetAdjRSquared());
    o["residualStdError"] = Number(r.GetResidualStdError());
    o["fPValue"] = Number(r.GetFPValue());
    const tav::TAnovaTable anova = r.GetAnova();
    o["anova"] = QJsonObject{{"regression", AnovaRow(anova.regression)},
                             {"residual", AnovaRow(anova.residual)},
                             {"total", AnovaRow(anova.total)}};
    o["logLikelihood"] = Number(r.GetLogLikelihood());
    o["aic"] = Number(r.GetAIC());
    o["bic"] = Number(r.GetBIC());
    o["vif"] = Vector(1, p, [&](int k) { return r.GetVIF(static_cast<uint16_t>(k)); });
}

// The component, its description, its response and the terms of its p control variables.
QJsonObject Heading(const std::string& name, const tav::TTAVRegression& r, int p,
                    const std::function<std::string(int)>& term) {
    QJsonObject o;
    o["component"] = Q(name);
    o["description"] = Q(r.Description());
    o["response"] = Q(r.ResponseVarY()->OutputTerm());
    QJsonArray terms;
    for (int k = 1; k <= p; ++k) terms.append(Q(term(k)));
    o["terms"] = terms;
    return o;
}

// The records skipped, by variable and reason.
QJsonObject Skipped(int p, const std::function<int64_t(int, int)>& count,
                    const std::function<std::string(int)>& term) {
    QJsonObject skipped;
    for (int v = 0; v <= p; ++v)
        for (int k = 1; k < tav::kSkipReasonCount; ++k)
            if (const int64_t n = count(v, k))
                skipped[Q(term(v) + ": " + tav::SkipReasonText(static_cast<tav::TSkipReason>(k)))] =
                    static_cast<qint64>(n);
    return skipped;
}

}  // namespace

QJsonObject Statistics(const std::string& name, tav::TTAVRegression& r, double level) {
    const int n = r.DataCount();
    const int p = r.VarCount();
    QJsonObject o = Heading(name, r, p, [&r](int k) { return Term(r, k); });
    o["n"] = n;
    o["p"] = p;
    o["dof"] = r.GetDOF();
    Coefficients(o, r, p);
    o["xBar"] = Vector(1, p, [&](int j) { return r.GetxBar(j); });
    o["xStdDev"] = Vector(1, p, [&](int j) { return r.GetxStdErr(j); });
    o["xMin"] = Vector(1, p, [&](int j) { return r.GetxMin(j); });
    o["xMax"] = Vector(1, p, [&](int j) { return r.GetxMax(j); });
    o["yBar"] = Number(r.GetyBar());
    o["yStdDev"] = Number(r.GetyStdErr());
    o["yMin"] = Number(r.GetyMin());
    o["yMax"] = Number(r.GetyMax());
    SumsOfSquares(o, r);
    o["Syx"] = Number(r.GetSyx());
    o["conditionEstimate"] = Number(r.GetConditionEstimate());
    o["fitMethod"] = tav::FitMethodToStr(r.FitMethod());
    o["fitPath"] = tav::FitPathToStr(r.GetFitPath());
    // The least over the coefficients, their standard errors and the record diagnostics.
    o["estimatedDigits"] = Number(r.GetStatisticsDigits());
    o["perfectFit"] = r.GetPerfectFit();
    o["fitProblem"] = tav::FitProblemToStr(r.GetFitProblem());
    QJsonArray aliased;
    for (int k = 1; k <= p; ++k)
        if (r.GetAliased(static_cast<uint16_t>(k))) aliased.append(k);
    o["aliased"] = aliased;

    const tav::TLoadAccount& account = r.GetLoadAccount();
    o["recordCount"] = account.recordCount;
    o["recordsRead"] = account.read;
    o["recordsUsed"] = account.used;
    o["recordsSkipped"] = Skipped(
        p, [&](int v, int k) { return int64_t{account.skipped[v][k]}; },
        [&](int v) { return Term(r, v); });
    o["capped"] = account.Capped();

    QJsonArray covar, corr;
    for (int i = 0; i <= p; ++i) {
        covar.append(Vector(0, p, [&](int j) { return r.GetCovar(i, j); }));
        corr.append(Vector(0, p, [&](int j) { return r.GetCorr(i, j); }));
    }
    o["covariance"] = covar;
    Inference(o, r, p, level);
    o["durbinWatson"] = Number(r.GetDurbinWatson());
    o["leverage"] = Vector(1, n, [&](int i) { return r.GetLeverage(static_cast<uint16_t>(i)); });
    o["standardizedResiduals"] =
        Vector(1, n, [&](int i) { return r.GetStandardizedResidual(static_cast<uint16_t>(i)); });
    o["studentizedResiduals"] =
        Vector(1, n, [&](int i) { return r.GetStudentizedResidual(static_cast<uint16_t>(i)); });
    o["cooksDistance"] =
        Vector(1, n, [&](int i) { return r.GetCooksDistance(static_cast<uint16_t>(i)); });
    o["correlation"] = corr;
    o["y"] = Vector(1, n, [&](int i) { return r.Gety(i); });
    o["yHat"] = Vector(1, n, [&](int i) { return r.GetyHat(i); });
    o["residuals"] = Vector(1, n, [&](int i) { return r.Gete(i); });
    // Who each record of those arrays is, to join them back to the data: its label, or its
    // position in the result set.
    QJsonArray records;
    for (int i = 1; i <= n; ++i)
        records.append(r.HasRecordLabels()
                           ? QJsonValue(Q(r.GetRecordName(i)))
                           : QJsonValue(static_cast<qint64>(r.GetRecordPosition(i))));
    o["records"] = records;
    return o;
}

QJsonObject WholeTableStatistics(const std::string& name, const tav::TTAVRegression& r,
                                 double level) {
    const tav::TWholeTableFit& fit = r.WholeTableFit();
    const int p = fit.Variables();
    QJsonObject o = Heading(name, r, p, [&r](int k) { return r.WholeTableTerm(k); });
    o["allRecords"] = true;
    o["summedIn"] = fit.Strategy() == tav::TWholeTableStrategy::Server ? "server" : "client";
    o["n"] = static_cast<qint64>(fit.DataCount());
    o["p"] = p;
    o["dof"] = static_cast<qint64>(fit.GetDOF());
    Coefficients(o, fit, p);
    o["xBar"] = Vector(1, p, [&](int k) { return fit.GetxBar(k); });
    o["yBar"] = Number(fit.GetyBar());
    SumsOfSquares(o, fit);
    o["estimatedDigits"] = Number(fit.GetEstimatedDigits());
    o["perfectFit"] = fit.GetPerfectFit();
    o["fitProblem"] = fit.Valid() ? QString("None") : Q(fit.Problem());
    QJsonArray aliased;
    for (int k = 1; k <= p; ++k)
        if (fit.GetAliased(k)) aliased.append(k);
    o["aliased"] = aliased;
    const tav::TTableMoments& m = fit.Moments();
    o["recordsRead"] = static_cast<qint64>(m.read);
    o["recordsUsed"] = static_cast<qint64>(m.used);
    o["recordsSkipped"] = Skipped(
        p, [&](int v, int k) { return m.skipped[v][k]; },
        [&](int v) { return r.WholeTableTerm(v); });
    o["capped"] = false;
    Inference(o, fit, p, level);
    o["perRecord"] = "not computed over the whole table";
    return o;
}

}  // namespace tavreg
