#include "outputs.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#include "host/sysutils.h"
#include "terms.h"

namespace tavreg {

namespace {

// The path with its folder's links resolved, whether or not the file exists yet.
QString Resolved(const QString& path) {
    const QFileInfo info(path);
    if (info.exists()) return info.canonicalFilePath();
    const QString folder = info.absoluteDir().canonicalPath();
    return folder.isEmpty() ? info.absoluteFilePath() : QDir(folder).filePath(info.fileName());
}

void Escape(std::string& out, unsigned char c) {
    switch (c) {
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            break;
    }
    if (c < 0x20 || c == 0x7f) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += hex;
    } else {
        out += static_cast<char>(c);
    }
}

}  // namespace

TOutputFiles::~TOutputFiles() {
    if (committed_) return;
    for (const auto& [temporary, final] : files_) QFile::remove(temporary);
    for (auto it = madeFolders_.rbegin(); it != madeFolders_.rend(); ++it) QDir().rmdir(*it);
}

void TOutputFiles::AddInput(const QString& path, const std::string& what) {
    if (QFileInfo(path).isFile()) inputs_.push_back({Resolved(path), what});
}

void TOutputFiles::CheckNotInput(const QString& path, const std::string& option) const {
    const QString resolved = Resolved(path);
    for (const auto& input : inputs_)
        if (input.path == resolved)
            throw UsageError(option + " '" + path.toStdString() + "' is " + input.what +
                             ": an output never replaces an input");
}

void TOutputFiles::MakeFolder(const QString& path, const std::string& option) {
    CheckNotInput(path, option);
    const QFileInfo info(path);
    if (info.exists() && !info.isDir())
        throw UsageError(option + " '" + path.toStdString() + "' is a file, not a folder");
    // Note the folders that do not exist yet, outermost first, before making them.
    QStringList missing;
    for (QString p = info.absoluteFilePath(); !QFileInfo::exists(p);
         p = QFileInfo(p).absolutePath())
        missing.prepend(p);
    if (!QDir().mkpath(path))
        throw tav::Exception("Cannot make the folder '" + path.toStdString() + "'");
    madeFolders_ += missing;
}

QString TOutputFiles::Temporary(const QString& path, const std::string& option) {
    CheckNotInput(path, option);
    const QFileInfo info(path);
    const QString temporary = info.absoluteDir().filePath("." + info.fileName() +
                                                          QString(".tavreg-%1.tmp").arg(getpid()));
    files_.emplace_back(temporary, path);
    return temporary;
}

void TOutputFiles::Commit() {
    for (const auto& [temporary, final] : files_) {
        // rename() replaces an existing file in one step.
        if (std::rename(QFile::encodeName(temporary).constData(),
                        QFile::encodeName(final).constData()) != 0)
            throw tav::Exception("Cannot write '" + final.toStdString() + "'");
    }
    committed_ = true;
}

std::string OneLine(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\r') {
            out += ' ';
            ++i;
            continue;
        }
        Escape(out, static_cast<unsigned char>(text[i]));
    }
    return out;
}

std::string Printable(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n')
            out += c;
        else
            Escape(out, static_cast<unsigned char>(c));
    }
    return out;
}

}  // namespace tavreg
