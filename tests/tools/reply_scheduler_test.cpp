#include "tools/camera_sim/reply_scheduler.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace vantoro::sim {
namespace {

using namespace std::chrono_literals;

// Collects what the scheduler sends, tagged by the first frame byte.
struct Recorder {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<int> tags;

    ReplyScheduler::SendFn Fn()
    {
        return [this](const Outgoing& item) {
            std::lock_guard guard(lock);
            tags.push_back(item.frame[0]);
            changed.notify_all();
        };
    }
    std::vector<int> WaitFor(std::size_t n)
    {
        std::unique_lock guard(lock);
        changed.wait_for(guard, 10s, [&] { return tags.size() >= n; });
        return tags;
    }
};

Outgoing Tagged(int tag)
{
    Outgoing o;
    o.frame[0] = std::uint8_t(tag);
    return o;
}

TEST(ReplyScheduler, SendsByDueTimeThenByOrderOfScheduling)
{
    Recorder sent;
    ReplyScheduler scheduler(sent.Fn());
    // Queued before Start, so the order cannot depend on how fast this thread runs.
    const auto base = ReplyScheduler::Clock::now();
    scheduler.Schedule(base + 30ms, Tagged(1));
    scheduler.Schedule(base + 10ms, Tagged(2));
    scheduler.Schedule(base + 20ms, Tagged(3));
    scheduler.Schedule(base + 10ms, Tagged(4));
    scheduler.Schedule(base, Tagged(5));
    scheduler.Start();
    EXPECT_EQ(sent.WaitFor(5), (std::vector<int>{5, 2, 4, 3, 1}));
    EXPECT_EQ(scheduler.Pending(), 0u);
}

TEST(ReplyScheduler, AnEarlierItemOvertakesOneAlreadyWaiting)
{
    Recorder sent;
    ReplyScheduler scheduler(sent.Fn());
    scheduler.Start();
    scheduler.Schedule(ReplyScheduler::Clock::now() + 1h, Tagged(1));
    scheduler.Schedule(ReplyScheduler::Clock::now(), Tagged(2));
    EXPECT_EQ(sent.WaitFor(1), (std::vector<int>{2}));
    EXPECT_EQ(scheduler.Pending(), 1u);
    // Stop drops the far one and does not wait for it.
    scheduler.Stop();
    EXPECT_EQ(scheduler.Pending(), 0u);
    EXPECT_EQ(sent.tags, (std::vector<int>{2}));
}

TEST(ReplyScheduler, StopWithoutStartAndTwiceIsHarmless)
{
    Recorder sent;
    ReplyScheduler scheduler(sent.Fn());
    scheduler.Schedule(ReplyScheduler::Clock::now(), Tagged(1));
    scheduler.Stop();
    scheduler.Stop();
    EXPECT_TRUE(sent.tags.empty());
}

} // namespace
} // namespace vantoro::sim
