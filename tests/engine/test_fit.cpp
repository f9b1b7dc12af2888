#include <gtest/gtest.h>

#include <cmath>

#include "support/tav_test_support.h"
#include "tav/sysutils.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

using namespace tav;

namespace {

using tavtest::None;

using tavtest::Response;

// A table "t" of (x, y) pairs, loaded into a component of the given kind.
template <typename Component>
class Loaded {
  public:
    explicit Loaded(const std::string& rows, int controls = 1) {
        const std::string path =
            db_.Exec("CREATE TABLE t(x REAL, x2 REAL, y REAL); INSERT INTO t VALUES " + rows + ";");
        tavtest::Point(c, path);
        if (controls >= 1) c.SetControl1(None("x"));
        if (controls >= 2) c.SetControl2(None("x2"));
        c.SetResponse(Response("y"));
        c.Open();
        c.ReLoad();
    }
    Component c;

  private:
    tavtest::TTempDb db_;
};

const char* kExample = "(1, 0, 2), (2, 0, 4), (3, 0, 3), (4, 0, 6)";

}  // namespace

TEST(Fit, WorkedExampleOfOneControlVariable) {
    tavtest::TMessageRecorder messages;
    Loaded<TTAVTable> l(kExample);
    auto& t = l.c;
    EXPECT_EQ(t.GetSyx(), 0.0) << "square root of the initial MSE";
    t.Execute();
    EXPECT_TRUE(messages.Messages().empty());
    const double tol = 1e-12;
    EXPECT_NEAR(t.Getb(0), 1.0, tol);
    EXPECT_NEAR(t.Getb(1), 1.1, tol);
    const double residuals[] = {-0.1, 0.8, -1.3, 0.6};
    for (int i = 1; i <= 4; ++i) {
        EXPECT_NEAR(t.Gete(i), residuals[i - 1], tol) << i;
        EXPECT_NEAR(t.GetyHat(i), t.Gety(i) - residuals[i - 1], tol) << i;
    }
    EXPECT_NEAR(t.GetSSE(), 2.7, tol);
    EXPECT_NEAR(t.GetMSE(), 1.35, tol);
    EXPECT_NEAR(t.GetSSR(), 6.05, tol);
    EXPECT_NEAR(t.GetSST(), 8.75, tol);
    EXPECT_NEAR(t.GetRSquared(), 6.05 / 8.75, tol);  // 0.691429
    EXPECT_NEAR(t.GetF(), 6.05 / 1.35, tol);         // 4.481481
    EXPECT_NEAR(t.GetSyx(), std::sqrt(1.35), tol);   // 1.161895
    EXPECT_NEAR(t.GetxBar(1), 2.5, tol);
    EXPECT_NEAR(t.GetxStdErr(1), std::sqrt(5.0 / 3.0), tol);  // 1.290994
    EXPECT_NEAR(t.GetyBar(), 3.75, tol);
    EXPECT_NEAR(t.GetyStdErr(), std::sqrt(8.75 / 3.0), tol);  // 1.707825
    EXPECT_NEAR(t.GetCovar(0, 0), 2.025, tol);
    EXPECT_NEAR(t.GetCovar(0, 1), -0.675, tol);
    EXPECT_NEAR(t.GetCovar(1, 0), -0.675, tol);
    EXPECT_NEAR(t.GetCovar(1, 1), 0.27, tol);
    EXPECT_NEAR(t.GetCorr(0, 1), -0.675 / std::sqrt(2.025 * 0.27), tol);  // -0.912871
    EXPECT_NEAR(t.GetCorr(0, 0), 1.0, tol);
    EXPECT_NEAR(t.GetCorr(1, 1), 1.0, tol);
    EXPECT_EQ(t.GetxBar(0), 0.0) << "element 0 is never set";
    EXPECT_EQ(t.GetDOF(), 2);

    npvector values;
    values[0] = 1e300;  // ignored
    values[1] = 10.0;
    EXPECT_NEAR(t.Predict(values, 1), 12.0, tol);
    EXPECT_EQ(t.Predict(values, 0), t.Getb(0));
    EXPECT_THROW(t.Predict(values, 11), std::out_of_range);
    EXPECT_THROW(t.Gete(2501), std::out_of_range);
    EXPECT_THROW(t.GetCovar(11, 0), std::out_of_range);
    EXPECT_LT(t.GetConditionEstimate(), 1e3);

    // The results stay readable after the flag is cleared.
    t.SetControl1(None("x"));
    EXPECT_FALSE(t.ValuesLoaded());
    EXPECT_NEAR(t.Getb(1), 1.1, tol);
}

TEST(Fit, InterceptOnlyModel) {
    tavtest::TMessageRecorder messages;
    Loaded<TTAVQuery> l(kExample, 0);
    auto& q = l.c;
    q.Execute();
    EXPECT_NEAR(q.Getb(0), 3.75, 1e-12);
    EXPECT_NEAR(q.GetSSR(), 0.0, 1e-12);
    EXPECT_NEAR(q.GetSSE(), 8.75, 1e-12);
    EXPECT_NEAR(q.GetCovar(0, 0), q.GetMSE() / 4, 1e-12);
    for (int i = 1; i <= 4; ++i) EXPECT_NEAR(q.GetyHat(i), 3.75, 1e-12);
    // F divides by p = 0: NaN, no trap, no message.
    EXPECT_TRUE(std::isnan(q.GetF()));
    EXPECT_TRUE(messages.Messages().empty());
}

TEST(Fit, NotLoadedMessagesOfBothVariants) {
    tavtest::TMessageRecorder messages;
    TTAVTable table;
    table.Execute();  // a warning: silent unless ShowWarnings
    EXPECT_TRUE(messages.Messages().empty());
    table.SetShowWarnings(true);
    table.Execute();
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Table values NOT loaded.");
    EXPECT_EQ(messages.Messages()[0].type, TMsgDlgType::mtInformation);

    messages.Clear();
    TTAVQuery query;
    query.Execute();  // an error: always shown
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Query dataset values NOT loaded.");
    EXPECT_EQ(messages.Messages()[0].type, TMsgDlgType::mtError);
    EXPECT_EQ(query.Getb(0), 0.0);
}

TEST(Fit, SettersMakeExecuteRefuseUntilReLoad) {
    tavtest::TMessageRecorder messages;
    Loaded<TTAVQuery> l(kExample);
    auto& q = l.c;
    q.Execute();
    const double b1 = q.Getb(1);
    q.SetControl1(None("y"));
    q.SetControl2(None("x"));
    q.Execute();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Query dataset values NOT loaded."});
    EXPECT_EQ(q.Getb(1), b1) << "nothing recomputed";
}

TEST(Fit, RSquaredKeepsItsValueWhenSSTIsZero) {
    tavtest::TMessageRecorder messages;
    TTAVTable fresh;
    EXPECT_EQ(fresh.GetSST(), 0.0);
    EXPECT_EQ(fresh.GetRSquared(), 0.0) << "never computed";

    Loaded<TTAVQuery> l(kExample);
    auto& q = l.c;
    q.Execute();
    EXPECT_NEAR(q.GetRSquared(), 0.691428571428571, 1e-12);
    // A load that finds no record leaves nothing to sum: SST is 0 and R squared stays.
    q.Close();
    q.SetSQLText("SELECT * FROM t WHERE x > 100");
    q.Open();
    q.ReLoad();
    ASSERT_EQ(q.DataCount(), 0);
    EXPECT_EQ(q.GetSST(), 0.0);
    EXPECT_NEAR(q.GetRSquared(), 0.691428571428571, 1e-12);
}

TEST(Fit, TooFewRecordsComputeNothing) {
    // n = 2 < p + 1 = 3: the load accepts it with its message, Execute refuses.
    tavtest::TMessageRecorder messages;
    Loaded<TTAVQuery> l("(1, 5, 2), (2, 3, 4)", 2);
    auto& q = l.c;
    ASSERT_TRUE(q.ValuesLoaded());
    messages.Clear();
    q.Execute();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"There are 0 degrees of freedom."});
    EXPECT_EQ(q.Getb(0), 0.0);
    EXPECT_EQ(q.GetxBar(1), 0.0);
}

TEST(Fit, ExactFitsGiveCoefficientsAndNaNStatistics) {
    tavtest::TMessageRecorder messages;
    {
        // n = p + 1: zero residual degrees of freedom.
        Loaded<TTAVTable> l("(1, 0, 3), (2, 0, 5)");
        auto& t = l.c;
        t.Execute();
        EXPECT_NEAR(t.Getb(0), 1.0, 1e-12);
        EXPECT_NEAR(t.Getb(1), 2.0, 1e-12);
        EXPECT_TRUE(std::isnan(t.GetMSE()));
        EXPECT_TRUE(std::isnan(t.GetSyx()));
        EXPECT_TRUE(std::isnan(t.GetF()));
        EXPECT_TRUE(std::isnan(t.GetCovar(0, 0)));
        EXPECT_EQ(FloatToStrF(t.GetMSE(), TFloatFormat::ffFixed, 8, 3), "NAN");
    }
    {
        // A perfect fit with residual degrees of freedom: SSE is the sum of the squared residuals,
        // which vanish to rounding; never below zero, and R squared 1.
        Loaded<TTAVTable> l("(1, 0, 3), (2, 0, 5), (3, 0, 7), (4, 0, 9)");
        auto& t = l.c;
        t.Execute();
        EXPECT_NEAR(t.Getb(1), 2.0, 1e-12);
        EXPECT_GE(t.GetSSE(), 0.0);
        EXPECT_LT(t.GetSSE(), 1e-24);
        EXPECT_GE(t.GetMSE(), 0.0);
        EXPECT_NEAR(t.GetRSquared(), 1.0, 1e-15);
        // Its F is a ratio of rounding noise: withheld as R's "essentially perfect fit".
        EXPECT_TRUE(t.GetPerfectFit() && std::isnan(t.GetF()));
        for (int i = 1; i <= 4; ++i) EXPECT_NEAR(t.Gete(i), 0.0, 1e-12);
        EXPECT_EQ(t.GetFitProblem(), TFitProblem::None);
    }
    EXPECT_TRUE(messages.Messages().empty());
}

TEST(Fit, NumericallySingularFitIsReported) {
    // x and x2 = x + tiny: X'X is singular to working precision. On the normal equations the
    // results stay readable, and an error box says they cannot be trusted.
    tavtest::TMessageRecorder messages;
    Loaded<TTAVTable> l(
        "(1, 1.0000000000000002, 2), (2, 2.0000000000000004, 4.5), (3, 3.0000000000000004, 3),"
        "(4, 4.000000000000001, 6), (5, 5.000000000000001, 5)",
        2);
    auto& t = l.c;
    ASSERT_TRUE(t.ValuesLoaded());
    t.SetFitMethod(TFitMethod::NormalEquations);
    t.Execute();
    EXPECT_EQ(t.GetFitProblem(), TFitProblem::NumericallySingular);
    EXPECT_GT(t.GetConditionEstimate(), TTAVRegression::ConditionLimit());
    ASSERT_EQ(messages.Messages().size(), 1u);
    const std::string& text = messages.Messages()[0].text;
    EXPECT_EQ(text.rfind("The regression matrix is numerically singular\n\r(estimated condition "
                         "number ",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find(").\n\rThe coefficients have no correct digit:\n\rthe results cannot be "
                        "trusted."),
              std::string::npos);
    EXPECT_EQ(messages.Messages()[0].type, TMsgDlgType::mtError);

    // The limit is a setting: a well-conditioned fit passes below it and is reported above it.
    messages.Clear();
    Loaded<TTAVTable> good(kExample);
    const double saved = TTAVRegression::ConditionLimit();
    good.c.Execute();
    EXPECT_TRUE(messages.Messages().empty());
    TTAVRegression::SetConditionLimit(good.c.GetConditionEstimate() / 2);
    good.c.Execute();
    TTAVRegression::SetConditionLimit(saved);
    EXPECT_EQ(messages.Messages().size(), 1u);
}

TEST(Fit, TableNeedsReLoadAfterOutputQueryRecomputes) {
    // Output itself comes with the report window; its effect on the flag is what Execute sees.
    tavtest::TMessageRecorder messages;
    Loaded<TTAVQuery> q(kExample);
    q.c.Execute();
    q.c.Execute();
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_NEAR(q.c.Getb(1), 1.1, 1e-12);
}

TEST(Fit, FittedValuesArePredictionsToTheBit) {
    tavtest::TMessageRecorder messages;
    tavtest::TTempDb db;
    TTAVQuery q;
    q.SetDatabaseName(
        db.Exec("CREATE TABLE t(a REAL, b REAL, c REAL, y REAL);"
                "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 60)"
                " INSERT INTO t SELECT sin(i) * 1e3, cos(i * 0.7) / 3, (i * 37 % 11) - 5.5,"
                " 0.1 * i + sin(i * 1.3) FROM s;"));
    q.SetSQLText("SELECT * FROM t");
    q.SetControl1(None("a"));
    q.SetControl2(None("b"));
    q.SetControl3(None("c"));
    q.SetResponse(Response("y"));
    q.Open();
    q.ReLoad();
    q.Execute();
    for (uint16_t i = 1; i <= q.DataCount(); ++i) {
        npvector values;
        for (uint16_t j = 1; j <= 3; ++j) values[j] = q.Getx(i, j);
        EXPECT_EQ(q.GetyHat(i), q.Predict(values, 3)) << i;
        EXPECT_EQ(q.Gete(i), q.Gety(i) - q.GetyHat(i)) << i;
    }
}
