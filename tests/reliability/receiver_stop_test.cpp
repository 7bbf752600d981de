// Stopping the receiver thread: while it waits in its receive, while a
// notification it sent is still being handled, without a bound port, without
// its wake pipe, when its threads could not start, and again and again with
// traffic in flight. Every stop returns in bounded time.

#include "link/link_core.h"
#include "link/link_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vantoro;
using namespace vantoro::testing;

namespace {

using namespace std::chrono_literals;

// Runs fn on a thread of its own; a call that does not return within the bound
// cannot be joined, so the test process ends with a message.
template <class Fn>
void WithinBound(const char* what, Fn fn, std::chrono::seconds bound = 20s)
{
    std::packaged_task<void()> task(fn);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(bound) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not return within %lld s\n", what, static_cast<long long>(bound.count()));
        std::fflush(stderr);
        ADD_FAILURE() << what << " did not return";
        std::abort();
    }
    runner.join();
}

template <class Pred>
bool Eventually(Pred pred)
{
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

LinkPorts PortsFor(std::uint16_t camera_port)
{
    LinkPorts ports;
    ports.camera_port = camera_port;
    ports.tool_port = FreeUdpPort();
    ports.broadcast_address = "127.0.0.1";
    ports.list_interfaces = LoopbackInterfaceOnly;
    return ports;
}

// Bytes waiting in the socket buffers of the UDP sockets bound to port
// (rx_queue in /proc/net/udp, the fields "local_address rem_address st tx:rx").
long WaitingInKernel(std::uint16_t port)
{
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line); // header
    long total = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        const auto colon = local.find(':');
        const auto queue_colon = queues.find(':');
        if (colon == std::string::npos || queue_colon == std::string::npos ||
            std::strtoul(local.c_str() + colon + 1, nullptr, 16) != port)
            continue;
        total += std::strtol(queues.c_str() + queue_colon + 1, nullptr, 16);
    }
    return total;
}

void SendTo(const Frame& frame, std::uint16_t port)
{
    UdpCapture sender;
    net::SendTo(sender.socket(), frame.data(), frame.size(), Loopback("127.0.0.1"), port);
}

// Holds every event until the test lets it go.
class GateObserver final : public LinkObserver {
public:
    void CameraFound(const MacAddress&) override { Gate(); }
    void StepAcknowledged(ApplyStep, const Frame&) override { Gate(); }
    std::string WanAddressText() override { return "127.0.0.1"; }

    bool WaitEntered(int n)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return entered_ >= n; });
    }
    void Open()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    int handled()
    {
        std::lock_guard lock(mutex_);
        return handled_;
    }

private:
    void Gate()
    {
        std::unique_lock lock(mutex_);
        ++entered_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        ++handled_;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    int entered_ = 0, handled_ = 0;
    bool open_ = false;
};

TEST(ReceiverStop, StopReturnsWhileTheReceiverWaitsInItsReceive)
{
    UdpCapture camera;
    RecordingObserver events;
    LinkCore link(PortsFor(camera.port()));
    link.state.observer.Attach(&events);
    ASSERT_TRUE(link.receiver.Start());

    // One frame through, so the loop is known to be back in its receive.
    SendTo(MakeFrame(CMD_GET_GENERAL, Mac(1)), link.state.ports.tool_port);
    ASSERT_TRUE(Eventually([&] { return link.receiver.counters().dispatched.load() == 1; }));

    WithinBound("Stop() of a receiver waiting in its receive", [&] { link.receiver.Stop(); });
    EXPECT_FALSE(link.receiver.running());
    EXPECT_TRUE(link.receiver.finished());
    // The port is free again.
    UdpCapture rebind("0.0.0.0", link.state.ports.tool_port);
    EXPECT_TRUE(rebind.bound());
    // A second stop does nothing.
    WithinBound("a second Stop()", [&] { link.receiver.Stop(); });
}

TEST(ReceiverStop, APendingNotificationFinishesAndNothingQueuedBehindItIsDispatched)
{
    UdpCapture camera;
    GateObserver events;
    LinkCore link(PortsFor(camera.port()));
    link.state.observer.Attach(&events);
    ASSERT_TRUE(link.receiver.Start());

    // The first new camera blocks in its announcement; a second waits in the queue.
    SendTo(MakeFrame(CMD_GENERAL_REPLY, Mac(1)), link.state.ports.tool_port);
    ASSERT_TRUE(events.WaitEntered(1));
    SendTo(MakeFrame(CMD_GENERAL_REPLY, Mac(2)), link.state.ports.tool_port);

    link.receiver.RequestStop();
    EXPECT_FALSE(link.receiver.finished()) << "the loop cannot leave while its notification is pending";
    events.Open();
    ASSERT_TRUE(Eventually([&] { return link.receiver.finished(); }));
    WithinBound("Stop() after the notification finished", [&] { link.receiver.Stop(); });

    EXPECT_EQ(events.handled(), 1);
    EXPECT_EQ(link.receiver.counters().dispatched.load(), 1u);
    EXPECT_EQ(link.state.registry.size(), 1u);
    EXPECT_NE(link.state.registry.FindCamera(Mac(1)), nullptr);
    EXPECT_EQ(link.state.registry.FindCamera(Mac(2)), nullptr);
}

TEST(ReceiverStop, ABurstBeyondTheSocketBufferIsKeptWhileANotificationWaits)
{
    // The system's default buffer holds under 200 frames; the first new camera
    // holds the dispatcher in its announcement while ten times as many arrive.
    constexpr int kCameras = 1500;
    UdpCapture camera;
    GateObserver events;
    LinkPorts ports = PortsFor(camera.port());
    ports.receive_buffer_bytes = 0;
    LinkCore link(ports);
    link.state.observer.Attach(&events);
    ASSERT_TRUE(link.receiver.Start());
    auto mac = [](int i) { return Mac(std::uint8_t(i), std::uint8_t(i >> 8)); };

    SendTo(MakeFrame(CMD_GENERAL_REPLY, mac(0)), link.state.ports.tool_port);
    ASSERT_TRUE(events.WaitEntered(1));
    {
        UdpCapture sender;
        for (int i = 1; i < kCameras; ++i) {
            const Frame f = MakeFrame(CMD_GENERAL_REPLY, mac(i));
            net::SendTo(sender.socket(), f.data(), f.size(), Loopback("127.0.0.1"), link.state.ports.tool_port);
            // Paced by what the socket holds, so a slow machine loses nothing
            // in the kernel: this is about the queue behind it.
            if (i % 50 == 0) {
                ASSERT_TRUE(Eventually([&] { return WaitingInKernel(link.state.ports.tool_port) == 0; }));
            }
        }
    }
    EXPECT_EQ(link.receiver.counters().dispatched.load(), 1u) << "the dispatcher still waits";
    events.Open();
    ASSERT_TRUE(Eventually([&] { return link.receiver.counters().dispatched.load() == kCameras; }))
        << link.receiver.counters().dispatched.load() << " dispatched";
    WithinBound("Stop()", [&] { link.receiver.Stop(); });
    EXPECT_EQ(link.receiver.counters().dropped.load(), 0u);
    EXPECT_EQ(events.handled(), kCameras);
    // Filed in arrival order: the list is newest first.
    std::lock_guard guard(link.state.registry.guard());
    link.state.registry.Rewind();
    for (int i = kCameras - 1; i >= 0; --i) {
        ASSERT_NE(link.state.registry.Current(), nullptr);
        ASSERT_EQ(FrameMac(*link.state.registry.Current()->general), mac(i)) << "camera " << i;
        link.state.registry.Next();
    }
}

TEST(ReceiverStop, AReceiverWithoutItsPortStillStops)
{
    UdpCapture camera;
    RecordingObserver events;
    LinkCore link(PortsFor(camera.port()));
    UdpCapture holder("0.0.0.0", link.state.ports.tool_port); // takes the port first
    ASSERT_TRUE(holder.bound());
    link.state.observer.Attach(&events);
    EXPECT_FALSE(link.receiver.Start());
    EXPECT_EQ(link.receiver.StartFailure(),
              "cannot bind UDP port " + std::to_string(link.state.ports.tool_port) +
                  " for the cameras' answers (is another configuration tool running?)");
    EXPECT_TRUE(link.receiver.running()) << "the loop runs anyway";
    WithinBound("Stop() of a receiver that could not bind", [&] { link.receiver.Stop(); });
    EXPECT_FALSE(link.receiver.running());
}

TEST(ReceiverStop, WhenAThreadCannotStartNothingRunsAndStopJoinsNothing)
{
    UdpCapture camera;
    RecordingObserver events;
    LinkCore link(PortsFor(camera.port()));
    link.state.observer.Attach(&events);
    // The system refuses the first (drain) or the second (dispatch) thread.
    for (int refused : {0, 1}) {
        int started = 0;
        link.receiver.SetThreadStarter([&](std::function<void()> body) {
            if (started++ == refused)
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            return std::thread(std::move(body));
        });
        EXPECT_FALSE(link.receiver.Start()) << "refused thread " << refused;
        EXPECT_EQ(link.receiver.StartFailure(), "cannot start the threads that receive the cameras' answers");
        EXPECT_FALSE(link.receiver.running());
        EXPECT_TRUE(link.receiver.finished());
        WithinBound("Stop() after a thread could not start", [&] { link.receiver.Stop(); });
        // The drain thread that did start was joined and the port let go.
        UdpCapture rebind("0.0.0.0", link.state.ports.tool_port);
        EXPECT_TRUE(rebind.bound()) << "refused thread " << refused;
    }
    // Threads to be had again: the receiver starts and answers are handled.
    link.receiver.SetThreadStarter([](std::function<void()> body) { return std::thread(std::move(body)); });
    ASSERT_TRUE(link.receiver.Start());
    EXPECT_EQ(link.receiver.StartFailure(), "") << "a start that succeeded leaves no failure behind";
    SendTo(MakeFrame(CMD_GENERAL_REPLY, Mac(3)), link.state.ports.tool_port);
    EXPECT_TRUE(Eventually([&] { return events.count(Event::CameraFound) == 1; }));
    WithinBound("Stop()", [&] { link.receiver.Stop(); });
}

TEST(ReceiverStop, StopReturnsWhenTheWakePipeCouldNotBeMade)
{
    // In a child process whose descriptor limit leaves room for the receive
    // socket only, so the wake pipe cannot be made.
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's and UndefinedBehaviorSanitizer's own checks need
    // descriptors there and report an error of their own; the plain and
    // ThreadSanitizer builds run this.
    GTEST_SKIP() << "needs descriptors the sanitizer's checks would take";
#endif
    const std::uint16_t tool_port = FreeUdpPort();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int lowest_free = ::dup(0);
        ::close(lowest_free);
        const rlimit limit{rlim_t(lowest_free + 1), rlim_t(lowest_free + 1)};
        if (lowest_free < 0 || ::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            ::_exit(3);
        LinkPorts ports = PortsFor(1);
        ports.tool_port = tool_port;
        LinkCore link(ports);
        link.receiver.Start();
        if (::dup(0) >= 0 || errno != EMFILE)
            ::_exit(4); // a descriptor was left: the pipe may have been made
        link.receiver.Stop();
        ::_exit(link.receiver.running() ? 5 : 0);
    }
    int status = 0;
    const bool ended = Eventually([&] { return ::waitpid(child, &status, WNOHANG) == child; });
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    ASSERT_TRUE(ended) << "Stop() without a wake pipe did not return";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ReceiverStop, RepeatedStartAndStopWithRepliesAndApplyStepsInFlight)
{
    UdpCapture camera;
    RecordingObserver events;
    LinkCore link(PortsFor(camera.port()));
    link.state.observer.Attach(&events);
    link.state.wan_mode = true;
    events.wan_text = "127.0.0.1";
    // A current camera with all three records, so acknowledgements send frames.
    for (std::uint32_t reply : {CMD_GENERAL_REPLY, CMD_USER_REPLY, CMD_DOMAIN_REPLY})
        link.state.registry.FileRecord(MakeFrame(reply, Mac(9)));
    link.state.sequence_camera = link.state.registry.FindCamera(Mac(9));
    ASSERT_NE(link.state.sequence_camera.load(), nullptr);

    std::atomic<bool> sending{true};
    std::thread sender([&] {
        UdpCapture socket;
        std::uint8_t n = 0;
        const std::uint32_t codes[] = {CMD_GENERAL_REPLY, CMD_USER_SET_ACK, CMD_DOMAIN_SET_ACK,
                                       CMD_GENERAL_SET_ACK, CMD_USER_REPLY, CMD_GET_USER};
        while (sending.load()) {
            const Frame f = MakeFrame(codes[n % 6], Mac(std::uint8_t(n % 40)), n);
            net::SendTo(socket.socket(), f.data(), f.size(), Loopback("127.0.0.1"), link.state.ports.tool_port);
            ++n;
            std::this_thread::sleep_for(100us); // pacing only; nothing waits on it
        }
    });

    std::uint64_t dispatched = 0;
    for (int cycle = 0; cycle < 30; ++cycle) {
        ASSERT_TRUE(link.receiver.Start()) << "cycle " << cycle;
        ASSERT_TRUE(Eventually([&] { return link.receiver.counters().dispatched.load() > dispatched; }));
        WithinBound("Stop() with traffic in flight", [&] { link.receiver.Stop(); });
        dispatched = link.receiver.counters().dispatched.load();
        ASSERT_FALSE(link.receiver.running());
    }
    sending = false;
    sender.join();
    EXPECT_EQ(link.transmitter.transmit_socket(), net::kInvalidSocket);
    // Apply steps went out to the camera port while the cycles ran.
    EXPECT_TRUE(camera.Receive(2000ms).has_value());
}

TEST(ReceiverStop, TheLinkGoingAwayStopsItsReceiver)
{
    UdpCapture camera;
    RecordingObserver events;
    auto link = std::make_unique<LinkCore>(PortsFor(camera.port()));
    link->state.observer.Attach(&events);
    ASSERT_TRUE(link->receiver.Start());
    const std::uint16_t port = link->state.ports.tool_port;
    WithinBound("the link's destructor", [&] { link.reset(); });
    UdpCapture rebind("0.0.0.0", port);
    EXPECT_TRUE(rebind.bound());
}

} // namespace
