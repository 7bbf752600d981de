#pragma once
// What a session hears from the link: cameras found, which wake a waiting
// search, and for the write engine the acknowledgements of the cameras being
// written and the answers of those being verified, pushed into its inbox
// (WriteEvents), which wakes the engine. The main thread waits with a
// deadline instead of running an event loop.
//
// An acknowledgement counts for a tracked camera only when it is for the
// step the camera's sequence awaits (its first step not yet acknowledged)
// and echoes the record sent to that camera in this sequence: bytes 8 to
// 1151, its hardware address and payload, the same byte for byte. Only such
// an acknowledgement makes the link send the next frame (the next record,
// or after the general record the closing frame): WriteEvents::MayDrive is
// the one place that decides it. Anything else (another camera's
// acknowledgement, a late one for an earlier record, a camera that does not
// echo, a camera no longer tracked or given up on) is counted as a stray; a
// repeated acknowledgement of a step already counted drives nothing either.

#include "link/link_observer.h"
#include "ops/write_events.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace vantoro::ops {

class SessionEvents final : public LinkObserver {
public:
    void CameraFound(const MacAddress& mac) override;
    bool MayDriveSequence(ApplyStep step, const Frame& acknowledgement) override
    {
        return writes_.MayDrive(step, acknowledgement);
    }
    void StepAcknowledged(ApplyStep step, const Frame& acknowledgement) override
    {
        writes_.StepAcknowledged(step, acknowledgement);
    }
    void AnswerWatched(const Frame& answer) override { writes_.AnswerWatched(answer); }

    // Cameras announced so far; waits until there are more than seen, or deadline.
    std::size_t WaitForFound(std::size_t seen, Clock::time_point deadline);
    // The write engine's inbox.
    WriteEvents& writes() { return writes_; }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t found_ = 0;
    WriteEvents writes_;
};

} // namespace vantoro::ops
