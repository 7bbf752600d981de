#include "link/search_round.h"

namespace vantoro {

namespace {
constexpr auto kNoDeadline = SearchRound::Clock::time_point::max().time_since_epoch().count();
} // namespace

void SearchRound::Begin(Clock::time_point now, std::chrono::milliseconds window, std::uint64_t drops_total)
{
    std::lock_guard lock(mutex_);
    under_way_ = true;
    window_ = window;
    bursts_ = 1;
    drops_at_begin_ = drops_at_window_ = drops_total;
    lost_ = 0;
    deadline_.store((now + window).time_since_epoch().count());
}

SearchRound::Step SearchRound::Check(Clock::time_point now, std::uint64_t drops_total)
{
    std::lock_guard lock(mutex_);
    if (!under_way_ || now < deadline())
        return Step::Wait;
    if (drops_total == drops_at_window_) {
        under_way_ = false;
        lost_ = 0;
        deadline_.store(kNoDeadline);
        return Step::EndedClean;
    }
    if (bursts_ > kExtraBursts) {
        under_way_ = false;
        lost_ = drops_total - drops_at_begin_;
        deadline_.store(kNoDeadline);
        return Step::EndedIncomplete;
    }
    ++bursts_;
    drops_at_window_ = drops_total;
    deadline_.store((now + window_).time_since_epoch().count());
    return Step::SendAgain;
}

void SearchRound::End(std::uint64_t drops_total)
{
    std::lock_guard lock(mutex_);
    if (under_way_)
        lost_ = drops_total - drops_at_begin_;
    under_way_ = false;
    deadline_.store(kNoDeadline);
}

SearchRound::Status SearchRound::status(std::uint64_t drops_total) const
{
    std::lock_guard lock(mutex_);
    if (under_way_)
        return {true, bursts_, drops_total - drops_at_begin_};
    return {false, bursts_, lost_};
}

} // namespace vantoro
