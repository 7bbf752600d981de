#pragma once
// One run of the camera link for a command: the search, the apply sequence
// with a timeout and retries per step, and the reset, all through the link's
// front door. The link sends the later steps of a sequence on each
// acknowledgement that echoes what was sent, and pushes it to the write
// engine (ops/write_engine.h) through SessionEvents, which wakes this thread.

#include "util/result.h"
#include "ops/pace_window.h"
#include "ops/session_events.h"
#include "ops/verify_records.h"
#include "ops/sweep_targets.h"
#include "link/camera_link.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantoro::ops {

struct SessionOptions {
    std::optional<Ipv4Address> wan; // WAN mode to this address; none: LAN mode
    int wait_ms = 1000; // how long a search collects answers
    int timeout_ms = 2000; // per acknowledgement
    int retries = 2;
    LinkPorts ports;
    // WAN mode to more than one address: the search burst goes once to each,
    // at most rate addresses per second, and wait_ms collects the answers
    // after the last. Otherwise the search goes to wan.
    SweepTargets sweep;
    int rate = 500;
    // Set from a signal handler: the search ends early with what it found.
    const std::atomic<bool>* stop = nullptr;
    // Writes: how many cameras' sequences may be in flight at once; 0: as
    // many as the cameras answer well (PaceWindow finds the number).
    int parallel = 1;
    // Writes: records and closing frames sent per second, at most.
    int max_rate = PaceWindow::kDefaultMaxRate;
    // After a camera's closing frame, search it again and compare what it
    // keeps, waiting at most verify_wait_ms for its three records.
    bool verify = false;
    int verify_wait_ms = 3000;
};

// How far a search has come, for a progress line.
struct SearchProgress {
    std::size_t found = 0; // cameras
    std::uint64_t sent = 0; // addresses of a sweep searched so far
    std::uint64_t total = 0; // addresses of the sweep; 0 for a single search
    std::int64_t ms_left = 0;
};

struct ApplyOutcome {
    bool ok = false;
    ApplyStep failed_step = ApplyStep::User;
    int resends = 0;
};

// How far a search with targets goes: it may end once each target has sent
// all three records, or it searches everywhere for the whole wait, as a
// check that no other camera holds an address needs.
enum class SearchScope { UntilTargetsFound, Whole };

// One camera to write: its records as they are to be sent and as they were
// found, which tells verification what was written.
struct WriteJob {
    CameraSnapshot records;
    CameraSnapshot before;
    bool whole = false; // a restored backup: every byte of the three records was written
};

enum class Verification { NotChecked, Verified, Unverified, Mismatch };

struct WriteOutcome {
    ApplyOutcome sequence;
    Verification verification = Verification::NotChecked;
    std::vector<Mismatch> mismatches;
    // Unverified: answers the link dropped (its buffers were full) in the
    // last wait for this camera, after it had searched again for them.
    std::uint64_t answers_lost = 0;
    // Unverified: it answered, but each answer that disagreed with the
    // write could have been a late answer to an earlier search.
    bool answers_maybe_late = false;
};

class Session {
public:
    explicit Session(SessionOptions options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Binds the tool port; an error text when it cannot.
    Error Start();
    // Stops receiving: nothing is heard from the cameras after this.
    void Stop() { link_->Stop(); }

    // The search burst, sent retries + 1 times spread over wait_ms (and up to
    // 3 more times, wait_ms apart, while answers are dropped), or once to
    // each address of a sweep. With targets it ends as soon as each of them
    // has sent all three records (unless scope is Whole), and then waits for
    // the answers to die down. on_progress is called as answers come in.
    std::vector<CameraSnapshot> Discover(const std::vector<MacAddress>* targets = nullptr,
                                        const std::function<void(const SearchProgress&)>& on_progress = {},
                                        SearchScope scope = SearchScope::UntilTargetsFound);
    // Whether the last Discover searched every address of a sweep and
    // collected for the whole wait: it neither ended early nor was stopped.
    bool searched_whole() const { return searched_whole_; }
    // Answers dropped (the socket buffer or the receiver's queue was full)
    // in the last Discover, when a burst sent again could not make up for
    // them: the list may be incomplete. A single search sends its burst
    // again, on top of the retries, while answers are dropped; a sweep does not.
    std::uint64_t answers_lost() const { return answers_lost_; }
    // Whether the stop flag ended the search.
    bool stopped() const { return options_.stop && options_.stop->load(); }
    // Every registered camera, sorted by hardware address.
    std::vector<CameraSnapshot> Cameras();

    // Writes the three records into the camera's entry and sends them (in WAN
    // mode to the address the camera answered from) with the acknowledged
    // sequence: user, domain, general, then the closing frame. A step without
    // its acknowledgement within timeout_ms is sent again, up to retries
    // times. The camera must be registered.
    ApplyOutcome Apply(const CameraSnapshot& records);
    // Writes cameras with up to options().parallel sequences in flight (or
    // as many as pace() allows when it is 0), at most options().max_rate
    // records a second, each
    // the sequence above with its own timeouts and resends, and with
    // options().verify searches them again afterwards, one search round for
    // many cameras. prepare(i) is asked for job i, in order, when it may
    // start; none: nothing to write for it. done(i, outcome) is called as
    // each camera finishes, on this thread. After a stop (Ctrl+C) the
    // sequences in flight finish and no further job is asked for; the
    // number of jobs asked for is returned. verifying(i), when given, is
    // called when job i's sequence was acknowledged and it awaits its search.
    // ready(i), when given, says whether job i may be asked for yet (the
    // jobs it waits for are done): jobs are then asked for in order among
    // the ready ones, and those never ready are left unasked.
    std::size_t Write(std::size_t count, const std::function<std::optional<WriteJob>(std::size_t)>& prepare,
                      const std::function<void(std::size_t, const WriteOutcome&)>& done,
                      const std::function<void(std::size_t)>& verifying = {},
                      const std::function<bool(std::size_t)>& ready = {});
    // CMD_RESET with the camera's general record, in WAN mode to the address
    // it answered from; no answer is awaited.
    bool Reset(const MacAddress& mac);

    const SessionOptions& options() const { return options_; }
    CameraLink::Counters counters() const { return link_->counters(); }
    // The pace of the writes so far: the window in use, its peak, the steps resent.
    const PaceWindow& pace() const { return pace_; }

private:
    // Returns once nothing was dispatched for quiet_ms, or after cap_ms.
    void Settle(int quiet_ms, int cap_ms);
    bool AllComplete(const std::vector<MacAddress>& targets);

    const SessionOptions options_;
    SessionEvents events_; // outlives the link's receiver, which calls it
    std::unique_ptr<CameraLink> link_;
    std::uint64_t answers_lost_ = 0;
    bool searched_whole_ = false;
    // Search bursts sent so far, to any place: how many answers of a camera
    // may still be on their way (verification).
    std::uint64_t searches_sent_ = 0;
    PaceWindow pace_;
};

// The camera's name and password against its user table, as the sheet's login does;
// name and password as typed (UTF-8), compared as the Windows-1252 bytes the table holds.
bool LoginAccepted(const CameraSnapshot& camera, const std::string& name, const std::string& password);

// "applied", or "no acknowledgement at step user" and the like.
std::string OutcomeText(const ApplyOutcome& outcome);
// " after 2 resent steps", or empty when none was resent.
std::string ResendText(const ApplyOutcome& outcome);

} // namespace vantoro::ops
