// Every transformation kind through every path that reads the table: the load, ValueOf and the
// scoring SQL run by SQLite (the PostgreSQL program runs the same records on a server), the terms
// of the report, the definition dialogs' previews and tavreg's term syntax.
#include <gtest/gtest.h>

#include "support/tav_ui_support.h"
#include "tav/tavctrl.h"
#include "tav/tavresp.h"
#include "terms.h"
#include "transformation_cases.h"

using namespace tavtest::transformations;

namespace {

// The dialog's status line as it opens on `v` for a query (whose field names are typed).
template <typename Dlg, typename Var>
std::string Status(const Var& v) {
    tav::TTAVQuery query;
    Var edited;
    edited.Assign(v);
    std::string status;
    tavtest::TModalDriver driver([&](QDialog* d) {
        status = tavtest::Child<tav::TPanel>(*d, "Panel2")->Caption().toStdString();
    });
    Dlg dialog;
    dialog.OpenForm(&query, "V", edited, tav::TStringList());
    return status;
}

}  // namespace

TEST(Transformations, ValuesOfTheLoadOfValueOfAndOfTheSqlAgree) {
    tavtest::TTempDb db;
    CheckTransformationValues(db.Exec("CREATE TABLE t(a INTEGER);"), "REAL");
}

TEST(Transformations, TermsOfTheReportTheDialogsAndTavreg) {
    // Control variables read SALES and COST, the response PRICE.
    const struct {
        tav::TRole role;
        const char* code;
        const char* parameter;  // null: the default
        const char* report;
        const char* status;  // null: no choice of the dialog shows it
        const char* syntax;  // tavreg's term, "" for none
    } cases[] = {
        {Control, "None", nullptr, "SALES", "SALES", "SALES"},
        {Control, "Log", nullptr, "Ln(SALES)", "ln(SALES)", "Log(SALES)"},
        {Control, "Inverse", nullptr, "1/SALES", "1/(SALES)", "Inverse(SALES)"},
        {Control, "Sqrt", nullptr, "SALES^1/2", "SALES^1/2", "Sqrt(SALES)"},
        {Control, "Power", "2", "SALES^2", "SALES^2", "Power(SALES,2)"},
        // The exponent and the factor are printed exactly as stored.
        {Control, "Power", nullptr, "SALES^1.00", "SALES^1.00", "Power(SALES,1.00)"},
        {Control, "Scale", "1000", "SALES/1000", "SALES/1000", "Scale(SALES,1000)"},
        {Control, "Product", nullptr, "SALES*COST", "SALES*COST", "Product(SALES,COST)"},
        {Control, "Quotient", nullptr, "SALES/COST", "SALES/COST", "Quotient(SALES,COST)"},
        {Control, "Undefined", nullptr, "Disabled", "Inactive", ""},
        {Control, "Inactive", nullptr, "Disabled", nullptr, ""},
        {Response, "None", nullptr, "PRICE", "PRICE", "PRICE"},
        {Response, "Log", nullptr, "Ln(PRICE)", "ln(PRICE)", "Log(PRICE)"},
        {Response, "Inverse", nullptr, "1/(PRICE)", "1/(PRICE)", "Inverse(PRICE)"},
        {Response, "Scale", "100", "PRICE/100", "PRICE/100", "Scale(PRICE,100)"},
        {Response, "Inactive", nullptr, "Disabled", nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.code) + (c.role == Response ? " response" : ""));
        tav::TIndepVar control = tavtest::Control("None", "SALES");
        control.SetField2("COST");
        tav::TDependentVar response = tavtest::Response("PRICE");
        tav::TStringList& var = c.role == Control ? static_cast<tav::TStringList&>(control)
                                                  : static_cast<tav::TStringList&>(response);
        var.SetStrings(1, c.code);
        if (c.parameter)
            var.SetStrings(tav::FindKind(c.code, c.role)->parameter->entry, c.parameter);
        EXPECT_EQ(c.role == Control ? control.OutputTerm() : response.OutputTerm(), c.report);
        if (c.status) {
            EXPECT_EQ(c.role == Control ? Status<tav::TControlDefDlg>(control)
                                        : Status<tav::TResponseDefDlg>(response),
                      c.status);
        }
        EXPECT_EQ(tavreg::TermSyntax(var, c.role), c.syntax);
        // Read back, the term gives the same definition.
        const auto same = [&](const auto& read) {
            EXPECT_EQ(read.OutputTerm(), c.report);
            EXPECT_EQ(tavreg::TermSyntax(read, c.role), c.syntax);
        };
        if (*c.syntax != '\0' && c.role == Control) same(tavreg::ControlTerm(c.syntax));
        if (*c.syntax != '\0' && c.role == Response) same(tavreg::ResponseTerm(c.syntax));
    }
}
