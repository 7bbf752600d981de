// Session::Write: asks for jobs as the pace allows and hands them to the
// write engine (ops/write_engine.h), which drives and verifies each camera.

#include "ops/session.h"

#include "ops/write_engine.h"

#include <algorithm>

namespace vantoro::ops {

std::size_t Session::Write(std::size_t count, const std::function<std::optional<WriteJob>(std::size_t)>& prepare,
                           const std::function<void(std::size_t, const WriteOutcome&)>& done,
                           const std::function<void(std::size_t)>& verifying,
                           const std::function<bool(std::size_t)>& ready)
{
    WriteEngine writer(*link_, events_.writes(), options_, searches_sent_, pace_, done, verifying);
    std::vector<bool> asked(count, false);
    std::size_t first = 0; // every job before it was asked for
    std::size_t asked_count = 0;
    for (;;) {
        // Whether a job that may start waits for room, and until when the rate holds it back.
        bool room_wanted = false;
        bool started = false;
        Clock::time_point start_due = Clock::time_point::max();
        for (std::size_t index = first; index < count && !stopped(); ++index) {
            if (asked[index] || (ready && !ready(index)))
                continue;
            // Cameras whose sequences have not ended: those in flight and those not asked for yet.
            const std::size_t left = count - asked_count + writer.in_flight();
            const std::size_t window = std::size_t(std::max(1, pace_.Window(left)));
            // A place frees when a camera ends, or when it is taken as stalled.
            Clock::time_point stall_due = Clock::time_point::max();
            if (writer.on_their_way(pace_.Stalled(), &stall_due) >= window ||
                writer.in_flight() >= std::size_t(PaceWindow::kMost)) {
                pace_.WindowFull();
                room_wanted = true;
                if (writer.in_flight() < std::size_t(PaceWindow::kMost))
                    start_due = stall_due;
                break;
            }
            if (const Clock::time_point at = pace_.NextStart(); at > Clock::now()) {
                room_wanted = true;
                start_due = at;
                break;
            }
            asked[index] = true;
            ++asked_count;
            started = true;
            auto job = prepare(index);
            if (job && !writer.Start(index, std::move(*job)) && done)
                done(index, WriteOutcome{});
        }
        while (first < count && asked[first])
            ++first;
        if (writer.idle()) {
            if (started)
                continue; // what those did may let others start
            if (start_due == Clock::time_point::max())
                return asked_count; // all asked for, stopped, or the rest never ready
        }
        writer.Turn(stopped() || !room_wanted, start_due);
    }
}

} // namespace vantoro::ops
