// The fit methods against exact references (tests/data/exact, rational least squares by
// exact_ls.py), and the fits whose results are not valid: non-finite data, overflow, a
// rank-deficient design.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "support/tav_fit_support.h"

// Every allocation of the test program is counted while g_counting is set: a fit must not
// allocate.
namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    if (g_counting) ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// (The nothrow form too, which std::stable_sort's buffer takes: it is freed by the plain delete.)
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (g_counting) ++g_allocations;
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

using namespace tav;

namespace {

using tavtest::Lre;
using tavtest::PowerOf;
using tavtest::TData;

std::string ExactPath(const std::string& file) {
    return std::string(tavtest::TestDataDir()) + "/exact/" + file;
}

// A reference file: its model line, and "name value" pairs.
struct TReference {
    std::string model;
    std::map<std::string, double> values;
    double At(const std::string& key) const {
        const auto it = values.find(key);
        if (it == values.end()) throw std::runtime_error("no reference value " + key);
        return it->second;
    }
};

TReference ReadReference(const std::string& name) {
    const auto lines = tavtest::ReadLines(ExactPath(name + ".ref"));
    TReference ref;
    ref.model = lines.at(0).substr(std::string("model ").size());
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto items = tavtest::Split(lines[i], ' ');
        ref.values[items.at(0)] = tavtest::Number(items.at(1));
    }
    return ref;
}

// Correct digits of the coefficients, their standard errors, SSE, R squared and F.
struct TScore {
    double b = 15, se = 15, sse = 15, rSquared = 15, f = 15;
};

std::ostream& operator<<(std::ostream& out, const TScore& s) {
    return out << std::fixed << std::setprecision(2) << "b " << std::setw(5) << s.b << "  se "
               << std::setw(5) << s.se << "  SSE " << std::setw(5) << s.sse << "  R2 "
               << std::setw(5) << s.rSquared << "  F " << std::setw(5) << s.f;
}

TScore Score(TTAVRegression& c, const TReference& ref) {
    TScore s;
    for (int k = 0; k <= c.VarCount(); ++k) {
        s.b = std::min(s.b, Lre(c.Getb(k), ref.At("b" + std::to_string(k))));
        s.se = std::min(s.se, Lre(std::sqrt(c.GetCovar(k, k)), ref.At("se" + std::to_string(k))));
    }
    s.sse = Lre(c.GetSSE(), ref.At("sse"));
    s.rSquared = Lre(c.GetRSquared(), ref.At("rsquared"));
    s.f = Lre(c.GetF(), ref.At("f"));
    return s;
}

struct TTerm {
    const char* field;
    int power;
};

struct TExactCase {
    const char* name;
    std::vector<TTerm> terms;
    TScore least;  // with Auto, which refits all of these by QR
};

void PrintTo(const TExactCase& c, std::ostream* os) { *os << c.name; }

class ExactReference : public ::testing::TestWithParam<TExactCase> {};

TEST_P(ExactReference, AutoRefitsByQrToTheExpectedDigits) {
    const TExactCase& expected = GetParam();
    const TReference ref = ReadReference(expected.name);
    const TData data = tavtest::ReadCsv(ExactPath(std::string(expected.name) + ".csv"));
    std::vector<TIndepVar> controls;
    std::string model = data.columns.back() + " ~ ";
    for (const TTerm& t : expected.terms) {
        controls.push_back(PowerOf(t.field, t.power));
        model += std::string(controls.size() > 1 ? " + " : "") + t.field +
                 (t.power > 1 ? "^" + std::to_string(t.power) : "");
    }
    ASSERT_EQ(ref.model, model);

    tavtest::TTempDb db;
    tavtest::TMessageRecorder messages;
    TTAVTable c;
    tavtest::LoadTable(c, tavtest::WriteTable(db, data), controls, data.columns.back());
    ASSERT_TRUE(c.ValuesLoaded());
    ASSERT_EQ(c.DataCount(), static_cast<int>(data.rows.size()));

    std::map<TFitMethod, TScore> scores;
    for (const TFitMethod method :
         {TFitMethod::NormalEquations, TFitMethod::QR, TFitMethod::Auto}) {
        c.SetFitMethod(method);
        c.Execute();
        scores[method] = Score(c, ref);
        std::cout << "[ digits   ] " << std::left << std::setw(12) << expected.name << std::setw(16)
                  << FitMethodToStr(method) << std::right << scores[method] << "  estimated "
                  << c.GetEstimatedDigits() << std::defaultfloat << "\n";
    }
    // Auto ran last, silently (ShowWarnings is off), and took the QR path.
    EXPECT_EQ(c.GetFitPath(), TFitPath::QR);
    EXPECT_EQ(c.GetFitProblem(), TFitProblem::None);
    const TScore& s = scores[TFitMethod::Auto];
    EXPECT_GE(s.b, expected.least.b);
    EXPECT_GE(s.se, expected.least.se);
    EXPECT_GE(s.sse, expected.least.sse);
    EXPECT_GE(s.rSquared, expected.least.rSquared);
    EXPECT_GE(s.f, expected.least.f);
    EXPECT_GE(s.b + 1.0, c.GetEstimatedDigits());
    EXPECT_EQ(scores[TFitMethod::QR].b, s.b);
    // The normal equations, forced, say that they are numerically singular or keep fewer digits.
    EXPECT_TRUE(messages.Messages().size() == 1 || scores[TFitMethod::NormalEquations].b < s.b);

    // With ShowWarnings the user is told that the fit was redone.
    messages.Clear();
    c.SetShowWarnings(true);
    c.Execute();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].type, TMsgDlgType::mtInformation);
    EXPECT_EQ(messages.Texts()[0].rfind("The normal equations would have kept only about ", 0), 0u)
        << messages.Texts()[0];
}

// clang-format off
// Half a digit below the figures measured here; the normal equations keep 7.6 digits of b and 5.3
// of SSE on longley-r, none on unix-time and offset-1e15, 7.5 of b on day-numbers.
const std::vector<TExactCase> kExactCases = {
    //                                                     b     se    SSE   R2    F
    {"longley-r",   {{"GNP", 1}, {"Year", 1}, {"Year", 2}}, {14.5, 14.5, 14.5, 14.5, 14.5}},
    {"unix-time",   {{"X", 1}},                             {14.5, 14.5, 14.5, 14.5, 14.5}},
    {"offset-1e15", {{"X", 1}},                             {14.5, 14.5, 14.4, 14.5, 13.8}},
    {"day-numbers", {{"DAY", 1}, {"DAY", 2}, {"Z", 1}},     {14.5, 14.5, 14.5, 14.5, 14.5}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Designs, ExactReference, ::testing::ValuesIn(kExactCases),
                         [](const ::testing::TestParamInfo<TExactCase>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (ch == '-') ch = '_';
                             return name;
                         });

// ---------------------------------------------------------------------------------------------
// Values that are not finite, and sums beyond the double range

bool ArraysFinite(const TTAVRegression& c) {
    for (uint16_t i = 1; i <= c.DataCount(); ++i) {
        if (!std::isfinite(c.Gety(i))) return false;
        for (uint16_t j = 1; j <= c.VarCount(); ++j)
            if (!std::isfinite(c.Getx(i, j))) return false;
    }
    return true;
}

TEST(NonFinite, RecordsWithValuesThatAreNotNumbersAreSkipped) {
    // Ten good records (x = 1..10), then the bad ones. SQLite keeps infinities (1e999) in REAL
    // columns and a text such as 'inf' as text, which reads as an infinity.
    tavtest::TTempDb db;
    const std::string path = db.Exec(
        "CREATE TABLE t(x REAL, w REAL, y REAL);"
        "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 10)"
        " INSERT INTO t SELECT i, i % 3 + 1, 2 * i + i % 4 FROM s;"
        "INSERT INTO t VALUES (-1e999, 1, 5), ('inf', 1, 5), (3, 1, 1e999), (4, 1e999, 5),"
        " (5, 'NaN', 6);");
    TIndepVar quotient = tavtest::Control("Quotient", "x");
    quotient.SetField2("w");
    struct Case {
        const char* what;
        TIndepVar control;
        const char* response;
        int used;
        TFitProblem problem;
    } cases[] = {
        {"x as it is", tavtest::None("x"), "None", 12, TFitProblem::None},
        {"Quotient(x, w)", quotient, "None", 10, TFitProblem::None},
        {"Inverse(w)", tavtest::Control("Inverse", "w"), "None", 12, TFitProblem::None},
        {"response Inverse(y)", tavtest::None("w"), "Inverse", 12, TFitProblem::None},
        // 5^400 is 4E279, 6^400 beyond the double range; the squares of the values kept are
        // beyond it too, and the fit says so.
        {"Power(x, 400)", PowerOf("x", 400), "None", 7, TFitProblem::Overflow},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tavtest::TMessageRecorder messages;
        TTAVQuery q;
        tavtest::LoadTable(q, path, {c.control}, "y");
        q.SetResponse(tavtest::Response("y", c.response));
        q.ReLoad();
        EXPECT_TRUE(q.ValuesLoaded());
        EXPECT_EQ(q.DataCount(), c.used);
        EXPECT_TRUE(ArraysFinite(q));
        q.Execute();
        EXPECT_EQ(q.GetFitProblem(), c.problem);
        EXPECT_EQ(messages.Messages().size(), c.problem == TFitProblem::None ? 0u : 1u);
        if (c.problem == TFitProblem::None) {
            EXPECT_TRUE(std::isfinite(q.GetRSquared()));
        }
    }
}

TEST(NonFinite, SumsBeyondTheDoubleRangeAreReportedAndNoStaleStatisticSurvives) {
    // Columns x, y of ordinary size and X, Y near 1E160, whose squares are beyond the double
    // range. A first fit on x, y leaves an R squared; the fit on X, Y must not show it again.
    tavtest::TTempDb db;
    const std::string path = db.Exec(
        "CREATE TABLE t(x REAL, y REAL, bx REAL, by REAL);"
        "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 12)"
        " INSERT INTO t SELECT i, 2 * i + i % 3, i * 1e160, (2 * i + i % 3) * 1e160 FROM s;");
    for (const TFitMethod method :
         {TFitMethod::Auto, TFitMethod::NormalEquations, TFitMethod::QR}) {
        SCOPED_TRACE(FitMethodToStr(method));
        tavtest::TMessageRecorder messages;
        TTAVQuery q;
        q.SetFitMethod(method);
        tavtest::LoadTable(q, path, {tavtest::None("x")}, "y");
        q.Execute();
        ASSERT_GT(q.GetRSquared(), 0.9);
        ASSERT_GT(q.GetF(), 10.0);

        q.SetControl1(tavtest::None("bx"));
        q.SetResponse(tavtest::Response("by"));
        q.ReLoad();
        ASSERT_TRUE(q.ValuesLoaded());
        q.Execute();
        EXPECT_EQ(q.GetFitProblem(), TFitProblem::Overflow);
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0].type, TMsgDlgType::mtError);
        EXPECT_EQ(messages.Texts()[0].rfind("The sums of the regression exceed the range", 0), 0u)
            << messages.Texts()[0];
        EXPECT_FALSE(q.GetRSquared() > 0.9) << q.GetRSquared();
        EXPECT_TRUE(ArraysFinite(q));
        // Every statistic derived from the sums is withheld alike, none left finite beside them.
        const TAnovaRow regression = q.GetAnova().regression;
        for (const double v : {q.GetF(), regression.F, regression.p, q.GetFPValue(),
                               q.GetAdjRSquared(), q.GetResidualStdError(), q.GetAIC(),
                               q.GetStdErrorOfb(1), q.GetPValue(1), q.GetLeverage(1),
                               q.GetCooksDistance(1), q.GetDurbinWatson(), q.GetStatisticsDigits()})
            EXPECT_TRUE(std::isnan(v)) << v;
    }
}

// Leverage and prediction standard errors do not depend on where the controls are centred: with
// x = 1E6 + t the design x, x^2 spans what t, t^2 spans, so each must match the small-number fit
// to 9 digits at least on every path (from cross products and a Cholesky factor, 5 were left).
// The response of large mean keeps few digits of its slope on the normal equations (the
// rounding of X'y): their estimate must say so, and Auto refit by QR.
TEST(OneFactorisation, StatisticsThatIgnoreTheOffsetKeepTheirDigits) {
    tavtest::TTempDb db;
    const std::string path = db.Exec(
        "CREATE TABLE t(t REAL, x REAL, y REAL, m REAL, s REAL);"
        "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 21)"
        " INSERT INTO t SELECT i, 1e6 + i, 3 + 0.5 * i - 0.02 * i * i + (i % 3) * 0.1,"
        " 1e6 + 1e-3 * (i - 11) + (i % 3) * 1e-5, i - 11 FROM r;");
    for (const TFitMethod method : {TFitMethod::NormalEquations, TFitMethod::QR}) {
        SCOPED_TRACE(FitMethodToStr(method));
        tavtest::TMessageRecorder messages;
        TTAVTable small, offset;
        for (auto* c : {&small, &offset}) c->SetFitMethod(method);
        tavtest::LoadTable(small, path, {PowerOf("t", 1), PowerOf("t", 2)}, "y");
        tavtest::LoadTable(offset, path, {PowerOf("x", 1), PowerOf("x", 2)}, "y");
        small.Execute();
        offset.Execute();
        // The normal equations, forced, find X'X singular here: then nothing derived is shown.
        if (offset.GetFitProblem() == TFitProblem::NumericallySingular) {
            EXPECT_TRUE(std::isnan(offset.GetLeverage(1)));
            continue;
        }
        for (uint16_t i = 1; i <= 21; ++i)
            EXPECT_GE(Lre(offset.GetLeverage(i), small.GetLeverage(i)), 9.0) << i;
        npvector at, atOffset;
        at[1] = 7.5, at[2] = 7.5 * 7.5, atOffset[1] = 1e6 + 7.5,
        atOffset[2] = atOffset[1] * atOffset[1];
        EXPECT_GE(
            Lre(offset.PredictInterval(atOffset, 2).seFit, small.PredictInterval(at, 2).seFit),
            9.0);
    }
    tavtest::TMessageRecorder messages;
    TTAVTable mean;
    mean.SetFitMethod(TFitMethod::QR);
    tavtest::LoadTable(mean, path, {tavtest::None("s")}, "m");
    mean.Execute();
    const double slope = mean.Getb(1);
    mean.SetFitMethod(TFitMethod::NormalEquations);
    mean.Execute();
    EXPECT_LT(mean.GetEstimatedDigits(), 10.0);
    EXPECT_LE(mean.GetEstimatedDigits(), Lre(mean.Getb(1), slope) + 1.0);
    mean.SetFitMethod(TFitMethod::Auto);
    mean.Execute();
    EXPECT_EQ(mean.GetFitPath(), TFitPath::QR);
}

// ---------------------------------------------------------------------------------------------
// Rank deficiency

TEST(RankDeficient, TheRepeatingVariableIsNamedAndTheLoadStays) {
    // x, z independent; s = x + z exactly.
    tavtest::TTempDb db;
    const std::string path = db.Exec(
        "CREATE TABLE t(x REAL, z REAL, s REAL, y REAL);"
        "WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 30)"
        " INSERT INTO t SELECT i, (i * 7) % 11, i + (i * 7) % 11, 3 + 2 * i - (i * 7) % 11 +"
        " (i % 4) * 0.25 FROM r;");
    TIndepVar half = tavtest::Control("Scale", "x");
    half.SetScaleFactor("2");
    struct Case {
        std::vector<TIndepVar> controls;
        TFitMethod method;
        TFitProblem problem;
        int aliased;  // the variable named, 0 for none
        const char* named;
    } cases[] = {
        {{tavtest::None("x"), tavtest::None("x")},
         TFitMethod::Auto,
         TFitProblem::RankDeficient,
         2,
         "X2 = x"},
        {{tavtest::None("x"), half}, TFitMethod::Auto, TFitProblem::RankDeficient, 2, "X2 = x/2"},
        {{tavtest::None("x"), half}, TFitMethod::QR, TFitProblem::RankDeficient, 2, "X2 = x/2"},
        {{tavtest::None("x"), tavtest::None("z"), tavtest::None("s")},
         TFitMethod::Auto,
         TFitProblem::RankDeficient,
         3,
         "X3 = s"},
        {{tavtest::None("x"), tavtest::None("x")},
         TFitMethod::NormalEquations,
         TFitProblem::NumericallySingular,
         0,
         "numerically singular"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(FitMethodToStr(c.method)) + ", " + c.named);
        tavtest::TMessageRecorder messages;
        TTAVTable t;
        t.SetFitMethod(c.method);
        tavtest::LoadTable(t, path, c.controls, "y");
        t.Execute();
        EXPECT_EQ(t.GetFitProblem(), c.problem);
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0].type, TMsgDlgType::mtError);
        EXPECT_NE(messages.Texts()[0].find(c.named), std::string::npos) << messages.Texts()[0];
        EXPECT_TRUE(t.ValuesLoaded());
        if (c.aliased == 0) continue;
        const int p = static_cast<int>(c.controls.size());
        for (int k = 1; k <= p; ++k) EXPECT_EQ(t.GetAliased(k), k == c.aliased) << k;
        EXPECT_TRUE(std::isnan(t.Getb(c.aliased)));
        EXPECT_TRUE(std::isnan(t.GetCovar(c.aliased, c.aliased)));
        // The others are the fit without the aliased variable.
        EXPECT_TRUE(std::isfinite(t.GetCovar(1, 1)));
        EXPECT_GT(t.GetRSquared(), 0.9);

        // The user drops the variable and fits again.
        messages.Clear();
        t.SetControl(c.aliased, TIndepVar());
        t.ReLoad();
        t.Execute();
        EXPECT_EQ(t.GetFitProblem(), TFitProblem::None);
        EXPECT_TRUE(messages.Messages().empty()) << messages.Texts().front();
    }
}

// ---------------------------------------------------------------------------------------------
// Work storage

TEST(FitStorage, NeitherPathAllocates) {
    tavtest::TTempDb db;
    const TData data = tavtest::ReadCsv(ExactPath("day-numbers.csv"));
    TTAVTable t;
    tavtest::LoadTable(t, tavtest::WriteTable(db, data),
                       {PowerOf("DAY", 1), PowerOf("DAY", 2), PowerOf("Z", 1)});
    for (const TFitMethod method : {TFitMethod::NormalEquations, TFitMethod::QR}) {
        t.SetFitMethod(method);
        g_allocations = 0;
        g_counting = true;
        t.Execute();
        g_counting = false;
        EXPECT_EQ(g_allocations, 0) << FitMethodToStr(method);
        EXPECT_EQ(t.GetFitProblem(), TFitProblem::None);
    }
}

}  // namespace
