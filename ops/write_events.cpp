#include "ops/write_events.h"

#include <algorithm>

namespace vantoro::ops {

WriteEvents::Tracked* WriteEvents::EchoedLocked(ApplyStep step, const Frame& acknowledgement)
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

bool WriteEvents::MayDrive(ApplyStep step, const Frame& acknowledgement)
{
    std::lock_guard lock(mutex_);
    if (claim_) { // never left behind, but a GiveUp must not wait on it
        claim_.reset();
        changed_.notify_all();
    }
    Tracked* camera = EchoedLocked(step, acknowledgement);
    if (!camera || camera->awaited != std::size_t(step))
        return false; // counted already, or a later record than was sent
    ++camera->awaited;
    claim_ = {FrameMac(acknowledgement), step};
    return true;
}

void WriteEvents::StepAcknowledged(ApplyStep step, const Frame& acknowledgement)
{
    const MacAddress mac = FrameMac(acknowledgement);
    std::lock_guard lock(mutex_);
    if (!claim_ || claim_->first != mac || claim_->second != step) {
        // Not the one MayDrive let through: a repeat of a step counted
        // already, or a stray.
        const Tracked* camera = EchoedLocked(step, acknowledgement);
        if (!camera || camera->awaited <= std::size_t(step))
            ++strays_;
        return;
    }
    claim_.reset();
    queued_.acknowledged.push_back({mac, step, Clock::now()});
    // The engine moves a step's deadline when it next looks; only the last
    // step, which ends the sequence, or a GiveUp waiting for this, need it now.
    if (giving_up_)
        changed_.notify_all();
    else if (std::size_t(step) + 1 == kApplySteps)
        WakeLocked();
}

void WriteEvents::AnswerWatched(const Frame& answer)
{
    std::lock_guard lock(mutex_);
    if (!watched_.count(FrameMac(answer)))
        return;
    queued_.answers.push_back(answer);
    WakeLocked();
}

void WriteEvents::WakeLocked()
{
    // Once woken, the engine takes everything queued: one wake-up is enough
    // for a burst of answers, and the dispatch thread makes no call for the rest.
    if (woken_)
        return;
    woken_ = true;
    changed_.notify_all();
}

void WriteEvents::DropQueuedLocked(const MacAddress& mac)
{
    std::erase_if(queued_.acknowledged, [&](const Acknowledged& a) { return a.mac == mac; });
    std::erase_if(queued_.answers, [&](const Frame& f) { return FrameMac(f) == mac; });
}

void WriteEvents::Track(const MacAddress& mac, const std::array<Frame, kApplySteps>& sent)
{
    std::lock_guard lock(mutex_);
    tracked_[mac] = Tracked{sent, 0};
    DropQueuedLocked(mac);
}

void WriteEvents::StopTracking(const MacAddress& mac)
{
    std::lock_guard lock(mutex_);
    tracked_.erase(mac);
}

bool WriteEvents::GiveUp(const MacAddress& mac, ApplyStep step)
{
    std::unique_lock lock(mutex_);
    // Let through and its next frame on its way: queued in a moment.
    giving_up_ = true;
    changed_.wait(lock, [&] { return !claim_ || claim_->first != mac || claim_->second != step; });
    giving_up_ = false;
    const auto it = tracked_.find(mac);
    if (it != tracked_.end() && it->second.awaited > std::size_t(step))
        return false;
    if (it != tracked_.end())
        tracked_.erase(it);
    return true;
}

void WriteEvents::WatchAnswers(const MacAddress& mac, bool watch)
{
    std::lock_guard lock(mutex_);
    if (watch)
        watched_.insert(mac);
    else
        watched_.erase(mac);
    std::erase_if(queued_.answers, [&](const Frame& f) { return FrameMac(f) == mac; });
}

WriteEvents::Batch WriteEvents::Wait(Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return !queued_.acknowledged.empty() || !queued_.answers.empty(); });
    Batch taken;
    std::swap(taken, queued_);
    woken_ = false;
    return taken;
}

int WriteEvents::strays()
{
    std::lock_guard lock(mutex_);
    return strays_;
}

} // namespace vantoro::ops
