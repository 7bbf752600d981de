// The command line's own texts: hardware addresses, strict addresses, base64,
// tables that fit 100 columns, and the record edits' checks.

#include "cli/base64.h"
#include "cli/record_edits.h"
#include "cli/table.h"
#include "cli/text_forms.h"
#include "link/records.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace vantoro;
using namespace vantoro::cli;

TEST(CliTexts, HardwareAddressesInEveryAcceptedFormAndNoOther)
{
    const MacAddress expected{0x00, 0x0A, 0x0B, 0x00, 0x00, 0xF1};
    for (const char* good : {"00:0a:0b:00:00:f1", "00 0A 0B 00 00 F1", "00-0A-0b-00-00-F1"})
        EXPECT_EQ(ParseMac(good), expected) << good;
    for (const char* bad : {"", "00:0a:0b:00:00", "00:0a:0b:00:00:f1:", "00:0a:0b:00:00:g1", "0:0a:0b:00:00:f1a",
                            "00:0a-0b:00:00:f1", "000a0b0000f1", " 00:0a:0b:00:00:f1"})
        EXPECT_FALSE(ParseMac(bad)) << bad;
    EXPECT_EQ(MacTableText(expected), "00 0A 0B 00 00 F1");
    EXPECT_EQ(MacColonText(expected), "00:0a:0b:00:00:f1");
}

TEST(CliTexts, AddressesAreStrictDottedQuads)
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
}

TEST(CliTexts, Base64RoundTripsEveryByteAndRefusesDamage)
{
    std::vector<std::uint8_t> bytes(256);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i);
    for (std::size_t n : {0u, 1u, 2u, 3u, 256u})
        EXPECT_EQ(Base64Decode(Base64Encode(bytes.data(), n)), std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + long(n)));
    EXPECT_EQ(Base64Encode(reinterpret_cast<const std::uint8_t*>("ab"), 2), "YWI=");
    for (const char* bad : {"YWI", "YW=I", "Y===", "YWI*", "=AAA"})
        EXPECT_FALSE(Base64Decode(bad)) << bad;
}

TEST(CliTexts, TablesAreAlignedAndFitTheWidth)
{
    Table t({"NAME", "ADDRESS"});
    t.AddRow({"short", "10.0.0.1"});
    t.AddRow({std::string(150, 'x'), "10.0.0.2"});
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    t.Print(out, 60);
    std::fclose(out);
    const std::string printed(text, size);
    std::free(text);
    std::size_t start = 0, column = std::string::npos;
    for (std::size_t end; (end = printed.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = printed.substr(start, end - start);
        EXPECT_LE(line.size(), 60u) << line;
        const std::size_t at = line.find("10.0.0") != std::string::npos ? line.find("10.0.0") : line.find("ADDRESS");
        if (column == std::string::npos)
            column = at;
        EXPECT_EQ(at, column) << "columns out of line: " << line;
    }
    EXPECT_NE(printed.find("~"), std::string::npos) << "the cut cell is marked";
}

TEST(CliEdits, TextsThatDoNotFitTheirFieldsAreRefused)
{
    const auto refused = [](RecordEdits e) { return CheckTextLengths(e).has_value(); };
    RecordEdits fits;
    fits.add_users = {{std::string(31, 'u'), std::string(19, 'p')}};
    fits.add_domains = {{std::string(79, 'd'), "255.255.255.255"}};
    EXPECT_FALSE(refused(fits));
    RecordEdits e;
    e.add_users = {{std::string(32, 'u'), "p"}};
    EXPECT_TRUE(refused(e));
    e.add_users = {{"u", std::string(20, 'p')}};
    EXPECT_TRUE(refused(e));
    e.add_users = {{"", "p"}};
    EXPECT_TRUE(refused(e));
    e = {};
    e.add_domains = {{std::string(80, 'd'), "1.2.3.4"}};
    EXPECT_TRUE(refused(e));
    e = {};
    e.permissions = {{std::string(32, 'u'), {}}};
    EXPECT_TRUE(refused(e));
}

TEST(CliEdits, ChangesNameFieldsAndRowsButNeverShowAPassword)
{
    CameraRecords before;
    before.general.emplace();
    before.user.emplace();
    before.domain.emplace();
    UserConfig(before.user->data()).AddUser("admin", "topsecret");
    CameraRecords after = before;
    RecordEdits e;
    e.general.ethernet_ip = 0x0A000001;
    e.add_users = {{"bob", "hunter22"}};
    e.permissions = {{"BOB", {true, false}}};
    ASSERT_FALSE(ApplyEdits(e, after));
    std::string all;
    for (const FieldChange& c : DescribeChanges(before, after))
        all += c.field + ": " + c.before + " -> " + c.after + "\n";
    EXPECT_EQ(all, "ethernet_ip: 0.0.0.0 -> 10.0.0.1\nuser row 1: (free) -> bob view (new password)\n");
    EXPECT_EQ(all.find("hunter22"), std::string::npos);

    RecordEdits missing;
    missing.delete_users = {"nobody"};
    EXPECT_TRUE(ApplyEdits(missing, after));
}
