#pragma once
// The vantoro commands. Each Run function checks its input before anything is
// sent and returns the exit status.

#include "cli/front_end.h"
#include "link/network_fields.h"
#include "ops/record_edits.h"
#include "ops/session.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace vantoro::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitCameraFailed = 1; // one or more cameras failed
inline constexpr int kExitBadInput = 2; // bad usage or input; nothing was sent
// Ctrl+C: a search ended early with what it found and nothing was written, or
// writes stopped once the camera in progress had finished its sequence.
inline constexpr int kExitInterrupted = 130;

// Options every command takes.
struct CommonOptions {
    std::string wan; // empty: LAN mode
    // discover, set and apply: --wan may name ranges, and a file may add more.
    std::string targets_file;
    int rate = 500; // addresses per second
    bool force = false; // sweeps larger than a /16
    int wait_ms = 1000;
    int timeout_ms = 2000;
    int retries = 2;
    std::string format = "table";
    int camera_port = CAMERA_PORT; // hidden: tests move the ports
    int tool_port = TOOL_PORT;
};

struct ShowOptions {
    std::string mac;
    bool show_passwords = false;
};

struct ExportOptions {
    std::string mac;
    std::string file;
};

struct WriteOptions {
    std::string login;
    std::string secrets; // "-": the passwords come as a JSON object on standard input
    bool dry_run = false;
    bool always = false; // write even what would change nothing
    bool no_verify = false;
    int verify_wait_ms = 3000;
    // apply only: cameras in flight at once, a number, or "auto" to find it.
    std::string parallel = "auto";
    int max_rate = ops::PaceWindow::kDefaultMaxRate; // records a second, at most
};

// Raw texts of set's edits, checked by RunSet.
struct SetOptions {
    std::string mac;
    WriteOptions write;
    std::array<std::string, kNetworkFieldCount> network; // as kNetworkFields
    std::vector<std::string> add_users, delete_users, permissions, add_domains, delete_domains;
    std::vector<std::string> camera_names; // N=TEXT
    std::vector<std::string> passwords; // user names; the passwords are asked for
};

// set's option for a network field: --ethernet-ip for ethernet_ip.
inline std::string SetOptionName(const NetworkField& field)
{
    std::string option = "--" + std::string(field.name);
    std::replace(option.begin(), option.end(), '_', '-');
    return option;
}

struct ApplyOptions {
    std::string csv;
    WriteOptions write;
    std::string report;
    std::string spare; // a free address that cameras moving in a ring pass through
};

struct LogOptions {
    std::string mac;
    std::string since;
    std::string format = "table";
};

int RunDiscover(const CommonOptions& common);
int RunShow(const CommonOptions& common, const ShowOptions& options);
int RunExport(const CommonOptions& common, const ExportOptions& options);
int RunImport(const CommonOptions& common, const std::string& file, const WriteOptions& write);
int RunSet(const CommonOptions& common, const SetOptions& options);
int RunApply(const CommonOptions& common, const ApplyOptions& options);
int RunReset(const CommonOptions& common, const std::string& mac, const WriteOptions& write);
int RunLog(const LogOptions& options);

} // namespace vantoro::cli
