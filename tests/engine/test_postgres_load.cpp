// Loading from PostgreSQL: the example's components give what they give on the SQLite database
// to the last bit; a statement that runs too long and a server that goes away leave a component
// with nothing loaded and nothing left open.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QWidget>
#include <cstdio>
#include <sstream>

#include "support/tav_pg_support.h"
#include "support/tav_scoring_support.h"
#include "support/tav_test_support.h"
#include "tav/formfile.h"
#include "tav/sysutils.h"
#include "tav/tavclasses.h"
#include "tav/tavquery.h"
#include "tav/tavtable.h"

using namespace tav;
using tavtest::Bits;

namespace {

using PostgreSQLLoad = tavtest::TPgTest;

// Everything a load and its fit leave readable, by name, in a fixed order.
std::vector<std::pair<std::string, double>> LoadAndFit(TTAVRegression& r) {
    std::vector<std::pair<std::string, double>> v;
    auto add = [&v](const std::string& name, double x) { v.emplace_back(name, x); };
    r.ReLoad();
    add("ValuesLoaded", r.ValuesLoaded());
    const TLoadAccount& a = r.GetLoadAccount();
    add("recordCount", a.recordCount);
    add("read", a.read);
    add("used", a.used);
    add("notRead", a.notRead);
    for (int k = 0; k <= MaxTerms; ++k)
        for (int reason = 0; reason < kSkipReasonCount; ++reason)
            add("skipped " + std::to_string(k) + "/" + std::to_string(reason),
                a.skipped[k][reason]);
    const int n = r.DataCount(), p = r.VarCount();
    for (int i = 1; i <= n; ++i) {
        add("y" + std::to_string(i), r.Gety(i));
        for (int j = 1; j <= p; ++j)
            add("x" + std::to_string(i) + "," + std::to_string(j), r.Getx(i, j));
    }
    r.Execute();
    for (int i = 0; i <= p; ++i) {
        add("b" + std::to_string(i), r.Getb(i));
        for (int j = 0; j <= p; ++j) {
            add("Covar" + std::to_string(i) + "," + std::to_string(j), r.GetCovar(i, j));
            add("Corr" + std::to_string(i) + "," + std::to_string(j), r.GetCorr(i, j));
        }
        if (i > 0) {
            add("xBar" + std::to_string(i), r.GetxBar(i));
            add("xStdErr" + std::to_string(i), r.GetxStdErr(i));
        }
    }
    for (int i = 1; i <= n; ++i) {
        add("e" + std::to_string(i), r.Gete(i));
        add("yHat" + std::to_string(i), r.GetyHat(i));
    }
    for (const auto& [name, value] : {std::pair<const char*, double>{"SSE", r.GetSSE()},
                                      {"SSR", r.GetSSR()},
                                      {"SST", r.GetSST()},
                                      {"RSquared", r.GetRSquared()},
                                      {"Syx", r.GetSyx()},
                                      {"F", r.GetF()},
                                      {"MSE", r.GetMSE()},
                                      {"yBar", r.GetyBar()},
                                      {"yStdErr", r.GetyStdErr()},
                                      {"ConditionEstimate", r.GetConditionEstimate()},
                                      {"EstimatedDigits", r.GetEstimatedDigits()},
                                      {"FitPath", static_cast<double>(r.GetFitPath())}})
        add(name, value);
    return v;
}

// The values whose bits differ (the first few), or nothing.
std::string Differences(const std::vector<std::pair<std::string, double>>& expected,
                        const std::vector<std::pair<std::string, double>>& actual) {
    if (expected.size() != actual.size())
        return std::to_string(actual.size()) + " values instead of " +
               std::to_string(expected.size());
    std::ostringstream out;
    int shown = 0;
    for (size_t k = 0; k < expected.size() && shown < 5; ++k) {
        if (Bits(expected[k].second) == Bits(actual[k].second)) continue;
        char line[160];
        std::snprintf(line, sizeof line, "%s: %.17g instead of %.17g; ", actual[k].first.c_str(),
                      actual[k].second, expected[k].second);
        out << line;
        ++shown;
    }
    return out.str();
}

// Calls `action` on every step of a load progress dialog while it lives.
class TGaugeSpy {
  public:
    explicit TGaugeSpy(std::function<void(const TLoadProgress&)> action) {
        previous_ = SetGaugeObserver(
            [this, action = std::move(action)](const TLoadProgress& dlg, bool freed) {
                if (!freed) action(dlg);
                if (previous_) previous_(dlg, freed);
            });
    }
    ~TGaugeSpy() { SetGaugeObserver(previous_); }
    TGaugeSpy(const TGaugeSpy&) = delete;
    TGaugeSpy& operator=(const TGaugeSpy&) = delete;

  private:
    TGaugeObserver previous_;
};

bool AnyWindowShown() {
    for (const QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) return true;
    return false;
}

// Points a component at a table and defines the response and the one control.
template <typename Component>
void Define(Component& c, const std::string& database, const std::string& table,
            const std::string& y = "y", const std::string& x = "x") {
    tavtest::Point(c, database, table);
    c.SetResponse(tavtest::Response(y));
    c.SetControl1(tavtest::None(x));
}

}  // namespace

TEST_F(PostgreSQLLoad, TheExampleFitsAsOnSqliteToTheLastBit) {
    // The example's table and query components, on sales.db and then on the PostgreSQL copy.
    const std::string dfm = tavtest::SampleForm();
    TFormContents form = ReadForm(TAVClassRegistry(), ReadTextFile(dfm), [&](TComponent& c) {
        dynamic_cast<TDataSet&>(c).SetBaseDirectory(
            QFileInfo(QString::fromStdString(dfm)).absolutePath().toStdString());
    });
    ASSERT_EQ(form.components.size(), 2u);
    for (TComponent* component : form.components) {
        auto& dataSet = dynamic_cast<TDataSet&>(*component);
        auto& regression = dynamic_cast<TTAVRegression&>(*component);
        tavtest::TMessageRecorder sqliteMessages;
        const auto reference = LoadAndFit(regression);
        dataSet.Close();
        dataSet.SetDatabaseName(Url());
        dataSet.Open();
        tavtest::TMessageRecorder pgMessages;
        const auto actual = LoadAndFit(regression);
        EXPECT_EQ(Differences(reference, actual), "") << component->Name();
        EXPECT_EQ(pgMessages.Texts(), sqliteMessages.Texts()) << component->Name();
        EXPECT_GT(regression.DataCount(), 250) << component->Name();
    }
}

TEST_F(PostgreSQLLoad, AStatementThatFailsLoadsNothingAndSaysWhy) {
    // Stalling before the first record, or after a hundred (which then reach the client with the
    // error), past QueryTimeout; failing after a hundred records.
    const struct {
        const char* sql;
        int timeout;
        const char* says;
    } cases[] = {
        {"SELECT pg_sleep(30), * FROM sales", 1, "The query did not finish within 1 seconds"},
        {"SELECT profit, stores, CASE WHEN id > 100 THEN pg_sleep(30) END FROM sales", 1,
         "The query did not finish within 1 seconds"},
        {"SELECT *, 1 / (id - 101) FROM sales", 0, "division by zero"},
        // The record count's session waits for the lock the cursor's holds.
        {"SELECT pg_advisory_lock(42), * FROM sales", 1, "did not finish within 1 seconds"},
    };
    for (const auto& c : cases) {
        tavtest::TMessageRecorder messages;
        tavtest::TGaugeRecorder gauges;
        TTAVQuery q;
        Define(q, Url(), "sales", "PROFIT", "STORES");
        q.SetSQLText(c.sql);
        q.SetShowLoadProgress(true);
        q.SetQueryTimeout(c.timeout);
        QElapsedTimer clock;
        clock.start();
        bool opened = false;
        std::string error = "none";
        try {
            q.Open();
            opened = true;
            q.ReLoad();
        } catch (const EDatabaseError& e) {
            error = e.what();
        }
        std::printf("%s failed after %lld ms: %s\n", opened ? "ReLoad" : "Open",
                    static_cast<long long>(clock.elapsed()), c.sql);
        EXPECT_NE(error.find(c.says), std::string::npos) << c.sql << "\n" << error;
        EXPECT_LT(clock.elapsed(), 20000) << c.sql;
        EXPECT_FALSE(q.ValuesLoaded()) << c.sql;
        EXPECT_EQ(q.DataCount(), 0) << c.sql;
        EXPECT_FALSE(q.ControlsDisabled()) << c.sql;
        EXPECT_EQ(gauges.Freed(), opened ? 1 : 0) << c.sql;
        EXPECT_FALSE(AnyWindowShown()) << c.sql;
        // The component works on once given a statement that ends.
        q.Close();
        q.SetSQLText("SELECT * FROM sales");
        q.Open();
        q.ReLoad();
        EXPECT_TRUE(q.ValuesLoaded()) << c.sql;
        EXPECT_EQ(q.DataCount(), 295) << c.sql;
    }
}

TEST_F(PostgreSQLLoad, ServerStoppedMidLoadLeavesNothingHalfDone) {
    // A server of this test's own: it is killed midway. Its table has 20 usable records at either
    // end and 199960 without a response between them, far more than the connection buffers, so
    // the load reads on after the kill until the records already sent run out.
    tavtest::TPgServer server;
    tavtest::Psql(server.Address(),
                  "CREATE TABLE stream AS SELECT CASE WHEN i <= 20 OR i > 199980 THEN i::float8 "
                  "END AS y, i::float8 AS x FROM generate_series(1, 200000) i;");
    const std::string url = server.Address().Url();
    // The table's gauge follows the records: killed after the fifth. The query's stays at 0:
    // killed when the statement has run and no record has been read.
    TTAVTable table;
    TTAVQuery query;
    Define(table, url, "stream");
    Define(query, url, "stream");
    const struct {
        TTAVRegression* component;
        TDataSet* dataSet;
        const char* killAt;
    } cases[] = {{&table, &table, "Records Loaded: 5"}, {&query, &query, "Records Loaded: 0"}};
    for (const auto& c : cases) {
        server.Start();
        c.component->SetShowLoadProgress(true);
        c.dataSet->Open();
        tavtest::TMessageRecorder messages;
        tavtest::TGaugeRecorder gauges;
        bool killed = false;
        {
            TGaugeSpy spy([&](const TLoadProgress& dlg) {
                if (!killed && dlg.GaugeText() == c.killAt) {
                    killed = true;
                    server.Stop(true);
                }
            });
            try {
                c.component->ReLoad();
                ADD_FAILURE() << "no error: " << c.dataSet->ClassName();
            } catch (const EDatabaseError& e) {
                std::printf("%s: %s\n", c.dataSet->ClassName(), e.what());
                EXPECT_NE(std::string(e.what()).find(url), std::string::npos) << e.what();
            }
        }
        ASSERT_TRUE(killed) << c.dataSet->ClassName();
        EXPECT_FALSE(c.component->ValuesLoaded()) << c.dataSet->ClassName();
        EXPECT_EQ(c.component->DataCount(), 0) << c.dataSet->ClassName();
        EXPECT_FALSE(c.dataSet->ControlsDisabled()) << c.dataSet->ClassName();
        EXPECT_EQ(gauges.Freed(), 1) << c.dataSet->ClassName();
        EXPECT_FALSE(AnyWindowShown()) << c.dataSet->ClassName();
        EXPECT_TRUE(messages.Messages().empty()) << c.dataSet->ClassName();

        // With the server back, the same component loads everything.
        server.Start();
        c.dataSet->Close();
        c.dataSet->Open();
        c.component->ReLoad();
        EXPECT_TRUE(c.component->ValuesLoaded()) << c.dataSet->ClassName();
        EXPECT_EQ(c.component->DataCount(), 40) << c.dataSet->ClassName();
        c.dataSet->Close();
    }
}

TEST_F(PostgreSQLLoad, TheScoringExpressionScoresAsTheFit) {
    TTAVTable t;
    tavtest::Point(t, Url(), "sales");
    tavtest::DefineEveryTransformation(t);
    t.Open();
    t.ReLoad();
    ASSERT_TRUE(t.ValuesLoaded());
    t.Execute();
    ASSERT_EQ(t.GetFitProblem(), TFitProblem::None);
    const std::string sql = t.ScoringSQL(TSqlDialect::PostgreSQL);
    std::vector<tavtest::TScoredRow> rows;
    std::istringstream lines(
        tavtest::Psql(Server(), "SELECT " + sql + ", profit IS NOT NULL FROM sales ORDER BY id"));
    for (std::string line; std::getline(lines, line);) {
        const auto bar = line.find('|');
        if (bar == std::string::npos) continue;
        tavtest::TScoredRow row{std::nullopt, line.substr(bar + 1) == "t"};
        if (bar > 0) row.score = std::stod(line.substr(0, bar));
        rows.push_back(row);
    }
    EXPECT_EQ(tavtest::CompareWithFit(t, rows), "") << sql;
}
