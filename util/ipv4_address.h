#pragma once
// An IPv4 address as the operations layer and the link's front door pass it:
// in host order, the first dotted number in the most significant byte, the
// way the camera's records hold addresses. Network order stays inside the OS
// network layer and the frame codecs; a bare std::uint32_t there is a record
// word, which may as well be a mask or a switch.

#include "util/strict_address.h"

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantoro {

class Ipv4Address {
public:
    constexpr Ipv4Address() = default;
    constexpr explicit Ipv4Address(std::uint32_t host_order) : word_(host_order) {}

    // Exactly four decimal numbers 0-255 joined by points (ParseStrictAddress).
    static std::optional<Ipv4Address> Parse(std::string_view text)
    {
        const auto word = ParseStrictAddress(text);
        return word ? std::optional(Ipv4Address(*word)) : std::nullopt;
    }

    constexpr std::uint32_t word() const { return word_; } // host order, as the records hold it
    constexpr bool unspecified() const { return word_ == 0; } // 0.0.0.0: unknown, or none
    std::string text() const { return AddressText(word_); } // "10.0.0.1"

    constexpr auto operator<=>(const Ipv4Address&) const = default;

private:
    std::uint32_t word_ = 0;
};

} // namespace vantoro
