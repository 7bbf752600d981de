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
        const bool was_empty = items_.empty();
        items_.insert(items_.end(), items, items + taken);
        if (!draining_) {
            draining_ = true;
            hold_since_ = std::chrono::steady_clock::now();
            released_ = 0;
        }
        // The first datagram wakes the dispatcher only so it can time the hold.
        if (!was_empty && items_.size() < hold_limit_)
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
    for (;;) {
        if (closed_)
            return false;
        if (items_.empty()) {
            ready_.wait(lock);
            continue;
        }
        if (!draining_ || released_ > 0 || items_.size() >= hold_limit_)
            break;
        const auto until = hold_since_ + max_hold_;
        if (std::chrono::steady_clock::now() >= until) {
            // Held long enough: what is queued now goes, then a new hold starts.
            released_ = items_.size();
            hold_since_ = std::chrono::steady_clock::now();
            break;
        }
        ready_.wait_until(lock, until);
    }
    if (released_ > 0)
        --released_;
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
    released_ = 0;
}

std::size_t DatagramQueue::size()
{
    std::lock_guard lock(mutex_);
    return items_.size();
}

} // namespace vantoro
