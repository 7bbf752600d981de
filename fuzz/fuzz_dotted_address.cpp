// Parses any text as a dotted address and checks it against a second, plain
// statement of the rules, along with the diagnostic line; formats a word taken
// from the input and checks that it parses back to itself.
//
// Input: the first 4 bytes are also the word to format; the whole input, up to
// its first NUL, is the text to parse.

#include "fuzz/fuzz_check.h"
#include "util/dotted_address.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

using namespace vantoro;

namespace {

// The C library's reading of a long, wrapping in 32 bits.
std::uint32_t RefDecimal(const std::string& part)
{
    std::size_t i = 0;
    while (i < part.size() && std::strchr(" \t\n\v\f\r", part[i]) != nullptr && part[i] != '\0')
        ++i;
    bool negative = false;
    if (i < part.size() && (part[i] == '+' || part[i] == '-'))
        negative = part[i++] == '-';
    std::uint32_t value = 0;
    while (i < part.size() && part[i] >= '0' && part[i] <= '9')
        value = value * 10 + std::uint32_t(part[i++] - '0');
    return negative ? ~value + 1 : value;
}

// Parts one to three count only when a point ends them; the fourth runs to
// the end of the text, points and all.
std::uint32_t RefParse(const std::string& text)
{
    if (text.size() >= 30)
        return 0;
    std::uint32_t sum = 0;
    std::size_t start = 0;
    for (int shift = 24; shift > 0; shift -= 8) {
        const std::size_t dot = text.find('.', start);
        if (dot == std::string::npos)
            return sum;
        sum += RefDecimal(text.substr(start, dot - start)) << shift;
        start = dot + 1;
    }
    return sum + RefDecimal(text.substr(start));
}

// The diagnostic stream: a fixed buffer, rewound for every input.
char g_log_buffer[256];

std::FILE* Log()
{
    static std::FILE* log = [] {
        std::FILE* f = fmemopen(g_log_buffer, sizeof g_log_buffer, "w");
        FUZZ_CHECK(f != nullptr);
        SetDottedAddressLog(f);
        return f;
    }();
    return log;
}

std::string Logged(std::FILE* log)
{
    std::fflush(log);
    const long n = std::ftell(log);
    FUZZ_CHECK(n >= 0 && std::size_t(n) < sizeof g_log_buffer);
    return std::string(g_log_buffer, std::size_t(n));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* log = Log();

    // Exactly the text and its NUL on the heap: a read past it is caught.
    std::size_t length = 0;
    while (length < size && data[length] != 0)
        ++length;
    auto text = std::make_unique<char[]>(length + 1);
    std::memcpy(text.get(), data, length);
    text[length] = '\0';
    const std::string original(text.get(), length);

    std::rewind(log);
    const std::uint32_t word = ParseDottedAddress(text.get());
    const std::string line = Logged(log);
    FUZZ_CHECK(std::string(text.get(), length) == original); // the caller's text is left alone
    FUZZ_CHECK(word == RefParse(original));
    if (length >= 30) {
        FUZZ_CHECK(word == 0);
        FUZZ_CHECK(line.empty());
    } else {
        char want[80];
        std::snprintf(want, sizeof want, "convert %s to %lX\n", original.c_str(), static_cast<unsigned long>(word));
        FUZZ_CHECK(line == want);
    }

    // Any word formats to 15 characters and reads back unchanged.
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && i < size; ++i)
        value |= std::uint32_t(data[i]) << (24 - 8 * i);
    for (std::uint32_t w : {value, word, ~value}) {
        auto formatted = std::make_unique<char[]>(16);
        FUZZ_CHECK(FormatDottedAddress(formatted.get(), w) == 15);
        FUZZ_CHECK(std::strlen(formatted.get()) == 15);
        for (int field = 0; field < 4; ++field) {
            FUZZ_CHECK(field == 3 || formatted[std::size_t(field) * 4 + 3] == '.');
            const unsigned number = (w >> (24 - 8 * field)) & 0xFF;
            char want[4];
            std::snprintf(want, sizeof want, "%3u", number);
            FUZZ_CHECK(std::memcmp(formatted.get() + field * 4, want, 3) == 0);
        }
        std::rewind(log);
        FUZZ_CHECK(ParseDottedAddress(formatted.get()) == w);
    }
    return 0;
}
