// The one description of a write: each kind of change, its console line,
// JSON and journal forms from the same value, and the bytes verification
// compares.

#include "ops/change_journal.h"
#include "ops/record_changes.h"
#include "ops/record_edits.h"
#include "ops/verify_records.h"
#include "link/records.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>

namespace vantoro::ops {
namespace {

using nlohmann::json;

CameraSnapshot Camera()
{
    CameraSnapshot c;
    c.general.emplace();
    c.user.emplace();
    c.domain.emplace();
    GeneralConfig g(c.general->data());
    g.set_ethernet_ip(0xC0A8010A);
    g.set_camera_name(0, "Gate");
    UserConfig users(c.user->data());
    users.AddUser("admin", "topsecret");
    users.AddUser("viewer", "viewpass");
    users.StorePermissionsByName("admin", true, true);
    users.StorePermissionsByName("viewer", true, false);
    DomainConfig(c.domain->data()).AddDomain("ntp", "10.0.0.5");
    return c;
}

TEST(RecordChanges, EachKindHasOneValueForItsLineJsonAndJournal)
{
    struct Case {
        const char* name;
        std::function<void(CameraSnapshot&)> edit;
        std::vector<Change> changes;
        std::string lines; // Line() of each, one per line
        std::string brief; // apply's form of the first
    };
    const auto edit = [](RecordEdits e) { return [e](CameraSnapshot& c) { ASSERT_FALSE(ApplyEdits(e, c)); }; };
    RecordEdits address, server, name, add, del, perms, password, domain, undomain, readdress;
    address.general[NetworkFieldId::EthernetIp] = 0x0A000007;
    server.general[NetworkFieldId::Server] = 1;
    name.general.camera_names[0] = "Yard";
    add.add_users = {{"bob", "hunter22"}};
    del.delete_users = {"VIEWER"};
    perms.permissions = {{"viewer", {true, true}}};
    password.passwords = {{"viewer", "newsecret"}};
    domain.add_domains = {{"cam1", "10.0.0.9"}};
    undomain.delete_domains = {"ntp"};
    readdress.delete_domains = {"ntp"};
    readdress.add_domains = {{"ntp", "10.0.0.6"}};
    const Case cases[] = {
        {"address", edit(address), {{"ethernet_ip", "192.168.1.10", "10.0.0.7", ChangeKind::Network}},
         "ethernet_ip: 192.168.1.10 -> 10.0.0.7\n", "ethernet_ip 192.168.1.10 -> 10.0.0.7"},
        {"switch", edit(server), {{"server", "off", "on", ChangeKind::Network}}, "server: off -> on\n",
         "server off -> on"},
        {"camera name", edit(name), {{"camera_name_1", "Gate", "Yard", ChangeKind::CameraName}},
         "camera_name_1: 'Gate' -> 'Yard'\n", "camera_name_1 'Gate' -> 'Yard'"},
        {"user added", edit(add),
         {{"user bob", std::nullopt, "added", ChangeKind::UserAdded},
          {"permissions of bob", std::nullopt, "none", ChangeKind::Permissions}},
         "user bob: added\npermissions of bob: none\n", "user bob added"},
        {"user deleted", edit(del), {{"user viewer", std::nullopt, "deleted", ChangeKind::UserDeleted}},
         "user viewer: deleted\n", "user viewer deleted"},
        {"permissions", edit(perms), {{"permissions of viewer", "view", "view,adjust", ChangeKind::Permissions}},
         "permissions of viewer: view -> view,adjust\n", "permissions of viewer view -> view,adjust"},
        {"password", edit(password), {{"password of viewer", std::nullopt, std::nullopt, ChangeKind::Password}},
         "password of viewer: changed\n", "password of viewer changed"},
        {"domain added", edit(domain),
         {{"domain cam1", std::nullopt, "added", ChangeKind::DomainAdded},
          {"address of cam1", std::nullopt, "10.0.0.9", ChangeKind::DomainAddress}},
         "domain cam1: added\naddress of cam1: 10.0.0.9\n", "domain cam1 added"},
        {"domain deleted", edit(undomain), {{"domain ntp", std::nullopt, "deleted", ChangeKind::DomainDeleted}},
         "domain ntp: deleted\n", "domain ntp deleted"},
        {"domain readdressed", edit(readdress),
         {{"address of ntp", "10.0.0.5", "10.0.0.6", ChangeKind::DomainAddress}}, "address of ntp: 10.0.0.5 -> 10.0.0.6\n",
         "address of ntp 10.0.0.5 -> 10.0.0.6"},
        {"bytes of no field", [](CameraSnapshot& c) { (*c.general)[900] ^= 1; },
         {{"general record", std::nullopt, "written", ChangeKind::RecordWritten}}, "general record: written\n",
         "general record written"},
    };
    for (const Case& c : cases) {
        const CameraSnapshot before = Camera();
        CameraSnapshot after = before;
        c.edit(after);
        const RecordChanges described = DescribeWrite(before, after);
        ASSERT_EQ(described.changes, c.changes) << c.name;
        std::string lines;
        json expected = json::array();
        for (const Change& change : described.changes) {
            lines += change.Line() + "\n";
            expected.push_back({{"field", change.field},
                                {"before", change.before ? json(*change.before) : json(nullptr)},
                                {"after", change.after ? json(*change.after) : json(nullptr)}});
        }
        EXPECT_EQ(lines, c.lines) << c.name;
        EXPECT_EQ(described.changes[0].Brief(), c.brief) << c.name;
        nlohmann::ordered_json output = nlohmann::ordered_json::array();
        for (const Change& change : described.changes)
            output.push_back(change.Json());
        EXPECT_EQ(json::parse(output.dump()), expected) << c.name;
        // The journal's line holds the same JSON, and no password.
        const std::string line = JournalLine(WriteEntry(before, after, "admin", "apply"));
        EXPECT_EQ(json::parse(line)["changes"], expected) << c.name;
        for (const char* secret : {"topsecret", "viewpass", "hunter22", "newsecret"})
            EXPECT_EQ((line + lines).find(secret), std::string::npos) << c.name << ": " << secret;
        // Only the changed field is compared afterwards, whole.
        EXPECT_TRUE(described.compared.any()) << c.name;
        EXPECT_FALSE(WritesNothing(before, after)) << c.name;
    }
}

TEST(RecordChanges, ARestoreComparesEveryByteAnEditOnlyWhatItChanged)
{
    const CameraSnapshot before = Camera();
    CameraSnapshot sent = before;
    RecordEdits e;
    e.general[NetworkFieldId::Gateway] = 0x0A0000FE;
    ASSERT_FALSE(ApplyEdits(e, sent));

    const ComparedBytes edit = DescribeWrite(before, sent).compared;
    EXPECT_EQ(edit.general.count(), 4u) << "the gateway's word";
    EXPECT_TRUE(edit.general[general_layout::gateway]);
    EXPECT_TRUE(edit.user.none());
    EXPECT_TRUE(edit.domain.none());

    const ComparedBytes restore = DescribeWrite(before, sent, true).compared;
    for (const auto* bytes : {&restore.general, &restore.user, &restore.domain}) {
        EXPECT_EQ(bytes->count(), kFrameSize - kMacOffset) << "every byte from the MAC on";
        EXPECT_FALSE((*bytes)[kCommandOffset]) << "the header's command is the camera's";
        EXPECT_FALSE((*bytes)[kReplyModeOffset]) << "and so is its reply mode";
    }

    // A byte the edit did not touch: a mismatch only for the restore.
    CameraSnapshot reported = sent;
    (*reported.domain)[1100] ^= 1; // after the last row
    (*reported.user)[user_layout::table + 2 * user_layout::row_size] = 'x'; // a free row filled
    EXPECT_TRUE(CompareWritten(sent, reported, edit).empty());
    EXPECT_EQ(MismatchText(CompareWritten(sent, reported, restore)),
              "user row 2 sent (free), camera reports x none; domain record byte 1100 sent 0x00, camera reports 0x01");
    SetFrameReplyMode(*reported.general, 1);
    SetFrameCommand(*reported.general, CMD_GENERAL_REPLY);
    EXPECT_EQ(CompareWritten(sent, reported, restore).size(), 2u) << "the header is not compared";

    // Nothing to write when the camera holds the records, header aside.
    CameraSnapshot held = before;
    SetFrameCommand(*held.user, CMD_USER_REPLY);
    SetFrameReplyMode(*held.domain, 1);
    EXPECT_TRUE(WritesNothing(before, held));
    EXPECT_TRUE(DescribeWrite(before, held, true).changes.empty());
    (*held.domain)[kMacOffset + 6] ^= 1;
    EXPECT_FALSE(WritesNothing(before, held));
}

} // namespace
} // namespace vantoro::ops
