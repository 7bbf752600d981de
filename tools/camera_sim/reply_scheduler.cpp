#include "tools/camera_sim/reply_scheduler.h"

namespace vantoro::sim {

ReplyScheduler::ReplyScheduler(SendFn send) : send_(std::move(send)) {}

ReplyScheduler::~ReplyScheduler()
{
    Stop();
}

void ReplyScheduler::Start()
{
    std::lock_guard guard(lock_);
    if (thread_.joinable())
        return;
    stopping_ = false;
    thread_ = std::thread([this] { Run(); });
}

void ReplyScheduler::Stop()
{
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        queue_ = {};
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void ReplyScheduler::Schedule(Clock::time_point due, const Outgoing& item)
{
    {
        std::lock_guard guard(lock_);
        queue_.push(Entry{due, next_order_++, item});
    }
    wake_.notify_all();
}

std::size_t ReplyScheduler::Pending() const
{
    std::lock_guard guard(lock_);
    return queue_.size();
}

void ReplyScheduler::Run()
{
    std::unique_lock guard(lock_);
    while (!stopping_) {
        if (queue_.empty()) {
            wake_.wait(guard);
            continue;
        }
        const Clock::time_point due = queue_.top().due;
        if (Clock::now() < due) {
            // Woken early by an earlier item or by Stop: look again.
            wake_.wait_until(guard, due);
            continue;
        }
        const Outgoing item = queue_.top().item;
        queue_.pop();
        // Not under the lock: the receive loop must be able to schedule meanwhile.
        guard.unlock();
        send_(item);
        guard.lock();
    }
}

} // namespace vantoro::sim
