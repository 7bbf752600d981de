#include "net/net_interfaces.h"

#include "net/unique_fd.h"

#include <algorithm>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <optional>

namespace vantoro {

std::vector<NetInterface> ListBroadcastInterfaces()
{
    std::vector<NetInterface> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return found;
    const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owned(list, ::freeifaddrs);
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET)
            continue;
        const unsigned flags = a->ifa_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_BROADCAST) || (flags & IFF_LOOPBACK))
            continue;
        const unsigned index = ::if_nametoindex(a->ifa_name);
        if (index == 0)
            continue; // gone since the list was read
        const bool listed =
            std::any_of(found.begin(), found.end(), [&](const NetInterface& n) { return n.index == index; });
        if (listed)
            continue; // a further address of an interface already listed
        const auto* sa = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        found.push_back({index, a->ifa_name, Ipv4Address(ntohl(sa->sin_addr.s_addr))});
    }
    return found;
}

std::vector<LocalAddress> ListLocalAddresses()
{
    // The kernel's own list by netlink: getifaddrs names an address by its
    // label, which need not be its interface's name.
    std::vector<LocalAddress> found;
    const net::UniqueFd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!socket.valid())
        return found;
    const int fd = socket.get();
    struct {
        nlmsghdr header;
        ifaddrmsg message;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.message.ifa_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0)
        return found;
    std::vector<char> buffer(64 * 1024);
    for (bool done = false; !done;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) {
            found.clear(); // a list cut short is no list
            break;
        }
        int left = int(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) {
                if (h->nlmsg_type == NLMSG_ERROR)
                    found.clear();
                done = true;
                break;
            }
            if (h->nlmsg_type != RTM_NEWADDR)
                continue;
            const auto* a = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
            if (a->ifa_family != AF_INET || a->ifa_prefixlen > 32)
                continue;
            // IFA_LOCAL is this machine's address; IFA_ADDRESS the peer's on a point-to-point link.
            std::optional<std::uint32_t> local, address;
            int attributes = int(IFA_PAYLOAD(h));
            for (auto* r = IFA_RTA(a); RTA_OK(r, attributes); r = RTA_NEXT(r, attributes)) {
                if (RTA_PAYLOAD(r) < 4 || (r->rta_type != IFA_LOCAL && r->rta_type != IFA_ADDRESS))
                    continue;
                std::uint32_t word;
                std::memcpy(&word, RTA_DATA(r), 4);
                (r->rta_type == IFA_LOCAL ? local : address) = ntohl(word);
            }
            if (!local)
                local = address;
            if (!local)
                continue;
            const std::uint32_t mask = a->ifa_prefixlen == 0 ? 0 : ~std::uint32_t(0) << (32 - a->ifa_prefixlen);
            found.push_back({a->ifa_index, {Ipv4Address(*local), mask}});
        }
    }
    return found;
}

std::vector<AttachedSubnet> SubnetsOn(const std::vector<LocalAddress>& addresses, unsigned index)
{
    std::vector<AttachedSubnet> subnets;
    for (const LocalAddress& a : addresses)
        if (a.index == index)
            subnets.push_back(a.subnet);
    return subnets;
}

std::vector<AttachedSubnet> ListAttachedSubnets()
{
    std::vector<AttachedSubnet> subnets;
    for (const LocalAddress& a : ListLocalAddresses())
        subnets.push_back(a.subnet);
    return subnets;
}

std::vector<AttachedSubnet> InterfaceSubnets(unsigned index)
{
    if (index == 0)
        return {};
    return SubnetsOn(ListLocalAddresses(), index);
}

unsigned RouteInterface(Ipv4Address address)
{
    // A connected datagram socket takes the route's source address without
    // sending anything; that address names the interface.
    const net::UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.valid())
        return 0;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(address.word());
    sockaddr_in local{};
    socklen_t local_size = sizeof local;
    const bool routed = ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
                        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&local), &local_size) == 0;
    if (!routed)
        return 0;
    for (const LocalAddress& a : ListLocalAddresses())
        if (a.subnet.address == Ipv4Address(ntohl(local.sin_addr.s_addr)))
            return a.index;
    return 0;
}

unsigned InterfaceIndex(const std::string& name)
{
    return ::if_nametoindex(name.c_str());
}

std::string InterfaceName(unsigned index)
{
    char name[IF_NAMESIZE] = {};
    if (index == 0 || !::if_indextoname(index, name))
        return {};
    return name;
}

std::vector<NetInterface> LoopbackInterfaceOnly()
{
    const unsigned index = ::if_nametoindex("lo");
    if (index == 0)
        return {};
    return {{index, "lo", Ipv4Address(INADDR_LOOPBACK)}};
}

} // namespace vantoro
