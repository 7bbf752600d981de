// Discovery at fleet scale: from a click on AUTO DETECT to the last camera in
// the Net Config page's list, against the camera simulator in this process on
// loopback. Beside each run, a bare receive loop (a plain socket with the same
// options, doing nothing with what it reads) drains the same reply stream from
// a fresh simulator: that is the limit the tool is compared with.
//
//   bench_discovery [--cameras 10,100,1000,5000] [--patterns back-to-back,spread]
//                   [--runs 5] [--rcvbuf BYTES] [--window-ms 100] [--quiet-ms 2000]
//                   [--no-bare] [--raw] [--uniform-list]
//
// Every frame goes to 127.0.0.1 only: WAN mode with the WAN address 127.0.0.1,
// and the link's broadcast address is 127.0.0.1 as well in case LAN mode were
// ever left on. Prints one markdown table of medians over the runs.

#include "bench/bench_support.h"

#include "link/camera_link.h"
#include "tools/camera_sim/camera_simulator.h"
#include "ui/net_config_page.h"
#include "ui/qt_link_windows.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

using namespace vantoro;
using namespace vantoro::bench;

namespace {

constexpr int kCameraList = 1015;
constexpr int kAutoDetect = 1021;
constexpr int kWan = 1023;
constexpr int kWanAddress = 1024;
// A run that has not settled after this long is cut off, whatever happens.
constexpr double kHardLimitMs = 120000;

struct Options {
    std::vector<int> cameras{10, 100, 1000, 5000};
    std::vector<int> jitters{0, 100}; // back-to-back, spread
    int runs = 5;
    int rcvbuf = LinkPorts{}.receive_buffer_bytes; // the product's own setting
    int quiet_ms = 2000;
    bool bare = true;
    bool raw = false;
    // The camera list lays its lines out as equal in size (every line has the
    // same fixed format); shows what that setting would change.
    bool uniform_list = false;
};

[[noreturn]] void Fail(const std::string& why)
{
    std::fprintf(stderr, "bench_discovery: %s\n", why.c_str());
    std::exit(2);
}

std::string PatternName(int jitter_ms)
{
    return jitter_ms == 0 ? "back-to-back" : "spread " + std::to_string(jitter_ms) + " ms";
}

sim::SimOptions SimulatorFor(int cameras, int jitter_ms, std::uint16_t reply_port, std::uint64_t seed)
{
    sim::SimOptions so;
    so.cameras = cameras;
    so.bind_address = LoopbackAddress();
    so.port = 0;
    so.reply_port = reply_port;
    so.jitter_ms = jitter_ms;
    so.seed = seed;
    so.log_file = "/dev/null";
    return so;
}

struct ToolRun {
    double listed_ms = NAN; // burst to the last line that went into the list
    int listed = 0; // after the search, with the bursts it sent again
    int listed_first = 0; // when the first burst's window closed
    int bursts = 0;
    std::uint64_t lost_told = 0; // what the link says the search lost
    std::uint64_t dispatched = 0; // answers to the first burst
    std::uint64_t sent = 0; // by the simulator
    long kernel_drops = 0;
    std::uint64_t queue_drops = 0; // past the receiver's own queue
    double drained_ms = NAN; // burst to the last dispatch seen (1 ms sampling)
    double peak_mb = NAN;
};

ToolRun RunTool(int cameras, int jitter_ms, std::uint64_t seed, const Options& o)
{
    ResetPeakMemory();
    const std::uint16_t tool_port = FreeUdpPort();
    sim::CameraSimulator simulator(SimulatorFor(cameras, jitter_ms, tool_port, seed));
    if (auto error = simulator.Start())
        Fail("simulator: " + *error);

    LinkPorts ports;
    ports.camera_port = simulator.port();
    ports.tool_port = tool_port;
    ports.broadcast_address = "127.0.0.1"; // never the limited broadcast, even in LAN mode
    ports.list_interfaces = LoopbackInterfaceOnly;
    ports.receive_buffer_bytes = o.rcvbuf;
    CameraLink link(ports);
    ui::UiState state(link);
    ui::QtLinkWindows windows(state);
    ui::NetConfigPage page(state);
    page.show();
    link.SetObserver(&windows);
    if (link.Start())
        Fail("cannot bind the tool port " + std::to_string(tool_port));

    ui::Control<QAbstractButton>(&page, kWan)->click();
    ui::Control<QLineEdit>(&page, kWanAddress)->setText("127.0.0.1");
    if (!link.wan_mode() || page.WanAddressText() != "127.0.0.1")
        Fail("WAN mode with 127.0.0.1 could not be set; nothing sent");

    auto* list = ui::Control<ui::SortedListBox>(&page, kCameraList);
    if (o.uniform_list)
        list->setUniformItemSizes(true);
    Clock::time_point last_listed{};
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list,
                     [&] { last_listed = Clock::now(); });
    QCoreApplication::processEvents();

    const std::uint64_t expected = 3u * std::uint64_t(cameras);
    std::uint64_t seen = 0;
    Clock::time_point last_progress = Clock::now();
    Clock::time_point last_dispatch{};

    // The first burst's figures are taken when the link sends it again: by
    // then its window has closed and its answers are long in.
    struct {
        bool taken = false;
        std::uint64_t dispatched = 0, kernel_drops = 0;
        Clock::time_point last_dispatch{};
        int listed = 0;
    } first;
    QEventLoop loop;
    QTimer sampler;
    sampler.setInterval(1);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        const std::uint64_t d = link.counters().dispatched;
        const CameraLink::SearchStatus search = link.search_status();
        if (search.bursts > 1 && !first.taken)
            first = {true, seen, link.counters().kernel_dropped, last_dispatch, list->count()};
        if (d != seen) {
            seen = d;
            last_dispatch = last_progress = now;
        }
        if (list->count() >= cameras && d >= expected)
            loop.quit();
        else if (MsSince(last_progress, now) > o.quiet_ms && !search.under_way)
            loop.quit();
    });

    const Clock::time_point burst = Clock::now();
    last_progress = burst;
    ui::Control<QAbstractButton>(&page, kAutoDetect)->click();
    sampler.start();
    QTimer::singleShot(int(kHardLimitMs), &loop, &QEventLoop::quit);
    loop.exec();
    sampler.stop();

    ToolRun r;
    r.listed = list->count();
    if (r.listed > 0)
        r.listed_ms = MsSince(burst, last_listed);
    if (!first.taken)
        first = {true, link.counters().dispatched, link.counters().kernel_dropped, last_dispatch, r.listed};
    r.listed_first = first.listed;
    r.bursts = link.search_status().bursts;
    r.lost_told = link.search_status().lost;
    r.dispatched = first.dispatched;
    if (r.dispatched > 0)
        r.drained_ms = MsSince(burst, first.last_dispatch);
    r.kernel_drops = long(first.kernel_drops);
    r.queue_drops = link.counters().dropped;
    r.peak_mb = double(StatusKb("VmHWM")) / 1024.0;

    // Keep delivering until the receiver has left its loop, then join it.
    link.RequestStop();
    while (!link.finished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    link.Stop();
    link.SetObserver(nullptr);
    simulator.Stop();
    r.sent = simulator.Counters().datagrams_sent;
    return r;
}

struct BareRun {
    double drained_ms = NAN; // burst to the last datagram read
    std::uint64_t received = 0;
    std::uint64_t sent = 0;
    long kernel_drops = 0;
    int effective_rcvbuf = 0;
};

BareRun RunBare(int cameras, int jitter_ms, std::uint64_t seed, const Options& o)
{
    // The receiver's socket, minus the link: broadcast option, the same
    // SO_RCVBUF, bound to any address, non-blocking with a poll when empty.
    const net::UniqueFd socket = net::OpenUdpSocket();
    if (!socket.valid())
        Fail("cannot open a socket");
    const net::Socket s = socket.get();
    net::SetBroadcast(s, true);
    if (o.rcvbuf > 0)
        net::SetReceiveBuffer(s, o.rcvbuf);
    if (!net::Bind(s, 0, 0))
        Fail("cannot bind the bare loop's socket");
    net::SetNonBlocking(s);
    const std::uint16_t port = net::LocalPort(s);
    BareRun r;
    r.effective_rcvbuf = net::ReceiveBufferSize(s);

    sim::CameraSimulator simulator(SimulatorFor(cameras, jitter_ms, port, seed));
    if (auto error = simulator.Start())
        Fail("simulator: " + *error);

    const std::uint64_t expected = 3u * std::uint64_t(cameras);
    Frame buffer{};
    const Clock::time_point burst = Clock::now();
    Clock::time_point last{};
    SendLoopbackBurst(simulator.port());
    while (r.received < expected) {
        const long n = net::ReceiveFrom(s, buffer.data(), buffer.size());
        if (n >= 0) {
            ++r.received;
            last = Clock::now();
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            continue;
        if (!net::WaitReadable(s, o.quiet_ms))
            break;
    }
    if (r.received > 0)
        r.drained_ms = MsSince(burst, last);
    r.kernel_drops = UdpDrops(port);
    simulator.Stop();
    r.sent = simulator.Counters().datagrams_sent;
    return r;
}

struct Series {
    std::vector<double> listed_ms, listed, listed_first, bursts, lost, kernel_drops, drained_ms, fps, peak_mb;
    std::vector<double> bare_ms, bare_received, bare_lost, bare_fps;
    std::vector<double> ratio_list, ratio_drain, ratio_received;
    int effective_rcvbuf = 0;
    int short_runs = 0; // listed fewer than all
    int silent_short = 0; // of those, the link told of no answer lost
};

void PrintHelp()
{
    std::printf("bench_discovery [--cameras 10,100,1000,5000] [--patterns back-to-back,spread]\n"
                "                [--runs 5] [--rcvbuf BYTES] [--window-ms 100] [--quiet-ms 2000]\n"
                "                [--no-bare] [--raw] [--uniform-list]\n");
}

Options ParseOptions(int argc, char** argv)
{
    Options o;
    int window_ms = 100;
    std::vector<std::string> patterns{"back-to-back", "spread"};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Fail(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--cameras") {
            o.cameras = ParseIntList(value());
            if (o.cameras.empty())
                Fail("--cameras wants a list of positive numbers");
        } else if (arg == "--patterns") {
            patterns.clear();
            std::stringstream in(value());
            std::string p;
            while (std::getline(in, p, ','))
                patterns.push_back(p);
        } else if (arg == "--runs") {
            o.runs = std::max(1, std::atoi(value().c_str()));
        } else if (arg == "--rcvbuf") {
            o.rcvbuf = std::max(0, std::atoi(value().c_str()));
        } else if (arg == "--window-ms") {
            window_ms = std::max(1, std::atoi(value().c_str()));
        } else if (arg == "--quiet-ms") {
            o.quiet_ms = std::max(10, std::atoi(value().c_str()));
        } else if (arg == "--no-bare") {
            o.bare = false;
        } else if (arg == "--uniform-list") {
            o.uniform_list = true;
        } else if (arg == "--raw") {
            o.raw = true;
        } else if (arg == "-h" || arg == "--help") {
            PrintHelp();
            std::exit(0);
        } else {
            Fail("unknown argument " + arg);
        }
    }
    o.jitters.clear();
    for (const std::string& p : patterns) {
        if (p == "back-to-back")
            o.jitters.push_back(0);
        else if (p == "spread")
            o.jitters.push_back(window_ms);
        else
            Fail("unknown pattern " + p + " (back-to-back, spread)");
    }
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const Options o = ParseOptions(argc, argv);
    QApplication app(argc, argv);

    std::map<std::pair<int, int>, Series> results; // (jitter, cameras)
    for (int run = 0; run < o.runs; ++run) {
        for (int jitter : o.jitters) {
            for (int cameras : o.cameras) {
                // The same seed for both sides: the same reply schedule.
                const std::uint64_t seed = 7919u * std::uint64_t(run + 1) + std::uint64_t(cameras) + std::uint64_t(jitter);
                const ToolRun t = RunTool(cameras, jitter, seed, o);
                const double expected = 3.0 * cameras;
                Series& s = results[{jitter, cameras}];
                s.listed_ms.push_back(t.listed_ms);
                s.listed.push_back(t.listed);
                s.listed_first.push_back(t.listed_first);
                s.bursts.push_back(t.bursts);
                s.lost.push_back(expected - double(t.dispatched));
                s.kernel_drops.push_back(double(t.kernel_drops));
                s.drained_ms.push_back(t.drained_ms);
                s.fps.push_back(double(t.dispatched) / (t.drained_ms / 1000.0));
                s.peak_mb.push_back(t.peak_mb);
                if (t.listed < cameras) {
                    ++s.short_runs;
                    s.silent_short += t.lost_told == 0;
                }
                if (o.raw)
                    std::fprintf(stderr,
                                 "run %d %s N=%d tool: listed %d (%d after the first window, %d bursts, "
                                 "%llu told lost) in %.1f ms, dispatched %llu/%llu sent, "
                                 "kernel drops %ld, queue drops %llu, drained %.1f ms, peak %.1f MB\n",
                                 run, PatternName(jitter).c_str(), cameras, t.listed, t.listed_first, t.bursts,
                                 (unsigned long long)t.lost_told, t.listed_ms,
                                 (unsigned long long)t.dispatched, (unsigned long long)t.sent, t.kernel_drops,
                                 (unsigned long long)t.queue_drops, t.drained_ms, t.peak_mb);
                if (!o.bare)
                    continue;
                const BareRun b = RunBare(cameras, jitter, seed, o);
                s.effective_rcvbuf = b.effective_rcvbuf;
                s.bare_ms.push_back(b.drained_ms);
                s.bare_received.push_back(double(b.received));
                s.bare_lost.push_back(expected - double(b.received));
                s.bare_fps.push_back(double(b.received) / (b.drained_ms / 1000.0));
                s.ratio_list.push_back(t.listed_ms / b.drained_ms);
                s.ratio_drain.push_back(t.drained_ms / b.drained_ms);
                s.ratio_received.push_back(double(t.dispatched) / double(b.received));
                if (o.raw)
                    std::fprintf(stderr,
                                 "run %d %s N=%d bare: received %llu/%llu sent in %.1f ms, kernel drops %ld, "
                                 "SO_RCVBUF %d\n",
                                 run, PatternName(jitter).c_str(), cameras, (unsigned long long)b.received,
                                 (unsigned long long)b.sent, b.drained_ms, b.kernel_drops, b.effective_rcvbuf);
            }
        }
    }

    std::printf("Medians over %d runs; SO_RCVBUF requested %d (0 = system default), ", o.runs, o.rcvbuf);
    std::printf("effective %d bytes%s.\n\n", results.empty() ? 0 : results.begin()->second.effective_rcvbuf,
                o.uniform_list ? "; camera list with uniform item sizes" : "");
    std::printf("| pattern | N | listed after one search (min) | listed after the first burst (min) | "
                "bursts (max) | lost: tool (max) | lost: bare (max) | kernel drops: tool | "
                "time to list all, ms | bare drain, ms | list / bare | tool drain, ms | tool drain / bare | "
                "frames/s tool | frames/s bare | received tool / bare | peak RSS, MB | "
                "runs listing fewer than all (silent) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (int jitter : o.jitters) {
        for (int cameras : o.cameras) {
            const Series& s = results[{jitter, cameras}];
            std::printf("| %s | %d | %.0f (%.0f) | %.0f (%.0f) | %.0f (%.0f) | %.0f (%.0f) | %.0f (%.0f) | %.0f | %.1f | %.1f | %.2f | %.1f | %.2f "
                        "| %.0f | %.0f | %.3f | %.0f | %d (%d) |\n",
                        PatternName(jitter).c_str(), cameras, Median(s.listed), Min(s.listed),
                        Median(s.listed_first), Min(s.listed_first), Median(s.bursts), Max(s.bursts), Median(s.lost),
                        Max(s.lost), Median(s.bare_lost), Max(s.bare_lost), Median(s.kernel_drops),
                        Median(s.listed_ms), Median(s.bare_ms), Median(s.ratio_list), Median(s.drained_ms),
                        Median(s.ratio_drain), Median(s.fps), Median(s.bare_fps), Median(s.ratio_received),
                        Median(s.peak_mb), s.short_runs, s.silent_short);
        }
    }
    return 0;
}
