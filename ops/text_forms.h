#pragma once
// The texts the command line reads and writes: hardware addresses and strict
// dotted quads. Input is checked strictly here, unlike the sheet's lenient
// address fields, so a typing mistake is refused before anything is sent.

#include "link/config_frame.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantoro::ops {

// Six hex bytes of two digits, separated by ':', '-' or one blank
// ("00:0a:0b:00:00:01", "00 0A 0B 00 00 01"); any letter case.
std::optional<MacAddress> ParseMac(std::string_view text);
// The camera list's form, "00 0A 0B 00 00 01": tables.
std::string MacTableText(const MacAddress& mac);
// "00:0a:0b:00:00:01": JSON, CSV and file names.
std::string MacColonText(const MacAddress& mac);

// Exactly four decimal numbers 0-255 joined by points, no blanks, no sign, no
// leading zeros ("10.0.0.1"). The result is the record's address word (first
// number in the most significant byte).
std::optional<std::uint32_t> ParseStrictAddress(std::string_view text);
// "10.0.0.1" from an address word.
std::string AddressText(std::uint32_t word);

// The comma-separated items of a list, empty ones included ("a,,b": a, "", b).
std::vector<std::string_view> SplitCommas(std::string_view list);

// Bytes outside printable ASCII as \xNN: texts from a camera go to a terminal.
std::string PrintableText(std::string_view text);

} // namespace vantoro::ops
