#include "util/mac_text.h"

#include <gtest/gtest.h>

namespace vantoro {
namespace {

TEST(MacText, HardwareAddressesInEveryAcceptedFormAndNoOther)
{
    const MacAddress expected{0x00, 0x0A, 0x0B, 0x00, 0x00, 0xF1};
    for (const char* good : {"00:0a:0b:00:00:f1", "00 0A 0B 00 00 F1", "00-0A-0b-00-00-F1", "00:0A:0B:00:00:F1"})
        EXPECT_EQ(ParseMac(good), expected) << good;
    for (const char* bad : {"", "00:0a:0b:00:00", "00:0a:0b:00:00:f1:", "00:0a:0b:00:00:g1", "0:0a:0b:00:00:f1a",
                            "00:0a-0b:00:00:f1", "00 0a:0b:00:00:f1", "000a0b0000f1", " 00:0a:0b:00:00:f1",
                            "00.0a.0b.00.00.f1", "00\t0a\t0b\t00\t00\tf1", "00 0A 0B 00 00 F", "00 0A"})
        EXPECT_FALSE(ParseMac(bad)) << bad;
    EXPECT_EQ(MacTableText(expected), "00 0A 0B 00 00 F1");
    EXPECT_EQ(MacColonText(expected), "00:0a:0b:00:00:f1");
}

TEST(MacText, BothFormsReadBackToEveryByte)
{
    for (const MacAddress& mac : {MacAddress{}, MacAddress{0xDE, 0xAD, 0x00, 0x0F, 0xA0, 0x7B},
                                  MacAddress{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}) {
        EXPECT_EQ(ParseMac(MacTableText(mac)), mac) << MacTableText(mac);
        EXPECT_EQ(ParseMac(MacColonText(mac)), mac) << MacColonText(mac);
    }
}

} // namespace
} // namespace vantoro
