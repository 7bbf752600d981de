#pragma once
// A timed queue of outgoing datagrams with its own sending thread, so delayed
// and jittered answers never hold up the receive loop and answers of different
// cameras interleave by their due times.

#include "link/config_frame.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace vantoro::sim {

struct Outgoing {
    Frame frame{};
    std::uint32_t addr = 0; // network byte order
    std::uint16_t port = 0;
};

class ReplyScheduler final {
public:
    using Clock = std::chrono::steady_clock;
    using SendFn = std::function<void(const Outgoing&)>;

    explicit ReplyScheduler(SendFn send);
    ~ReplyScheduler();
    ReplyScheduler(const ReplyScheduler&) = delete;
    ReplyScheduler& operator=(const ReplyScheduler&) = delete;

    // Items scheduled before Start wait for it; Stop drops whatever is still
    // queued and joins the thread.
    void Start();
    void Stop();

    // Due items go out earliest first; equal due times in scheduling order.
    void Schedule(Clock::time_point due, const Outgoing& item);
    std::size_t Pending() const;

private:
    struct Entry {
        Clock::time_point due;
        std::uint64_t order;
        Outgoing item;
    };
    struct Later {
        bool operator()(const Entry& a, const Entry& b) const
        {
            return a.due != b.due ? a.due > b.due : a.order > b.order;
        }
    };

    void Run();

    SendFn send_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::priority_queue<Entry, std::vector<Entry>, Later> queue_;
    std::uint64_t next_order_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace vantoro::sim
