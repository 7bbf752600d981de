#include "util/dotted_address.h"

#include <cstdio>
#include <cstring>

namespace vantoro {

namespace {

// Longer texts are refused outright; the work copy holds the rest and its NUL.
constexpr std::size_t kMaxText = 30;

bool g_log_redirected = false;
std::FILE* g_log = nullptr;

std::FILE* LogStream()
{
    return g_log_redirected ? g_log : stdout;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decimal text to a number the way the C library reads a long, except that
// overflow wraps in 32 bits instead of clamping, whatever the width of long.
std::uint32_t DecimalPart(const char* p)
{
    while (IsBlank(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    std::uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value * 10u + std::uint32_t(*p - '0');
    return negative ? 0u - value : value;
}

} // namespace

int FormatDottedAddress(char* out, std::uint32_t value)
{
    return std::snprintf(out, 16, "%3d.%3d.%3d.%3d", int((value >> 24) & 0xFF), int((value >> 16) & 0xFF),
                         int((value >> 8) & 0xFF), int(value & 0xFF));
}

std::uint32_t ParseDottedAddress(const char* text)
{
    const std::size_t length = std::strlen(text);
    if (length >= kMaxText)
        return 0;

    char work[kMaxText];
    std::memcpy(work, text, length + 1);

    std::uint32_t sum = 0;
    char* part = work;
    unsigned shift = 24;
    for (char* p = work; *p != '\0'; ++p) {
        if (*p != '.')
            continue;
        *p = '\0';
        sum += DecimalPart(part) << shift;
        part = p + 1;
        shift -= 8;
        if (shift == 0) {
            // The fourth part runs to the end; its number stops at the first non-digit.
            sum += DecimalPart(part);
            break;
        }
    }

    if (std::FILE* log = LogStream())
        std::fprintf(log, "convert %s to %lX\n", text, static_cast<unsigned long>(sum));
    return sum;
}

void SetDottedAddressLog(std::FILE* stream)
{
    g_log_redirected = true;
    g_log = stream;
}

} // namespace vantoro
