#include "tools/camera_sim/camera_simulator.h"

#include "link/records.h"
#include "sim_test_support.h"
#include "tools/camera_sim/state_file.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <thread>

namespace vantoro::sim {
namespace {

using namespace testing;
using namespace std::chrono_literals;

const MacAddress kFirst{0x00, 0x0A, 0x0B, 0x00, 0x00, 0x01};
const MacAddress kNobody{0x02, 0x99, 0x99, 0x99, 0x99, 0x99};

// The simulator on 127.0.0.1 at a port of the system's choosing; its answers
// go to `tool_`, which plays the tool's receive socket.
class CameraSimulatorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tool_.bound()); }

    void StartSim(SimOptions o)
    {
        o.bind_address = Loopback("127.0.0.1");
        o.port = 0;
        o.reply_port = tool_.port();
        if (!o.seed)
            o.seed = 1;
        sim_ = std::make_unique<CameraSimulator>(o);
        const auto error = sim_->Start();
        ASSERT_FALSE(error) << error;
        ASSERT_NE(sim_->port(), 0);
    }
    SimOptions Cameras(int n)
    {
        SimOptions o;
        o.cameras = n;
        return o;
    }

    void Send(const Frame& f, const char* from = "127.0.0.1") { ASSERT_TRUE(SendFrom(from, f, sim_->port())); }
    void SendBytes(const std::vector<std::uint8_t>& bytes)
    {
        UdpEndpoint once;
        ASSERT_TRUE(once.SendTo(bytes.data(), bytes.size(), "127.0.0.1", sim_->port()));
    }

    // The next n datagrams at the tool's socket; fails the test when one is missing.
    std::vector<Datagram> ReceiveN(std::size_t n, const UdpEndpoint* at = nullptr)
    {
        std::vector<Datagram> got;
        for (std::size_t i = 0; i < n; ++i) {
            auto d = (at ? *at : tool_).Receive();
            if (!d) {
                ADD_FAILURE() << "datagram " << i << " of " << n << " never came";
                break;
            }
            got.push_back(std::move(*d));
        }
        return got;
    }

    // Waits until the simulator has dealt with `n` datagrams in all.
    void WaitHandled(std::uint64_t n)
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (sim_->Counters().handled < n && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        ASSERT_GE(sim_->Counters().handled, n);
    }

    // A marker request after the one under test: its answers come after any of
    // the earlier request's, so seeing them first shows the earlier sent none.
    void ExpectOnlyGeneralRepliesNext(int cameras)
    {
        Send(RequestFrame(CMD_GET_GENERAL));
        for (const Datagram& d : ReceiveN(std::size_t(cameras)))
            EXPECT_EQ(FrameCommand(d.frame()), CMD_GENERAL_REPLY);
    }

    UdpEndpoint tool_{"127.0.0.1"};
    std::unique_ptr<CameraSimulator> sim_;
};

TEST_F(CameraSimulatorTest, EveryCameraAnswersEachGetWithItsWholeRecord)
{
    constexpr int kCameras = 3;
    StartSim(Cameras(kCameras));
    const auto defaults = MakeDefaultCameras(kCameras, kFirst);

    // Requests carry some other frame's bytes: none of them may leak into an answer.
    Send(RequestFrame(CMD_GET_GENERAL));
    Send(RequestFrame(CMD_GET_USER));
    Send(RequestFrame(CMD_GET_DOMAIN));

    std::map<std::pair<std::uint32_t, MacAddress>, int> seen;
    for (const Datagram& d : ReceiveN(3 * kCameras)) {
        ASSERT_EQ(d.bytes.size(), kFrameSize);
        EXPECT_EQ(d.from_addr, Loopback("127.0.0.1"));
        EXPECT_EQ(d.from_port, sim_->port()); // cameras answer from their own port
        const Frame f = d.frame();
        const MacAddress mac = FrameMac(f);
        ++seen[{FrameCommand(f), mac}];
        const VirtualCamera* camera = nullptr;
        for (const VirtualCamera& c : defaults)
            camera = c.mac == mac ? &c : camera;
        ASSERT_NE(camera, nullptr) << MacColonText(mac);
        switch (FrameCommand(f)) {
        case CMD_GENERAL_REPLY: EXPECT_EQ(f, camera->records.general); break;
        case CMD_USER_REPLY: EXPECT_EQ(f, camera->records.user); break;
        case CMD_DOMAIN_REPLY: EXPECT_EQ(f, camera->records.domain); break;
        default: ADD_FAILURE() << "command " << FrameCommand(f);
        }
    }
    EXPECT_EQ(seen.size(), std::size_t(3 * kCameras)); // each camera once per kind
    EXPECT_EQ(sim_->Counters().get_requests, 3u);
}

TEST_F(CameraSimulatorTest, AnswersGoToTheSendersAddressAtTheReplyPort)
{
    // A second "tool" on another loopback address with the same port number.
    UdpEndpoint other("127.0.0.2", tool_.port());
    if (!other.bound())
        GTEST_SKIP() << "127.0.0.2:" << tool_.port() << " is taken";
    StartSim(Cameras(2));

    Send(RequestFrame(CMD_GET_GENERAL), "127.0.0.2");
    for (const Datagram& d : ReceiveN(2, &other))
        EXPECT_EQ(FrameCommand(d.frame()), CMD_GENERAL_REPLY);
    Send(RequestFrame(CMD_GET_USER), "127.0.0.1");
    // The first thing at 127.0.0.1 is a user reply: no general reply went there.
    for (const Datagram& d : ReceiveN(2))
        EXPECT_EQ(FrameCommand(d.frame()), CMD_USER_REPLY);
}

TEST_F(CameraSimulatorTest, SetIsStoredOnlyByTheCameraItNamesAndAcknowledgedOnce)
{
    constexpr int kCameras = 3;
    StartSim(Cameras(kCameras));
    const auto defaults = MakeDefaultCameras(kCameras, kFirst);

    struct Case {
        std::uint32_t set, ack, reply;
        Frame CameraRecords::*record;
    };
    const Case cases[] = {
        {CMD_SET_USER, CMD_USER_SET_ACK, CMD_USER_REPLY, &CameraRecords::user},
        {CMD_SET_DOMAIN, CMD_DOMAIN_SET_ACK, CMD_DOMAIN_REPLY, &CameraRecords::domain},
        {CMD_SET_GENERAL, CMD_GENERAL_SET_ACK, CMD_GENERAL_REPLY, &CameraRecords::general},
    };
    std::vector<VirtualCamera> expected = defaults;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        // What the tool sends: camera 1's record, edited, with its own header fields.
        Frame sent = defaults[1].records.*c.record;
        SetFrameCommand(sent, c.set);
        SetFrameReplyMode(sent, 1);
        sent[14] ^= 0xFF;
        sent[200] ^= 0xFF;
        sent[1151] ^= 0xFF;
        Send(sent);

        const auto acks = ReceiveN(1);
        ASSERT_EQ(acks.size(), 1u);
        ASSERT_EQ(acks[0].bytes.size(), kFrameSize);
        Frame want_ack = sent;
        SetFrameCommand(want_ack, c.ack);
        EXPECT_EQ(acks[0].frame(), want_ack);

        expected[1].records.*c.record = sent;
        SetFrameCommand(expected[1].records.*c.record, c.reply);
        const auto now = sim_->Cameras();
        for (int i = 0; i < kCameras; ++i) {
            EXPECT_EQ(now[i].records.general, expected[i].records.general) << "camera " << i;
            EXPECT_EQ(now[i].records.user, expected[i].records.user) << "camera " << i;
            EXPECT_EQ(now[i].records.domain, expected[i].records.domain) << "camera " << i;
        }
    }
    // One ack per frame: the next thing to arrive answers the marker.
    ExpectOnlyGeneralRepliesNext(kCameras);
    EXPECT_EQ(sim_->Counters().records_stored, 3u);
}

TEST_F(CameraSimulatorTest, StoredRecordComesBackWholeOnTheNextGet)
{
    StartSim(Cameras(2));
    Frame sent = MakeDefaultCameras(2, kFirst)[0].records.user;
    UserConfig(sent.data()).AddUser("guest", "guest");
    SetFrameCommand(sent, CMD_SET_USER);
    SetFrameReplyMode(sent, 0);
    Send(sent);
    ASSERT_EQ(ReceiveN(1).size(), 1u);

    Send(RequestFrame(CMD_GET_USER));
    bool found = false;
    for (const Datagram& d : ReceiveN(2)) {
        if (FrameMac(d.frame()) != kFirst)
            continue;
        found = true;
        Frame want = sent;
        SetFrameCommand(want, CMD_USER_REPLY);
        EXPECT_EQ(d.frame(), want);
        EXPECT_GE(UserConfigReader(want.data()).FindLogin("guest", "guest"), 0);
    }
    EXPECT_TRUE(found);
}

TEST_F(CameraSimulatorTest, SetForAnUnknownMacIsNeitherAcknowledgedNorStored)
{
    StartSim(Cameras(3));
    Frame sent = RequestFrame(CMD_SET_DOMAIN, 0x33);
    SetFrameMac(sent, kNobody);
    Send(sent);
    ExpectOnlyGeneralRepliesNext(3);

    const auto now = sim_->Cameras();
    const auto defaults = MakeDefaultCameras(3, kFirst);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(now[i].records.domain, defaults[i].records.domain);
    EXPECT_EQ(sim_->Counters().sets_unmatched, 1u);
    EXPECT_EQ(sim_->Counters().records_stored, 0u);
}

TEST_F(CameraSimulatorTest, StateFileHoldsEveryCamerasRecordsAfterEachChange)
{
    ScratchDir dir;
    SimOptions o = Cameras(3);
    o.first_mac = {0x00, 0x0A, 0x0B, 0x00, 0x00, 0xFE}; // the third wraps into byte 4
    o.state_file = dir.File("state.bin");
    StartSim(o);

    auto cameras = MakeDefaultCameras(3, o.first_mac);
    auto expected_bytes = [&cameras] {
        std::vector<std::uint8_t> bytes;
        for (const VirtualCamera& c : cameras) {
            bytes.insert(bytes.end(), c.mac.begin(), c.mac.end());
            for (const Frame* f : {&c.records.general, &c.records.user, &c.records.domain})
                bytes.insert(bytes.end(), f->begin(), f->end());
        }
        return bytes;
    };
    EXPECT_EQ(cameras[2].mac, (MacAddress{0x00, 0x0A, 0x0B, 0x00, 0x01, 0x00}));
    EXPECT_EQ(ReadBytes(o.state_file), expected_bytes());

    Frame sent = cameras[2].records.domain;
    DomainConfig(sent.data()).DeleteByName("ntp.vantoro.example");
    SetFrameCommand(sent, CMD_SET_DOMAIN);
    SetFrameReplyMode(sent, 1);
    Send(sent);
    ASSERT_EQ(ReceiveN(1).size(), 1u); // the file is rewritten before the ack goes out

    cameras[2].records.domain = sent;
    SetFrameCommand(cameras[2].records.domain, CMD_DOMAIN_REPLY);
    EXPECT_EQ(ReadBytes(o.state_file), expected_bytes());
}

TEST_F(CameraSimulatorTest, NoReplyWithholdsThatKindOnly)
{
    SimOptions o = Cameras(2);
    o.no_reply[int(RecordKind::User)] = true;
    o.no_reply[int(RecordKind::Domain)] = true;
    StartSim(o);
    Send(RequestFrame(CMD_GET_USER));
    Send(RequestFrame(CMD_GET_DOMAIN));
    ExpectOnlyGeneralRepliesNext(2);
    EXPECT_EQ(sim_->Counters().answers_withheld, 4u);
}

TEST_F(CameraSimulatorTest, NoAckStillStores)
{
    SimOptions o = Cameras(2);
    o.no_ack[int(RecordKind::User)] = true;
    StartSim(o);
    Frame sent = MakeDefaultCameras(2, kFirst)[1].records.user;
    sent[20] = 0x77;
    SetFrameCommand(sent, CMD_SET_USER);
    Send(sent);
    ExpectOnlyGeneralRepliesNext(2);
    EXPECT_EQ(sim_->Cameras()[1].records.user[20], 0x77);
    EXPECT_EQ(sim_->Counters().answers_withheld, 1u);
}

TEST_F(CameraSimulatorTest, ForgetAcknowledgesButKeepsTheOldRecord)
{
    SimOptions o = Cameras(2);
    o.forget[int(RecordKind::General)] = true;
    StartSim(o);
    const auto defaults = MakeDefaultCameras(2, kFirst);
    for (const auto& [set, ack, kept] : {std::tuple{CMD_SET_GENERAL, CMD_GENERAL_SET_ACK, false},
                                         std::tuple{CMD_SET_USER, CMD_USER_SET_ACK, true}}) {
        Frame sent = set == CMD_SET_GENERAL ? defaults[1].records.general : defaults[1].records.user;
        sent[200] ^= 0xFF;
        SetFrameCommand(sent, set);
        Send(sent);
        const auto acks = ReceiveN(1);
        ASSERT_EQ(acks.size(), 1u);
        EXPECT_EQ(FrameCommand(acks[0].frame()), ack);
        const auto now = sim_->Cameras()[1].records;
        EXPECT_EQ((set == CMD_SET_GENERAL ? now.general : now.user)[200] == sent[200], kept) << set;
    }
    EXPECT_EQ(sim_->Counters().records_stored, 1u);
}

TEST_F(CameraSimulatorTest, TotalLossSendsNothingButStillStores)
{
    SimOptions o = Cameras(3);
    o.loss = 1.0;
    StartSim(o);
    Frame sent = MakeDefaultCameras(3, kFirst)[0].records.general;
    sent[30] = 0x01;
    SetFrameCommand(sent, CMD_SET_GENERAL);
    Send(RequestFrame(CMD_GET_GENERAL));
    Send(sent);
    WaitHandled(2);

    const SimCounters c = sim_->Counters();
    EXPECT_EQ(c.answers_lost, 4u);
    EXPECT_EQ(c.answers_queued, 0u);
    // Nothing was ever queued, so nothing can still be on its way.
    EXPECT_FALSE(tool_.Receive(0).has_value());
    EXPECT_EQ(sim_->Cameras()[0].records.general[30], 0x01);
}

TEST_F(CameraSimulatorTest, DuplicateSendsEveryAnswerTwice)
{
    SimOptions o = Cameras(3);
    o.duplicate = 1.0;
    StartSim(o);
    Send(RequestFrame(CMD_GET_DOMAIN));
    Send(RequestFrame(CMD_GET_GENERAL)); // marker: comes after all domain replies
    std::map<MacAddress, int> domain_replies;
    int general_replies = 0;
    for (const Datagram& d : ReceiveN(12)) {
        if (FrameCommand(d.frame()) == CMD_DOMAIN_REPLY) {
            EXPECT_EQ(general_replies, 0);
            ++domain_replies[FrameMac(d.frame())];
        } else {
            ++general_replies;
        }
    }
    EXPECT_EQ(domain_replies.size(), 3u);
    for (const auto& [mac, count] : domain_replies)
        EXPECT_EQ(count, 2) << MacColonText(mac);
}

TEST_F(CameraSimulatorTest, DelayedAndJitteredAnswersAllArrive)
{
    SimOptions o = Cameras(6);
    o.delay_ms = 5;
    o.jitter_ms = 40;
    o.seed = 42;
    StartSim(o);
    Send(RequestFrame(CMD_GET_GENERAL));
    Send(RequestFrame(CMD_GET_USER));
    std::map<std::pair<std::uint32_t, MacAddress>, int> seen;
    for (const Datagram& d : ReceiveN(12))
        ++seen[{FrameCommand(d.frame()), FrameMac(d.frame())}];
    EXPECT_EQ(seen.size(), 12u);
}

TEST_F(CameraSimulatorTest, WrongSizesAndOtherCodesAreIgnored)
{
    StartSim(Cameras(2));
    SendBytes(std::vector<std::uint8_t>(kFrameSize - 1, 0x10));
    SendBytes(std::vector<std::uint8_t>(kFrameSize + 1, 0x10));
    SendBytes({});
    for (std::uint32_t code : {CMD_GENERAL_REPLY, CMD_USER_SET_ACK, 0x11u, 0x10000010u})
        Send(RequestFrame(code));
    ExpectOnlyGeneralRepliesNext(2);
    const SimCounters c = sim_->Counters();
    EXPECT_EQ(c.wrong_size, 3u);
    EXPECT_EQ(c.unknown_command, 4u);
}

TEST_F(CameraSimulatorTest, ApplyDoneAndResetAreLoggedByMacAndNotAnswered)
{
    ScratchDir dir;
    SimOptions o = Cameras(2);
    o.log_file = dir.File("sim.log");
    StartSim(o);
    Frame done = RequestFrame(CMD_APPLY_DONE);
    SetFrameMac(done, {0x00, 0x0A, 0x0B, 0x00, 0x00, 0x02});
    Frame reset = RequestFrame(CMD_RESET);
    SetFrameMac(reset, kFirst);
    Send(done);
    Send(reset);
    ExpectOnlyGeneralRepliesNext(2);

    const std::string log = ReadText(o.log_file);
    EXPECT_NE(log.find("apply done for 00:0a:0b:00:00:02"), std::string::npos) << log;
    EXPECT_NE(log.find("reset requested for 00:0a:0b:00:00:01"), std::string::npos) << log;
    EXPECT_EQ(sim_->Counters().apply_done, 1u);
    EXPECT_EQ(sim_->Counters().resets, 1u);
}

TEST(CameraSimulatorStart, ReportsAPortThatCannotBeBound)
{
    UdpEndpoint holder("127.0.0.1");
    ASSERT_TRUE(holder.bound());
    SimOptions o;
    o.bind_address = Loopback("127.0.0.1");
    o.port = holder.port();
    CameraSimulator sim(o);
    const auto error = sim.Start();
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("cannot bind 127.0.0.1:" + std::to_string(holder.port())), std::string::npos) << *error;
}

TEST(CameraSimulatorStart, ReportsAStateFileThatCannotBeWritten)
{
    SimOptions o;
    o.bind_address = Loopback("127.0.0.1");
    o.port = 0;
    o.state_file = "/nonexistent/dir/state.bin";
    CameraSimulator sim(o);
    EXPECT_TRUE(sim.Start());
}

TEST(CameraSimulatorStart, StopsAndStartsAgain)
{
    UdpEndpoint tool("127.0.0.1");
    SimOptions o;
    o.bind_address = Loopback("127.0.0.1");
    o.port = 0;
    o.reply_port = tool.port();
    CameraSimulator sim(o);
    ASSERT_FALSE(sim.Start());
    sim.Stop();
    sim.Stop();
    ASSERT_FALSE(sim.Start());
    ASSERT_TRUE(SendFrom("127.0.0.1", RequestFrame(CMD_GET_GENERAL), sim.port()));
    const auto d = tool.Receive();
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(FrameCommand(d->frame()), CMD_GENERAL_REPLY);
}

} // namespace
} // namespace vantoro::sim
