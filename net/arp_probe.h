#pragma once
// Whether addresses are live on a LAN before a camera is given one: ARP
// probes with sender address 0.0.0.0, so asking changes no neighbour's cache,
// every address of a plan at once so many cameras pay the listening time once.

#include "util/ipv4_address.h"
#include "util/mac_text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantoro {

// An address to probe on the LAN of this interface (kernel index).
struct ProbeTarget {
    unsigned interface = 0;
    Ipv4Address address;
    // Beyond a router, which ARP does not cross: asked by ICMP echo, through
    // the interface the route leaves by.
    bool routed = false;
};

// A device that said it holds an address.
struct ProbeAnswer {
    unsigned interface = 0;
    Ipv4Address address;
    MacAddress hardware{}; // none for an echo
    bool echo = false; // answered a ping through a router
};

// An address that could not be probed, and why ("... needs CAP_NET_RAW").
struct Unprobed {
    Ipv4Address address;
    std::string reason;
};

struct ProbeResult {
    std::vector<ProbeAnswer> answers;
    std::vector<Unprobed> unprobed;
};

// The probing the checks use; tests put in their own.
class AddressProber {
public:
    virtual ~AddressProber() = default;
    virtual ProbeResult Probe(const std::vector<ProbeTarget>& targets) = 0;
};

struct ArpProbeTiming {
    int probes = 2;        // per address, spread over the listening time
    int listen_ms = 1000;  // from the first probe to the end of listening
};

// With CAP_NET_RAW: ARP probes on each target's interface, all at once. An
// ordinary user gets the kernel's own neighbour resolution instead, which
// reaches addresses on the interface's subnets only. Interfaces without ARP
// (loopback) are never probed. Routed targets are pinged.
class ArpProber final : public AddressProber {
public:
    explicit ArpProber(ArpProbeTiming timing = {}) : timing_(timing) {}
    ProbeResult Probe(const std::vector<ProbeTarget>& targets) override;

private:
    ArpProbeTiming timing_;
};

} // namespace vantoro
