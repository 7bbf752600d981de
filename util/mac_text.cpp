#include "util/mac_text.h"

#include "util/hex_digit.h"

#include <cstdio>

namespace vantoro {

std::optional<MacAddress> ParseMac(std::string_view text)
{
    if (text.size() != 17)
        return std::nullopt;
    const char separator = text[2];
    if (separator != ':' && separator != '-' && separator != ' ')
        return std::nullopt;
    MacAddress mac{};
    for (std::size_t i = 0; i < kMacSize; ++i) {
        const int hi = HexDigit(text[i * 3]);
        const int lo = HexDigit(text[i * 3 + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        // One separator throughout: "00:0a-0b..." is more likely a typo than a form.
        if (i + 1 < kMacSize && text[i * 3 + 2] != separator)
            return std::nullopt;
        mac[i] = std::uint8_t(hi << 4 | lo);
    }
    return mac;
}

std::string MacTableText(const MacAddress& m)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X %02X %02X", m[0], m[1], m[2], m[3], m[4], m[5]);
    return text;
}

std::string MacColonText(const MacAddress& m)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return text;
}

} // namespace vantoro
