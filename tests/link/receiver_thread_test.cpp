#include "link/link_core.h"
#include "link_test_support.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>

using namespace vantoro;
using namespace vantoro::testing;

namespace {

struct ReceiverFixture : ::testing::Test {
    UdpCapture camera{"127.0.0.1"};
    RecordingObserver events;
    std::unique_ptr<LinkCore> link;

    void SetUp() override
    {
        LinkPorts ports;
        ports.camera_port = camera.port();
        ports.tool_port = FreeUdpPort();
        ports.broadcast_address = "127.0.0.1";
        ports.list_interfaces = LoopbackInterfaceOnly;
        link = std::make_unique<LinkCore>(ports);
        link->state.observer.Attach(&events);
        link->state.wan_mode = true;
    }

    CameraEntry* LoginTo(std::uint8_t last)
    {
        for (std::uint32_t cmd : {CMD_GENERAL_REPLY, CMD_USER_REPLY, CMD_DOMAIN_REPLY})
            link->state.registry.FileRecord(MakeFrame(cmd, Mac(last), std::uint8_t(cmd)));
        CameraEntry* e = link->state.registry.FindCamera(Mac(last));
        link->state.sequence_camera = e;
        return e;
    }

    bool Handle(const Frame& f) { return link->receiver.HandleDatagram(f.data(), f.size()); }

    // Sends raw bytes to the receiver's port from a loopback socket.
    void SendToTool(const std::uint8_t* data, std::size_t n)
    {
        const net::UniqueFd s = net::OpenUdpSocket();
        net::SendTo(s.get(), data, n, Loopback("127.0.0.1"), link->state.ports.tool_port);
    }

    template <class Pred>
    bool WaitFor(Pred pred)
    {
        for (int i = 0; i < 400 && !pred(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return pred();
    }
};

} // namespace

TEST_F(ReceiverFixture, ShortAndEmptyDatagramsAreRefusedAndChangeNothing)
{
    link->state.frame_image.bytes.fill(0x11);
    const Frame reply = MakeFrame(CMD_GENERAL_REPLY, Mac(1));
    for (std::size_t n : {0u, 1u, 13u, 14u, 1151u}) {
        EXPECT_FALSE(link->receiver.HandleDatagram(reply.data(), n)) << n;
        for (std::uint8_t b : link->state.frame_image.bytes)
            ASSERT_EQ(b, 0x11) << "a refused datagram must not reach the frame image";
    }
    EXPECT_EQ(link->state.registry.size(), 0u);
    EXPECT_TRUE(events.seen().empty());
}

TEST_F(ReceiverFixture, LongDatagramsAreCutToOneFrame)
{
    std::vector<std::uint8_t> big(65507, 0xEE);
    const Frame reply = MakeFrame(CMD_USER_REPLY, Mac(2));
    std::copy(reply.begin(), reply.end(), big.begin());
    for (std::size_t n : {1153u, 65507u}) {
        EXPECT_TRUE(link->receiver.HandleDatagram(big.data(), n));
        CameraEntry* e = link->state.registry.FindCamera(Mac(2));
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(*e->user, reply);
    }
    EXPECT_EQ(events.count(Event::CameraFound), 1u);
}

TEST_F(ReceiverFixture, OwnRequestCodesAndUnknownCodesAreIgnored)
{
    LoginTo(1);
    events.seen();
    const std::size_t before = events.seen().size();
    for (std::uint32_t cmd : {CMD_GET_GENERAL, CMD_SET_GENERAL, CMD_SET_USER, CMD_SET_DOMAIN, CMD_GET_USER,
                              CMD_GET_DOMAIN, CMD_APPLY_DONE, CMD_RESET, 0u, 0x16u, 0x25000000u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(Handle(MakeFrame(cmd, Mac(9))));
    }
    EXPECT_EQ(link->state.registry.size(), 1u);
    EXPECT_EQ(events.seen().size(), before);
    EXPECT_TRUE(camera.Quiet());
}

TEST_F(ReceiverFixture, UserAckNotifiesBeforeSendingTheDomainRecord)
{
    CameraEntry* e = LoginTo(1);
    bool frame_already_out = true;
    events.on_event = [&](Event) { frame_already_out = !camera.Quiet(std::chrono::milliseconds(0)); };
    // No apply was started: the acknowledgement alone drives the next step.
    EXPECT_TRUE(Handle(MakeFrame(CMD_USER_SET_ACK, Mac(42))));
    EXPECT_FALSE(frame_already_out);
    ASSERT_EQ(events.count(Event::UserAcknowledged), 1u);
    auto d = camera.Receive();
    ASSERT_TRUE(d);
    Frame expected = *e->domain;
    SetFrameCommand(expected, CMD_SET_DOMAIN);
    SetFrameReplyMode(expected, 0);
    EXPECT_EQ(d->frame(), expected);
}

TEST_F(ReceiverFixture, DomainAckSendsTheGeneralRecordAndRepeatsOnRepeats)
{
    CameraEntry* e = LoginTo(1);
    Handle(MakeFrame(CMD_DOMAIN_SET_ACK, Mac(1)));
    Handle(MakeFrame(CMD_DOMAIN_SET_ACK, Mac(1)));
    EXPECT_EQ(events.count(Event::DomainAcknowledged), 2u);
    for (int i = 0; i < 2; ++i) {
        auto d = camera.Receive();
        ASSERT_TRUE(d);
        EXPECT_EQ(FrameCommand(d->frame()), CMD_SET_GENERAL);
        EXPECT_TRUE(std::equal(d->bytes.begin() + 8, d->bytes.end(), e->general->begin() + 8));
    }
}

TEST_F(ReceiverFixture, GeneralAckSendsClosingFrameThenNotifiesThenLoadsImage)
{
    CameraEntry* e = LoginTo(1);
    const Frame ack = MakeFrame(CMD_GENERAL_SET_ACK, Mac(77), 0x99);
    bool closing_frame_out = false;
    bool image_still_ack = false;
    events.on_event = [&](Event m) {
        if (m != Event::GeneralAcknowledged)
            return;
        closing_frame_out = !camera.Quiet(std::chrono::milliseconds(500));
        std::lock_guard lock(link->state.frame_image.lock);
        image_still_ack = FrameCommand(link->state.frame_image.bytes) == CMD_APPLY_DONE;
    };
    Handle(ack);
    EXPECT_TRUE(closing_frame_out);
    EXPECT_TRUE(image_still_ack);
    auto d = camera.Receive();
    ASSERT_TRUE(d);
    EXPECT_EQ(FrameCommand(d->frame()), CMD_APPLY_DONE);
    EXPECT_TRUE(std::equal(d->bytes.begin() + 8, d->bytes.end(), ack.begin() + 8)) << "echoes the ack";
    EXPECT_EQ(link->state.frame_image.bytes, *e->general) << "next burst carries the general record";
}

TEST_F(ReceiverFixture, AcksWithoutCurrentCameraOrRecordNotifyButSendNoRecord)
{
    Handle(MakeFrame(CMD_USER_SET_ACK, Mac(1)));
    Handle(MakeFrame(CMD_DOMAIN_SET_ACK, Mac(1)));
    EXPECT_TRUE(camera.Quiet());

    link->state.registry.FileRecord(MakeFrame(CMD_USER_REPLY, Mac(3)));
    link->state.sequence_camera = link->state.registry.FindCamera(Mac(3));
    Handle(MakeFrame(CMD_USER_SET_ACK, Mac(3)));
    Handle(MakeFrame(CMD_DOMAIN_SET_ACK, Mac(3)));
    EXPECT_TRUE(camera.Quiet());
    EXPECT_EQ(events.count(Event::UserAcknowledged), 2u);
    EXPECT_EQ(events.count(Event::DomainAcknowledged), 2u);

    // The closing frame and the notification go out in any case.
    link->state.frame_image.bytes.fill(0);
    Handle(MakeFrame(CMD_GENERAL_SET_ACK, Mac(3)));
    EXPECT_TRUE(camera.Receive());
    EXPECT_EQ(events.count(Event::GeneralAcknowledged), 1u);
}

TEST_F(ReceiverFixture, AnAckTheObserverRefusesNotifiesButSendsNoRecord)
{
    LoginTo(1);
    events.may_drive = [](const Frame& ack) { return FrameMac(ack) == Mac(1); };
    for (std::uint32_t ack : {CMD_USER_SET_ACK, CMD_DOMAIN_SET_ACK})
        Handle(MakeFrame(ack, Mac(2)));
    EXPECT_TRUE(camera.Quiet()) << "another camera's acknowledgement sent the current camera's record";
    EXPECT_EQ(events.count(Event::UserAcknowledged) + events.count(Event::DomainAcknowledged), 2u);
    Handle(MakeFrame(CMD_USER_SET_ACK, Mac(1)));
    auto d = camera.Receive();
    ASSERT_TRUE(d);
    EXPECT_EQ(FrameCommand(d->frame()), CMD_SET_DOMAIN);
}

TEST_F(ReceiverFixture, WithNoProgressWindowAcksStillDriveTheChain)
{
    LoginTo(1);
    events.hears_steps = false;
    Handle(MakeFrame(CMD_USER_SET_ACK, Mac(1)));
    Handle(MakeFrame(CMD_DOMAIN_SET_ACK, Mac(1)));
    Handle(MakeFrame(CMD_GENERAL_SET_ACK, Mac(1)));
    for (std::uint32_t cmd : {CMD_SET_DOMAIN, CMD_SET_GENERAL, CMD_APPLY_DONE}) {
        auto d = camera.Receive();
        ASSERT_TRUE(d);
        EXPECT_EQ(FrameCommand(d->frame()), cmd);
    }
    EXPECT_EQ(events.seen().size(), 1u) << "only the camera-found message; progress went nowhere";
}

TEST_F(ReceiverFixture, ThreadReceivesFromAnySenderAndSkipsBadDatagrams)
{
    ASSERT_TRUE(link->receiver.Start());
    const std::uint8_t junk[13] = {0x15};
    SendToTool(junk, 0);
    SendToTool(junk, sizeof junk);
    std::vector<std::uint8_t> big(3000, 0);
    const Frame reply = MakeFrame(CMD_GENERAL_REPLY, Mac(8));
    std::copy(reply.begin(), reply.end(), big.begin());
    SendToTool(big.data(), big.size());
    ASSERT_TRUE(WaitFor([&] { return events.count(Event::CameraFound) == 1; }));
    CameraEntry* e = link->state.registry.FindCamera(Mac(8));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(*e->general, reply);
    EXPECT_EQ(link->receiver.counters().refused.load(), 2u);
    {
        std::lock_guard guard(link->state.registry.guard());
        EXPECT_EQ(e->answer_interface, LoopbackInterfaceOnly().at(0).index) << "the answer came in on lo";
    }
    link->receiver.Stop();
    EXPECT_TRUE(link->receiver.finished());
}

TEST_F(ReceiverFixture, StopEndsTheLoopWhileANotificationIsPending)
{
    std::promise<void> entered;
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    events.on_event = [&](Event) {
        entered.set_value();
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return release; });
    };
    ASSERT_TRUE(link->receiver.Start());
    const Frame reply = MakeFrame(CMD_USER_REPLY, Mac(1));
    SendToTool(reply.data(), reply.size());
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    link->receiver.RequestStop();
    EXPECT_FALSE(link->receiver.finished()) << "the handler is still running";
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    link->receiver.Stop();
    EXPECT_TRUE(link->receiver.finished());
}

TEST(ReceiverThreadLifetime, StopsWhenThePortCannotBeBound)
{
    UdpCapture holder("127.0.0.1");
    LinkPorts ports;
    ports.tool_port = holder.port();
    ports.list_interfaces = NoInterfaces;
    LinkCore link(ports);
    // Bound to any address on a port that a loopback socket holds: refused.
    EXPECT_FALSE(link.receiver.Start());
    link.receiver.Stop();
    EXPECT_TRUE(link.receiver.finished());
}

TEST(DatagramQueue, KeepsArrivalOrderCountsWhatIsPastItsBoundAndWakesOnClose)
{
    DatagramQueue queue(4); // the dispatcher holds back below 2 while the drain is under way
    QueuedDatagram items[6];
    for (unsigned i = 0; i < 6; ++i)
        items[i].interface_index = i + 1;
    EXPECT_EQ(queue.DrainPush(items, 3, 3), 0u);
    EXPECT_EQ(queue.DrainPush(items + 3, 3, 3), 2u) << "room for one more";
    QueuedDatagram out;
    for (unsigned expected : {1u, 2u, 3u}) {
        ASSERT_TRUE(queue.DispatcherPop(out)) << "half the capacity queued: no holding back";
        EXPECT_EQ(out.interface_index, expected);
    }
    queue.DrainSawQuietGap(); // one left, below the limit: goes once the drain is idle
    ASSERT_TRUE(queue.DispatcherPop(out));
    EXPECT_EQ(out.interface_index, 4u);
    std::thread closer([&] { queue.Close(); });
    EXPECT_FALSE(queue.DispatcherPop(out)) << "a waiting Pop ends at Close";
    closer.join();
    queue.Open();
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_EQ(queue.DrainPush(items, 1, 1), 0u);
    EXPECT_EQ(queue.size(), 1u);

    // A drain that never goes idle (answers streaming in without a pause)
    // holds the dispatcher back for a while only: an acknowledgement queued
    // behind the stream is still taken, in order.
    DatagramQueue streaming(1000, std::chrono::milliseconds(20));
    streaming.DrainPush(items, 3, 3);
    auto taken = std::async(std::launch::async, [&] {
        std::vector<unsigned> order;
        QueuedDatagram d;
        for (int i = 0; i < 3 && streaming.DispatcherPop(d); ++i)
            order.push_back(d.interface_index);
        return order;
    });
    const bool ready = taken.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    streaming.Close(); // ends a Pop that is still waiting
    EXPECT_TRUE(ready) << "held back for good";
    EXPECT_EQ(taken.get(), (std::vector<unsigned>{1, 2, 3}));
}

namespace {

TEST(ReceiverDrops, AnswersWithoutRoomAreCountedAndToldBeforeTheNextAnswer)
{
    // A queue of 8 while the dispatcher is held in the first camera's
    // message: the rest of a burst of distinct cameras cannot all be kept.
    LinkPorts ports;
    ports.tool_port = FreeUdpPort();
    ports.broadcast_address = "127.0.0.1";
    ports.list_interfaces = NoInterfaces;
    ports.answer_queue_capacity = 8;
    LinkCore link(ports);
    RecordingObserver events;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> held{false};
    events.on_event = [&](Event message) {
        if (message == Event::CameraFound && !held.exchange(true))
            released.wait();
    };
    link.state.observer.Attach(&events);
    ASSERT_TRUE(link.receiver.Start());
    constexpr int kAnswers = 64;
    net::UniqueFd s = net::OpenUdpSocket();
    for (int i = 0; i < kAnswers; ++i) {
        const Frame f = MakeFrame(CMD_GENERAL_REPLY, Mac(std::uint8_t(i + 1)));
        net::SendTo(s.get(), f.data(), f.size(), Loopback("127.0.0.1"), ports.tool_port);
        if (i == 0)
            for (int k = 0; k < 400 && !held.load(); ++k)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    s.reset();
    ASSERT_TRUE(held.load());
    for (int k = 0; k < 400 && link.receiver.counters().dropped.load() == 0; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    release.set_value();
    // Every answer is accounted for once it was listed, dropped or refused.
    const auto accounted = [&] {
        return events.count(Event::CameraFound) + link.receiver.counters().dropped.load() +
               link.receiver.counters().refused.load();
    };
    for (int k = 0; k < 1000 && accounted() < std::uint64_t(kAnswers); ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (int k = 0; k < 400 && events.drops_told.load() != link.receiver.counters().dropped.load(); ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    link.receiver.Stop();
    link.state.observer.Attach(nullptr);
    const std::uint64_t dropped = link.receiver.counters().dropped.load();
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(events.drops_told.load(), dropped);
    // What was kept was listed; what was dropped never was.
    EXPECT_EQ(events.count(Event::CameraFound) + dropped + link.receiver.counters().refused.load(),
              std::uint64_t(kAnswers));
}

} // namespace
