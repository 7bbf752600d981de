#pragma once
// Small pieces the benchmark programs share: clocks, medians, the process's
// peak memory, the kernel's drop count of a UDP port, and a plain loopback
// socket that sends the tool's discovery burst without the link.

#include "link/config_frame.h"
#include "link/link_ports.h"
#include "net/socket_layer.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vantoro::bench {

using Clock = std::chrono::steady_clock;

// A link whose receiver never starts: no interface, so nothing a LAN-mode
// action sends can leave this machine.
inline LinkPorts OfflinePorts()
{
    LinkPorts ports;
    ports.broadcast_address = "127.0.0.1";
    ports.list_interfaces = NoInterfaces;
    return ports;
}

inline double MsSince(Clock::time_point start, Clock::time_point end = Clock::now())
{
    return std::chrono::duration<double, std::milli>(end - start).count();
}

inline double Median(std::vector<double> v)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const std::size_t mid = v.size() / 2;
    return v.size() % 2 != 0 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

// Nearest-rank percentile, p in [0, 100].
inline double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const double rank = std::ceil(p / 100.0 * double(v.size()));
    const std::size_t i = rank < 1 ? 0 : std::min(v.size() - 1, std::size_t(rank) - 1);
    return v[i];
}

inline double Min(const std::vector<double>& v) { return v.empty() ? NAN : *std::min_element(v.begin(), v.end()); }
inline double Max(const std::vector<double>& v) { return v.empty() ? NAN : *std::max_element(v.begin(), v.end()); }

// "10,100,1000" -> {10, 100, 1000}; nothing for text that is no list of numbers.
inline std::vector<int> ParseIntList(const std::string& text)
{
    std::vector<int> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        char* end = nullptr;
        const long v = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || v <= 0)
            return {};
        out.push_back(int(v));
    }
    return out;
}

// A field of /proc/self/status in kB (VmHWM, VmRSS); -1 when absent.
inline long StatusKb(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) == 0)
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
    }
    return -1;
}

// Starts a new peak: hands freed heap back to the system first (the last run's
// registry and simulator), then VmHWM falls back to the current resident size.
inline void ResetPeakMemory()
{
    ::malloc_trim(0);
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

// Datagrams the kernel dropped on the IPv4 UDP sockets bound to port (the
// "drops" column of /proc/net/udp), while they are open.
inline long UdpDrops(std::uint16_t port)
{
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line); // header
    long total = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local;
        fields >> slot >> local;
        const auto colon = local.find(':');
        if (colon == std::string::npos || std::strtoul(local.c_str() + colon + 1, nullptr, 16) != port)
            continue;
        std::string last, field;
        while (fields >> field)
            last = field;
        total += std::strtol(last.c_str(), nullptr, 10);
    }
    return total;
}

inline std::uint32_t LoopbackAddress() { return net::InetAddr("127.0.0.1"); }

// A port that was free a moment ago, for a receiver that binds by number.
inline std::uint16_t FreeUdpPort()
{
    const net::UniqueFd s = net::OpenBoundUdpSocket(LoopbackAddress(), 0);
    return s.valid() ? net::LocalPort(s.get()) : 0;
}

// The discovery burst as the transmitter sends it in WAN mode (reply_mode 0),
// to 127.0.0.1 only, from a fresh socket that is closed again.
inline void SendLoopbackBurst(std::uint16_t camera_port)
{
    const net::UniqueFd s = net::OpenUdpSocket();
    Frame frame{};
    for (std::uint32_t command : {CMD_GET_GENERAL, CMD_GET_USER, CMD_GET_DOMAIN}) {
        SetFrameCommand(frame, command);
        net::SendTo(s.get(), frame.data(), frame.size(), LoopbackAddress(), camera_port);
    }
}

} // namespace vantoro::bench
