// The vantoro program against simulated cameras on loopback: every command,
// the records byte for byte afterwards, lost and withheld acknowledgements,
// refused logins and refused input.

#include "cli_test_support.h"

#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>

namespace vantoro::cli::testing {
namespace {

using nlohmann::json;

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(CliProgram, VersionAndHelpOnEveryCommand)
{
    const RunResult version = RunVantoro({"--version"});
    EXPECT_EQ(version.exit, 0);
    EXPECT_EQ(version.out, std::string("vantoro ") + VANTORO_VERSION_TEXT + "\n");
    for (const char* command : {"discover", "show", "export", "import", "set", "apply", "reset"}) {
        const RunResult help = RunVantoro({command, "--help"});
        EXPECT_EQ(help.exit, 0) << command;
        EXPECT_TRUE(Contains(help.out, "Usage")) << command;
        EXPECT_FALSE(Contains(help.out, "--tool-port")) << "the test ports stay hidden";
    }
}

TEST(CliProgram, DiscoverListsEveryCameraSortedInEachFormat)
{
    SimulatedCameras sim(3);
    const RunResult table = RunVantoro(sim.Command({"discover"}));
    ASSERT_EQ(table.exit, 0) << table.err;
    // Output that cannot be written is a failure, named.
    const RunResult full = VantoroProcess(sim.Command({"discover", "--format", "csv"}), {}, "/dev/full").Wait();
    EXPECT_EQ(full.exit, 1);
    EXPECT_TRUE(Contains(full.err, "cannot write the output")) << full.err;
    const auto lines = Lines(table.out);
    ASSERT_EQ(lines.size(), 5u) << table.out;
    for (int k = 1; k <= 3; ++k)
        EXPECT_EQ(lines[std::size_t(k)].rfind("00 0A 0B 00 00 0" + std::to_string(k) + "  192.168.1.1" +
                                                  std::to_string(k - 1), 0),
                  0u)
            << lines[std::size_t(k)];
    for (const std::string& line : lines)
        EXPECT_LE(line.size(), 100u);
    EXPECT_EQ(lines[4], "3 cameras answered");

    const RunResult js = RunVantoro(sim.Command({"discover", "--format", "json"}));
    ASSERT_EQ(js.exit, 0) << js.err;
    const json cameras = json::parse(js.out).at("cameras");
    ASSERT_EQ(cameras.size(), 3u);
    EXPECT_EQ(json::parse(js.out).at("answers_lost"), 0);
    EXPECT_FALSE(Contains(js.err + table.err + table.out, "lost")) << "nothing dropped, nothing told";
    EXPECT_EQ(cameras[0]["mac"], "00:0a:0b:00:00:01");
    EXPECT_EQ(cameras[1]["network"]["ethernet_ip"], "192.168.1.11");
    EXPECT_EQ(cameras[1]["network"]["bootp"], false);
    EXPECT_EQ(cameras[2]["firmware"], "2.05");
    EXPECT_EQ(cameras[2]["records"], json({{"general", true}, {"user", true}, {"domain", true}}));

    const RunResult csv = RunVantoro(sim.Command({"discover", "--format", "csv"}));
    ASSERT_EQ(csv.exit, 0) << csv.err;
    EXPECT_EQ(Lines(csv.out).size(), 4u);
    EXPECT_TRUE(Contains(csv.out, "00:0a:0b:00:00:03,192.168.1.12,255.255.255.0,")) << csv.out;
}

TEST(CliProgram, ShowDecodesTheRecordsAndShowsPasswordsOnlyWhenAsked)
{
    SimulatedCameras sim(2);
    const RunResult table = RunVantoro(sim.Command({"show", "00 0A 0B 00 00 02"}));
    ASSERT_EQ(table.exit, 0) << table.err;
    for (const char* part : {"192.168.1.11", "10.64.1.2", "operator", "***", "Firmware 2.05", "Cam 2 Loading Bay"})
        EXPECT_TRUE(Contains(table.out, part)) << part << " in\n" << table.out;
    EXPECT_FALSE(Contains(table.out, "viewer    viewer")) << "a password in clear";

    for (bool shown : {false, true}) {
        auto args = sim.Command({"show", "00:0a:0b:00:00:02", "--format", "json"});
        if (shown)
            args.push_back("--show-passwords");
        const RunResult r = RunVantoro(args);
        ASSERT_EQ(r.exit, 0) << r.err;
        const json camera = json::parse(r.out);
        ASSERT_EQ(camera["users"].size(), 3u);
        EXPECT_EQ(camera["users"][1]["name"], "viewer");
        EXPECT_EQ(camera["users"][1]["password"], shown ? "viewer" : "***");
        EXPECT_EQ(camera["users"][1]["view_image"], true);
        EXPECT_EQ(camera["users"][1]["adjust"], false);
        EXPECT_EQ(camera["domains"].size(), 3u);
        EXPECT_EQ(camera["camera_names"], json({"Cam 2 Entrance", "Cam 2 Parking", "Cam 2 Loading Bay", "Cam 2 Roof"}));
    }
}

TEST(CliProgram, SetSendsTheRecordsWithOnlyTheEditedFieldsChanged)
{
    SimulatedCameras sim(3);
    const auto before = sim.Cameras();
    const RunResult r = RunVantoro(
        sim.Command({"set", "00:0A:0B:00:00:02", "--login", "ADMIN", "--force", "--ethernet-ip", "10.1.2.3", "--gateway",
                     "10.1.2.254", "--server", "off", "--bootp", "on", "--ppp-client-ip", "10.64.9.9",
                     "--delete-user", "VIEWER", "--add-user", "bob", "--permissions", "Bob=adjust", "--add-domain",
                     "new.example=10.1.2.5", "--delete-domain", "NTP.vantoro.example", "--camera-name",
                     "1=Front door", "--camera-name", "4=", "--password", "Operator"}),
        {"VANTORO_PASSWORD=ADMIN", "VANTORO_NEW_PASSWORD=bobpass"});
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "00 0A 0B 00 00 02  verified\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "camera_name_1: 'Cam 2 Entrance' -> 'Front door'\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "camera_name_4: 'Cam 2 Roof' -> ''\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "password of operator: changed\n")) << r.out;
    EXPECT_FALSE(Contains(r.out + r.err, "bobpass")) << "a password shown";

    // The same edits with the link's own record rules.
    sim::CameraRecords expected = before[1].records;
    GeneralConfig g(expected.general.data());
    g.set_ethernet_ip(0x0A010203);
    g.set_gateway(0x0A0102FE);
    g.set_server_on(false);
    g.set_bootp_on(true);
    g.set_ppp_client_ip(0x0A400909);
    g.set_camera_name(0, "Front door");
    g.set_camera_name(3, "");
    UserConfig users(expected.user.data());
    users.StorePasswordByName("operator", "bobpass");
    users.DeleteByName("viewer");
    users.AddUser("bob", "bobpass");
    users.StorePermissionsByName("bob", false, true);
    DomainConfig domains(expected.domain.data());
    domains.DeleteByName("ntp.vantoro.example");
    domains.AddDomain("new.example", "10.1.2.5");
    const auto after = sim.Cameras();
    ExpectRecords(after[1].records, expected);
    ExpectRecords(after[0].records, before[0].records);
    ExpectRecords(after[2].records, before[2].records);

    // Nothing left to change: nothing is sent.
    const auto sets = sim.Counters().set_requests;
    const RunResult again = RunVantoro(sim.Command({"set", "00:0a:0b:00:00:02", "--login", "admin", "--force", "--ethernet-ip",
                                                    "10.1.2.3"}),
                                       kAdmin);
    EXPECT_EQ(again.exit, 0) << again.err;
    EXPECT_TRUE(Contains(again.out, "unchanged")) << again.out;
    EXPECT_EQ(sim.Counters().set_requests, sets);

    // Names and passwords typed in UTF-8 are stored as Windows-1252 and shown
    // as UTF-8 again, control characters escaped; a login matches ASCII letters in any case.
    const RunResult latin = RunVantoro(
        sim.Command({"set", "00:0a:0b:00:00:02", "--login", "admin", "--add-user", "J\xC3\xB6rg", "--add-user",
                     "ev\x1B[2Jil", "--add-domain", "caf\xC3\xA9.example=10.1.2.6"}),
        {"VANTORO_PASSWORD=admin", "VANTORO_NEW_PASSWORD=p\xC3\xA4ss"});
    ASSERT_EQ(latin.exit, 0) << latin.err;
    for (const char* line : {"user J\xC3\xB6rg: added\n", "user ev\\x1B[2Jil: added\n", "domain caf\xC3\xA9.example: added\n"})
        EXPECT_TRUE(Contains(latin.out, line)) << line << " in\n" << latin.out;
    users.AddUser("J\xF6rg", "p\xE4ss");
    users.AddUser("ev\x1B[2Jil", "p\xE4ss");
    domains.AddDomain("caf\xE9.example", "10.1.2.6");
    ExpectRecords(sim.Cameras()[1].records, expected);
    const RunResult login = RunVantoro(
        sim.Command({"set", "00:0a:0b:00:00:02", "--login", "j\xC3\xB6RG", "--camera-name", "2=Gate \xC3\xA9"}),
        {"VANTORO_PASSWORD=P\xC3\xA4SS"});
    ASSERT_EQ(login.exit, 0) << login.err;
    EXPECT_TRUE(Contains(login.out, "camera_name_2: 'Cam 2 Parking' -> 'Gate \xC3\xA9'\n")) << login.out;
    const RunResult shown = RunVantoro(sim.Command({"show", "00:0a:0b:00:00:02", "--show-passwords"}));
    for (const char* part : {"J\xC3\xB6rg", "p\xC3\xA4ss", "ev\\x1B[2Jil", "caf\xC3\xA9.example", "Gate \xC3\xA9"})
        EXPECT_TRUE(Contains(shown.out, part)) << part << " in\n" << shown.out;
    EXPECT_FALSE(Contains(latin.out + shown.out, "\x1B")) << "a control character reached the terminal";
    const json camera = json::parse(RunVantoro(sim.Command({"show", "00:0a:0b:00:00:02", "--format", "json"})).out);
    const auto named = [](const json& rows, const std::string& name) {
        return std::any_of(rows.begin(), rows.end(), [&](const json& row) { return row["name"] == name; });
    };
    EXPECT_TRUE(named(camera["users"], "ev\x1B[2Jil")) << camera["users"];
    EXPECT_TRUE(named(camera["domains"], "caf\xC3\xA9.example")) << camera["domains"];
}

TEST(CliProgram, DryRunPrintsEachChangeAndSendsNothing)
{
    SimulatedCameras sim(1);
    const RunResult r = RunVantoro(
        sim.Command({"set", MacArg(1), "--login", "admin", "--force", "--ethernet-ip", "10.1.2.3", "--add-user", "eve",
                     "--dry-run"}),
        {"VANTORO_PASSWORD=admin", "VANTORO_NEW_PASSWORD=evepass"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "ethernet_ip: 192.168.1.10 -> 10.1.2.3")) << r.out;
    EXPECT_TRUE(Contains(r.out, "user eve: added")) << r.out;
    EXPECT_FALSE(Contains(r.out, "evepass"));
    EXPECT_EQ(sim.Counters().set_requests, 0u);
}

TEST(CliProgram, ExportThenImportRestoresEveryByte)
{
    SimulatedCameras sim(2);
    ScratchDir dir;
    const std::string backup = dir.File("cam1.json");
    const auto before = sim.Cameras();
    const RunResult exported = RunVantoro(sim.Command({"export", MacArg(1), backup}));
    ASSERT_EQ(exported.exit, 0) << exported.err;
    struct stat st {};
    ASSERT_EQ(::stat(backup.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the backup holds the passwords";
    const json file = json::parse(ReadText(backup));
    EXPECT_EQ(file["read_from"], "127.0.0.1");
    EXPECT_EQ(file["decoded"]["network"]["ethernet_ip"], "192.168.1.10");
    // A leftover world-readable backup and a planted link beside it: neither
    // is written through, and the new backup is the owner's alone.
    const std::string victim = dir.File("victim.txt");
    WriteFile(victim, "keep");
    ASSERT_EQ(::chmod(backup.c_str(), 0644), 0);
    ASSERT_EQ(::symlink(victim.c_str(), (backup + ".tmp").c_str()), 0);
    ASSERT_EQ(RunVantoro(sim.Command({"export", MacArg(1), backup})).exit, 0);
    EXPECT_EQ(ReadText(victim), "keep");
    ASSERT_EQ(::stat(backup.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(json::parse(ReadText(backup))["mac"], "00:0a:0b:00:00:01");

    const RunResult edited = RunVantoro(sim.Command({"set", MacArg(1), "--login", "admin", "--force", "--ethernet-ip", "10.0.0.9",
                                                     "--delete-user", "operator"}),
                                        kAdmin);
    ASSERT_EQ(edited.exit, 0) << edited.err;
    const RunResult imported = RunVantoro(sim.Command({"import", backup, "--login", "admin"}), kAdmin);
    ASSERT_EQ(imported.exit, 0) << imported.err;
    EXPECT_TRUE(Contains(imported.out, "ethernet_ip: 10.0.0.9 -> 192.168.1.10")) << imported.out;
    EXPECT_TRUE(Contains(imported.out, "00 0A 0B 00 00 01  verified\n")) << imported.out;
    const auto after = sim.Cameras();
    ExpectRecords(after[0].records, before[0].records);
    ExpectRecords(after[1].records, before[1].records);
}

TEST(CliProgram, ImportRefusesWhatIsNoExportOfAnAnsweringCamera)
{
    SimulatedCameras sim(1);
    ScratchDir dir;
    const std::string good = dir.File("good.json");
    ASSERT_EQ(RunVantoro(sim.Command({"export", MacArg(1), good})).exit, 0);
    const json base = json::parse(ReadText(good));
    const auto variant = [&](const std::function<void(json&)>& change) {
        json j = base;
        change(j);
        return j.dump();
    };
    const std::string user = base["records"]["user"];
    struct Case {
        const char* name;
        std::string text;
        int exit;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"not json", "hello", 2, "not a JSON object"},
        {"other format", variant([](json& j) { j["format"] = "backup"; }), 2, "\"format\""},
        {"short record", variant([](json& j) { j["records"]["domain"] = "AAAA"; }), 2, "domain record is not 1152"},
        {"swapped records", variant([&](json& j) { j["records"]["general"] = user; }), 2, "not a general record"},
        {"other camera's record", variant([](json& j) { j["mac"] = "00:0a:0b:00:00:07"; }), 2, "belongs to"},
        {"missing records", variant([](json& j) { j.erase("records"); }), 2, "no \"records\""},
        // A field of the wrong type is named, never a crash.
        {"number read_at", variant([](json& j) { j["read_at"] = 5; }), 2, "\"read_at\" is not a text"},
        {"null read_from", variant([](json& j) { j["read_from"] = nullptr; }), 2, "\"read_from\" is not a text"},
        {"number mac", variant([](json& j) { j["mac"] = 5; }), 2, "\"mac\""},
        {"text version", variant([](json& j) { j["version"] = "1"; }), 2, "\"version\""},
        {"number record", variant([](json& j) { j["records"]["user"] = 5; }), 2, "user record is not 1152"},
        {"records array", variant([](json& j) { j["records"] = json::array({1, 2}); }), 2, "no \"records\""},
        {"array", "[1,2]", 2, "not a JSON object"},
    };
    for (const Case& c : cases) {
        const std::string path = dir.File("case.json");
        WriteFile(path, c.text);
        const RunResult r = RunVantoro(sim.Command({"import", path, "--login", "admin"}), kAdmin);
        EXPECT_EQ(r.exit, c.exit) << c.name;
        EXPECT_TRUE(Contains(r.err, c.message)) << c.name << ": " << r.err;
    }
    // Far larger than any export: refused before it is read.
    const std::string large = dir.File("large.json");
    WriteFile(large, "");
    ASSERT_EQ(::truncate(large.c_str(), 5 << 20), 0);
    const RunResult r = RunVantoro(sim.Command({"import", large, "--login", "admin"}), kAdmin);
    EXPECT_EQ(r.exit, 2);
    EXPECT_TRUE(Contains(r.err, "is larger than")) << r.err;
    EXPECT_EQ(sim.Counters().get_requests, 3u) << "only the export searched";

    // A real export whose camera does not answer here.
    SimulatedCameras other(1, [] {
        sim::SimOptions o;
        o.first_mac = {0x00, 0x0A, 0x0B, 0x00, 0x00, 0x50};
        return o;
    }());
    const RunResult elsewhere = RunVantoro(other.Command({"import", good, "--login", "admin"}), kAdmin);
    EXPECT_EQ(elsewhere.exit, 1);
    EXPECT_TRUE(Contains(elsewhere.err, "did not answer")) << elsewhere.err;
    EXPECT_EQ(other.Counters().set_requests, 0u);
}

// Names with blanks at either end, escape sequences and formulas: discover's
// CSV shows no control character, guards the formula, and applied unchanged
// it changes nothing.
TEST(CliProgram, DiscoverCsvOfOddNamesAppliedUnchangedChangesNothing)
{
    SimulatedCameras sim(1);
    ScratchDir dir;
    ASSERT_EQ(RunVantoro(sim.Command({"set", MacArg(1), "--login", "admin", "--no-verify", "--camera-name",
                                      "1= Lobby ", "--camera-name", "2=\x1B]0;owned\x07\x1B[2J", "--camera-name",
                                      "3==HYPERLINK(\"http://x\")", "--camera-name",
                                      "4=a\\b Caf\xC3\xA9 \xE2\x82\xAC"}),
                         kAdmin).exit, 0);
    const auto before = sim.Cameras();
    const RunResult listed = RunVantoro(sim.Command({"discover", "--format", "csv"}));
    ASSERT_EQ(listed.exit, 0) << listed.err;
    EXPECT_EQ(listed.out.find('\x1B'), std::string::npos) << listed.out;
    EXPECT_TRUE(Contains(listed.out, "\" Lobby \",\\x1B]0;owned\\x07\\x1B[2J,\"'=HYPERLINK(\"\"http://x\"\")\",a\\\\b Caf\xC3\xA9 \xE2\x82\xAC,"))
        << listed.out;
    // Stored as Windows-1252, one byte per character.
    EXPECT_EQ(GeneralConfigReader(before[0].records.general.data()).camera_name(3), "a\\b Caf\xE9 \x80");
    const std::string plan = dir.File("plan.csv");
    WriteFile(plan, listed.out);
    const RunResult applied = RunVantoro(sim.Command({"apply", plan, "--login", "admin"}), kAdmin);
    EXPECT_EQ(applied.exit, 0) << applied.err;
    EXPECT_TRUE(Contains(applied.out, "1 unchanged")) << applied.out;
    ExpectRecords(sim.Cameras()[0].records, before[0].records);
}

TEST(CliProgram, DiscoverCsvEditedAndAppliedChangesOnlyThoseCells)
{
    SimulatedCameras sim(3);
    ScratchDir dir;
    const auto before = sim.Cameras();
    const RunResult listed = RunVantoro(sim.Command({"discover", "--format", "csv"}));
    ASSERT_EQ(listed.exit, 0) << listed.err;
    std::string csv = listed.out;
    // What a spreadsheet would do: a new address for camera 2, SERVER off for camera 3.
    const auto replace = [&](const std::string& from, const std::string& to) {
        const auto at = csv.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        csv.replace(at, from.size(), to);
    };
    replace("00:0a:0b:00:00:02,192.168.1.11,", "00:0a:0b:00:00:02,10.20.30.40,");
    replace("10.64.2.2,on,on,Cam 3 Entrance,Cam 3 Parking,", "10.64.2.2,off,on,Cam 3 Entrance,Gate,");
    // Camera names left empty stay as they are.
    replace("Cam 1 Entrance,Cam 1 Parking,Cam 1 Loading Bay,Cam 1 Roof", ",,,");
    // And as a spreadsheet saves it: a byte order mark, a row of empty cells.
    csv = "\xEF\xBB\xBF" + csv + "00:0a:0b:00:00:09,10.9.9.9" + std::string(20, ',') + "\r\n" +
          std::string(21, ',') + "\r\n";
    const std::string path = dir.File("fleet.csv");
    WriteFile(path, csv);
    const std::string report = dir.File("report.json");

    // One camera at a time and no search afterwards: the lines come in the plan's order.
    const RunResult r = RunVantoro(
        sim.Command({"apply", path, "--login", "admin", "--force", "--report", report, "--parallel", "1", "--no-verify"}), kAdmin);
    EXPECT_EQ(r.exit, 1) << "one camera was not found\n" << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "cannot be set are ignored: firmware, records, interface, address, conflicts, reachable, mac_conflict")) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0], "00 0A 0B 00 00 01  unchanged");
    EXPECT_EQ(lines[1], "00 0A 0B 00 00 02  applied  ethernet_ip 192.168.1.11 -> 10.20.30.40");
    EXPECT_EQ(lines[2], "00 0A 0B 00 00 03  applied  server on -> off, camera_name_2 'Cam 3 Parking' -> 'Gate'");
    EXPECT_EQ(lines[3], "00 0A 0B 00 00 09  not found: did not answer");
    EXPECT_EQ(lines[4], "4 cameras: 2 applied, 1 unchanged, 1 not found, 0 login refused, 0 failed; peak window 1, "
                        "0 resent steps");
    const json results = json::parse(ReadText(report));
    EXPECT_EQ(results["results"][1]["result"], "applied");
    EXPECT_TRUE(results["results"][1]["verified"].is_null()) << "not searched again";
    EXPECT_EQ(results["summary"]["not found"], 1);

    sim::CameraRecords two = before[1].records, three = before[2].records;
    GeneralConfig(two.general.data()).set_ethernet_ip(0x0A141E28);
    GeneralConfig(three.general.data()).set_server_on(false);
    GeneralConfig(three.general.data()).set_camera_name(1, "Gate");
    const auto after = sim.Cameras();
    ExpectRecords(after[0].records, before[0].records);
    ExpectRecords(after[1].records, two);
    ExpectRecords(after[2].records, three);
}

TEST(CliProgram, DuplicatedAndLateAcknowledgementsInABatchLeaveEveryRecordExact)
{
    sim::SimOptions o;
    o.duplicate = 1.0; // every answer twice
    o.jitter_ms = 15; // and out of order
    o.seed = 7;
    constexpr int kCameras = 8;
    SimulatedCameras sim(kCameras, o);
    ScratchDir dir;
    std::string csv = "mac,ethernet_ip,ppp_ip\n";
    for (int k = 1; k <= kCameras; ++k)
        csv += MacArg(k) + ",10.50.0." + std::to_string(k) + ",10.60.0." + std::to_string(k) + "\n";
    WriteFile(dir.File("fleet.csv"), csv);
    const auto before = sim.Cameras();
    const RunResult r = RunVantoro(sim.Command({"apply", dir.File("fleet.csv"), "--login", "admin", "--force"}, 1000), kAdmin);
    ASSERT_EQ(r.exit, 0) << r.out << r.err;
    const auto after = sim.Cameras();
    for (int k = 0; k < kCameras; ++k) {
        sim::CameraRecords expected = before[std::size_t(k)].records;
        GeneralConfig g(expected.general.data());
        g.set_ethernet_ip(0x0A320000u + std::uint32_t(k + 1));
        g.set_ppp_ip(0x0A3C0000u + std::uint32_t(k + 1));
        ExpectRecords(after[std::size_t(k)].records, expected);
    }
}

TEST(CliProgram, AWriteIsVerifiedBySearchingTheCameraAgain)
{
    ScratchDir dir;
    WriteFile(dir.File("plan.csv"), "mac,ethernet_ip,gateway\n" + MacArg(1) + ",127.0.0.7,127.0.0.254\n");
    const std::string report = dir.File("report.json");
    // Loopback addresses, so that no search leaves this machine: --force lets them through.
    const std::vector<std::string> set = {"set", MacArg(1), "--login", "admin", "--force", "--ethernet-ip", "127.0.0.7"};
    const std::vector<std::string> apply = {"apply", dir.File("plan.csv"), "--login", "admin", "--force", "--report",
                                            report};
    const auto with = [](std::vector<std::string> args, const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool forget_general; // the camera acknowledges its general record but keeps the old one
        bool falls_silent; // the camera stops answering once its sequence is over
        int exit;
        std::string line;
        json verified; // in apply's report
    };
    const std::string mac = "00 0A 0B 00 00 01  ";
    const Case cases[] = {
        {"kept", set, false, false, 0, mac + "verified\n", nullptr},
        {"kept, in a batch", apply, false, false, 0, mac + "verified  ethernet_ip 192.168.1.10 -> 127.0.0.7, gateway "
                                                          "192.168.1.1 -> 127.0.0.254\n", true},
        {"forgotten", set, true, false, 1, mac + "mismatch  ethernet_ip sent 127.0.0.7, camera reports 192.168.1.10\n",
         nullptr},
        {"forgotten, in a batch", apply, true, false, 1,
         mac + "mismatch  ethernet_ip sent 127.0.0.7, camera reports 192.168.1.10; gateway sent 127.0.0.254, camera "
               "reports 192.168.1.1\n1 camera: 0 verified, 0 unchanged, 0 not found, 0 login refused, 0 failed, 1 "
               "mismatch; peak window 1, 0 resent steps\n",
         false},
        {"silent", with(set, {"--verify-wait", "400"}), false, true, 1,
         mac + "unverified: did not answer again within 400 ms\n", nullptr},
        {"silent, in a batch", with(apply, {"--verify-wait", "400"}), false, true, 1,
         mac + "unverified: did not answer again within 400 ms  ethernet_ip", false},
        {"not checked", with(set, {"--no-verify"}), true, false, 0, mac + "applied\n", nullptr},
        {"not checked, in a batch", with(apply, {"--no-verify"}), true, false, 0,
         mac + "applied  ethernet_ip 192.168.1.10 -> 127.0.0.7, gateway 192.168.1.1 -> 127.0.0.254\n1 camera: 1 "
               "applied",
         nullptr},
    };
    for (const Case& c : cases) {
        sim::SimOptions o;
        o.forget[int(sim::RecordKind::General)] = c.forget_general;
        o.delay_ms = c.falls_silent ? 150 : 0; // time to silence it before it answers the search
        SimulatedCameras sim(2, o);
        const std::string journal = dir.File("state") + "/vantoro/changes.jsonl";
        ::unlink(journal.c_str());
        VantoroProcess process(sim.Command(c.args), {"VANTORO_PASSWORD=admin", "XDG_STATE_HOME=" + dir.File("state")});
        if (c.falls_silent) {
            for (int i = 0; i < 5000 && sim.Counters().apply_done == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            sim.Stop();
        }
        const RunResult r = process.Wait();
        EXPECT_EQ(r.exit, c.exit) << c.name << "\n" << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, c.line)) << c.name << ": wanted\n" << c.line << "in\n" << r.out;
        // The journal's result is the line's.
        const json line = json::parse(ReadText(journal));
        EXPECT_EQ(line["result"], c.line.substr(mac.size(), c.line.find_first_of(" :\n", mac.size()) - mac.size()))
            << c.name;
        if (line["result"] == "mismatch")
            EXPECT_TRUE(Contains(line["detail"].get<std::string>(), "ethernet_ip sent 127.0.0.7, camera reports 192.168.1.10"))
                << c.name;
        if (c.args[0] != "apply")
            continue;
        const json result = json::parse(ReadText(report))["results"][0];
        EXPECT_EQ(result["result"], "applied") << c.name;
        EXPECT_EQ(result["verified"], c.verified) << c.name;
        EXPECT_EQ(result["mismatches"].size(), c.forget_general && c.verified == false ? 2u : 0u) << c.name;
        if (c.forget_general && c.verified == false)
            EXPECT_EQ(result["mismatches"][0],
                      json({{"field", "ethernet_ip"}, {"sent", "127.0.0.7"}, {"reported", "192.168.1.10"}}));
    }
}

TEST(CliProgram, LostAcknowledgementsAreRecoveredByResending)
{
    // Lose answers at random; across these seeds some step needs a resend,
    // and every run still ends with the camera holding exactly the edit.
    int resent_runs = 0;
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
        sim::SimOptions o;
        o.loss = 0.25;
        o.seed = seed;
        SimulatedCameras sim(1, o);
        const auto before = sim.Cameras();
        const std::string address = "10.0.7." + std::to_string(seed);
        const RunResult r = RunVantoro(
            sim.Command({"set", MacArg(1), "--login", "admin", "--force", "--ethernet-ip", address}, 150, 8),
            kAdmin);
        ASSERT_EQ(r.exit, 0) << "seed " << seed << ": " << r.out << r.err;
        resent_runs += Contains(r.out, "verified after");
        sim::CameraRecords expected = before[0].records;
        GeneralConfig(expected.general.data()).set_ethernet_ip(0x0A000700u + std::uint32_t(seed));
        ExpectRecords(sim.Cameras()[0].records, expected);
    }
    EXPECT_GT(resent_runs, 0) << "no run lost an acknowledgement; the test proves nothing";
}

TEST(CliProgram, AStepThatIsNeverAcknowledgedIsNamedAfterItsRetries)
{
    sim::SimOptions o;
    o.no_ack[int(sim::RecordKind::Domain)] = true;
    SimulatedCameras sim(1, o);
    const RunResult r =
        RunVantoro(sim.Command({"set", MacArg(1), "--login", "admin", "--force", "--ethernet-ip", "10.0.0.1"}, 100, 2), kAdmin);
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(Contains(r.out, "no acknowledgement at step domain")) << r.out;
    // The user record once, the domain record first and twice more; never the general record.
    EXPECT_EQ(sim.Counters().set_requests, 4u);
    EXPECT_EQ(sim.Counters().apply_done, 0u);
}

TEST(CliProgram, ARefusedLoginSendsNothing)
{
    SimulatedCameras sim(1);
    ScratchDir dir;
    WriteFile(dir.File("one.csv"), "mac,ethernet_ip\n" + MacArg(1) + ",10.0.0.1\n");
    ASSERT_EQ(RunVantoro(sim.Command({"export", MacArg(1), dir.File("b.json")})).exit, 0);
    const std::vector<std::vector<std::string>> commands = {
        {"set", MacArg(1), "--login", "admin", "--ethernet-ip", "10.0.0.1"},
        {"reset", MacArg(1), "--login", "admin"},
        {"import", dir.File("b.json"), "--login", "admin"},
        {"apply", dir.File("one.csv"), "--login", "admin"},
        {"set", MacArg(1), "--login", "nobody", "--ethernet-ip", "10.0.0.1"},
    };
    for (const auto& command : commands) {
        const RunResult r = RunVantoro(sim.Command(command), {"VANTORO_PASSWORD=wrong"});
        EXPECT_EQ(r.exit, 1) << command[0];
        EXPECT_TRUE(Contains(r.err, "Login fail") || Contains(r.out, "login refused")) << command[0] << r.out << r.err;
    }
    EXPECT_EQ(sim.Counters().set_requests, 0u);
    EXPECT_EQ(sim.Counters().resets, 0u);
}

TEST(CliProgram, ResetSendsTheResetRequest)
{
    SimulatedCameras sim(2);
    const RunResult r = RunVantoro(sim.Command({"reset", MacArg(2), "--login", "operator"}),
                                   {"VANTORO_PASSWORD=OPERATOR"});
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "00 0A 0B 00 00 02  reset sent\n");
    for (int i = 0; i < 200 && sim.Counters().resets == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(sim.Counters().resets, 1u);
}

TEST(CliProgram, WritesSpeakOneJsonDocumentAndSendNothingUnchanged)
{
    ScratchDir dir;
    const std::string backup = dir.File("backup.json"), plan = dir.File("plan.csv"), input = dir.File("secrets.json");
    WriteFile(plan, "mac,gateway\n" + MacArg(1) + ",127.0.0.254\n" + MacArg(2) + ",192.168.1.1\n");
    const std::string clash = dir.File("clash.csv");
    WriteFile(clash, "mac,ethernet_ip\n" + MacArg(1) + ",192.168.1.60\n" + MacArg(2) + ",192.168.1.60\n");
    const std::string m = MacArg(1);
    const std::vector<std::string> json_out = {"--format", "json"};
    const auto set = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {"set", m, "--login", "admin", "--force", "--format", "json"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const json address = {{"field", "ethernet_ip"}, {"before", "192.168.1.10"}, {"after", "127.0.0.7"}};
    const json restored = {{"field", "ethernet_ip"}, {"before", "127.0.0.9"}, {"after", "192.168.1.10"}};
    const json gateway = {{"field", "gateway"}, {"before", "192.168.1.1"}, {"after", "127.0.0.254"}};
    const std::string secrets = R"({"login_password":"admin","new_passwords":{"bob":"b0b-Secret","viewer":"v1ew-Secret"}})";
    const std::vector<std::string> users = {"--add-user", "bob", "--password", "viewer", "--secrets", "-"};
    struct Case {
        const char* name;
        std::vector<std::vector<std::string>> setup; // run first, with the admin's password
        std::vector<std::string> args;
        std::string input; // standard input, with --secrets -
        int exit;
        std::vector<std::string> results; // of each camera; none: no document
        json changes; // of the first camera; null: not compared
        json verified;
        bool sends; // whether any record reaches a camera
        std::string summary_key = {};
        std::size_t problems = 0;
        std::string message = {}; // on standard error
    };
    const std::vector<std::string> exported = {"export", m, backup};
    const std::vector<std::string> moved = {"set", m, "--login", "admin", "--force", "--ethernet-ip", "127.0.0.9"};
    const std::vector<Case> cases = {
        {"set, dry run", {}, set({"--ethernet-ip", "127.0.0.7", "--dry-run"}), "", 0, {"would apply"}, {address}, nullptr,
         false, "would apply"},
        {"set", {}, set({"--ethernet-ip", "127.0.0.7"}), "", 0, {"applied"}, {address}, true, true, "verified"},
        {"set, unchanged", {}, set({"--ethernet-ip", "192.168.1.10", "--camera-name", "1=Cam 1 Entrance"}), "", 0,
         {"unchanged"}, json::array(), nullptr, false, "unchanged"},
        {"set, unchanged, dry run", {}, set({"--ethernet-ip", "192.168.1.10", "--dry-run"}), "", 0, {"unchanged"},
         json::array(), nullptr, false},
        {"set, unchanged, always", {}, set({"--ethernet-ip", "192.168.1.10", "--always"}), "", 0, {"applied"},
         json::array(), true, true},
        {"set, users by name, passwords from standard input", {}, set(users), secrets, 0, {"applied"},
         json::parse(R"([{"field":"password of viewer","before":null,"after":null},
                         {"field":"user bob","before":null,"after":"added"},
                         {"field":"permissions of bob","before":null,"after":"none"}])"),
         true, true},
        {"set, a user named in UTF-8, stored as Windows-1252", {},
         set({"--add-user", "J\xC3\xB6rg", "--secrets", "-"}),
         R"({"login_password":"admin","new_passwords":{"J\u00f6rg":"p\u00e4ss"}})", 0, {"applied"},
         json::parse("[{\"field\":\"user J\xC3\xB6rg\",\"before\":null,\"after\":\"added\"},"
                     "{\"field\":\"permissions of J\xC3\xB6rg\",\"before\":null,\"after\":\"none\"}]"),
         true, true},
        {"set, address held by another camera", {}, set({"--ethernet-ip", "192.168.1.11"}), "", 2, {"not started"},
         {{{"field", "ethernet_ip"}, {"before", "192.168.1.10"}, {"after", "192.168.1.11"}}}, nullptr, false,
         "not started", 1, "holds it and keeps it"},
        {"set, login refused", {}, set({"--gateway", "127.0.0.1", "--secrets", "-"}), R"({"login_password":"wrong"})",
         1, {"login refused"}, json::array(), nullptr, false},
        {"import, dry run", {exported, moved}, {"import", backup, "--login", "admin", "--dry-run", "--format", "json"},
         "", 0, {"would apply"}, {restored}, nullptr, false},
        {"import", {exported, moved}, {"import", backup, "--login", "admin", "--format", "json"}, "", 0, {"applied"},
         {restored}, true, true},
        {"import, unchanged", {exported}, {"import", backup, "--login", "admin", "--format", "json"}, "", 0,
         {"unchanged"}, json::array(), nullptr, false},
        {"apply, dry run", {}, {"apply", plan, "--login", "admin", "--force", "--dry-run", "--format", "json"}, "", 0,
         {"would apply", "unchanged"}, {gateway}, nullptr, false, "would apply"},
        {"apply", {}, {"apply", plan, "--login", "admin", "--force", "--format", "json"}, "", 0, {"applied", "unchanged"},
         {gateway}, true, true, "verified"},
        {"apply, two cameras given one address", {}, {"apply", clash, "--login", "admin", "--format", "json"}, "", 2,
         {"not started", "not started"}, json::array(), nullptr, false, {}, 2, "of this plan gets it too"},
        {"reset, dry run", {}, {"reset", m, "--login", "admin", "--dry-run", "--format", "json"}, "", 0,
         {"would apply"}, json::array(), nullptr, false},
        {"reset", {}, {"reset", m, "--login", "admin", "--format", "json"}, "", 0, {"sent"}, json::array(), nullptr,
         false, "sent"},
        // Bad --secrets: refused before anything is sent, the values never shown.
        {"secrets, no JSON", {}, set(users), "{\"login_password\":\"b0b-Secret", 2, {}, nullptr, nullptr, false, {}, 0,
         "no JSON object"},
        {"secrets, wrong type", {}, set(users), R"({"login_password":"admin","new_passwords":["b0b-Secret"]})", 2, {},
         nullptr, nullptr, false, {}, 0, "new_passwords is not an object"},
        {"secrets, a password no edit names", {}, set(users),
         R"({"login_password":"admin","new_passwords":{"bob":"b0b-Secret","viewer":"x","eve":"v1ew-Secret"}})", 2, {},
         nullptr, nullptr, false, {}, 0, "'eve', which no --add-user or --password names"},
        {"secrets, a password missing", {}, set(users), R"({"login_password":"admin","new_passwords":{"bob":"x"}})", 2,
         {}, nullptr, nullptr, false, {}, 0, "no password for 'viewer'"},
        {"secrets, an unknown key", {}, set(users), R"({"login_pasword":"b0b-Secret"})", 2, {}, nullptr, nullptr, false,
         {}, 0, "unknown key 'login_pasword'"},
        {"secrets, a password Windows-1252 cannot hold", {}, set(users),
         R"({"login_password":"admin","new_passwords":{"bob":"b0b-\u03a9","viewer":"v1ew-Secret"}})", 2, {}, nullptr,
         nullptr, false, {}, 0, "the new password for 'bob' holds a character the camera cannot store"},
        {"secrets, too long", {}, set(users), "{\"login_password\":\"" + std::string(70000, 'p') + "\"}", 2, {}, nullptr,
         nullptr, false, {}, 0, "more than 65536 bytes"},
        {"secrets, only from standard input", {}, set({"--gateway", "127.0.0.1", "--secrets", "secrets.json"}), "", 2,
         {}, nullptr, nullptr, false, {}, 0, "--secrets wants -"},
    };
    for (const Case& c : cases) {
        sim::SimOptions o;
        o.state_file = dir.File("state.bin");
        o.log_file = dir.File("sim.log");
        ::unlink(o.log_file.c_str());
        SimulatedCameras sim(2, o);
        for (const auto& step : c.setup)
            ASSERT_EQ(RunVantoro(sim.Command(step), kAdmin).exit, 0) << c.name;
        const std::string state = ReadText(o.state_file);
        const std::size_t logged = ReadText(o.log_file).size();
        const auto stored = sim.Counters().records_stored;
        const auto resets = sim.Counters().resets;
        WriteFile(input, c.input);
        std::vector<std::string> env = {"XDG_STATE_HOME=" + dir.File("state")};
        if (c.input.empty())
            env.push_back(kAdmin[0]);
        const RunResult r = VantoroProcess(sim.Command(c.args), env, {}, input).Wait();
        EXPECT_EQ(r.exit, c.exit) << c.name << "\n" << r.out << r.err;
        EXPECT_TRUE(Contains(r.err, c.message)) << c.name << ": " << r.err;
        for (const char* secret : {"b0b-Secret", "v1ew-Secret"})
            EXPECT_FALSE(Contains(r.out + r.err + ReadText(dir.File("state") + "/vantoro/changes.jsonl"), secret))
                << c.name;
        // Nothing on the wire: the state file as it was, no record in the log.
        if (!c.sends) {
            EXPECT_EQ(ReadText(o.state_file), state) << c.name;
        }
        EXPECT_EQ(sim.Counters().records_stored > stored, c.sends) << c.name;
        EXPECT_EQ(Contains(ReadText(o.log_file).substr(logged), "stored "), c.sends) << c.name;
        EXPECT_EQ(sim.Counters().resets, resets + (std::string(c.name) == "reset")) << c.name;
        if (c.results.empty()) {
            EXPECT_EQ(r.out, "") << c.name;
            continue;
        }
        // One document, nothing else, on standard output.
        ASSERT_TRUE(json::accept(r.out)) << c.name << "\n" << r.out;
        const json document = json::parse(r.out);
        ASSERT_EQ(document["results"].size(), c.results.size()) << c.name;
        for (std::size_t i = 0; i < c.results.size(); ++i) {
            const json& result = document["results"][i];
            EXPECT_EQ(result["mac"], MacArg(int(i) + 1)) << c.name;
            EXPECT_EQ(result["result"], c.results[i]) << c.name;
            for (const char* key : {"detail", "changes", "verified", "mismatches"})
                EXPECT_TRUE(result.contains(key)) << c.name << ": " << key;
        }
        if (!c.changes.is_null()) {
            EXPECT_EQ(document["results"][0]["changes"], c.changes) << c.name;
        }
        EXPECT_EQ(document["results"][0]["verified"], c.verified) << c.name;
        EXPECT_EQ(document["problems"].size(), c.problems) << c.name;
        for (std::size_t i = 0; i < c.problems; ++i) {
            const json& problem = document["problems"][i];
            EXPECT_EQ(problem["mac"], MacArg(int(i) + 1)) << c.name;
            EXPECT_EQ(problem["field"], "ethernet_ip") << c.name;
            EXPECT_EQ(problem["address"], c.args[0] == "set" ? "192.168.1.11" : "192.168.1.60") << c.name;
            EXPECT_TRUE(Contains(problem["reason"].get<std::string>(), c.message)) << c.name << ": " << problem["reason"];
        }
        if (!c.summary_key.empty()) {
            EXPECT_EQ(document["summary"][c.summary_key], 1) << c.name << "\n" << document["summary"];
        }
    }
}

TEST(CliProgram, EveryWriteIsJournalledAsOneWholeLineWithoutAPassword)
{
    SimulatedCameras sim(3);
    SimulatedCameras other(3);
    ScratchDir dir;
    const std::string journal = dir.File("state") + "/vantoro/changes.jsonl";
    const std::string state = "XDG_STATE_HOME=" + dir.File("state");
    const std::string secret = "n3w-Secret";
    const std::vector<std::string> env = {"VANTORO_PASSWORD=" + secret, state};
    // The admin's password changes first; every later login uses it.
    for (SimulatedCameras* cameras : {&sim, &other})
        for (int camera = 1; camera <= 3; ++camera)
            ASSERT_EQ(RunVantoro(cameras->Command({"set", MacArg(camera), "--login", "admin", "--password", "admin"}),
                                 {"VANTORO_PASSWORD=admin", "VANTORO_NEW_PASSWORD=" + secret, state}).exit, 0);
    ASSERT_EQ(::unlink(journal.c_str()), 0);

    ASSERT_EQ(RunVantoro(sim.Command({"set", MacArg(1), "--login", "admin", "--force", "--ethernet-ip", "10.1.2.3",
                                      "--add-user", "bob", "--permissions", "viewer=none"}),
                         {"VANTORO_PASSWORD=" + secret, "VANTORO_NEW_PASSWORD=bob-Secret", state}).exit, 0);
    const std::string plan = dir.File("plan.csv");
    WriteFile(plan, "mac,gateway\n" + MacArg(1) + ",10.0.0.1\n" + MacArg(2) + ",10.0.0.2\n" + MacArg(3) + ",10.0.0.3\n");
    ASSERT_EQ(RunVantoro(sim.Command({"apply", plan, "--login", "admin", "--force"}), env).exit, 0);
    const std::string backup = dir.File("cam2.json");
    ASSERT_EQ(RunVantoro(sim.Command({"export", MacArg(2), backup}), env).exit, 0);
    // The camera holds the backup already: only --always writes it.
    ASSERT_EQ(RunVantoro(sim.Command({"import", backup, "--login", "admin", "--no-verify", "--always"}), env).exit, 0);
    ASSERT_EQ(RunVantoro(sim.Command({"reset", MacArg(3), "--login", "admin"}), env).exit, 0);

    std::vector<json> lines;
    for (const std::string& line : Lines(ReadText(journal)))
        lines.push_back(json::parse(line));
    ASSERT_EQ(lines.size(), 6u);
    const struct {
        std::string mac, action, result;
    } expected[] = {{MacArg(1), "apply", "verified"}, {MacArg(1), "apply", "verified"},
                    {MacArg(2), "apply", "verified"}, {MacArg(3), "apply", "verified"},
                    {MacArg(2), "import", "applied"}, {MacArg(3), "reset", "no acknowledgement"}};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["program"], "vantoro");
        EXPECT_EQ(lines[i]["login"], "admin");
        EXPECT_EQ(lines[i]["mac"], expected[i].mac) << i;
        EXPECT_EQ(lines[i]["action"], expected[i].action) << i;
        EXPECT_EQ(lines[i]["result"], expected[i].result) << i;
        EXPECT_EQ(lines[i]["address"], "127.0.0.1");
        EXPECT_EQ(lines[i]["time"].get<std::string>().size(), 24u) << lines[i]["time"];
    }
    EXPECT_EQ(lines[0]["changes"], json::parse(R"([
        {"field":"ethernet_ip","before":"192.168.1.10","after":"10.1.2.3"},
        {"field":"permissions of viewer","before":"view","after":"none"},
        {"field":"user bob","before":null,"after":"added"},
        {"field":"permissions of bob","before":null,"after":"none"}])"));
    EXPECT_EQ(lines[2]["changes"], json::parse(R"([{"field":"gateway","before":"192.168.1.1","after":"10.0.0.2"}])"));
    const std::string text = ReadText(journal);
    for (const std::string& password : {secret, std::string("bob-Secret")})
        EXPECT_FALSE(Contains(text, password)) << password;
    struct stat st {};
    ASSERT_EQ(::stat(journal.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir.File("state") + "/vantoro").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Two batches at once: every line whole.
    const std::string plan2 = dir.File("plan2.csv");
    WriteFile(plan2, "mac,gateway\n" + MacArg(1) + ",10.0.1.1\n" + MacArg(2) + ",10.0.1.2\n" + MacArg(3) + ",10.0.1.3\n");
    {
        VantoroProcess one(sim.Command({"apply", plan2, "--login", "admin", "--force"}), env);
        VantoroProcess two(other.Command({"apply", plan, "--login", "admin", "--force"}), env);
        EXPECT_EQ(one.Wait().exit, 0);
        EXPECT_EQ(two.Wait().exit, 0);
    }
    const auto all = Lines(ReadText(journal));
    EXPECT_EQ(all.size(), 12u);
    for (const std::string& line : all)
        EXPECT_TRUE(json::accept(line)) << line;

    // vantoro log: one camera, and a damaged line named.
    std::ofstream(journal, std::ios::app) << "{\"cut off\n";
    const RunResult log = RunVantoro({"log", "--mac", MacArg(3), "--format", "json"}, {state});
    EXPECT_EQ(log.exit, 0) << log.err;
    const json listed = json::parse(log.out);
    ASSERT_EQ(listed.size(), 4u) << log.out; // one camera of each simulator
    EXPECT_EQ(listed[1]["action"], "reset");
    EXPECT_TRUE(Contains(log.err, "line 13 is damaged")) << log.err;
}

// A FIFO or a symlink to /dev/zero at the journal's path: set still writes
// the camera and says once why there is no journal; log refuses, naming it.
TEST(CliProgram, APlantedJournalNeitherHangsNorIsFollowed)
{
    SimulatedCameras sim(1);
    ScratchDir dir;
    const std::string state = "XDG_STATE_HOME=" + dir.File("state");
    const std::string journal = dir.File("state") + "/vantoro/changes.jsonl";
    ASSERT_TRUE(std::filesystem::create_directories(dir.File("state") + "/vantoro"));
    ::chmod((dir.File("state") + "/vantoro").c_str(), 0700);
    const struct {
        const char* what;
        std::function<void()> plant;
        const char* reason;
        const char* gateway;
    } cases[] = {
        {"a FIFO", [&] { ::mkfifo(journal.c_str(), 0600); }, "it is not a regular file", "10.0.0.8"},
        {"a symlink to /dev/zero", [&] { (void)!::symlink("/dev/zero", journal.c_str()); }, "it is a symbolic link",
         "10.0.0.9"},
    };
    for (const auto& c : cases) {
        ::unlink(journal.c_str());
        c.plant();
        const RunResult set = RunVantoro(sim.Command({"set", MacArg(1), "--login", "admin", "--force", "--gateway",
                                                      c.gateway, "--no-verify"}),
                                         {"VANTORO_PASSWORD=admin", state});
        EXPECT_EQ(set.exit, 0) << c.what << set.err;
        EXPECT_EQ(set.err, "vantoro: the journal of changes " + journal + " cannot be written: " + c.reason +
                               "; the change itself goes on\n")
            << c.what;
        const RunResult log = RunVantoro({"log"}, {state});
        EXPECT_EQ(log.exit, 1) << c.what;
        EXPECT_EQ(log.err, "vantoro: cannot read the journal of changes " + journal + ": " + c.reason + "\n") << c.what;
    }
    EXPECT_EQ(GeneralConfigReader(sim.Cameras()[0].records.general.data()).gateway(), 0x0A000009u);
}

// The tool port taken: the run ends before there is anything to report, and
// an old report stays as it was, as it does for a plan that cannot be read.
TEST(CliProgram, ARunThatEndsBeforeReportingLeavesTheOldReport)
{
    SimulatedCameras sim(1);
    ScratchDir dir;
    const std::string report = dir.File("report.json");
    WriteFile(report, "old report\n");
    const std::string plan = dir.File("plan.csv");
    WriteFile(plan, "mac,gateway\n" + MacArg(1) + ",10.0.0.1\n");
    std::vector<std::string> args = sim.Command({"apply", plan, "--login", "admin", "--force", "--report", report});
    sim::testing::UdpEndpoint taken;
    const auto port = std::find(args.begin(), args.end(), "--tool-port");
    ASSERT_NE(port, args.end());
    *(port + 1) = std::to_string(taken.port());
    const RunResult busy = RunVantoro(args, kAdmin);
    EXPECT_EQ(busy.exit, 1) << busy.err;
    EXPECT_EQ(ReadText(report), "old report\n");
    args[1] = dir.File("missing.csv");
    EXPECT_EQ(RunVantoro(args, kAdmin).exit, 2);
    EXPECT_EQ(ReadText(report), "old report\n");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& f : std::filesystem::directory_iterator(dir.File("")))
        ++files;
    EXPECT_EQ(files, 2u) << "no new file left beside the report";
}

TEST(CliProgram, CtrlCAtThePasswordPromptGivesTheTerminalItsEchoBack)
{
    SimulatedCameras sim(1);
    std::vector<std::string> args = sim.Command({VANTORO_PATH, "reset", MacArg(1), "--login", "admin"});
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    char no_interfaces[] = "VANTORO_INTERFACES=";
    char* envp[] = {no_interfaces, nullptr};
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr); // the program's own terminal
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execve(argv[0], argv.data(), envp);
        ::_exit(127);
    }
    std::string shown;
    pollfd ready{terminal, POLLIN, 0};
    while (!Contains(shown, "Password for admin: ") && ::poll(&ready, 1, 10000) == 1) {
        char buffer[256];
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0)
            break;
        shown.append(buffer, std::size_t(n));
    }
    ASSERT_TRUE(Contains(shown, "Password for admin: ")) << shown;
    termios prompt{};
    ASSERT_EQ(::tcgetattr(terminal, &prompt), 0);
    EXPECT_FALSE(prompt.c_lflag & ECHO) << "the password is typed without echo";
    ASSERT_EQ(::write(terminal, "\x03", 1), 1); // Ctrl+C
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    termios after{};
    ASSERT_EQ(::tcgetattr(terminal, &after), 0);
    EXPECT_TRUE(after.c_lflag & ECHO) << "the terminal was left without echo";
    ::close(terminal);
    EXPECT_EQ(sim.Counters().received, 0u);
}

TEST(CliProgram, BadInputIsRefusedBeforeAnythingIsSent)
{
    SimulatedCameras sim(2);
    ScratchDir dir;
    const auto csv = [&](const std::string& name, const std::string& text) {
        WriteFile(dir.File(name), text);
        return dir.File(name);
    };
    const std::string m = MacArg(1);
    const auto Large = [&](const std::string& name) { // far over the input bound, and sparse
        WriteFile(dir.File(name), "");
        EXPECT_EQ(::truncate(dir.File(name).c_str(), 5 << 20), 0);
        return dir.File(name);
    };
    struct Case {
        std::vector<std::string> args;
        const char* message;
        std::vector<std::string> env = kAdmin;
    };
    const std::vector<Case> cases = {
        {{"show", "00:0a:0b:00:00"}, "no hardware address"},
        {{"show", m, "--format", "csv"}, "--format"},
        {{"discover", "--format", "xml"}, "--format"},
        {{"discover", "--wan", "camera.example"}, "'camera.example' is no address"},
        {{"discover", "--wan", "127.0.0.1/33"}, "prefix length over 32"},
        {{"discover", "--wan", "127.0.0.5-127.0.0.1"}, "ends before it starts"},
        {{"discover", "--wan", "127.0.0.1,host.example"}, "'host.example'"},
        {{"discover", "--wan", "127.0.0.0/15"}, "more than a /16"},
        {{"discover", "--rate", "0"}, "--rate"},
        {{"discover", "--targets", csv("targets.txt", "127.0.0.1\n127.0.0.9-127.0.0.2\n")}, "targets.txt:2: "},
        {{"discover", "--targets", csv("empty.txt", "# nothing\n")}, "names no address"},
        {{"show", m, "--wan", "127.0.0.0/24"}, "--wan wants a dotted IPv4 address like"},
        {{"set", m, "--login", "admin", "--gateway", "10.0.0.1", "--wan", "127.0.0.0/8"}, "give --force"},
        {{"discover", "--wait", "-5"}, "--wait"},
        {{"discover", "--retries", "1000"}, "--retries"},
        {{"set", m, "--ethernet-ip", "10.0.0.1"}, "--login"},
        {{"set", m, "--login", "admin"}, "at least one edit"},
        {{"set", m, "--login", "admin", "--ethernet-ip", "10.0.0"}, "'10.0.0'"},
        {{"set", m, "--login", "admin", "--gateway", "10.0.0.01"}, "'10.0.0.01'"},
        {{"set", m, "--login", "admin", "--server", "yes"}, "'yes'"},
        {{"set", m, "--login", "admin", "--permissions", "bob=all"}, "'bob=all'"},
        {{"set", m, "--login", "admin", "--add-domain", "x.example=host"}, "'x.example=host'"},
        {{"set", m, "--login", "admin", "--add-user", std::string(32, 'u')}, "at most 31"},
        {{"set", m, "--login", "admin", "--add-user", "bob"}, "at most 19",
         {"VANTORO_PASSWORD=admin", "VANTORO_NEW_PASSWORD=" + std::string(20, 'p')}},
        {{"set", m, "--login", "admin", "--add-user", "bob"}, "VANTORO_NEW_PASSWORD"},
        {{"set", m, "--login", "admin", "--password", "viewer"}, "VANTORO_NEW_PASSWORD"},
        {{"set", m, "--login", "admin", "--camera-name", "5=x"}, "'5=x'"},
        {{"set", m, "--login", "admin", "--camera-name", "Entrance"}, "N=TEXT with N from 1 to 4"},
        {{"set", m, "--login", "admin", "--camera-name", "1=" + std::string(164, 'n')}, "at most 163"},
        {{"set", m, "--login", "admin", "--camera-name", "4=" + std::string(160, 'n')}, "at most 159"},
        // Windows-1252: a character it cannot hold is refused, and lengths count characters.
        {{"set", m, "--login", "admin", "--camera-name", "1=Gate \xCE\xA9"},
         "camera_name_1 'Gate \xCE\xA9' holds '\xCE\xA9', which the camera cannot store: camera texts are Windows-1252"},
        {{"set", m, "--login", "admin", "--camera-name", "1=Caf\xE9"}, "holds '\\xE9', which the camera cannot store"},
        {{"apply", csv("omega.csv", "mac,camera_name_2\n" + m + ",\xCE\xA9\n"), "--login", "admin"},
         "line 2, column camera_name_2"},
        {{"set", m, "--login", "admin", "--camera-name", "4=" + [] {
              std::string e;
              for (int i = 0; i < 160; ++i)
                  e += "\xC3\xA9";
              return e;
          }()},
         "is 160 characters long; the camera holds at most 159"},
        {{"set", m, "--login", "admin", "--add-user", "J\xCE\xA9"},
         "--add-user 'J\xCE\xA9' holds '\xCE\xA9', which the camera cannot store: camera texts are Windows-1252"},
        {{"set", m, "--login", "admin", "--delete-user", "\xCE\xA9"}, "--delete-user '\xCE\xA9' holds"},
        {{"set", m, "--login", "admin", "--password", "\xCE\xA9"}, "--password '\xCE\xA9' holds"},
        {{"set", m, "--login", "admin", "--permissions", "\xCE\xA9=view"}, "--permissions '\xCE\xA9' holds"},
        {{"set", m, "--login", "admin", "--delete-domain", "\xCE\xA9.example"}, "--delete-domain '\xCE\xA9.example' holds"},
        {{"set", m, "--login", "admin", "--add-domain", "\xCE\xA9.example=10.0.0.1"}, "--add-domain '\xCE\xA9.example' holds"},
        {{"set", m, "--login", "\xCE\xA9", "--gateway", "10.0.0.1"}, "--login '\xCE\xA9' holds"},
        {{"reset", m, "--login", "\xCE\xA9"}, "--login '\xCE\xA9' holds"},
        {{"set", m, "--login", "admin", "--gateway", "10.0.0.1"},
         "the login password holds a character the camera cannot store: camera texts are Windows-1252; nothing was sent",
         {"VANTORO_PASSWORD=adm\xCE\xA9n"}},
        {{"set", m, "--login", "admin", "--add-user", "bob"}, "the new password for 'bob' holds a character",
         {"VANTORO_PASSWORD=admin", "VANTORO_NEW_PASSWORD=pass\xCE\xA9"}},
        {{"set", m, "--login", "admin", "--add-user", [] {
              std::string e;
              for (int i = 0; i < 32; ++i)
                  e += "\xC3\xA9";
              return e;
          }()},
         "is 32 characters long; the camera holds at most 31"},
        {{"set", m, "--login", "admin", "--camera-name", "2=a", "--camera-name", "2=b"}, "given twice"},
        {{"set", m, "--login", "admin", "--ethernet-ip", "10.0.0.1"}, "VANTORO_PASSWORD", {}},
        {{"apply", csv("unknown.csv", "mac,ip\n" + m + ",10.0.0.1\n"), "--login", "admin"}, "unknown column 'ip'"},
        {{"apply", csv("nomac.csv", "ethernet_ip\n10.0.0.1\n"), "--login", "admin"}, "no mac column"},
        {{"apply", csv("spare.csv", "mac,ethernet_ip\n" + m + ",10.0.0.1\n"), "--login", "admin", "--spare", "10.0.0"},
         "--spare '10.0.0' is no address"},
        {{"apply", csv("dup.csv", "mac,gateway\n" + m + ",10.0.0.1\n00 0A 0B 00 00 01,10.0.0.2\n"), "--login", "admin"},
         "appears again (first on line 2)"},
        {{"apply", csv("cell.csv", "mac,server\n" + m + ",maybe\n"), "--login", "admin"}, "line 2, column server"},
        {{"apply", csv("wide.csv", "mac,camera_name_4\n" + m + "," + std::string(160, 'n') + "\n"), "--login", "admin"},
         "column camera_name_4: camera_name_4 'nnn"},
        {{"apply", csv("password.csv", "mac,password\n" + m + ",secret\n"), "--login", "admin"},
         "unknown column 'password'"},
        {{"apply", csv("badmac.csv", "mac\nzz:0a:0b:00:00:01\n"), "--login", "admin"}, "'zz:0a:0b:00:00:01'"},
        {{"apply", csv("short.csv", "mac,gateway\n" + m + "\n"), "--login", "admin"}, "line 2: 1 fields"},
        {{"apply", csv("quote.csv", "mac,gateway\n\"" + m + ",10.0.0.1\n"), "--login", "admin"}, "not valid CSV"},
        {{"apply", dir.File("missing.csv"), "--login", "admin"}, "cannot read"},
        // A quoted cell may span lines: the line is the file's, not the record's.
        {{"apply", csv("multiline.csv", "mac,firmware,gateway\n" + m + ",\"a\nb\",10.0.0.1\n00:0a:0b:00:00:02,x,10.0.0\n"),
          "--login", "admin"},
         "line 4, column gateway"},
        {{"apply", csv("badquote.csv", "mac,firmware\n" + m + ",\"a\nb\"c\"\n"), "--login", "admin"}, "line 3: not valid CSV"},
        {{"apply", Large("large.csv"), "--login", "admin"}, "is larger than"},
        {{"apply", csv("few.csv", "mac,gateway\n" + m + ",10.0.0.1\n"), "--login", "admin", "--parallel", "0"},
         "--parallel wants a number of cameras from 1 to 256"},
        {{"apply", csv("many.csv", "mac,gateway\n" + m + ",10.0.0.1\n"), "--login", "admin", "--parallel", "257"},
         "--parallel wants"},
        {{"apply", csv("fast.csv", "mac,gateway\n" + m + ",10.0.0.1\n"), "--login", "admin", "--parallel", "fast"},
         "--parallel wants a number of cameras from 1 to 256, or auto"},
        {{"apply", csv("rate.csv", "mac,gateway\n" + m + ",10.0.0.1\n"), "--login", "admin", "--max-rate", "0"},
         "--max-rate wants records per second from 1 to 1000000"},
        {{"set", m, "--login", "admin", "--gateway", "10.0.0.1", "--verify-wait", "-1"}, "--verify-wait wants"},
        {{"import", csv("none.json", "{}"), "--login", "admin", "--verify-wait", "3600001"}, "--verify-wait wants"},
        {{"discover", "--targets", Large("large.txt")}, "is larger than"},
        // An empty --wan would silently mean LAN mode.
        {{"discover", "--wan", ""}, "empty value would mean LAN mode"},
        {{"show", m, "--wan", ""}, "empty value would mean LAN mode"},
        {{"discover", "--targets", ""}, "empty value would mean LAN mode"},
        // WAN mode never sends to multicast, class E or the limited broadcast.
        {{"show", m, "--wan", "255.255.255.255"}, "multicast, class E or broadcast"},
        {{"show", m, "--wan", "224.0.0.251"}, "multicast, class E or broadcast"},
        {{"discover", "--wan", "239.255.255.250", "--force"}, "reaches into 224.0.0.0/3"},
        {{"discover", "--wan", "0.0.0.0/0", "--force"}, "reaches into 224.0.0.0/3"},
        {{"set", m, "--login", "admin", "--gateway", "10.0.0.1", "--wan", "127.0.0.1,240.0.0.1"}, "'240.0.0.1' reaches"},
        {{"discover", "--targets", csv("class_e.txt", "127.0.0.1\n223.255.255.250-255.255.255.255\n")}, "class_e.txt:2: "},
        {{"bogus"}, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> command = sim.Command(c.args);
        // A case with a --wan of its own goes without the camera's.
        if (std::find(c.args.begin(), c.args.end(), "--wan") != c.args.end()) {
            const auto camera_wan = std::find(command.begin() + long(c.args.size()), command.end(), "--wan");
            command.erase(camera_wan, camera_wan + 2);
        }
        const RunResult r = RunVantoro(command, c.env);
        EXPECT_EQ(r.exit, 2) << c.args[0] << " " << (c.args.size() > 1 ? c.args.back() : "") << "\n" << r.out << r.err;
        EXPECT_TRUE(Contains(r.err, c.message)) << "wanted '" << c.message << "' in: " << r.err;
        EXPECT_FALSE(Contains(r.err, "\xCE\xA9n")) << "a password shown: " << r.err;
    }
    EXPECT_EQ(sim.Counters().received, 0u) << "a refused command sent a frame";

    // Checks that need the camera's tables: still nothing sent.
    const std::vector<Case> table_cases = {
        {{"--delete-user", "nobody"}, "no user named 'nobody' to delete"},
        {{"--delete-user", "J\xC3\xB6rg"}, "no user named 'J\xC3\xB6rg' to delete"},
        {{"--password", "nobody"}, "no user named 'nobody' for --password",
         {"VANTORO_PASSWORD=admin", "VANTORO_NEW_PASSWORD=secret"}},
    };
    for (const Case& c : table_cases) {
        std::vector<std::string> args = {"set", m, "--login", "admin"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = RunVantoro(sim.Command(args), c.env);
        EXPECT_EQ(r.exit, 2) << c.args[0];
        EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
        EXPECT_TRUE(Contains(r.err, "nothing was sent")) << r.err;
    }
    EXPECT_EQ(sim.Counters().set_requests, 0u);
}

} // namespace
} // namespace vantoro::cli::testing
