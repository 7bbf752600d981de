#pragma once
// Safe addressing, for both front ends: what a search shows about the
// cameras' addresses (shared ones, ones outside their LAN), and the checks
// that run over a whole plan before the first frame leaves, so no write gives
// two devices one address or a camera a malformed network.

#include "net/arp_probe.h"
#include "link/camera_snapshot.h"
#include "net/net_interfaces.h"
#include "link/network_fields.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantoro::ops {

// What the search shows of one camera's Ethernet IP.
struct AddressStanding {
    std::vector<MacAddress> conflicts; // the other listed cameras with the same Ethernet IP
    // LAN mode: whether the address lies on a subnet of the interface the
    // camera answered on. None in WAN mode, or without a general record or
    // a known interface.
    std::optional<bool> reachable;
    std::string interface; // that interface's name
    std::vector<AttachedSubnet> subnets; // and its subnets
    // Every address the camera's MAC answered from, sorted, when more than
    // one (see SourceConflict); empty otherwise.
    std::vector<Ipv4Address> answered_from;
};

// One per camera, in the cameras' order.
std::vector<AddressStanding> AddressStandings(const std::vector<CameraSnapshot>& cameras, bool lan_mode);
// "192.168.1.0/24"; a mask that is no run of ones as "192.168.1.0/255.0.255.0".
std::string SubnetText(const AttachedSubnet& subnet);

// One camera's network as it is and as a plan leaves it, one word per field
// of kNetworkFields.
struct PlannedNetwork {
    MacAddress mac{};
    unsigned interface = 0; // where it answered; 0 when unknown
    std::array<std::uint32_t, kNetworkFieldCount> before{};
    std::array<std::uint32_t, kNetworkFieldCount> after{};
    std::uint32_t Before(NetworkFieldId id) const { return before[std::size_t(id)]; }
    std::uint32_t After(NetworkFieldId id) const { return after[std::size_t(id)]; }
    bool Moves() const { return Before(NetworkFieldId::EthernetIp) != After(NetworkFieldId::EthernetIp); }
};
// The camera's general record before and the one the plan sends.
PlannedNetwork PlanOf(const CameraSnapshot& before, const Frame& general_after);

enum class AddressCheck {
    Duplicate, // two cameras of the plan get the same new address
    Held,      // another camera found by the search holds it and keeps it
    Live,      // a device answered for it on the camera's LAN
    Malformed, // the network makes no sense
    Own,       // an address of this machine, which never answers its own probe
};

struct AddressProblem {
    MacAddress mac{};
    std::string field; // "ethernet_ip"
    Ipv4Address address;
    AddressCheck check = AddressCheck::Malformed;
    std::optional<MacAddress> other; // the camera or the device that holds the address
    std::string reason;
    // "00 0A 0B 00 00 01  ethernet_ip 10.0.0.5: reason"
    std::string Text() const;
};

struct AddressCheckOptions {
    bool malformed = true; // --force and import leave the malformed networks out
    bool lan_mode = true;
    std::vector<NetInterface> interfaces; // the link's; no other one is probed
    // Every address of this machine's interfaces (ListLocalAddresses): no
    // probe finds them taken, so a camera given one is refused outright.
    std::vector<Ipv4Address> own_addresses;
};
// This machine's addresses for the options above.
std::vector<Ipv4Address> OwnAddresses();

struct AddressCheckReport {
    std::vector<AddressProblem> problems;
    std::vector<std::string> notes; // what could not be checked, once per reason
    bool refused() const { return !problems.empty(); }
};

// Every check over the whole plan; the addresses that cameras are about to
// get are probed together, once.
AddressCheckReport CheckAddressPlan(const std::vector<PlannedNetwork>& plan, const std::vector<CameraSnapshot>& found,
                                    const AddressCheckOptions& options, AddressProber& prober);

// The plan of apply's rows: each camera found whole that accepts the login
// and whose network the row changes.
struct PlanRow;
std::vector<PlannedNetwork> PlannedNetworks(const std::vector<CameraSnapshot>& cameras, const std::vector<PlanRow>& rows,
                                            const std::string& login, const std::string& password);

// The addresses a camera's MAC answered from, sorted, when more than one:
// two devices share the MAC (a clone), or one is reached two ways. Its
// records are those of the latest to answer only, so a write cannot tell
// which device it reaches; empty when it answered from one address.
std::vector<Ipv4Address> AnsweredFrom(const CameraSnapshot& camera);
// "00 0A 0B 00 00 03  answered from 10.0.0.5 and 10.0.0.6: ..." for such a
// camera; empty for one that answered from one address.
std::string SourceConflict(const CameraSnapshot& camera);

// The malformed-network check alone: rules whose fields the plan leaves as
// they were are not applied, so an odd network a camera has is no refusal.
std::vector<AddressProblem> MalformedNetwork(const PlannedNetwork& camera);

} // namespace vantoro::ops
