#pragma once
// One run of the camera link for a command: the search, the apply sequence
// with a timeout and retries per step, and the reset. Drives the link as the
// sheet does (current camera, WAN mode, SendDiscoveryBurst, StartApply,
// SendReset); the receiver's dispatcher sends the later steps on each
// acknowledgement and wakes the main thread through CliWindows.

#include "cli/cli_windows.h"
#include "cli/sweep_targets.h"
#include "link/camera_link.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantoro::cli {

struct SessionOptions {
    std::optional<std::string> wan; // WAN mode to this address; none: LAN mode
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
};

// How far a search has come, for a progress line.
struct SearchProgress {
    std::size_t found = 0; // cameras
    std::uint64_t sent = 0; // addresses of a sweep searched so far
    std::uint64_t total = 0; // addresses of the sweep; 0 for a single search
    std::int64_t ms_left = 0;
};

// Copies of one camera's records, taken under the registry's guard.
struct CameraRecords {
    MacAddress mac{};
    std::optional<Frame> general;
    std::optional<Frame> user;
    std::optional<Frame> domain;
    unsigned answer_interface = 0; // 0: unknown (WAN mode)
    std::uint32_t answer_address = 0; // where the latest answer came from, as an address word; 0: unknown
    bool complete() const { return general && user && domain; }
};

struct ApplyOutcome {
    bool ok = false;
    ApplyStep failed_step = ApplyStep::User;
    int resends = 0;
};

class Session {
public:
    explicit Session(SessionOptions options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Binds the tool port; an error text when it cannot.
    std::optional<std::string> Start();

    // The search burst, sent retries + 1 times spread over wait_ms, or once to
    // each address of a sweep. With targets it ends as soon as each of them
    // has sent all three records, and then waits for the answers to die down.
    // on_progress is called as answers come in.
    std::vector<CameraRecords> Discover(const std::vector<MacAddress>* targets = nullptr,
                                        const std::function<void(const SearchProgress&)>& on_progress = {});
    // Whether the stop flag ended the search.
    bool stopped() const { return options_.stop && options_.stop->load(); }
    // Every registered camera, sorted by hardware address.
    std::vector<CameraRecords> Cameras();

    // Writes the three records into the camera's entry and sends them (in WAN
    // mode to the address the camera answered from) with the acknowledged
    // sequence: user, domain, general, then the closing frame. A step without
    // its acknowledgement within timeout_ms is sent again, up to retries
    // times. The camera must be registered.
    ApplyOutcome Apply(const CameraRecords& records);
    // CMD_RESET with the camera's general record, in WAN mode to the address
    // it answered from; no answer is awaited.
    bool Reset(const MacAddress& mac);

    const SessionOptions& options() const { return options_; }
    CameraLink& link() { return *link_; }

private:
    ApplyOutcome RunSequence();
    // Returns once nothing was dispatched for quiet_ms, or after cap_ms.
    void Settle(int quiet_ms, int cap_ms);
    bool AllComplete(const std::vector<MacAddress>& targets);
    // In WAN mode, frames for this camera go to the address it answered from.
    void AddressCamera(const CameraEntry* entry);

    const SessionOptions options_;
    CliWindows windows_; // outlives the link's receiver, which calls it
    std::unique_ptr<CameraLink> link_;
};

} // namespace vantoro::cli
