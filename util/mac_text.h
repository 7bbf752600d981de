#pragma once
// Hardware addresses and their two texts: the camera list's table form and
// the colon form of files and JSON. Every front end reads and writes them
// here, so a mac typed into one reads the same in the others.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vantoro {

inline constexpr std::size_t kMacSize = 6;
using MacAddress = std::array<std::uint8_t, kMacSize>;

// For unordered sets and maps keyed by hardware address.
struct MacHash {
    std::size_t operator()(const MacAddress& m) const noexcept
    {
        std::uint64_t v = 0;
        for (std::uint8_t b : m)
            v = v << 8 | b;
        return std::hash<std::uint64_t>{}(v);
    }
};

// Six hex bytes of two digits, separated by ':', '-' or one blank, the same
// separator throughout ("00:0a:0b:00:00:01", "00 0A 0B 00 00 01"); any letter
// case. Nothing before, between or after.
std::optional<MacAddress> ParseMac(std::string_view text);
// "00 0A 0B 00 00 01": the camera list and the command line's tables.
std::string MacTableText(const MacAddress& mac);
// "00:0a:0b:00:00:01": JSON, CSV, file names and the simulator's log.
std::string MacColonText(const MacAddress& mac);

} // namespace vantoro
