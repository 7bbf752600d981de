#include "link/drain_dispatch_policy.h"
#include "link/search_round.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vantoro;
using namespace std::chrono_literals;

namespace {

using Clock = DrainDispatchPolicy::Clock;
const Clock::time_point t0{};
Clock::time_point now = t0; // the policy's clock in these tests
Clock::time_point Now() { return now; }

struct Receive {
    std::size_t received; // datagrams in one receive
    std::size_t waiting;  // answers still queued before it
};

struct BurstCase {
    const char* name;
    std::vector<Receive> receives;
    bool ends_hold; // whether the socket running empty lets the dispatcher go
};

} // namespace

TEST(DrainDispatchPolicy, OnlyABurstOfCrowdedAnswersOutlastsAnEmptySocket)
{
    const BurstCase cases[] = {
        {"one acknowledgement", {{1, 0}}, true},
        {"one camera's three records, one at a time", {{1, 0}, {1, 0}, {1, 0}}, true},
        {"seven in one receive", {{7, 0}}, true},
        {"eight in one receive", {{8, 0}}, false},
        {"four receives of two", {{2, 0}, {2, 0}, {2, 0}, {2, 0}}, false},
        {"single answers while seven wait", {{1, 0}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}}, true},
        {"single answers while eight wait",
         {{1, 0}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}},
         false},
    };
    for (const BurstCase& c : cases) {
        DrainDispatchPolicy policy(1000, DrainDispatchPolicy::kMaxHold, Now);
        now = t0;
        std::size_t queued = 0;
        for (const Receive& r : c.receives)
            policy.DrainQueued(r.received, r.waiting, queued += r.received);
        Clock::time_point until;
        now = t0 + 1ms;
        EXPECT_FALSE(policy.DispatcherMayTake(queued, &until)) << c.name << ": held while draining";
        EXPECT_EQ(policy.DrainInBurst(), !c.ends_hold) << c.name;
        if (!policy.DrainInBurst())
            policy.DrainFoundSocketEmpty();
        EXPECT_EQ(policy.DispatcherMayTake(queued, &until), c.ends_hold) << c.name;
        policy.DrainSawQuietGap();
        now = t0 + 3ms;
        EXPECT_TRUE(policy.DispatcherMayTake(queued, &until)) << c.name << ": a quiet gap ends any hold";
        EXPECT_FALSE(policy.DrainInBurst()) << c.name << ": and the burst";
    }
}

TEST(DrainDispatchPolicy, AHoldEndsAtItsLimitOrAfterTheMaximumHold)
{
    DrainDispatchPolicy policy(4, 20ms, Now);
    Clock::time_point until;
    now = t0;
    EXPECT_TRUE(policy.DrainQueued(1, 0, 1)) << "the first answer wakes the dispatcher to time the hold";
    now = t0 + 1ms;
    EXPECT_FALSE(policy.DrainQueued(2, 1, 3)) << "below the hold limit: no wake";
    EXPECT_FALSE(policy.DispatcherMayTake(3, &until));
    EXPECT_EQ(until, t0 + 20ms) << "timed from the first answer of the drain";
    now = t0 + 2ms;
    EXPECT_TRUE(policy.DrainQueued(1, 3, 4)) << "the hold limit wakes the dispatcher";
    EXPECT_TRUE(policy.DispatcherMayTake(4, &until));

    // A stream that never pauses: after 20 ms what is queued then goes, and
    // only that; then a new hold starts.
    now = t0 + 19ms;
    EXPECT_FALSE(policy.DispatcherMayTake(2, &until));
    now = t0 + 20ms;
    ASSERT_TRUE(policy.DispatcherMayTake(2, &until));
    policy.DispatcherTook();
    now = t0 + 21ms;
    EXPECT_TRUE(policy.DispatcherMayTake(2, &until)) << "the second released answer";
    policy.DispatcherTook();
    EXPECT_FALSE(policy.DispatcherMayTake(1, &until));
    EXPECT_EQ(until, t0 + 40ms);

    policy.Reset();
    EXPECT_TRUE(policy.DispatcherMayTake(1, &until)) << "no drain under way after a reset";
}

// The search round sits beside the policy: the receiver's other decision
// taken on the drain thread without a clock of its own.
TEST(SearchRound, SendsAgainWhileAWindowClosesWithDropsAtMostThreeTimes)
{
    using Step = SearchRound::Step;
    struct Case {
        const char* name;
        std::vector<std::uint64_t> drops_at_close; // the drop total as each window closes
        std::vector<Step> steps;
        std::uint64_t lost;
    };
    const Case cases[] = {
        {"nothing dropped: one burst", {5}, {Step::EndedClean}, 0},
        {"dropped once, then clean", {9, 9}, {Step::SendAgain, Step::EndedClean}, 0},
        {"dropped in every window",
         {6, 7, 8, 9},
         {Step::SendAgain, Step::SendAgain, Step::SendAgain, Step::EndedIncomplete},
         4},
    };
    for (const Case& c : cases) {
        SearchRound round;
        round.Begin(t0, 100ms, 5); // 5 dropped before the search
        EXPECT_EQ(round.Check(t0 + 99ms, 6), Step::Wait) << c.name << ": the window is still open";
        std::vector<Step> steps;
        Clock::time_point at = t0 + 100ms;
        for (std::uint64_t drops : c.drops_at_close) {
            steps.push_back(round.Check(at, drops));
            at += 100ms;
        }
        EXPECT_EQ(steps, c.steps) << c.name;
        EXPECT_FALSE(round.status(c.drops_at_close.back()).under_way) << c.name;
        EXPECT_EQ(round.status(c.drops_at_close.back()).bursts, int(c.steps.size())) << c.name;
        EXPECT_EQ(round.status(c.drops_at_close.back()).lost, c.lost) << c.name;
        EXPECT_EQ(round.deadline(), Clock::time_point::max()) << c.name << ": nothing more to wait for";
    }
}
