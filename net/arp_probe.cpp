#include "net/arp_probe.h"

#include "net/echo_probe.h"
#include "net/net_interfaces.h"
#include "net/unique_fd.h"
#include "util/strict_address.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantoro {

namespace {

using Clock = std::chrono::steady_clock;

// An ARP packet for IPv4 over Ethernet, as it stands after the link header.
constexpr std::size_t kArpSize = 28;

struct InterfaceFacts {
    std::string name;
    bool found = false;
    bool arp = false; // up, not loopback, ARP not switched off
    MacAddress hardware{};
};

InterfaceFacts FactsOf(unsigned index)
{
    InterfaceFacts facts;
    facts.name = InterfaceName(index);
    if (facts.name.empty())
        return facts;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return facts;
    const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owned(list, ::freeifaddrs);
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || facts.name != a->ifa_name || a->ifa_addr->sa_family != AF_PACKET)
            continue;
        facts.found = true;
        const unsigned flags = a->ifa_flags;
        facts.arp = (flags & IFF_UP) && !(flags & (IFF_LOOPBACK | IFF_NOARP));
        const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
        if (ll->sll_halen == kMacSize)
            std::copy_n(ll->sll_addr, kMacSize, facts.hardware.begin());
        else
            facts.arp = false;
    }
    return facts;
}

void PutWord(std::uint8_t* at, std::uint32_t word)
{
    at[0] = std::uint8_t(word >> 24);
    at[1] = std::uint8_t(word >> 16);
    at[2] = std::uint8_t(word >> 8);
    at[3] = std::uint8_t(word);
}

std::uint32_t GetWord(const std::uint8_t* at)
{
    return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8 | at[3];
}

// A probe: who has address, from hardware with sender address 0.0.0.0.
std::array<std::uint8_t, kArpSize> ProbePacket(const MacAddress& hardware, Ipv4Address address)
{
    std::array<std::uint8_t, kArpSize> p{};
    p[0] = 0, p[1] = ARPHRD_ETHER;
    p[2] = 0x08, p[3] = 0x00; // IPv4
    p[4] = kMacSize, p[5] = 4;
    p[6] = 0, p[7] = ARPOP_REQUEST;
    std::copy(hardware.begin(), hardware.end(), p.begin() + 8);
    // sender address 14..17 and target hardware 18..23 stay zero
    PutWord(p.data() + 24, address.word());
    return p;
}

// One interface's packet socket and the addresses probed through it.
struct ProbeSocket {
    unsigned index = 0;
    InterfaceFacts facts;
    net::UniqueFd fd;
    std::set<Ipv4Address> addresses;
};

void SendProbes(const ProbeSocket& s)
{
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(ETH_P_ARP);
    to.sll_ifindex = int(s.index);
    to.sll_halen = kMacSize;
    std::fill_n(to.sll_addr, kMacSize, 0xFF);
    for (Ipv4Address address : s.addresses) {
        const auto packet = ProbePacket(s.facts.hardware, address);
        // A full transmit queue gives way after a moment; a probe lost is
        // made up by the next round.
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (::sendto(s.fd.get(), packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) >=
                    0 ||
                (errno != ENOBUFS && errno != EAGAIN))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

// Every queued ARP packet: a sender address we asked about is an answer,
// whether a reply or the holder's own request.
void Collect(const ProbeSocket& s, std::set<std::pair<Ipv4Address, MacAddress>>& heard, ProbeResult& result)
{
    std::uint8_t buffer[256];
    for (;;) {
        sockaddr_ll from{};
        socklen_t from_size = sizeof from;
        const ssize_t n = ::recvfrom(s.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                                     &from_size);
        if (n < 0)
            return;
        if (std::size_t(n) < kArpSize || from.sll_pkttype == PACKET_OUTGOING)
            continue;
        if (buffer[0] != 0 || buffer[1] != ARPHRD_ETHER || buffer[2] != 0x08 || buffer[3] != 0x00 ||
            buffer[4] != kMacSize || buffer[5] != 4)
            continue;
        const Ipv4Address sender(GetWord(buffer + 14));
        if (sender.unspecified() || !s.addresses.count(sender))
            continue;
        MacAddress hardware;
        std::copy_n(buffer + 8, kMacSize, hardware.begin());
        if (hardware == s.facts.hardware)
            continue;
        if (heard.insert({sender, hardware}).second)
            result.answers.push_back({s.index, sender, hardware});
    }
}

bool OnSubnets(Ipv4Address address, const std::vector<AttachedSubnet>& subnets)
{
    return std::any_of(subnets.begin(), subnets.end(), [&](const AttachedSubnet& n) { return n.Holds(address); });
}

// Complete entries of the kernel's neighbour table: address and interface name to hardware.
std::map<std::pair<Ipv4Address, std::string>, MacAddress> NeighbourTable()
{
    std::map<std::pair<Ipv4Address, std::string>, MacAddress> table;
    std::ifstream in("/proc/net/arp");
    std::string line;
    std::getline(in, line); // the header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string ip, type, flags, hw, mask, device;
        if (!(fields >> ip >> type >> flags >> hw >> mask >> device))
            continue;
        const auto address = Ipv4Address::Parse(ip);
        const auto hardware = ParseMac(hw);
        if (!address || !hardware || !(std::strtoul(flags.c_str(), nullptr, 16) & ATF_COM))
            continue;
        table[{*address, device}] = *hardware;
    }
    return table;
}

// What an ordinary user can do: send each address on the interface's subnets
// a datagram, so the kernel resolves it, then read what it learned.
void ResolveByKernel(const std::vector<std::pair<ProbeSocket*, Ipv4Address>>& targets, int listen_ms,
                     const std::string& why, ProbeResult& result)
{
    std::vector<std::pair<ProbeSocket*, Ipv4Address>> sent;
    for (const auto& [s, address] : targets) {
        if (!OnSubnets(address, InterfaceSubnets(s->index))) {
            result.unprobed.push_back({address, why + ", and the address is not on a subnet of " + s->facts.name});
            continue;
        }
        const net::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!fd.valid()) {
            result.unprobed.push_back({address, why + ", and no socket: " + std::strerror(errno)});
            continue;
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9); // discard: nothing is meant to answer
        to.sin_addr.s_addr = htonl(address.word());
        ::setsockopt(fd.get(), SOL_SOCKET, SO_BINDTODEVICE, s->facts.name.c_str(), socklen_t(s->facts.name.size()));
        ::sendto(fd.get(), "", 0, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        sent.emplace_back(s, address);
    }
    if (sent.empty())
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(listen_ms));
    const auto table = NeighbourTable();
    for (const auto& [s, address] : sent) {
        const auto it = table.find({address, s->facts.name});
        if (it != table.end())
            result.answers.push_back({s->index, address, it->second});
    }
}

// The targets on this machine's LANs, grouped by interface, each group
// with the interface's facts; routed targets apart.
struct GroupedTargets {
    std::map<unsigned, ProbeSocket> sockets;
    std::vector<ProbeTarget> routed;
};

GroupedTargets GroupByInterface(const std::vector<ProbeTarget>& targets)
{
    GroupedTargets grouped;
    for (const ProbeTarget& t : targets) {
        if (t.routed) {
            grouped.routed.push_back(t);
            continue;
        }
        auto [it, fresh] = grouped.sockets.try_emplace(t.interface);
        ProbeSocket& s = it->second;
        if (fresh) {
            s.index = t.interface;
            s.facts = FactsOf(t.interface);
        }
        s.addresses.insert(t.address);
    }
    return grouped;
}

// What ARP probes cannot ask for want of privilege: left to the kernel.
struct KernelFallback {
    std::vector<std::pair<ProbeSocket*, Ipv4Address>> targets;
    std::string reason;
};

// Opens and binds each interface's packet socket. An interface that cannot
// be probed has its addresses moved to result.unprobed; without CAP_NET_RAW
// they go to the fallback instead. Either way s.addresses is then empty.
void OpenProbeSockets(std::map<unsigned, ProbeSocket>& sockets, KernelFallback& fallback, ProbeResult& result)
{
    for (auto& entry : sockets) {
        const unsigned index = entry.first;
        ProbeSocket& s = entry.second; // not a structured binding: clang before 16 lets no lambda capture one
        const auto skip = [&](const std::string& reason) {
            for (Ipv4Address address : s.addresses)
                result.unprobed.push_back({address, reason});
            s.addresses.clear();
        };
        if (!s.facts.found) {
            skip(index == 0 ? std::string("the interface it answered on is not known")
                            : "interface " + std::to_string(index) + " is gone");
            continue;
        }
        if (!s.facts.arp) {
            skip(s.facts.name + " is down or does not use ARP");
            continue;
        }
        s.fd.reset(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP)));
        if (!s.fd.valid()) {
            const int error = errno;
            if (error != EPERM && error != EACCES) {
                skip("no ARP socket on " + s.facts.name + ": " + std::strerror(error));
                continue;
            }
            fallback.reason = "ARP probes need CAP_NET_RAW, which this program lacks";
            for (Ipv4Address address : s.addresses)
                fallback.targets.emplace_back(&s, address);
            s.addresses.clear();
            continue;
        }
        const int size = 4 << 20; // the answers of a large plan arrive together
        ::setsockopt(s.fd.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        sockaddr_ll at{};
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(ETH_P_ARP);
        at.sll_ifindex = int(index);
        if (::bind(s.fd.get(), reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
            skip("cannot listen for ARP on " + s.facts.name + ": " + std::strerror(errno));
            s.fd.reset();
        }
    }
}

// Rounds of probes spread over the listening time, every answer collected
// as it comes; the sockets stay open for their owner to close.
void ProbeAndListen(const std::map<unsigned, ProbeSocket>& sockets, const ArpProbeTiming& timing,
                    ProbeResult& result)
{
    std::vector<pollfd> fds;
    for (const auto& [index, s] : sockets)
        if (s.fd.valid())
            fds.push_back({s.fd.get(), POLLIN, 0});
    if (fds.empty())
        return;
    const auto collect_all = [&](std::set<std::pair<Ipv4Address, MacAddress>>& heard) {
        for (const auto& [index, s] : sockets)
            if (s.fd.valid())
                Collect(s, heard, result);
    };
    const int probes = std::max(1, timing.probes);
    const auto start = Clock::now();
    const auto listening = std::chrono::milliseconds(timing.listen_ms);
    std::set<std::pair<Ipv4Address, MacAddress>> heard;
    for (int round = 0; round < probes; ++round) {
        for (const auto& [index, s] : sockets)
            if (s.fd.valid())
                SendProbes(s);
        const auto until = round + 1 < probes ? start + listening * (round + 1) / probes : start + listening;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0)
                break;
            ::poll(fds.data(), fds.size(), int(left));
            collect_all(heard);
        }
    }
    collect_all(heard);
}

} // namespace

ProbeResult ArpProber::Probe(const std::vector<ProbeTarget>& targets)
{
    ProbeResult result;
    GroupedTargets grouped = GroupByInterface(targets);
    KernelFallback fallback;
    OpenProbeSockets(grouped.sockets, fallback, result);
    ProbeAndListen(grouped.sockets, timing_, result);
    for (auto& entry : grouped.sockets)
        entry.second.fd.reset(); // done listening; the fallback still names the entries
    if (!fallback.targets.empty()) {
        // The kernel asks again a second after its first request: the
        // margin lets that second request go out too.
        ResolveByKernel(fallback.targets, timing_.listen_ms + 200, fallback.reason, result);
    }
    // A plan is of one mode: its cameras are on LANs of this machine or
    // beyond routers, so these rarely wait after the ARP probes.
    ProbeByEcho(grouped.routed, timing_, result);
    return result;
}

} // namespace vantoro
