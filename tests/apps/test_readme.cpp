// The README's commands run as written from the repository root: each command of its `sh` blocks,
// in a folder that holds the repository's files and this build as build/, so that what they
// write stays out of the source tree. The set-up commands (bash scripts/...) are what CI itself
// runs: they are only checked to exist.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "support/tav_paths.h"

TEST(Readme, EveryCommandRunsAsWritten) {
    const QString source = tavtest::SourceDir();
    QFile readme(source + "/README.md");
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    QStringList commands;
    bool inBlock = false;
    QString command;
    for (const QString& line : QString::fromUtf8(readme.readAll()).split('\n')) {
        if (line.startsWith("```")) inBlock = !inBlock && line == "```sh";
        if (!inBlock || line.startsWith("```") || line.trimmed().startsWith('#')) continue;
        command += line.endsWith('\\') ? line.chopped(1) : line;
        if (line.endsWith('\\')) continue;
        if (!command.trimmed().isEmpty()) commands << command.trimmed();
        command.clear();
    }
    QTemporaryDir root;
    for (const QString& entry : QDir(source).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (entry != "build") {
            ASSERT_TRUE(QFile::link(source + "/" + entry, root.filePath(entry)));
        }
    }
    ASSERT_TRUE(QFile::link(tavtest::BuildDir(), root.filePath("build")));
    int run = 0;
    for (const QString& c : commands) {
        if (c.startsWith("bash scripts/")) {
            EXPECT_TRUE(QFile::exists(root.filePath(c.section(' ', 1, 1)))) << c.toStdString();
            continue;
        }
        QProcess p;
        p.setWorkingDirectory(root.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start("bash", {"-c", c});
        ASSERT_TRUE(p.waitForStarted());
        // A window stays open until it is closed: still there after two seconds is a success.
        if (c.contains("tavdesigner") && !p.waitForFinished(2000)) {
            p.kill();
            p.waitForFinished();
            ++run;
            continue;
        }
        EXPECT_TRUE(p.waitForFinished(60000)) << c.toStdString();
        EXPECT_EQ(p.exitCode(), 0) << c.toStdString() << "\n" << p.readAll().toStdString();
        ++run;
    }
    EXPECT_GE(run, 5);
}
