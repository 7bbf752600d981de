// This machine's addresses and subnets, read from the kernel: a labelled
// secondary address ("lo:1", as Debian's ifupdown makes them) belongs to its
// interface by index. Run in a network namespace of the test's own, made in
// a child process, so nothing of the machine's networks is touched.

#include "net/net_interfaces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <net/if.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantoro {
namespace {

bool Has(const std::vector<AttachedSubnet>& subnets, std::uint32_t address, std::uint32_t mask)
{
    return std::any_of(subnets.begin(), subnets.end(),
                       [&](const AttachedSubnet& n) { return n.address.word() == address && n.mask == mask; });
}

// What the child found, as its exit status: 0 all well, 77 could not set up.
int LabelledAddressInANamespace()
{
    if (::unshare(CLONE_NEWNET) != 0)
        return 77;
    if (std::system("ip link set lo up && ip addr add 10.77.5.1/24 dev lo label lo:1") != 0)
        return 77;
    const unsigned lo = ::if_nametoindex("lo");
    int failures = 0;
    const auto check = [&](bool ok) { failures += ok ? 0 : 1; };
    check(Has(InterfaceSubnets(lo), 0x0A4D0501, 0xFFFFFF00)); // the labelled subnet, by index
    check(Has(InterfaceSubnets(lo), 0x7F000001, 0xFF000000));
    check(InterfaceSubnets(lo + 1000).empty());
    const auto all = ListLocalAddresses();
    check(std::any_of(all.begin(), all.end(), [&](const LocalAddress& a) {
        return a.index == lo && a.subnet.address == Ipv4Address(0x0A4D0501);
    }));
    check(Has(ListAttachedSubnets(), 0x0A4D0501, 0xFFFFFF00));
    check(RouteInterface(Ipv4Address(0x0A4D0509)) == lo);
    return failures == 0 ? 0 : 1;
}

TEST(NetInterfaces, ALabelledSecondaryAddressIsFoundOnItsInterfaceByIndex)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a network namespace of its own needs root";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(LabelledAddressInANamespace());
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no network namespace or no 'ip' command here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the labelled subnet or its address was missed";
}

TEST(NetInterfaces, LocalAddressesHoldLoopback)
{
    const auto all = ListLocalAddresses();
    const unsigned lo = ::if_nametoindex("lo");
    if (lo == 0 || InterfaceSubnets(lo).empty())
        GTEST_SKIP() << "no loopback address here";
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const LocalAddress& a) {
        return a.index == lo && a.subnet.address == Ipv4Address(0x7F000001);
    }));
}

} // namespace
} // namespace vantoro
