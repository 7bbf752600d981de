#pragma once
// The order of apply's address moves. A camera that takes an address another
// camera of the plan is leaving starts only once that camera is verified at
// its new address, so the two never share it. Moves that wait on each other
// in a ring (a swap, or A to B to C to A) pass through a free spare address:
// one camera of the ring moves there first, the others follow in order, and
// it moves on to its own new address last. Rings share the spare one after
// another.

#include "util/ipv4_address.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantoro::ops {

// A row of the plan that changes a camera's Ethernet IP.
struct RowMove {
    std::size_t row = 0;
    Ipv4Address from, to;
};

// A step waits for another step's camera to leave an address: that step
// must have been verified first.
struct MoveWait {
    std::size_t step = 0;
    Ipv4Address address; // the address that step's camera leaves
};

struct MoveStep {
    std::size_t row = 0; // the plan row whose camera this step writes
    // Set: the step moves the camera to this spare address only, and the
    // row's own step follows it.
    std::optional<Ipv4Address> spare;
    std::vector<MoveWait> after;
};

struct MoveOrder {
    // Step i writes row i, for every row; then one step per ring through the spare.
    std::vector<MoveStep> steps;
    // A ring without a spare address, or one that a spare does not untie:
    // nothing may be sent. Names the cameras of the ring.
    std::string error;
    bool dependent() const; // some step waits for another
};

// rows: how many rows the plan has; moves: the rows that change an address,
// with the address each camera has now. macs[row]: the camera's name in
// messages ("00 0A 0B 00 00 01").
MoveOrder OrderMoves(std::size_t rows, const std::vector<RowMove>& moves, const std::vector<std::string>& macs,
                     std::optional<Ipv4Address> spare);

} // namespace vantoro::ops
