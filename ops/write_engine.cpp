#include "ops/write_engine.h"

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
    return std::size_t(command == CMD_GENERAL_REPLY ? RecordSlot::General
                       : command == CMD_USER_REPLY  ? RecordSlot::User
                                                    : RecordSlot::Domain);
}

std::optional<Frame>& Record(CameraSnapshot& c, std::size_t slot)
{
    return slot == std::size_t(RecordSlot::General) ? c.general
           : slot == std::size_t(RecordSlot::User)  ? c.user
                                                    : c.domain;
}

} // namespace

WriteEngine::WriteEngine(CameraLink& link, WriteEvents& events, const SessionOptions& options,
                         std::uint64_t& searches_sent, PaceWindow& pace, const Done& done, const Verifying& verifying)
    : link_(link), events_(events), o_(options), searches_sent_(searches_sent), pace_(pace), done_(done),
      verifying_(verifying)
{
}

bool WriteEngine::Start(std::size_t index, WriteJob job)
{
    const MacAddress mac = job.records.mac;
    if (cameras_.count(mac))
        return false; // one sequence per camera at a time: acknowledgements name only the camera
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
    CameraWrite c;
    c.index = index;
    c.job = std::move(job);
    c.serial = ++serials_;
    c.started = c.awaited_since = Clock::now();
    cameras_.emplace(mac, std::move(c));
    ++in_flight_;
    link_.SendStep(mac, ApplyStep::User);
    pace_.Started();
    return true;
}

std::size_t WriteEngine::on_their_way(std::optional<Clock::duration> stalled, Clock::time_point* next) const
{
    if (!stalled)
        return in_flight_;
    const Clock::time_point since = Clock::now() - *stalled;
    std::size_t n = 0;
    for (const auto& [mac, c] : cameras_)
        if (c.phase == Phase::InFlight && c.started >= since) {
            ++n;
            *next = std::min(*next, c.started + *stalled);
        }
    return n;
}

void WriteEngine::Turn(bool nothing_to_start, Clock::time_point start_due)
{
    Handle(events_.Wait(NextDue(start_due)));
    HandleStepDeadlines(Clock::now());
    const bool sequences_over = in_flight_ == 0 && nothing_to_start;
    if (!awaiting_.empty() &&
        (awaiting_.size() >= kVerifyWindow || sequences_over ||
         Clock::now() - cameras_.at(awaiting_.front()).since >= milliseconds(o_.verify_wait_ms)))
        StartRound();
    HandleRoundDeadlines(Clock::now());
    std::erase_if(rounds_, [](const Round& r) { return r.undecided == 0; });
}

// The earliest of: start_due, a step's timeout, the oldest waiting camera's
// verification wait, a round's next burst or the end of its wait.
Clock::time_point WriteEngine::NextDue(Clock::time_point start_due) const
{
    Clock::time_point due = std::min(start_due, Clock::now() + milliseconds(o_.timeout_ms));
    for (const auto& [mac, c] : cameras_)
        if (c.phase == Phase::InFlight)
            due = std::min(due, c.awaited_since + milliseconds(o_.timeout_ms));
    if (!awaiting_.empty())
        due = std::min(due, cameras_.at(awaiting_.front()).since + milliseconds(o_.verify_wait_ms));
    for (const Round& r : rounds_)
        if (r.undecided > 0)
            due = std::min({due, r.deadline, r.next_burst});
    return due;
}

void WriteEngine::Handle(const WriteEvents::Batch& batch)
{
    for (const WriteEvents::Acknowledged& ack : batch.acknowledged)
        OnAcknowledged(ack);
    // Every answer that came is noted before any camera is judged, so a
    // record's later answer is not overlooked for an earlier one.
    std::vector<MacAddress> touched;
    for (const Frame& answer : batch.answers) {
        const auto it = cameras_.find(FrameMac(answer));
        if (it == cameras_.end() || it->second.phase != Phase::InRound)
            continue; // a camera decided already
        NoteAnswer(it->second, answer);
        if (std::find(touched.begin(), touched.end(), it->first) == touched.end())
            touched.push_back(it->first);
    }
    for (const MacAddress& mac : touched) {
        CameraWrite& c = cameras_.at(mac);
        if (const auto out = Judge(c, false, *RoundOf(c)))
            Decided(c, *out);
    }
}

void WriteEngine::OnAcknowledged(const WriteEvents::Acknowledged& ack)
{
    const auto it = cameras_.find(ack.mac);
    // WriteEvents lets each step through once, in order, for tracked cameras only.
    if (it == cameras_.end() || it->second.phase != Phase::InFlight || it->second.step != ack.step)
        return;
    CameraWrite& c = it->second;
    const std::size_t step = std::size_t(ack.step);
    c.acknowledged_at[step] = ack.at;
    if (step + 1 == kApplySteps) {
        TellPace(c);
        c.out.ok = true;
        EndSequence(c);
        return;
    }
    // The link sent the next step as it let this one through: its own time, from then.
    c.step = ApplyStep(step + 1);
    c.awaited_since = ack.at;
    c.step_resends = 0;
}

void WriteEngine::HandleStepDeadlines(Clock::time_point now)
{
    std::vector<std::pair<std::uint64_t, MacAddress>> due; // in start order, as pacing was always told
    for (const auto& [mac, c] : cameras_)
        if (c.phase == Phase::InFlight && now >= c.awaited_since + milliseconds(o_.timeout_ms))
            due.emplace_back(c.serial, mac);
    std::sort(due.begin(), due.end());
    for (const auto& [serial, mac] : due) {
        // Handling one camera's deadline may have handled events for others.
        for (auto it = cameras_.find(mac); it != cameras_.end() && it->second.phase == Phase::InFlight &&
                                           now >= it->second.awaited_since + milliseconds(o_.timeout_ms);
             it = cameras_.find(mac))
            StepDeadline(it->second);
    }
}

// The awaited step was not acknowledged in time: sent again, or after
// retries resends the camera is given up at it.
void WriteEngine::StepDeadline(CameraWrite& c)
{
    const MacAddress mac = c.job.records.mac;
    if (c.step_resends == o_.retries) {
        if (!events_.GiveUp(mac, c.step)) {
            // Acknowledged just now: its event is queued, and moves the step on.
            const ApplyStep step = c.step;
            Handle(events_.Wait(Clock::time_point::min()));
            // Counted by the gate whatever was queued: never left at a passed deadline.
            const auto it = cameras_.find(mac);
            if (it != cameras_.end() && it->second.phase == Phase::InFlight && it->second.step == step)
                OnAcknowledged({mac, step, Clock::now()});
            return;
        }
        pace_.TimedOut(c.awaited_since, false);
        c.out.failed_step = c.step;
        EndSequence(c);
        return;
    }
    ++c.step_resends;
    ++c.out.resends;
    c.resent[std::size_t(c.step)] = true;
    pace_.TimedOut(c.awaited_since, true);
    link_.SendStep(mac, c.step);
    c.awaited_since = Clock::now();
}

// How long each step sent once took to be acknowledged: the next step
// goes out as the one before it is acknowledged.
void WriteEngine::TellPace(const CameraWrite& c)
{
    Clock::time_point sent = c.started;
    for (std::size_t step = 0; step < kApplySteps; ++step) {
        if (!c.resent[step])
            pace_.Acknowledged(std::chrono::duration_cast<std::chrono::microseconds>(c.acknowledged_at[step] - sent));
        sent = c.acknowledged_at[step];
    }
}

// The camera's sequence ended, acknowledged or not.
void WriteEngine::EndSequence(CameraWrite& c)
{
    --in_flight_;
    const MacAddress mac = c.job.records.mac;
    events_.StopTracking(mac);
    if (c.out.ok && o_.verify) {
        c.phase = Phase::AwaitingRound;
        c.since = Clock::now();
        awaiting_.push_back(mac);
        if (verifying_)
            verifying_(c.index);
        return;
    }
    link_.HoldCamera(mac, false);
    const std::size_t index = c.index;
    const WriteOutcome outcome{c.out, Verification::NotChecked, {}};
    cameras_.erase(mac);
    Report(index, outcome);
}

void WriteEngine::Report(std::size_t index, const WriteOutcome& outcome)
{
    if (done_)
        done_(index, outcome);
}

// Where a written camera can be found again: in LAN mode through its
// interface; in WAN mode where it answered from, and at its new Ethernet
// address too when it answered from its old one and that changed.
void WriteEngine::AddPlaces(const WriteJob& job, std::vector<std::pair<Ipv4Address, unsigned>>& places) const
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
milliseconds WriteEngine::BurstInterval() const
{
    return milliseconds(std::max(1, std::min(o_.timeout_ms, o_.verify_wait_ms / (o_.retries + 1))));
}

void WriteEngine::Burst(const Round& round)
{
    for (const auto& [address, via] : round.places)
        link_.Search({.address = address, .via_interface = via, .carry_frame_image = false});
    searches_sent_ += round.places.size();
}

// Every camera awaiting its round is searched again, together.
void WriteEngine::StartRound()
{
    Round round;
    round.serial = ++serials_;
    for (const MacAddress& mac : awaiting_) {
        CameraWrite& c = cameras_.at(mac);
        // Queued before the link keeps them, and watched before it is
        // released: no answer goes unseen.
        events_.WatchAnswers(mac, true);
        const std::array<std::uint64_t, kRecordSlots> answered = link_.WatchCamera(mac);
        link_.HoldCamera(mac, false);
        for (std::size_t slot = 0; slot < kRecordSlots; ++slot)
            c.pending[slot] = searches_sent_ > answered[slot] ? searches_sent_ - answered[slot] : 0;
        AddPlaces(c.job, round.places);
        c.phase = Phase::InRound;
        c.round = round.serial;
        round.members.push_back(mac);
    }
    awaiting_.clear();
    round.undecided = round.members.size();
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
bool WriteEngine::SearchAgainForDrops(Round& round, Clock::time_point now)
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

void WriteEngine::NoteAnswer(CameraWrite& c, const Frame& answer)
{
    const std::size_t slot = SlotOf(answer);
    ++c.seen[slot];
    CameraSnapshot trial = c.job.records;
    Record(trial, slot) = answer;
    if (CompareWritten(c.job.before, c.job.records, trial, c.job.whole).empty())
        c.agreeing[slot] = answer;
    else
        c.disagreeing[slot] = answer;
}

// Verified once each record was reported as written: a late answer to an
// earlier search shows the record as it was, never as written. A
// mismatch only when a record disagreed in more answers than earlier
// searches could still bring. None while undecided.
std::optional<WriteOutcome> WriteEngine::Judge(const CameraWrite& c, bool over, const Round& round) const
{
    bool decided = true;
    CameraSnapshot reported = c.job.records;
    for (std::size_t slot = 0; slot < kRecordSlots; ++slot) {
        if (c.agreeing[slot])
            continue;
        Record(reported, slot) = c.disagreeing[slot];
        decided &= c.disagreeing[slot] && c.seen[slot] > c.pending[slot];
    }
    WriteOutcome out{c.out, Verification::Verified, {}};
    if (decided) {
        out.mismatches = CompareWritten(c.job.before, c.job.records, reported, c.job.whole);
        if (!out.mismatches.empty())
            out.verification = Verification::Mismatch;
        return out;
    }
    if (!over)
        return std::nullopt;
    out.verification = Verification::Unverified;
    out.answers_lost = DropsTotal(link_) - round.drops_at_window;
    out.answers_maybe_late = std::any_of(c.seen.begin(), c.seen.end(), [](std::uint64_t n) { return n > 0; });
    return out;
}

void WriteEngine::Decided(CameraWrite& c, const WriteOutcome& outcome)
{
    const MacAddress mac = c.job.records.mac;
    link_.UnwatchCamera(mac);
    events_.WatchAnswers(mac, false);
    --RoundOf(c)->undecided;
    const std::size_t index = c.index;
    cameras_.erase(mac);
    Report(index, outcome);
}

WriteEngine::Round* WriteEngine::RoundOf(const CameraWrite& c)
{
    for (Round& r : rounds_)
        if (r.serial == c.round)
            return &r;
    return nullptr; // never: a camera in a round is decided before its round goes
}

void WriteEngine::HandleRoundDeadlines(Clock::time_point now)
{
    for (Round& round : rounds_) {
        if (round.undecided == 0)
            continue;
        if (now >= round.deadline && !SearchAgainForDrops(round, now)) {
            for (const MacAddress& mac : round.members) {
                const auto it = cameras_.find(mac);
                if (it != cameras_.end() && it->second.phase == Phase::InRound && it->second.round == round.serial)
                    Decided(it->second, *Judge(it->second, true, round));
            }
            continue;
        }
        if (now >= round.next_burst) {
            // Answers lost on the way: the cameras still missing are asked again.
            Burst(round);
            round.next_burst = now + BurstInterval();
        }
    }
}

} // namespace vantoro::ops
