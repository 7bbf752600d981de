// Reads any text as a hardware address and as a strict dotted quad, through
// the parsers every front end uses, and checks each against a plain statement
// of its rules: what is accepted prints back to the same text (up to letter
// case and separator) and parses again to the same value.

#include "fuzz/fuzz_check.h"
#include "util/mac_text.h"
#include "util/strict_address.h"

#include <cctype>
#include <cstdint>
#include <string>

using namespace vantoro;

namespace {

bool IsHex(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Six pairs of hex digits, one separator throughout: ':', '-' or ' '.
bool RefMac(std::string_view t)
{
    if (t.size() != 17 || (t[2] != ':' && t[2] != '-' && t[2] != ' '))
        return false;
    for (std::size_t i = 0; i < 17; ++i)
        if (i % 3 == 2 ? t[i] != t[2] : !IsHex(t[i]))
            return false;
    return true;
}

// Four numbers 0-255 without leading zeros, joined by single points.
bool RefAddress(std::string_view t)
{
    int parts = 0;
    std::size_t i = 0;
    for (;;) {
        const std::size_t start = i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9')
            ++i;
        const std::size_t digits = i - start;
        if (digits == 0 || digits > 3 || (digits > 1 && t[start] == '0') || std::stoi(std::string(t.substr(start, digits))) > 255)
            return false;
        if (++parts == 4)
            return i == t.size();
        if (i >= t.size() || t[i] != '.')
            return false;
        ++i;
    }
}

// The same six pairs in one letter case with one separator.
std::string Respelled(std::string_view t, bool upper, char separator)
{
    std::string out(t);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        out[i] = i % 3 == 2 ? separator : char(upper ? std::toupper(c) : std::tolower(c));
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto mac = ParseMac(text);
    FUZZ_CHECK(mac.has_value() == RefMac(text));
    if (mac) {
        FUZZ_CHECK(MacColonText(*mac) == Respelled(text, false, ':'));
        FUZZ_CHECK(MacTableText(*mac) == Respelled(text, true, ' '));
        FUZZ_CHECK(ParseMac(MacColonText(*mac)) == mac);
        FUZZ_CHECK(ParseMac(MacTableText(*mac)) == mac);
    }

    const auto address = ParseStrictAddress(text);
    FUZZ_CHECK(address.has_value() == RefAddress(text));
    if (address)
        FUZZ_CHECK(AddressText(*address) == text); // strict: one text per address

    // Any word prints to a text that parses back to it.
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < 4 && i < size; ++i)
        word = word << 8 | data[i];
    FUZZ_CHECK(ParseStrictAddress(AddressText(word)) == word);
    return 0;
}
