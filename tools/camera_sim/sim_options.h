#pragma once
// Command-line options of the camera simulator. Parsing is a plain function so
// tests can check it without starting a process.

#include "link/config_frame.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantoro::sim {

// The three record kinds a camera answers for and accepts.
enum class RecordKind { General = 0, User = 1, Domain = 2 };
inline constexpr int kRecordKinds = 3;

struct SimOptions {
    int cameras = 1;
    MacAddress first_mac{0x00, 0x0A, 0x0B, 0x00, 0x00, 0x01};
    std::uint32_t bind_address = 0; // network byte order; 0 = any
    std::uint16_t port = CAMERA_PORT; // 0 lets the system pick (tests read it back)
    std::uint16_t reply_port = TOOL_PORT;
    double loss = 0.0; // probability that one reply or ack is dropped
    double duplicate = 0.0; // probability that one reply or ack goes out twice
    int delay_ms = 0;
    int jitter_ms = 0;
    bool no_reply[kRecordKinds] = {false, false, false};
    bool no_ack[kRecordKinds] = {false, false, false};
    // Acknowledge a record of this kind but keep the old one: a camera that
    // does not keep what it acknowledged.
    bool forget[kRecordKinds] = {false, false, false};
    std::optional<std::uint64_t> seed; // none: seeded from the system
    std::string state_file; // empty: none written
    std::string log_file; // empty: standard error
    // One log line per search request, with the seconds since the start:
    // shows how fast a sweep arrives.
    bool log_requests = false;
    // The receive buffer of the simulator's one socket, which serves all its
    // cameras; 0 keeps the system's default. Tests that flood the simulator
    // while a write must get through make it large.
    int receive_buffer_bytes = 0;
};

struct OptionsResult {
    SimOptions options;
    bool help = false; // --help: print SimUsage() and exit 0
    bool version = false; // --version: print the version and exit 0
    std::string error; // non-empty: the arguments were refused
    bool ok() const { return error.empty(); }
};

// args are the arguments after the program name. Both "--name value" and
// "--name=value" are accepted.
OptionsResult ParseSimOptions(const std::vector<std::string>& args);
std::string SimUsage();

// mac + n as a 48-bit number; none when it would pass ff:ff:ff:ff:ff:ff.
std::optional<MacAddress> OffsetMac(const MacAddress& mac, std::uint64_t n);

const char* RecordKindName(RecordKind kind);
std::optional<RecordKind> ParseRecordKind(std::string_view text);

// Dotted text of an address in network byte order.
std::string FormatNetAddress(std::uint32_t addr);

} // namespace vantoro::sim
