// The one writer of the files the programs make (tavreg's outputs, tavdesigner's form file): a file
// is there whole, as it was before, or not at all, and a write that fails says so.
//
// Each output is written to a temporary created exclusively beside its target, every write, the
// flush to disk and the close checked, and renamed over the target only when the whole set
// commits; a set that does not commit removes its temporaries (and the folders it made). A target
// must be a regular file or absent: a device, a FIFO, a socket or a folder is refused, since a
// rename would replace the node itself. A symlink is followed, so the file it names is written and
// the link stays; an existing file keeps its mode.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "tav/sysutils.h"

namespace tav {

// An output that cannot be asked for (a target that is not a regular file, an input of the run,
// a name given twice): a wrong request, which a program reports as such, not a failed write.
class EOutputRefused : public Exception {
  public:
    using Exception::Exception;
};

// The outputs of one run. `option` in each call names where a path came from ("--pdf"); the
// refusals raise EOutputRefused naming it, the failed writes Exception naming the path.
class TOutputFiles {
  public:
    TOutputFiles();
    TOutputFiles(const TOutputFiles&) = delete;
    TOutputFiles& operator=(const TOutputFiles&) = delete;
    // Without Commit, removes the temporaries and the folders MakeFolder made.
    ~TOutputFiles();

    // An input of the run; `what` says which ("the form file", "the database of Sales"). Inputs
    // are known by their file, so a link or another name of one is that input too.
    void AddInput(const QString& path, const std::string& what);
    // Refuses `path` when it is one of the inputs.
    void CheckNotInput(const QString& path, const std::string& option) const;
    // Refuses the open file `fd` (standard output: 1) when it is one of the inputs.
    void CheckStream(int fd, const std::string& name) const;

    // Names an output before anything is written, so that a bad target or a name given twice is
    // refused before the run begins. Writing a path declares it too.
    void Declare(const QString& path, const std::string& option);
    // Refuses a folder for outputs that is an input or exists as something else than a folder.
    void CheckFolder(const QString& path, const std::string& option) const;
    // Makes the folder (and its parents) when missing; they are removed again without Commit.
    void MakeFolder(const QString& path, const std::string& option);
    // Writes the whole content of the output `path` to its temporary.
    void Write(const QString& path, const std::string& option, const QByteArray& bytes);
    // Renames every temporary over its target, all or none: when one rename fails, the targets
    // already replaced get their previous file back.
    void Commit();

  private:
    struct TInput {
        dev_t device;
        ino_t inode;
        std::string what;
    };
    struct TOutput {
        QString path;        // as asked for, for messages
        std::string option;  // the option that asked for it
        std::string target;  // the file written: links followed, the folder resolved
        std::string temporary;
        bool written = false;
    };
    TOutput& Find(const QString& path, const std::string& option, bool declaring);

    std::vector<TInput> inputs_;
    std::vector<TOutput> outputs_;
    QStringList madeFolders_;  // outermost first
    mode_t umask_;
    bool committed_ = false;
};

// Writes one file whole or not at all, by the rules of TOutputFiles.
void WriteFileWhole(const QString& path, const QByteArray& bytes);

}  // namespace tav
