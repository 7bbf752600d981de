#pragma once
// One run of the camera link for a command: the search, the apply sequence
// with a timeout and retries per step, and the reset. Drives the link as the
// sheet does (current camera, WAN mode, SendDiscoveryBurst, StartApply,
// SendReset); the receiver's dispatcher sends the later steps on each
// acknowledgement and wakes the main thread through CliWindows.

#include "cli/cli_windows.h"
#include "link/camera_link.h"

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
};

// Copies of one camera's records, taken under the registry's guard.
struct CameraRecords {
    MacAddress mac{};
    std::optional<Frame> general;
    std::optional<Frame> user;
    std::optional<Frame> domain;
    unsigned answer_interface = 0; // 0: unknown (WAN mode)
    bool complete() const { return general && user && domain; }
};

struct ApplyOutcome {
    bool ok = false;
    ApplyStep failed_step = ApplyStep::User;
    int resends = 0;
    // A late answer to the search replaced a record in both rounds.
    bool records_replaced = false;
};

class Session {
public:
    explicit Session(SessionOptions options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Binds the tool port; an error text when it cannot.
    std::optional<std::string> Start();

    // The search burst, sent retries + 1 times spread over wait_ms. With
    // targets it ends as soon as each of them has sent all three records, and
    // then waits for the answers to die down. on_found gets the running count.
    std::vector<CameraRecords> Discover(const std::vector<MacAddress>* targets = nullptr,
                                        const std::function<void(std::size_t)>& on_found = {});
    // Every registered camera, sorted by hardware address.
    std::vector<CameraRecords> Cameras();

    // Writes the three records into the camera's entry and sends them with the
    // acknowledged sequence: user, domain, general, then the closing frame. A
    // step without its acknowledgement within timeout_ms is sent again, up to
    // retries times. The camera must be registered.
    ApplyOutcome Apply(const CameraRecords& records);
    // CMD_RESET with the camera's general record; no answer is awaited.
    bool Reset(const MacAddress& mac);

    const SessionOptions& options() const { return options_; }
    CameraLink& link() { return *link_; }

private:
    ApplyOutcome RunSequence();
    // Returns once nothing was dispatched for quiet_ms, or after cap_ms.
    void Settle(int quiet_ms, int cap_ms);
    bool AllComplete(const std::vector<MacAddress>& targets);

    const SessionOptions options_;
    CliWindows windows_; // outlives the link's receiver, which calls it
    std::unique_ptr<CameraLink> link_;
};

} // namespace vantoro::cli
