#include "util/strict_address.h"

#include <cstdio>

namespace vantoro {

std::optional<std::uint32_t> ParseStrictAddress(std::string_view text)
{
    std::uint32_t word = 0;
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
        const std::size_t start = i;
        unsigned value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3)
            value = value * 10 + unsigned(text[i++] - '0');
        const std::size_t digits = i - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0'))
            return std::nullopt;
        word = word << 8 | value;
    }
    if (i != text.size())
        return std::nullopt;
    return word;
}

std::string AddressText(std::uint32_t w)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(w >> 24), unsigned(w >> 16 & 0xFF),
                  unsigned(w >> 8 & 0xFF), unsigned(w & 0xFF));
    return text;
}

} // namespace vantoro
