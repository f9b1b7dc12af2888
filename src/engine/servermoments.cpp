// Two statements, each an aggregate over the dataset's statement that the server may run in
// parallel. The first gives the number of records by the first reason that skips them (none for
// those used), the sums that give the means, and each variable's largest magnitude; the second,
// with the means as literals, the sums of the centred values and of their products, and the
// ranges. The sums of the centred values correct for the rounding of the means:
// cross_jk = S_jk - s_j s_k / n, mean_j = m_j + s_j / n.
//
// Each record's reason is one COALESCE over the variables in the load's order, which the server
// evaluates only as far as the first reason found: a field of a record skipped for an earlier
// variable is never read as a number, so that its text raises no error the load would not raise.
#include "engine/servermoments.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "engine/sqlfield.h"
#include "host/data/dbconnection.h"
#include "tav/sysutils.h"

namespace tav {

namespace {

constexpr int kCodeBase = 16;  // a record's code: variable * kCodeBase + reason (0: used)
static_assert(kSkipReasonCount < kCodeBase);
constexpr int kFixed = 40;      // pass 2 sums products times 2^kFixed in integers
constexpr int kBigScale = 128;  // pass 1 sums values of magnitude 1 or more times 2^-kBigScale

// One variable of the moments, as SQL.
struct TSqlVariable {
    std::string reason;  // NULL for a record it can use, else the record's code
    std::string value;   // its value where every variable can use the record
    bool text = false;   // it reads a text, which the value converts
};

std::string Code(int variable, TSkipReason reason) {
    return std::to_string(variable * kCodeBase + static_cast<int>(reason));
}

TSqlVariable Variable(const TDataSet& dataSet, const TStringList& var, TRole role, int variable) {
    const TTransformationKind* kind = FindKind(var[1], role);
    if (kind == nullptr || kind->sql == nullptr) {
        const std::string error = role == TRole::Control ? TIndepVar::DefinitionError(var)
                                                         : TDependentVar::DefinitionError(var);
        throw EConvertError(error.empty() ? "'" + var[1] + "' has no value" : error);
    }
    // As the load finds them: a missing field raises its error.
    TSqlField fields[2];
    for (int f = 0; f < kind->fields; ++f) {
        dataSet.FieldByName(var[2 + f]);
        fields[f] = SqlField(dataSet, var[2 + f], TSqlDialect::PostgreSQL);
    }
    const double parameter =
        kind->parameter != nullptr ? StrToFloat(var[kind->parameter->entry]) : 0.0;

    std::string reason = "CASE";
    for (int f = 0; f < kind->fields; ++f) {
        reason +=
            " WHEN " + fields[f].column + " IS NULL THEN " + Code(variable, TSkipReason::NullField);
        if (!fields[f].blank.empty())
            reason +=
                " WHEN " + fields[f].blank + " THEN " + Code(variable, TSkipReason::EmptyText);
    }
    const TSkipReason refused =
        kind->parameter != nullptr ? kind->parameter->check(parameter) : TSkipReason::None;
    const std::string own = kind->reason != nullptr
                                ? kind->reason(fields[0].number, fields[1].number, parameter, role)
                                : std::string();
    if (refused != TSkipReason::None)
        reason += " ELSE " + Code(variable, refused);
    else if (!own.empty())
        reason += " ELSE " + std::to_string(variable * kCodeBase) + " + NULLIF(" + own + ", 0)";
    reason += " END";
    return {reason, kind->sql(fields[0].number, fields[1].number, parameter),
            !fields[0].blank.empty() || !fields[1].blank.empty()};
}

// Reads a value the server wrote: a count, or a sum of doubles.
double Number(const std::optional<std::string>& text) { return text ? StrToFloat(*text) : 0.0; }

// An exact sum of integers (a numeric of up to 20 digits, exact in long double below 2^64).
long double Exact(const std::optional<std::string>& text) {
    return text ? std::strtold(text->c_str(), nullptr) : 0.0L;
}

int64_t Count(const std::string& text) {
    char* end = nullptr;
    const long long count = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0')
        throw EDatabaseError("'" + EscapedLine(text) + "' is not a count");
    return count;
}

}  // namespace

bool ServerCanSum(const TDataSet& dataSet) {
    return SqlDialectOf(dataSet.DatabaseName()) == TSqlDialect::PostgreSQL;
}

TTableMoments ServerMoments(TDataSet& dataSet, const TDependentVar& response,
                            const TIndepVar* const* controls, int count) {
    if (count < 0 || count > MaxTerms)
        throw EConvertError("from 0 to " + IntToStr(MaxTerms) + " control variables, not " +
                            IntToStr(count));
    dataSet.CheckActive();
    TSqlVariable vars[MaxTerms + 1];
    for (int k = 1; k <= count; ++k)
        vars[k] = Variable(dataSet, *controls[k - 1], TRole::Control, k);
    vars[0] = Variable(dataSet, response, TRole::Response, 0);

    // The load's order: the control variables' rules, the response's, then the values, all of
    // them formed (a text that is no number raises its error here) before the response's is
    // looked at, and then the control variables' in order.
    std::string code = "COALESCE(", converted;
    for (int k = 1; k <= count; ++k) code += vars[k].reason + ", ";
    code += vars[0].reason;
    for (int k = 0; k <= count; ++k)
        if (vars[k].text) converted += (converted.empty() ? "" : ", ") + vars[k].value;
    if (!converted.empty()) code += ", NULLIF(NUM_NULLS(" + converted + ") * 0, 0)";
    for (int k = 0; k <= count; ++k)
        code += ", CASE WHEN " + SqlIsFinite(vars[k].value) + " THEN NULL ELSE " +
                Code(k, TSkipReason::NotFinite) + " END";
    code += ", 0)";
    // A set-returning function in a select list keeps the server from merging that subquery into
    // the one above it, which would compute a record's code, or a value, once for every sum that
    // reads it instead of once; the aggregates over it still run in parallel.
    const std::string once = ", GENERATE_SERIES(1, 1) AS tav_once";
    const std::string coded = "SELECT t.*, " + code + " AS tav_code" + once + " FROM";

    // Pass 1: records by code; of the used records' values, the sums (those of magnitude 1 or
    // more scaled by 2^-128, so that no sum leaves the double range) and the largest magnitude.
    const std::string big = SqlNumber(std::ldexp(1.0, -kBigScale));
    std::string values, sums, totals;
    for (int k = 0; k <= count; ++k) {
        const std::string v = "tav_v" + std::to_string(k), tag = std::to_string(k);
        values += ", CASE WHEN tav_code = 0 THEN " + vars[k].value + " END AS " + v;
        sums += ", SUM(CASE WHEN ABS(" + v + ") >= 1 THEN " + v + " * " + big + " END) AS tav_b" +
                tag + ", SUM(CASE WHEN ABS(" + v + ") < 1 THEN " + v + " END) AS tav_s" + tag +
                ", MAX(ABS(" + v + ")) AS tav_a" + tag;
        totals += ", SUM(tav_b" + tag + "), SUM(tav_s" + tag + "), MAX(tav_a" + tag + ")";
    }
    const auto first =
        dataSet.AggregateRow("SELECT STRING_AGG(tav_code || ' ' || tav_n, ' ')" + totals +
                                 " FROM (SELECT tav_code, COUNT(*) AS tav_n" + sums +
                                 " FROM (SELECT tav_code" + values + once + " FROM (" + coded,
                             ") AS c) AS v GROUP BY tav_code) AS g");

    TTableMoments m;
    m.variables = count;
    const std::string counts = first.at(0).value_or("");
    for (std::size_t at = 0; at < counts.size();) {
        const std::size_t blank = counts.find(' ', at);
        const std::size_t next = counts.find(' ', blank + 1);
        const int64_t c = Count(counts.substr(at, blank - at));
        const int64_t n = Count(counts.substr(blank + 1, next - blank - 1));
        m.read += n;
        if (c == 0)
            m.used = n;
        else if (c / kCodeBase <= count && c % kCodeBase < kSkipReasonCount)
            m.skipped[c / kCodeBase][c % kCodeBase] += n;
        at = next == std::string::npos ? counts.size() : next + 1;
    }
    if (m.used == 0) return m;
    const long double n = static_cast<long double>(m.used);

    // Pass 2, over the used records only: each value scaled by the power of two 2^e just above
    // its variable's largest magnitude and centred on its mean, so that every product lies
    // within [-4, 4] and the sums stay in range. A centring of less than 2^-480 is none (the
    // correction term takes the whole mean), and a scaled value of less than 2^-500 is 0, far
    // below what the sums can hold: so no product of two centred values rounds to 0 either,
    // which the server would refuse as an underflow.
    //   The sums of the products are made in two parts: each product times 2^40 rounded to an
    // integer, whose sum the server makes exactly, and the rest, below 1/2: so that the sum of
    // millions of products keeps the digits of each product, where a plain sum of doubles would
    // lose one for each ten-fold of the records. The sums of the centred values likewise.
    const std::string lift = SqlNumber(std::ldexp(1.0, kFixed));
    const auto exactSum = [](const std::string& x) {
        return "SUM(CAST(ROUND(" + x + ") AS BIGINT)), SUM(" + x + " - ROUND(" + x + "))";
    };
    int scale[MaxTerms + 1];
    double centre[MaxTerms + 1];
    std::string centred, lifted, aggregates;
    values.clear();
    for (int k = 0; k <= count; ++k) {
        const long double sum =
            std::ldexp(static_cast<long double>(Number(first.at(1 + 3 * k))), kBigScale) +
            Number(first.at(2 + 3 * k));
        std::frexp(Number(first.at(3 + 3 * k)), &scale[k]);
        scale[k] = std::max(scale[k], -1000);
        centre[k] = static_cast<double>(std::ldexp(sum / n, -scale[k]));
        if (std::fabs(centre[k]) < std::ldexp(1.0, -480)) centre[k] = 0.0;
        const std::string d = "tav_d" + std::to_string(k), v = "tav_v" + std::to_string(k);
        values += std::string(k ? ", " : "") + vars[k].value + " AS " + v;
        centred += std::string(k ? ", " : "") + "CASE WHEN ABS(" + v + ") < " +
                   SqlNumber(std::ldexp(1.0, scale[k] - 500)) + " THEN 0.0 ELSE " + v + " * " +
                   SqlNumber(std::ldexp(1.0, -scale[k])) + " END - " + SqlNumber(centre[k]) +
                   " AS " + d + ", " + v;
        const std::string q = "tav_q" + std::to_string(k);
        lifted += ", " + d + " * " + lift + " AS " + q + ", " + v;
        aggregates += std::string(k ? ", " : "") + exactSum(q) + ", MIN(" + v + "), MAX(" + v + ")";
        for (int j = 0; j <= k; ++j) {
            const std::string p = "tav_p" + std::to_string(j) + "_" + std::to_string(k);
            lifted += ", tav_d" + std::to_string(j) + " * " + d + " * " + lift + " AS " + p;
            aggregates += ", " + exactSum(p);
        }
    }
    const auto second = dataSet.AggregateRow(
        "SELECT " + aggregates + " FROM (SELECT " + lifted.substr(2) + once + " FROM (SELECT " +
            centred + once + " FROM (SELECT " + values + once + " FROM (" + coded,
        ") AS c WHERE tav_code = 0) AS v) AS d) AS p");

    std::size_t column = 0;
    const auto sum = [&second, &column] {
        const long double whole = Exact(second.at(column++));
        return std::ldexp(whole + Number(second.at(column++)), -kFixed);
    };
    long double s[MaxTerms + 1];
    for (int k = 0; k <= count; ++k) {
        s[k] = sum();
        m.min[k] = Number(second.at(column++));
        m.max[k] = Number(second.at(column++));
        m.mean[k] = std::ldexp(static_cast<long double>(centre[k]) + s[k] / n, scale[k]);
        for (int j = 0; j <= k; ++j)
            m.cross[j][k] = m.cross[k][j] =
                std::ldexp(sum() - s[j] * s[k] / n, scale[j] + scale[k]);
    }
    return m;
}

}  // namespace tav
