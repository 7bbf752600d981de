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
    {
        std::lock_guard lock(mutex_);
        const MacAddress mac = FrameMac(acknowledgement);
        Tracked* camera = EchoedLocked(step, acknowledgement);
        if (!claim_ || claim_->first != mac || claim_->second != step) {
            // Not the one MayDriveSequence let through: a repeat of a step
            // counted already, or a stray.
            if (!camera || !camera->progress.done[int(step)])
                ++strays_;
            return;
        }
        claim_.reset();
        StepProgress& p = camera->progress;
        p.done[int(step)] = true;
        p.acknowledged_at[int(step)] = Clock::now();
        if (std::all_of(std::begin(p.done), std::end(p.done), [](bool d) { return d; }))
            completed_.push_back(mac);
    }
    changed_.notify_all();
}

SessionEvents::Tracked* SessionEvents::EchoedLocked(ApplyStep step, const Frame& acknowledgement)
{
    const auto it = tracked_.find(FrameMac(acknowledgement));
    if (it == tracked_.end())
        return nullptr;
    // command and reply_mode are the camera's to set; the rest must come back.
    const Frame& sent = it->second.sent[std::size_t(step)];
    if (!std::equal(acknowledgement.begin() + kMacOffset, acknowledgement.end(), sent.begin() + kMacOffset))
        return nullptr;
    return &it->second;
}

bool SessionEvents::MayDriveSequence(ApplyStep step, const Frame& acknowledgement)
{
    std::lock_guard lock(mutex_);
    if (claim_) { // never left behind, but a GiveUp must not wait on it
        claim_.reset();
        changed_.notify_all();
    }
    const Tracked* camera = EchoedLocked(step, acknowledgement);
    if (!camera)
        return false;
    const bool* done = camera->progress.done;
    if (std::find(done, done + kApplySteps, false) - done != int(step))
        return false; // counted already, or a later record than was sent
    claim_ = {FrameMac(acknowledgement), step};
    return true;
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
    Tracked& t = tracked_[mac];
    t.sent = sent;
    t.progress = {};
}

void SessionEvents::StopTracking(const MacAddress& mac)
{
    std::lock_guard lock(mutex_);
    tracked_.erase(mac);
    std::erase(completed_, mac);
}

bool SessionEvents::GiveUp(const MacAddress& mac, ApplyStep step)
{
    std::unique_lock lock(mutex_);
    // Let through and its next frame on its way: counted in a moment.
    changed_.wait(lock, [&] { return !claim_ || claim_->first != mac || claim_->second != step; });
    const auto it = tracked_.find(mac);
    if (it != tracked_.end() && it->second.progress.done[int(step)])
        return false;
    if (it != tracked_.end())
        tracked_.erase(it);
    std::erase(completed_, mac);
    return true;
}

std::optional<SessionEvents::StepProgress> SessionEvents::Progress(const MacAddress& mac)
{
    std::lock_guard lock(mutex_);
    const auto it = tracked_.find(mac);
    if (it == tracked_.end())
        return std::nullopt;
    return it->second.progress;
}

std::vector<MacAddress> SessionEvents::WaitForCompleted(Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return !completed_.empty(); });
    std::vector<MacAddress> done;
    done.swap(completed_);
    return done;
}

int SessionEvents::strays()
{
    std::lock_guard lock(mutex_);
    return strays_;
}

} // namespace vantoro::ops
