#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "host/db.h"
#include "host/sysutils.h"
#include "support/tav_test_support.h"
#include "variables/tavtypes.h"

using namespace tav;

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
    static TIndepVar Control(const std::string& transformation, const std::string& field1 = "X1",
                             const std::string& field2 = "X2") {
        TIndepVar v;
        v.SetTransformation(transformation);
        v.SetField1(field1);
        v.SetField2(field2);
        return v;
    }
    static TDependentVar Response(const std::string& transformation) {
        TDependentVar v;
        v.SetTransformation(transformation);
        v.SetField("Y");
        return v;
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

TEST(Terms, ControlAndResponseTermsAreBuiltFromTheStoredTexts) {
    struct Case {
        const char* transformation;
        const char* expected;
    } cases[] = {{"None", "SALES"},         {"Log", "Ln(SALES)"},       {"Inverse", "1/SALES"},
                 {"Sqrt", "SALES^1/2"},     {"Power", "SALES^2"},       {"Scale", "SALES/1000"},
                 {"Product", "SALES*COST"}, {"Quotient", "SALES/COST"}, {"Undefined", "Disabled"},
                 {"Inactive", "Disabled"}};
    for (const auto& c : cases) {
        TIndepVar v;
        v.SetField1("SALES");
        v.SetField2("COST");
        v.SetExponent("2");
        v.SetScaleFactor("1000");
        v.SetParameters(1, c.transformation);
        EXPECT_EQ(v.OutputTerm(), c.expected) << c.transformation;
    }
    TIndepVar p;
    p.SetField1("A");
    p.SetTransformation("Power");
    EXPECT_EQ(p.OutputTerm(), "A^1.00") << "the exponent is printed exactly as stored";

    struct RCase {
        const char* transformation;
        const char* expected;
    } rcases[] = {{"None", "PRICE"},
                  {"Log", "Ln(PRICE)"},
                  {"Inverse", "1/(PRICE)"},
                  {"Scale", "PRICE/100"},
                  {"Inactive", "Disabled"}};
    for (const auto& c : rcases) {
        TDependentVar v;
        v.SetField("PRICE");
        v.SetScaleFactor("100");
        v.SetTransformation(c.transformation);
        EXPECT_EQ(v.OutputTerm(), c.expected) << c.transformation;
    }
}

TEST_F(RecordFixture, ValidityThresholdsOfControlVariables) {
    struct Case {
        const char* transformation;
        const char* x1;
        const char* x2;
        bool valid;
    } cases[] = {
        {"None", "NULL", "1", false},     {"Log", "NULL", "1", false},
        {"Power", "NULL", "1", false},    {"None", "0", "1", true},
        {"Quotient", "1", "0", false},    {"Quotient", "1", "NULL", false},
        {"Quotient", "1", "1e-20", true}, {"Quotient", "1", "-1e-20", true},
        {"Quotient", "0", "2", true},     {"Product", "1", "NULL", false},
        {"Product", "1", "0", true},      {"Inverse", "1e-20", "1", true},
        {"Inverse", "-1e-20", "1", true}, {"Inverse", "0", "1", false},
        {"Log", "1e-20", "1", false},     {"Log", "2e-20", "1", true},
        {"Log", "0", "1", false},         {"Log", "-5", "1", false},
        {"Sqrt", "1e-20", "1", false},    {"Sqrt", "-1", "1", false},
        {"Sqrt", "4", "1", true},         {"Power", "-3", "1", true},
        {"Scale", "-3", "1", true},
    };
    for (const auto& c : cases) {
        TQuery& q = Record(std::string(c.x1) + " AS X1, " + c.x2 + " AS X2");
        TIndepVar v = Control(c.transformation);
        v.SetExponent("2");
        EXPECT_EQ(v.ValidTransformation(q), c.valid)
            << c.transformation << " x1=" << c.x1 << " x2=" << c.x2;
    }
}

TEST_F(RecordFixture, PowerAndScaleParametersDecideValidity) {
    TQuery& q = Record("5.0 AS X1");
    TIndepVar v = Control("Power");
    for (const char* e : {"0", "-1", "0.49"}) {
        v.SetExponent(e);
        EXPECT_FALSE(v.ValidTransformation(q)) << e;
    }
    for (const char* e : {"0.5", "1.00", "2"}) {
        v.SetExponent(e);
        EXPECT_TRUE(v.ValidTransformation(q)) << e;
    }
    TIndepVar s = Control("Scale");
    s.SetScaleFactor("0");
    EXPECT_FALSE(s.ValidTransformation(q));
    s.SetScaleFactor("1e-20");
    EXPECT_FALSE(s.ValidTransformation(q)) << "a factor of exactly 1E-20 is rejected";
    s.SetScaleFactor("-2e-20");
    EXPECT_TRUE(s.ValidTransformation(q));
}

TEST_F(RecordFixture, ValuesOfControlVariables) {
    auto value = [&](const std::string& t, const std::string& x1, const std::string& x2,
                     const std::string& exponent = "2", const std::string& scale = "4") {
        TQuery& q = Record(x1 + " AS X1, " + x2 + " AS X2");
        TIndepVar v = Control(t);
        v.SetExponent(exponent);
        v.SetScaleFactor(scale);
        EXPECT_TRUE(v.ValidTransformation(q)) << t << " " << x1;
        return v.Process(q);
    };
    EXPECT_EQ(value("None", "2.5", "0"), 2.5);
    EXPECT_DOUBLE_EQ(value("Log", "10", "0"), std::log(10.0));
    EXPECT_EQ(value("Inverse", "4", "0"), 0.25);
    EXPECT_EQ(value("Sqrt", "2.25", "0"), 1.5);
    EXPECT_NEAR(value("Power", "-3", "0", "2"), 9.0, 1e-14);
    EXPECT_NEAR(value("Power", "-2", "0", "3"), -8.0, 1e-14);
    EXPECT_NEAR(value("Power", "2", "0", "3"), 8.0, 1e-14);
    EXPECT_EQ(value("Power", "0", "0", "3"), 0.0);
    EXPECT_EQ(value("Scale", "10", "0", "2", "4"), 2.5);
    EXPECT_EQ(value("Product", "3", "-1.5"), -4.5);
    EXPECT_EQ(value("Quotient", "3", "4"), 0.75);
}

TEST_F(RecordFixture, FractionalPowersAreDefinedAndNeverNaN) {
    // The default exponent "1.00" and the dialog's "0.5" must load.
    TQuery& q = Record("6.25 AS X1");
    TIndepVar v = Control("Power");
    v.SetExponent("0.5");
    EXPECT_NEAR(v.Process(q), 2.5, 1e-15);
    v.SetExponent("1.00");
    EXPECT_NEAR(v.Process(q), 6.25, 1e-14);
    v.SetExponent("1.5");
    EXPECT_NEAR(v.Process(q), 15.625, 1e-13);

    // A fractional power of a negative value has no real result: the record is skipped.
    TQuery& neg = Record("-4.0 AS X1");
    v.SetExponent("0.5");
    EXPECT_FALSE(v.ValidTransformation(neg));
    v.SetExponent("1.00");
    EXPECT_TRUE(v.ValidTransformation(neg)) << "1.00 is the whole number 1";
    EXPECT_NEAR(v.Process(neg), -4.0, 1e-14);
}

TEST_F(RecordFixture, ResponseValidityAndValues) {
    struct Case {
        const char* transformation;
        const char* y;
        bool valid;
    } cases[] = {{"None", "NULL", false},      {"Log", "NULL", false},  {"Log", "1e-20", false},
                 {"Log", "0", false},          {"Log", "-1", false},    {"Inverse", "1e-20", false},
                 {"Inverse", "-1e-20", false}, {"Inverse", "0", false}, {"Inverse", "4", true},
                 {"None", "-7", true}};
    for (const auto& c : cases) {
        TQuery& q = Record(std::string(c.y) + " AS Y");
        EXPECT_EQ(Response(c.transformation).ValidTransformation(q), c.valid)
            << c.transformation << " y=" << c.y;
    }
    TQuery& q = Record("4 AS Y");
    EXPECT_EQ(Response("Inverse").Process(q), 0.25);
    TDependentVar scale = Response("Scale");
    scale.SetScaleFactor("0");
    EXPECT_FALSE(scale.ValidTransformation(q));
    TQuery& q7 = Record("7 AS Y");
    scale.SetScaleFactor("2");
    EXPECT_EQ(scale.Process(q7), 3.5);
}

TEST_F(RecordFixture, BadDefinitionsRaiseClearErrors) {
    TQuery& q = Record("1.0 AS X1, 2.0 AS X2");
    TIndepVar missing = Control("None", "NOPE");
    try {
        missing.ValidTransformation(q);
        FAIL() << "expected EDatabaseError";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("Field 'NOPE' not found"), std::string::npos);
    }
    TIndepVar power = Control("Power");
    power.SetExponent("two");
    EXPECT_THROW(power.ValidTransformation(q), EConvertError);
    TIndepVar scale = Control("Scale");
    scale.SetScaleFactor("ten");
    EXPECT_THROW(scale.ValidTransformation(q), EConvertError);
    EXPECT_THROW(scale.Process(q), EConvertError);
    TDependentVar rscale = Response("Scale");
    rscale.SetField("X1");
    rscale.SetScaleFactor("x");
    EXPECT_THROW(rscale.ValidTransformation(q), EConvertError);

    // An unknown code yields an error, never a made-up value.
    TIndepVar unknown = Control("log");
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
