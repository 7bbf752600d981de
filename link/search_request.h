#pragma once
// What one search sends and where: the three requests CMD_GET_GENERAL,
// CMD_GET_USER and CMD_GET_DOMAIN back to back, and whether a collection
// window follows them. The one way both front ends search.

#include "util/ipv4_address.h"

#include <chrono>
#include <cstdint>
#include <optional>

namespace vantoro {

struct SearchRequest {
    // WAN mode: to this address instead of the link's WAN address.
    std::optional<Ipv4Address> address;
    // LAN mode: through this interface only (0, or no longer up: every one).
    unsigned via_interface = 0;
    // The sheet's search carries the frame image, whatever it holds; a
    // request carrying no record (bytes 8 to 1151 zero) leaks no camera's
    // user table to another place.
    bool carry_frame_image = true;
    // Zero: the burst alone. Otherwise a collection window follows, and
    // while windows close with answers dropped the same burst goes out
    // again (at most 3 more times) with a new window; the observer hears
    // SearchIncomplete if the last still lost answers. A request with a
    // window replaces the search under way.
    std::chrono::milliseconds window{0};
};

} // namespace vantoro
