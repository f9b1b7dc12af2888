// The records of the transformation table's test, shared by its SQLite and PostgreSQL programs:
// each kind at its thresholds, loaded, predicted (ValueOf) and computed by the kind's SQL.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/tav_test_support.h"
#include "tav/tavquery.h"
#include "tav/tavtypes.h"

namespace tavtest::transformations {

using enum tav::TRole;
using enum tav::TSkipReason;

struct TValueCase {
    tav::TRole role;
    const char* code;
    const char* parameter;  // the exponent or scale factor; null: the default
    const char* x1;         // the record's fields X1 and X2, as SQL
    const char* x2;
    tav::TSkipReason reason;  // why the load skips the record
    double value;             // the value of a record it loads
};

// clang-format off
inline const TValueCase kValueCases[] = {
    {Control, "None", nullptr, "NULL", "1", NullField, 0},
    {Control, "None", nullptr, "0", "1", None, 0},
    {Control, "None", nullptr, "2.5", "0", None, 2.5},
    {Control, "Log", nullptr, "NULL", "1", NullField, 0},
    {Control, "Log", nullptr, "1e-20", "1", NotPositive, 0},
    {Control, "Log", nullptr, "2e-20", "1", None, std::log(2e-20)},
    {Control, "Log", nullptr, "0", "1", NotPositive, 0},
    {Control, "Log", nullptr, "-5", "1", NotPositive, 0},
    {Control, "Log", nullptr, "10", "0", None, std::log(10.0)},
    {Control, "Inverse", nullptr, "1e-20", "1", None, 1e20},
    {Control, "Inverse", nullptr, "-1e-20", "1", None, -1e20},
    {Control, "Inverse", nullptr, "0", "1", SmallDivisor, 0},
    {Control, "Inverse", nullptr, "4", "0", None, 0.25},
    {Control, "Sqrt", nullptr, "1e-20", "1", NotPositive, 0},
    {Control, "Sqrt", nullptr, "-1", "1", NotPositive, 0},
    {Control, "Sqrt", nullptr, "4", "1", None, 2},
    {Control, "Sqrt", nullptr, "2.25", "0", None, 1.5},
    {Control, "Power", "2", "NULL", "1", NullField, 0},
    {Control, "Power", "2", "-3", "1", None, 9},
    {Control, "Power", "3", "-2", "0", None, -8},
    {Control, "Power", "3", "2", "0", None, 8},
    {Control, "Power", "3", "0", "0", None, 0},
    {Control, "Power", "0.5", "6.25", "0", None, 2.5},
    {Control, "Power", nullptr, "6.25", "0", None, 6.25},  // the default exponent "1.00"
    {Control, "Power", "1.5", "6.25", "0", None, 15.625},
    {Control, "Power", "0.5", "-4", "0", NegativeFractionalPower, 0},
    {Control, "Power", "1.00", "-4", "0", None, -4},
    {Control, "Power", "0", "5", "0", ExponentBelowHalf, 0},
    {Control, "Power", "-1", "5", "0", ExponentBelowHalf, 0},
    {Control, "Power", "0.49", "5", "0", ExponentBelowHalf, 0},
    {Control, "Power", "0.5", "5", "0", None, std::sqrt(5.0)},
    {Control, "Power", "1.00", "5", "0", None, 5},
    {Control, "Power", "2", "5", "0", None, 25},
    {Control, "Scale", nullptr, "-3", "1", None, -0.3},
    {Control, "Scale", "4", "10", "0", None, 2.5},
    {Control, "Scale", "0", "5", "0", ZeroScaleFactor, 0},
    {Control, "Scale", "1e-20", "5", "0", ZeroScaleFactor, 0},  // exactly 1E-20 is refused
    {Control, "Scale", "-2e-20", "5", "0", None, -2.5e20},
    {Control, "Product", nullptr, "1", "NULL", NullField, 0},
    {Control, "Product", nullptr, "1", "0", None, 0},
    {Control, "Product", nullptr, "3", "-1.5", None, -4.5},
    {Control, "Quotient", nullptr, "1", "0", SmallDivisor, 0},
    {Control, "Quotient", nullptr, "1", "NULL", NullField, 0},
    {Control, "Quotient", nullptr, "1", "1e-20", None, 1e20},
    {Control, "Quotient", nullptr, "1", "-1e-20", None, -1e20},
    {Control, "Quotient", nullptr, "0", "2", None, 0},
    {Control, "Quotient", nullptr, "3", "4", None, 0.75},
    {Response, "None", nullptr, "NULL", "1", NullField, 0},
    {Response, "None", nullptr, "-7", "1", None, -7},
    {Response, "Log", nullptr, "NULL", "1", NullField, 0},
    {Response, "Log", nullptr, "1e-20", "1", NotPositive, 0},
    {Response, "Log", nullptr, "0", "1", NotPositive, 0},
    {Response, "Log", nullptr, "-1", "1", NotPositive, 0},
    {Response, "Inverse", nullptr, "1e-20", "1", SmallDivisor, 0},  // a control's may be 1E-20
    {Response, "Inverse", nullptr, "-1e-20", "1", SmallDivisor, 0},
    {Response, "Inverse", nullptr, "0", "1", SmallDivisor, 0},
    {Response, "Inverse", nullptr, "4", "1", None, 0.25},
    {Response, "Scale", "0", "4", "1", ZeroScaleFactor, 0},
    {Response, "Scale", "2", "7", "1", None, 3.5},
};
// clang-format on

// The cases' records, read in one query of `database` (doubles of SQL type `real`) that also
// computes each control variable's SQL (column S<case>); the load, ValueOf and the SQL agree with
// each case.
inline void CheckTransformationValues(const std::string& database, const std::string& real) {
    const auto near = [](double a, double b) { return std::fabs(a - b) <= 1E-15 * std::fabs(b); };
    std::vector<tav::TIndepVar> controls;
    std::vector<tav::TDependentVar> responses;
    std::string columns, rows;
    for (const TValueCase& c : kValueCases) {
        const tav::TTransformationKind* kind = tav::FindKind(c.code, c.role);
        ASSERT_NE(kind, nullptr) << c.code;
        controls.push_back(tavtest::Control(c.code, "X1"));
        controls.back().SetField2("X2");
        responses.push_back(tavtest::Response("X1", c.code));
        tav::TStringList& var =
            c.role == Control ? static_cast<tav::TStringList&>(controls.back()) : responses.back();
        if (c.parameter) var.SetStrings(kind->parameter->entry, c.parameter);
        // A definition whose parameter the load refuses loads nothing to be scored.
        const bool scored =
            c.role == Control && c.reason != ExponentBelowHalf && c.reason != ZeroScaleFactor;
        const double parameter =
            kind->parameter ? tav::StrToFloat(var[kind->parameter->entry]) : 0.0;
        const std::string k = std::to_string(controls.size() - 1);
        columns += ", " + (scored ? kind->sql("X1", "X2", parameter) : "NULL") + " AS S" + k;
        rows += (rows.empty() ? "SELECT " : " UNION ALL SELECT ") + k + " AS id, CAST(" + c.x1 +
                " AS " + real + ") AS X1, CAST(" + c.x2 + " AS " + real + ") AS X2";
    }
    tav::TQuery q;
    q.SetDatabaseName(database);
    q.SetSQLText("SELECT X1, X2" + columns + " FROM (" + rows + ") AS r ORDER BY id");
    q.Open();
    for (std::size_t k = 0; k < std::size(kValueCases); ++k, q.Next()) {
        const TValueCase& c = kValueCases[k];
        SCOPED_TRACE(std::string(c.code) + "(" + c.x1 + ", " + c.x2 + ") " +
                     (c.parameter ? c.parameter : "") + (c.role == Response ? " response" : ""));
        const tav::TIndepVar& control = controls[k];
        const tav::TDependentVar& response = responses[k];
        const auto reason = c.role == Control ? control.CheckRecord(q) : response.CheckRecord(q);
        EXPECT_STREQ(tav::SkipReasonText(reason), tav::SkipReasonText(c.reason));
        const tav::TField* x1 = q.FieldByName("X1");
        const tav::TField* x2 = q.FieldByName("X2");
        if (c.role == Control && !x1->IsNull() && !x2->IsNull()) {
            tav::TSkipReason predicted;
            const double value = control.ValueOf(x1->AsFloat(), x2->AsFloat(), predicted);
            EXPECT_STREQ(tav::SkipReasonText(predicted), tav::SkipReasonText(c.reason));
            EXPECT_TRUE(c.reason != None ||
                        tavtest::Bits(value) == tavtest::Bits(control.Process(q)));
        }
        const tav::TField* sql = q.FieldByName("S" + std::to_string(k));
        const bool scored = !sql->IsNull();
        EXPECT_EQ(scored, c.role == Control && c.reason == None);
        if (c.reason != None) continue;
        const double value = c.role == Control ? control.Process(q) : response.Process(q);
        EXPECT_TRUE(near(value, c.value)) << value;
        EXPECT_TRUE(!scored || near(sql->AsFloat(), value)) << value;
    }
}

}  // namespace tavtest::transformations
