#pragma once
// When a search sends its burst again. A search is a discovery burst and a
// collection window after it; when answers were dropped (by the system, for
// want of room in the socket buffer, or past the receiver's queue) before the
// window closed, the same burst goes out again with a new window, until a
// window closes with nothing dropped, at most kExtraBursts times. Cameras
// that answer again are filed again, not listed twice.
//
// No clock and no socket of its own: the caller gives the time and the drop
// total, so the decisions can be tested as they are. Locked: the user
// interface's thread begins a search, the receiver's drain thread closes the
// windows.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace vantoro {

class SearchRound {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kExtraBursts = 3;
    // The sheet's window: long enough for a fleet's answers to have come in.
    static constexpr std::chrono::milliseconds kWindow{1000};

    struct Status {
        bool under_way = false;
        int bursts = 0;         // sent by this search, the first included
        std::uint64_t lost = 0; // dropped since it began; 0 once a window closed clean
    };
    enum class Step { Wait, SendAgain, EndedClean, EndedIncomplete };

    // A search sent its first burst at now, while drops_total answers had
    // been dropped in this run. Replaces a search under way.
    void Begin(Clock::time_point now, std::chrono::milliseconds window, std::uint64_t drops_total);
    // What to do at now: wait, send the burst again (a new window starts
    // now), or the search is over, with or without answers lost in its last
    // window.
    Step Check(Clock::time_point now, std::uint64_t drops_total);
    // The search is over, whatever the drops: nothing more is sent. What
    // it lost so far stays its outcome.
    void End(std::uint64_t drops_total);
    Status status(std::uint64_t drops_total) const;
    // When the window under way closes, for a waiting thread; lock-free.
    // Clock::time_point::max() when no search is under way.
    Clock::time_point deadline() const { return Clock::time_point(Clock::duration(deadline_.load())); }

private:
    mutable std::mutex mutex_;
    std::atomic<Clock::duration::rep> deadline_{Clock::time_point::max().time_since_epoch().count()};
    bool under_way_ = false;
    std::chrono::milliseconds window_{kWindow};
    int bursts_ = 0;
    std::uint64_t drops_at_begin_ = 0;
    std::uint64_t drops_at_window_ = 0; // when the window under way opened
    std::uint64_t lost_ = 0;            // the outcome of a search that is over
};

} // namespace vantoro
