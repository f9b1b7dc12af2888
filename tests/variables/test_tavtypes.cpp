#include <gtest/gtest.h>

#include <memory>

#include "support/tav_test_support.h"
#include "tav/db.h"
#include "tav/sysutils.h"
#include "tav/tavtypes.h"

using namespace tav;
using tavtest::Control;
using tavtest::Response;

namespace {

// A one-record dataset whose columns are the given SELECT expressions.
class RecordFixture : public ::testing::Test {
  protected:
    TQuery& Record(const std::string& select) {
        const std::string path = db_.Exec("CREATE TABLE IF NOT EXISTS t(a INTEGER);");
        query_ = std::make_unique<TQuery>();
        query_->SetDatabaseName(path);
        query_->SetSQLText("SELECT " + select);
        query_->Open();
        return *query_;
    }
    tavtest::TTempDb db_;
    std::unique_ptr<TQuery> query_;
};

}  // namespace

TEST(IndepVar, DefaultsAndCouplingOfUsageAndTransformation) {
    TIndepVar v;
    ASSERT_EQ(v.Count(), 6);
    EXPECT_EQ(v.Usage(), "Inactive");
    EXPECT_EQ(v.Transformation(), "Undefined");
    EXPECT_EQ(v.Field1(), "Datafield1");
    EXPECT_EQ(v.Field2(), "Datafield2");
    EXPECT_EQ(v.Exponent(), "1.00");
    EXPECT_EQ(v.ScaleFactor(), "10");
    EXPECT_EQ(v.OutputTerm(), "Disabled");

    v.SetTransformation("Log");
    EXPECT_EQ(v.Usage(), "Active");
    v.SetUsage("Inactive");
    EXPECT_EQ(v.Transformation(), "Undefined");

    v.SetTransformation("Sqrt");
    v.SetTransformation("Undefined");
    EXPECT_EQ(v.Usage(), "Active") << "Undefined leaves the usage alone";
    v.SetUsage("Active");
    EXPECT_EQ(v.Transformation(), "Undefined");

    // Comparisons are case-sensitive: "inactive" is not the inactive state.
    v.SetTransformation("None");
    v.SetUsage("inactive");
    EXPECT_EQ(v.Transformation(), "None");

    // SetParameters and Assign bypass the coupling.
    TIndepVar w;
    w.SetParameters(1, "Log");
    EXPECT_EQ(w.Usage(), "Inactive");
    w.Assign(v);
    EXPECT_EQ(w.Items(), v.Items());
}

TEST(DependentVar, Defaults) {
    TDependentVar v;
    ASSERT_EQ(v.Count(), 6);
    EXPECT_EQ(v.Strings(0), "Undefined");
    EXPECT_EQ(v.Transformation(), "None");
    EXPECT_EQ(v.FieldName(), "Datafield");
    EXPECT_EQ(v.Strings(3), "Undefined");
    EXPECT_EQ(v.Strings(4), "Undefined");
    EXPECT_EQ(v.ScaleFactor(), "1");
    EXPECT_EQ(v.OutputTerm(), "Datafield");
}

TEST(Definitions, EveryStateTheSettersReachIsADefinition) {
    // A stored definition is checked against what the setters can produce (a form file's
    // reader refuses anything else): no sequence of setter calls may leave a refused state.
    const char* codes[] = {"Undefined", "None",  "Log",     "Inverse", "Sqrt",
                           "Power",     "Scale", "Product", "Quotient"};
    EXPECT_EQ(TIndepVar::DefinitionError(TIndepVar()), "");
    EXPECT_EQ(TDependentVar::DefinitionError(TDependentVar()), "");
    for (const char* usage : {"Active", "Inactive"}) {
        for (const char* code : codes) {
            TIndepVar first, second;
            first.SetUsage(usage);
            first.SetTransformation(code);
            second.SetTransformation(code);
            second.SetUsage(usage);
            EXPECT_EQ(TIndepVar::DefinitionError(first), "") << usage << " then " << code;
            EXPECT_EQ(TIndepVar::DefinitionError(second), "") << code << " then " << usage;
        }
    }
    for (const char* code : {"None", "Log", "Inverse", "Scale"}) {
        TDependentVar v;
        v.SetTransformation(code);
        EXPECT_EQ(TDependentVar::DefinitionError(v), "") << code;
    }
}

TEST_F(RecordFixture, BadDefinitionsRaiseClearErrors) {
    TQuery& q = Record("1.0 AS X1, 2.0 AS X2");
    TIndepVar missing = Control("None", "NOPE", "X2");
    try {
        missing.ValidTransformation(q);
        FAIL() << "expected EDatabaseError";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("Field 'NOPE' not found"), std::string::npos);
    }
    TIndepVar power = Control("Power", "X1", "X2");
    power.SetExponent("two");
    EXPECT_THROW(power.ValidTransformation(q), EConvertError);
    TIndepVar scale = Control("Scale", "X1", "X2");
    scale.SetScaleFactor("ten");
    EXPECT_THROW(scale.ValidTransformation(q), EConvertError);
    EXPECT_THROW(scale.Process(q), EConvertError);
    TDependentVar rscale = Response("Y", "Scale");
    rscale.SetField("X1");
    rscale.SetScaleFactor("x");
    EXPECT_THROW(rscale.ValidTransformation(q), EConvertError);

    // An unknown code yields an error, never a made-up value.
    TIndepVar unknown = Control("log", "X1", "X2");
    EXPECT_TRUE(unknown.ValidTransformation(q));
    EXPECT_THROW(unknown.Process(q), EConvertError);

    // A stored definition with fewer than six entries.
    TIndepVar shortVar;
    TStringList three;
    for (const char* s : {"Active", "None", "X1"}) three.Add(s);
    shortVar.Assign(three);
    EXPECT_EQ(shortVar.Field1(), "X1");
    try {
        (void)shortVar.ScaleFactor();
        FAIL() << "expected EStringListError";
    } catch (const EStringListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (5)");
    }
}
