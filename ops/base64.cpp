#include "ops/base64.h"

namespace vantoro::ops {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

std::string Base64Encode(const std::uint8_t* data, std::size_t n)
{
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    for (std::size_t i = 0; i < n; i += 3) {
        const std::uint32_t b0 = data[i];
        const std::uint32_t b1 = i + 1 < n ? data[i + 1] : 0;
        const std::uint32_t b2 = i + 2 < n ? data[i + 2] : 0;
        const std::uint32_t v = b0 << 16 | b1 << 8 | b2;
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += i + 1 < n ? kAlphabet[v >> 6 & 63] : '=';
        out += i + 2 < n ? kAlphabet[v & 63] : '=';
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int pad = 0;
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && last && (k == 3 || (k == 2 && text[i + 3] == '='))) {
                ++pad;
                v <<= 6;
                continue;
            }
            const int s = Sextet(c);
            if (s < 0 || pad > 0)
                return std::nullopt;
            v = v << 6 | std::uint32_t(s);
        }
        out.push_back(std::uint8_t(v >> 16));
        if (pad < 2)
            out.push_back(std::uint8_t(v >> 8));
        if (pad < 1)
            out.push_back(std::uint8_t(v));
    }
    return out;
}

} // namespace vantoro::ops
