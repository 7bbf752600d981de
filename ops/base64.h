#pragma once
// Standard base64 (RFC 4648, with padding) for the byte-exact records in an
// export file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantoro::ops {

std::string Base64Encode(const std::uint8_t* data, std::size_t n);
// None for text that is not padded base64.
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text);

} // namespace vantoro::ops
