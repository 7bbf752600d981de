#include "util/dotted_address.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace vantoro {
namespace {

constexpr std::uint32_t Addr(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

std::string Format(std::uint32_t value)
{
    char out[16];
    EXPECT_EQ(FormatDottedAddress(out, value), 15);
    return std::string(out);
}

// Captures the diagnostic lines of the calls made while it lives.
class LogCapture {
public:
    LogCapture() : file_(std::tmpfile()) { SetDottedAddressLog(file_); }
    ~LogCapture()
    {
        SetDottedAddressLog(stdout);
        std::fclose(file_);
    }
    std::string Text()
    {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        for (int c; (c = std::fgetc(file_)) != EOF;)
            text.push_back(char(c));
        return text;
    }

private:
    std::FILE* file_;
};

// Silences the diagnostic line for tests that only look at results.
class ParseDottedAddressQuiet : public ::testing::Test {
protected:
    void SetUp() override { SetDottedAddressLog(nullptr); }
    void TearDown() override { SetDottedAddressLog(stdout); }
};

// First in the file: in a single run it sees the stream as the program starts.
TEST(DottedAddressLog, GoesToStandardOutputByDefault)
{
    ::testing::internal::CaptureStdout();
    ParseDottedAddress("192.168.1.1");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "convert 192.168.1.1 to C0A80101\n");
}

TEST(DottedAddressLog, NullStreamSilencesTheLine)
{
    SetDottedAddressLog(nullptr);
    ::testing::internal::CaptureStdout();
    const std::uint32_t word = ParseDottedAddress("1.2.3.4");
    const std::string out = ::testing::internal::GetCapturedStdout();
    SetDottedAddressLog(stdout);
    EXPECT_EQ(word, Addr(1, 2, 3, 4));
    EXPECT_EQ(out, "");
}

TEST(DottedAddressLog, OneLineWithCallersTextAndUpperCaseHex)
{
    LogCapture log;
    ParseDottedAddress("192.168.1.1");
    ParseDottedAddress("10.1.2");
    ParseDottedAddress("");
    ParseDottedAddress("0.0.0.-1");
    ParseDottedAddress("192.168.  1.  1");
    // The caller's text is shown with its points, not the copy cut into parts.
    EXPECT_EQ(log.Text(), "convert 192.168.1.1 to C0A80101\n"
                          "convert 10.1.2 to A010000\n"
                          "convert  to 0\n"
                          "convert 0.0.0.-1 to FFFFFFFF\n"
                          "convert 192.168.  1.  1 to C0A80101\n");
}

TEST(DottedAddressLog, ThirtyCharactersOrMoreGiveZeroAndNoLine)
{
    const std::string at29 = "1.2.3.4" + std::string(22, ' ');
    const std::string at30 = at29 + ' ';
    const std::string longer = "10.20.30.40" + std::string(40, '0');
    ASSERT_EQ(at29.size(), 29u);

    LogCapture log;
    EXPECT_EQ(ParseDottedAddress(at29.c_str()), Addr(1, 2, 3, 4));
    EXPECT_EQ(ParseDottedAddress(at30.c_str()), 0u);
    EXPECT_EQ(ParseDottedAddress(longer.c_str()), 0u);
    EXPECT_EQ(log.Text(), "convert " + at29 + " to 1020304\n");
}

TEST(FormatDottedAddress, PadsEachFieldToThreeCharacters)
{
    EXPECT_EQ(Format(Addr(192, 168, 1, 1)), "192.168.  1.  1");
    EXPECT_EQ(Format(Addr(10, 0, 0, 1)), " 10.  0.  0.  1");
    EXPECT_EQ(Format(0), "  0.  0.  0.  0");
    EXPECT_EQ(Format(0xFFFFFFFFu), "255.255.255.255");
    EXPECT_EQ(Format(Addr(1, 22, 100, 9)), "  1. 22.100.  9");
}

TEST(FormatDottedAddress, WritesSixteenBytesAndNoMore)
{
    char out[24];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(FormatDottedAddress(out, Addr(255, 255, 255, 255)), 15);
    EXPECT_EQ(out[15], '\0');
    for (std::size_t i = 16; i < sizeof out; ++i)
        EXPECT_EQ(out[i], 'x') << "byte " << i;
}

TEST(FormatDottedAddress, EveryValueIsFifteenCharactersWithBlanksOnlyBelowOneHundred)
{
    std::mt19937 rng(2313);
    std::vector<std::uint32_t> values = {0, 1, 0xFF, 0x100, 0x64646464, 0x63646464, 0x64646463, 0xFFFFFFFF};
    for (int i = 0; i < 20000; ++i)
        values.push_back(std::uint32_t(rng()));
    for (std::uint32_t v : values) {
        const std::string text = Format(v);
        ASSERT_EQ(text.size(), 15u) << std::hex << v;
        const bool all_three_digits =
            (v >> 24 & 0xFF) >= 100 && (v >> 16 & 0xFF) >= 100 && (v >> 8 & 0xFF) >= 100 && (v & 0xFF) >= 100;
        EXPECT_EQ(text.find(' ') == std::string::npos, all_three_digits) << text;
        for (std::size_t dot : {3u, 7u, 11u})
            EXPECT_EQ(text[dot], '.') << text;
    }
}

TEST_F(ParseDottedAddressQuiet, FormattedTextParsesBackToTheSameWord)
{
    std::mt19937 rng(2056);
    std::vector<std::uint32_t> values = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, Addr(192, 168, 1, 1)};
    for (int i = 0; i < 50000; ++i)
        values.push_back(std::uint32_t(rng()));
    // An even walk across the whole range as well, so every byte value turns up in every place.
    for (std::uint64_t v = 0; v <= 0xFFFFFFFFu; v += 65537u * 257u)
        values.push_back(std::uint32_t(v));
    for (std::uint32_t v : values) {
        const std::string text = Format(v);
        ASSERT_EQ(ParseDottedAddress(text.c_str()), v) << text;
    }
}

struct ParseCase {
    const char* text;
    std::uint32_t word;
};

TEST_F(ParseDottedAddressQuiet, ParsesByTheLenientRules)
{
    const ParseCase cases[] = {
        {"192.168.1.1", Addr(192, 168, 1, 1)},
        {"192.168.  1.  1", Addr(192, 168, 1, 1)},
        {"0.0.0.0", 0},
        {"255.255.255.255", 0xFFFFFFFF},
        // Fewer than three points: the text after the last point is dropped.
        {"10.1.2", Addr(10, 1, 0, 0)},
        {"1.2", Addr(1, 0, 0, 0)},
        {"10", 0},
        {"", 0},
        // The fourth part stops at its first non-digit.
        {"1.2.3.4.5", Addr(1, 2, 3, 4)},
        {"1.2.3.4xyz", Addr(1, 2, 3, 4)},
        {"1.2.3.4 ", Addr(1, 2, 3, 4)},
        // Empty parts count 0.
        {"1..3.4", Addr(1, 0, 3, 4)},
        {"1.2.3.", Addr(1, 2, 3, 0)},
        {"...", 0},
        // No range check: carries go up, high bits fall off the top.
        {"1.256.0.1", Addr(2, 0, 0, 1)},
        {"0.0.0.256", Addr(0, 0, 1, 0)},
        {"256.1.1.1", Addr(0, 1, 1, 1)},
        {"-1.0.0.0", Addr(255, 0, 0, 0)},
        {"0.0.0.-1", 0xFFFFFFFF},
        {"0.-1.0.0", Addr(255, 255, 0, 0)},
        // Always decimal, leading zeros and white space allowed, one sign.
        {"010.001.002.003", Addr(10, 1, 2, 3)},
        {"0x10.0.0.1", Addr(0, 0, 0, 1)},
        {"\t1.\n2.\v3.\f\r4", Addr(1, 2, 3, 4)},
        {"+1.+2.+3.+4", Addr(1, 2, 3, 4)},
        {"--1.0.0.0", 0},
        {"1 2.3.4.5", Addr(1, 3, 4, 5)},
        // Letters are not rejected; they count 0.
        {"a.b.c.d", 0},
        {"abc.1.x.2", Addr(0, 1, 0, 2)},
    };
    for (const ParseCase& c : cases)
        EXPECT_EQ(ParseDottedAddress(c.text), c.word) << '"' << c.text << '"';
}

TEST_F(ParseDottedAddressQuiet, LongPartsWrapInThirtyTwoBitsBeforeTheShift)
{
    const ParseCase cases[] = {
        // 2^32 + 1 wraps to 1 in every place.
        {"0.0.0.4294967297", 1},
        {"4294967297.0.0.0", Addr(1, 0, 0, 0)},
        {"0.4294967552.0.0", Addr(1, 0, 0, 0)},
        // 12345678901 mod 2^32.
        {"0.0.0.12345678901", 0xDFDC1C35},
        // (10^20 - 1) mod 2^32: a library conversion would clamp here instead.
        {"0.0.0.99999999999999999999", 0x630FFFFF},
        {"0.0.0.-4294967295", 1},
        {"1.1.1.99999999999999999999", Addr(1, 1, 1, 0) + 0x630FFFFFu},
    };
    for (const ParseCase& c : cases)
        EXPECT_EQ(ParseDottedAddress(c.text), c.word) << '"' << c.text << '"';
}

TEST_F(ParseDottedAddressQuiet, LeavesTheCallersTextAlone)
{
    char text[] = "10.20.30.40";
    const std::string before = text;
    EXPECT_EQ(ParseDottedAddress(text), Addr(10, 20, 30, 40));
    EXPECT_EQ(std::string(text), before);
    EXPECT_EQ(std::memcmp(text, "10.20.30.40", sizeof text), 0);
}

} // namespace
} // namespace vantoro
