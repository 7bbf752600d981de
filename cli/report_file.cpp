#include "cli/report_file.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace vantoro::cli {

ReportFile::~ReportFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!temp_.empty())
        ::unlink(temp_.c_str());
}

bool ReportFile::Open(const std::string& path)
{
    path_ = path;
    std::string temp = path + ".XXXXXX";
    fd_ = ::mkstemp(temp.data());
    if (fd_ < 0)
        return false;
    temp_ = temp;
    // As a newly made file would be, rather than mkstemp's 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    return true;
}

bool ReportFile::Commit(const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    const bool written = done == text.size() && ::fsync(fd_) == 0;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!written || !closed || ::rename(temp_.c_str(), path_.c_str()) != 0)
        return false;
    temp_.clear();
    return true;
}
} // namespace vantoro::cli
