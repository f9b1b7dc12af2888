#include "support/tav_app_support.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <fstream>
#include <stdexcept>

namespace tavtest {

TProgramResult RunOffscreen(const QString& program, const QStringList& args,
                            const TEnvironment& env, const QString& outFile) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("QT_QPA_PLATFORM", "offscreen");
    if (env) env(e);
    p.setProcessEnvironment(e);
    if (!outFile.isEmpty()) p.setStandardOutputFile(outFile, QIODevice::Append);
    QElapsedTimer clock;
    clock.start();
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        const QString error = p.errorString();
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << program.toStdString() << ": " << error.toStdString();
        return {-1, {}, error, clock.elapsed()};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError()), clock.elapsed()};
}

TProgramResult Tavreg(const QStringList& args, const TEnvironment& env, const QString& outFile) {
    return RunOffscreen(TavregPath(), args, env, outFile);
}

QJsonArray Regressions(const TProgramResult& run) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(run.out.toUtf8(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    return doc.object()["regressions"].toArray();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out || !(out << bytes)) throw std::runtime_error("cannot write " + path);
}

}  // namespace tavtest
