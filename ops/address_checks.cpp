#include "ops/address_checks.h"

#include "link/records.h"
#include "ops/apply_plan.h"
#include "ops/session.h"
#include "util/mac_text.h"
#include "util/strict_address.h"

#include <algorithm>
#include <bit>
#include <initializer_list>
#include <map>
#include <set>

namespace vantoro::ops {

namespace {

using Id = NetworkFieldId;

bool OnSubnet(std::uint32_t word, const AttachedSubnet& n)
{
    return n.Holds(Ipv4Address(word));
}

bool Contiguous(std::uint32_t mask)
{
    const std::uint32_t host = ~mask;
    return (host & (host + 1)) == 0;
}

Ipv4Address EthernetIp(const CameraSnapshot& c)
{
    return Ipv4Address(GeneralConfigReader(c.general->data()).ethernet_ip());
}

std::string FieldName(Id id)
{
    return std::string(NetworkFieldOf(id).name);
}

// Not an address a device on a LAN can hold; the reason, or empty.
std::string NotUnicast(std::uint32_t ip)
{
    if (ip == 0)
        return "0.0.0.0 is no device's address";
    if (ip >> 24 == 0)
        return "an address of 0.0.0.0/8, which stands for this network and is no device's address";
    if (ip == 0xFFFFFFFF)
        return "the limited broadcast address";
    if (ip >> 24 == 127)
        return "a loopback address";
    if (ip >> 28 == 0xE)
        return "a multicast address";
    if (ip >> 28 == 0xF)
        return "a class E (reserved) address";
    return {};
}

} // namespace

std::string SubnetText(const AttachedSubnet& n)
{
    const std::string network = AddressText(n.network());
    if (!Contiguous(n.mask))
        return network + "/" + AddressText(n.mask);
    return network + "/" + std::to_string(std::popcount(n.mask));
}

std::vector<AddressStanding> AddressStandings(const std::vector<CameraSnapshot>& cameras, bool lan_mode)
{
    std::vector<AddressStanding> standings(cameras.size());
    std::map<Ipv4Address, std::vector<std::size_t>> by_ip;
    for (std::size_t i = 0; i < cameras.size(); ++i)
        if (cameras[i].general)
            by_ip[EthernetIp(cameras[i])].push_back(i);
    std::map<unsigned, std::vector<AttachedSubnet>> subnets; // read once per interface
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const CameraSnapshot& c = cameras[i];
        if (!c.general)
            continue;
        AddressStanding& s = standings[i];
        s.answered_from = AnsweredFrom(c);
        const Ipv4Address ip = EthernetIp(c);
        for (std::size_t j : by_ip[ip])
            if (j != i)
                s.conflicts.push_back(cameras[j].mac);
        if (!lan_mode || c.answer_interface == 0)
            continue;
        auto it = subnets.find(c.answer_interface);
        if (it == subnets.end())
            it = subnets.emplace(c.answer_interface, InterfaceSubnets(c.answer_interface)).first;
        s.interface = InterfaceName(c.answer_interface);
        s.subnets = it->second;
        s.reachable = std::any_of(s.subnets.begin(), s.subnets.end(),
                                  [&](const AttachedSubnet& n) { return n.Holds(ip); });
    }
    return standings;
}

std::vector<Ipv4Address> OwnAddresses()
{
    std::vector<Ipv4Address> own;
    for (const LocalAddress& a : ListLocalAddresses())
        own.push_back(a.subnet.address);
    return own;
}

std::vector<Ipv4Address> AnsweredFrom(const CameraSnapshot& c)
{
    if (c.other_sources.empty())
        return {};
    std::vector<Ipv4Address> all = c.other_sources;
    all.push_back(c.answer_address);
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
}

std::string SourceConflict(const CameraSnapshot& c)
{
    const std::vector<Ipv4Address> all = AnsweredFrom(c);
    if (all.empty())
        return {};
    std::string list;
    for (std::size_t i = 0; i < all.size(); ++i)
        list += (i == 0 ? "" : i + 1 == all.size() ? " and " : ", ") + all[i].text();
    return MacTableText(c.mac) + "  answered from " + list +
           ": two devices share this hardware address, or one device is reached two ways";
}

PlannedNetwork PlanOf(const CameraSnapshot& before, const Frame& general_after)
{
    PlannedNetwork p;
    p.mac = before.mac;
    p.interface = before.answer_interface;
    const GeneralConfigReader after(general_after.data());
    for (const NetworkField& field : kNetworkFields) {
        p.before[std::size_t(field.id)] =
            before.general ? GeneralConfigReader(before.general->data()).network_word(field.offset) : 0;
        p.after[std::size_t(field.id)] = after.network_word(field.offset);
    }
    return p;
}

std::vector<PlannedNetwork> PlannedNetworks(const std::vector<CameraSnapshot>& cameras, const std::vector<PlanRow>& rows,
                                            const std::string& login, const std::string& password)
{
    std::map<MacAddress, const CameraSnapshot*> by_mac;
    for (const CameraSnapshot& c : cameras)
        by_mac.emplace(c.mac, &c);
    std::vector<PlannedNetwork> plan;
    for (const PlanRow& row : rows) {
        const auto it = by_mac.find(row.mac);
        if (it == by_mac.end() || !it->second->complete() || !LoginAccepted(*it->second, login, password))
            continue; // nothing will be sent to it
        CameraSnapshot edited = *it->second;
        ApplyGeneralEdits(row.edits, *edited.general);
        plan.push_back(PlanOf(*it->second, *edited.general));
    }
    return plan;
}

std::string AddressProblem::Text() const
{
    return MacTableText(mac) + "  " + field + " " + address.text() + ": " + reason;
}

std::vector<AddressProblem> MalformedNetwork(const PlannedNetwork& c)
{
    std::vector<AddressProblem> problems;
    const auto changed = [&](std::initializer_list<Id> ids) {
        return std::any_of(ids.begin(), ids.end(), [&](Id id) { return c.Before(id) != c.After(id); });
    };
    // A rule counts only when the plan touches one of its fields.
    const auto refuse = [&](std::initializer_list<Id> involved, Id field, const std::string& reason) {
        if (changed(involved))
            problems.push_back({c.mac, FieldName(field), Ipv4Address(c.After(field)), AddressCheck::Malformed, {}, reason});
    };
    const std::uint32_t ip = c.After(Id::EthernetIp);
    const std::uint32_t mask = c.After(Id::EthernetMask);
    const std::uint32_t gateway = c.After(Id::Gateway);
    const std::uint32_t start = c.After(Id::BootpStart);
    const std::uint32_t end = c.After(Id::BootpEnd);
    const AttachedSubnet own{Ipv4Address(ip), mask};
    const std::string subnet = SubnetText(own);

    const std::string special = NotUnicast(ip);
    if (!special.empty()) {
        refuse({Id::EthernetIp}, Id::EthernetIp, special);
        return problems; // no subnet to measure the rest against
    }
    if (!Contiguous(mask)) {
        refuse({Id::EthernetMask}, Id::EthernetMask, "the mask is not a contiguous run of ones");
        return problems;
    }
    if (mask == 0) {
        refuse({Id::EthernetMask}, Id::EthernetMask, "a mask of 0.0.0.0 puts every address on the camera's LAN");
        return problems;
    }
    if (std::popcount(mask) <= 30) {
        if (ip == (ip & mask))
            refuse({Id::EthernetIp, Id::EthernetMask}, Id::EthernetIp, "the network address of its subnet " + subnet);
        else if (ip == (ip | ~mask))
            refuse({Id::EthernetIp, Id::EthernetMask}, Id::EthernetIp,
                   "the broadcast address of its subnet " + subnet);
    }
    if (gateway != 0 && gateway == ip) {
        // Named by the field the plan changes: the camera's address or its gateway.
        if (changed({Id::EthernetIp}))
            refuse({Id::EthernetIp}, Id::EthernetIp, "the address of its gateway");
        else
            refuse({Id::Gateway}, Id::Gateway, "the gateway is the camera's own address");
    } else if (gateway != 0 && !OnSubnet(gateway, own)) {
        refuse({Id::Gateway, Id::EthernetIp, Id::EthernetMask}, Id::Gateway,
               "the gateway is outside the camera's subnet " + subnet);
    } else if (gateway != 0 && std::popcount(mask) <= 30) {
        if (gateway == (gateway & mask))
            refuse({Id::Gateway, Id::EthernetIp, Id::EthernetMask}, Id::Gateway,
                   "the gateway is the network address of the camera's subnet " + subnet);
        else if (gateway == (gateway | ~mask))
            refuse({Id::Gateway, Id::EthernetIp, Id::EthernetMask}, Id::Gateway,
                   "the gateway is the broadcast address of the camera's subnet " + subnet);
    }
    if (c.After(Id::Bootp) == 0)
        return problems;
    const std::initializer_list<Id> range = {Id::BootpStart, Id::BootpEnd, Id::Bootp};
    const std::string range_text = AddressText(start) + "-" + AddressText(end);
    if (start > end) {
        refuse(range, Id::BootpStart, "the BOOTP start comes after the BOOTP end " + AddressText(end));
        return problems;
    }
    bool outside = false;
    for (Id id : {Id::BootpStart, Id::BootpEnd}) {
        if (!OnSubnet(c.After(id), own)) {
            refuse({Id::BootpStart, Id::BootpEnd, Id::Bootp, Id::EthernetIp, Id::EthernetMask}, id,
                   "the BOOTP range " + range_text + " reaches outside the camera's subnet " + subnet);
            outside = true;
        }
    }
    if (outside)
        return problems;
    if (start <= ip && ip <= end)
        refuse({Id::BootpStart, Id::BootpEnd, Id::Bootp, Id::EthernetIp}, Id::BootpStart,
               "the BOOTP range " + range_text + " holds the camera's own address " + AddressText(ip));
    if (gateway != 0 && start <= gateway && gateway <= end)
        refuse({Id::BootpStart, Id::BootpEnd, Id::Bootp, Id::Gateway}, Id::BootpStart,
               "the BOOTP range " + range_text + " holds the gateway " + AddressText(gateway));
    return problems;
}

namespace {

// "10.0.0.5, 10.0.0.6 and 3 more"
std::string AddressList(const std::vector<Ipv4Address>& addresses)
{
    constexpr std::size_t kShown = 5;
    std::string text;
    for (std::size_t i = 0; i < addresses.size() && i < kShown; ++i)
        text += (i == 0 ? "" : ", ") + addresses[i].text();
    if (addresses.size() > kShown)
        text += " and " + std::to_string(addresses.size() - kShown) + " more";
    return text;
}

void NoteUnprobed(const std::vector<Unprobed>& unprobed, std::vector<std::string>& notes)
{
    std::map<std::string, std::vector<Ipv4Address>> by_reason;
    std::vector<std::string> order;
    for (const Unprobed& u : unprobed) {
        auto& list = by_reason[u.reason];
        if (list.empty())
            order.push_back(u.reason);
        if (std::find(list.begin(), list.end(), u.address) == list.end())
            list.push_back(u.address);
    }
    for (const std::string& reason : order) {
        const auto& list = by_reason[reason];
        notes.push_back("could not probe whether " + AddressList(list) + (list.size() == 1 ? " is" : " are") +
                        " in use: " + reason);
    }
}

} // namespace

namespace {

Ipv4Address NewIp(const PlannedNetwork& p)
{
    return Ipv4Address(p.After(Id::EthernetIp));
}

// Who moves to an address, and who moves away from one.
struct PlanMoves {
    std::map<Ipv4Address, std::vector<const PlannedNetwork*>> arriving;
    std::set<MacAddress> moving;
    std::set<std::pair<MacAddress, Ipv4Address>> leaving; // camera, the address it gives up

    explicit PlanMoves(const std::vector<PlannedNetwork>& plan)
    {
        for (const PlannedNetwork& p : plan) {
            if (!p.Moves())
                continue;
            arriving[NewIp(p)].push_back(&p);
            moving.insert(p.mac);
            leaving.insert({p.mac, Ipv4Address(p.Before(Id::EthernetIp))});
        }
    }
    bool Left(Ipv4Address ip) const
    {
        return std::any_of(leaving.begin(), leaving.end(), [&](const auto& l) { return l.second == ip; });
    }
};

// What the plan and the search tell without asking the LAN: two cameras of
// the plan on one address, this machine's own, a found camera that keeps it.
void CheckAgainstPlanAndFound(const std::vector<PlannedNetwork>& plan, const std::vector<CameraSnapshot>& found,
                              const AddressCheckOptions& options, PlanMoves& moves, AddressCheckReport& report)
{
    const std::string field = FieldName(Id::EthernetIp);
    for (const PlannedNetwork& p : plan) {
        if (!p.Moves())
            continue;
        const Ipv4Address ip = NewIp(p);
        for (const PlannedNetwork* other : moves.arriving[ip])
            if (other != &p)
                report.problems.push_back({p.mac, field, ip, AddressCheck::Duplicate, other->mac,
                                           "camera " + MacTableText(other->mac) + " of this plan gets it too"});
        if (std::find(options.own_addresses.begin(), options.own_addresses.end(), ip) != options.own_addresses.end())
            report.problems.push_back({p.mac, field, ip, AddressCheck::Own, std::nullopt,
                                       "an address of this machine, which never answers its own probe"});
        // Plan cameras that keep their address keep it in the found list too.
        for (const CameraSnapshot& c : found)
            if (c.mac != p.mac && c.general && EthernetIp(c) == ip && !moves.moving.count(c.mac))
                report.problems.push_back({p.mac, field, ip, AddressCheck::Held, c.mac,
                                           "camera " + MacTableText(c.mac) + " holds it and keeps it"});
    }
}

// Where each new address can be asked: ARP on its camera's LAN, a ping
// beyond a router, each through an interface in use; or why it cannot.
void ChooseProbeTargets(const std::vector<PlannedNetwork>& plan, const AddressCheckOptions& options,
                        std::vector<ProbeTarget>& targets, std::vector<Unprobed>& unprobed)
{
    const auto in_use = [&](unsigned index) {
        return index != 0 && std::any_of(options.interfaces.begin(), options.interfaces.end(),
                                         [&](const NetInterface& n) { return n.index == index; });
    };
    for (const PlannedNetwork& p : plan) {
        if (!p.Moves())
            continue;
        const Ipv4Address ip = NewIp(p);
        if (!NotUnicast(ip.word()).empty()) {
            unprobed.push_back({ip, "not an address a device can hold"});
        } else if (!options.lan_mode) {
            // Beyond a router only a ping reaches, and only through an
            // interface in use.
            const unsigned via = RouteInterface(ip);
            if (in_use(via))
                targets.push_back({via, ip, true});
            else
                unprobed.push_back({ip, via == 0 ? std::string("there is no route to it")
                                                 : "the route to it leaves through " + InterfaceName(via) +
                                                       ", which is not among the interfaces in use"});
        } else if (!in_use(p.interface)) {
            const std::string name = InterfaceName(p.interface);
            unprobed.push_back({ip, name.empty() ? std::string("the camera's interface is not known")
                                                 : name + " is not among the interfaces searched"});
        } else {
            targets.push_back({p.interface, ip});
        }
    }
    std::sort(targets.begin(), targets.end(), [](const ProbeTarget& a, const ProbeTarget& b) {
        return std::pair(a.interface, a.address) < std::pair(b.interface, b.address);
    });
    targets.erase(std::unique(targets.begin(), targets.end(),
                              [](const ProbeTarget& a, const ProbeTarget& b) {
                                  return a.interface == b.interface && a.address == b.address;
                              }),
                  targets.end());
}

// The devices that answered for a new address, except the camera itself, a
// camera of the plan leaving it, or one named already.
void ReadProbeAnswers(const std::vector<PlannedNetwork>& plan, const ProbeResult& probed, const PlanMoves& moves,
                      AddressCheckReport& report)
{
    const std::string field = FieldName(Id::EthernetIp);
    for (const PlannedNetwork& p : plan) {
        if (!p.Moves())
            continue;
        const Ipv4Address ip = NewIp(p);
        for (const ProbeAnswer& a : probed.answers) {
            if (a.address != ip)
                continue;
            if (a.echo) {
                // No hardware address comes through a router: a camera
                // of the plan leaving it may be the one that answered.
                const bool held = std::any_of(report.problems.begin(), report.problems.end(), [&](const auto& x) {
                    return x.mac == p.mac && x.check == AddressCheck::Held && x.address == ip;
                });
                if (!moves.Left(ip) && !held)
                    report.problems.push_back({p.mac, field, ip, AddressCheck::Live, std::nullopt,
                                               "in use: it answered a ping through the router"});
                continue;
            }
            if (a.interface != p.interface || a.hardware == p.mac || moves.leaving.count({a.hardware, ip}))
                continue;
            // A found camera that keeps the address was named already.
            const bool named = std::any_of(report.problems.begin(), report.problems.end(), [&](const auto& x) {
                return x.mac == p.mac && x.check == AddressCheck::Held && x.other == a.hardware;
            });
            if (!named)
                report.problems.push_back({p.mac, field, ip, AddressCheck::Live, a.hardware,
                                           "in use: " + MacColonText(a.hardware) + " answered for it on " +
                                               InterfaceName(a.interface)});
        }
    }
}

// Silence to a ping proves less than silence to ARP: say so for each address
// that was pinged and did not answer.
void NoteSilentPings(const std::vector<ProbeTarget>& targets, const std::vector<Unprobed>& unprobed,
                     AddressCheckReport& report)
{
    std::set<Ipv4Address> not_pinged;
    for (const Unprobed& u : unprobed)
        not_pinged.insert(u.address);
    std::vector<Ipv4Address> pinged;
    for (const ProbeTarget& t : targets)
        if (t.routed && !not_pinged.count(t.address) && std::none_of(report.problems.begin(), report.problems.end(), [&](const AddressProblem& x) {
                return x.check == AddressCheck::Live && x.address == t.address;
            }))
            pinged.push_back(t.address);
    if (!pinged.empty())
        report.notes.push_back(AddressList(pinged) + " answered no ping through the router; ARP does not cross routers, so a device there that "
                               "ignores pings was not seen (the cameras the search found were checked)");
}

} // namespace

AddressCheckReport CheckAddressPlan(const std::vector<PlannedNetwork>& plan, const std::vector<CameraSnapshot>& found,
                                    const AddressCheckOptions& options, AddressProber& prober)
{
    AddressCheckReport report;
    PlanMoves moves(plan);
    CheckAgainstPlanAndFound(plan, found, options, moves, report);
    if (options.malformed)
        for (const PlannedNetwork& p : plan)
            for (AddressProblem& problem : MalformedNetwork(p))
                report.problems.push_back(std::move(problem));

    // The live probe: every new address on its camera's LAN, at once.
    std::vector<ProbeTarget> targets;
    std::vector<Unprobed> unprobed;
    ChooseProbeTargets(plan, options, targets, unprobed);
    if (!targets.empty()) {
        const ProbeResult probed = prober.Probe(targets);
        unprobed.insert(unprobed.end(), probed.unprobed.begin(), probed.unprobed.end());
        ReadProbeAnswers(plan, probed, moves, report);
    }
    NoteUnprobed(unprobed, report.notes);
    NoteSilentPings(targets, unprobed, report);
    return report;
}

} // namespace vantoro::ops
