// vantoro's writes when answers come late, twice or out of order, and when
// Ctrl+C arrives in the middle: a camera either holds exactly what was asked
// and the command says so, or the command names the failure.

#include "cli_test_support.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>

namespace vantoro::cli::testing {
namespace {

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The simulator's options with --wait and --timeout of the case's own.
std::vector<std::string> CommandWith(const SimulatedCameras& sim, std::vector<std::string> args, int wait_ms,
                                     int timeout_ms)
{
    std::vector<std::string> command = sim.Command(std::move(args), timeout_ms);
    const auto wait = std::find(command.begin(), command.end(), "--wait");
    *(wait + 1) = std::to_string(wait_ms);
    return command;
}

// The line of the output that starts with the camera's MAC in table form; empty when none.
std::string LineOf(const std::string& out, int camera)
{
    char mac[18];
    std::snprintf(mac, sizeof mac, "00 0A 0B 00 00 %02X", unsigned(camera) & 0xFFu);
    for (std::size_t start = 0; start < out.size();) {
        const std::size_t end = std::min(out.find('\n', start), out.size());
        if (out.compare(start, 17, mac) == 0)
            return out.substr(start, end - start);
        start = end + 1;
    }
    return {};
}

sim::CameraRecords WithEthernetIp(sim::CameraRecords records, std::uint32_t address)
{
    GeneralConfig(records.general.data()).set_ethernet_ip(address);
    return records;
}

bool SameRecords(const sim::CameraRecords& stored, sim::CameraRecords expected)
{
    // The camera keeps each record with its reply code and the reply_mode sent (0 in WAN mode).
    const std::pair<Frame*, std::uint32_t> records[] = {{&expected.general, CMD_GENERAL_REPLY},
                                                        {&expected.user, CMD_USER_REPLY},
                                                        {&expected.domain, CMD_DOMAIN_REPLY}};
    for (const auto& [frame, code] : records) {
        SetFrameCommand(*frame, code);
        SetFrameReplyMode(*frame, 0);
    }
    return stored.general == expected.general && stored.user == expected.user && stored.domain == expected.domain;
}

TEST(CliWriteSafety, AnswersAroundTheTimeoutAndWaitNeverGiveAFalseSuccess)
{
    struct Case {
        const char* name;
        int delay_ms, jitter_ms;
        double duplicate;
        int wait_ms, timeout_ms;
        int cameras; // 1: set the first; more: apply to each
    };
    // Answers later than a burst's share of the wait arrive while the records
    // are being sent; answers later than the timeout cross the resent steps.
    const Case cases[] = {
        {"answers after the timeout, within the wait", 210, 0, 0.0, 300, 200, 1},
        {"answers just over the timeout", 90, 0, 0.0, 300, 50, 1},
        {"jitter over the wait, duplicates", 0, 250, 0.5, 300, 200, 1},
        {"a batch with jitter and duplicates", 40, 120, 0.5, 300, 100, 3},
    };
    int failures_named = 0, successes = 0;
    for (const Case& c : cases) {
        for (std::uint64_t seed = 1; seed <= 4; ++seed) {
            sim::SimOptions o;
            o.delay_ms = c.delay_ms;
            o.jitter_ms = c.jitter_ms;
            o.duplicate = c.duplicate;
            o.seed = seed;
            SimulatedCameras sim(c.cameras, o);
            const auto before = sim.Cameras();
            ScratchDir dir;
            std::vector<std::string> args;
            if (c.cameras == 1) {
                args = {"set", MacArg(1), "--login", "admin", "--force", "--ethernet-ip", "10.9.9." + std::to_string(seed)};
            } else {
                std::string csv = "mac,ethernet_ip\n";
                for (int k = 1; k <= c.cameras; ++k)
                    csv += MacArg(k) + ",10.9." + std::to_string(k) + "." + std::to_string(seed) + "\n";
                std::ofstream(dir.File("plan.csv")) << csv;
                args = {"apply", dir.File("plan.csv"), "--login", "admin", "--force"};
            }
            const RunResult r = RunVantoro(CommandWith(sim, args, c.wait_ms, c.timeout_ms), kAdmin);
            // Let answers still on their way land before the state is read.
            std::this_thread::sleep_for(std::chrono::milliseconds(c.delay_ms + c.jitter_ms + 50));
            const auto after = sim.Cameras();
            const std::string where = std::string(c.name) + ", seed " + std::to_string(seed) + ":\n" + r.out + r.err;
            bool all_exact = true;
            for (int k = 0; k < c.cameras; ++k) {
                const std::uint32_t asked = c.cameras == 1 ? 0x0A090900u + std::uint32_t(seed)
                                                           : 0x0A090000u | std::uint32_t(k + 1) << 8 | std::uint32_t(seed);
                const bool exact = SameRecords(after[std::size_t(k)].records,
                                               WithEthernetIp(before[std::size_t(k)].records, asked));
                all_exact &= exact;
                // A camera reported applied holds exactly what was asked.
                if (Contains(LineOf(r.out, k + 1), "applied")) {
                    EXPECT_TRUE(exact) << "camera " << k + 1 << " reported applied but holds something else; " << where;
                }
            }
            if (r.exit == 0) {
                EXPECT_TRUE(all_exact) << where;
                ++successes;
            } else {
                EXPECT_EQ(r.exit, 1) << where;
                EXPECT_TRUE(Contains(r.out, "no acknowledgement at step") || Contains(r.out, "failed") ||
                            Contains(r.err, "did not"))
                    << "a failure without its name; " << where;
                ++failures_named;
            }
        }
    }
    EXPECT_GT(successes, 0) << "no run succeeded: the cases prove nothing about false success";
}

TEST(CliWriteSafety, CtrlCDuringWritesFinishesTheCameraInProgressAndStartsNoOther)
{
    sim::SimOptions o;
    o.delay_ms = 300; // each step takes 0.3 s: a Ctrl+C lands inside the first camera's sequence
    SimulatedCameras sim(3, o);
    const auto before = sim.Cameras();
    ScratchDir dir;
    struct Run {
        std::vector<std::string> args;
        std::uint32_t first_address; // what the first camera holds afterwards
    };
    std::ofstream(dir.File("plan.csv")) << "mac,ethernet_ip\n"
                                        << MacArg(1) << ",10.9.8.1\n"
                                        << MacArg(2) << ",10.9.8.2\n"
                                        << MacArg(3) << ",10.9.8.3\n";
    const Run runs[] = {
        {{"set", MacArg(1), "--login", "admin", "--force", "--ethernet-ip", "10.9.9.1", "--add-user", "bob"}, 0x0A090901u},
        {{"apply", dir.File("plan.csv"), "--login", "admin", "--force", "--report", dir.File("report.json")}, 0x0A090801u},
    };
    for (const Run& run : runs) {
        const auto sets_before = sim.Counters().set_requests;
        VantoroProcess process(CommandWith(sim, run.args, 1000, 2000),
                               {"VANTORO_PASSWORD=admin", "VANTORO_NEW_PASSWORD=bobs"});
        // Ctrl+C once the first record has gone out, while its acknowledgement is on its way.
        for (int i = 0; i < 1000 && sim.Counters().set_requests == sets_before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(process.pid(), SIGINT);
        const RunResult r = process.Wait();
        EXPECT_EQ(r.exit, 130) << run.args[0] << ": " << r.out << r.err;
        EXPECT_TRUE(Contains(r.err, "interrupted")) << r.err;
        auto after = sim.Cameras();
        // The first camera finished its whole sequence: its new address and, for set, the new user.
        EXPECT_EQ(GeneralConfig(after[0].records.general.data()).ethernet_ip(), run.first_address) << run.args[0];
        EXPECT_TRUE(Contains(r.out, "00 0A 0B 00 00 01  applied")) << r.out;
        if (run.args[0] == "set") {
            EXPECT_GE(UserConfigReader(after[0].records.user.data()).FindLogin("bob", "bobs"), 0);
            continue;
        }
        // The others were not started, and both the output and the report say so.
        for (int k = 1; k < 3; ++k)
            EXPECT_TRUE(SameRecords(after[std::size_t(k)].records, before[std::size_t(k)].records)) << k + 1;
        EXPECT_TRUE(Contains(r.out, "00 0A 0B 00 00 03  not started")) << r.out;
        EXPECT_TRUE(Contains(r.out, "2 not started")) << r.out;
        const auto report = nlohmann::json::parse(ReadText(dir.File("report.json")));
        EXPECT_EQ(report["results"][2]["result"], "not started") << report.dump();
        EXPECT_EQ(report["summary"]["applied"], 1) << report.dump();
    }
}

TEST(CliWriteSafety, AnUnwritableReportIsRefusedBeforeAnythingIsSent)
{
    SimulatedCameras sim(1);
    ScratchDir dir;
    std::ofstream(dir.File("plan.csv")) << "mac,ethernet_ip\n" << MacArg(1) << ",10.9.9.1\n";
    const RunResult r = RunVantoro(
        sim.Command({"apply", dir.File("plan.csv"), "--login", "admin", "--report", dir.File("no/such/dir/r.json")}),
        kAdmin);
    EXPECT_EQ(r.exit, 2) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "cannot write the report")) << r.err;
    EXPECT_EQ(sim.Counters().received, 0u);
}

} // namespace
} // namespace vantoro::cli::testing
