#include "ops/session_events.h"

namespace vantoro::ops {

void SessionEvents::CameraFound(const MacAddress&)
{
    {
        std::lock_guard lock(mutex_);
        ++found_;
    }
    changed_.notify_all();
}

std::size_t SessionEvents::WaitForFound(std::size_t seen, Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return found_ > seen; });
    return found_;
}

} // namespace vantoro::ops
