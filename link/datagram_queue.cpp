#include "link/datagram_queue.h"

#include <algorithm>

namespace vantoro {

std::size_t DatagramQueue::Push(const QueuedDatagram* items, std::size_t n)
{
    std::size_t taken;
    {
        std::lock_guard lock(mutex_);
        taken = std::min(n, capacity_ - std::min(capacity_, items_.size()));
        items_.insert(items_.end(), items, items + taken);
    }
    if (taken > 0)
        ready_.notify_one();
    return n - taken;
}

bool DatagramQueue::Pop(QueuedDatagram& out)
{
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return closed_ || !items_.empty(); });
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
}

std::size_t DatagramQueue::size()
{
    std::lock_guard lock(mutex_);
    return items_.size();
}

} // namespace vantoro
