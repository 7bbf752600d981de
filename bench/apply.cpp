// The apply sequence end to end at link level: StartApply sends the user
// record, each acknowledgement makes the receiver send the next record, and
// WM_GENERAL_SET_DONE ends it. Timed against one simulated camera, alone and
// among many registered cameras, on loopback with the simulator in this
// process.
//
//   bench_apply [--cameras 1,1000] [--applies 200]
//
// Every frame goes to 127.0.0.1 only (WAN mode with that address, and the
// link's broadcast address is 127.0.0.1 as well).

#include "bench/bench_support.h"

#include "link/camera_link.h"
#include "tools/camera_sim/camera_simulator.h"

#include <condition_variable>
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

// Stands in for the user interface: answers the WAN address and lets the
// caller wait for WM_GENERAL_SET_DONE.
class WaitingWindows final : public LinkWindows {
public:
    bool SendToWindow(LinkWindow, std::uint32_t message) override
    {
        if (message == WM_GENERAL_SET_DONE) {
            {
                std::lock_guard lock(mutex_);
                ++done_;
            }
            cv_.notify_all();
        }
        return true;
    }
    std::string WanAddressText() override { return "127.0.0.1"; }

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

bool AllFiled(CameraRegistry& registry, int cameras)
{
    std::lock_guard guard(registry.guard());
    if (registry.size() != std::size_t(cameras))
        return false;
    registry.Rewind();
    do {
        const CameraEntry* e = registry.Current();
        if (!e->general || !e->user || !e->domain)
            return false;
    } while (registry.Next());
    return true;
}

ApplyResult Run(int cameras, int applies)
{
    const std::uint16_t tool_port = FreeUdpPort();
    sim::SimOptions so;
    so.cameras = cameras;
    so.bind_address = LoopbackAddress();
    so.port = 0;
    so.reply_port = tool_port;
    so.log_file = "/dev/null";
    sim::CameraSimulator simulator(so);
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
    WaitingWindows windows;
    link.state.messenger.Attach(&windows);
    link.state.wan_mode = true;
    if (!link.receiver.Start())
        Fail("cannot bind the tool port");

    ApplyResult result;
    // Discovery first; a burst whose replies overflowed is simply repeated.
    while (!AllFiled(link.state.registry, cameras)) {
        if (++result.bursts > 5)
            Fail("the registry never filled");
        link.transmitter.SendDiscoveryBurst();
        for (int i = 0; i < 400 && !AllFiled(link.state.registry, cameras); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // A camera in the middle of the simulator's range.
    const auto all = simulator.Cameras();
    CameraEntry* target = link.state.registry.FindCamera(all[all.size() / 2].mac);
    if (!target)
        Fail("the target camera is not registered");
    link.state.current_camera = target;

    for (int i = 0; i < kWarmUp + applies; ++i) {
        const std::uint64_t before = windows.done();
        const auto start = Clock::now();
        link.transmitter.StartApply();
        if (!windows.WaitPast(before)) {
            ++result.timeouts;
            continue;
        }
        if (i >= kWarmUp)
            result.us.push_back(MsSince(start) * 1000.0);
    }
    // The closing frame leaves before WM_GENERAL_SET_DONE; give the last one time to land.
    for (int i = 0; i < 100 && simulator.Counters().apply_done < std::uint64_t(kWarmUp + applies); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    link.receiver.Stop();
    link.state.messenger.Attach(nullptr);
    simulator.Stop();
    result.apply_done = simulator.Counters().apply_done;
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> fleets{1, 1000};
    int applies = 200;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cameras" && i + 1 < argc) {
            fleets = ParseIntList(argv[++i]);
            if (fleets.empty())
                Fail("--cameras wants a list of positive numbers");
        } else if (arg == "--applies" && i + 1 < argc) {
            applies = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "-h" || arg == "--help") {
            std::printf("bench_apply [--cameras 1,1000] [--applies 200]\n");
            return 0;
        } else {
            Fail("unknown argument " + arg);
        }
    }

    std::printf("Full apply sequence (StartApply to WM_GENERAL_SET_DONE: 3 records out, 3 acknowledgements in, "
                "closing frame out), %d applies after %d warm-up, microseconds.\n\n",
                applies, kWarmUp);
    std::printf("| cameras registered | median | p10 | p90 | p99 | min | max | timeouts | closing frames seen |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (int cameras : fleets) {
        const ApplyResult r = Run(cameras, applies);
        std::printf("| %d | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %d | %llu/%d |\n", cameras, Median(r.us),
                    Percentile(r.us, 10), Percentile(r.us, 90), Percentile(r.us, 99), Min(r.us), Max(r.us),
                    r.timeouts, (unsigned long long)r.apply_done, kWarmUp + applies);
        std::fflush(stdout);
    }
    return 0;
}
