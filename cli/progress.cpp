#include "cli/progress.h"

#include <cstdio>
#include <unistd.h>

namespace vantoro::cli {

Progress::Progress() : enabled_(::isatty(STDERR_FILENO) == 1) {}

void Progress::Count(std::size_t found)
{
    if (!enabled_ || found == last_count_)
        return;
    last_count_ = found;
    std::fprintf(stderr, "\r%zu camera%s answered", found, found == 1 ? "" : "s");
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::Bar(std::size_t done, std::size_t total, const std::string& label)
{
    if (!enabled_ || total == 0)
        return;
    constexpr std::size_t kWidth = 30;
    const std::size_t filled = done * kWidth / total;
    std::fprintf(stderr, "\r[%s%s] %zu/%zu %-20.20s", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '.').c_str(), done, total, label.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::Finish()
{
    if (drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    drawn_ = false;
    last_count_ = std::size_t(-1);
}

} // namespace vantoro::cli
