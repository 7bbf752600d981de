// Session::Write: many cameras' apply sequences in flight at once, and the
// search rounds that verify what they kept.

#include "ops/session.h"

#include "link/network_fields.h"
#include "link/records.h"

#include <algorithm>

namespace vantoro::ops {

using std::chrono::milliseconds;

namespace {

// Cameras awaiting verification are searched together once this many have
// finished their sequences (or nothing else is left to do): a search round
// makes every camera at that address answer, so it is worth sharing.
constexpr std::size_t kVerifyWindow = 256;
// How often a verification round looks at what has come back.
constexpr auto kVerifyPoll = milliseconds(10);

bool AllFiledAfter(const CameraSnapshot& c, std::uint64_t mark)
{
    return c.complete() && std::all_of(c.filed_at.begin(), c.filed_at.end(), [&](std::uint64_t at) { return at > mark; });
}

} // namespace

class Session::Writer {
public:
    Writer(Session& session, const std::function<void(std::size_t, const WriteOutcome&)>& done,
           const std::function<void(std::size_t)>& verifying)
        : link_(*session.link_), events_(session.events_), o_(session.options_), done_(done), verifying_(verifying)
    {
    }

    // False when the camera could not be started (not listed, records missing).
    bool Start(std::size_t index, WriteJob job)
    {
        const MacAddress mac = job.records.mac;
        // Until it has been searched again, later answers from this camera
        // are set aside: they carry its old records, and the link sends each
        // next record from what it holds for the camera.
        link_.HoldCamera(mac, true);
        const auto camera = link_.StoreRecords(job.records) ? link_.Camera(mac) : std::nullopt;
        if (!camera || !camera->complete()) {
            link_.HoldCamera(mac, false);
            return false;
        }
        std::array<Frame, kApplySteps> sent{};
        for (const ApplyStepInfo& st : kApplyStepTable)
            sent[std::size_t(st.step)] = st.slot == RecordSlot::User     ? *camera->user
                                         : st.slot == RecordSlot::Domain ? *camera->domain
                                                                         : *camera->general;
        job.records = *camera;
        events_.Track(mac, sent);
        flight_.push_back({index, std::move(job), ApplyStep::User, Clock::now(), 0, {}});
        link_.SendStep(mac, ApplyStep::User);
        return true;
    }

    std::size_t in_flight() const { return flight_.size(); }
    bool idle() const { return flight_.empty() && waiting_.empty() && rounds_.empty(); }

    // One turn: completions, timeouts and verification; waits at most until
    // the next thing due. nothing_to_start: no further job will start.
    void Turn(bool nothing_to_start)
    {
        Clock::time_point due = Clock::now() + milliseconds(o_.timeout_ms);
        for (const InFlight& f : flight_)
            due = std::min(due, f.awaited_since + milliseconds(o_.timeout_ms));
        if (!rounds_.empty())
            due = std::min(due, Clock::now() + kVerifyPoll);
        if (!waiting_.empty())
            due = std::min(due, waiting_.front().since + milliseconds(o_.verify_wait_ms));
        for (const MacAddress& mac : events_.WaitForCompleted(due))
            Finished(mac);
        CheckTimeouts();
        const bool sequences_over = flight_.empty() && nothing_to_start;
        if (!waiting_.empty() &&
            (waiting_.size() >= kVerifyWindow || sequences_over ||
             Clock::now() - waiting_.front().since >= milliseconds(o_.verify_wait_ms)))
            StartRound();
        CheckRounds();
    }

private:
    struct InFlight {
        std::size_t index;
        WriteJob job;
        ApplyStep step;
        Clock::time_point awaited_since;
        int step_resends;
        ApplyOutcome out;
    };
    struct Awaiting {
        std::size_t index;
        WriteJob job;
        ApplyOutcome sequence;
        Clock::time_point since;
    };
    struct Round {
        std::uint64_t mark;
        Clock::time_point deadline, next_burst;
        std::vector<std::pair<std::uint32_t, unsigned>> places;
        std::vector<Awaiting> cameras;
        std::uint64_t filed_seen = 0;
    };

    void Report(std::size_t index, const WriteOutcome& outcome)
    {
        if (done_)
            done_(index, outcome);
    }

    // The sequence of this camera ended, acknowledged or not.
    void EndSequence(std::vector<InFlight>::iterator it)
    {
        InFlight f = std::move(*it);
        flight_.erase(it);
        events_.StopTracking(f.job.records.mac);
        if (f.out.ok && o_.verify) {
            waiting_.push_back({f.index, std::move(f.job), f.out, Clock::now()});
            if (verifying_)
                verifying_(f.index);
            return;
        }
        link_.HoldCamera(f.job.records.mac, false);
        Report(f.index, {f.out, Verification::NotChecked, {}});
    }

    void Finished(const MacAddress& mac)
    {
        const auto it = std::find_if(flight_.begin(), flight_.end(), [&](const InFlight& f) { return f.job.records.mac == mac; });
        if (it == flight_.end())
            return;
        it->out.ok = true;
        EndSequence(it);
    }

    void CheckTimeouts()
    {
        const auto now = Clock::now();
        for (std::size_t i = 0; i < flight_.size();) {
            InFlight& f = flight_[i];
            if (now < f.awaited_since + milliseconds(o_.timeout_ms)) {
                ++i;
                continue;
            }
            const auto progress = events_.Progress(f.job.records.mac);
            int first_open = 0;
            while (progress && first_open < int(kApplySteps) && progress->done[first_open])
                ++first_open;
            if (first_open == int(kApplySteps)) {
                f.out.ok = true;
                EndSequence(flight_.begin() + long(i));
                continue;
            }
            if (first_open > int(f.step)) {
                // Acknowledged meanwhile: the next step has its own time, from then.
                f.step = ApplyStep(first_open);
                f.awaited_since = progress->acknowledged_at[first_open - 1];
                f.step_resends = 0;
                continue; // looked at again at once
            }
            if (f.step_resends == o_.retries) {
                // Acknowledged since Progress was read: looked at again.
                if (!events_.GiveUp(f.job.records.mac, f.step))
                    continue;
                f.out.failed_step = f.step;
                EndSequence(flight_.begin() + long(i));
                continue;
            }
            ++f.step_resends;
            ++f.out.resends;
            link_.SendStep(f.job.records.mac, f.step);
            f.awaited_since = Clock::now();
            ++i;
        }
    }

    // Where a written camera can be found again: in LAN mode through its
    // interface; in WAN mode where it answered from, and at its new Ethernet
    // address too when it answered from its old one and that changed.
    void AddPlaces(const WriteJob& job, std::vector<std::pair<std::uint32_t, unsigned>>& places) const
    {
        const auto add = [&](std::uint32_t address, unsigned via) {
            if (std::find(places.begin(), places.end(), std::pair{address, via}) == places.end())
                places.emplace_back(address, via);
        };
        if (!o_.wan) {
            add(0, job.before.answer_interface);
            return;
        }
        const std::uint32_t answered = job.before.answer_address != 0 ? job.before.answer_address : *o_.wan;
        add(answered, 0);
        if (!job.before.general || !job.records.general)
            return;
        const std::uint32_t was = GeneralConfigReader(job.before.general->data()).ethernet_ip();
        const std::uint32_t now = GeneralConfigReader(job.records.general->data()).ethernet_ip();
        if (now != was && answered == was && now != 0 && now < kFirstNonUnicast)
            add(now, 0);
    }

    // The search is resent retries times within the wait, and at the latest
    // after a timeout: an answer later than that is taken as lost.
    milliseconds BurstInterval() const
    {
        return milliseconds(std::max(1, std::min(o_.timeout_ms, o_.verify_wait_ms / (o_.retries + 1))));
    }

    void Burst(const Round& round)
    {
        for (const auto& [address, via] : round.places)
            link_.SendSearch(address, via);
    }

    void StartRound()
    {
        Round round;
        round.cameras.swap(waiting_);
        for (const Awaiting& a : round.cameras) {
            link_.HoldCamera(a.job.records.mac, false);
            AddPlaces(a.job, round.places);
        }
        // Only answers filed from here on count: none that was on its way
        // before the camera was written.
        round.mark = link_.AnswersFiled();
        const auto now = Clock::now();
        round.deadline = now + milliseconds(o_.verify_wait_ms);
        round.next_burst = now + BurstInterval();
        Burst(round);
        rounds_.push_back(std::move(round));
    }

    void CheckRounds()
    {
        const auto now = Clock::now();
        for (std::size_t r = 0; r < rounds_.size();) {
            Round& round = rounds_[r];
            const bool over = now >= round.deadline;
            const std::uint64_t filed = link_.AnswersFiled();
            if (filed != round.filed_seen || over) {
                round.filed_seen = filed;
                std::erase_if(round.cameras, [&](const Awaiting& a) {
                    const auto reported = link_.Camera(a.job.records.mac);
                    if (reported && AllFiledAfter(*reported, round.mark)) {
                        WriteOutcome out{a.sequence, Verification::Verified, {}};
                        out.mismatches = CompareWritten(a.job.before, a.job.records, *reported, a.job.whole);
                        if (!out.mismatches.empty())
                            out.verification = Verification::Mismatch;
                        Report(a.index, out);
                        return true;
                    }
                    if (!over)
                        return false;
                    Report(a.index, {a.sequence, Verification::Unverified, {}});
                    return true;
                });
            }
            if (round.cameras.empty()) {
                rounds_.erase(rounds_.begin() + long(r));
                continue;
            }
            if (now >= round.next_burst) {
                // Answers lost on the way: the cameras still missing are asked again.
                Burst(round);
                round.next_burst = now + BurstInterval();
            }
            ++r;
        }
    }

    CameraLink& link_;
    SessionEvents& events_;
    const SessionOptions& o_;
    const std::function<void(std::size_t, const WriteOutcome&)>& done_;
    const std::function<void(std::size_t)>& verifying_;
    std::vector<InFlight> flight_;
    std::vector<Awaiting> waiting_;
    std::vector<Round> rounds_;
};

std::size_t Session::Write(std::size_t count, const std::function<std::optional<WriteJob>(std::size_t)>& prepare,
                           const std::function<void(std::size_t, const WriteOutcome&)>& done,
                           const std::function<void(std::size_t)>& verifying,
                           const std::function<bool(std::size_t)>& ready)
{
    Writer writer(*this, done, verifying);
    const std::size_t parallel = std::size_t(std::max(1, options_.parallel));
    std::vector<bool> asked(count, false);
    std::size_t first = 0; // every job before it was asked for
    std::size_t asked_count = 0;
    for (;;) {
        // Whether a job that may start waits for room.
        bool room_wanted = false;
        bool started = false;
        for (std::size_t index = first; index < count && !stopped(); ++index) {
            if (asked[index] || (ready && !ready(index)))
                continue;
            if (writer.in_flight() >= parallel) {
                room_wanted = true;
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
            return asked_count; // all asked for, stopped, or the rest never ready
        }
        writer.Turn(stopped() || !room_wanted);
    }
}

} // namespace vantoro::ops
