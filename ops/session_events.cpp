#include "ops/session_events.h"

#include <algorithm>

namespace vantoro::ops {

void SessionEvents::CameraFound(const MacAddress&)
{
    {
        std::lock_guard lock(mutex_);
        ++found_;
    }
    changed_.notify_all();
}

void SessionEvents::StepAcknowledged(ApplyStep step, const Frame& acknowledgement)
{
    bool all_done;
    {
        std::lock_guard lock(mutex_);
        if (!EchoesLocked(step, acknowledgement)) {
            ++strays_;
            return;
        }
        progress_.done[int(step)] = true;
        progress_.acknowledged_at[int(step)] = Clock::now();
        all_done = std::all_of(std::begin(progress_.done), std::end(progress_.done), [](bool d) { return d; });
    }
    if (all_done)
        changed_.notify_all();
}

bool SessionEvents::EchoesLocked(ApplyStep step, const Frame& acknowledgement) const
{
    // command and reply_mode are the camera's to set; the rest must come back.
    const Frame& sent = sent_[std::size_t(step)];
    return tracked_ &&
           std::equal(acknowledgement.begin() + kMacOffset, acknowledgement.end(), sent.begin() + kMacOffset);
}

bool SessionEvents::MayDriveSequence(ApplyStep step, const Frame& acknowledgement)
{
    std::lock_guard lock(mutex_);
    return EchoesLocked(step, acknowledgement);
}

std::size_t SessionEvents::WaitForFound(std::size_t seen, Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return found_ > seen; });
    return found_;
}

void SessionEvents::Track(const MacAddress& mac, const std::array<Frame, kApplySteps>& sent)
{
    std::lock_guard lock(mutex_);
    tracked_ = mac;
    sent_ = sent;
    progress_ = {};
    strays_ = 0;
}

int SessionEvents::StopTracking()
{
    std::lock_guard lock(mutex_);
    tracked_.reset();
    return strays_;
}

bool SessionEvents::WaitForLastStep(Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, deadline, [&] {
        return std::all_of(std::begin(progress_.done), std::end(progress_.done), [](bool d) { return d; });
    });
}

SessionEvents::StepProgress SessionEvents::Progress()
{
    std::lock_guard lock(mutex_);
    return progress_;
}

} // namespace vantoro::ops
