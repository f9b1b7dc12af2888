// Two passes over the records the load would use, each an aggregate the server may run in
// parallel. The first gives their count and each variable's range. The second centres each value
// on its range's middle and scales it by a power of two to within [-2^30, 2^30], and sums the
// values and their products, each rounded to a whole number (a product loses no more than its
// own rounding to a double), in 64-bit integers whose sums the server makes exactly: millions of
// records lose no digits to the summation. Two counts follow: of the records read, and only when
// some are skipped, of those by the first reason that skips them.
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
constexpr int kBits = 30;  // a centred value is scaled to within [-2^kBits, 2^kBits]
constexpr int kLift = 32;  // a centred value is summed times 2^kLift, as a whole number

// One variable of the moments, as SQL.
struct TSqlVariable {
    std::string reason;  // NULL for a record it can use, else the record's code
    std::string value;   // its value where every variable can use the record
    bool text = false;   // it reads a text, which the value converts
    bool field = false;  // the value is a field's number as it is stored
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
    TSqlVariable v{reason, kind->sql(fields[0].number, fields[1].number, parameter),
                   !fields[0].blank.empty() || !fields[1].blank.empty()};
    v.field = !v.text && kind->fields == 1 && v.value == fields[0].number;
    return v;
}

// Reads a value the server wrote: a count, or a double.
double Number(const std::optional<std::string>& text) { return text ? StrToFloat(*text) : 0.0; }

// An exact sum of integers (a numeric, rounded to long double's 64 bits).
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
    // the one above it, which would compute a value once for every aggregate that reads it instead
    // of once; the aggregates over it still run in parallel. A field is read where it is.
    const std::string once = ", GENERATE_SERIES(1, 1) AS tav_once";
    bool fields = true;
    std::string values;
    for (int k = 0; k <= count; ++k) {
        values += std::string(k ? ", " : "") + vars[k].value + " AS tav_v" + std::to_string(k);
        fields = fields && vars[k].field;
    }
    const std::string used = "SELECT " + values + (fields ? "" : once) + " FROM (SELECT t.*, " +
                             code + " AS tav_code FROM";
    const std::string usedTail = ") AS c WHERE tav_code = 0";

    // Pass 1: the records used, and each variable's range.
    std::string ranges;
    for (int k = 0; k <= count; ++k)
        ranges += ", MIN(tav_v" + std::to_string(k) + "), MAX(tav_v" + std::to_string(k) + ")";
    const auto first =
        dataSet.AggregateRow("SELECT COUNT(*)" + ranges + " FROM (" + used, usedTail + ") AS v");
    TTableMoments m;
    m.variables = count;
    m.used = Count(first.at(0).value_or("0"));

    // Pass 2: each value v as d = v 2^(kBits - e) - c, c the middle of its range so scaled and e
    // the power of two that holds half the range, so |d| <= 2^kBits (a variable of one value is
    // 0). Scaled down, a value below 2^(e - 500) is 0, far below what the sums hold, and no
    // product rounds to 0 from below the double range, which the server refuses. The sums of the
    // products d_j d_k (at most 2^60) and of d 2^kLift (at most 2^62) are exact.
    if (m.used > 0) {
        int scale[MaxTerms + 1];
        long double centre[MaxTerms + 1];
        std::string centred, sums;
        for (int k = 0; k <= count; ++k) {
            const std::string v = "tav_v" + std::to_string(k), d = "tav_d" + std::to_string(k);
            m.min[k] = Number(first.at(1 + 2 * static_cast<std::size_t>(k)));
            m.max[k] = Number(first.at(2 + 2 * static_cast<std::size_t>(k)));
            const long double half = (static_cast<long double>(m.max[k]) - m.min[k]) / 2;
            const double middle = static_cast<double>(m.min[k] + half);
            std::string scaled;
            if (half > 0) {
                // (A range below 2^-900 is none to the fit, whose bound is far above it; below
                // 2^-994 its power of two would not be a double.)
                scale[k] = std::max(std::ilogb(half) + 1, -900);
                const double c = std::ldexp(middle, kBits - scale[k]);
                centre[k] = std::ldexp(static_cast<long double>(c), scale[k] - kBits);
                scaled = v + " * " + SqlNumber(std::ldexp(1.0, kBits - scale[k]));
                if (scale[k] > kBits)
                    scaled = "CASE WHEN ABS(" + v + ") < " +
                             SqlNumber(std::ldexp(1.0, scale[k] - 500)) + " THEN 0.0 ELSE " +
                             scaled + " END";
                scaled += " - (" + SqlNumber(c) + ")";
            } else {
                scale[k] = 0;
                centre[k] = m.min[k];
                scaled = "0.0";
            }
            centred += std::string(k ? ", " : "") + scaled + " AS " + d;
            sums += std::string(k ? ", " : "") + "SUM(CAST(" + d + " * " +
                    SqlNumber(std::ldexp(1.0, kLift)) + " AS BIGINT))";
            for (int j = 0; j <= k; ++j)
                sums += ", SUM(CAST(tav_d" + std::to_string(j) + " * " + d + " AS BIGINT))";
        }
        const auto second = dataSet.AggregateRow(
            "SELECT " + sums + " FROM (SELECT " + centred + once + " FROM (" + used,
            usedTail + ") AS v) AS d");
        const long double n = static_cast<long double>(m.used);
        long double s[MaxTerms + 1];
        std::size_t column = 0;
        for (int k = 0; k <= count; ++k) {
            s[k] = std::ldexp(Exact(second.at(column++)), scale[k] - kBits - kLift);
            m.mean[k] = centre[k] + s[k] / n;
            for (int j = 0; j <= k; ++j)
                m.cross[j][k] = m.cross[k][j] =
                    std::ldexp(Exact(second.at(column++)), scale[j] + scale[k] - 2 * kBits) -
                    s[j] * s[k] / n;
        }
    }

    // The records read, and only where some were skipped, those by the first reason met.
    m.read = Count(dataSet.AggregateRow("SELECT COUNT(*) FROM").at(0).value_or("0"));
    if (m.read > m.used) {
        int64_t counted = m.used;
        const std::string counts =
            dataSet
                .AggregateRow(
                    "SELECT STRING_AGG(tav_code || ' ' || tav_n, ' ') FROM (SELECT "
                    "tav_code, COUNT(*) AS tav_n FROM (SELECT " +
                        code + " AS tav_code FROM",
                    ") AS c WHERE tav_code <> 0 GROUP BY tav_code) AS g")
                .at(0)
                .value_or("");
        for (std::size_t at = 0; at < counts.size();) {
            const std::size_t blank = counts.find(' ', at);
            const std::size_t next = counts.find(' ', blank + 1);
            const int64_t c = Count(counts.substr(at, blank - at));
            const int64_t records = Count(counts.substr(blank + 1, next - blank - 1));
            counted += records;
            if (c / kCodeBase <= count && c % kCodeBase < kSkipReasonCount)
                m.skipped[c / kCodeBase][c % kCodeBase] += records;
            at = next == std::string::npos ? counts.size() : next + 1;
        }
        if (counted != m.read)
            throw EDatabaseError("the server counted " + IntToStr(m.read) + " records, then " +
                                 IntToStr(counted));
    }
    return m;
}

}  // namespace tav
