// A host program of the installed package: builds a small SQLite table, fits y = 1 + 2x + noise
// with a table component, and prints the coefficients. Exit status 0 when they are right.
#include <sqlite3.h>
#include <tav/design.h>
#include <tav/tav.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cmath>
#include <iostream>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The matrix display routines show their box before any dataset or window was used.
    if (!tav::HasMessageDlgPresenter()) {
        std::cerr << "no message box presenter at start\n";
        return 1;
    }
    QTemporaryDir dir;
    const std::string path = dir.filePath("data.db").toStdString();
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE t(x REAL, y REAL);"
                 "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 50)"
                 " INSERT INTO t SELECT i, 1 + 2 * i + (i % 3 - 1) * 0.01 FROM s;",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);

    tav::TTAVTable table;
    table.SetDatabaseName(path);
    table.SetTableName("t");
    tav::TIndepVar x;
    x.SetTransformation("None");
    x.SetField1("x");
    table.SetControl1(x);
    tav::TDependentVar y;
    y.SetField("y");
    table.SetResponse(y);
    table.Open();
    table.ReLoad();
    table.Execute();
    std::cout << "b0 " << table.Getb(0) << "  b1 " << table.Getb(1) << "  R2 "
              << table.GetRSquared() << "  (" << table.LoadSummary() << ")\n";
    tav::Register();
    const bool ok = std::fabs(table.Getb(0) - 1) < 1e-2 && std::fabs(table.Getb(1) - 2) < 1e-3 &&
                    tav::RegisteredComponents("Brannock Statistics").size() == 2;
    return ok ? 0 : 1;
}
