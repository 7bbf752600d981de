// The command line's own texts: sweep targets, base64, tables that fit 100
// columns, and the record edits' checks.

#include "cli/front_end.h"
#include "cli/table.h"
#include "ops/base64.h"
#include "ops/change_journal.h"
#include "ops/journal_log.h"
#include "ops/record_edits.h"
#include "ops/sweep_targets.h"
#include "ops/text_forms.h"
#include "ops/verify_records.h"
#include "link/records.h"
#include "util/strict_address.h"

#include <gtest/gtest.h>

#include "../tools/sim_test_support.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <functional>
#include <tuple>
#include <unistd.h>

using namespace vantoro;
using namespace vantoro::cli;

TEST(CliTexts, SweepTargetsInEveryFormEachAddressOnce)
{
    struct Case {
        const char* list;
        std::uint64_t count;
        const char* first;
        const char* last;
        std::size_t ranges;
    };
    for (const Case& c : std::vector<Case>{
             {"10.20.0.5", 1, "10.20.0.5", "10.20.0.5", 1},
             {"10.20.0.0/22", 1022, "10.20.0.1", "10.20.3.254", 1}, // no network, no broadcast address
             {"10.20.1.77/22", 1022, "10.20.0.1", "10.20.3.254", 1}, // host bits ignored
             {"10.20.0.0/31", 2, "10.20.0.0", "10.20.0.1", 1},
             {"10.20.0.7/32", 1, "10.20.0.7", "10.20.0.7", 1},
             {"10.20.0.10-10.20.0.99", 90, "10.20.0.10", "10.20.0.99", 1},
             {"10.20.0.9-10.20.0.9", 1, "10.20.0.9", "10.20.0.9", 1},
             {"10.0.0.9, 10.0.0.1-10.0.0.3 ,10.0.0.2", 4, "10.0.0.1", "10.0.0.9", 2}, // sorted, overlap merged
             {"10.0.0.3-10.0.0.6,10.0.0.0/30", 6, "10.0.0.1", "10.0.0.6", 1}, // adjacent ranges joined
             {"223.255.255.254-223.255.255.255,0.0.0.0", 3, "0.0.0.0", "223.255.255.255", 2},
             {"0.0.0.0/1", 2147483646u, "0.0.0.1", "127.255.255.254", 1},
         }) {
        SweepTargets t;
        ASSERT_FALSE(t.AddList(c.list)) << c.list;
        EXPECT_EQ(t.count(), c.count) << c.list;
        EXPECT_EQ(AddressText(t.at(0)), c.first) << c.list;
        EXPECT_EQ(AddressText(t.at(c.count - 1)), c.last) << c.list;
        EXPECT_EQ(t.ranges().size(), c.ranges) << c.list;
    }
    SweepTargets gaps;
    ASSERT_FALSE(gaps.AddList("10.0.0.1-10.0.0.2,10.0.1.5"));
    EXPECT_EQ(AddressText(gaps.at(2)), "10.0.1.5") << "the index runs on across ranges";

    for (const auto& [bad, message] : std::vector<std::pair<const char*, const char*>>{
             {"10.0.0.0/33", "prefix length over 32"},
             {"10.0.0.5-10.0.0.1", "ends before it starts"},
             {"host.example", "'host.example' is no address"},
             {"10.0.0.0/", "no CIDR range"},
             {"10.0.0.0/08", "no CIDR range"},
             {"10.0.0.0/2x", "no CIDR range"},
             {"10.0.0/24", "no CIDR range"},
             {"10.0.0.1-", "no dash range"},
             {"10.0.0.1-10.0.0.2-10.0.0.3", "no dash range"},
             {"10.0.0.1,,10.0.0.2", "'' is no address"},
             {"10.0.0.1,host.example", "'host.example'"},
             // Multicast, class E and the limited broadcast, named or within a range.
             {"224.0.0.1", "reaches into 224.0.0.0/3"},
             {"239.255.255.250", "reaches into 224.0.0.0/3"},
             {"255.255.255.255", "reaches into 224.0.0.0/3"},
             {"240.0.0.0/4", "reaches into 224.0.0.0/3"},
             {"0.0.0.0/0", "reaches into 224.0.0.0/3"},
             {"223.255.255.0-224.0.0.0", "reaches into 224.0.0.0/3"},
         }) {
        SweepTargets t;
        const auto error = t.AddList(bad);
        ASSERT_TRUE(error) << bad;
        EXPECT_NE(error->find(message), std::string::npos) << *error;
    }

    sim::testing::ScratchDir dir;
    const std::string path = dir.File("targets.txt");
    std::ofstream(path) << "# site A\n10.0.0.0/30\n\n  10.0.1.1 \r\n";
    SweepTargets from_file;
    ASSERT_FALSE(from_file.AddFile(path));
    EXPECT_EQ(from_file.count(), 3u);
    std::ofstream(path) << "10.0.0.1\n# fine\n10.0.0.5-10.0.0.1\n";
    const auto error = SweepTargets().AddFile(path);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->rfind(path + ":3: ", 0), 0u) << *error;
    EXPECT_TRUE(SweepTargets().AddFile(dir.File("missing.txt")));
    EXPECT_EQ(SweepTargets().AddFileText("10.0.0.1\n\n\"x\"\n", "t.txt"), "t.txt:3: '\"x\"' is no address like "
              "10.20.0.5, CIDR range like 10.20.0.0/22 or dash range like 10.20.0.10-10.20.0.99");
    // Too large to be a targets file: refused before it is read.
    ASSERT_EQ(::truncate(path.c_str(), 5 << 20), 0);
    const auto large = SweepTargets().AddFile(path);
    ASSERT_TRUE(large);
    EXPECT_NE(large->find("is larger than"), std::string::npos) << *large;
}

TEST(CliTexts, RangesSkipTheNetworkAndBroadcastAddressesOfAttachedSubnets)
{
    const std::vector<AttachedSubnet> attached = {{0x0A000105, 0xFFFFFF00}, // 10.0.1.0/24
                                                  {0x0A000203, 0xFFFFFFFE}, // a /31: both are hosts
                                                  {0xC0A80001, 0xFFFF0000}}; // 192.168.0.0/16
    for (const auto& [list, count, shown] : std::vector<std::tuple<const char*, std::uint64_t, const char*>>{
             {"10.0.0.250-10.0.2.5", 266, "10.0.0.250-10.0.0.255,10.0.1.1-10.0.1.254,10.0.2.0-10.0.2.5"},
             {"10.0.1.255", 1, "10.0.1.255-10.0.1.255"}, // named alone: the user's choice
             {"10.0.1.0/24", 254, "10.0.1.1-10.0.1.254"},
             {"10.0.2.2-10.0.2.3", 2, "10.0.2.2-10.0.2.3"},
             {"192.168.0.0-192.168.0.1,192.168.255.255-192.168.255.255", 2, "192.168.0.1-192.168.0.1,192.168.255.255-192.168.255.255"},
         }) {
        SweepTargets t;
        ASSERT_FALSE(t.AddList(list)) << list;
        t.SkipSubnetEnds(attached);
        std::string text;
        for (const AddressRange& r : t.ranges())
            text += (text.empty() ? "" : ",") + AddressText(r.first) + "-" + AddressText(r.last);
        EXPECT_EQ(text, shown) << list;
        EXPECT_EQ(t.count(), count) << list;
    }
}

TEST(CliTexts, Base64RoundTripsEveryByteAndRefusesDamage)
{
    std::vector<std::uint8_t> bytes(256);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i);
    for (std::size_t n : {0u, 1u, 2u, 3u, 256u})
        EXPECT_EQ(Base64Decode(Base64Encode(bytes.data(), n)), std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + long(n)));
    EXPECT_EQ(Base64Encode(reinterpret_cast<const std::uint8_t*>("ab"), 2), "YWI=");
    for (const char* bad : {"YWI", "YW=I", "Y===", "YWI*", "=AAA"})
        EXPECT_FALSE(Base64Decode(bad)) << bad;
}

TEST(CliTexts, TablesAreAlignedAndFitTheWidth)
{
    Table t({"NAME", "ADDRESS"});
    t.AddRow({"short", "10.0.0.1"});
    t.AddRow({std::string(150, 'x'), "10.0.0.2"});
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    t.Print(out, 60);
    std::fclose(out);
    const std::string printed(text, size);
    std::free(text);
    std::size_t start = 0, column = std::string::npos;
    for (std::size_t end; (end = printed.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = printed.substr(start, end - start);
        EXPECT_LE(line.size(), 60u) << line;
        const std::size_t at = line.find("10.0.0") != std::string::npos ? line.find("10.0.0") : line.find("ADDRESS");
        if (column == std::string::npos)
            column = at;
        EXPECT_EQ(at, column) << "columns out of line: " << line;
    }
    EXPECT_NE(printed.find("~"), std::string::npos) << "the cut cell is marked";
}

TEST(CliEdits, TextsThatDoNotFitTheirFieldsAreRefused)
{
    const auto refused = [](RecordEdits e) { return CheckTextLengths(e).has_value(); };
    RecordEdits fits;
    fits.add_users = {{std::string(31, 'u'), std::string(19, 'p')}};
    fits.add_domains = {{std::string(79, 'd'), "255.255.255.255"}};
    fits.passwords = {{"viewer", std::string(19, 'p')}};
    fits.general.camera_names = {std::string(163, 'n'), "", std::nullopt, std::string(159, 'n')};
    EXPECT_FALSE(refused(fits));
    RecordEdits e;
    e.add_users = {{std::string(32, 'u'), "p"}};
    EXPECT_TRUE(refused(e));
    e.add_users = {{"u", std::string(20, 'p')}};
    EXPECT_TRUE(refused(e));
    e.add_users = {{"", "p"}};
    EXPECT_TRUE(refused(e));
    e = {};
    e.add_domains = {{std::string(80, 'd'), "1.2.3.4"}};
    EXPECT_TRUE(refused(e));
    e = {};
    e.permissions = {{std::string(32, 'u'), {}}};
    EXPECT_TRUE(refused(e));
    e = {};
    e.passwords = {{"viewer", std::string(20, 'p')}};
    EXPECT_TRUE(refused(e));
    e.passwords = {{"", "p"}};
    EXPECT_TRUE(refused(e));
    e = {};
    e.general.camera_names[2] = std::string(164, 'n');
    EXPECT_TRUE(refused(e));
    e.general.camera_names[2].reset();
    e.general.camera_names[3] = std::string(160, 'n');
    EXPECT_TRUE(refused(e));
}

TEST(CliEdits, ChangesNameFieldsAndRowsButNeverShowAPassword)
{
    CameraSnapshot before;
    before.general.emplace();
    before.user.emplace();
    before.domain.emplace();
    UserConfig(before.user->data()).AddUser("admin", "topsecret");
    CameraSnapshot after = before;
    RecordEdits e;
    e.general[NetworkFieldId::EthernetIp] = 0x0A000001;
    e.add_users = {{"bob", "hunter22"}};
    e.permissions = {{"BOB", {true, false}}};
    e.passwords = {{"ADMIN", "newsecret"}};
    e.general.camera_names[2] = "Gate";
    ASSERT_FALSE(ApplyEdits(e, after));
    std::string all;
    for (const Change& c : DescribeWrite(before, after).changes)
        all += c.Line() + "\n";
    EXPECT_EQ(all, "ethernet_ip: 0.0.0.0 -> 10.0.0.1\ncamera_name_3: '' -> 'Gate'\npassword of admin: changed\n"
                   "user bob: added\npermissions of bob: view\n");
    for (const char* secret : {"hunter22", "topsecret", "newsecret"})
        EXPECT_EQ(all.find(secret), std::string::npos) << secret;

    // The journal's words: users and domains by name, a password only as changed.
    DomainConfig(before.domain->data()).AddDomain("ntp", "10.0.0.5");
    DomainConfig(before.domain->data()).AddDomain("old", "10.0.0.6");
    CameraSnapshot journalled = after;
    journalled.domain = before.domain;
    DomainConfig(journalled.domain->data()).DeleteByName("old");
    DomainConfig(journalled.domain->data()).AddDomain("new", "10.0.0.7");
    const std::vector<JournalChange> expected = {
        {"ethernet_ip", "0.0.0.0", "10.0.0.1", ChangeKind::Network},
        {"camera_name_3", "", "Gate", ChangeKind::CameraName},
        {"password of admin", std::nullopt, std::nullopt, ChangeKind::Password},
        {"user bob", std::nullopt, "added", ChangeKind::UserAdded},
        {"permissions of bob", std::nullopt, "view", ChangeKind::Permissions},
        {"domain old", std::nullopt, "deleted", ChangeKind::DomainDeleted},
        {"domain new", std::nullopt, "added", ChangeKind::DomainAdded},
        {"address of new", std::nullopt, "10.0.0.7", ChangeKind::DomainAddress}};
    EXPECT_EQ(DescribeWrite(before, journalled).changes, expected);
    JournalEntry entry = WriteEntry(before, journalled, "admin", "apply");
    const std::string line = JournalLine(entry);
    for (const char* secret : {"hunter22", "topsecret", "newsecret"})
        EXPECT_EQ(line.find(secret), std::string::npos) << secret;

    RecordEdits missing;
    missing.delete_users = {"nobody"};
    EXPECT_TRUE(ApplyEdits(missing, after));
    missing = {};
    missing.passwords = {{"nobody", "x"}};
    EXPECT_TRUE(ApplyEdits(missing, after));
}

TEST(CliTexts, JournalLinesAreReadBackByCameraAndTimeAndDamageIsNamed)
{
    const struct {
        const char* text;
        std::optional<std::int64_t> ms;
    } times[] = {{"2026-12-07", 1796601600000},
                 {"2026-12-07T10:30", 1796639400000},
                 {"2026-12-07 10:30:05.25Z", 1796639405250},
                 {"2026-12-07T10:30+01:00", 1796635800000},
                 {"2028-02-29", 1835395200000},
                 {"2026-02-29", std::nullopt},
                 {"2026-12-07T24:00", std::nullopt},
                 {"2026-12-7", std::nullopt},
                 {"2026-12-07T10:30x", std::nullopt},
                 {"", std::nullopt}};
    for (const auto& t : times)
        EXPECT_EQ(ParseIsoTime(t.text), t.ms) << t.text;

    std::istringstream file(R"({"time":"2026-12-07T10:00:00.000Z","mac":"00:0a:0b:00:00:01","result":"applied"}
not json
{"time":"2026-12-08T09:00:00.000Z","mac":"00:0a:0b:00:00:02"}

{"time":"yesterday","mac":"00:0a:0b:00:00:01"}
{"time":"2026-12-09T09:00:00.000Z","mac":"00:0a:0b:00:00:01"}
)");
    JournalFilter filter;
    filter.mac = MacAddress{0x00, 0x0a, 0x0b, 0x00, 0x00, 0x01};
    filter.since_ms = ParseIsoTime("2026-12-08");
    const JournalRead read = ReadJournal(file, filter);
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_EQ(read.entries[0]["time"], "2026-12-09T09:00:00.000Z");
    EXPECT_EQ(read.damaged, (std::vector<std::size_t>{2, 5}));
}

TEST(CliEdits, ASwitchThatAlreadyReadsAsAskedKeepsTheCamerasWord)
{
    CameraSnapshot camera;
    camera.general.emplace();
    StoreLe32(camera.general->data() + general_layout::server_on, 2); // some cameras say on with 2
    for (const auto& [server, word] : {std::pair{true, 2u}, std::pair{false, 0u}}) {
        CameraSnapshot edited = camera;
        RecordEdits e;
        e.general[NetworkFieldId::Server] = server ? 1 : 0;
        e.general[NetworkFieldId::Bootp] = 0;
        ASSERT_FALSE(ApplyEdits(e, edited));
        EXPECT_EQ(LoadLe32(edited.general->data() + general_layout::server_on), word) << server;
    }
}

TEST(CliVerify, OnlyWhatWasWrittenIsComparedAndEveryDifferenceIsNamed)
{
    CameraSnapshot before;
    before.general.emplace();
    before.user.emplace();
    before.domain.emplace();
    UserConfig(before.user->data()).AddUser("admin", "topsecret");
    CameraSnapshot sent = before;
    RecordEdits e;
    e.general[NetworkFieldId::EthernetIp] = 0x0A000007;
    e.passwords = {{"admin", "newsecret"}};
    ASSERT_FALSE(ApplyEdits(e, sent));
    struct Case {
        const char* name;
        std::function<void(CameraSnapshot&)> camera; // what the camera does to what was sent
        bool whole;
        std::string mismatches;
    };
    const Case cases[] = {
        {"kept", [](CameraSnapshot&) {}, false, ""},
        {"a byte nobody wrote differs", [](CameraSnapshot& c) { (*c.general)[900] ^= 1; }, false, ""},
        {"the same byte in a restored backup", [](CameraSnapshot& c) { (*c.general)[900] ^= 1; }, true,
         "general record byte 900 sent 0x00, camera reports 0x01"},
        {"the header is the camera's", [](CameraSnapshot& c) { SetFrameReplyMode(*c.general, 1); }, true, ""},
        {"address kept old", [&](CameraSnapshot& c) { c.general = before.general; }, false,
         "ethernet_ip sent 10.0.0.7, camera reports 0.0.0.0"},
        {"password kept old", [&](CameraSnapshot& c) { c.user = before.user; }, false,
         "password of admin sent ***, camera reports another"},
        {"a row of its own", [](CameraSnapshot& c) { UserConfig(c.user->data()).AddUser("eve", "x"); }, true,
         "user row 1 sent (free), camera reports eve none"},
    };
    for (const Case& c : cases) {
        CameraSnapshot reported = sent;
        c.camera(reported);
        const std::string text = MismatchText(CompareWritten(before, sent, reported, c.whole));
        EXPECT_EQ(text, c.mismatches) << c.name;
        for (const char* secret : {"topsecret", "newsecret"})
            EXPECT_EQ(text.find(secret), std::string::npos) << c.name;
    }
}
