#pragma once
// The pace of a write to many cameras: how many apply sequences may be in
// flight at once, and how fast records may go out. The whole rule, in one
// place; Session::Write asks it before each start and tells it what came back.
//
// The window. Fixed, it is the number asked for. Otherwise it starts at
// kStart cameras and finds its own size:
// - an acknowledgement back within its usual time (the smoothed time of the
//   steps acknowledged so far, plus four times their deviation, or half the
//   smoothed time when that is more) grows it: by one camera while no step
//   has been resent yet, so it doubles with each round trip; after that by
//   one camera per window of acknowledgements, one camera a round trip;
// - a late acknowledgement neither grows nor shrinks it: a slow camera is
//   no sign of a crowded network;
// - a step that timed out (resent, or given up) halves it, but never below
//   kStart, the fixed window apply always had: a loss shows only after a
//   whole timeout, and answers lost at random (not for want of room) would
//   otherwise keep halving it until cameras waiting out their timeouts fill
//   it; the rate is what keeps a site from being flooded. A step sent
//   before the last halving does not halve it again: the steps in flight
//   then were sent under the old window, and their losses are one event.
// It grows only while it is what holds cameras back, and never past what
// the rate can feed: max_rate / 4 cameras a second, each in flight for
// three step times, the step time being the least the smoothed time has
// been (what the site takes unloaded: queues in a loaded machine or network
// make it longer, and must not make the window larger). More in flight would not go faster; they would only send
// their next records in larger bursts whenever acknowledgements come
// bunched, and a camera's socket overflows on a burst, not on an average.
// It never goes past kMost, nor past the cameras whose sequences have not
// ended (Window's argument). A sequence stalled on a lost step (Stalled)
// leaves its place in the window while it waits out its timeout.
//
// The rate. In LAN mode each record is a broadcast that every camera on the
// LAN receives, whichever camera it is for, so records per second stay under
// max_rate: a camera's start counts its three records and closing frame,
// a resent step one more frame. A bucket of kBurst's worth of frames lets a
// window's first cameras start at once.
//
// Time comes from the clock it is given; no lock: one thread uses it.

#include <chrono>
#include <cstddef>
#include <optional>

namespace vantoro::ops {

class PaceWindow {
public:
    using Clock = std::chrono::steady_clock;
    using Now = Clock::time_point (*)();

    static constexpr int kStart = 16;
    static constexpr int kMost = 256;
    static constexpr int kFramesPerCamera = 4; // user, domain, general record and the closing frame
    static constexpr int kDefaultMaxRate = 2000; // frames per second
    static constexpr std::chrono::milliseconds kBurst{100};

    // fixed: that many cameras at once, always; 0: the window finds its own
    // size. max_rate: frames per second.
    PaceWindow(int fixed, int max_rate, Now now = &Clock::now);

    // The window in use with `left` cameras whose sequences have not ended.
    int Window(std::size_t left);
    // A camera could not start: the window was full. Acknowledgements grow
    // it from now on, until NextStart finds the rate holding a start back.
    void WindowFull() { window_full_ = true; }
    // When the next camera may start, as the rate allows: now, or later.
    Clock::time_point NextStart();
    // A camera's sequence started: its frames count against the rate.
    void Started();
    // After how long a sequence is taken as stalled on a lost step: three
    // usual step times. Auto only: it then waits out its timeout without
    // holding a place in the window (in_flight), as a lost step carries
    // nothing on the wire; Session::Write still never has more than kMost
    // in flight. None (never) for a fixed window or before any sample.
    std::optional<Clock::duration> Stalled() const;
    // A step's acknowledgement came `took` after the step was sent; only for
    // steps sent once, as a resent step's acknowledgement may answer either send.
    void Acknowledged(std::chrono::microseconds took);
    // A step sent at `sent` was not acknowledged in time; resent: it goes
    // out again (a frame against the rate), else the camera is given up.
    void TimedOut(Clock::time_point sent, bool resent);

    bool fixed() const { return fixed_ > 0; }
    int window() const { return in_use_; } // as Window last returned it
    int peak() const { return peak_; }
    int resends() const { return resends_; }
    int max_rate() const { return max_rate_; }

private:
    void Refill();
    double UsualLimit() const; // microseconds

    const int fixed_;
    const int max_rate_;
    const Now now_;
    double window_ = kStart;
    bool resent_yet_ = false;
    bool window_full_ = false;
    bool halved_ = false;
    Clock::time_point last_halved_{};
    // Smoothed acknowledgement time and its deviation, microseconds; none yet while samples_ is 0.
    double smoothed_ = 0, deviation_ = 0, least_smoothed_ = 0;
    std::size_t samples_ = 0;
    double credit_; // frames that may go out now
    Clock::time_point refilled_;
    int in_use_ = 0, peak_ = 0, resends_ = 0;
};

} // namespace vantoro::ops
