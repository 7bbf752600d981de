#include "link/datagram_queue.h"

#include <algorithm>

namespace vantoro {

std::size_t DatagramQueue::DrainPush(const QueuedDatagram* items, std::size_t n, std::size_t received)
{
    std::size_t taken;
    {
        std::lock_guard lock(mutex_);
        const std::size_t waiting = items_.size();
        taken = std::min(n, capacity_ - std::min(capacity_, waiting));
        items_.insert(items_.end(), items, items + taken);
        if (!policy_.DrainQueued(received, waiting, items_.size()))
            return n - taken;
    }
    ready_.notify_one();
    return n - taken;
}

bool DatagramQueue::DrainFoundSocketEmpty()
{
    // In a burst the socket running empty for a moment is no end to it, and
    // the drain takes no lock to find that out.
    if (policy_.DrainInBurst())
        return false;
    {
        std::lock_guard lock(mutex_);
        policy_.DrainFoundSocketEmpty();
        if (items_.empty())
            return true;
    }
    ready_.notify_one();
    return true;
}

void DatagramQueue::DrainSawQuietGap()
{
    {
        std::lock_guard lock(mutex_);
        policy_.DrainSawQuietGap();
        if (items_.empty())
            return;
    }
    ready_.notify_one();
}

bool DatagramQueue::DispatcherPop(QueuedDatagram& out)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (closed_)
            return false;
        if (items_.empty()) {
            ready_.wait(lock);
            continue;
        }
        DrainDispatchPolicy::Clock::time_point until;
        if (policy_.DispatcherMayTake(items_.size(), &until))
            break;
        ready_.wait_until(lock, until);
    }
    policy_.DispatcherTook();
    out = items_.front();
    items_.pop_front();
    return true;
}

void DatagramQueue::Close()
{
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

void DatagramQueue::Open()
{
    std::lock_guard lock(mutex_);
    items_.clear();
    items_.shrink_to_fit();
    closed_ = false;
    policy_.Reset();
}

std::size_t DatagramQueue::size()
{
    std::lock_guard lock(mutex_);
    return items_.size();
}

} // namespace vantoro
