#pragma once
// Dotted quads read strictly, unlike the sheet's lenient address fields
// (util/dotted_address.h): a typing mistake is refused before anything is sent.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantoro {

// Exactly four decimal numbers 0-255 joined by points, no blanks, no sign, no
// leading zeros ("10.0.0.1"). The result is the record's address word (first
// number in the most significant byte).
std::optional<std::uint32_t> ParseStrictAddress(std::string_view text);
// "10.0.0.1" from an address word.
std::string AddressText(std::uint32_t word);

} // namespace vantoro
