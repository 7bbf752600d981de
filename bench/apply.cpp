// The apply sequence end to end at link level: SendStep sends the user
// record, each acknowledgement makes the receiver send the next record, and
// the general record's acknowledgement ends it. Timed against one simulated camera, alone and
// among many registered cameras, on loopback with the simulator in this
// process.
//
// Then the batch: what `vantoro apply` does after its search, over a fleet
// (each camera in turn: login check, edit, the acknowledged sequence with its
// timeout bookkeeping), as a ratio to the fleet's size times one apply.
//
//   bench_apply [--cameras 1,1000] [--applies 200] [--batch 1000] [--batch-runs 5]
//
// Or a whole parallel apply with its verification, one table row:
//
//   bench_apply --fleet 1000 [--delay-ms 50] [--parallel auto|16] [--fleet-runs 5]
//               [--loss 0.1] [--duplicate 0.1] [--timeout 2000] [--no-verify]
//               [--max-rate 2000] [--slow 10 --slow-delay-ms 1000]
//
// --slow N: N of the cameras answer after --slow-delay-ms instead; they sit
// at 127.0.0.2, the rest at 127.0.0.1, and the search sweeps both.
//
// Every frame goes to 127.0.0.1 or 127.0.0.2 only (WAN mode with those
// addresses, and the link's broadcast address is 127.0.0.1 as well).

#include "bench/bench_support.h"

#include "ops/batch_apply.h"
#include "link/camera_link.h"
#include "link/records.h"
#include "tools/camera_sim/camera_simulator.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <cstdio>
#include <mutex>
#include <thread>

using namespace vantoro;
using namespace vantoro::bench;

namespace {

constexpr int kWarmUp = 10;
constexpr auto kApplyTimeout = std::chrono::seconds(2);

[[noreturn]] void Fail(const std::string& why)
{
    std::fprintf(stderr, "bench_apply: %s\n", why.c_str());
    std::exit(2);
}

// Lets the caller wait for the general record's acknowledgement, the last step.
class WaitingObserver final : public LinkObserver {
public:
    void CameraFound(const MacAddress&) override {}
    void StepAcknowledged(ApplyStep step, const Frame&) override
    {
        if (step == ApplyStep::General) {
            {
                std::lock_guard lock(mutex_);
                ++done_;
            }
            cv_.notify_all();
        }
    }

    std::uint64_t done()
    {
        std::lock_guard lock(mutex_);
        return done_;
    }
    bool WaitPast(std::uint64_t count)
    {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, kApplyTimeout, [&] { return done_ > count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::uint64_t done_ = 0;
};

struct ApplyResult {
    std::vector<double> us;
    int timeouts = 0;
    std::uint64_t apply_done = 0; // closing frames the simulator saw
    int bursts = 0;
};

bool AllFiled(const CameraLink& link, int cameras)
{
    if (link.CameraCount() != std::size_t(cameras))
        return false;
    const auto all = link.Cameras();
    return std::all_of(all.begin(), all.end(), [](const CameraSnapshot& c) { return c.complete(); });
}

// Cameras on loopback at a port of their own, answering to tool_port, with no log.
sim::SimOptions QuietSimulator(int cameras, std::uint16_t tool_port)
{
    sim::SimOptions so;
    so.cameras = cameras;
    so.bind_address = LoopbackAddress();
    so.port = 0;
    so.reply_port = tool_port;
    so.log_file = "/dev/null";
    return so;
}

ApplyResult Run(int cameras, int applies)
{
    const std::uint16_t tool_port = FreeUdpPort();
    sim::CameraSimulator simulator(QuietSimulator(cameras, tool_port));
    if (auto error = simulator.Start())
        Fail("simulator: " + *error);

    LinkPorts ports;
    ports.camera_port = simulator.port();
    ports.tool_port = tool_port;
    ports.broadcast_address = "127.0.0.1";
    ports.list_interfaces = LoopbackInterfaceOnly;
    // Room for the whole discovery burst of a large fleet, so it fills at once.
    ports.receive_buffer_bytes = 4 << 20;
    CameraLink link(ports);
    WaitingObserver observer;
    link.SetObserver(&observer);
    link.SetWanMode(true);
    link.SetWanAddress(Ipv4Address(0x7F000001u)); // 127.0.0.1
    if (link.Start())
        Fail("cannot bind the tool port");

    ApplyResult result;
    // Discovery first; a burst whose replies overflowed is simply repeated.
    while (!AllFiled(link, cameras)) {
        if (++result.bursts > 5)
            Fail("the registry never filled");
        link.Search({});
        for (int i = 0; i < 400 && !AllFiled(link, cameras); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // A camera in the middle of the simulator's range.
    const auto all = simulator.Cameras();
    const MacAddress target = all[all.size() / 2].mac;

    for (int i = 0; i < kWarmUp + applies; ++i) {
        const std::uint64_t before = observer.done();
        const auto start = Clock::now();
        if (!link.SendStep(target, ApplyStep::User))
            Fail("the target camera is not registered");
        if (!observer.WaitPast(before)) {
            ++result.timeouts;
            continue;
        }
        if (i >= kWarmUp)
            result.us.push_back(MsSince(start) * 1000.0);
    }
    // The closing frame leaves before the general step is told; give the last one time to land.
    for (int i = 0; i < 100 && simulator.Counters().apply_done < std::uint64_t(kWarmUp + applies); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    link.Stop();
    link.SetObserver(nullptr);
    simulator.Stop();
    result.apply_done = simulator.Counters().apply_done;
    return result;
}

struct BatchTimes {
    std::vector<double> batch_ms; // vantoro apply's loop over the fleet
    std::vector<double> single_ms; // as many applies to one camera, same path
};

// WAN mode at the simulator on 127.0.0.1, and only loopback for LAN mode.
ops::SessionOptions LoopbackSession(std::uint16_t camera_port, std::uint16_t tool_port)
{
    ops::SessionOptions options;
    options.wan = Ipv4Address(0x7F000001u); // 127.0.0.1
    options.ports.camera_port = camera_port;
    options.ports.tool_port = tool_port;
    options.ports.broadcast_address = "127.0.0.1";
    options.ports.list_interfaces = LoopbackInterfaceOnly;
    options.wait_ms = 2000;
    return options;
}

// Alternates, run by run, a batch over `cameras` cameras with as many applies
// to the middle camera alone through the same session, so both see the same
// load on the machine.
BatchTimes RunBatch(int cameras, int runs)
{
    const std::uint16_t tool_port = FreeUdpPort();
    sim::CameraSimulator simulator(QuietSimulator(cameras, tool_port));
    if (auto error = simulator.Start())
        Fail("simulator: " + *error);

    ops::SessionOptions options = LoopbackSession(simulator.port(), tool_port);
    options.ports.receive_buffer_bytes = 4 << 20;
    ops::Session session(options);
    if (auto error = session.Start())
        Fail(*error);
    std::vector<MacAddress> targets;
    for (const auto& c : simulator.Cameras())
        targets.push_back(c.mac);
    if (session.Discover(&targets).size() != std::size_t(cameras))
        Fail("not every camera answered the search");

    BatchTimes times;
    const ops::BatchOptions batch{"admin", "admin", false, false, {}, {}};
    // The first run is a warm-up, as the single applies above have theirs.
    for (int run = 0; run <= runs; ++run) {
        std::vector<ops::PlanRow> plan;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            ops::PlanRow row;
            row.mac = targets[i];
            // A new address each run, so every camera really is applied to.
            row.edits[NetworkFieldId::EthernetIp] = 0x0A000000u | std::uint32_t(run + 1) << 16 | std::uint32_t(i);
            plan.push_back(row);
        }
        auto start = Clock::now();
        const auto results = ops::ApplyBatch(session, session.Cameras(), plan, batch);
        const double batch_ms = MsSince(start);
        for (const auto& r : results)
            if (r.result != ops::BatchResult::Applied)
                Fail(std::string("a camera was not applied to: ") + ops::BatchResultName(r.result) + " " + r.detail);

        CameraSnapshot one = session.Cameras()[targets.size() / 2];
        start = Clock::now();
        for (std::size_t i = 0; i < targets.size(); ++i) {
            GeneralConfig(one.general->data()).set_ethernet_ip(0x0B000000u | std::uint32_t(i));
            if (!session.Apply(one).ok)
                Fail("a single apply failed");
        }
        const double single_ms = MsSince(start);
        if (run > 0) {
            times.batch_ms.push_back(batch_ms);
            times.single_ms.push_back(single_ms);
        }
    }
    session.Stop();
    simulator.Stop();
    return times;
}

struct FleetOptions {
    int cameras = 0; // 0: not asked for
    int delay_ms = 50;
    int parallel = 0; // auto
    int max_rate = ops::PaceWindow::kDefaultMaxRate;
    int slow = 0; // of the cameras, answering after slow_delay_ms
    int slow_delay_ms = 1000;
    int runs = 5;
    double loss = 0.0;
    double duplicate = 0.0;
    bool verify = true;
    int timeout_ms = 2000; // per acknowledgement, vantoro's default
};

// vantoro apply as it runs after its start: the search for every camera of the
// plan, then the batch with up to `parallel` cameras in flight and the search
// that verifies them, against a simulator that answers after delay_ms. Every
// camera must end verified with exactly its plan, or be named failed.
void RunFleet(const FleetOptions& f)
{
    std::vector<double> seconds, peaks, resends;
    int verified = 0, failed = 0, wrong = 0, slow_failed = 0;
    const int fast = f.cameras - f.slow;
    for (int run = 0; run < f.runs; ++run) {
        const std::uint16_t tool_port = FreeUdpPort();
        sim::SimOptions so = QuietSimulator(fast, tool_port);
        so.delay_ms = f.delay_ms;
        so.loss = f.loss;
        so.duplicate = f.duplicate;
        so.seed = std::uint64_t(run + 1);
        sim::CameraSimulator simulator(so);
        if (auto error = simulator.Start())
            Fail("simulator: " + *error);
        // The slow ones: on the same port at the next loopback address, MACs after the others'.
        std::unique_ptr<sim::CameraSimulator> slow;
        if (f.slow > 0) {
            sim::SimOptions slow_options = so;
            slow_options.cameras = f.slow;
            slow_options.first_mac = *sim::OffsetMac(so.first_mac, std::uint64_t(fast));
            slow_options.bind_address = net::WordToNetwork(0x7F000002u);
            slow_options.port = simulator.port();
            slow_options.delay_ms = f.slow_delay_ms;
            slow = std::make_unique<sim::CameraSimulator>(slow_options);
            if (auto error = slow->Start())
                Fail("slow simulator: " + *error);
        }
        ops::SessionOptions options = LoopbackSession(simulator.port(), tool_port);
        if (slow && options.sweep.AddList("127.0.0.1,127.0.0.2"))
            Fail("the sweep");
        options.timeout_ms = f.timeout_ms;
        options.parallel = f.parallel;
        options.max_rate = f.max_rate;
        options.verify = f.verify;
        ops::Session session(options);
        if (auto error = session.Start())
            Fail(*error);
        auto state = simulator.Cameras();
        if (slow)
            for (auto& c : slow->Cameras())
                state.push_back(c);
        std::vector<ops::PlanRow> plan;
        for (const auto& c : state) {
            ops::PlanRow row;
            row.mac = c.mac;
            row.edits[NetworkFieldId::Gateway] = 0x0A000000u | std::uint32_t(plan.size());
            plan.push_back(row);
        }
        std::vector<MacAddress> targets;
        for (const auto& row : plan)
            targets.push_back(row.mac);
        const auto start = Clock::now();
        const auto cameras = session.Discover(&targets);
        const auto results = ops::ApplyBatch(session, cameras, plan, ops::BatchOptions{"admin", "admin", false, false, {}, {}});
        seconds.push_back(MsSince(start) / 1000.0);
        peaks.push_back(session.pace().peak());
        resends.push_back(session.pace().resends());
        session.Stop();
        simulator.Stop();
        state = simulator.Cameras();
        if (slow) {
            slow->Stop();
            for (auto& c : slow->Cameras())
                state.push_back(c);
        }
        for (std::size_t i = 0; i < results.size(); ++i) {
            const bool exact = GeneralConfigReader(state[i].records.general.data()).gateway() == 0x0A000000u + i;
            const bool ok = !ops::ResultFailed(results[i]);
            verified += ok;
            failed += !ok;
            slow_failed += !ok && i >= std::size_t(fast);
            wrong += ok && !exact; // reported done, but the camera holds something else
        }
    }
    const std::string parallel = f.parallel == 0 ? "auto" : std::to_string(f.parallel);
    const std::string slow = f.slow == 0 ? "-" : std::to_string(f.slow) + " at " + std::to_string(f.slow_delay_ms);
    std::printf("| %d | %d | %s | %s | %d | %.2g / %.2g | %d | %s | %.2f | %.2f | %.2f | %.0f | %.0f | %d | %d | %d | %d |\n",
                f.cameras, f.delay_ms, slow.c_str(), parallel.c_str(), f.max_rate, f.loss, f.duplicate, f.timeout_ms,
                f.verify ? "yes" : "no", Median(seconds), Min(seconds), Max(seconds), Median(peaks), Median(resends),
                verified, failed, slow_failed, wrong);
}

} // namespace

int main(int argc, char** argv)
{
    FleetOptions fleet;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--fleet")
            fleet.cameras = std::atoi(argv[++i]);
        else if (arg == "--delay-ms")
            fleet.delay_ms = std::atoi(argv[++i]);
        else if (arg == "--parallel") {
            const std::string n = argv[++i];
            fleet.parallel = n == "auto" ? 0 : std::max(1, std::atoi(n.c_str()));
        }
        else if (arg == "--max-rate")
            fleet.max_rate = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--slow")
            fleet.slow = std::max(0, std::atoi(argv[++i]));
        else if (arg == "--slow-delay-ms")
            fleet.slow_delay_ms = std::max(0, std::atoi(argv[++i]));
        else if (arg == "--fleet-runs")
            fleet.runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--loss")
            fleet.loss = std::atof(argv[++i]);
        else if (arg == "--duplicate")
            fleet.duplicate = std::atof(argv[++i]);
        else if (arg == "--timeout")
            fleet.timeout_ms = std::max(1, std::atoi(argv[++i]));
    }
    for (int i = 1; i < argc; ++i)
        fleet.verify &= std::string(argv[i]) != "--no-verify";
    if (fleet.cameras > 0) {
        if (fleet.slow >= fleet.cameras)
            Fail("--slow wants fewer cameras than --fleet");
        RunFleet(fleet);
        return 0;
    }
    std::vector<int> fleets{1, 1000};
    int applies = 200;
    int batch = 1000;
    int batch_runs = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cameras" && i + 1 < argc) {
            fleets = ParseIntList(argv[++i]);
            if (fleets.empty())
                Fail("--cameras wants a list of positive numbers");
        } else if (arg == "--applies" && i + 1 < argc) {
            applies = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--batch" && i + 1 < argc) {
            batch = std::max(0, std::atoi(argv[++i]));
        } else if (arg == "--batch-runs" && i + 1 < argc) {
            batch_runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "-h" || arg == "--help") {
            std::printf("bench_apply [--cameras 1,1000] [--applies 200] [--batch 1000] [--batch-runs 5]\n");
            return 0;
        } else {
            Fail("unknown argument " + arg);
        }
    }

    std::printf("Full apply sequence (its user record to the general acknowledgement: 3 records out, 3 acknowledgements in, "
                "closing frame out), %d applies after %d warm-up, microseconds.\n\n",
                applies, kWarmUp);
    std::printf("| cameras registered | median | p10 | p90 | p99 | min | max | timeouts | closing frames seen |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    std::vector<double> single_us;
    for (int cameras : fleets) {
        const ApplyResult r = Run(cameras, applies);
        if (cameras == 1)
            single_us = r.us;
        std::printf("| %d | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %d | %llu/%d |\n", cameras, Median(r.us),
                    Percentile(r.us, 10), Percentile(r.us, 90), Percentile(r.us, 99), Min(r.us), Max(r.us),
                    r.timeouts, (unsigned long long)r.apply_done, kWarmUp + applies);
        std::fflush(stdout);
    }
    if (batch > 0) {
        if (single_us.empty())
            single_us = Run(1, applies).us;
        // A batch is a sum, so the link-level figure to compare with is the
        // mean single apply, tail included.
        double sum = 0;
        for (double us : single_us)
            sum += us;
        const double mean_us = sum / double(single_us.size());
        const BatchTimes t = RunBatch(batch, batch_runs);
        const double batch_ms = Median(t.batch_ms);
        const double single_ms = Median(t.single_ms);
        std::printf("\nBatch apply: vantoro apply's loop after its search (each camera in turn: login check, edit, "
                    "the acknowledged sequence with its timeout bookkeeping) over %d cameras, against %d applies to "
                    "one camera through the same session, run by run; medians of %d runs after a warm-up run.\n\n",
                    batch, batch, batch_runs);
        std::printf("| cameras | batch, ms | per camera, us | %d single applies, ms | batch / single applies | "
                    "batch / (%d x link-level mean %.0f us) |\n",
                    batch, batch, mean_us);
        std::printf("|---:|---:|---:|---:|---:|---:|\n");
        std::printf("| %d | %.1f | %.0f | %.1f | %.2f | %.2f |\n", batch, batch_ms, batch_ms * 1000.0 / batch,
                    single_ms, batch_ms / single_ms, batch_ms * 1000.0 / (mean_us * batch));
    }
    return 0;
}
