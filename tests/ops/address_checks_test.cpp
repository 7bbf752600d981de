// The address checks over a plan: every malformed network one row, and the
// conflicts between cameras and with live devices, with a prober that answers
// as the test says.

#include "ops/address_checks.h"
#include "ops/move_order.h"

#include "link/records.h"
#include "util/strict_address.h"

#include <gtest/gtest.h>

#include <map>

namespace vantoro::ops {
namespace {

using Id = NetworkFieldId;

// A record's address word, and the address itself.
std::uint32_t A(const char* text)
{
    return *ParseStrictAddress(text);
}
Ipv4Address Ip(const char* text)
{
    return Ipv4Address(A(text));
}

MacAddress Mac(std::uint8_t last)
{
    return {0x00, 0x0A, 0x0B, 0x00, 0x00, last};
}

// A sane camera: 10.1.0.20/24, gateway 10.1.0.1, BOOTP 10.1.0.100-200 off.
PlannedNetwork Sane(std::uint8_t last = 1)
{
    PlannedNetwork p;
    p.mac = Mac(last);
    p.interface = 7;
    p.before[std::size_t(Id::EthernetIp)] = A("10.1.0.20");
    p.before[std::size_t(Id::EthernetMask)] = A("255.255.255.0");
    p.before[std::size_t(Id::Gateway)] = A("10.1.0.1");
    p.before[std::size_t(Id::BootpStart)] = A("10.1.0.100");
    p.before[std::size_t(Id::BootpEnd)] = A("10.1.0.200");
    p.after = p.before;
    return p;
}

struct Edit {
    Id field;
    std::uint32_t value;
};

TEST(AddressChecks, EveryMalformedNetworkIsRefusedAndNamesItsField)
{
    const std::uint32_t on = 1;
    struct Row {
        std::vector<Edit> edits;
        const char* field; // empty: no refusal
        const char* reason;
    } rows[] = {
        {{{Id::EthernetIp, A("10.1.0.30")}}, "", ""},
        {{{Id::EthernetIp, A("0.0.0.0")}}, "ethernet_ip", "no device's address"},
        {{{Id::EthernetIp, A("255.255.255.255")}}, "ethernet_ip", "limited broadcast"},
        {{{Id::EthernetIp, A("127.0.0.5")}}, "ethernet_ip", "loopback"},
        {{{Id::EthernetIp, A("224.0.0.9")}}, "ethernet_ip", "multicast"},
        {{{Id::EthernetIp, A("240.1.2.3")}}, "ethernet_ip", "class E"},
        {{{Id::EthernetIp, A("10.1.0.0")}}, "ethernet_ip", "network address of its subnet 10.1.0.0/24"},
        {{{Id::EthernetIp, A("10.1.0.255")}}, "ethernet_ip", "broadcast address of its subnet 10.1.0.0/24"},
        {{{Id::EthernetIp, A("10.1.0.3")}, {Id::EthernetMask, A("255.255.255.252")}}, "ethernet_ip", "broadcast"},
        // A /31 and a /32 have no network or broadcast address to avoid.
        {{{Id::EthernetIp, A("10.1.0.1")}, {Id::EthernetMask, A("255.255.255.254")}, {Id::Gateway, 0}}, "", ""},
        {{{Id::EthernetMask, A("255.0.255.0")}}, "ethernet_mask", "contiguous"},
        {{{Id::Gateway, A("10.2.0.1")}}, "gateway", "outside the camera's subnet 10.1.0.0/24"},
        {{{Id::EthernetIp, A("10.3.0.20")}, {Id::BootpStart, A("10.3.0.100")}, {Id::BootpEnd, A("10.3.0.200")}},
         "gateway", "outside"},
        {{{Id::Gateway, 0}}, "", ""},
        {{{Id::EthernetIp, A("0.1.2.3")}}, "ethernet_ip", "0.0.0.0/8"},
        {{{Id::EthernetMask, A("0.0.0.0")}}, "ethernet_mask", "0.0.0.0 puts every address"},
        {{{Id::Gateway, A("10.1.0.255")}}, "gateway", "broadcast address of the camera's subnet 10.1.0.0/24"},
        {{{Id::Gateway, A("10.1.0.0")}}, "gateway", "network address of the camera's subnet 10.1.0.0/24"},
        // A /31 has no ends to avoid: its other address may be the gateway.
        {{{Id::EthernetMask, A("255.255.255.254")}, {Id::Gateway, A("10.1.0.21")}}, "", ""},
        {{{Id::EthernetIp, A("10.1.0.5")}, {Id::EthernetMask, A("255.255.255.252")}, {Id::Gateway, A("10.1.0.7")}},
         "gateway", "broadcast address of the camera's subnet 10.1.0.4/30"},
        {{{Id::Gateway, A("10.1.0.20")}}, "gateway", "the camera's own address"},
        {{{Id::EthernetIp, A("10.1.0.1")}}, "ethernet_ip", "the address of its gateway"},
        {{{Id::Bootp, on}, {Id::BootpStart, A("10.1.0.201")}}, "bootp_start", "after the BOOTP end"},
        {{{Id::Bootp, on}, {Id::BootpEnd, A("10.1.1.5")}}, "bootp_end", "reaches outside"},
        {{{Id::Bootp, on}, {Id::EthernetIp, A("10.1.0.150")}}, "bootp_start", "own address 10.1.0.150"},
        {{{Id::Bootp, on}, {Id::Gateway, A("10.1.0.120")}}, "bootp_start", "holds the gateway 10.1.0.120"},
        {{{Id::Bootp, on}}, "", ""},
        // BOOTP off: its range is not looked at.
        {{{Id::BootpStart, A("10.1.0.201")}}, "", ""},
    };
    for (const Row& row : rows) {
        PlannedNetwork p = Sane();
        std::string what;
        for (const Edit& e : row.edits) {
            p.after[std::size_t(e.field)] = e.value;
            what += std::string(NetworkFieldOf(e.field).name) + "=" + AddressText(e.value) + " ";
        }
        const auto problems = MalformedNetwork(p);
        if (*row.field == 0) {
            EXPECT_TRUE(problems.empty()) << what << problems.front().Text();
            continue;
        }
        ASSERT_EQ(problems.size(), 1u) << what;
        EXPECT_EQ(problems[0].field, row.field) << what;
        EXPECT_NE(problems[0].reason.find(row.reason), std::string::npos) << what << problems[0].Text();
        EXPECT_EQ(problems[0].mac, Mac(1));
    }
}

TEST(AddressChecks, AnOddNetworkTheCameraHasIsNoRefusalWhenThePlanLeavesItAlone)
{
    PlannedNetwork p = Sane();
    p.before[std::size_t(Id::Gateway)] = p.after[std::size_t(Id::Gateway)] = A("192.168.1.1");
    p.after[std::size_t(Id::PppIp)] = A("10.64.0.1");
    EXPECT_TRUE(MalformedNetwork(p).empty());
}

// Answers for the addresses the test names, and notes what it was asked.
class FakeProber final : public AddressProber {
public:
    std::map<Ipv4Address, MacAddress> live;
    std::vector<ProbeTarget> asked;
    int calls = 0;
    ProbeResult Probe(const std::vector<ProbeTarget>& targets) override
    {
        ++calls;
        asked = targets;
        ProbeResult r;
        for (const ProbeTarget& t : targets)
            if (auto it = live.find(t.address); it != live.end())
                r.answers.push_back({t.interface, t.address, it->second});
        return r;
    }
};

CameraSnapshot Found(std::uint8_t last, const char* ip)
{
    CameraSnapshot c;
    c.mac = Mac(last);
    c.general.emplace();
    GeneralConfig(c.general->data()).set_ethernet_ip(A(ip));
    return c;
}

PlannedNetwork Moving(std::uint8_t last, const char* from, const char* to)
{
    PlannedNetwork p = Sane(last);
    p.before[std::size_t(Id::EthernetIp)] = A(from);
    p.after[std::size_t(Id::EthernetIp)] = A(to);
    return p;
}

TEST(AddressChecks, ConflictsWithThePlanTheFoundCamerasAndLiveDevicesAreRefused)
{
    const MacAddress printer{0x02, 0x00, 0x00, 0x00, 0x00, 0x99};
    const std::vector<CameraSnapshot> found = {Found(1, "10.1.0.11"), Found(2, "10.1.0.12"), Found(3, "10.1.0.13")};
    struct Row {
        const char* what;
        std::vector<PlannedNetwork> plan;
        std::vector<AddressCheck> refused; // in order
        std::size_t probed;
    } rows[] = {
        {"a free address", {Moving(1, "10.1.0.11", "10.1.0.30")}, {}, 1},
        {"two cameras, one new address",
         {Moving(1, "10.1.0.11", "10.1.0.30"), Moving(2, "10.1.0.12", "10.1.0.30")},
         {AddressCheck::Duplicate, AddressCheck::Duplicate},
         1},
        {"a found camera keeps it", {Moving(1, "10.1.0.11", "10.1.0.13")}, {AddressCheck::Held}, 1},
        {"a swap", {Moving(1, "10.1.0.11", "10.1.0.12"), Moving(2, "10.1.0.12", "10.1.0.11")}, {}, 2},
        {"a live device", {Moving(1, "10.1.0.11", "10.1.0.50")}, {AddressCheck::Live}, 1},
        {"no move, no probe", {Sane(1)}, {}, 0},
        // No host answers its own probe: this machine's addresses are refused outright.
        {"this machine's address", {Moving(1, "10.1.0.11", "10.1.0.77")}, {AddressCheck::Own}, 1},
    };
    for (const Row& row : rows) {
        FakeProber prober;
        prober.live[Ip("10.1.0.50")] = printer;
        // The swapped cameras answer for the addresses they are leaving.
        prober.live[Ip("10.1.0.12")] = Mac(2);
        prober.live[Ip("10.1.0.11")] = Mac(1);
        AddressCheckOptions options;
        options.interfaces = {{7, "eth1", {}}};
        options.own_addresses = {Ip("10.1.0.77"), Ip("192.0.2.1")};
        const auto report = CheckAddressPlan(row.plan, found, options, prober);
        std::vector<AddressCheck> refused;
        for (const AddressProblem& p : report.problems)
            refused.push_back(p.check);
        EXPECT_EQ(refused, row.refused) << row.what;
        EXPECT_EQ(prober.calls, row.probed > 0 ? 1 : 0) << row.what << ": all addresses in one probe";
        EXPECT_EQ(prober.asked.size(), row.probed) << row.what;
        if (row.refused == std::vector{AddressCheck::Live}) {
            EXPECT_NE(report.problems[0].Text().find("02:00:00:00:00:99"), std::string::npos)
                << report.problems[0].Text();
        }
        EXPECT_TRUE(report.notes.empty()) << row.what << report.notes.front();
    }
}

TEST(AddressChecks, WhatCannotBeProbedIsSaidOnceAndNothingIsProbedBeyondTheInterfacesInUse)
{
    const std::vector<PlannedNetwork> plan = {Moving(1, "10.1.0.11", "10.1.0.30"), Moving(2, "10.1.0.12", "10.1.0.31")};
    for (bool lan : {true, false}) {
        FakeProber prober;
        AddressCheckOptions options;
        options.lan_mode = lan; // no interfaces in use
        const auto report = CheckAddressPlan(plan, {}, options, prober);
        EXPECT_EQ(prober.calls, 0);
        ASSERT_EQ(report.notes.size(), 1u);
        EXPECT_NE(report.notes[0].find("10.1.0.30, 10.1.0.31"), std::string::npos) << report.notes[0];
        EXPECT_FALSE(report.refused());
    }
}

TEST(AddressChecks, MovesWaitForTheCameraLeavingAndRingsPassThroughTheSpare)
{
    // A text per step: "row<-row@address" for each wait, "row>spare" for a move to the spare.
    const auto Text = [](const MoveOrder& order) {
        std::string text;
        for (const MoveStep& step : order.steps) {
            text += std::to_string(step.row) + (step.spare ? ">spare" : "");
            for (const MoveWait& w : step.after)
                text += "<" + std::to_string(order.steps[w.step].row) + (order.steps[w.step].spare ? "s" : "") + "@" +
                        w.address.text();
            text += " ";
        }
        return text;
    };
    struct Case {
        const char* name;
        std::size_t rows;
        std::vector<RowMove> moves;
        bool spare;
        std::string steps; // empty: refused
    };
    const Ipv4Address a = Ip("10.1.0.10"), b = Ip("10.1.0.11"), c = Ip("10.1.0.12"), d = Ip("10.1.0.13"),
                      e = Ip("10.1.0.14"), f = Ip("10.1.0.15");
    const Case cases[] = {
        {"independent moves", 2, {{0, a, e}, {1, b, f}}, false, "0 1 "},
        {"a chain: each waits for the next to leave", 3, {{0, a, b}, {1, b, c}, {2, c, e}}, false,
         "0<1@10.1.0.11 1<2@10.1.0.12 2 "},
        {"a swap without a spare", 2, {{0, a, b}, {1, b, a}}, false, ""},
        {"a ring of three without a spare", 3, {{0, a, b}, {1, b, c}, {2, c, a}}, false, ""},
        {"a ring of three through the spare", 3, {{0, a, b}, {1, b, c}, {2, c, a}}, true,
         "0<0s@10.1.0.99<1@10.1.0.11 1<2@10.1.0.12 2<0s@10.1.0.10 0>spare "},
        {"two swaps take the spare in turn", 4, {{0, a, b}, {1, b, a}, {2, c, d}, {3, d, c}}, true,
         "0<0s@10.1.0.99<1@10.1.0.11 1<0s@10.1.0.10 2<2s@10.1.0.99<3@10.1.0.13 3<2s@10.1.0.12 0>spare "
         "2>spare<0@10.1.0.99 "},
    };
    for (const Case& k : cases) {
        const std::vector<std::string> macs(k.rows, "00 0A 0B 00 00 0X");
        const MoveOrder order = OrderMoves(k.rows, k.moves, macs, k.spare ? std::optional(Ip("10.1.0.99")) : std::nullopt);
        if (k.steps.empty()) {
            EXPECT_NE(order.error.find("in a ring"), std::string::npos) << k.name << ": " << order.error;
            continue;
        }
        EXPECT_EQ(order.error, "") << k.name;
        EXPECT_EQ(Text(order), k.steps) << k.name;
    }
}

} // namespace
} // namespace vantoro::ops
