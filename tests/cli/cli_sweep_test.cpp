// vantoro sweeping address ranges on loopback, where all of 127.0.0.0/8 is
// local: cameras at addresses of their own on one port, each listed once and
// written to where it answered; the pace of a sweep; Ctrl+C in the middle.

#include "cli_test_support.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace vantoro::cli::testing {
namespace {

using nlohmann::json;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// One simulator per address, all on the camera port the first one got.
class SweepSite {
public:
    struct Camera {
        const char* address;
        int mac; // 1-based; the same number twice is one camera at two addresses
        int delay_ms = 0; // before each answer
        int count = 1; // cameras at this address, MACs from mac on
        double loss = 0.0, duplicate = 0.0; // of each answer
        std::uint64_t seed = 1;
    };
    explicit SweepSite(const std::vector<Camera>& cameras, bool log_requests = false)
    {
        tool_port_ = FreePort();
        for (const Camera& c : cameras) {
            sim::SimOptions o;
            o.first_mac = *ParseMac(MacArg(c.mac));
            o.cameras = c.count;
            o.loss = c.loss;
            o.duplicate = c.duplicate;
            o.seed = c.seed;
            o.bind_address = sim::testing::Loopback(c.address);
            o.port = port_;
            o.reply_port = tool_port_;
            o.delay_ms = c.delay_ms;
            o.log_requests = log_requests;
            o.log_file = log_requests ? log_dir_.File("sim" + std::to_string(sims_.size()) + ".log") : "/dev/null";
            sims_.push_back(std::make_unique<sim::CameraSimulator>(o));
            if (auto error = sims_.back()->Start())
                ADD_FAILURE() << c.address << ": " << *error;
            port_ = sims_.back()->port();
        }
    }
    ~SweepSite()
    {
        for (auto& s : sims_)
            s->Stop();
    }
    std::vector<std::string> Command(std::vector<std::string> args, const std::string& wan) const
    {
        for (const std::string& o : {std::string("--wan"), wan, std::string("--wait"), std::string("400"),
                                     std::string("--timeout"), std::string("500"), std::string("--camera-port"),
                                     std::to_string(port_), std::string("--tool-port"), std::to_string(tool_port_)})
            args.push_back(o);
        return args;
    }
    sim::CameraSimulator& sim(std::size_t k) { return *sims_[k]; }
    std::string log(std::size_t k) const { return ReadText(log_dir_.File("sim" + std::to_string(k) + ".log")); }

private:
    ScratchDir log_dir_;
    std::uint16_t port_ = 0;
    std::uint16_t tool_port_ = 0;
    std::vector<std::unique_ptr<sim::CameraSimulator>> sims_;
};

TEST(CliSweep, EachCameraIsListedOnceAndWrittenWhereItAnswered)
{
    // Camera 3 answers at two addresses.
    SweepSite site({{"127.77.1.5", 1}, {"127.77.1.9", 2}, {"127.77.1.20", 3}, {"127.77.1.21", 3}});
    const RunResult js = RunVantoro(site.Command({"discover", "--format", "json", "--rate", "5000"}, "127.77.1.0/24"));
    ASSERT_EQ(js.exit, 0) << js.err;
    const json cameras = json::parse(js.out).at("cameras");
    ASSERT_EQ(cameras.size(), 3u) << js.out;
    EXPECT_EQ(cameras[0]["address"], "127.77.1.5");
    EXPECT_EQ(cameras[1]["address"], "127.77.1.9");
    EXPECT_TRUE(cameras[2]["address"] == "127.77.1.20" || cameras[2]["address"] == "127.77.1.21") << cameras[2];
    EXPECT_EQ(cameras[2]["mac"], "00:0a:0b:00:00:03");
    // Listed once, as a MAC that answered from two addresses.
    EXPECT_EQ(cameras[2]["mac_conflict"], json({"127.77.1.20", "127.77.1.21"})) << cameras[2];
    EXPECT_EQ(cameras[0]["mac_conflict"], json::array()) << cameras[0];

    const RunResult table = RunVantoro(site.Command({"discover", "--rate", "5000"}, "127.77.1.1-127.77.1.10"));
    ASSERT_EQ(table.exit, 0) << table.err;
    EXPECT_TRUE(Contains(table.out, "ANSWERED FROM")) << table.out;
    EXPECT_TRUE(Contains(table.out, "00 0A 0B 00 00 02  127.77.1.9 ")) << table.out;
    EXPECT_TRUE(Contains(table.out, "2 cameras answered")) << table.out;

    // set finds camera 2 by sweeping, and its records go to 127.77.1.9 only.
    const auto before = site.sim(1).Cameras();
    const RunResult set = RunVantoro(
        site.Command({"set", MacArg(2), "--login", "admin", "--force", "--gateway", "10.1.2.254"}, "127.77.1.0/24"), kAdmin);
    ASSERT_EQ(set.exit, 0) << set.out << set.err;
    sim::CameraRecords expected = before[0].records;
    GeneralConfig(expected.general.data()).set_gateway(0x0A0102FE);
    ExpectRecords(site.sim(1).Cameras()[0].records, expected);

    // apply reads its targets from a file as well, and writes camera 1 at 127.77.1.5.
    ScratchDir dir;
    std::ofstream(dir.File("site.txt")) << "# the cameras' subnet\n127.77.1.0/28\n\n127.77.1.16-127.77.1.31\n";
    std::ofstream(dir.File("plan.csv")) << "mac,server\n" << MacArg(1) << ",off\n";
    std::vector<std::string> apply = site.Command({"apply", dir.File("plan.csv"), "--login", "admin", "--targets",
                                                   dir.File("site.txt")},
                                                  "127.77.1.200");
    const RunResult applied = RunVantoro(apply, kAdmin);
    ASSERT_EQ(applied.exit, 0) << applied.out << applied.err;
    EXPECT_TRUE(GeneralConfigReader(site.sim(0).Cameras()[0].records.general.data()).server_on() == false);

    EXPECT_EQ(site.sim(0).Counters().set_requests, 3u);
    EXPECT_EQ(site.sim(1).Counters().set_requests, 3u);
    for (std::size_t k : {2u, 3u})
        EXPECT_EQ(site.sim(k).Counters().set_requests, 0u) << "records reached another camera's address";

    // Both in flight at once: each camera's records, closing frame included,
    // still go only to the address it answered from.
    std::ofstream(dir.File("both.csv")) << "mac,gateway\n" << MacArg(1) << ",10.7.7.1\n" << MacArg(2) << ",10.7.7.2\n";
    const RunResult both = RunVantoro(
        site.Command({"apply", dir.File("both.csv"), "--login", "admin", "--force", "--parallel", "2"}, "127.77.1.0/27"), kAdmin);
    ASSERT_EQ(both.exit, 0) << both.out << both.err;
    EXPECT_TRUE(Contains(both.out, "2 cameras: 2 verified")) << both.out;
    for (std::size_t k : {0u, 1u}) {
        EXPECT_EQ(site.sim(k).Counters().set_requests, 6u) << k;
        EXPECT_EQ(site.sim(k).Counters().sets_unmatched, 0u) << "another camera's record reached " << k;
        EXPECT_EQ(site.sim(k).Counters().apply_done, 2u) << k;
        EXPECT_EQ(GeneralConfigReader(site.sim(k).Cameras()[0].records.general.data()).gateway(), 0x0A070701u + k);
    }
    for (std::size_t k : {2u, 3u})
        EXPECT_EQ(site.sim(k).Counters().set_requests, 0u) << "records reached another camera's address";
}

TEST(CliSweep, AFleetWhoseQuarterLosesAnswersEndsExactlyAsPlannedOrNamesEachFailure)
{
    // 24 cameras answer every time; 8 more, at their own address, lose a
    // quarter of their answers and double some. No --parallel: the window
    // finds its own size, and halves as steps are resent. A sweep searches
    // each address once, so a lossy camera may also go unfound.
    constexpr int kCameras = 32, kLossy = 8;
    SweepSite site({{"127.77.8.1", 1, 20, kCameras - kLossy}, {"127.77.8.2", kCameras - kLossy + 1, 20, kLossy, 0.25, 0.2, 7}});
    std::vector<sim::VirtualCamera> before = site.sim(0).Cameras(), lossy = site.sim(1).Cameras();
    before.insert(before.end(), lossy.begin(), lossy.end());
    ScratchDir dir;
    std::string csv = "mac,gateway\n";
    for (int k = 1; k <= kCameras; ++k)
        csv += MacArg(k) + ",10.6.6." + std::to_string(k) + "\n";
    std::ofstream(dir.File("plan.csv")) << csv;
    const RunResult r = RunVantoro(
        site.Command({"apply", dir.File("plan.csv"), "--login", "admin", "--force", "--report", dir.File("report.json")},
                     "127.77.8.1-127.77.8.2"),
        kAdmin);
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // answers still on their way land
    std::vector<sim::VirtualCamera> after = site.sim(0).Cameras();
    lossy = site.sim(1).Cameras();
    after.insert(after.end(), lossy.begin(), lossy.end());
    const std::string where = r.out + r.err;
    const json report = json::parse(ReadText(dir.File("report.json")));
    ASSERT_EQ(report["results"].size(), std::size_t(kCameras)) << where;
    bool all_verified = true;
    int lossy_verified = 0;
    for (int k = 0; k < kCameras; ++k) {
        const json& result = report["results"][std::size_t(k)];
        const std::uint32_t gateway = GeneralConfigReader(after[std::size_t(k)].records.general.data()).gateway();
        const std::uint32_t was = GeneralConfigReader(before[std::size_t(k)].records.general.data()).gateway();
        // Another camera's values never: its own plan, or what it held.
        EXPECT_TRUE(gateway == 0x0A060600u + std::uint32_t(k + 1) || gateway == was) << "camera " << k + 1 << "; " << where;
        if (result["verified"] == true) {
            sim::CameraRecords expected = before[std::size_t(k)].records;
            GeneralConfig(expected.general.data()).set_gateway(0x0A060600u + std::uint32_t(k + 1));
            ExpectRecords(after[std::size_t(k)].records, expected);
            lossy_verified += k >= kCameras - kLossy;
        } else {
            all_verified = false;
            const std::string detail = result["detail"].is_string() ? result["detail"].get<std::string>() : "";
            EXPECT_TRUE(Contains(detail, "no acknowledgement at step") || Contains(detail, "did not answer again") ||
                        Contains(detail, "late answers") || result["mismatches"].size() > 0 ||
                        (result["result"] == "not found" && Contains(detail, "did not send all three records")))
                << "camera " << k + 1 << " neither verified nor its failure named; " << where;
        }
    }
    for (std::size_t s : {0u, 1u})
        EXPECT_EQ(site.sim(s).Counters().sets_unmatched, 0u) << "a record reached a camera it did not name; " << where;
    EXPECT_EQ(r.exit, all_verified ? 0 : 1) << where;
    EXPECT_GT(lossy_verified, 0) << "no lossy camera was written: the case proves nothing; " << where;
    // What the pace did is said: in the report, and on the summary line.
    const json& summary = report["summary"];
    EXPECT_GE(summary["peak window"].get<int>(), 16) << where;
    EXPECT_GT(summary["resent steps"].get<int>(), 0) << "nothing was resent: the case proves nothing; " << where;
    EXPECT_TRUE(Contains(r.out, "; peak window " + std::to_string(summary["peak window"].get<int>()) + ", " +
                                    std::to_string(summary["resent steps"].get<int>()) + " resent steps"))
        << where;
}

TEST(CliSweep, AMacThatAnswersFromTwoAddressesIsAConflictAndIsWrittenOnlyWhenWanNamesOne)
{
    // One MAC at two addresses (a clone, or one camera reached two ways).
    // Both answer late, so each search hears both before it settles.
    SweepSite site({{"127.77.6.1", 5, 200}, {"127.77.6.2", 5, 200}, {"127.77.6.3", 6, 200}});
    const std::string both = "127.77.6.1-127.77.6.3";
    const RunResult js = RunVantoro(site.Command({"discover", "--format", "json"}, both));
    ASSERT_EQ(js.exit, 0) << js.err;
    const json cameras = json::parse(js.out).at("cameras");
    ASSERT_EQ(cameras.size(), 2u) << "one line per MAC\n" << js.out;
    EXPECT_EQ(cameras[0]["mac_conflict"], json({"127.77.6.1", "127.77.6.2"})) << cameras[0];
    EXPECT_EQ(cameras[1]["mac_conflict"], json::array()) << cameras[1];
    const RunResult csv = RunVantoro(site.Command({"discover", "--format", "csv"}, both));
    EXPECT_TRUE(Contains(csv.out, ",mac_conflict\r\n")) << csv.out;
    EXPECT_TRUE(Contains(csv.out, ",127.77.6.1 127.77.6.2\r\n")) << csv.out;
    const RunResult table = RunVantoro(site.Command({"discover"}, both));
    const std::string conflict = "00 0A 0B 00 00 05  answered from 127.77.6.1 and 127.77.6.2: two devices share "
                                 "this hardware address, or one device is reached two ways";
    EXPECT_TRUE(Contains(table.out, "\n00 0A 0B 00 00 05#  127.77.6.")) << table.out;
    EXPECT_TRUE(Contains(table.out, "\n# " + conflict + "; set, apply, import and reset refuse it")) << table.out;

    // set and apply refuse it, sending nothing to either address.
    ScratchDir dir;
    std::ofstream(dir.File("plan.csv")) << "mac,server\n" << MacArg(6) << ",off\n" << MacArg(5) << ",off\n";
    for (const auto& args : {std::vector<std::string>{"set", MacArg(5), "--login", "admin", "--camera-name", "1=Gate"},
                             std::vector<std::string>{"apply", dir.File("plan.csv"), "--login", "admin"}}) {
        const RunResult r = RunVantoro(site.Command(args, both), kAdmin);
        EXPECT_EQ(r.exit, 2) << args[0] << "\n" << r.out << r.err;
        EXPECT_TRUE(Contains(r.err, conflict + "; nothing was sent")) << args[0] << "\n" << r.err;
        for (std::size_t k : {0u, 1u, 2u})
            EXPECT_EQ(site.sim(k).Counters().set_requests, 0u) << args[0] << " wrote to camera " << k;
    }

    // --wan naming one address narrows it to that one.
    const RunResult one = RunVantoro(
        site.Command({"set", MacArg(5), "--login", "admin", "--camera-name", "1=Gate"}, "127.77.6.2"), kAdmin);
    EXPECT_EQ(one.exit, 0) << one.out << one.err;
    EXPECT_EQ(site.sim(0).Counters().set_requests, 0u);
    EXPECT_EQ(site.sim(1).Counters().set_requests, 3u);
}

TEST(CliSweep, AReaddressedCameraIsSearchedAgainAtItsNewAddressToo)
{
    SweepSite site({{"127.77.5.5", 1}, {"127.77.5.40", 2}});
    const auto set = [&](const std::vector<std::string>& edits) {
        std::vector<std::string> args = {"set", MacArg(1), "--login", "admin", "--force"}; // loopback addresses
        args.insert(args.end(), edits.begin(), edits.end());
        return RunVantoro(site.Command(args, "127.77.5.5"), kAdmin);
    };
    struct Case {
        const char* recorded; // the camera's Ethernet address before the write; it answers from .5
        std::uint64_t bursts_at_new_address; // of three requests each
    };
    const Case cases[] = {
        {"127.77.5.5", 1}, // answered from its old address: the new one is searched too
        {"127.77.5.6", 0}, // answered from elsewhere (behind a router, say): only there
    };
    for (const Case& c : cases) {
        ASSERT_EQ(set({"--ethernet-ip", c.recorded, "--no-verify"}).exit, 0);
        const auto before = site.sim(1).Counters().get_requests;
        const RunResult r = set({"--ethernet-ip", "127.77.5.40"});
        EXPECT_EQ(r.exit, 0) << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, "00 0A 0B 00 00 01  verified\n")) << r.out;
        EXPECT_EQ(site.sim(1).Counters().get_requests - before, 3 * c.bursts_at_new_address) << c.recorded;
    }
    EXPECT_EQ(site.sim(1).Counters().set_requests, 0u) << "records reached another camera's address";
}

TEST(CliSweep, AnAddressMoveHearsTheWholeSweepBeforeItIsChecked)
{
    // Camera 2, at the sweep's second address, holds 127.77.6.50. At one
    // address a second the sweep would end once camera 1 answered, before
    // camera 2 was ever asked.
    SweepSite site({{"127.77.6.1", 1}, {"127.77.6.2", 2}});
    const auto set = [&](int mac, const std::string& wan, std::vector<std::string> edits) {
        std::vector<std::string> args = {"set", MacArg(mac), "--login", "admin", "--force", "--rate", "1"};
        args.insert(args.end(), edits.begin(), edits.end());
        return RunVantoro(site.Command(args, wan), kAdmin);
    };
    ASSERT_EQ(set(2, "127.77.6.2", {"--ethernet-ip", "127.77.6.50", "--no-verify"}).exit, 0);
    const std::uint64_t asked = site.sim(1).Counters().get_requests;
    struct Case {
        std::vector<std::string> edits;
        int exit;
        std::uint64_t bursts_at_second; // of three requests each
    };
    const Case cases[] = {
        {{"--ethernet-ip", "127.77.6.50"}, 2, 1}, // the holder is heard: refused, nothing sent
        {{"--gateway", "10.6.6.1"}, 0, 0},        // no address moves: the search may end early
    };
    std::uint64_t bursts = 0;
    for (const Case& c : cases) {
        const RunResult r = set(1, "127.77.6.1,127.77.6.2", c.edits);
        EXPECT_EQ(r.exit, c.exit) << c.edits[0] << "\n" << r.out << r.err;
        bursts += c.bursts_at_second;
        EXPECT_EQ(site.sim(1).Counters().get_requests - asked, 3 * bursts) << c.edits[0];
    }
    EXPECT_EQ(site.sim(0).Counters().set_requests, 3u) << "only the gateway was written";
    EXPECT_EQ(GeneralConfigReader(site.sim(0).Cameras()[0].records.general.data()).ethernet_ip() ==
                  GeneralConfigReader(site.sim(1).Cameras()[0].records.general.data()).ethernet_ip(),
              false);
}

TEST(CliSweep, AddressesAreSearchedOnceEachAtTheRate)
{
    // Bound to every local address: this camera hears the whole sweep.
    SweepSite site({{"0.0.0.0", 1}}, true);
    const RunResult r = RunVantoro(site.Command({"discover", "--format", "csv"}, "127.77.4.0/22"));
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "\n00:0a:0b:00:00:01,")) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << "one camera, listed once:\n" << r.out;
    EXPECT_EQ(site.sim(0).Counters().get_requests, 3u * 1022);

    // 1022 addresses at the default 500 a second: about two seconds from the
    // first request to the last. Only the order of magnitude is checked.
    std::istringstream log(site.log(0));
    std::vector<double> at;
    for (std::string line; std::getline(log, line);)
        if (const auto p = line.find(" at "); Contains(line, "search request") && p != std::string::npos)
            at.push_back(std::stod(line.substr(p + 4)));
    ASSERT_EQ(at.size(), 3u * 1022);
    const double span = at.back() - at.front();
    EXPECT_GT(span, 1.5) << "faster than --rate allows";
    EXPECT_LT(span, 20.0);
}

TEST(CliSweep, CtrlCEndsTheSweepAndStillPrintsWhatWasFound)
{
    SweepSite site({{"127.77.2.1", 1}});
    VantoroProcess run(site.Command({"discover", "--format", "csv", "--rate", "20"}, "127.77.2.1-127.77.2.254"));
    // The first address is the camera's; once it was searched Ctrl+C is caught.
    for (int i = 0; i < 1000 && site.sim(0).Counters().datagrams_sent < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the answers on their way
    ::kill(run.pid(), SIGINT);
    const RunResult r = run.Wait();
    EXPECT_EQ(r.exit, 130) << r.err;
    EXPECT_TRUE(Contains(r.out, "\n00:0a:0b:00:00:01,")) << r.out;
    EXPECT_TRUE(Contains(r.err, "interrupted after")) << r.err;
    EXPECT_TRUE(Contains(r.err, "of 254 addresses") && !Contains(r.err, "after 254 of")) << r.err;
}

} // namespace
} // namespace vantoro::cli::testing
