// The write engine in process: Session::Write against simulated cameras on
// loopback, each camera's own gateway written and read back from the camera.

#include "ops/session.h"
#include "ops/write_events.h"

#include "link/config_frame.h"
#include "link/records.h"
#include "net/net_interfaces.h"
#include "net/socket_layer.h"
#include "tools/camera_sim/camera_simulator.h"

#include "link/link_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <thread>

namespace vantoro::ops {
namespace {

using namespace std::chrono_literals;

constexpr Ipv4Address kLoopback{0x7F000001}; // 127.0.0.1

std::uint32_t GatewayOf(const Frame& general)
{
    return GeneralConfigReader(general.data()).gateway();
}

// A gateway of its own for each camera: 10.9.<i / 250>.<i % 250 + 1>.
std::uint32_t NewGateway(std::size_t i)
{
    return 0x0A090000u | std::uint32_t(i / 250) << 8 | std::uint32_t(i % 250 + 1);
}

// A test's cameras, and a session in WAN mode at 127.0.0.1 to find and write them.
struct Fleet {
    std::uint16_t tool_port = testing::FreeUdpPort();
    sim::CameraSimulator simulator;
    Error sim_error = simulator.Start();
    std::atomic<bool> stop{false};
    Session session;
    std::vector<CameraSnapshot> found;

    Fleet(sim::SimOptions sim_options, int parallel, int timeout_ms = 400, int retries = 2)
        : simulator(WithLoopback(std::move(sim_options), tool_port)),
          session(Options(parallel, timeout_ms, retries))
    {
    }

    static sim::SimOptions WithLoopback(sim::SimOptions o, std::uint16_t tool_port)
    {
        o.bind_address = testing::Loopback("127.0.0.1");
        o.port = 0;
        o.reply_port = tool_port;
        o.seed = 7;
        o.log_file = "/dev/null";
        return o;
    }

    SessionOptions Options(int parallel, int timeout_ms, int retries)
    {
        SessionOptions o;
        o.wan = kLoopback;
        o.wait_ms = 10000; // Ready's search ends once every camera has answered
        o.timeout_ms = timeout_ms;
        o.retries = retries;
        o.parallel = parallel;
        o.verify = true;
        o.verify_wait_ms = 10000; // ends as soon as the records are back
        o.stop = &stop;
        o.ports.camera_port = simulator.port();
        o.ports.tool_port = tool_port;
        o.ports.broadcast_address = "127.0.0.1";
        o.ports.list_interfaces = LoopbackInterfaceOnly;
        return o;
    }

    // Binds the session's port and searches.
    ::testing::AssertionResult Ready(std::size_t cameras)
    {
        if (sim_error)
            return ::testing::AssertionFailure() << *sim_error;
        if (auto error = session.Start())
            return ::testing::AssertionFailure() << *error;
        // Until every simulated camera sent its three records: a busy
        // machine (a thread checker) may take longer than any fixed wait.
        std::vector<MacAddress> all;
        for (const auto& camera : simulator.Cameras())
            all.push_back(camera.mac);
        found = session.Discover(&all);
        if (found.size() != cameras)
            return ::testing::AssertionFailure() << found.size() << " of " << cameras << " cameras found";
        return ::testing::AssertionSuccess();
    }

    struct Result {
        std::size_t asked = 0;
        std::map<std::size_t, WriteOutcome> outcomes;
    };

    // Writes NewGateway(i) to camera i of the search, every camera found.
    // on_prepare(i) is told as job i is asked for.
    Result WriteGateways(const std::function<void(std::size_t)>& on_prepare = {})
    {
        Result r;
        r.asked = session.Write(
            found.size(),
            [&](std::size_t i) -> std::optional<WriteJob> {
                if (on_prepare)
                    on_prepare(i);
                WriteJob job{found[i], found[i], false};
                GeneralConfig(job.records.general->data()).set_gateway(NewGateway(i));
                return job;
            },
            [&](std::size_t i, const WriteOutcome& outcome) {
                EXPECT_TRUE(r.outcomes.emplace(i, outcome).second) << "camera " << i << " finished twice";
            });
        return r;
    }

    // What camera i of the search holds now.
    std::uint32_t GatewayHeld(std::size_t i) const
    {
        for (const sim::VirtualCamera& c : simulator.Cameras()) {
            if (c.mac == found[i].mac)
                return GatewayOf(c.records.general);
        }
        ADD_FAILURE() << "camera " << i << " is not simulated";
        return 0;
    }
};

// A frame sent to the session's port from loopback, as a camera's answer.
void Inject(const Fleet& f, const Frame& frame)
{
    const testing::UdpCapture sender;
    net::SendTo(sender.socket(), frame.data(), frame.size(), testing::Loopback("127.0.0.1"), f.tool_port);
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound = 20s)
{
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// The camera's part for a record it does not acknowledge itself: once the
// simulator has received `sets` records, the stored one goes back to the
// session as its acknowledgement, changed first by `change`.
std::thread AcknowledgeInstead(Fleet& f, std::uint64_t sets, std::uint32_t set_command,
                               Frame sim::CameraRecords::*record, std::function<void(Frame&)> change = {})
{
    return std::thread([&f, sets, set_command, record, change] {
        if (!WaitFor([&] { return f.simulator.Counters().set_requests >= sets; }))
            return;
        Frame ack = f.simulator.Cameras()[0].records.*record;
        SetFrameCommand(ack, set_command + 5);
        if (change)
            change(ack);
        Inject(f, ack);
    });
}

struct Case {
    const char* name;
    int cameras;
    int parallel;
    int delay_ms;
};

class WriteEngine : public ::testing::TestWithParam<Case> {};

// Every camera ends verified with exactly its own gateway, whatever the
// window.
TEST_P(WriteEngine, EachCameraKeepsExactlyItsOwnWrite)
{
    const Case c = GetParam();
    sim::SimOptions o;
    o.cameras = c.cameras;
    o.delay_ms = c.delay_ms;
    o.jitter_ms = c.delay_ms;
    Fleet f(o, c.parallel, 300, 8);
    ASSERT_TRUE(f.Ready(std::size_t(c.cameras)));
    const Fleet::Result r = f.WriteGateways();
    ASSERT_EQ(r.asked, f.found.size());
    ASSERT_EQ(r.outcomes.size(), f.found.size());
    for (const auto& [i, outcome] : r.outcomes) {
        EXPECT_TRUE(outcome.sequence.ok) << "camera " << i << ": " << OutcomeText(outcome.sequence);
        EXPECT_EQ(outcome.verification, Verification::Verified) << "camera " << i;
        EXPECT_EQ(f.GatewayHeld(i), NewGateway(i)) << "camera " << i;
    }
    EXPECT_EQ(f.simulator.Counters().apply_done, std::uint64_t(c.cameras));
}

INSTANTIATE_TEST_SUITE_P(Fleets, WriteEngine,
                         ::testing::Values(Case{"OneCamera", 1, 1, 0}, Case{"ManyInParallel", 40, 8, 20},
                                           Case{"ManyOneByOne", 6, 1, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// An acknowledgement that never comes: the step is sent again retries times,
// then the camera fails at that step, and no closing frame follows.
TEST(WriteEngineFaults, ALostAcknowledgementIsResentThenTheCameraFailsWithoutClosing)
{
    sim::SimOptions o;
    o.no_ack[int(sim::RecordKind::General)] = true;
    Fleet f(o, 1, 200, 2);
    ASSERT_TRUE(f.Ready(1));
    const Fleet::Result r = f.WriteGateways();
    ASSERT_EQ(r.outcomes.size(), 1u);
    const WriteOutcome& out = r.outcomes.at(0);
    EXPECT_FALSE(out.sequence.ok);
    EXPECT_EQ(out.sequence.failed_step, ApplyStep::General);
    EXPECT_EQ(out.sequence.resends, 2);
    const sim::SimCounters sc = f.simulator.Counters();
    EXPECT_EQ(sc.set_requests, 1u + 1u + 3u) << "user, domain, and the general record three times";
    EXPECT_EQ(sc.apply_done, 0u);
}

// A lost acknowledgement that the camera sends after the resend: the write
// goes on from there and ends verified.
TEST(WriteEngineFaults, AnAcknowledgementAfterAResendCompletesTheWrite)
{
    sim::SimOptions o;
    o.no_ack[int(sim::RecordKind::Domain)] = true; // this test acknowledges it
    Fleet f(o, 1, 300, 20); // resends enough to outlast a slow test thread
    ASSERT_TRUE(f.Ready(1));
    // The user record, the domain record, then its resend: now it is acknowledged.
    std::thread camera = AcknowledgeInstead(f, 3, CMD_SET_DOMAIN, &sim::CameraRecords::domain);
    const Fleet::Result r = f.WriteGateways();
    camera.join();
    ASSERT_EQ(r.outcomes.size(), 1u);
    const WriteOutcome& out = r.outcomes.at(0);
    EXPECT_TRUE(out.sequence.ok) << OutcomeText(out.sequence);
    EXPECT_GE(out.sequence.resends, 1);
    EXPECT_EQ(out.verification, Verification::Verified);
    EXPECT_EQ(f.GatewayHeld(0), NewGateway(0));
}

// An acknowledgement whose echo differs from what was sent drives nothing:
// the next record is never sent, and the camera fails at that step.
TEST(WriteEngineFaults, AnEchoThatDoesNotMatchDrivesNothing)
{
    sim::SimOptions o;
    o.no_ack[int(sim::RecordKind::User)] = true; // this test answers instead
    Fleet f(o, 1, 300, 1);
    ASSERT_TRUE(f.Ready(1));
    std::thread camera = AcknowledgeInstead(f, 1, CMD_SET_USER, &sim::CameraRecords::user,
                                            [](Frame& ack) { ack[kFrameSize - 1] ^= 0x5A; }); // not what was sent
    const Fleet::Result r = f.WriteGateways();
    camera.join();
    ASSERT_EQ(r.outcomes.size(), 1u);
    EXPECT_FALSE(r.outcomes.at(0).sequence.ok);
    EXPECT_EQ(r.outcomes.at(0).sequence.failed_step, ApplyStep::User);
    const sim::SimCounters sc = f.simulator.Counters();
    EXPECT_EQ(sc.set_requests, 2u) << "the user record and its one resend, nothing after";
    EXPECT_EQ(sc.apply_done, 0u);
    EXPECT_NE(f.GatewayHeld(0), NewGateway(0));
}

// A camera that acknowledges the general record but keeps the old one is
// caught by the search that verifies it, and the gateway is named.
TEST(WriteEngineFaults, ACameraThatForgetsIsAMismatchNamingTheField)
{
    sim::SimOptions o;
    o.cameras = 3;
    o.forget[int(sim::RecordKind::General)] = true;
    Fleet f(o, 3);
    ASSERT_TRUE(f.Ready(3));
    const Fleet::Result r = f.WriteGateways();
    ASSERT_EQ(r.outcomes.size(), 3u);
    for (const auto& [i, out] : r.outcomes) {
        EXPECT_TRUE(out.sequence.ok) << "camera " << i;
        EXPECT_EQ(out.verification, Verification::Mismatch) << "camera " << i;
        bool gateway_named = false;
        for (const Mismatch& m : out.mismatches)
            gateway_named = gateway_named || m.field == "gateway";
        EXPECT_TRUE(gateway_named) << "camera " << i;
    }
}

// Ctrl+C with cameras in flight: those sequences finish and are reported,
// no further camera is started, and the cameras never started are untouched.
TEST(WriteEngineFaults, AStopFinishesTheCamerasInFlightAndStartsNoMore)
{
    sim::SimOptions o;
    o.cameras = 30;
    o.delay_ms = 30;
    Fleet f(o, 4);
    ASSERT_TRUE(f.Ready(30));
    // Ctrl+C as the sixth camera is prepared.
    const Fleet::Result r = f.WriteGateways([&](std::size_t i) { f.stop = f.stop || i == 5; });
    EXPECT_EQ(r.asked, 6u);
    ASSERT_EQ(r.outcomes.size(), r.asked) << "every camera started was reported";
    for (std::size_t i = 0; i < f.found.size(); ++i) {
        const auto it = r.outcomes.find(i);
        if (it == r.outcomes.end()) {
            EXPECT_EQ(f.GatewayHeld(i), GatewayOf(*f.found[i].general)) << "camera " << i << " was never started";
        } else if (it->second.sequence.ok) {
            EXPECT_EQ(f.GatewayHeld(i), NewGateway(i)) << "camera " << i;
        }
    }
}

// The gate on the dispatch thread: only the awaited step's echo drives, a
// repeat never drives the closing frame again, nothing drives after GiveUp,
// and a GiveUp racing the acknowledgement is exactly one of the two.
TEST(WriteEventsGate, OnlyTheAwaitedEchoDrivesAndAGiveUpIsFinal)
{
    const MacAddress mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::array<Frame, kApplySteps> sent{};
    for (std::size_t s = 0; s < kApplySteps; ++s) {
        SetFrameMac(sent[s], mac);
        sent[s][kFrameSize - 1] = std::uint8_t(s + 1);
    }
    const auto drive = [](WriteEvents& e, ApplyStep step, const Frame& ack) {
        const bool yes = e.MayDrive(step, ack);
        e.StepAcknowledged(step, ack);
        return yes;
    };
    WriteEvents e;
    EXPECT_FALSE(drive(e, ApplyStep::User, sent[0])) << "not tracked";
    e.Track(mac, sent);
    EXPECT_FALSE(drive(e, ApplyStep::Domain, sent[1])) << "not the awaited step";
    Frame other = sent[0];
    other[kFrameSize - 1] ^= 0x5A;
    EXPECT_FALSE(drive(e, ApplyStep::User, other)) << "not the echo";
    EXPECT_EQ(e.strays(), 3);
    for (std::size_t s = 0; s < kApplySteps; ++s)
        EXPECT_TRUE(drive(e, ApplyStep(s), sent[s])) << "step " << s;
    EXPECT_FALSE(drive(e, ApplyStep::General, sent[kApplySteps - 1])) << "a repeat closes nothing twice";
    EXPECT_EQ(e.strays(), 3) << "a repeat of a counted step is no stray";
    const WriteEvents::Batch b = e.Wait(Clock::now());
    ASSERT_EQ(b.acknowledged.size(), kApplySteps);
    EXPECT_FALSE(e.GiveUp(mac, ApplyStep::General)) << "counted before the give-up";
    e.Track(mac, sent);
    EXPECT_TRUE(e.GiveUp(mac, ApplyStep::User));
    EXPECT_FALSE(drive(e, ApplyStep::User, sent[0])) << "nothing drives after GiveUp";
    for (int i = 0; i < 200; ++i) {
        e.Track(mac, sent);
        std::atomic<bool> drove{false};
        std::thread link([&] { drove = drive(e, ApplyStep::User, sent[0]); });
        const bool gave_up = e.GiveUp(mac, ApplyStep::User);
        link.join();
        const std::size_t queued = e.Wait(Clock::now()).acknowledged.size();
        ASSERT_NE(gave_up, drove.load()) << "round " << i;
        ASSERT_EQ(queued, drove ? 1u : 0u) << "round " << i;
    }
}

// The frame image holds the last answer received, a user table perhaps: a
// session's searches carry none of it to the places they search.
TEST(SessionSearch, BurstsCarryNoRecordOfAnAnswerReceivedBefore)
{
    testing::UdpCapture place("127.0.0.2");
    ASSERT_TRUE(place.bound());
    SessionOptions o;
    o.wan = Ipv4Address(0x7F000002);
    o.wait_ms = 200;
    o.retries = 1;
    o.ports.camera_port = place.port();
    o.ports.tool_port = testing::FreeUdpPort();
    o.ports.list_interfaces = LoopbackInterfaceOnly;
    Session session(o);
    ASSERT_FALSE(session.Start());
    testing::UdpCapture camera("127.0.0.1");
    const Frame users = testing::MakeFrame(CMD_USER_REPLY, testing::Mac(4), 0x5A);
    net::SendTo(camera.socket(), users.data(), users.size(), testing::Loopback("127.0.0.1"), o.ports.tool_port);
    for (int i = 0; i < 400 && session.Cameras().empty(); ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(session.Cameras().size(), 1u);

    session.Discover();
    int frames = 0;
    while (const auto d = place.Receive(300ms)) {
        ++frames;
        EXPECT_TRUE(std::all_of(d->bytes.begin() + 8, d->bytes.end(), [](std::uint8_t b) { return b == 0; }))
            << "request " << frames << " carried the answer's bytes";
    }
    EXPECT_GE(frames, 6) << "two bursts of three requests";
}

} // namespace
} // namespace vantoro::ops
