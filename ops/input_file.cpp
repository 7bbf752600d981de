#include "ops/input_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantoro::ops {

Result<std::string> ReadInputFile(const std::string& path, const std::string& what, std::size_t max_bytes)
{
    std::string text;
    const auto failed = [&] { return Error("cannot read " + what + " " + path + ": " + std::strerror(errno)); };
    const auto too_large = [&] {
        return Error(what + " " + path + " is larger than " + std::to_string(max_bytes / 1024) +
                     " KiB; that is no file of this kind");
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failed();
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && std::size_t(st.st_size) > max_bytes) {
        ::close(fd);
        return too_large();
    }
    // A device or a pipe tells no size: read at most one byte beyond the bound.
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return failed();
        }
        if (n == 0)
            break;
        text.append(buffer, std::size_t(n));
        if (text.size() > max_bytes) {
            ::close(fd);
            return too_large();
        }
    }
    ::close(fd);
    return text;
}

} // namespace vantoro::ops
