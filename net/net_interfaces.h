#pragma once
// The network interfaces a LAN search goes out through. Interfaces come and go
// (a cable plugged in, a VPN started), so the list is read afresh each time.

#include "util/ipv4_address.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantoro {

struct NetInterface {
    unsigned index = 0;        // kernel interface index (if_nametoindex)
    std::string name;          // "eth1"
    Ipv4Address address; // its first IPv4 address
};

// Every interface that is up, has an IPv4 address and can broadcast; loopback
// excluded. One entry per interface (its first IPv4 address). Read afresh at
// each call; empty when the list cannot be read.
std::vector<NetInterface> ListBroadcastInterfaces();

// The interface a datagram to this address would leave by, as the routing
// table says now; 0 when there is no route.
unsigned RouteInterface(Ipv4Address address);

// The name of the interface with this index; empty for 0 or an unknown index.
std::string InterfaceName(unsigned index);
// The index of the interface of this name; 0 for an unknown name.
unsigned InterfaceIndex(const std::string& name);

// A subnet attached to this machine: an address of it and its mask (a
// word in host order, as the records hold masks).
struct AttachedSubnet {
    Ipv4Address address;
    std::uint32_t mask = 0;

    std::uint32_t network() const { return address.word() & mask; }
    std::uint32_t broadcast() const { return address.word() | ~mask; }
    bool Holds(Ipv4Address a) const { return (a.word() & mask) == network(); }
};
// One IPv4 address of this machine: the interface it is on (kernel index)
// and its subnet, in host byte order.
struct LocalAddress {
    unsigned index = 0;
    AttachedSubnet subnet;
};
// Every IPv4 address of every interface, loopback, secondary and labelled
// ones ("eth0:1") and those of interfaces that are down included, each with
// the index of its interface, never matched by the label's text. Read afresh
// from the kernel at each call; empty when it cannot be read.
std::vector<LocalAddress> ListLocalAddresses();
// The IPv4 subnets of every interface of this machine, as above.
std::vector<AttachedSubnet> ListAttachedSubnets();
// The IPv4 subnets of one interface (kernel index), its labelled addresses
// included; empty for an unknown one.
std::vector<AttachedSubnet> InterfaceSubnets(unsigned index);
// The subnets of the list that are on this interface (kernel index).
std::vector<AttachedSubnet> SubnetsOn(const std::vector<LocalAddress>& addresses, unsigned index);

// Only the loopback interface: for programs that must never reach a real
// network (tests, benchmarks), whose "broadcast" goes to a loopback address.
std::vector<NetInterface> LoopbackInterfaceOnly();

// An interface list that holds nothing: nothing leaves in LAN mode.
inline std::vector<NetInterface> NoInterfaces()
{
    return {};
}

} // namespace vantoro
