#pragma once
// A copy of one camera as the link knows it, taken in one piece: safe to keep
// and read on any thread while answers go on arriving.

#include "link/config_frame.h"
#include "util/ipv4_address.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace vantoro {

struct CameraSnapshot {
    MacAddress mac{};
    std::optional<Frame> general;
    std::optional<Frame> user;
    std::optional<Frame> domain;
    // The interface index its latest answer arrived on; 0 when unknown (WAN
    // mode, or the socket does not say).
    unsigned answer_interface = 0;
    // Where its latest answer came from; 0.0.0.0 when unknown.
    Ipv4Address answer_address;
    // When each record (general, user, domain) was last filed from an answer,
    // on the registry's count of answers filed; 0 never.
    std::array<std::uint64_t, 3> filed_at{};
    // Other addresses this MAC answered from, sorted:
    // two devices share the MAC, or one is reached two ways. The records
    // above are all from answer_address, never mixed with theirs.
    std::vector<Ipv4Address> other_sources;

    bool complete() const { return general && user && domain; }
};

} // namespace vantoro
