// Camera texts are Windows-1252: every byte reads as one character and back,
// and what the code page cannot hold is refused, naming the character.

#include "util/record_text.h"

#include <gtest/gtest.h>

using namespace vantoro;

TEST(RecordText, EveryByteReadsAsOneCharacterAndBack)
{
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, char(b));
        EXPECT_EQ(RecordTextFromUtf8(Utf8FromRecordText(byte)), byte) << b;
    }
    const struct {
        std::string bytes, utf8;
    } cases[] = {{"Caf\xE9", "Caf\xC3\xA9"},
                 {"\x80 5", "\xE2\x82\xAC 5"},
                 {"\x93quoted\x94", "\xE2\x80\x9Cquoted\xE2\x80\x9D"},
                 {"\x9F\xFF", "\xC5\xB8\xC3\xBF"},
                 {"\x81", "\xC2\x81"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8FromRecordText(c.bytes), c.utf8) << c.utf8;
        EXPECT_EQ(RecordTextFromUtf8(c.utf8), c.bytes) << c.utf8;
    }
}

TEST(RecordText, WhatTheCodePageCannotHoldIsRefused)
{
    const struct {
        std::string text, refused;
    } cases[] = {{"Gate \xCE\xA9", "\xCE\xA9"},                  // Omega
                 {"\xE6\x9D\xB1\xE4\xBA\xAC", "\xE6\x9D\xB1"},    // CJK
                 {"x\xF0\x9F\x93\xB7", "\xF0\x9F\x93\xB7"},       // beyond the BMP
                 {"Caf\xE9", "\xE9"},                                 // Latin-1, not UTF-8
                 {"\xC0\xAF", "\xC0"}};                               // an overlong form
    for (const auto& c : cases) {
        std::string refused = "unset";
        EXPECT_FALSE(RecordTextFromUtf8(c.text, &refused)) << c.text;
        EXPECT_EQ(refused, c.refused) << c.text;
    }
}
