// tavreg: runs a regression of the bundled sample database (or of the SQLite file given as the
// first argument) and prints what was loaded.
#include <tav/tav.h>

#include <QApplication>
#include <cstdio>
#include <iostream>

namespace {

void Define(tav::TTAVTable& table) {
    tav::TIndepVar var;
    var.SetTransformation("Log");
    var.SetField1("ADVERT");
    table.SetControl1(var);

    var.SetTransformation("None");
    var.SetField1("PRICE");
    table.SetControl2(var);

    var.SetField1("STORES");
    table.SetControl3(var);

    var.SetField1("COMPETITORS");
    table.SetControl4(var);

    tav::TDependentVar response;
    response.SetField("UNITS");
    table.SetResponse(response);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("tavreg");

    // Headless: message boxes go to standard error and are answered with OK.
    tav::SetMessageDlgHook([](const std::string& msg, tav::TMsgDlgType type, tav::TMsgDlgButtons) {
        std::cerr << "tavreg: " << tav::MsgDlgCaption(type) << ": " << tav::DisplayText(msg)
                  << "\n";
        return static_cast<uint16_t>(tav::mrOk);
    });

    const std::string database = argc > 1 ? argv[1] : TAV_SAMPLE_DB;
    try {
        tav::TTAVTable table;
        table.SetName("SalesRegression");
        table.SetDatabaseName(database);
        table.SetTableName("sales");
        Define(table);
        table.Open();
        table.ReLoad();
        if (!table.ValuesLoaded()) {
            std::cerr << "tavreg: nothing usable was loaded from " << database << "\n";
            return 1;
        }
        std::cout << "Database:          " << database << "\n"
                  << "Table:             " << table.TableName() << "\n"
                  << "Records in table:  " << table.RecordCount() << "\n"
                  << "Records loaded:    " << table.DataCount() << "\n"
                  << "Response:          " << table.ResponseVarY()->OutputTerm() << "\n"
                  << "Control variables: " << table.VarCount() << "\n";
        for (uint16_t k = 1; k <= table.VarCount(); ++k)
            std::cout << "  X" << k << " = " << table.GetcVar(k)->OutputTerm() << "  (min "
                      << tav::FloatToStr(table.GetxMin(k)) << ", max "
                      << tav::FloatToStr(table.GetxMax(k)) << ")\n";
        std::cout << "Degrees of freedom: " << table.GetDOF() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "tavreg: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
