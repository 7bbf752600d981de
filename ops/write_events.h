#pragma once
// The write engine's inbox, filled on the link's dispatch thread and emptied
// on the engine's: the acknowledgements that drove a camera's sequence and
// the answers of the cameras under verification. It also holds the one rule
// for whether an acknowledgement may drive a camera's next frame (MayDrive),
// since that must be decided under the same lock as a GiveUp.
//
// Per tracked camera it keeps the records sent and the step awaited. The
// link asks MayDrive, sends the next frame on a yes, then tells Acknowledged;
// only then is the step queued for the engine, so a verification search the
// engine sends never overtakes the closing frame.

#include "link/apply_steps.h"
#include "link/config_frame.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vantoro::ops {

using Clock = std::chrono::steady_clock;

class WriteEvents {
public:
    // The acknowledgement of step for camera mac drove its sequence at `at`.
    struct Acknowledged {
        MacAddress mac;
        ApplyStep step;
        Clock::time_point at;
    };
    // What came in since the engine last looked, each in arrival order.
    struct Batch {
        std::vector<Acknowledged> acknowledged;
        std::vector<Frame> answers; // of the cameras watched (WatchAnswers)
    };

    // Dispatch thread. The one rule: yes only when the camera is tracked,
    // step is the first it has not had acknowledged, and the frame echoes
    // bytes 8 to 1151 (hardware address and payload) of the record sent for
    // that step. A yes counts the step at once, so a repeat drives nothing.
    bool MayDrive(ApplyStep step, const Frame& acknowledgement);
    // Dispatch thread, after MayDrive and the frame it let through: queues
    // the step for the engine; anything MayDrive refused is counted a stray
    // unless it repeats a step already counted.
    void StepAcknowledged(ApplyStep step, const Frame& acknowledgement);
    // Dispatch thread: an answer of a watched camera, queued for the engine.
    void AnswerWatched(const Frame& answer);

    // Engine: starts following a camera's sequence, by ApplyStep the records
    // sent to it. Anything still queued for the camera is dropped.
    void Track(const MacAddress& mac, const std::array<Frame, kApplySteps>& sent);
    // Engine: ends following it; its later acknowledgements are strays.
    void StopTracking(const MacAddress& mac);
    // Engine: gives up on the camera's sequence at step unless that step was
    // counted meanwhile: true when it gave up, and from then on no
    // acknowledgement drives the camera's sequence. False: the step was
    // counted, and its event is queued by the time this returns.
    bool GiveUp(const MacAddress& mac, ApplyStep step);
    // Engine: queue the camera's answers from now on (before the link starts
    // keeping them), or no longer; either drops those still queued.
    void WatchAnswers(const MacAddress& mac, bool watch);
    // Engine: what came in, waiting for something until deadline.
    Batch Wait(Clock::time_point deadline);
    // Acknowledgements that drove nothing and repeated no counted step.
    int strays();

private:
    struct Tracked {
        std::array<Frame, kApplySteps> sent{};
        std::size_t awaited = 0; // the first step not yet counted; kApplySteps: all were
    };
    Tracked* EchoedLocked(ApplyStep step, const Frame& acknowledgement);
    void DropQueuedLocked(const MacAddress& mac);
    // Wakes the engine unless it was woken since it last took the queue.
    void WakeLocked();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::unordered_map<MacAddress, Tracked, MacHash> tracked_;
    std::unordered_set<MacAddress, MacHash> watched_;
    Batch queued_;
    int strays_ = 0;
    // The acknowledgement MayDrive just let through: the link sends its next
    // frame, then StepAcknowledged queues it. A GiveUp of that step waits
    // for it, so the engine finds the step's event queued.
    std::optional<std::pair<MacAddress, ApplyStep>> claim_;
    bool giving_up_ = false; // the engine waits in GiveUp for claim_ to clear
    bool woken_ = false; // told to wake since it last took the queue
};

} // namespace vantoro::ops
