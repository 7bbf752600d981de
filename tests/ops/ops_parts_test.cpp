// The operations layer's own texts and checks: sweep targets, base64, the
// record edits' checks and change lines, the journal file and its reader, and
// what verification compares.

#include "ops/base64.h"
#include "ops/change_journal.h"
#include "ops/csv_io.h"
#include "ops/journal_file.h"
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
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sstream>
#include <functional>
#include <tuple>
#include <unistd.h>

using namespace vantoro;
using namespace vantoro::ops;

TEST(OpsTexts, SweepTargetsInEveryFormEachAddressOnce)
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
        EXPECT_EQ(t.at(0).text(), c.first) << c.list;
        EXPECT_EQ(t.at(c.count - 1).text(), c.last) << c.list;
        EXPECT_EQ(t.ranges().size(), c.ranges) << c.list;
    }
    SweepTargets gaps;
    ASSERT_FALSE(gaps.AddList("10.0.0.1-10.0.0.2,10.0.1.5"));
    EXPECT_EQ(gaps.at(2).text(), "10.0.1.5") << "the index runs on across ranges";

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

TEST(OpsTexts, RangesSkipTheNetworkAndBroadcastAddressesOfAttachedSubnets)
{
    const std::vector<AttachedSubnet> attached = {{Ipv4Address(0x0A000105), 0xFFFFFF00}, // 10.0.1.0/24
                                                  {Ipv4Address(0x0A000203), 0xFFFFFFFE}, // a /31: both are hosts
                                                  {Ipv4Address(0xC0A80001), 0xFFFF0000}}; // 192.168.0.0/16
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
            text += (text.empty() ? "" : ",") + r.first.text() + "-" + r.last.text();
        EXPECT_EQ(text, shown) << list;
        EXPECT_EQ(t.count(), count) << list;
    }
}

TEST(OpsTexts, Base64RoundTripsEveryByteAndRefusesDamage)
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

TEST(OpsEdits, TextsThatDoNotFitTheirFieldsAreRefused)
{
    const auto refused = [](RecordEdits e) { return bool(CheckTextLengths(e)); };
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

TEST(OpsEdits, ChangesNameFieldsAndRowsButNeverShowAPassword)
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

TEST(OpsTexts, JournalLinesAreReadBackByCameraAndTimeAndDamageIsNamed)
{
    const struct {
        const char* text;
        std::optional<std::int64_t> ms;
    } times[] = {{"2026-12-07", 1796601600000},
                 {"2026-12-07T10:30", 1796639400000},
                 {"2026-12-07 10:30:05.25Z", 1796639405250},
                 {"2026-12-07T10:30+01:00", 1796635800000},
                 {"2026-12-07T10:30+0100", 1796635800000},
                 {"2026-12-07T10:30+01", 1796635800000},
                 {"2026-12-07t10:30:00-0230z", std::nullopt},
                 {"2026-12-07t10:30:00-0230", 1796648400000},
                 {"2026-12-07T10:30+1", std::nullopt},
                 {"2026-12-07T10:30+01:0", std::nullopt},
                 {"2026-12-07T10:30+010", std::nullopt},
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
{"time":"2026-12-10T09:00:00.000Z","mac":"00:0a:0b:00:00:01","changes":[{"field":"na{"time":"2026-12-11T09:00:00.000Z","mac":"00:0a:0b:00:00:01"}
)" + std::string(kJournalLineLimit + 1, ' ') + "\n" +
                            // Nested 200,000 deep; a crash of the stack before it was bounded.
                            R"({"time":"2026-12-11T09:00:00.000Z","mac":"00:0a:0b:00:00:01","x":)" +
                            std::string(200000, '[') + std::string(200000, ']') + "}\n" +
                            R"({"time":"2026-12-12T09:00:00.000Z","mac":"00:0a:0b:00:00:01","x":"[[[[[[[[[[[[[[[[[["})");
    JournalFilter filter;
    filter.mac = MacAddress{0x00, 0x0a, 0x0b, 0x00, 0x00, 0x01};
    filter.since_ms = ParseIsoTime("2026-12-08");
    const JournalRead read = ReadJournal(file, filter);
    ASSERT_EQ(read.entries.size(), 3u);
    EXPECT_EQ(read.entries[0]["time"], "2026-12-09T09:00:00.000Z");
    // The whole line glued to a cut-off one is still read.
    EXPECT_EQ(read.entries[1]["time"], "2026-12-11T09:00:00.000Z");
    EXPECT_EQ(read.entries[2]["time"], "2026-12-12T09:00:00.000Z");
    EXPECT_EQ(read.damaged, (std::vector<std::size_t>{2, 5, 7, 8, 9}));
    EXPECT_EQ(read.why, (std::vector<std::string>{"is damaged", "is damaged", "is damaged", "is longer than 1 MiB",
                                                   "is nested too deeply"}));
    EXPECT_EQ(read.error, "");
}

// Whatever is planted at the journal's path is refused, with the reason, and
// never blocks or is written through; the writer says so once.
TEST(OpsTexts, AJournalPathThatIsNotTheUsersOwnIsRefusedWithoutBlocking)
{
    const bool root = ::geteuid() == 0;
    const struct Case {
        const char* what;
        std::function<void(const std::string& state)> plant;
        const char* reason;
        bool needs_root;
    } cases[] = {
        {"a FIFO", [](const std::string& s) { ::mkfifo((s + "/vantoro/changes.jsonl").c_str(), 0600); },
         "it is not a regular file", false},
        {"a symlink to /dev/zero", [](const std::string& s) { (void)!::symlink("/dev/zero", (s + "/vantoro/changes.jsonl").c_str()); },
         "it is a symbolic link", false},
        {"a symlink to another file",
         [](const std::string& s) { (void)!::symlink((s + "/victim").c_str(), (s + "/vantoro/changes.jsonl").c_str()); },
         "it is a symbolic link", false},
        {"a symlinked folder",
         [](const std::string& s) {
             ::rmdir((s + "/vantoro").c_str());
             ::mkdir((s + "/elsewhere").c_str(), 0700);
             (void)!::symlink((s + "/elsewhere").c_str(), (s + "/vantoro").c_str());
         },
         "/vantoro is a symbolic link", false},
        {"a folder writable by others", [](const std::string& s) { ::chmod((s + "/vantoro").c_str(), 0777); },
         "/vantoro is writable by others (mode 0777)", false},
        {"a file writable by others",
         [](const std::string& s) {
             std::ofstream(s + "/vantoro/changes.jsonl") << "victim\n";
             ::chmod((s + "/vantoro/changes.jsonl").c_str(), 0666);
         },
         "it is writable by others (mode 0666)", false},
        {"a folder of another user", [](const std::string& s) { (void)!::chown((s + "/vantoro").c_str(), 65534, 65534); },
         "/vantoro belongs to another user (uid 65534)", true},
        {"a file of another user",
         [](const std::string& s) {
             std::ofstream(s + "/vantoro/changes.jsonl") << "victim\n";
             (void)!::chown((s + "/vantoro/changes.jsonl").c_str(), 65534, 65534);
         },
         "it belongs to another user (uid 65534)", true},
    };
    JournalEntry entry;
    entry.action = "apply";
    for (const Case& c : cases) {
        if (c.needs_root && !root)
            continue;
        sim::testing::ScratchDir dir;
        const std::string state = dir.File("state");
        ASSERT_EQ(::mkdir(state.c_str(), 0700), 0);
        ASSERT_EQ(::mkdir((state + "/vantoro").c_str(), 0700), 0);
        std::ofstream(state + "/victim") << "victim\n";
        c.plant(state);
        const std::string path = state + "/vantoro/changes.jsonl";

        ChangeJournal journal(path);
        const auto error = journal.Append(entry);
        ASSERT_TRUE(error) << c.what;
        EXPECT_NE(error->find(c.reason), std::string::npos) << c.what << ": " << *error;
        EXPECT_FALSE(journal.Append(entry)) << c.what << ": said once, then the journal is gone without";
        const JournalFd read = OpenJournalFile(path, JournalAccess::Read);
        EXPECT_EQ(read.fd, -1) << c.what;
        EXPECT_NE(read.error.find(c.reason), std::string::npos) << c.what << ": " << read.error;
        EXPECT_EQ(sim::testing::ReadText(state + "/victim"), "victim\n") << c.what;
        EXPECT_FALSE(std::filesystem::exists(state + "/elsewhere/changes.jsonl")) << c.what;
    }
    // A lock another program never lets go of: the append gives up after a
    // second rather than hold up the sheet's GUI thread.
    sim::testing::ScratchDir dir;
    const std::string path = dir.File("state/vantoro/changes.jsonl");
    ChangeJournal first(path);
    ASSERT_FALSE(first.Append(entry));
    const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    ChangeJournal second(path);
    const auto error = second.Append(entry);
    ::close(other);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("held it locked"), std::string::npos) << *error;
}

// A write cut short by a full disk is cut back, so the next line, once there
// is room, is whole. A full tmpfs of a private mount namespace gives the
// short write; without the rights to make one, the test is skipped.
TEST(OpsTexts, AJournalLineThatDoesNotFitIsCutBackAndTheNextOneIsWhole)
{
    sim::testing::ScratchDir dir;
    const std::string disk = dir.File("disk");
    ASSERT_EQ(::mkdir(disk.c_str(), 0700), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
            ::_exit(77);
        const std::string path = disk + "/vantoro/changes.jsonl";
        JournalEntry entry;
        entry.action = "apply";
        entry.changes.push_back({"name", std::nullopt, std::string(5000, 'x')});
        ChangeJournal journal(path);
        if (journal.Append(entry))
            ::_exit(1);
        // Fill the disk: what is left is the slack of the journal's last page.
        {
            std::ofstream filler(disk + "/filler", std::ios::binary);
            const std::string block(4096, 'f');
            while (filler.write(block.data(), block.size()))
                ;
            filler.write("f", 1); // a partial block
        }
        struct stat st {};
        ::stat(path.c_str(), &st);
        const off_t before = st.st_size;
        if (!journal.Append(entry))
            ::_exit(2); // the line fitted after all
        ::stat(path.c_str(), &st);
        if (st.st_size != before)
            ::_exit(3); // half a line left behind
        ::unlink((disk + "/filler").c_str());
        ChangeJournal next(path); // the next program
        if (next.Append(entry))
            ::_exit(4);
        std::ifstream in(path);
        const JournalRead read = ReadJournal(in);
        ::_exit(read.entries.size() == 2 && read.damaged.empty() ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no private mount namespace with a tmpfs here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: first line, 2: fitted, 3: half a line left, 4: next line, 5: read";
}

TEST(OpsEdits, ASwitchThatAlreadyReadsAsAskedKeepsTheCamerasWord)
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

TEST(OpsVerify, OnlyWhatWasWrittenIsComparedAndEveryDifferenceIsNamed)
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
