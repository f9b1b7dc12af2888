#include "outputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tav/sysutils.h"
#include "terms.h"

namespace tavreg {

void KeepStandardStreams() {
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO})
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int placeholder = ::open("/dev/null", O_RDONLY);
            if (placeholder >= 0 && placeholder != fd) {
                ::dup2(placeholder, fd);
                ::close(placeholder);
            }
        }
}

void WriteStandardOutput(const std::string& bytes) {
    const char* at = bytes.data();
    for (std::size_t left = bytes.size(); left > 0;) {
        const ssize_t n = ::write(STDOUT_FILENO, at, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw tav::Exception(std::string("Cannot write standard output: ") +
                                 std::strerror(n == 0 ? EIO : errno));
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    // A file system may report a failed write only when the file is closed.
    if (::close(STDOUT_FILENO) != 0 && errno != EINTR)
        throw tav::Exception(std::string("Cannot write standard output: ") + std::strerror(errno));
}

std::string OneLine(const std::string& text) {
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool lineBreak = text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\r';
        line += lineBreak ? ' ' : text[i];
        if (lineBreak) ++i;
    }
    return tav::EscapedLine(line);
}

std::string Printable(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        out += tav::EscapedLine(text.substr(start, end - start)) + '\n';
    return out + tav::EscapedLine(text.substr(start));
}

}  // namespace tavreg
