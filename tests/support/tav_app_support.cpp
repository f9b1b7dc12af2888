#include "support/tav_app_support.h"

#include <QProcess>
#include <fstream>
#include <stdexcept>

namespace tavtest {

TProgramResult RunOffscreen(const QString& program, const QStringList& args,
                            const std::function<void(QProcessEnvironment&)>& env) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("QT_QPA_PLATFORM", "offscreen");
    if (env) env(e);
    p.setProcessEnvironment(e);
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {-1, {}, "did not finish within a minute"};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out || !(out << bytes)) throw std::runtime_error("cannot write " + path);
}

}  // namespace tavtest
