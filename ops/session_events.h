#pragma once
// What a session hears from the link: cameras found, which wake a waiting
// search, and the acknowledgements of the camera being written, which wake
// the waiting apply. The main thread waits with a deadline instead of running
// an event loop.
//
// An acknowledgement counts for the tracked camera only when it echoes the
// record sent to it in this sequence: bytes 8 to 1151, its hardware address
// and payload, the same byte for byte. Anything else (another camera's
// acknowledgement, a late one for an earlier record, a camera that does not
// echo) is counted as a stray and never makes the link send the next record.
// Between cameras nothing is tracked and no acknowledgement drives anything.

#include "link/link_observer.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

namespace vantoro::ops {

using Clock = std::chrono::steady_clock;

class SessionEvents final : public LinkObserver {
public:
    void CameraFound(const MacAddress& mac) override;
    void StepAcknowledged(ApplyStep step, const Frame& acknowledgement) override;
    bool MayDriveSequence(ApplyStep step, const Frame& acknowledgement) override;

    // Cameras announced so far; waits until there are more than seen, or deadline.
    std::size_t WaitForFound(std::size_t seen, Clock::time_point deadline);

    // Progress of one camera's apply sequence: the records sent to it, by ApplyStep.
    void Track(const MacAddress& mac, const std::array<Frame, kApplySteps>& sent);
    // Ends tracking; returns the strays seen while tracking.
    int StopTracking();
    // True once the tracked camera acknowledged all three records of this
    // sequence; false at the deadline. Only the last acknowledgement wakes the
    // waiting thread: a clean sequence costs it one wake-up, not three.
    bool WaitForLastStep(Clock::time_point deadline);
    struct StepProgress {
        bool done[kApplySteps] = {false, false, false}; // by ApplyStep
        Clock::time_point acknowledged_at[kApplySteps];
    };
    StepProgress Progress();

private:
    // Whether the acknowledgement echoes the record sent for its step to the
    // tracked camera. Under mutex_.
    bool EchoesLocked(ApplyStep step, const Frame& acknowledgement) const;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t found_ = 0;
    std::optional<MacAddress> tracked_;
    std::array<Frame, kApplySteps> sent_{};
    StepProgress progress_;
    int strays_ = 0;
};

} // namespace vantoro::ops
