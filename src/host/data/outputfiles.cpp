#include "tav/outputfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <set>

namespace tav {

namespace {

std::string Subject(const std::string& option, const QString& path) {
    const std::string quoted = "'" + path.toStdString() + "'";
    return option.empty() ? quoted : option + " " + quoted;
}

Exception Failure(const QString& path, int error) {
    return Exception("Cannot write '" + path.toStdString() + "': " + std::strerror(error));
}

std::string Folder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string Base(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// What a node that is not a regular file is, for the message that refuses it.
const char* Kind(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "not a regular file";
}

// The file `path` names: its symlinks followed (a link's target may not exist yet) and its folder
// resolved, so that the temporary is made beside the file itself and the rename leaves the links.
std::string Resolve(const QString& path, const std::string& option) {
    std::string p =
        QFile::encodeName(QDir::cleanPath(QFileInfo(path).absoluteFilePath())).toStdString();
    for (int links = 0;; ++links) {
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        if (links == 40)
            throw EOutputRefused(Subject(option, path) + ": too many levels of symbolic links");
        char target[PATH_MAX];
        const ssize_t n = ::readlink(p.c_str(), target, sizeof target);
        if (n < 0) throw Failure(path, errno);
        if (n == sizeof target) throw Failure(path, ENAMETOOLONG);
        const std::string link(target, static_cast<std::size_t>(n));
        p = link.front() == '/' ? link : Folder(p) + "/" + link;
    }
    // The folders that exist resolved, the ones still to be made appended: the same file gets
    // the same name before and after its folder is made.
    std::string folder = Folder(p), rest = "/" + Base(p);
    char resolved[PATH_MAX];
    while (!::realpath(folder.c_str(), resolved)) {
        if (folder == "/") return p;
        rest = "/" + Base(folder) + rest;
        folder = Folder(folder);
    }
    return (std::strcmp(resolved, "/") == 0 ? std::string() : std::string(resolved)) + rest;
}

// Refuses a target that exists as anything but a regular file: renamed over, a device node or a
// folder would be replaced by a file, and written into, a FIFO would block the run.
void CheckRegularOrAbsent(const std::string& target, const QString& path,
                          const std::string& option) {
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw EOutputRefused(Subject(option, path) + " is " + Kind(st.st_mode) +
                             ", not a file: only a file can be written");
}

// Writes all of `bytes`, however many calls it takes; false with errno set on an error.
bool WriteAll(int fd, const QByteArray& bytes) {
    const char* at = bytes.constData();
    for (qsizetype left = bytes.size(); left > 0;) {
        const ssize_t n = ::write(fd, at, static_cast<std::size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        at += n;
        left -= n;
    }
    return true;
}

// A name in `folder` for a temporary or a backup of `base` that nothing else uses yet.
std::string Unique(const std::string& folder, const std::string& base, const char* what) {
    static std::atomic<unsigned> counter{0};
    // Kept well under the longest file name, so that a long target still gets a temporary.
    return folder + "/." + base.substr(0, 200) + "." + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + what;
}

}  // namespace

TOutputFiles::TOutputFiles() {
    // umask can only be read by setting it: set back at once.
    umask_ = ::umask(0);
    ::umask(umask_);
}

TOutputFiles::~TOutputFiles() {
    if (committed_) return;
    for (const TOutput& o : outputs_)
        if (!o.temporary.empty()) ::unlink(o.temporary.c_str());
    for (auto it = madeFolders_.rbegin(); it != madeFolders_.rend(); ++it) QDir().rmdir(*it);
}

void TOutputFiles::AddInput(const QString& path, const std::string& what) {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode))
        inputs_.push_back({st.st_dev, st.st_ino, what});
}

void TOutputFiles::CheckNotInput(const QString& path, const std::string& option) const {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return;
    for (const TInput& input : inputs_)
        if (input.device == st.st_dev && input.inode == st.st_ino)
            throw EOutputRefused(Subject(option, path) + " is " + input.what +
                                 ": an output never replaces an input");
}

void TOutputFiles::CheckStream(int fd, const std::string& name) const {
    struct stat st;
    if (::fstat(fd, &st) != 0) return;
    for (const TInput& input : inputs_)
        if (input.device == st.st_dev && input.inode == st.st_ino)
            throw EOutputRefused(name + " is " + input.what +
                                 ": an output never replaces an input");
}

TOutputFiles::TOutput& TOutputFiles::Find(const QString& path, const std::string& option,
                                          bool declaring) {
    CheckNotInput(path, option);
    const std::string target = Resolve(path, option);
    CheckRegularOrAbsent(target, path, option);
    for (TOutput& o : outputs_) {
        if (o.target != target) continue;
        // Declared first and written now by the same option, it is the same output; any other
        // meeting of two names on one file would leave only the last one written.
        if (declaring || o.written || o.option != option)
            throw EOutputRefused(Subject(option, path) + " is named twice in this run" +
                                 (o.option != option ? " (also by " + o.option + ")" : ""));
        return o;
    }
    outputs_.push_back({path, option, target, {}, false});
    return outputs_.back();
}

void TOutputFiles::Declare(const QString& path, const std::string& option) {
    Find(path, option, true);
}

void TOutputFiles::CheckFolder(const QString& path, const std::string& option) const {
    CheckNotInput(path, option);
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode))
        throw EOutputRefused(Subject(option, path) + " is " +
                             (S_ISREG(st.st_mode) ? "a file" : Kind(st.st_mode)) +
                             ", not a folder");
}

void TOutputFiles::MakeFolder(const QString& path, const std::string& option) {
    CheckFolder(path, option);
    // Note the folders that do not exist yet, outermost first, before making them.
    QStringList missing;
    for (QString p = QFileInfo(path).absoluteFilePath(); !QFileInfo::exists(p);
         p = QFileInfo(p).absolutePath())
        missing.prepend(p);
    if (!QDir().mkpath(path))
        throw Exception("Cannot make the folder '" + path.toStdString() + "'");
    madeFolders_ += missing;
}

void TOutputFiles::Write(const QString& path, const std::string& option, const QByteArray& bytes) {
    TOutput& o = Find(path, option, false);
    struct stat old;
    const bool exists = ::stat(o.target.c_str(), &old) == 0;
    const mode_t mode = exists ? old.st_mode & 07777 : 0666 & ~umask_;

    const std::string folder = Folder(o.target), base = Base(o.target);
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        const std::string name = Unique(folder, base, ".tmp");
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            o.temporary = name;
        else if (errno != EEXIST || attempt == 100)
            throw Failure(path, errno);
    }
    auto fail = [&](int error) {
        if (fd >= 0) ::close(fd);
        ::unlink(o.temporary.c_str());
        o.temporary.clear();
        throw Failure(path, error);
    };
    if (!WriteAll(fd, bytes)) fail(errno);
    // The replaced file's owner where that can be given (as root): a user who may write the
    // folder but not give files away gets the file as their own, as any editor's save does.
    if (exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM)
        fail(errno);
    // After the owner: a change of owner clears the set-user-ID bits.
    if (::fchmod(fd, mode) != 0) fail(errno);
    if (::fsync(fd) != 0) fail(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) fail(errno);
    o.written = true;
}

void TOutputFiles::Commit() {
    struct TDone {
        const TOutput* output;
        std::string backup;  // the previous file, linked or renamed aside; empty when none
    };
    std::vector<TDone> done;
    // Puts back what the renames so far replaced, last first.
    auto rollBack = [&] {
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            const char* target = it->output->target.c_str();
            if (it->backup.empty())
                ::unlink(target);
            else
                ::rename(it->backup.c_str(), target);
        }
    };
    for (TOutput& o : outputs_) {
        if (!o.written) continue;
        TDone step{&o, {}};
        struct stat st;
        bool renamedAside = false;
        if (::lstat(o.target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            // Made since it was checked: what it is now is not this run's to replace.
            rollBack();
            throw Exception("Cannot write '" + o.path.toStdString() + "': it is now " +
                            Kind(st.st_mode) + ", not a file");
        }
        if (::lstat(o.target.c_str(), &st) == 0) {
            // A second name for the previous file keeps it whole until every rename has been
            // made; where the file system has no hard links, it is renamed aside instead.
            for (int attempt = 0; step.backup.empty(); ++attempt) {
                const std::string name = Unique(Folder(o.target), Base(o.target), ".old");
                if (::link(o.target.c_str(), name.c_str()) == 0) {
                    step.backup = name;
                } else if (errno != EEXIST && ::rename(o.target.c_str(), name.c_str()) == 0) {
                    step.backup = name;
                    renamedAside = true;
                } else if (errno != EEXIST || attempt == 100) {
                    const int error = errno;
                    rollBack();
                    throw Failure(o.path, error);
                }
            }
        }
        if (::rename(o.temporary.c_str(), o.target.c_str()) != 0) {
            const int error = errno;
            if (renamedAside)
                ::rename(step.backup.c_str(), o.target.c_str());
            else if (!step.backup.empty())
                ::unlink(step.backup.c_str());
            rollBack();
            throw Failure(o.path, error);
        }
        o.temporary.clear();
        done.push_back(std::move(step));
    }
    // The renames are on disk only once their folders are.
    std::set<std::string> folders;
    for (const TDone& d : done) folders.insert(Folder(d.output->target));
    for (const std::string& folder : folders) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        // Some file systems cannot flush a folder (EINVAL): their renames are as durable as they
        // get.
        if (fd < 0 || (::fsync(fd) != 0 && errno != EINVAL)) {
            const int error = errno;
            if (fd >= 0) ::close(fd);
            rollBack();
            throw Exception("Cannot write into the folder '" + folder +
                            "': " + std::strerror(error));
        }
        ::close(fd);
    }
    // A backup left behind would only be a stray second name of the previous file.
    for (const TDone& d : done)
        if (!d.backup.empty()) ::unlink(d.backup.c_str());
    committed_ = true;
}

void WriteFileWhole(const QString& path, const QByteArray& bytes) {
    TOutputFiles files;
    files.Write(path, "", bytes);
    files.Commit();
}

}  // namespace tav
