#pragma once
// When the dispatcher may take the answers that the drain thread has queued:
// the receiver's whole flow control, in one place.
//
// The drain thread must never wait for a processor during a burst: a small
// socket buffer overflows within milliseconds, the queue behind it does not.
// So, while the drain is under way, the dispatcher holds back:
// - until hold_limit answers are queued, or
// - for max_hold at most, then takes what is queued by then (a steady stream
//   never pauses, and an acknowledgement behind it must still be handled).
// The drain ends a hold when the socket runs empty, at once for a few
// answers (an acknowledgement, one camera's records); in a burst of
// kBurstAnswers crowded answers only after a quiet gap with no answer, as the
// dispatcher and the user interface it wakes would take the processor the
// drain needs. The dispatcher also runs at a lower priority, kDispatcherNice.
//
// No lock of its own: the queue calls it under its lock, except for the
// burst count, which only the drain thread touches, so an empty socket in a
// burst costs the drain no lock. It reads the clock it is given only when a
// hold starts or is timed. Methods are named for the thread they act for.

#include <chrono>
#include <cstddef>

namespace vantoro {

class DrainDispatchPolicy {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds kMaxHold{100};
    // A burst: this many crowded answers without a pause.
    static constexpr std::size_t kBurstAnswers = 8;
    static constexpr std::chrono::milliseconds kQuietGap{2};
    // The dispatcher's nice value (the drain thread keeps the process's).
    static constexpr int kDispatcherNice = 10;

    using Now = Clock::time_point (*)();

    explicit DrainDispatchPolicy(std::size_t hold_limit, std::chrono::milliseconds max_hold = kMaxHold,
                                 Now now = &Clock::now)
        : hold_limit_(hold_limit), max_hold_(max_hold), now_(now)
    {
    }

    // Drain thread, under the lock: a receive took `received` datagrams
    // (short ones too) off the socket while `waiting` answers were still
    // queued; the drain is under way. Returns whether the dispatcher must be
    // woken now that `queued` are queued: for the first (so it can time the
    // hold) or once the hold limit is reached.
    bool DrainQueued(std::size_t received, std::size_t waiting, std::size_t queued);
    // Drain thread, no lock needed: whether the answers since the last quiet
    // gap make a burst, which an empty socket does not end.
    bool DrainInBurst() const { return crowded_ >= kBurstAnswers; }
    // Drain thread, under the lock: the socket ran empty outside a burst;
    // the hold ends and the dispatcher may go on.
    void DrainFoundSocketEmpty();
    // Drain thread, under the lock: the socket stayed empty for kQuietGap;
    // the burst is over and the hold ends.
    void DrainSawQuietGap();

    // Dispatch thread, under the lock, with answers queued: true when the
    // oldest may be taken now; otherwise *until says when the hold runs out.
    bool DispatcherMayTake(std::size_t queued, Clock::time_point* until);
    // Dispatch thread: it took one answer.
    void DispatcherTook();

    // Neither thread running: back to the start.
    void Reset();

private:
    const std::size_t hold_limit_;
    const std::chrono::milliseconds max_hold_;
    const Now now_;
    // The drain thread's alone: answers that came crowded (several in one
    // receive, or while earlier ones still waited) since the last quiet gap.
    // An apply's acknowledgements never crowd: each comes after the previous
    // one was dispatched.
    std::size_t crowded_ = 0;
    bool draining_ = false;
    Clock::time_point hold_since_{}; // when the drain last got under way
    std::size_t released_ = 0;       // answers let through when a hold ran out
};

} // namespace vantoro
