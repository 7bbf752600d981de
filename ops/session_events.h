#pragma once
// What a session hears from the link: cameras found, which wake a waiting
// search, and the acknowledgements of the cameras being written, which wake
// the waiting writer. The main thread waits with a deadline instead of
// running an event loop.
//
// An acknowledgement counts for a tracked camera only when it is for the
// step the camera's sequence awaits (its first step not yet acknowledged)
// and echoes the record sent to that camera in this sequence: bytes 8 to
// 1151, its hardware address and payload, the same byte for byte. Only such
// an acknowledgement makes the link send the next frame (the next record,
// or after the general record the closing frame): this is the one place
// that decides it. Anything else (another camera's acknowledgement, a late
// one for an earlier record, a camera that does not echo, a camera no
// longer tracked or given up on) is counted as a stray; a repeated
// acknowledgement of a step already counted drives nothing either.

#include "link/link_observer.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>
#include <unordered_map>
#include <vector>

namespace vantoro::ops {

using Clock = std::chrono::steady_clock;

struct MacHash {
    std::size_t operator()(const MacAddress& m) const noexcept
    {
        std::uint64_t v = 0;
        for (std::uint8_t b : m)
            v = v << 8 | b;
        return std::hash<std::uint64_t>{}(v);
    }
};

class SessionEvents final : public LinkObserver {
public:
    void CameraFound(const MacAddress& mac) override;
    void StepAcknowledged(ApplyStep step, const Frame& acknowledgement) override;
    bool MayDriveSequence(ApplyStep step, const Frame& acknowledgement) override;

    // Cameras announced so far; waits until there are more than seen, or deadline.
    std::size_t WaitForFound(std::size_t seen, Clock::time_point deadline);

    // Starts following one camera's apply sequence: the records sent to it, by ApplyStep.
    void Track(const MacAddress& mac, const std::array<Frame, kApplySteps>& sent);
    // Ends following it; its later acknowledgements are strays.
    void StopTracking(const MacAddress& mac);
    // Gives up on the camera's sequence at step unless that step was
    // acknowledged meanwhile: true when it gave up, and from then on no
    // acknowledgement drives the camera's sequence. Decided under the same
    // lock as MayDriveSequence, so an acknowledgement either drove the
    // sequence and is counted (false) or will be a stray.
    bool GiveUp(const MacAddress& mac, ApplyStep step);
    struct StepProgress {
        bool done[kApplySteps] = {false, false, false}; // by ApplyStep
        Clock::time_point acknowledged_at[kApplySteps];
    };
    // None when the camera is not tracked.
    std::optional<StepProgress> Progress(const MacAddress& mac);
    // The tracked cameras that have acknowledged all three records since the
    // last call, in the order they did; waits until there is one, or until
    // deadline. Only a camera's last acknowledgement wakes the waiting thread.
    std::vector<MacAddress> WaitForCompleted(Clock::time_point deadline);
    // Acknowledgements that matched no tracked camera's records, so far.
    int strays();

private:
    struct Tracked {
        std::array<Frame, kApplySteps> sent{};
        StepProgress progress;
    };
    // The tracked camera whose record for step the acknowledgement echoes;
    // nullptr when none. Under mutex_.
    Tracked* EchoedLocked(ApplyStep step, const Frame& acknowledgement);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t found_ = 0;
    std::unordered_map<MacAddress, Tracked, MacHash> tracked_;
    std::vector<MacAddress> completed_;
    int strays_ = 0;
    // The acknowledgement MayDriveSequence just let through: the link sends
    // its next frame, then tells StepAcknowledged, which counts it.
    std::optional<std::pair<MacAddress, ApplyStep>> claim_;
};

} // namespace vantoro::ops
