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

}  // namespace

QJsonObject Statistics(const std::string& name, tav::TTAVRegression& r, double level) {
    const int n = r.DataCount();
    const int p = r.VarCount();
    QJsonObject o;
    o["component"] = Q(name);
    o["description"] = Q(r.Description());
    o["response"] = Q(r.ResponseVarY()->OutputTerm());
    QJsonArray terms;
    for (int k = 1; k <= p; ++k) terms.append(Q(Term(r, k)));
    o["terms"] = terms;
    o["n"] = n;
    o["p"] = p;
    o["dof"] = r.GetDOF();
    o["b"] = Vector(0, p, [&](int j) { return r.Getb(j); });
    // The standard errors, t and p as the inference gives them (from the fit's factorisation,
    // NaN for an aliased coefficient and t of a perfect fit).
    o["stdErrors"] =
        Vector(0, p, [&](int j) { return r.GetStdErrorOfb(static_cast<uint16_t>(j)); });
    o["tValues"] = Vector(0, p, [&](int j) { return r.GettValue(static_cast<uint16_t>(j)); });
    o["xBar"] = Vector(1, p, [&](int j) { return r.GetxBar(j); });
    o["xStdDev"] = Vector(1, p, [&](int j) { return r.GetxStdErr(j); });
    o["xMin"] = Vector(1, p, [&](int j) { return r.GetxMin(j); });
    o["xMax"] = Vector(1, p, [&](int j) { return r.GetxMax(j); });
    o["yBar"] = Number(r.GetyBar());
    o["yStdDev"] = Number(r.GetyStdErr());
    o["yMin"] = Number(r.GetyMin());
    o["yMax"] = Number(r.GetyMax());
    o["SSE"] = Number(r.GetSSE());
    o["SSR"] = Number(r.GetSSR());
    o["SST"] = Number(r.GetSST());
    o["MSE"] = Number(r.GetMSE());
    o["RSquared"] = Number(r.GetRSquared());
    o["F"] = Number(r.GetF());
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
    QJsonObject skipped;
    for (int v = 0; v <= p; ++v)
        for (int k = 1; k < tav::kSkipReasonCount; ++k)
            if (const int count = account.skipped[v][k])
                skipped[Q(Term(r, v) + ": " +
                          tav::SkipReasonText(static_cast<tav::TSkipReason>(k)))] = count;
    o["recordsSkipped"] = skipped;
    o["capped"] = account.Capped();

    QJsonArray covar, corr;
    for (int i = 0; i <= p; ++i) {
        covar.append(Vector(0, p, [&](int j) { return r.GetCovar(i, j); }));
        corr.append(Vector(0, p, [&](int j) { return r.GetCorr(i, j); }));
    }
    o["covariance"] = covar;
    o["pValues"] = Vector(0, p, [&](int j) { return r.GetPValue(j); });
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

}  // namespace tavreg
