#include "ops/journal_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantoro::ops {

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Every folder of path up to and including folder, each made 0700 when
// missing. Above the state folder the user's own layout is followed.
bool MakeFolders(const std::string& folder)
{
    const std::string path = folder + "/";
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (::mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

std::string Octal(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
    return text;
}

// Why what is open at fd cannot hold the journal; empty when it can. what is
// "it" for the file, "its folder ..." for the folder.
std::string Untrusted(int fd, const std::string& what, bool folder)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::strerror(errno);
    if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))
        return what + (folder ? " is not a folder" : " is not a regular file");
    if (st.st_uid != ::geteuid())
        return what + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return what + " is writable by others (mode " + Octal(st.st_mode) + ")";
    return {};
}

// The reason an openat with O_NOFOLLOW failed, naming a symlink as such.
std::string OpenError(int dir, const char* name, const std::string& what, int error)
{
    struct stat st {};
    if ((error == ELOOP || error == ENOTDIR) && ::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode))
        return what + " is a symbolic link";
    if (error == ENXIO || error == ENOTDIR)
        return what + " is not a " + (error == ENOTDIR ? "folder" : "regular file");
    return std::strerror(error);
}

} // namespace

JournalFd OpenJournalFile(const std::string& path, JournalAccess access)
{
    const bool append = access == JournalAccess::Append;
    JournalFd out;
    const std::size_t file_slash = path.rfind('/');
    const std::size_t folder_slash = file_slash == std::string::npos || file_slash == 0
                                         ? std::string::npos
                                         : path.rfind('/', file_slash - 1);
    if (path.empty() || path[0] != '/' || folder_slash == std::string::npos || file_slash + 1 == path.size()) {
        out.error = "not a path of the form STATE/FOLDER/FILE";
        return out;
    }
    const std::string state = folder_slash == 0 ? "/" : path.substr(0, folder_slash);
    const std::string folder_name = path.substr(folder_slash + 1, file_slash - folder_slash - 1);
    const std::string file_name = path.substr(file_slash + 1);
    const std::string folder = path.substr(0, file_slash);

    if (append && !MakeFolders(state)) {
        out.error = std::strerror(errno);
        return out;
    }
    const Fd state_fd(::open(state.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (state_fd.get() < 0) {
        if (!append && errno == ENOENT)
            return out;
        out.error = std::strerror(errno);
        return out;
    }
    if (append && ::mkdirat(state_fd.get(), folder_name.c_str(), 0700) != 0 && errno != EEXIST) {
        out.error = std::strerror(errno);
        return out;
    }
    const std::string folder_what = "its folder " + folder;
    const Fd folder_fd(::openat(state_fd.get(), folder_name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder_fd.get() < 0) {
        if (!append && errno == ENOENT)
            return out;
        out.error = OpenError(state_fd.get(), folder_name.c_str(), folder_what, errno);
        return out;
    }
    if (std::string why = Untrusted(folder_fd.get(), folder_what, true); !why.empty()) {
        out.error = why;
        return out;
    }
    // O_NONBLOCK: a FIFO planted here must not hang the program on opening.
    const int flags = (append ? O_WRONLY | O_APPEND | O_CREAT : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
                      O_CLOEXEC;
    Fd file(::openat(folder_fd.get(), file_name.c_str(), flags, 0600));
    if (file.get() < 0) {
        if (!append && errno == ENOENT)
            return out;
        out.error = OpenError(folder_fd.get(), file_name.c_str(), "it", errno);
        return out;
    }
    if (std::string why = Untrusted(file.get(), "it", false); !why.empty()) {
        out.error = why;
        return out;
    }
    // A regular file: blocking reads and writes are what is wanted now.
    ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
    // A file left readable by others holds who changed what: made private.
    if (append)
        ::fchmod(file.get(), 0600);
    out.fd = file.release();
    return out;
}

Error AppendJournalLine(int fd, std::string_view line)
{
    // Every writer holds the lock across its append, so where the file ended
    // is still where this line begins when a failed write is cut back.
    // Never a wait without end (the sheet appends on its GUI thread): another
    // writer holds the lock for one write, so a second is plenty.
    for (int tries = 0; ::flock(fd, LOCK_EX | LOCK_NB) != 0; ++tries) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return std::string("cannot lock it: ") + std::strerror(errno);
        if (tries == 100)
            return std::string("another program has held it locked for a second");
        ::usleep(10000);
    }
    std::string error;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = std::strerror(errno);
    } else {
        std::size_t done = 0;
        while (done < line.size()) {
            const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = n < 0 ? std::strerror(errno) : "nothing was written";
                break;
            }
            done += std::size_t(n);
        }
        if (!error.empty() && done > 0 && ::ftruncate(fd, st.st_size) != 0)
            error += std::string(", and the part written could not be cut back: ") + std::strerror(errno);
        else if (!error.empty() && done > 0)
            error += " (the part written was cut back)";
    }
    ::flock(fd, LOCK_UN);
    return error.empty() ? Error() : Error(error);
}

} // namespace vantoro::ops
