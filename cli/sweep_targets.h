#pragma once
// The addresses a WAN-mode search goes to: one address, a CIDR range
// ("10.20.0.0/22"), a dash range ("10.20.0.10-10.20.0.99"), a comma-separated
// list of these, or a file with one of these per line. Cameras answer a
// WAN-mode search at the sender's address, across routers, so a range finds
// the cameras of a routed subnet that no broadcast reaches.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantoro::cli {

// Inclusive, in host byte order (first number in the most significant byte).
struct AddressRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    bool operator==(const AddressRange&) const = default;
};

// A /16 holds 65536 addresses; more take --force.
inline constexpr std::uint64_t kMaxTargetsUnforced = 65536;

class SweepTargets {
public:
    // Adds a comma-separated list of targets; an error text names the bad one.
    // The network and broadcast addresses of a CIDR range wider than /31 are
    // left out. where, when given, goes before the error ("file:3: ").
    std::optional<std::string> AddList(std::string_view list, const std::string& where = {});
    // One target per line; blank lines and lines starting with '#' are skipped.
    std::optional<std::string> AddFile(const std::string& path);
    void Add(const SweepTargets& more);

    // Sorted, overlapping and adjacent ranges merged: each address once.
    const std::vector<AddressRange>& ranges() const { return ranges_; }
    std::uint64_t count() const;
    bool empty() const { return ranges_.empty(); }
    // The index-th address of the sweep, ascending.
    std::uint32_t at(std::uint64_t index) const;

private:
    std::optional<std::string> AddOne(std::string_view text);
    void Merge();

    std::vector<AddressRange> ranges_;
};

} // namespace vantoro::cli
