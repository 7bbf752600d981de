#include "link/drain_dispatch_policy.h"

namespace vantoro {

bool DrainDispatchPolicy::DrainQueued(std::size_t received, std::size_t waiting, std::size_t queued,
                                      Clock::time_point now)
{
    if (waiting > 0 || received > 1)
        crowded_ += received;
    if (!draining_) {
        draining_ = true;
        hold_since_ = now;
        released_ = 0;
    }
    return waiting == 0 || queued >= hold_limit_;
}

bool DrainDispatchPolicy::DrainFoundSocketEmpty()
{
    if (crowded_ >= kBurstAnswers)
        return false; // a burst: the socket running empty for a moment is no end to it
    draining_ = false;
    return true;
}

void DrainDispatchPolicy::DrainSawQuietGap()
{
    crowded_ = 0;
    draining_ = false;
}

bool DrainDispatchPolicy::DispatcherMayTake(std::size_t queued, Clock::time_point now, Clock::time_point* until)
{
    if (!draining_ || released_ > 0 || queued >= hold_limit_)
        return true;
    *until = hold_since_ + max_hold_;
    if (now < *until)
        return false;
    // Held long enough: what is queued now goes, then a new hold starts.
    released_ = queued;
    hold_since_ = now;
    return true;
}

void DrainDispatchPolicy::DispatcherTook()
{
    if (released_ > 0)
        --released_;
}

void DrainDispatchPolicy::Reset()
{
    crowded_ = 0;
    draining_ = false;
    released_ = 0;
}

} // namespace vantoro
