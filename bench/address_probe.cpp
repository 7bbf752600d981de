// What set, apply and import pay for the live-address check, timed: a plan of
// N cameras on one interface, each moving to an address it does not have, is
// checked with the ARP prober (every address probed). All addresses go out in
// one probe, so the time should stay near the listening time for any N.
//
//   bench_address_probe [--interface eth0] [--counts 1,10,100,1000] [--runs 3]
//
// ARP leaves through a real interface: run it only inside a network namespace
// made for it (bench/address-probe does that), never on this machine's LAN.
// The plan's cameras stand at 10.77.16.0 + i and move to 10.77.32.0 + i; the
// namespace's LAN may hold some of those addresses, and their answers are
// counted.

#include "bench/bench_support.h"

#include "link/records.h"
#include "net/net_interfaces.h"
#include "ops/address_checks.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace vantoro;
using namespace vantoro::bench;

namespace {

[[noreturn]] void Fail(const std::string& why)
{
    std::fprintf(stderr, "bench_address_probe: %s\n", why.c_str());
    std::exit(2);
}

constexpr std::uint32_t kFrom = 0x0A4D1000; // 10.77.16.0
constexpr std::uint32_t kTo = 0x0A4D2000;   // 10.77.32.0

} // namespace

int main(int argc, char** argv)
{
    std::string interface = "eth0";
    std::vector<int> counts = {1, 10, 100, 1000};
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--interface")
            interface = value;
        else if (name == "--counts")
            counts = ParseIntList(value);
        else if (name == "--runs")
            runs = std::stoi(value);
        else
            Fail("unknown option " + name);
    }
    const unsigned index = InterfaceIndex(interface);
    if (index == 0)
        Fail("no interface " + interface);
    const ArpProbeTiming timing;
    std::printf("| cameras in the plan | addresses probed | answers heard | check, ms (median of %d) | "
                "check / listening time |\n|---:|---:|---:|---:|---:|\n",
                runs);
    for (int n : counts) {
        std::vector<CameraSnapshot> found;
        std::vector<ops::PlannedNetwork> plan;
        for (int i = 0; i < n; ++i) {
            CameraSnapshot c;
            c.mac = {0x00, 0x0A, 0x0B, 0x00, std::uint8_t(i >> 8), std::uint8_t(i)};
            c.answer_interface = index;
            c.general.emplace();
            GeneralConfig g(c.general->data());
            g.set_ethernet_ip(kFrom + std::uint32_t(i));
            g.set_ethernet_mask(0xFFFF0000);
            Frame after = *c.general;
            GeneralConfig(after.data()).set_ethernet_ip(kTo + std::uint32_t(i));
            plan.push_back(ops::PlanOf(c, after));
            found.push_back(c);
        }
        ops::AddressCheckOptions options;
        options.interfaces = {{index, interface, {}}};
        std::vector<double> times;
        std::size_t answers = 0;
        for (int r = 0; r < runs; ++r) {
            ArpProber prober(timing);
            const auto start = Clock::now();
            const auto report = ops::CheckAddressPlan(plan, found, options, prober);
            times.push_back(MsSince(start));
            answers = report.problems.size();
            for (const std::string& note : report.notes)
                Fail(note); // every address must have been probed
        }
        std::printf("| %d | %d | %zu | %.0f | %.2f |\n", n, n, answers, Median(times),
                    Median(times) / timing.listen_ms);
    }
    return 0;
}
