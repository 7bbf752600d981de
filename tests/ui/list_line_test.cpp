#include "ui/list_line.h"
#include "ui/record_text_validator.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

namespace vantoro::ui {
namespace {

TEST(ListLine, FormatsUserAndDomainLines)
{
    EXPECT_EQ(FormatUserLine("admin", "secret"), QStringLiteral("name: admin   password: secret"));
    EXPECT_EQ(FormatDomainLine("cam.example", "10.0.0.1"), QStringLiteral("name: cam.example   ip: 10.0.0.1"));
    EXPECT_EQ(FormatDomainLine("cam", ""), QStringLiteral("name: cam   ip: "));
}

TEST(ListLine, ScanReadsTheFirstWordAfterName)
{
    EXPECT_EQ(ScanListLineName("name: admin   password: secret"), "admin");
    EXPECT_EQ(ScanListLineName("name: two words   password: x"), "two");
    EXPECT_EQ(ScanListLineName("name:admin"), "admin");
    EXPECT_EQ(ScanListLineName("name: \t guest\tip: x"), "guest");
    // An empty name lets the scan take the next word.
    EXPECT_EQ(ScanListLineName("name:    password: x"), "password:");
    EXPECT_EQ(ScanListLineName("name:    ip: "), "ip:");
}

TEST(ListLine, ScanFailsWhenTheLiteralOrTheNameIsMissing)
{
    EXPECT_EQ(ScanListLineName("Name: admin   password: x"), std::nullopt);
    EXPECT_EQ(ScanListLineName(" name: admin"), std::nullopt);
    EXPECT_EQ(ScanListLineName("name:"), std::nullopt);
    EXPECT_EQ(ScanListLineName("name:   "), std::nullopt);
    EXPECT_EQ(ScanListLineName(""), std::nullopt);
}

TEST(ListLine, RecordTextKeepsEachByteAsOneCharacter)
{
    const std::string bytes = "caf\xE9";
    const QString text = FromRecordText(bytes);
    EXPECT_EQ(text.size(), 4);
    EXPECT_EQ(ToRecordText(text), bytes);
    // Windows-1252, as vantoro reads and writes it: 80 is the euro sign, and
    // what the code page cannot hold is '?' here and blocked in the edits.
    EXPECT_EQ(FromRecordText("\x80\x93"), QString::fromUtf8("\xE2\x82\xAC\xE2\x80\x9C"));
    EXPECT_EQ(ToRecordText(QString::fromUtf8("\xE2\x82\xAC Caf\xC3\xA9 \xCE\xA9")), "\x80 Caf\xE9 ?");
    RecordTextValidator validator;
    int pos = 0;
    QString typed = QString::fromUtf8("Caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(validator.validate(typed, pos), QValidator::Acceptable);
    typed += QString::fromUtf8("\xCE\xA9");
    EXPECT_EQ(validator.validate(typed, pos), QValidator::Invalid);
}

} // namespace
} // namespace vantoro::ui
