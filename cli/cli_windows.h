#pragma once
// The command line's stand-in for the sheet's windows. The receiver thread's
// messages are recorded and wake the main thread, which waits with a deadline
// instead of running an event loop. Both "windows" always exist.
//
// A progress message counts for the tracked camera only when the
// acknowledgement being dispatched (the receiver's received frame, which stays
// unchanged while the message is handled) echoes the record sent to it in this
// sequence: bytes 8 to 1151, its hardware address and payload, the same byte
// for byte. Anything else (another camera's acknowledgement, a late one for an
// earlier record, a camera that does not echo) is counted as a stray and never
// makes the dispatcher send the next record. Between cameras nothing is
// tracked and no acknowledgement drives anything.

#include "link/camera_registry.h"
#include "link/receiver_thread.h"
#include "link/window_messages.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace vantoro::cli {

using Clock = std::chrono::steady_clock;

enum class ApplyStep { User = 0, Domain = 1, General = 2 };
const char* StepName(ApplyStep step); // "user", "domain", "general"

class CliWindows final : public LinkWindows {
public:
    explicit CliWindows(std::string wan_text) : wan_text_(std::move(wan_text)) {}
    // Once, before the receiver starts.
    void Connect(const ReceiverThread* receiver);

    bool SendToWindow(LinkWindow target, std::uint32_t message) override;
    std::string WanAddressText() override;
    // Where WAN-mode frames go from now on: each address of a sweep in turn,
    // then each camera at the address it answered from.
    void SetWanAddress(std::string text);
    bool MayDriveSequence(const Frame& acknowledgement) override;

    // Cameras announced so far; waits until there are more than seen, or deadline.
    std::size_t WaitForFound(std::size_t seen, Clock::time_point deadline);

    // Progress of one camera's apply sequence: the records sent to it, by ApplyStep.
    void Track(const MacAddress& mac, const std::array<Frame, 3>& sent);
    // Ends tracking; returns the strays seen while tracking.
    int StopTracking();
    // True once the tracked camera acknowledged all three records of this
    // sequence; false at the deadline. Only the last acknowledgement wakes the
    // waiting thread: a clean sequence costs it one wake-up, not three.
    bool WaitForLastStep(Clock::time_point deadline);
    struct StepProgress {
        bool done[3] = {false, false, false}; // by ApplyStep
        Clock::time_point acknowledged_at[3];
    };
    StepProgress Progress();

private:
    // Whether the acknowledgement echoes the record sent for its step to the
    // tracked camera; the step through *step. Takes mutex_.
    bool Echoes(const Frame& acknowledgement, int* step);

    std::string wan_text_; // under mutex_: the receiver thread reads it
    const ReceiverThread* receiver_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t found_ = 0;
    std::optional<MacAddress> tracked_;
    std::array<Frame, 3> sent_{};
    StepProgress progress_;
    int strays_ = 0;
};

} // namespace vantoro::cli
