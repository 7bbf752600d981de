#pragma once
// The write engine: many cameras' apply sequences in flight at once, and the
// search rounds that verify what they kept. Each camera being written is one
// record (CameraWrite): its job, phase, step, resends, deadline and outcome
// so far; nothing else holds its state. The engine runs on Session::Write's
// thread and reacts to what the link pushes into its inbox (WriteEvents) and
// to its cameras' deadlines; it never looks for news on a timer.

#include "link/camera_link.h"
#include "ops/pace_window.h"
#include "ops/session.h"
#include "ops/write_events.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vantoro::ops {

// A camera's three records, general, user and domain, by RecordSlot: what a
// verification compares (not the steps of the sequence, which the step table counts).
inline constexpr std::size_t kRecordSlots = 3;

class WriteEngine {
public:
    using Done = std::function<void(std::size_t, const WriteOutcome&)>;
    using Verifying = std::function<void(std::size_t)>;

    // searches_sent: the session's count of search bursts, every place
    // counted; pace: told of every step as today's window rule wants.
    WriteEngine(CameraLink& link, WriteEvents& events, const SessionOptions& options, std::uint64_t& searches_sent,
                PaceWindow& pace, const Done& done, const Verifying& verifying);

    // Starts job index's sequence; false when the camera could not be
    // started (not listed, answering from two places, records missing).
    bool Start(std::size_t index, WriteJob job);
    // Cameras whose sequences have not ended.
    std::size_t in_flight() const { return in_flight_; }
    // Those in flight whose sequence began less than `stalled` ago, and
    // when the first of them will have taken that long (*next, if earlier).
    std::size_t on_their_way(std::optional<Clock::duration> stalled, Clock::time_point* next) const;
    bool idle() const { return cameras_.empty(); }
    // Waits for the next event or deadline (at most until start_due) and
    // handles all that are due. nothing_to_start: no further job will start.
    void Turn(bool nothing_to_start, Clock::time_point start_due = Clock::time_point::max());

private:
    enum class Phase { InFlight, AwaitingRound, InRound };
    struct CameraWrite {
        std::size_t index = 0;
        WriteJob job;
        std::uint64_t serial = 0; // start order: deadlines fall due in it
        Phase phase = Phase::InFlight;
        // In flight.
        ApplyStep step = ApplyStep::User; // awaited
        int step_resends = 0;
        std::array<bool, kApplySteps> resent{}; // by ApplyStep: sent more than once
        Clock::time_point started; // the user record first sent
        Clock::time_point awaited_since; // the awaited step last sent, or the step before acknowledged
        std::array<Clock::time_point, kApplySteps> acknowledged_at{};
        ApplyOutcome out;
        // Awaiting its round (since), and in it (round: its serial). An answer
        // does not say which search it answers: as many as may still come
        // from earlier searches (pending) could be late, and show the
        // records as they were before the write. By record slot.
        Clock::time_point since;
        std::uint64_t round = 0;
        std::array<std::uint64_t, kRecordSlots> pending{}, seen{};
        std::array<std::optional<Frame>, kRecordSlots> agreeing{}, disagreeing{};
    };
    struct Round {
        std::uint64_t serial;
        Clock::time_point deadline, next_burst;
        std::vector<std::pair<Ipv4Address, unsigned>> places;
        std::vector<MacAddress> members; // in the order they awaited it
        std::size_t undecided = 0;
        std::uint64_t drops_at_window = 0; // the link's drop total when the wait under way began
        int extra_windows = 0;
    };

    Clock::time_point NextDue(Clock::time_point start_due) const;
    void Handle(const WriteEvents::Batch& batch);
    void OnAcknowledged(const WriteEvents::Acknowledged& ack);
    void HandleStepDeadlines(Clock::time_point now);
    void StepDeadline(CameraWrite& c);
    void EndSequence(CameraWrite& c);
    void TellPace(const CameraWrite& c);
    void Report(std::size_t index, const WriteOutcome& outcome);
    void Forget(const MacAddress& mac);

    void AddPlaces(const WriteJob& job, std::vector<std::pair<Ipv4Address, unsigned>>& places) const;
    std::chrono::milliseconds BurstInterval() const;
    void Burst(const Round& round);
    void StartRound();
    bool SearchAgainForDrops(Round& round, Clock::time_point now);
    void NoteAnswer(CameraWrite& c, const Frame& answer);
    std::optional<WriteOutcome> Judge(const CameraWrite& c, bool over, const Round& round) const;
    void Decided(CameraWrite& c, const WriteOutcome& outcome);
    void HandleRoundDeadlines(Clock::time_point now);
    Round* RoundOf(const CameraWrite& c);

    CameraLink& link_;
    WriteEvents& events_;
    const SessionOptions& o_;
    std::uint64_t& searches_sent_;
    PaceWindow& pace_;
    const Done& done_;
    const Verifying& verifying_;
    std::unordered_map<MacAddress, CameraWrite, MacHash> cameras_;
    std::size_t in_flight_ = 0;
    std::uint64_t serials_ = 0;
    // Those awaiting a round, in the order they ended their sequences: an
    // index into cameras_, whose records say the same.
    std::vector<MacAddress> awaiting_;
    std::vector<Round> rounds_;
};

} // namespace vantoro::ops
