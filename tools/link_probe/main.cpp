// vantoro-link-probe: drives the real camera link from the command line, so
// discovery and the apply sequence can be tried on a network without the GUI.
//
//   vantoro-link-probe search [--wan ADDR] [--wait-ms 1500] [--expect N] [--again]
//   vantoro-link-probe apply --mac "00 0A 0B 00 00 02" --ethernet-ip 10.9.8.7
//       [--add-user NAME PASS] [--login NAME PASS] [--wan ADDR] [--wait-ms 3000]
//   vantoro-link-probe reset --mac "00 0A 0B 00 00 02" [--login NAME PASS] [--wan ADDR]
//
// Each camera's line ends with the interface its answers came in on. --again
// searches a second time, in the same link, after a line on standard input.
//
// Exit status: 0 done, 1 the cameras or acknowledgements did not come, 2 the
// arguments were refused.

#include "link/camera_link.h"
#include "link/records.h"
#include "link/window_messages.h"
#include "util/dotted_address.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <net/if.h>

namespace {

using namespace vantoro;
using Clock = std::chrono::steady_clock;

constexpr int kExitDone = 0;
constexpr int kExitNotReached = 1;
constexpr int kExitUsage = 2;

struct ProbeOptions {
    std::string command;
    std::optional<std::string> wan; // none: LAN mode
    std::optional<int> wait_ms;
    std::optional<int> expect;
    bool again = false;
    std::optional<MacAddress> mac;
    std::string ethernet_ip;
    std::optional<std::pair<std::string, std::string>> add_user;
    std::pair<std::string, std::string> login{"admin", "admin"};
    LinkPorts ports;
};

const char* const kUsage =
    "usage: vantoro-link-probe search [--wan ADDR] [--wait-ms MS] [--expect N] [--again]\n"
    "       vantoro-link-probe apply --mac \"00 0A 0B 00 00 02\" --ethernet-ip A.B.C.D\n"
    "           [--add-user NAME PASS] [--login NAME PASS] [--wan ADDR] [--wait-ms MS]\n"
    "       vantoro-link-probe reset --mac \"00 0A 0B 00 00 02\" [--login NAME PASS] [--wan ADDR]\n"
    "common: [--camera-port N] [--tool-port N]\n"
    "Without --wan the frames are broadcast to 255.255.255.255; that needs\n"
    "VANTORO_ALLOW_BROADCAST=1 in the environment.\n";

std::optional<int> ParseNumber(const std::string& text, int low, int high)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high)
        return std::nullopt;
    return int(v);
}

// Six hex pairs separated by spaces, ':' or '-'.
std::optional<MacAddress> ParseMacText(std::string_view text)
{
    MacAddress mac{};
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == ':' || text[i] == '-') {
            ++i;
            continue;
        }
        std::size_t j = i;
        unsigned value = 0;
        while (j < text.size() && j - i < 3 && std::isxdigit(static_cast<unsigned char>(text[j]))) {
            const char c = char(std::toupper(static_cast<unsigned char>(text[j])));
            value = value * 16 + unsigned(c <= '9' ? c - '0' : c - 'A' + 10);
            ++j;
        }
        if (j == i || j - i > 2 || count == kMacSize)
            return std::nullopt;
        mac[count++] = std::uint8_t(value);
        i = j;
    }
    if (count != kMacSize)
        return std::nullopt;
    return mac;
}

std::string MacText(const MacAddress& mac)
{
    char text[24];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X %02X %02X", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return text;
}

std::string AddressText(std::uint32_t word)
{
    char text[20];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(word >> 24), unsigned(word >> 16 & 0xFF),
                  unsigned(word >> 8 & 0xFF), unsigned(word & 0xFF));
    return text;
}

// Returns an error text, or none.
std::optional<std::string> ParseArgs(const std::vector<std::string>& args, ProbeOptions& o)
{
    if (args.empty())
        return "no command";
    o.command = args[0];
    if (o.command != "search" && o.command != "apply" && o.command != "reset")
        return "unknown command '" + o.command + "'";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::size_t k) -> const std::string* {
            return i + k < args.size() ? &args[i + k] : nullptr;
        };
        if (a == "--wan" && value(1)) {
            o.wan = *value(1);
            ++i;
        } else if (a == "--wait-ms" && value(1)) {
            if (!(o.wait_ms = ParseNumber(*value(1), 0, 600000)))
                return "bad --wait-ms '" + *value(1) + "'";
            ++i;
        } else if (a == "--expect" && value(1) && o.command == "search") {
            if (!(o.expect = ParseNumber(*value(1), 0, 1000000)))
                return "bad --expect '" + *value(1) + "'";
            ++i;
        } else if (a == "--again" && o.command == "search") {
            o.again = true;
        } else if (a == "--mac" && value(1) && o.command != "search") {
            if (!(o.mac = ParseMacText(*value(1))))
                return "bad --mac '" + *value(1) + "'";
            ++i;
        } else if (a == "--ethernet-ip" && value(1) && o.command == "apply") {
            o.ethernet_ip = *value(1);
            ++i;
        } else if (a == "--add-user" && value(2) && o.command == "apply") {
            o.add_user.emplace(*value(1), *value(2));
            i += 2;
        } else if (a == "--login" && value(2) && o.command != "search") {
            o.login = {*value(1), *value(2)};
            i += 2;
        } else if ((a == "--camera-port" || a == "--tool-port") && value(1)) {
            const auto port = ParseNumber(*value(1), 1, 65535);
            if (!port)
                return "bad " + a + " '" + *value(1) + "'";
            (a == "--camera-port" ? o.ports.camera_port : o.ports.tool_port) = std::uint16_t(*port);
            ++i;
        } else {
            return "unexpected argument '" + a + "'";
        }
    }
    if (o.command == "apply" && (!o.mac || o.ethernet_ip.empty()))
        return "apply needs --mac and --ethernet-ip";
    if (o.command == "reset" && !o.mac)
        return "reset needs --mac";
    return std::nullopt;
}

// The probe's stand-in for the windows: both always exist; every message is
// recorded for the main thread, which waits on the condition variable.
class ProbeWindows final : public LinkWindows {
public:
    explicit ProbeWindows(std::string wan) : wan_(std::move(wan)) {}

    bool SendToWindow(LinkWindow, std::uint32_t message) override
    {
        {
            std::lock_guard lock(mutex_);
            messages_.push_back(message);
        }
        changed_.notify_all();
        return true;
    }
    std::string WanAddressText() override { return wan_; }

    std::size_t MessageCount()
    {
        std::lock_guard lock(mutex_);
        return messages_.size();
    }

    // Messages from index `from` on, waiting until there is one or `until` passes.
    std::vector<std::uint32_t> WaitForMessages(std::size_t from, Clock::time_point until)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, until, [&] { return messages_.size() > from; });
        if (messages_.size() <= from)
            return {};
        return {messages_.begin() + std::ptrdiff_t(from), messages_.end()};
    }

private:
    const std::string wan_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::uint32_t> messages_;
};

struct CameraSummary {
    MacAddress mac{};
    bool general = false;
    bool user = false;
    bool domain = false;
    std::uint32_t ethernet_ip = 0;
    unsigned answer_interface = 0;
    bool complete() const { return general && user && domain; }
};

std::vector<CameraSummary> Snapshot(CameraRegistry& registry)
{
    std::vector<CameraSummary> cameras;
    {
        std::lock_guard guard(registry.guard());
        registry.Rewind();
        for (CameraEntry* e = registry.Current(); e; e = registry.Next() ? registry.Current() : nullptr) {
            const Frame* preferred = e->PreferredRecord();
            if (!preferred)
                continue;
            CameraSummary s;
            s.mac = FrameMac(*preferred);
            s.general = e->general != nullptr;
            s.user = e->user != nullptr;
            s.domain = e->domain != nullptr;
            if (e->general)
                s.ethernet_ip = GeneralConfigReader(e->general->data()).ethernet_ip();
            s.answer_interface = e->answer_interface;
            cameras.push_back(s);
        }
    }
    std::sort(cameras.begin(), cameras.end(), [](const auto& a, const auto& b) { return a.mac < b.mac; });
    return cameras;
}

std::size_t CompleteCount(const std::vector<CameraSummary>& cameras)
{
    return std::size_t(std::count_if(cameras.begin(), cameras.end(), [](const auto& c) { return c.complete(); }));
}

// Polls the registry: only a camera's first record is announced, the other two
// arrive silently.
template <class Done>
std::vector<CameraSummary> WaitForCameras(CameraLink& link, ProbeWindows& windows, Clock::time_point until,
                                          Done done)
{
    for (;;) {
        const std::size_t seen = windows.MessageCount();
        std::vector<CameraSummary> cameras = Snapshot(link.state.registry);
        if (done(cameras) || Clock::now() >= until)
            return cameras;
        windows.WaitForMessages(seen, std::min(until, Clock::now() + std::chrono::milliseconds(20)));
    }
}

void PrintCamera(const CameraSummary& c)
{
    std::printf("%s  %s %s %s", MacText(c.mac).c_str(), c.general ? "general" : "-", c.user ? "user" : "-",
                c.domain ? "domain" : "-");
    if (c.general)
        std::printf("  ethernet_ip %s", AddressText(c.ethernet_ip).c_str());
    char name[IF_NAMESIZE] = "?";
    if (c.answer_interface != 0 && !::if_indextoname(c.answer_interface, name))
        std::snprintf(name, sizeof name, "#%u", c.answer_interface);
    std::printf("  via %s\n", name);
}

const char* MessageName(std::uint32_t message)
{
    switch (message) {
    case WM_CAMERA_FOUND: return "WM_CAMERA_FOUND";
    case WM_USER_SET_DONE: return "WM_USER_SET_DONE";
    case WM_DOMAIN_SET_DONE: return "WM_DOMAIN_SET_DONE";
    case WM_GENERAL_SET_DONE: return "WM_GENERAL_SET_DONE";
    default: return "unknown message";
    }
}

int SearchOnce(CameraLink& link, ProbeWindows& windows, const ProbeOptions& o)
{
    const int wait_ms = o.wait_ms.value_or(1500);
    link.transmitter.SendDiscoveryBurst();
    const auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
    // Without --expect every answer within the wait counts.
    const auto cameras = WaitForCameras(link, windows, until, [&](const auto& found) {
        return o.expect && CompleteCount(found) >= std::size_t(*o.expect);
    });
    for (const CameraSummary& c : cameras)
        PrintCamera(c);
    const std::size_t complete = CompleteCount(cameras);
    std::printf("%zu cameras answered, %zu with all three records\n", cameras.size(), complete);
    if (o.expect && complete < std::size_t(*o.expect)) {
        std::printf("expected %d cameras with all three records within %d ms\n", *o.expect, wait_ms);
        return kExitNotReached;
    }
    return kExitDone;
}

int Search(CameraLink& link, ProbeWindows& windows, const ProbeOptions& o)
{
    const int status = SearchOnce(link, windows, o);
    if (!o.again)
        return status;
    // Whatever changes meanwhile (an interface gone, say) the second search must cope with.
    std::printf("waiting for a line on standard input before searching again\n");
    char line[64];
    if (!std::fgets(line, sizeof line, stdin))
        return kExitUsage;
    std::printf("searching again\n");
    return SearchOnce(link, windows, o);
}

// Searches, waits for the camera's three records and logs in as the program
// does; the camera is then the current camera. Null when any step failed.
CameraEntry* FindAndLogIn(CameraLink& link, ProbeWindows& windows, const ProbeOptions& o, int wait_ms)
{
    const MacAddress mac = *o.mac;
    const std::string mac_text = MacText(mac);

    link.transmitter.SendDiscoveryBurst();
    const auto found = WaitForCameras(link, windows, Clock::now() + std::chrono::milliseconds(wait_ms),
                                      [&](const auto& cameras) {
                                          return std::any_of(cameras.begin(), cameras.end(), [&](const auto& c) {
                                              return c.mac == mac && c.complete();
                                          });
                                      });
    for (const CameraSummary& c : found)
        PrintCamera(c);

    CameraEntry* camera = link.state.registry.FindCamera(mac);
    if (!camera) {
        std::printf("camera %s did not answer within %d ms\n", mac_text.c_str(), wait_ms);
        return nullptr;
    }
    {
        // The apply sends all three records; a camera short of one cannot be applied to.
        std::lock_guard guard(link.state.registry.guard());
        if (!camera->general || !camera->user || !camera->domain) {
            std::printf("camera %s did not send all three records within %d ms\n", mac_text.c_str(), wait_ms);
            return nullptr;
        }
        const int row = UserConfigReader(camera->user->data()).FindLogin(o.login.first, o.login.second);
        if (row < 0) {
            std::printf("Login fail: %s is not in the user table of %s\n", o.login.first.c_str(), mac_text.c_str());
            return nullptr;
        }
        std::printf("logged in to %s as %s (user row %d)\n", mac_text.c_str(), o.login.first.c_str(), row);
    }
    link.state.current_camera.store(camera);
    return camera;
}

int Reset(CameraLink& link, ProbeWindows& windows, const ProbeOptions& o)
{
    if (!FindAndLogIn(link, windows, o, o.wait_ms.value_or(3000)))
        return kExitNotReached;
    link.transmitter.SendReset(); // no answer is awaited
    std::printf("reset sent to %s\n", MacText(*o.mac).c_str());
    return kExitDone;
}

int Apply(CameraLink& link, ProbeWindows& windows, const ProbeOptions& o)
{
    const int wait_ms = o.wait_ms.value_or(3000);
    const std::string mac_text = MacText(*o.mac);
    CameraEntry* camera = FindAndLogIn(link, windows, o, wait_ms);
    if (!camera)
        return kExitNotReached;

    // Parsed outside the guard: it writes its diagnostic line to standard output.
    const std::uint32_t new_ip = ParseDottedAddress(o.ethernet_ip.c_str());
    {
        std::lock_guard guard(link.state.registry.guard());
        GeneralConfig general(camera->general->data());
        std::printf("ethernet_ip %s -> %s\n", AddressText(general.ethernet_ip()).c_str(), AddressText(new_ip).c_str());
        general.set_ethernet_ip(new_ip);
        if (o.add_user) {
            const int row = UserConfig(camera->user->data()).AddUser(o.add_user->first, o.add_user->second);
            if (row < 0) {
                std::printf("user table of %s is full\n", mac_text.c_str());
                return kExitNotReached;
            }
            std::printf("added user %s in row %d\n", o.add_user->first.c_str(), row);
        }
    }

    // Messages filed so far are the discovery's; the apply's come after them.
    std::size_t seen = windows.MessageCount();
    link.transmitter.StartApply();
    std::printf("apply started\n");
    const auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        const auto fresh = windows.WaitForMessages(seen, until);
        if (fresh.empty()) {
            std::printf("no %s within %d ms\n", MessageName(WM_GENERAL_SET_DONE), wait_ms);
            return kExitNotReached;
        }
        seen += fresh.size();
        for (std::uint32_t m : fresh) {
            std::printf("%s\n", MessageName(m));
            if (m == WM_GENERAL_SET_DONE) {
                std::printf("applied to %s\n", mac_text.c_str());
                return kExitDone;
            }
        }
    }
}

// The limited broadcast reaches every host on every card of this network
// namespace; only namespaces built for it may see one.
bool SendsBroadcast(const ProbeOptions& o)
{
    return !o.wan || net::InetAddr(o.wan->c_str()) == 0xFFFFFFFFu;
}

bool BroadcastAllowed()
{
    const char* allow = std::getenv("VANTORO_ALLOW_BROADCAST");
    return allow != nullptr && std::strcmp(allow, "1") == 0;
}

} // namespace

int main(int argc, char** argv)
{
    ProbeOptions options;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return kExitDone;
    }
    if (auto error = ParseArgs(args, options)) {
        std::fprintf(stderr, "vantoro-link-probe: %s\n%s", error->c_str(), kUsage);
        return kExitUsage;
    }
    if (SendsBroadcast(options) && !BroadcastAllowed()) {
        std::fprintf(stderr,
                     "vantoro-link-probe: refusing to broadcast to 255.255.255.255. Broadcasts are only for\n"
                     "network namespaces made for them (as tests/lan builds): run there with\n"
                     "VANTORO_ALLOW_BROADCAST=1, or give a camera's address with --wan ADDR.\n");
        return kExitUsage;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    // Declared before the link: the receiver calls it until the link is gone.
    ProbeWindows windows(options.wan.value_or(std::string()));
    CameraLink link(options.ports);
    link.state.wan_mode.store(options.wan.has_value());
    link.state.messenger.Attach(&windows);
    if (!link.receiver.Start()) {
        std::fprintf(stderr, "vantoro-link-probe: cannot bind UDP port %u for the answers\n",
                     unsigned(options.ports.tool_port));
        return kExitNotReached;
    }
    const std::string mode = options.wan ? "WAN " + *options.wan : "LAN broadcast";
    std::printf("%s mode, cameras at port %u, answers on port %u\n", mode.c_str(),
                unsigned(options.ports.camera_port), unsigned(options.ports.tool_port));
    if (options.command == "search")
        return Search(link, windows, options);
    return options.command == "apply" ? Apply(link, windows, options) : Reset(link, windows, options);
}
