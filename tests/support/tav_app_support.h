// Helpers of the tests that run the programs (tavreg) as a user would, and of those that need
// files of their own making.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

namespace tavtest {

struct TProgramResult {
    int exitCode;  // -1 when the program did not end normally
    QString out;
    QString err;
};

// Runs `program` on the offscreen platform and waits up to a minute for it; `env` may change its
// environment after that.
TProgramResult RunOffscreen(const QString& program, const QStringList& args,
                            const std::function<void(QProcessEnvironment&)>& env = {});

// Writes `bytes` to the file `path`, replacing it.
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace tavtest
