#include "link/datagram_queue.h"

#include <algorithm>

namespace vantoro {

std::size_t DatagramQueue::Push(const QueuedDatagram* items, std::size_t n, std::size_t* waiting)
{
    std::size_t taken;
    {
        std::lock_guard lock(mutex_);
        if (waiting)
            *waiting = items_.size();
        taken = std::min(n, capacity_ - std::min(capacity_, items_.size()));
        items_.insert(items_.end(), items, items + taken);
        draining_ = true;
        if (items_.size() < hold_limit_)
            return n - taken;
    }
    ready_.notify_one();
    return n - taken;
}

void DatagramQueue::Idle()
{
    {
        std::lock_guard lock(mutex_);
        draining_ = false;
        if (items_.empty())
            return;
    }
    ready_.notify_one();
}

bool DatagramQueue::Pop(QueuedDatagram& out)
{
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] {
        return closed_ || (!items_.empty() && (!draining_ || items_.size() >= hold_limit_));
    });
    if (closed_)
        return false;
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
    draining_ = false;
}

std::size_t DatagramQueue::size()
{
    std::lock_guard lock(mutex_);
    return items_.size();
}

} // namespace vantoro
