// The link against the camera simulator over loopback, in WAN mode to
// 127.0.0.1: real sockets, the real receiver thread.

#include "link/camera_link.h"
#include "link/link_core.h"
#include "link/records.h"
#include "link_test_support.h"
#include "tools/camera_sim/camera_simulator.h"

#include <gtest/gtest.h>

#include <thread>

using namespace vantoro;
using namespace vantoro::testing;

namespace {

// Cameras on 127.0.0.1 at a port the system picks, answering to tool_port.
sim::SimOptions LoopbackCameras(int cameras, std::uint16_t tool_port)
{
    sim::SimOptions options;
    options.cameras = cameras;
    options.bind_address = net::InetAddr("127.0.0.1");
    options.port = 0;
    options.reply_port = tool_port;
    return options;
}

// The link's ports for those cameras, with loopback as its only interface.
LinkPorts LoopbackPorts(std::uint16_t camera_port, std::uint16_t tool_port)
{
    LinkPorts ports;
    ports.camera_port = camera_port;
    ports.tool_port = tool_port;
    ports.broadcast_address = "127.0.0.1";
    ports.list_interfaces = LoopbackInterfaceOnly;
    return ports;
}

struct LoopbackFixture : ::testing::Test {
    static constexpr int kCameras = 5;
    RecordingObserver events;
    std::unique_ptr<sim::CameraSimulator> simulator;
    std::unique_ptr<LinkCore> link;

    void SetUp() override
    {
        const std::uint16_t tool_port = FreeUdpPort();
        simulator = std::make_unique<sim::CameraSimulator>(LoopbackCameras(kCameras, tool_port));
        ASSERT_FALSE(simulator->Start());
        link = std::make_unique<LinkCore>(LoopbackPorts(simulator->port(), tool_port));
        link->state.observer.Attach(&events);
        link->state.wan_mode = true;
        events.wan_text = "127.0.0.1";
        ASSERT_TRUE(link->receiver.Start());
    }
    void TearDown() override
    {
        link->receiver.Stop();
        simulator->Stop();
    }

    template <class Pred>
    bool WaitFor(Pred pred)
    {
        for (int i = 0; i < 1000 && !pred(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return pred();
    }

    bool AllFiled()
    {
        std::lock_guard guard(link->state.registry.guard());
        auto& r = link->state.registry;
        if (r.size() != kCameras)
            return false;
        r.Rewind();
        do {
            CameraEntry* e = r.Current();
            if (!e->general || !e->user || !e->domain)
                return false;
        } while (r.Next());
        return true;
    }
};

} // namespace

TEST_F(LoopbackFixture, BurstFilesEveryCameraOnceWithAllThreeRecords)
{
    link->transmitter.SendSearchBurst({});
    ASSERT_TRUE(WaitFor([&] { return AllFiled(); }));
    EXPECT_EQ(events.count(Event::CameraFound), std::size_t(kCameras));

    for (const auto& cam : simulator->Cameras()) {
        CameraEntry* e = link->state.registry.FindCamera(cam.mac);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(*e->general, cam.records.general) << "filed byte for byte";
        EXPECT_EQ(*e->user, cam.records.user);
        EXPECT_EQ(*e->domain, cam.records.domain);
    }

    // A second burst answers the same cameras: nothing new.
    const auto before = simulator->Counters().datagrams_sent;
    link->transmitter.SendSearchBurst({});
    ASSERT_TRUE(WaitFor([&] { return link->receiver.counters().dispatched.load() >= 6u * kCameras; }));
    EXPECT_GE(simulator->Counters().datagrams_sent, before + 3u * kCameras);
    EXPECT_EQ(link->state.registry.size(), std::size_t(kCameras));
    EXPECT_EQ(events.count(Event::CameraFound), std::size_t(kCameras));
}

TEST_F(LoopbackFixture, ApplyChainStoresExactlyTheEditedRecords)
{
    link->transmitter.SendSearchBurst({});
    ASSERT_TRUE(WaitFor([&] { return AllFiled(); }));
    const auto cams = simulator->Cameras();
    const MacAddress target = cams[2].mac;
    CameraEntry* e = link->state.registry.FindCamera(target);
    ASSERT_NE(e, nullptr);
    link->state.sequence_camera = e;

    Frame general, user, domain;
    {
        std::lock_guard guard(link->state.registry.guard());
        GeneralConfig g(e->general->data());
        g.set_ethernet_ip(0x0A000205);
        g.set_server_on(false);
        g.set_ppp_client_ip(0x0A000002);
        UserConfig u(e->user->data());
        u.DeleteByName("viewer");
        u.AddUser("guest", "secret");
        u.StorePermissionsByName("guest", true, false);
        DomainConfig d(e->domain->data());
        d.AddDomain("cam.example", "10.0.0.9");
        general = *e->general;
        user = *e->user;
        domain = *e->domain;
    }

    ASSERT_TRUE(link->transmitter.SendCameraRecord(target, CMD_SET_USER, RecordSlot::User));
    ASSERT_TRUE(WaitFor([&] { return simulator->Counters().apply_done == 1; }));
    EXPECT_EQ(events.count(Event::UserAcknowledged), 1u);
    EXPECT_EQ(events.count(Event::DomainAcknowledged), 1u);
    ASSERT_TRUE(WaitFor([&] { return events.count(Event::GeneralAcknowledged) == 1; }));

    // The camera holds the records as the tool sent them; only command and
    // reply_mode differ from the edited images, and the simulator stores each
    // with its reply code.
    const auto after = simulator->Cameras();
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (after[i].mac != target) {
            EXPECT_EQ(after[i].records.general, cams[i].records.general) << "other cameras unchanged";
            EXPECT_EQ(after[i].records.user, cams[i].records.user);
            EXPECT_EQ(after[i].records.domain, cams[i].records.domain);
            continue;
        }
        auto same_body = [](const Frame& a, const Frame& b) { return std::equal(a.begin() + 8, a.end(), b.begin() + 8); };
        EXPECT_TRUE(same_body(after[i].records.general, general));
        EXPECT_TRUE(same_body(after[i].records.user, user));
        EXPECT_TRUE(same_body(after[i].records.domain, domain));
        EXPECT_NE(after[i].records.general, cams[i].records.general);
    }
    // After the chain the frame image holds the current camera's general record.
    std::lock_guard lock(link->state.frame_image.lock);
    EXPECT_EQ(link->state.frame_image.bytes, *e->general);
}

namespace {

// Hears what the front door tells of a search.
struct SearchObserver final : LinkObserver {
    std::atomic<int> found{0};
    std::atomic<std::uint64_t> incomplete{0}; // lost, as SearchIncomplete told it
    void CameraFound(const MacAddress&) override { ++found; }
    void StepAcknowledged(ApplyStep, const Frame&) override {}
    void SearchIncomplete(std::uint64_t lost) override { incomplete = lost; }
};

} // namespace

TEST(LoopbackSearch, AnswersTheSocketDroppedAreAskedForAgainUntilEveryCameraIsListed)
{
    // Thousands of cameras answer at once into a socket buffer of a couple of
    // hundred frames: the system drops answers, the link counts them and
    // sends the same burst again until a round drops nothing.
#if defined(__SANITIZE_THREAD__)
    // The in-process simulator answers some ten times slower under
    // ThreadSanitizer: the buffer never overflows, and there is nothing to test.
    GTEST_SKIP() << "needs answers faster than ThreadSanitizer lets the simulator send them";
#endif
    constexpr int kCameras = 3000;
    const std::uint16_t tool_port = FreeUdpPort();
    sim::SimOptions options = LoopbackCameras(kCameras, tool_port);
    options.log_file = "/dev/null";
    sim::CameraSimulator simulator(options);
    ASSERT_FALSE(simulator.Start());

    LinkPorts ports = LoopbackPorts(simulator.port(), tool_port);
    ports.receive_buffer_bytes = 212992; // what the system allows an ordinary user
    CameraLink link(ports);
    SearchObserver observer;
    link.SetObserver(&observer);
    link.SetWanMode(true);
    link.SetWanAddress(Ipv4Address(0x7F000001));
    ASSERT_FALSE(link.Start());

    SearchRequest request;
    request.window = std::chrono::milliseconds(300);
    link.Search(request);
    for (int i = 0; i < 2000 && link.search_status().under_way; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const CameraLink::SearchStatus search = link.search_status();
    link.Stop();
    link.SetObserver(nullptr);
    simulator.Stop();

    const CameraLink::Counters counters = link.counters();
    EXPECT_FALSE(search.under_way);
    EXPECT_GT(counters.kernel_dropped, 0u) << "the buffer held every answer: nothing was tested";
    EXPECT_GE(search.bursts, 2);
    EXPECT_LE(search.bursts, 4);
    EXPECT_EQ(simulator.Counters().get_requests, 3u * std::uint64_t(search.bursts)) << "the same three requests";
    EXPECT_EQ(link.CameraCount(), std::size_t(kCameras));
    EXPECT_EQ(observer.found.load(), kCameras) << "each camera announced once";
    // Told only when the last round still lost answers.
    EXPECT_EQ(observer.incomplete.load(), search.lost);
}

TEST(LoopbackSearch, DropsAfterTheLastQueuedAnswerAreSeenAndTheBurstGoesOutAgain)
{
    // The burst's answers overflow a small socket buffer while the drain is
    // held: the first few are queued, every later one is dropped, and no
    // answer follows the drops to carry their count. The window must close
    // with the drops seen, the burst go out again and every camera be listed.
    // The test's camera answers the second burst a few frames at a time, so
    // nothing is dropped then, whatever the machine's speed.
    constexpr int kCameras = 40;
    constexpr int kRuns = 3;
    for (int run = 0; run < kRuns; ++run) {
        UdpCapture camera("127.0.0.1");
        ASSERT_TRUE(camera.bound());
        const std::uint16_t tool_port = FreeUdpPort();
        LinkPorts ports = LoopbackPorts(camera.port(), tool_port);
        ports.receive_buffer_bytes = 8192; // a handful of frames
        LinkCore link(ports);
        RecordingObserver events;
        link.state.observer.Attach(&events);
        link.state.wan_mode = true;
        std::atomic<bool> drain_released{false};
        int threads = 0;
        link.receiver.SetThreadStarter([&](std::function<void()> body) {
            if (threads++ > 0) // the drain thread is started first
                return std::thread(std::move(body));
            return std::thread([&drain_released, body = std::move(body)] {
                while (!drain_released.load())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                body();
            });
        });
        ASSERT_TRUE(link.receiver.Start());

        const auto answer_burst = [&](bool paced) {
            for (int request = 0; request < 3; ++request) {
                const auto got = camera.Receive(std::chrono::milliseconds(3000));
                ASSERT_TRUE(got) << "run " << run << ": no burst to answer";
            }
            for (int c = 0; c < kCameras; ++c) {
                const std::uint64_t before = link.receiver.counters().dispatched.load();
                for (std::uint32_t reply : {CMD_GENERAL_REPLY, CMD_USER_REPLY, CMD_DOMAIN_REPLY}) {
                    const Frame f = MakeFrame(reply, Mac(std::uint8_t(c + 1)));
                    net::SendTo(camera.socket(), f.data(), f.size(), Loopback("127.0.0.1"), tool_port);
                }
                for (int i = 0; paced && i < 2000 && link.receiver.counters().dispatched.load() < before + 3; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        };
        SearchRequest request;
        request.window = std::chrono::milliseconds(200);
        link.receiver.BeginSearch(request);
        answer_burst(false);
        drain_released = true;
        if (HasFatalFailure())
            return;
        answer_burst(true); // the burst sent again
        if (HasFatalFailure())
            return;
        for (int i = 0; i < 1000 && link.receiver.SearchStatus().under_way; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const SearchRound::Status search = link.receiver.SearchStatus();
        link.receiver.Stop();

        EXPECT_GT(link.receiver.counters().kernel_dropped.load(), 0u) << "run " << run;
        EXPECT_FALSE(search.under_way) << "run " << run;
        EXPECT_EQ(search.bursts, 2) << "run " << run;
        EXPECT_EQ(search.lost, 0u) << "run " << run;
        EXPECT_EQ(link.state.registry.size(), std::size_t(kCameras)) << "run " << run;
    }
}

TEST_F(LoopbackFixture, EachCameraAddressedByItselfDrivesItsOwnSequence)
{
    link->transmitter.SendSearchBurst({});
    ASSERT_TRUE(WaitFor([&] { return AllFiled(); }));
    const auto cams = simulator->Cameras();
    // Two sequences at once: each acknowledgement sends the next record of
    // the camera it names, not of the sequence camera.
    link->state.address_each_camera = true;
    link->state.sequence_camera = link->state.registry.FindCamera(cams[0].mac); // ignored
    std::vector<Frame> edited;
    for (std::size_t k : {1u, 3u}) {
        CameraEntry* e = link->state.registry.FindCamera(cams[k].mac);
        ASSERT_NE(e, nullptr);
        std::lock_guard guard(link->state.registry.guard());
        GeneralConfig(e->general->data()).set_gateway(0x0A000100u + std::uint32_t(k));
        edited.push_back(*e->general);
    }
    for (std::size_t k : {1u, 3u})
        ASSERT_TRUE(link->transmitter.SendCameraRecord(cams[k].mac, CMD_SET_USER, RecordSlot::User));
    EXPECT_FALSE(link->transmitter.SendCameraRecord(Mac(0x77), CMD_SET_USER, RecordSlot::User)) << "not listed";
    ASSERT_TRUE(WaitFor([&] { return simulator->Counters().apply_done == 2; }));
    const auto after = simulator->Cameras();
    for (std::size_t i = 0; i < after.size(); ++i) {
        const bool written = i == 1 || i == 3;
        EXPECT_EQ(GeneralConfigReader(after[i].records.general.data()).gateway(),
                  written ? 0x0A000100u + std::uint32_t(i) : GeneralConfigReader(cams[i].records.general.data()).gateway())
            << i;
        if (written) {
            EXPECT_TRUE(std::equal(after[i].records.general.begin() + 8, after[i].records.general.end(),
                                   edited[i == 1 ? 0 : 1].begin() + 8));
        }
    }
    EXPECT_EQ(simulator->Counters().set_requests, 6u) << "three records each, none to camera 0";
}
