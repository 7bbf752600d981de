#include "ops/text_forms.h"

#include "util/hex_digit.h"

#include <algorithm>
#include <cstdio>

namespace vantoro::ops {

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

std::vector<std::string_view> SplitCommas(std::string_view list)
{
    std::vector<std::string_view> items;
    for (std::size_t from = 0;;) {
        const std::size_t comma = std::min(list.find(',', from), list.size());
        items.push_back(list.substr(from, comma - from));
        if (comma == list.size())
            return items;
        from = comma + 1;
    }
}

std::string PrintableText(std::string_view text)
{
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && c != '\\') {
            out += c;
        } else {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02X", b);
            out += esc;
        }
    }
    return out;
}

} // namespace vantoro::ops
