#include "link/net_interfaces.h"

#include <algorithm>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string_view>

namespace vantoro {

std::vector<NetInterface> ListBroadcastInterfaces()
{
    std::vector<NetInterface> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return found;
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
        found.push_back({index, a->ifa_name, sa->sin_addr.s_addr});
    }
    ::freeifaddrs(list);
    return found;
}

namespace {

// name: only that interface's subnets; null: every interface's.
std::vector<AttachedSubnet> SubnetsOf(const char* name)
{
    std::vector<AttachedSubnet> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return found;
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_netmask)
            continue;
        if (name && std::string_view(a->ifa_name) != name)
            continue;
        const auto word = [](const sockaddr* sa) {
            return ntohl(reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr);
        };
        found.push_back({word(a->ifa_addr), word(a->ifa_netmask)});
    }
    ::freeifaddrs(list);
    return found;
}

} // namespace

std::vector<AttachedSubnet> ListAttachedSubnets()
{
    return SubnetsOf(nullptr);
}

std::vector<AttachedSubnet> InterfaceSubnets(unsigned index)
{
    const std::string name = InterfaceName(index);
    if (name.empty())
        return {};
    return SubnetsOf(name.c_str());
}

unsigned RouteInterface(std::uint32_t address)
{
    // A connected datagram socket takes the route's source address without
    // sending anything; that address names the interface.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(address);
    sockaddr_in local{};
    socklen_t local_size = sizeof local;
    const bool routed = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
                        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_size) == 0;
    ::close(fd);
    if (!routed)
        return 0;
    unsigned index = 0;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return 0;
    for (const ifaddrs* a = list; a && index == 0; a = a->ifa_next)
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET &&
            reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr == local.sin_addr.s_addr)
            index = ::if_nametoindex(a->ifa_name);
    ::freeifaddrs(list);
    return index;
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
    return {{index, "lo", htonl(INADDR_LOOPBACK)}};
}

} // namespace vantoro
