// Helpers of the tests that run the programs (tavreg) as a user would, and of those that need
// files of their own making.
#pragma once

#include <QJsonArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

#include "support/tav_paths.h"

namespace tavtest {

struct TProgramResult {
    int exitCode;  // -1 when the program did not end normally
    QString out;   // empty when it went to a file
    QString err;
    qint64 ms;  // wall time
};

// A change to the environment a program runs in.
using TEnvironment = std::function<void(QProcessEnvironment&)>;

// Runs `program` on the offscreen platform, with the environment changed by `env` when given,
// and waits up to a minute for it (past that it is killed and the test fails). Its standard
// output is appended to the file `outFile` when one is named.
TProgramResult RunOffscreen(const QString& program, const QStringList& args,
                            const TEnvironment& env = {}, const QString& outFile = {});

// tavreg, run so.
TProgramResult Tavreg(const QStringList& args, const TEnvironment& env = {},
                      const QString& outFile = {});

// The regressions of tavreg's JSON output: the run's one JSON document, else the test fails.
QJsonArray Regressions(const TProgramResult& run);

// Writes `bytes` to the file `path`, replacing it.
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace tavtest
