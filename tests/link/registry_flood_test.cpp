// A flood of replies from many distinct hardware addresses: every one up to the
// cap is filed and announced once, lookups still find each camera, the next
// new one is refused, and nothing crashes.

#include "link/link_core.h"
#include "link_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using namespace vantoro;
using namespace vantoro::testing;

namespace {

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

MacAddress FloodMac(std::uint32_t i)
{
    return {0x02, 0x00, std::uint8_t(i >> 24), std::uint8_t(i >> 16), std::uint8_t(i >> 8), std::uint8_t(i)};
}

} // namespace

TEST(RegistryFlood, HundredThousandDistinctMacsAreFiledOnceEach)
{
    constexpr std::uint32_t kCameras = 100'000;
    RecordingObserver events;
    LinkPorts ports;
    ports.tool_port = FreeUdpPort();
    ports.list_interfaces = NoInterfaces;
    LinkCore link(ports);
    link.state.observer.Attach(&events);

    const long before = ResidentKiB();
    Frame reply = MakeFrame(CMD_GENERAL_REPLY, FloodMac(0));
    for (std::uint32_t i = 0; i < kCameras; ++i) {
        SetFrameMac(reply, FloodMac(i));
        ASSERT_TRUE(link.receiver.HandleDatagram(reply.data(), reply.size()));
    }
    // The same flood again, as user replies: no new camera.
    SetFrameCommand(reply, CMD_USER_REPLY);
    for (std::uint32_t i = 0; i < kCameras; i += 7) {
        SetFrameMac(reply, FloodMac(i));
        link.receiver.HandleDatagram(reply.data(), reply.size());
    }
    const long after = ResidentKiB();

    EXPECT_EQ(link.state.registry.size(), kCameras);
    EXPECT_EQ(events.count(Event::CameraFound), kCameras);
    for (std::uint32_t i : {0u, 1u, 4242u, 65535u, 65536u, kCameras - 1}) {
        CameraEntry* e = link.state.registry.FindCamera(FloodMac(i));
        ASSERT_NE(e, nullptr) << i;
        EXPECT_EQ(FrameMac(*e->general), FloodMac(i));
        EXPECT_EQ(e->user != nullptr, i % 7 == 0);
    }
    EXPECT_EQ(link.state.registry.FindCamera(FloodMac(kCameras)), nullptr);

    // The flood filled the registry to its cap: one camera more is refused.
    static_assert(kCameras == kMaxCameras);
    SetFrameCommand(reply, CMD_GENERAL_REPLY);
    SetFrameMac(reply, FloodMac(kCameras));
    link.receiver.HandleDatagram(reply.data(), reply.size());
    EXPECT_EQ(link.state.registry.size(), kCameras);
    EXPECT_EQ(link.state.registry.refused(), 1u);
    EXPECT_EQ(events.count(Event::CameraFound), kCameras);
    RecordProperty("resident_kib_growth", std::to_string(after - before));
    std::printf("memory for %u cameras: %ld KiB resident growth\n", kCameras, after - before);
}
