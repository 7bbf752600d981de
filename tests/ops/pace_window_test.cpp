#include "ops/pace_window.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace vantoro::ops;
using namespace std::chrono_literals;

namespace {

using Clock = PaceWindow::Clock;
const Clock::time_point t0 = Clock::time_point{} + 1h;
Clock::time_point now = t0; // the pace's clock in these tests
Clock::time_point Now() { return now; }

// What happens, in order: an acknowledgement that took ms ('a', n times), the
// clock moving on by ms ('w'), a step sent ms ago timing out and resent
// ('r') or given up ('g'), a camera started as the rate allows ('s'), the
// window found full ('f'). The window is full from the start unless the
// case begins with 'n'.
struct Event {
    char what;
    int ms;
    int times = 1;
};

struct WindowCase {
    const char* name;
    int fixed;
    std::vector<Event> events;
    std::size_t left; // cameras whose sequences have not ended
    int window;
    int resends = 0;
    int max_rate = 1'000'000;
};

} // namespace

TEST(PaceWindow, GrowsOnUsualAcknowledgementsAndHalvesOncePerLoss)
{
    const WindowCase cases[] = {
        {"starts at 16", 0, {}, 1000, 16},
        {"never past the cameras left", 0, {}, 5, 5},
        {"doubles: one more for each acknowledgement in its usual time", 0, {{'a', 50, 16}}, 1000, 32},
        {"never past 256", 0, {{'a', 50, 400}}, 1000, 256},
        {"never past what the rate feeds: 500 cameras a second, 150 ms each", 0, {{'a', 50, 400}}, 1000, 75, 0, 2000},
        {"nor past it when queues make the steps slower", 0, {{'a', 50, 100}, {'a', 70, 100}, {'a', 90, 100}, {'a', 110, 100}},
         1000, 75, 0, 2000},
        {"a slower site is fed by more in flight", 0, {{'a', 200, 400}}, 1000, 256, 0, 2000},
        {"not while the rate, not the window, holds starts back", 0, {{'a', 50, 16}, {'s', 0, 51}, {'a', 50, 16}}, 1000, 32,
         0, 2000},
        {"again once the window is full", 0, {{'s', 0, 51}, {'f', 0}, {'a', 50, 16}}, 1000, 32, 0, 2000},
        {"not before the window was ever full", 0, {{'n', 0}, {'a', 50, 16}}, 1000, 16},
        {"a late acknowledgement neither grows nor shrinks it", 0, {{'a', 50, 3}, {'a', 1000}}, 1000, 19},
        {"usual time follows the site's own pace", 0, {{'a', 1000, 4}}, 1000, 20},
        {"a resent step halves it", 0, {{'a', 50, 16}, {'r', 2000}}, 1000, 16, 1},
        {"a step given up halves it too", 0, {{'a', 50, 16}, {'g', 2000}}, 1000, 16},
        {"after a resend it grows by about one a window of acknowledgements", 0, {{'a', 50, 16}, {'r', 2000}, {'a', 50, 17}},
         1000, 17, 1},
        {"steps sent before the halving are the same loss", 0,
         {{'a', 50, 16}, {'r', 2000}, {'w', 10}, {'r', 2010, 5}}, 1000, 16, 6},
        {"a step sent after the halving halves it again", 0,
         {{'a', 50, 48}, {'r', 2000}, {'w', 2500}, {'r', 2000}}, 1000, 16, 2},
        {"never below where it started", 0, {{'a', 50, 16}, {'g', 10}, {'w', 20}, {'g', 10}, {'w', 20}, {'g', 10}}, 1000, 16},
        {"a fixed window stays as asked", 64, {{'a', 50, 100}, {'r', 2000}, {'w', 3000}, {'r', 2000}}, 1000, 64, 2},
        {"a fixed window is never past the cameras left", 64, {}, 10, 10},
    };
    for (const WindowCase& c : cases) {
        now = t0;
        PaceWindow pace(c.fixed, c.max_rate, Now);
        if (c.events.empty() || c.events[0].what != 'n')
            pace.WindowFull();
        for (const Event& e : c.events)
            for (int i = 0; i < e.times; ++i) {
                switch (e.what) {
                case 'n': break;
                case 's': (void)pace.NextStart(); pace.Started(); break;
                case 'f': pace.WindowFull(); break;
                case 'a': pace.Acknowledged(std::chrono::milliseconds(e.ms)); break;
                case 'w': now += std::chrono::milliseconds(e.ms); break;
                default: pace.TimedOut(now - std::chrono::milliseconds(e.ms), e.what == 'r');
                }
            }
        EXPECT_EQ(pace.Window(c.left), c.window) << c.name;
        EXPECT_EQ(pace.peak(), c.window) << c.name;
        EXPECT_EQ(pace.resends(), c.resends) << c.name;
    }
}

TEST(PaceWindow, RecordsPerSecondStayUnderTheRate)
{
    struct RateCase {
        const char* name;
        int max_rate;
        int starts; // cameras started at once
        int resends; // then steps resent
        std::chrono::microseconds next; // until the next camera may start
    };
    // 100 ms of frames start at once; then four frames (a camera) at the rate.
    const RateCase cases[] = {
        {"a full bucket starts at once", 2000, 0, 0, 0us},
        {"fifty cameras of 2000 frames a second start at once", 2000, 49, 0, 0us},
        {"the next waits for its four frames", 2000, 50, 0, 2000us},
        {"a resent step is a frame too", 2000, 49, 2, 1000us},
        {"the slowest rate still lets one camera start", 1, 1, 0, 4000000us},
    };
    for (const RateCase& c : cases) {
        now = t0;
        PaceWindow pace(0, c.max_rate, Now);
        for (int i = 0; i < c.starts; ++i)
            pace.Started();
        for (int i = 0; i < c.resends; ++i)
            pace.TimedOut(now, true);
        const auto wait = pace.NextStart() - now;
        EXPECT_GE(wait, c.next) << c.name;
        EXPECT_LE(wait, c.next + 1us) << c.name;
        now += wait;
        EXPECT_EQ(pace.NextStart(), now) << c.name << ": may start then";
    }
}

TEST(PaceWindow, ASequenceLongerThanThreeUsualStepsIsTakenAsStalled)
{
    struct StalledCase {
        const char* name;
        int fixed;
        int acknowledgements; // of 50 ms each
        std::optional<std::chrono::milliseconds> stalled;
    };
    const StalledCase cases[] = {
        {"three steps of 50 ms and half again", 0, 400, 225ms},
        {"not before any step came back", 0, 0, std::nullopt},
        {"never with a fixed window: it keeps its count", 64, 400, std::nullopt},
    };
    for (const StalledCase& c : cases) {
        PaceWindow pace(c.fixed, 2000, Now);
        for (int i = 0; i < c.acknowledgements; ++i)
            pace.Acknowledged(50ms);
        const auto stalled = pace.Stalled();
        ASSERT_EQ(stalled.has_value(), c.stalled.has_value()) << c.name;
        if (stalled) {
            EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(*stalled), *c.stalled) << c.name;
        }
    }
}
