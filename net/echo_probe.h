#pragma once
// Whether addresses beyond a router answer: ICMP echo, the one question that
// crosses routers. Silence proves nothing (many devices ignore pings); an
// answer proves the address is in use.

#include "net/arp_probe.h"

#include <vector>

namespace vantoro {

// Two echo requests per address, all addresses at once, listening for
// timing.listen_ms; answers go into result with echo set, and addresses that
// could not be pinged (no ping socket for this user) into result.unprobed.
void ProbeByEcho(const std::vector<ProbeTarget>& targets, const ArpProbeTiming& timing, ProbeResult& result);

} // namespace vantoro
