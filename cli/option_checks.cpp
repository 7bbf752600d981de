#include "cli/option_checks.h"

#include "cli/console_lines.h"
#include "cli/interrupt.h"
#include "ops/text_forms.h"
#include "net/net_interfaces.h"
#include "util/mac_text.h"
#include "util/strict_address.h"

#include <algorithm>
#include <cstdlib>

namespace vantoro::cli {

namespace {

constexpr int kMaxMilliseconds = 3600000;
constexpr int kMaxRetries = 100;
constexpr int kMaxRate = 1'000'000;
constexpr int kMaxParallel = 256;

// LAN mode through the named interfaces only (a comma-separated list, read
// from VANTORO_INTERFACES); an empty list names none, so nothing is broadcast.
std::function<std::vector<NetInterface>()> InterfacesNamed(const std::string& list)
{
    std::vector<std::string> names;
    for (std::string_view name : SplitCommas(list))
        if (!name.empty())
            names.emplace_back(name);
    return [names] {
        std::vector<NetInterface> kept = ListBroadcastInterfaces();
        std::erase_if(kept, [&](const NetInterface& n) {
            return std::find(names.begin(), names.end(), n.name) == names.end();
        });
        return kept;
    };
}

// Digits only, at most 9 of them.
std::optional<int> ParseCount(const std::string& text)
{
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoi(text);
}

} // namespace

bool CheckWrite(const WriteOptions& write, SessionOptions& s)
{
    if (write.verify_wait_ms < 0 || write.verify_wait_ms > kMaxMilliseconds) {
        Complain("--verify-wait wants milliseconds from 0 to " + std::to_string(kMaxMilliseconds));
        return false;
    }
    int parallel = 0; // auto
    if (write.parallel != "auto") {
        const auto number = ParseCount(write.parallel);
        if (!number || *number < 1 || *number > kMaxParallel) {
            Complain("--parallel wants a number of cameras from 1 to " + std::to_string(kMaxParallel) + ", or auto");
            return false;
        }
        parallel = *number;
    }
    if (write.max_rate < 1 || write.max_rate > kMaxRate) {
        Complain("--max-rate wants records per second from 1 to " + std::to_string(kMaxRate));
        return false;
    }
    s.verify = !write.no_verify;
    s.verify_wait_ms = write.verify_wait_ms;
    s.parallel = parallel;
    s.max_rate = write.max_rate;
    return true;
}

// The sweep of --wan and --targets; false after a complaint.
bool CheckTargets(const CommonOptions& common, SessionOptions& s)
{
    if (!common.wan.empty()) {
        if (auto error = s.sweep.AddList(common.wan)) {
            Complain("--wan wants a dotted IPv4 address or address ranges: " + *error);
            return false;
        }
    }
    if (!common.targets_file.empty()) {
        SweepTargets listed;
        if (auto error = listed.AddFile(common.targets_file)) {
            Complain(*error);
            return false;
        }
        if (listed.empty()) {
            Complain(common.targets_file + " names no address");
            return false;
        }
        s.sweep.Add(listed);
    }
    s.sweep.SkipSubnetEnds(ListAttachedSubnets());
    if (s.sweep.empty() && (!common.wan.empty() || !common.targets_file.empty())) {
        Complain("the targets name only network and broadcast addresses of this machine's subnets");
        return false;
    }
    if (s.sweep.count() > kMaxTargetsUnforced && !common.force) {
        Complain("the sweep covers " + std::to_string(s.sweep.count()) + " addresses, more than a /16 (" +
                 std::to_string(kMaxTargetsUnforced) + "); give --force to search them all");
        return false;
    }
    if (common.rate < 1 || common.rate > kMaxRate) {
        Complain("--rate wants addresses per second from 1 to " + std::to_string(kMaxRate));
        return false;
    }
    s.rate = common.rate;
    if (!s.sweep.empty())
        s.wan = s.sweep.at(0);
    return true;
}

std::optional<SessionOptions> CheckCommon(const CommonOptions& common, bool format_csv_allowed, bool ranges_allowed)
{
    SessionOptions s;
    if (ranges_allowed) {
        if (!CheckTargets(common, s))
            return std::nullopt;
    } else if (!common.wan.empty()) {
        // Strict: inet_addr would turn a host name into the broadcast address.
        const auto address = Ipv4Address::Parse(common.wan);
        if (!address) {
            Complain("--wan wants a dotted IPv4 address like 192.168.1.10, not '" + PrintableText(common.wan) + "'");
            return std::nullopt;
        }
        if (*address >= kFirstNonUnicast) {
            Complain("--wan " + common.wan + " is a multicast, class E or broadcast address; WAN mode sends to one "
                     "camera's own address only");
            return std::nullopt;
        }
        s.wan = address;
    }
    const auto in_range = [](int v, int low, int high) { return v >= low && v <= high; };
    if (!in_range(common.wait_ms, 0, kMaxMilliseconds) || !in_range(common.timeout_ms, 1, kMaxMilliseconds)) {
        Complain("--wait and --timeout want milliseconds up to " + std::to_string(kMaxMilliseconds) +
                 " (--timeout at least 1)");
        return std::nullopt;
    }
    if (!in_range(common.retries, 0, kMaxRetries)) {
        Complain("--retries wants a number from 0 to " + std::to_string(kMaxRetries));
        return std::nullopt;
    }
    if (common.format != "table" && common.format != "json" && !(format_csv_allowed && common.format == "csv")) {
        Complain("--format wants table, json" + std::string(format_csv_allowed ? " or csv" : "") + ", not '" +
                 PrintableText(common.format) + "'");
        return std::nullopt;
    }
    if (!in_range(common.camera_port, 1, 65535) || !in_range(common.tool_port, 1, 65535)) {
        Complain("--camera-port and --tool-port want a port number from 1 to 65535");
        return std::nullopt;
    }
    s.stop = InterruptFlag();
    s.wait_ms = common.wait_ms;
    s.timeout_ms = common.timeout_ms;
    s.retries = common.retries;
    s.ports.camera_port = std::uint16_t(common.camera_port);
    s.ports.tool_port = std::uint16_t(common.tool_port);
    if (const char* names = std::getenv("VANTORO_INTERFACES"))
        s.ports.list_interfaces = InterfacesNamed(names);
    return s;
}

std::optional<MacAddress> CheckMac(const std::string& text)
{
    const auto mac = ParseMac(text);
    if (!mac)
        Complain("'" + PrintableText(text) + "' is no hardware address; give six hex bytes like 00:0a:0b:00:00:01");
    return mac;
}

} // namespace vantoro::cli
