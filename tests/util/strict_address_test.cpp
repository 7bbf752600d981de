#include "util/strict_address.h"

#include <gtest/gtest.h>

namespace vantoro {
namespace {

TEST(StrictAddress, OnlyPlainDottedQuads)
{
    EXPECT_EQ(ParseStrictAddress("192.168.1.10"), 0xC0A8010Au);
    EXPECT_EQ(ParseStrictAddress("0.0.0.0"), 0u);
    EXPECT_EQ(ParseStrictAddress("255.255.255.255"), 0xFFFFFFFFu);
    // Everything the sheet's lenient parse would turn into some address.
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "01.2.3.4", "1.2.3.-4", "+1.2.3.4", " 1.2.3.4",
                            "1.2.3.4 ", "1..3.4", "a.b.c.d", "1.2.3.4x", "1234.1.1.1", "host.example"})
        EXPECT_FALSE(ParseStrictAddress(bad)) << bad;
    for (std::uint32_t w : {0u, 0x0A000001u, 0xC0A8010Au, 0xFFFFFFFFu})
        EXPECT_EQ(ParseStrictAddress(AddressText(w)), w);
    EXPECT_EQ(AddressText(0xC0A8010Au), "192.168.1.10");
}

} // namespace
} // namespace vantoro
