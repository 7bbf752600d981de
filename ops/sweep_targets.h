#pragma once
// The addresses a WAN-mode search goes to: one address, a CIDR range
// ("10.20.0.0/22"), a dash range ("10.20.0.10-10.20.0.99"), a comma-separated
// list of these, or a file with one of these per line. Cameras answer a
// WAN-mode search at the sender's address, across routers, so a range finds
// the cameras of a routed subnet that no broadcast reaches.

#include "util/result.h"
#include "net/net_interfaces.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantoro::ops {

// Inclusive.
struct AddressRange {
    Ipv4Address first;
    Ipv4Address last;
    bool operator==(const AddressRange&) const = default;
};

// A /16 holds 65536 addresses; more take --force.
inline constexpr std::uint64_t kMaxTargetsUnforced = 65536;

// Multicast, class E and the limited broadcast (224.0.0.0/3, which holds
// 255.255.255.255) are never searched: a target reaching into them is refused.
inline constexpr Ipv4Address kFirstNonUnicast{0xE0000000};

class SweepTargets {
public:
    // Adds a comma-separated list of targets; an error text names the bad one,
    // and then nothing of the list is added.
    // The network and broadcast addresses of a CIDR range wider than /31 are
    // left out. where, when given, goes before the error ("file:3: ").
    Error AddList(std::string_view list, const std::string& where = {});
    // One target list per line; blank lines and lines starting with '#' are
    // skipped. The file is read within the input bound.
    Error AddFile(const std::string& path);
    // The same from the file's bytes; path names it in messages.
    Error AddFileText(std::string_view text, const std::string& path);
    void Add(const SweepTargets& more);
    // Leaves out the network and broadcast addresses of these subnets from
    // every range of more than one address, so a range through x.y.z.255
    // never becomes a broadcast. A single address named alone stays.
    void SkipSubnetEnds(const std::vector<AttachedSubnet>& subnets);

    // Sorted, overlapping and adjacent ranges merged: each address once.
    const std::vector<AddressRange>& ranges() const { return ranges_; }
    std::uint64_t count() const;
    bool empty() const { return ranges_.empty(); }
    // The index-th address of the sweep, ascending.
    Ipv4Address at(std::uint64_t index) const;

private:
    Error AddOne(std::string_view text);
    Error AddItems(std::string_view list, const std::string& where);
    void Merge();

    std::vector<AddressRange> ranges_;
};

} // namespace vantoro::ops
