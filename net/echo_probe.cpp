#include "net/echo_probe.h"

#include "net/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantoro {

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t Checksum(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += std::uint32_t(data[i]) << 8 | data[i + 1];
    if (size % 2)
        sum += std::uint32_t(data[size - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return std::uint16_t(~sum);
}

} // namespace

void ProbeByEcho(const std::vector<ProbeTarget>& targets, const ArpProbeTiming& timing, ProbeResult& result)
{
    if (targets.empty())
        return;
    // An ordinary user may ping through a ping socket where
    // net.ipv4.ping_group_range lets its group; CAP_NET_RAW gives a raw one.
    bool raw = false;
    net::UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!socket.valid()) {
        socket.reset(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
        raw = socket.valid();
    }
    if (!socket.valid()) {
        const std::string why = std::string("pinging it through the router needs CAP_NET_RAW or a group in "
                                            "net.ipv4.ping_group_range (") +
                                std::strerror(errno) + ")";
        for (const ProbeTarget& t : targets)
            result.unprobed.push_back({t.address, why});
        return;
    }
    const int fd = socket.get();
    const int size = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    std::set<Ipv4Address> asked;
    for (const ProbeTarget& t : targets)
        asked.insert(t.address);
    const std::uint16_t id = std::uint16_t(::getpid());
    const auto send_round = [&](std::uint16_t sequence) {
        for (Ipv4Address address : asked) {
            std::uint8_t packet[16] = {ICMP_ECHO, 0, 0, 0, std::uint8_t(id >> 8), std::uint8_t(id),
                                       std::uint8_t(sequence >> 8), std::uint8_t(sequence)};
            const std::uint16_t sum = Checksum(packet, sizeof packet);
            packet[2] = std::uint8_t(sum >> 8);
            packet[3] = std::uint8_t(sum);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = htonl(address.word());
            ::sendto(fd, packet, sizeof packet, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
    };
    std::set<Ipv4Address> heard;
    const auto collect = [&] {
        std::uint8_t buffer[512];
        for (;;) {
            sockaddr_in from{};
            socklen_t from_size = sizeof from;
            const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                                         &from_size);
            if (n < 0)
                return;
            std::size_t at = 0;
            if (raw) // a raw socket hands over the IP header too
                at = std::size_t(buffer[0] & 0x0F) * 4;
            if (std::size_t(n) < at + 8 || buffer[at] != ICMP_ECHOREPLY)
                continue;
            // A ping socket's replies are its own; a raw socket sees every
            // reply, so the identifier tells ours.
            if (raw && (buffer[at + 4] != std::uint8_t(id >> 8) || buffer[at + 5] != std::uint8_t(id)))
                continue;
            const Ipv4Address address(ntohl(from.sin_addr.s_addr));
            if (asked.count(address) && heard.insert(address).second) {
                const auto it = std::find_if(targets.begin(), targets.end(),
                                             [&](const ProbeTarget& t) { return t.address == address; });
                result.answers.push_back({it->interface, address, {}, true});
            }
        }
    };
    const int rounds = std::max(1, timing.probes);
    const auto start = Clock::now();
    for (int round = 0; round < rounds; ++round) {
        send_round(std::uint16_t(round + 1));
        const auto until = start + std::chrono::milliseconds(timing.listen_ms) * (round + 1) / rounds;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0)
                break;
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, int(left));
            collect();
        }
    }
    collect();
}

} // namespace vantoro
