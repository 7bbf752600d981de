// vantoro's writes when answers come late, twice or out of order, and when
// Ctrl+C arrives in the middle: a camera either holds exactly what was asked
// and the command says so, or the command names the failure.

#include "cli_test_support.h"
#include "util/mac_text.h"
#include "util/strict_address.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
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

// The last line of the output that starts with the camera's MAC in table
// form (set's result follows its change lines); empty when none.
std::string LineOf(const std::string& out, int camera)
{
    char mac[18];
    std::snprintf(mac, sizeof mac, "00 0A 0B 00 00 %02X", unsigned(camera) & 0xFFu);
    std::string line;
    for (std::size_t start = 0; start < out.size();) {
        const std::size_t end = std::min(out.find('\n', start), out.size());
        if (out.compare(start, 17, mac) == 0)
            line = out.substr(start, end - start);
        start = end + 1;
    }
    return line;
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
        double loss = 0.0;
        int parallel = 1; // apply's cameras in flight at once
        std::uint64_t seeds = 4;
    };
    // Answers later than a burst's share of the wait arrive while the records
    // are being sent; answers later than the timeout cross the resent steps.
    // In parallel, every camera's answers cross every other's.
    const Case cases[] = {
        {"answers after the timeout, within the wait", 210, 0, 0.0, 300, 200, 1},
        {"answers just over the timeout", 90, 0, 0.0, 300, 50, 1},
        {"jitter over the wait, duplicates", 0, 250, 0.5, 300, 200, 1},
        {"a batch with jitter and duplicates", 40, 120, 0.5, 300, 100, 3},
        {"in parallel with jitter, duplicates and loss", 20, 80, 0.3, 300, 100, 12, 0.1, 6, 8},
        {"all in flight at once with jitter, duplicates and loss", 0, 60, 0.3, 300, 50, 12, 0.15, 16, 8},
    };
    int failures_named = 0, successes = 0;
    for (const Case& c : cases) {
        for (std::uint64_t seed = 1; seed <= c.seeds; ++seed) {
            sim::SimOptions o;
            o.delay_ms = c.delay_ms;
            o.jitter_ms = c.jitter_ms;
            o.duplicate = c.duplicate;
            o.loss = c.loss;
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
                args = {"apply", dir.File("plan.csv"), "--login", "admin", "--force", "--parallel", std::to_string(c.parallel)};
            }
            const RunResult r = RunVantoro(CommandWith(sim, args, c.wait_ms, c.timeout_ms), kAdmin);
            // Let answers still on their way land before the state is read.
            std::this_thread::sleep_for(std::chrono::milliseconds(c.delay_ms + c.jitter_ms + 50));
            const auto after = sim.Cameras();
            const std::string where = std::string(c.name) + ", seed " + std::to_string(seed) + ":\n" + r.out + r.err;
            // No camera's record reached another camera: each set frame named a camera of the simulator.
            EXPECT_EQ(sim.Counters().sets_unmatched, 0u) << where;
            bool all_exact = true;
            for (int k = 0; k < c.cameras; ++k) {
                const std::uint32_t asked = c.cameras == 1 ? 0x0A090900u + std::uint32_t(seed)
                                                           : 0x0A090000u | std::uint32_t(k + 1) << 8 | std::uint32_t(seed);
                const bool exact = SameRecords(after[std::size_t(k)].records,
                                               WithEthernetIp(before[std::size_t(k)].records, asked));
                all_exact &= exact;
                // A camera reported verified holds exactly what was asked.
                const std::string line = LineOf(r.out, k + 1);
                if (Contains(line, "  verified")) {
                    EXPECT_TRUE(exact) << "camera " << k + 1 << " reported verified but holds something else; " << where;
                } else {
                    EXPECT_TRUE(Contains(line, "no acknowledgement at step") || Contains(line, "mismatch  ") ||
                                Contains(line, "unverified: ") || Contains(line, "not found") ||
                                (line.empty() && Contains(r.err, "did not")))
                        << "camera " << k + 1 << " neither verified nor named as failed; " << where;
                }
            }
            if (r.exit == 0) {
                EXPECT_TRUE(all_exact) << where;
                ++successes;
            } else {
                EXPECT_EQ(r.exit, 1) << where;
                EXPECT_TRUE(Contains(r.out, "no acknowledgement at step") || Contains(r.out, "failed") ||
                            Contains(r.out, "mismatch") || Contains(r.out, "unverified") || Contains(r.err, "did not"))
                    << "a failure without its name; " << where;
                ++failures_named;
            }
        }
    }
    EXPECT_GT(successes, 0) << "no run succeeded: the cases prove nothing about false success";
}

TEST(CliWriteSafety, OnlyAnswersToItsOwnVerificationSearchCanMakeAMismatch)
{
    // Answers jittered well past the search's wait and --verify-wait: late
    // answers to the first search, showing the records as they were, land
    // while the cameras are verified. They must never be taken for the
    // cameras' answers to their verification: at worst a camera is
    // unverified. A camera that kept its old record is still a mismatch.
    struct Case {
        const char* name;
        bool forget_general; // acknowledges its general record, keeps the old one
        int verify_wait_ms;
        const char* expected; // every camera's result
        int cameras, parallel;
        std::uint64_t seeds;
    };
    // One at a time, each camera's verification searches are answered by the
    // next camera before its write, and those answers come late.
    const Case cases[] = {
        {"kept the write, verify wait under the jitter", false, 150, nullptr, 20, 1, 2},
        {"kept the old record", true, 3000, "mismatch", 10, 10, 1},
    };
    for (const Case& c : cases) {
        const int kCameras = c.cameras;
        for (std::uint64_t seed = 1; seed <= c.seeds; ++seed) {
            sim::SimOptions o;
            o.jitter_ms = 400;
            o.seed = seed;
            o.forget[int(sim::RecordKind::General)] = c.forget_general;
            SimulatedCameras sim(kCameras, o);
            ScratchDir dir;
            std::string csv = "mac,gateway\n";
            for (int k = 1; k <= kCameras; ++k)
                csv += MacArg(k) + ",10.8." + std::to_string(k) + "." + std::to_string(seed) + "\n";
            std::ofstream(dir.File("plan.csv")) << csv;
            const RunResult r = RunVantoro(
                CommandWith(sim,
                            {"apply", dir.File("plan.csv"), "--login", "admin", "--force", "--parallel",
                             std::to_string(c.parallel),
                             "--verify-wait", std::to_string(c.verify_wait_ms)},
                            500, 1000),
                kAdmin);
            const std::string where = std::string(c.name) + ", seed " + std::to_string(seed) + ":\n" + r.out + r.err;
            for (int k = 1; k <= kCameras; ++k) {
                const std::string line = LineOf(r.out, k);
                if (c.expected)
                    EXPECT_TRUE(Contains(line, std::string("  ") + c.expected)) << "camera " << k << "; " << where;
                else
                    EXPECT_TRUE(Contains(line, "  verified") || Contains(line, "  unverified: "))
                        << "camera " << k << "; " << where;
            }
        }
    }
}

TEST(CliWriteSafety, ACameraReportedFailedNeverReceivesTheClosingFrame)
{
    // Acknowledgements around the timeout and no resend: some arrive after
    // their step was given up. None of them may drive the sequence on.
    constexpr int kCameras = 20;
    int failed_at_general = 0;
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
        ScratchDir dir;
        sim::SimOptions o;
        o.delay_ms = 150;
        o.jitter_ms = 150;
        o.seed = seed;
        o.log_file = dir.File("sim.log");
        SimulatedCameras sim(kCameras, o);
        std::string csv = "mac,ethernet_ip\n";
        for (int k = 1; k <= kCameras; ++k)
            csv += MacArg(k) + ",10.9." + std::to_string(k) + ".1\n";
        std::ofstream(dir.File("plan.csv")) << csv;
        auto command =
            CommandWith(sim, {"apply", dir.File("plan.csv"), "--login", "admin", "--force", "--parallel", "20"}, 1000, 250);
        *(std::find(command.begin(), command.end(), "--retries") + 1) = "0";
        const RunResult r = RunVantoro(command, kAdmin);
        std::this_thread::sleep_for(std::chrono::milliseconds(400)); // late acknowledgements land
        const std::string log = ReadText(dir.File("sim.log"));
        const std::string where = "seed " + std::to_string(seed) + ":\n" + r.out + r.err;
        for (int k = 1; k <= kCameras; ++k) {
            const std::string line = LineOf(r.out, k);
            failed_at_general += Contains(line, "no acknowledgement at step general");
            if (Contains(line, "no acknowledgement at step")) {
                EXPECT_FALSE(Contains(log, "apply done for " + MacArg(k))) << "camera " << k << "; " << where;
            }
        }
    }
    EXPECT_GT(failed_at_general, 0) << "no camera failed at the last step: the case proves nothing";
}

TEST(CliWriteSafety, CtrlCDuringWritesFinishesTheCamerasInFlightAndStartsNoOther)
{
    sim::SimOptions o;
    o.delay_ms = 300; // each step takes 0.3 s: a Ctrl+C lands inside the first cameras' sequences
    SimulatedCameras sim(4, o);
    const auto before = sim.Cameras();
    ScratchDir dir;
    struct Run {
        std::vector<std::string> args;
        int in_flight; // cameras whose sequences had started
    };
    std::ofstream(dir.File("plan.csv")) << "mac,ethernet_ip\n"
                                        << MacArg(1) << ",10.9.8.1\n"
                                        << MacArg(2) << ",10.9.8.2\n"
                                        << MacArg(3) << ",10.9.8.3\n"
                                        << MacArg(4) << ",10.9.8.4\n";
    const Run runs[] = {
        {{"set", MacArg(1), "--login", "admin", "--force", "--ethernet-ip", "10.9.9.1", "--add-user", "bob"}, 1},
        {{"apply", dir.File("plan.csv"), "--login", "admin", "--force", "--report", dir.File("report.json"), "--parallel", "1"}, 1},
        {{"apply", dir.File("plan.csv"), "--login", "admin", "--force", "--report", dir.File("report.json"), "--parallel", "2"}, 2},
    };
    for (const Run& run : runs) {
        const auto sets_before = sim.Counters().set_requests;
        VantoroProcess process(CommandWith(sim, run.args, 1000, 2000),
                               {"VANTORO_PASSWORD=admin", "VANTORO_NEW_PASSWORD=bobs"});
        // Ctrl+C once the first records have gone out, while their acknowledgements are on their way.
        for (int i = 0; i < 1000 && sim.Counters().set_requests < sets_before + std::uint64_t(run.in_flight); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(process.pid(), SIGINT);
        const RunResult r = process.Wait();
        const std::string where = run.args[0] + " " + run.args.back() + ":\n" + r.out + r.err;
        EXPECT_EQ(r.exit, 130) << where;
        EXPECT_TRUE(Contains(r.err, "interrupted")) << r.err;
        auto after = sim.Cameras();
        // The cameras in flight finished their whole sequences, and were searched again.
        for (int k = 0; k < run.in_flight; ++k) {
            const std::uint32_t asked = run.args[0] == "set" ? 0x0A090901u : 0x0A090801u + std::uint32_t(k);
            EXPECT_EQ(GeneralConfig(after[std::size_t(k)].records.general.data()).ethernet_ip(), asked) << where;
            EXPECT_TRUE(Contains(r.out, MacTableText(*ParseMac(MacArg(k + 1))) + "  verified")) << where;
        }
        if (run.args[0] == "set") {
            EXPECT_GE(UserConfigReader(after[0].records.user.data()).FindLogin("bob", "bobs"), 0);
            continue;
        }
        // The others were not started, and both the output and the report say so.
        for (int k = run.in_flight; k < 4; ++k) {
            EXPECT_TRUE(SameRecords(after[std::size_t(k)].records, before[std::size_t(k)].records)) << k + 1;
            EXPECT_TRUE(Contains(LineOf(r.out, k + 1), "not started")) << where;
        }
        EXPECT_TRUE(Contains(r.out, std::to_string(4 - run.in_flight) + " not started")) << where;
        const auto report = nlohmann::json::parse(ReadText(dir.File("report.json")));
        EXPECT_EQ(report["results"][3]["result"], "not started") << report.dump();
        EXPECT_EQ(report["summary"]["applied"], run.in_flight) << report.dump();
        EXPECT_EQ(report["summary"]["verified"], run.in_flight) << report.dump();
        // Back to the start for the next run.
        for (int k = 0; k < run.in_flight; ++k)
            ASSERT_EQ(RunVantoro(CommandWith(sim, {"set", MacArg(k + 1), "--login", "admin", "--ethernet-ip",
                                                   AddressText(GeneralConfigReader(before[std::size_t(k)].records.general.data()).ethernet_ip())},
                                             1000, 2000),
                                 kAdmin)
                          .exit,
                      0);
    }
}

// The cameras whose general record the simulator stored, in the order it did.
std::vector<int> GeneralStores(const std::string& log)
{
    std::vector<int> order;
    const std::string mark = "stored general record of 00:0a:0b:00:00:";
    for (std::size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1))
        order.push_back(std::stoi(log.substr(at + mark.size(), 2), nullptr, 16));
    return order;
}

TEST(CliWriteSafety, DependentMovesWaitForTheCameraLeavingAndRingsPassThroughTheSpare)
{
    // Cameras 1, 2 and 3 are at 192.168.1.10, .11 and .12.
    struct Case {
        const char* name;
        const char* rows;
        std::vector<std::string> extra;
        bool forget_general = false;
        bool interrupt = false; // Ctrl+C while the first camera is written
        int exit;
        std::vector<std::pair<int, std::string>> lines; // camera, what its line holds
        std::string err;
        std::vector<int> stores; // cameras whose general record was stored, in order
        std::vector<std::uint32_t> after; // cameras 1 and 2's addresses at the end
    };
    const std::uint32_t a10 = 0xC0A8010A, a11 = 0xC0A8010B, spare = 0xC0A80132, a60 = 0xC0A8013C;
    const Case cases[] = {
        {"a swap without a spare", "1,192.168.1.11\n2,192.168.1.10\n", {}, false, false, 2, {},
         "take each other's addresses in a ring", {}, {a10, a11}},
        {"a swap through the spare", "1,192.168.1.11\n2,192.168.1.10\n", {"--spare", "192.168.1.50"}, false, false, 0,
         {{1, "verified"}, {2, "verified"}}, "", {1, 2, 1}, {a11, a10}},
        {"a spare another camera holds", "1,192.168.1.11\n2,192.168.1.10\n", {"--spare", "192.168.1.12"}, false,
         false, 2, {}, "the spare address 192.168.1.12 is held by camera 00 0A 0B 00 00 03", {}, {a10, a11}},
        {"dependent moves without verification", "1,192.168.1.11\n2,192.168.1.60\n", {"--no-verify"}, false, false,
         2, {}, "leave out --no-verify", {}, {a10, a11}},
        {"the camera leaving keeps its address", "1,192.168.1.11\n2,192.168.1.60\n", {}, true, false, 1,
         {{1, "not started: waited for camera 00 0A 0B 00 00 02 to leave 192.168.1.11, which is not verified at its "
              "new address"},
          {2, "mismatch"}},
         "", {}, {a10, a11}},
        {"a stop while the first camera moves to the spare", "1,192.168.1.11\n2,192.168.1.10\n",
         {"--spare", "192.168.1.50"}, false, true, 130,
         {{1, "failed: left at the spare address 192.168.1.50: the run stopped before it moved on"}, {2, "not started"}},
         "", {1}, {spare, a11}},
        {"a chain in order", "1,192.168.1.11\n2,192.168.1.60\n", {}, false, false, 0,
         {{1, "verified"}, {2, "verified"}}, "", {2, 1}, {a11, a60}},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        sim::SimOptions o;
        o.forget[int(sim::RecordKind::General)] = c.forget_general;
        o.log_file = dir.File("sim.log");
        if (c.interrupt)
            o.delay_ms = 300; // a Ctrl+C lands inside the first camera's sequence
        SimulatedCameras sim(3, o);
        std::string csv = "mac,ethernet_ip\n";
        for (const char* row = c.rows; *row;) {
            const char* end = std::strchr(row, '\n');
            csv += MacArg(*row - '0') + std::string(row + 1, end) + "\n";
            row = end + 1;
        }
        std::ofstream(dir.File("plan.csv")) << csv;
        std::vector<std::string> args = {"apply", dir.File("plan.csv"), "--login", "admin", "--parallel", "4"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        VantoroProcess process(CommandWith(sim, args, 1000, 2000),
                               {"VANTORO_PASSWORD=admin", "XDG_STATE_HOME=" + dir.File("state")});
        if (c.interrupt) {
            for (int i = 0; i < 1000 && sim.Counters().set_requests == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ::kill(process.pid(), SIGINT);
        }
        const RunResult r = process.Wait();
        const std::string log = ReadText(dir.File("sim.log"));
        const std::string where = std::string(c.name) + ":\n" + r.out + r.err + log;
        EXPECT_EQ(r.exit, c.exit) << where;
        for (const auto& [camera, text] : c.lines)
            EXPECT_TRUE(Contains(LineOf(r.out, camera), text)) << camera << " " << text << "; " << where;
        EXPECT_TRUE(Contains(r.err, c.err)) << where;
        if (c.exit == 2) {
            EXPECT_EQ(sim.Counters().set_requests, 0u) << where;
        }
        // One camera moves at a time, each after the one leaving its new address.
        EXPECT_EQ(GeneralStores(log), c.stores) << where;
        // Each write a camera acknowledged has its line in the journal, the move to the spare too.
        std::size_t written = 0;
        for (const char* mark : {"stored general record of", "acknowledged general record of"})
            for (std::size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1))
                ++written;
        const std::string journal = ReadText(dir.File("state") + "/vantoro/changes.jsonl");
        EXPECT_EQ(std::size_t(std::count(journal.begin(), journal.end(), '\n')), written) << journal << where;
        const auto after = sim.Cameras();
        for (std::size_t k = 0; k < c.after.size(); ++k)
            EXPECT_EQ(AddressText(GeneralConfigReader(after[k].records.general.data()).ethernet_ip()),
                      AddressText(c.after[k]))
                << "camera " << k + 1 << "; " << where;
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

    // A plan refused after the search: the report says that no camera was started.
    SimulatedCameras two(2);
    std::ofstream(dir.File("same.csv")) << "mac,ethernet_ip\n" << MacArg(1) << ",192.168.1.50\n" << MacArg(2) << ",192.168.1.50\n";
    const RunResult refused = RunVantoro(
        two.Command({"apply", dir.File("same.csv"), "--login", "admin", "--report", dir.File("r.json")}), kAdmin);
    EXPECT_EQ(refused.exit, 2) << refused.out << refused.err;
    EXPECT_TRUE(Contains(refused.err, "ethernet_ip 192.168.1.50")) << refused.err;
    EXPECT_EQ(two.Counters().set_requests, 0u);
    const auto report = nlohmann::json::parse(ReadText(dir.File("r.json")));
    EXPECT_EQ(report["summary"]["not started"], 2) << report.dump();
}

} // namespace
} // namespace vantoro::cli::testing
