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
// A round whose wait ended with answers dropped searches again, with a new
// wait, at most this many times, as a search does.
constexpr int kExtraVerifyWindows = 3;

std::uint64_t DropsTotal(const CameraLink& link)
{
    const CameraLink::Counters c = link.counters();
    return c.dropped + c.kernel_dropped;
}

// The record slot (general, user, domain) of a record answer.
std::size_t SlotOf(const Frame& answer)
{
    const std::uint32_t command = FrameCommand(answer);
    return command == CMD_GENERAL_REPLY ? 0 : command == CMD_USER_REPLY ? 1 : 2;
}

std::optional<Frame>& Record(CameraSnapshot& c, std::size_t slot)
{
    return slot == 0 ? c.general : slot == 1 ? c.user : c.domain;
}

} // namespace

class Session::Writer {
public:
    Writer(Session& session, const std::function<void(std::size_t, const WriteOutcome&)>& done,
           const std::function<void(std::size_t)>& verifying)
        : link_(*session.link_), events_(session.events_), o_(session.options_),
          searches_sent_(session.searches_sent_), pace_(session.pace_), done_(done), verifying_(verifying)
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
        // Its MAC answered from a second address since the search: which
        // device the records would reach is not known, so none is written.
        const auto found = link_.Camera(mac);
        if (!found || !found->other_sources.empty()) {
            link_.HoldCamera(mac, false);
            return false;
        }
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
        const Clock::time_point now = Clock::now();
        flight_.push_back({index, std::move(job), ApplyStep::User, now, 0, {}, {}, now});
        link_.SendStep(mac, ApplyStep::User);
        pace_.Started();
        return true;
    }

    std::size_t in_flight() const { return flight_.size(); }
    // Those in flight whose sequence began less than `stalled` ago, and
    // when the first of them will have taken that long (*next, if earlier).
    std::size_t on_their_way(std::optional<Clock::duration> stalled, Clock::time_point* next) const
    {
        if (!stalled)
            return flight_.size();
        const Clock::time_point since = Clock::now() - *stalled;
        std::size_t n = 0;
        for (const InFlight& f : flight_)
            if (f.started >= since) {
                ++n;
                *next = std::min(*next, f.started + *stalled);
            }
        return n;
    }
    bool idle() const { return flight_.empty() && waiting_.empty() && rounds_.empty(); }

    // One turn: completions, timeouts and verification; waits at most until
    // the next thing due, or start_due. nothing_to_start: no further job will start.
    void Turn(bool nothing_to_start, Clock::time_point start_due = Clock::time_point::max())
    {
        Clock::time_point due = std::min(start_due, Clock::now() + milliseconds(o_.timeout_ms));
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
        std::array<bool, kApplySteps> resent; // by ApplyStep: sent more than once
        Clock::time_point started; // the user record first sent
    };
    struct Awaiting {
        std::size_t index;
        WriteJob job;
        ApplyOutcome sequence;
        Clock::time_point since;
        // Its answers since its round began, by record slot. An answer does
        // not say which search it answers: as many as may still come from
        // earlier searches (pending) could be late, and show the records as
        // they were before the write.
        std::array<std::uint64_t, 3> pending{}, seen{};
        std::array<std::optional<Frame>, 3> agreeing{}, disagreeing{};
    };
    struct Round {
        std::uint64_t mark;
        Clock::time_point deadline, next_burst;
        std::vector<std::pair<Ipv4Address, unsigned>> places;
        std::vector<Awaiting> cameras;
        std::uint64_t filed_seen = 0;
        std::uint64_t drops_at_window = 0; // the link's drop total when the wait under way began
        int extra_windows = 0;
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

    // How long each step sent once took to be acknowledged: the next step
    // goes out as the one before it is acknowledged.
    void TellPace(const InFlight& f, const SessionEvents::StepProgress& p)
    {
        Clock::time_point sent = f.started;
        for (std::size_t step = 0; step < kApplySteps; ++step) {
            if (!p.done[step])
                return;
            if (!f.resent[step])
                pace_.Acknowledged(std::chrono::duration_cast<std::chrono::microseconds>(p.acknowledged_at[step] - sent));
            sent = p.acknowledged_at[step];
        }
    }

    void Finished(const MacAddress& mac)
    {
        const auto it = std::find_if(flight_.begin(), flight_.end(), [&](const InFlight& f) { return f.job.records.mac == mac; });
        if (it == flight_.end())
            return;
        if (const auto progress = events_.Progress(mac))
            TellPace(*it, *progress);
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
                TellPace(f, *progress);
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
                pace_.TimedOut(f.awaited_since, false);
                f.out.failed_step = f.step;
                EndSequence(flight_.begin() + long(i));
                continue;
            }
            ++f.step_resends;
            ++f.out.resends;
            f.resent[std::size_t(f.step)] = true;
            pace_.TimedOut(f.awaited_since, true);
            link_.SendStep(f.job.records.mac, f.step);
            f.awaited_since = Clock::now();
            ++i;
        }
    }

    // Where a written camera can be found again: in LAN mode through its
    // interface; in WAN mode where it answered from, and at its new Ethernet
    // address too when it answered from its old one and that changed.
    void AddPlaces(const WriteJob& job, std::vector<std::pair<Ipv4Address, unsigned>>& places) const
    {
        const auto add = [&](Ipv4Address address, unsigned via) {
            if (std::find(places.begin(), places.end(), std::pair{address, via}) == places.end())
                places.emplace_back(address, via);
        };
        if (!o_.wan) {
            add(Ipv4Address(), job.before.answer_interface);
            return;
        }
        const Ipv4Address answered = !job.before.answer_address.unspecified() ? job.before.answer_address : *o_.wan;
        add(answered, 0);
        if (!job.before.general || !job.records.general)
            return;
        const Ipv4Address was(GeneralConfigReader(job.before.general->data()).ethernet_ip());
        const Ipv4Address now(GeneralConfigReader(job.records.general->data()).ethernet_ip());
        if (now != was && answered == was && !now.unspecified() && now < kFirstNonUnicast)
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
            link_.Search({.address = address, .via_interface = via, .carry_frame_image = false});
        searches_sent_ += round.places.size();
    }

    // Takes the answers it sent since the last look.
    void NoteAnswers(Awaiting& a)
    {
        for (const Frame& answer : link_.TakeWatched(a.job.records.mac)) {
            const std::size_t slot = SlotOf(answer);
            ++a.seen[slot];
            CameraSnapshot trial = a.job.records;
            Record(trial, slot) = answer;
            if (CompareWritten(a.job.before, a.job.records, trial, a.job.whole).empty())
                a.agreeing[slot] = answer;
            else
                a.disagreeing[slot] = answer;
        }
    }

    // Verified once each record was reported as written: a late answer to an
    // earlier search shows the record as it was, never as written. A
    // mismatch only when a record disagreed in more answers than earlier
    // searches could still bring. None while undecided.
    std::optional<WriteOutcome> Judge(Awaiting& a, bool over, const Round& round)
    {
        NoteAnswers(a);
        bool decided = true;
        CameraSnapshot reported = a.job.records;
        for (std::size_t slot = 0; slot < 3; ++slot) {
            if (a.agreeing[slot])
                continue;
            Record(reported, slot) = a.disagreeing[slot];
            decided &= a.disagreeing[slot] && a.seen[slot] > a.pending[slot];
        }
        WriteOutcome out{a.sequence, Verification::Verified, {}};
        if (decided) {
            out.mismatches = CompareWritten(a.job.before, a.job.records, reported, a.job.whole);
            if (!out.mismatches.empty())
                out.verification = Verification::Mismatch;
            return out;
        }
        if (!over)
            return std::nullopt;
        out.verification = Verification::Unverified;
        out.answers_lost = DropsTotal(link_) - round.drops_at_window;
        out.answers_maybe_late = std::any_of(a.seen.begin(), a.seen.end(), [](std::uint64_t n) { return n > 0; });
        return out;
    }

    void StartRound()
    {
        Round round;
        round.cameras.swap(waiting_);
        for (Awaiting& a : round.cameras) {
            // Watched before it is released: no answer goes unseen.
            const std::array<std::uint64_t, 3> answered = link_.WatchCamera(a.job.records.mac);
            link_.HoldCamera(a.job.records.mac, false);
            for (std::size_t slot = 0; slot < 3; ++slot)
                a.pending[slot] = searches_sent_ > answered[slot] ? searches_sent_ - answered[slot] : 0;
            AddPlaces(a.job, round.places);
        }
        // Only answers filed from here on count: none that was on its way
        // before the camera was written.
        round.mark = link_.AnswersFiled();
        const auto now = Clock::now();
        round.deadline = now + milliseconds(o_.verify_wait_ms);
        round.next_burst = now + BurstInterval();
        round.drops_at_window = DropsTotal(link_);
        Burst(round);
        rounds_.push_back(std::move(round));
    }

    // The wait is over, but answers were dropped in it: the cameras still
    // missing may have answered. They are searched again with a new wait,
    // while that may still help; true when so.
    bool SearchAgainForDrops(Round& round, Clock::time_point now)
    {
        const std::uint64_t drops = DropsTotal(link_);
        if (drops == round.drops_at_window || round.extra_windows == kExtraVerifyWindows)
            return false;
        ++round.extra_windows;
        round.drops_at_window = drops;
        round.deadline = now + milliseconds(o_.verify_wait_ms);
        round.next_burst = now + BurstInterval();
        Burst(round);
        return true;
    }

    void CheckRounds()
    {
        const auto now = Clock::now();
        for (std::size_t r = 0; r < rounds_.size();) {
            Round& round = rounds_[r];
            const bool over = now >= round.deadline && !SearchAgainForDrops(round, now);
            const std::uint64_t filed = link_.AnswersFiled();
            if (filed != round.filed_seen || over) {
                round.filed_seen = filed;
                std::erase_if(round.cameras, [&](Awaiting& a) {
                    const auto out = Judge(a, over, round);
                    if (!out)
                        return false;
                    link_.TakeWatched(a.job.records.mac, true);
                    Report(a.index, *out);
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
    std::uint64_t& searches_sent_; // the session's, every place counted
    PaceWindow& pace_;
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
