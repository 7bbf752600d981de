// What `vantoro discover --wan RANGE` does, timed: a Session in WAN mode sends
// the three-frame search burst once to each address of a /20, paced at
// --rate addresses per second, then collects answers for --wait ms. K
// simulators with one camera each, in this process, sit at every (count/K)-th
// address from the first, on one shared camera port, and answer at the
// tool's port; a plain socket at the last address times the sending phase.
//
//   bench_sweep [--range 127.77.16.0/20] [--cameras 32] [--rate 500,5000,50000]
//               [--wait 1000] [--runs 3] [--rcvbuf BYTES]
//
// --rcvbuf asks for that receive buffer instead of the link's 32 MiB: 212992
// gives what an ordinary user gets (root's request past net.core.rmem_max is
// forced).
//
// The whole of 127.0.0.0/8 is this machine's loopback, so every frame stays
// here; a range outside it is refused, and the link lists no interface, so
// not even a LAN-mode slip could leave.

#include "bench/bench_support.h"

#include "ops/session.h"
#include "ops/text_forms.h"
#include "tools/camera_sim/camera_simulator.h"
#include "util/strict_address.h"

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <thread>

using namespace vantoro;
using namespace vantoro::bench;

namespace {

[[noreturn]] void Fail(const std::string& why)
{
    std::fprintf(stderr, "bench_sweep: %s\n", why.c_str());
    std::exit(2);
}

struct RunResult {
    double total_ms = 0; // Discover, call to return (the wait included)
    double send_ms = NAN; // until the last address had its burst
    double last_found_ms = NAN; // until the K-th camera was listed
    int found = 0;
    int at_own_address = 0; // found, with the address of its simulator
    std::uint64_t requests_seen = 0; // search frames the simulators took in
    std::uint64_t sims_sent = 0;
    std::uint64_t dispatched = 0;
    std::uint64_t queue_dropped = 0;
    long kernel_drops_tool = 0;
    long kernel_drops_cameras = 0;
    double cpu_ms = 0; // the whole process, simulators included
    long peak_rss_kb = 0;
};

double CpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Index of the i-th of k simulators among count addresses: every
// (count / k)-th, from the first. The last address is the witness's.
std::uint64_t SimulatorIndex(int i, int k, std::uint64_t count)
{
    return std::uint64_t(i) * (count - 1) / std::uint64_t(k);
}

// A plain socket at the sweep's last address on the camera port. The arrival
// of its third search frame ends the sending phase, seen from outside the
// session (which reports progress only as it finds cameras).
class LastAddressWitness {
public:
    LastAddressWitness(std::uint32_t address, std::uint16_t port)
        : socket_(net::OpenBoundUdpSocket(net::WordToNetwork(address), port))
    {
        if (!socket_.valid())
            Fail("cannot bind the witness at " + AddressText(address));
        thread_ = std::thread([this] { Watch(); });
    }
    ~LastAddressWitness() { Finish(); }
    // Stops watching; when the whole burst came, the time it was complete.
    std::optional<Clock::time_point> Finish()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return arrived_;
    }

private:
    void Watch()
    {
        Frame frame;
        int seen = 0;
        while (!stop_) {
            if (net::WaitReadable(socket_.get(), 20) && net::ReceiveFrom(socket_.get(), frame.data(), frame.size()) > 0 &&
                ++seen == 3)
                arrived_ = Clock::now();
        }
    }

    net::UniqueFd socket_;
    std::atomic<bool> stop_{false};
    std::optional<Clock::time_point> arrived_;
    std::thread thread_;
};

struct BenchOptions {
    std::string range = "127.77.16.0/20";
    int cameras = 32;
    std::vector<int> rates{500};
    int wait_ms = 1000;
    int runs = 3;
    int rcvbuf = 0; // 0: the link's own request
};

RunResult Run(const BenchOptions& bench, int rate)
{
    ops::SessionOptions options;
    if (auto error = options.sweep.AddList(bench.range)) { // checked in main already
        std::fprintf(stderr, "sweep: %s\n", error->c_str());
        std::exit(2);
    }
    const int cameras = bench.cameras;
    const ops::SweepTargets& sweep = options.sweep;
    const std::uint16_t tool_port = FreeUdpPort();

    // One camera per simulator; the first picks the camera port, the rest bind it too.
    std::vector<std::unique_ptr<sim::CameraSimulator>> simulators;
    std::map<MacAddress, Ipv4Address> address_of;
    std::uint16_t camera_port = 0;
    for (int i = 0; i < cameras; ++i) {
        sim::SimOptions so;
        so.cameras = 1;
        so.first_mac = *sim::OffsetMac(so.first_mac, std::uint64_t(i));
        const Ipv4Address address = sweep.at(SimulatorIndex(i, cameras, sweep.count()));
        so.bind_address = net::WordToNetwork(address.word());
        so.port = camera_port;
        so.reply_port = tool_port;
        so.log_file = "/dev/null";
        simulators.push_back(std::make_unique<sim::CameraSimulator>(so));
        if (auto error = simulators.back()->Start())
            Fail("simulator " + std::to_string(i) + ": " + *error);
        camera_port = simulators.back()->port();
        address_of[so.first_mac] = address;
    }

    LastAddressWitness witness(sweep.at(sweep.count() - 1).word(), camera_port);

    options.wan = sweep.at(0);
    options.rate = rate;
    options.wait_ms = bench.wait_ms;
    if (bench.rcvbuf > 0)
        options.ports.receive_buffer_bytes = bench.rcvbuf;
    options.ports.camera_port = camera_port;
    options.ports.tool_port = tool_port;
    options.ports.broadcast_address = "127.0.0.1";
    options.ports.list_interfaces = NoInterfaces;

    RunResult r;
    ResetPeakMemory();
    const double cpu_before = CpuMs();
    ops::Session session(options);
    if (auto error = session.Start())
        Fail(*error);

    const auto start = Clock::now();
    std::optional<Clock::time_point> found_all;
    const auto on_progress = [&](const ops::SearchProgress& p) {
        if (!found_all && p.found >= std::size_t(cameras))
            found_all = Clock::now();
    };
    const auto found = session.Discover(nullptr, on_progress);
    const auto end = Clock::now();
    r.total_ms = MsSince(start, end);
    if (const auto sent_all = witness.Finish())
        r.send_ms = MsSince(start, *sent_all);
    if (found_all)
        r.last_found_ms = MsSince(start, *found_all);
    r.cpu_ms = CpuMs() - cpu_before;
    r.peak_rss_kb = StatusKb("VmHWM");

    r.found = int(found.size());
    for (const auto& c : found) {
        const auto it = address_of.find(c.mac);
        if (it != address_of.end() && it->second == c.answer_address)
            ++r.at_own_address;
    }
    r.dispatched = session.counters().dispatched;
    r.queue_dropped = session.counters().dropped;
    // Both sides still hold their sockets open.
    r.kernel_drops_tool = UdpDrops(tool_port);
    r.kernel_drops_cameras = UdpDrops(camera_port);
    session.Stop();
    for (auto& s : simulators) {
        s->Stop();
        const sim::SimCounters c = s->Counters();
        r.requests_seen += c.get_requests;
        r.sims_sent += c.datagrams_sent;
    }
    return r;
}

void PrintRow(const char* label, int rate, const RunResult& r, int cameras, std::uint64_t addresses)
{
    std::printf("| %d | %s | %.0f | %.0f | %.0f | %.0f | %d/%d | %d | %llu/%d | %llu | %llu/%d | %ld/%ld | %llu | "
                "%.0f | %.0f |\n",
                rate, label, r.total_ms, r.send_ms, double(addresses - 1) * 1000.0 / r.send_ms, r.last_found_ms, r.found,
                cameras, r.at_own_address, (unsigned long long)r.requests_seen,
                3 * cameras, (unsigned long long)r.sims_sent,
                (unsigned long long)r.dispatched, 3 * cameras, r.kernel_drops_tool, r.kernel_drops_cameras,
                (unsigned long long)r.queue_dropped, r.cpu_ms, double(r.peak_rss_kb) / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    BenchOptions bench;
    auto& [range, cameras, rates, wait_ms, runs, rcvbuf] = bench;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--range" && i + 1 < argc) {
            range = argv[++i];
        } else if (arg == "--cameras" && i + 1 < argc) {
            cameras = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--rate" && i + 1 < argc) {
            rates = ParseIntList(argv[++i]);
            if (rates.empty())
                Fail("--rate wants a list of positive numbers");
        } else if (arg == "--wait" && i + 1 < argc) {
            wait_ms = std::max(0, std::atoi(argv[++i]));
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--rcvbuf" && i + 1 < argc) {
            rcvbuf = std::max(0, std::atoi(argv[++i]));
        } else if (arg == "-h" || arg == "--help") {
            std::printf("bench_sweep [--range 127.77.16.0/20] [--cameras 32] [--rate 500,5000,50000] [--wait 1000] "
                        "[--runs 3] [--rcvbuf BYTES]\n");
            return 0;
        } else {
            Fail("unknown argument " + arg);
        }
    }
    ops::SweepTargets sweep;
    if (auto error = sweep.AddList(range))
        Fail("--range: " + *error);
    for (const auto& r : sweep.ranges())
        if (r.first.word() >> 24 != 127 || r.last.word() >> 24 != 127)
            Fail("--range must lie in 127.0.0.0/8, this machine's loopback");
    const std::uint64_t addresses = sweep.count();
    if (std::uint64_t(cameras) >= addresses)
        Fail("--range must hold an address per camera and one more");

    std::printf("Sweep of %s (%llu addresses, one three-frame burst each), %d simulated cameras spread over it, "
                "%d ms wait after the last burst, receive buffer %s; times in ms from the call to Discover.\n\n",
                range.c_str(), (unsigned long long)addresses, cameras, wait_ms,
                rcvbuf > 0 ? (std::to_string(rcvbuf) + " bytes asked").c_str() : "the link's");
    std::printf("| rate/s | run | total | sending | addresses/s sent | last camera listed | found | at its address | "
                "search frames seen / 3K | answers sent | dispatched / expected | kernel drops tool/cameras | queue drops | "
                "CPU, ms | peak RSS, MB |\n");
    std::printf("|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    std::vector<std::vector<RunResult>> all;
    for (int rate : rates) {
        all.emplace_back();
        for (int run = 1; run <= runs; ++run) {
            all.back().push_back(Run(bench, rate));
            PrintRow(std::to_string(run).c_str(), rate, all.back().back(), cameras, addresses);
            std::fflush(stdout);
        }
    }

    std::printf("\nMedians over %d runs (found: median, and the fewest in any run; the last camera's time only of "
                "runs that listed all).\n\n",
                runs);
    std::printf("| rate/s | total, ms | sending, ms | paced: (addresses - 1) / rate, ms | last camera listed, ms | "
                "found / K (min) | dispatched / 3K (min) | answers sent by the simulators | kernel drops tool (max) | "
                "CPU, ms | peak RSS, MB |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (std::size_t k = 0; k < rates.size(); ++k) {
        const auto& rs = all[k];
        // Runs without a figure (no camera at the end, not all listed) are left out.
        const auto values = [&](auto field) {
            std::vector<double> v;
            for (const auto& r : rs)
                if (!std::isnan(double(field(r))))
                    v.push_back(double(field(r)));
            return v;
        };
        const auto found = values([](const RunResult& r) { return r.found; });
        const auto dispatched = values([](const RunResult& r) { return r.dispatched; });
        const auto drops = values([](const RunResult& r) { return r.kernel_drops_tool; });
        std::printf("| %d | %.0f | %.0f | %.0f | %.0f | %.0f/%d (%.0f) | %.0f/%d (%.0f) | %.0f | %.0f (%.0f) | %.0f | "
                    "%.0f |\n",
                    rates[k], Median(values([](const RunResult& r) { return r.total_ms; })),
                    Median(values([](const RunResult& r) { return r.send_ms; })),
                    double(addresses - 1) * 1000.0 / rates[k],
                    Median(values([](const RunResult& r) { return r.last_found_ms; })), Median(found), cameras, Min(found),
                    Median(dispatched), 3 * cameras, Min(dispatched),
                    Median(values([](const RunResult& r) { return r.sims_sent; })),
                    Median(drops), Max(drops),
                    Median(values([](const RunResult& r) { return r.cpu_ms; })),
                    Median(values([](const RunResult& r) { return r.peak_rss_kb; })) / 1024.0);
    }
    return 0;
}
