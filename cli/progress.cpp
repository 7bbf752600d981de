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

void Progress::Search(const SearchProgress& s)
{
    if (s.total == 0) {
        Count(s.found);
        return;
    }
    // A few redraws a second are enough to read; a terminal is slow.
    const auto now = std::chrono::steady_clock::now();
    if (!enabled_ || (now - last_drawn_ < std::chrono::milliseconds(100) && s.found == last_count_))
        return;
    last_drawn_ = now;
    last_count_ = s.found;
    const std::int64_t seconds = (s.ms_left + 999) / 1000;
    char label[64];
    std::snprintf(label, sizeof label, "addresses  %zu camera%s  %lld:%02lld left", s.found, s.found == 1 ? "" : "s",
                  static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
    Bar(s.sent, s.total, label);
}

void Progress::Bar(std::size_t done, std::size_t total, const std::string& label)
{
    if (!enabled_ || total == 0)
        return;
    // Within 80 columns for up to 9999 of 9999, with room for apply's
    // "N failed, N in flight, window N, N verifying".
    constexpr std::size_t kWidth = 20;
    const std::size_t filled = done * kWidth / total;
    std::fprintf(stderr, "\r[%s%s] %zu/%zu %-46.46s", std::string(filled, '#').c_str(),
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
