// tavdesigner: edits form files of regression components. `tavdesigner [FORMFILE]`.
#include <QApplication>

#include "design/tav32reg.h"
#include "designer.h"
#include "forms/tavwindows.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("tavdesigner");
    tav::Register();
    tav::RegisterRegressionWindows();
    tav::TDesignerWindow window;
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) window.OpenFile(args[1]);
    window.show();
    return app.exec();
}
