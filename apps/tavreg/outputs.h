// The files tavreg writes, kept apart from the files it reads, and written all or nothing.
#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace tavreg {

// Every output file is first written under a temporary name beside its final one; Commit renames
// them all once the run has succeeded, and the destructor of an uncommitted set removes them, and
// the folders it made, so that a failed run leaves nothing behind. No output may be one of the
// run's inputs (a database, the form file): asking for one raises UsageError.
class TOutputFiles {
  public:
    TOutputFiles() = default;
    TOutputFiles(const TOutputFiles&) = delete;
    TOutputFiles& operator=(const TOutputFiles&) = delete;
    ~TOutputFiles();

    // An input of the run; `what` says which ("the form file", "the database of Sales").
    void AddInput(const QString& path, const std::string& what);
    // Raises UsageError when `path` is one of the inputs; `option` names where it came from.
    void CheckNotInput(const QString& path, const std::string& option) const;
    // Makes the folder (and its parents) when missing; they are removed again on failure.
    void MakeFolder(const QString& path, const std::string& option);
    // The temporary name to write the output `path` to.
    QString Temporary(const QString& path, const std::string& option);
    // Renames every temporary file to its final name.
    void Commit();

  private:
    struct TInput {
        QString path;
        std::string what;
    };
    std::vector<TInput> inputs_;
    std::vector<std::pair<QString, QString>> files_;  // temporary, final
    QStringList madeFolders_;                         // deepest last
    bool committed_ = false;
};

// A message on one line: the line breaks of the system's own texts (LF CR) become blanks, every
// other control character is shown escaped (\n, \t, \x1b, \x00).
std::string OneLine(const std::string& text);
// The same for a text of several lines: line feeds stay, other control characters are escaped.
std::string Printable(const std::string& text);

}  // namespace tavreg
