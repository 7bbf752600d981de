#include "link/drain_dispatch_policy.h"

namespace vantoro {

bool DrainDispatchPolicy::DrainQueued(std::size_t received, std::size_t waiting, std::size_t queued)
{
    if (waiting > 0 || received > 1)
        crowded_ += received;
    if (!draining_) {
        draining_ = true;
        hold_since_ = now_();
        released_ = 0;
    }
    return waiting == 0 || queued >= hold_limit_;
}

void DrainDispatchPolicy::DrainFoundSocketEmpty()
{
    draining_ = false;
}

void DrainDispatchPolicy::DrainSawQuietGap()
{
    crowded_ = 0;
    draining_ = false;
}

bool DrainDispatchPolicy::DispatcherMayTake(std::size_t queued, Clock::time_point* until)
{
    if (!draining_ || released_ > 0 || queued >= hold_limit_)
        return true;
    *until = hold_since_ + max_hold_;
    if (now_() < *until)
        return false;
    // Held long enough: what is queued now goes, then a new hold starts.
    released_ = queued;
    hold_since_ = now_();
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
