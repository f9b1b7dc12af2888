// tavdesigner: edits form files of regression components.
// `tavdesigner [--timeout SECONDS] [FORMFILE]`.
#include <QApplication>
#include <QCommandLineParser>
#include <iostream>

#include "designer.h"
#include "tav/db.h"
#include "tav/installwindows.h"
#include "tav/tav32reg.h"

namespace {

// A form file may open its datasets as it is read, with any QueryTimeout of its own (or none):
// at design time every statement is bounded all the same, so that opening a form whose query
// never ends gives an error instead of a window that never answers.
constexpr int kDefaultTimeout = 30;

// What Qt notes while it tries the platforms in turn (a display that does not answer, no runtime
// folder for the offscreen one): what matters is said in one line after.
void QuietWhileStarting(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type == QtFatalMsg) std::abort();
}

}  // namespace

int main(int argc, char** argv) {
    // Without a display Qt would abort with advice to reinstall: the platforms are tried in turn
    // with offscreen last, so that --help works anywhere and the lack of one is said in a line.
    const bool platformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!platformChosen) {
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                                       ? "xcb;offscreen"
                                       : "wayland;xcb;offscreen");
        qInstallMessageHandler(QuietWhileStarting);
    }
    QApplication app(argc, argv);
    qInstallMessageHandler(nullptr);
    QApplication::setApplicationName("tavdesigner");
    QCommandLineParser parser;
    parser.addPositionalArgument("FORMFILE", "the form file to open");
    const QCommandLineOption timeout(
        "timeout",
        QString("bound every statement run while designing to SECONDS (1 to %1, default %2)")
            .arg(tav::TDataSet::kMaxQueryTimeout)
            .arg(kDefaultTimeout),
        "SECONDS", QString::number(kDefaultTimeout));
    parser.addOption(timeout);
    parser.addHelpOption();
    parser.process(app);
    bool ok = false;
    const int seconds = parser.value(timeout).toInt(&ok);
    if (!ok || seconds < 1 || seconds > tav::TDataSet::kMaxQueryTimeout) {
        std::cerr << "tavdesigner: --timeout: '" << parser.value(timeout).toStdString()
                  << "' is not a number of seconds from 1 to " << tav::TDataSet::kMaxQueryTimeout
                  << "\n";
        return 2;
    }
    if (!platformChosen && QGuiApplication::platformName() == "offscreen") {
        std::cerr << "tavdesigner: no display could be opened (DISPLAY and WAYLAND_DISPLAY name "
                     "none that answers); run it in a desktop session\n";
        return 1;
    }
    tav::SetStatementTimeoutCap(seconds);
    tav::Register();
    tav::RegisterRegressionWindows();
    tav::TDesignerWindow window;
    const QStringList args = parser.positionalArguments();
    if (!args.isEmpty()) window.OpenFile(args[0]);
    window.show();
    return app.exec();
}
