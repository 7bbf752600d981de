#include "link/records.h"
#include "link/network_fields.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace vantoro {
namespace {

// A record where no byte is zero, so a stray write of any value shows.
Frame Patterned()
{
    Frame f;
    for (std::size_t i = 0; i < f.size(); ++i)
        f[i] = std::uint8_t(i % 255 + 1);
    return f;
}

std::vector<std::size_t> Changed(const Frame& before, const Frame& after)
{
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < before.size(); ++i)
        if (before[i] != after[i])
            offsets.push_back(i);
    return offsets;
}

std::vector<std::size_t> Range(std::size_t from, std::size_t count)
{
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < count; ++i)
        offsets.push_back(from + i);
    return offsets;
}

std::vector<std::size_t> Join(std::vector<std::size_t> a, const std::vector<std::size_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::uint8_t> BytesAt(const Frame& f, std::size_t off, std::size_t n)
{
    return std::vector<std::uint8_t>(f.begin() + std::ptrdiff_t(off), f.begin() + std::ptrdiff_t(off + n));
}

constexpr std::uint32_t Addr(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

// Rows are laid down by hand at their wire offsets, independent of the code under test.
constexpr std::size_t UserRow(int r) { return 32 + 56 * std::size_t(r); }
constexpr std::size_t DomainRow(int r) { return 32 + 104 * std::size_t(r); }

void PutText(Frame& f, std::size_t off, const std::string& text)
{
    std::memcpy(f.data() + off, text.c_str(), text.size() + 1);
}

void PutWord(Frame& f, std::size_t off, std::uint32_t v)
{
    f[off] = std::uint8_t(v);
    f[off + 1] = std::uint8_t(v >> 8);
    f[off + 2] = std::uint8_t(v >> 16);
    f[off + 3] = std::uint8_t(v >> 24);
}

std::uint32_t GetWord(const Frame& f, std::size_t off)
{
    return std::uint32_t(f[off]) | std::uint32_t(f[off + 1]) << 8 | std::uint32_t(f[off + 2]) << 16 |
           std::uint32_t(f[off + 3]) << 24;
}

void PutUser(Frame& f, int r, const std::string& name, const std::string& password, std::uint32_t perms)
{
    PutText(f, UserRow(r), name);
    PutText(f, UserRow(r) + 32, password);
    PutWord(f, UserRow(r) + 52, perms);
}

void PutDomain(Frame& f, int r, const std::string& name, const std::string& ip)
{
    PutText(f, DomainRow(r), name);
    PutText(f, DomainRow(r) + 80, ip);
}

// ---------------------------------------------------------------- text fields

TEST(TextField, ReadStopsAtNulOrAtTheFieldsEnd)
{
    std::uint8_t buf[12] = {'a', 'b', 'c', 0, 'x', 'y', 'z', 'w', 'Q', 'Q', 'Q', 'Q'};
    EXPECT_EQ(ReadTextField(buf, 8), "abc");
    buf[3] = 'd';
    // No NUL inside the width: the whole width and not one byte more.
    EXPECT_EQ(ReadTextField(buf, 8), "abcdxyzw");
    EXPECT_EQ(ReadTextField(buf, 0), "");
    buf[0] = 0;
    EXPECT_EQ(ReadTextField(buf, 8), "");
}

TEST(TextField, WriteCutsWithinTheWidthAndKeepsBytesBehindTheNul)
{
    std::uint8_t buf[12];
    std::memset(buf, 'Q', sizeof buf);
    WriteTextField(buf, 8, "this text is far too long");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 8), std::string("this te\0", 8));
    for (std::size_t i = 8; i < sizeof buf; ++i)
        EXPECT_EQ(buf[i], 'Q') << i;

    // Exactly width - 1 characters still fit whole.
    WriteTextField(buf, 8, "1234567");
    EXPECT_EQ(ReadTextField(buf, 8), "1234567");
    EXPECT_EQ(buf[7], 0);

    // A shorter text leaves the old tail behind its NUL.
    WriteTextField(buf, 8, "ab");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 8), std::string("ab\0" "4567\0", 8));

    WriteTextField(buf, 8, "");
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], 'b');
}

TEST(TextField, WriteEndsAtAnEmbeddedNul)
{
    std::uint8_t buf[8];
    std::memset(buf, 'Q', sizeof buf);
    WriteTextField(buf, 8, std::string_view("ab\0cd", 5));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 8), std::string("ab\0QQQQQ", 8));
}

TEST(TextField, CaseFoldingCoversAsciiLettersOnly)
{
    EXPECT_TRUE(EqualsIgnoreAsciiCase("ADMIN", "admin"));
    EXPECT_TRUE(EqualsIgnoreAsciiCase("AdMiN-1", "aDmIn-1"));
    EXPECT_TRUE(EqualsIgnoreAsciiCase("", ""));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("admin", "admin "));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("admin", "admi"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("admin", "admim"));
    // Pairs 0x20 apart that are not letters must not be folded together.
    EXPECT_FALSE(EqualsIgnoreAsciiCase("@", "`"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("[", "{"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("^", "~"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("\xC0", "\xE0"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("1", "\x11"));
}

// ---------------------------------------------------------- general record

TEST(FirmwareVersion, MajorFromHighHalfMinorInTwoDigitsAtLeast)
{
    EXPECT_EQ(FormatFirmwareVersion(0x00010005), "1.05");
    EXPECT_EQ(FormatFirmwareVersion(0x0002000A), "2.10");
    EXPECT_EQ(FormatFirmwareVersion(0x0003007B), "3.123");
    EXPECT_EQ(FormatFirmwareVersion(0x0001007B), "1.123");
    EXPECT_EQ(FormatFirmwareVersion(0), "0.00");
    EXPECT_EQ(FormatFirmwareVersion(0xFFFFFFFF), "65535.65535");
    EXPECT_EQ(FormatFirmwareVersion(0x00100000), "16.00");
}

TEST(GeneralConfig, FirmwareVersionIsReadAtOffset752)
{
    Frame f = Patterned();
    f[752] = 5;
    f[753] = 0;
    f[754] = 1;
    f[755] = 0;
    const Frame& cf = f;
    GeneralConfigReader general(cf.data());
    EXPECT_EQ(general.firmware_version(), 0x00010005u);
    EXPECT_EQ(general.FirmwareVersionText(), "1.05");
}

struct AddressField {
    const char* name;
    std::size_t offset;
    std::function<void(GeneralConfig&, std::uint32_t)> set;
    std::function<std::uint32_t(const GeneralConfigReader&)> get;
};

const std::vector<AddressField>& AddressFields()
{
    static const std::vector<AddressField> fields = {
        {"gateway", 24, &GeneralConfig::set_gateway, &GeneralConfigReader::gateway},
        {"ethernet_ip", 44, &GeneralConfig::set_ethernet_ip, &GeneralConfigReader::ethernet_ip},
        {"ethernet_mask", 48, &GeneralConfig::set_ethernet_mask, &GeneralConfigReader::ethernet_mask},
        {"bootp_start_ip", 56, &GeneralConfig::set_bootp_start_ip, &GeneralConfigReader::bootp_start_ip},
        {"bootp_end_ip", 60, &GeneralConfig::set_bootp_end_ip, &GeneralConfigReader::bootp_end_ip},
        {"ppp_ip", 76, &GeneralConfig::set_ppp_ip, &GeneralConfigReader::ppp_ip},
        {"ppp_mask", 80, &GeneralConfig::set_ppp_mask, &GeneralConfigReader::ppp_mask},
    };
    return fields;
}

TEST(GeneralConfig, AddressFieldsAreLittleEndianWordsAtTheirOffsets)
{
    for (const AddressField& field : AddressFields()) {
        SCOPED_TRACE(field.name);
        Frame f = Patterned();
        const Frame before = f;
        GeneralConfig general(f.data());
        field.set(general, Addr(192, 168, 1, 10));
        EXPECT_EQ(BytesAt(f, field.offset, 4), (std::vector<std::uint8_t>{10, 1, 168, 192}));
        EXPECT_EQ(Changed(before, f), Range(field.offset, 4));

        const Frame& cf = f;
        EXPECT_EQ(field.get(GeneralConfigReader(cf.data())), Addr(192, 168, 1, 10));

        // Reading takes the bytes as they lie.
        f[field.offset] = 1;
        f[field.offset + 1] = 2;
        f[field.offset + 2] = 3;
        f[field.offset + 3] = 4;
        EXPECT_EQ(field.get(GeneralConfigReader(cf.data())), Addr(4, 3, 2, 1));
    }
}

TEST(GeneralConfig, ClientAddressIsWrittenTwiceAndReadFromTheFirst)
{
    Frame f = Patterned();
    const Frame before = f;
    GeneralConfig general(f.data());
    general.set_ppp_client_ip(Addr(10, 0, 0, 2));
    EXPECT_EQ(BytesAt(f, 88, 4), (std::vector<std::uint8_t>{2, 0, 0, 10}));
    EXPECT_EQ(BytesAt(f, 92, 4), (std::vector<std::uint8_t>{2, 0, 0, 10}));
    EXPECT_EQ(Changed(before, f), Join(Range(88, 4), Range(92, 4)));

    PutWord(f, 92, Addr(9, 9, 9, 9));
    EXPECT_EQ(general.ppp_client_ip(), Addr(10, 0, 0, 2));
    EXPECT_EQ(general.ppp_client_ip_copy(), Addr(9, 9, 9, 9));
}

TEST(NetworkFields, EachNamesItsWordAndWritesOnlyItsBytes)
{
    using K = NetworkFieldKind;
    struct Expected {
        const char* name;
        std::size_t offset;
        K kind;
        std::vector<std::size_t> written;
    };
    // In show's order; the client address also goes to its copy at 92.
    const std::vector<Expected> expected = {
        {"ethernet_ip", 44, K::Address, Range(44, 4)},    {"ethernet_mask", 48, K::Address, Range(48, 4)},
        {"gateway", 24, K::Address, Range(24, 4)},        {"bootp_start", 56, K::Address, Range(56, 4)},
        {"bootp_end", 60, K::Address, Range(60, 4)},      {"server", 16, K::Switch, Range(16, 4)},
        {"bootp", 20, K::Switch, Range(20, 4)},           {"ppp_ip", 76, K::Address, Range(76, 4)},
        {"ppp_mask", 80, K::Address, Range(80, 4)},
        {"ppp_client_ip", 88, K::Address, Join(Range(88, 4), Range(92, 4))},
    };
    ASSERT_EQ(kNetworkFields.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const NetworkField& field = kNetworkFields[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(field.name, expected[i].name);
        EXPECT_EQ(field.offset, expected[i].offset);
        EXPECT_EQ(field.kind, expected[i].kind);
        EXPECT_EQ(FindNetworkField(expected[i].name), &field);

        Frame f = Patterned();
        const Frame before = f;
        GeneralConfig general(f.data());
        if (field.kind == K::Address)
            general.set_network_address(field.offset, Addr(192, 168, 1, 10));
        else
            general.set_network_switch(field.offset, true);
        EXPECT_EQ(Changed(before, f), expected[i].written);
        EXPECT_EQ(general.network_word(field.offset), field.kind == K::Address ? Addr(192, 168, 1, 10) : 1u);
    }
    EXPECT_EQ(FindNetworkField("mac"), nullptr);

    // Columns: the addresses, then the switches.
    std::string columns;
    for (const NetworkField* field : kNetworkColumns)
        columns += std::string(field->name) + " ";
    EXPECT_EQ(columns,
              "ethernet_ip ethernet_mask gateway bootp_start bootp_end ppp_ip ppp_mask ppp_client_ip server bootp ");
}

TEST(GeneralConfig, SwitchesReadAnyNonZeroAsOnAndWriteExactlyOneOrZero)
{
    Frame f{};
    GeneralConfig general(f.data());
    EXPECT_FALSE(general.server_on());
    EXPECT_FALSE(general.bootp_on());

    for (std::uint32_t word : {1u, 2u, 0x100u, 0x80000000u, 0xFFFFFFFFu}) {
        PutWord(f, 16, word);
        PutWord(f, 20, word);
        EXPECT_TRUE(general.server_on()) << word;
        EXPECT_TRUE(general.bootp_on()) << word;
    }

    struct Switch {
        std::size_t offset;
        void (GeneralConfig::*set)(bool);
    };
    for (Switch s : {Switch{16, &GeneralConfig::set_server_on}, Switch{20, &GeneralConfig::set_bootp_on}}) {
        SCOPED_TRACE(s.offset);
        Frame g = Patterned(); // a word that is neither 0 nor 1
        const Frame before = g;
        GeneralConfig view(g.data());
        (view.*s.set)(true);
        EXPECT_EQ(BytesAt(g, s.offset, 4), (std::vector<std::uint8_t>{1, 0, 0, 0}));
        EXPECT_EQ(Changed(before, g), Range(s.offset, 4));
        (view.*s.set)(false);
        EXPECT_EQ(BytesAt(g, s.offset, 4), (std::vector<std::uint8_t>{0, 0, 0, 0}));
        EXPECT_EQ(Changed(before, g), Range(s.offset, 4));
    }
}

TEST(GeneralConfig, WritingEveryFieldTouchesOnlyThoseFields)
{
    // Every written byte differs from the pattern, so each one shows as changed.
    Frame f = Patterned();
    const Frame before = f;
    GeneralConfig general(f.data());
    for (const AddressField& field : AddressFields())
        field.set(general, 0);
    general.set_ppp_client_ip(0);
    general.set_server_on(false);
    general.set_bootp_on(true);

    std::vector<std::size_t> expected;
    for (std::size_t off : {16, 20, 24, 44, 48, 56, 60, 76, 80, 88, 92})
        expected = Join(expected, Range(off, 4));
    // Header, camera names, firmware version and the tail all come through.
    EXPECT_EQ(Changed(before, f), expected);
}

TEST(GeneralConfig, CameraNamesFillTheirSlotsAndTheFourthStopsBeforeTheFirmwareWord)
{
    Frame f;
    f.fill(0xFF); // no letter and no NUL, so every written byte shows
    const Frame before = f;
    GeneralConfig general(f.data());
    for (int slot = 0; slot < 4; ++slot)
        general.set_camera_name(slot, std::string(300, char('a' + slot)));
    // Slots start at 100 + 164 * i; each holds its width less one and the NUL.
    const auto expected = Join(Join(Range(100, 164), Range(264, 164)), Join(Range(428, 164), Range(592, 160)));
    EXPECT_EQ(Changed(before, f), expected);
    const GeneralConfigReader reader(f.data());
    EXPECT_EQ(reader.camera_name(0), std::string(163, 'a'));
    EXPECT_EQ(reader.camera_name(3), std::string(159, 'd'));
    EXPECT_EQ(f[591], 0);
    EXPECT_EQ(f[751], 0);

    general.set_camera_name(1, "Loading Bay");
    EXPECT_EQ(reader.camera_name(1), "Loading Bay");
    EXPECT_EQ(reader.camera_name(2), std::string(163, 'c'));
}

// ---------------------------------------------------------------- user table

TEST(UserTable, RowsLieAt32Plus56TimesIndexAndFillTheRecord)
{
    Frame f{};
    UserConfig users(f.data());
    for (int r = 0; r < 20; ++r)
        EXPECT_EQ(users.AddUser("user" + std::to_string(r), "pw" + std::to_string(r)), r);
    for (int r = 0; r < 20; ++r) {
        EXPECT_EQ(ReadTextField(f.data() + UserRow(r), 32), "user" + std::to_string(r));
        EXPECT_EQ(ReadTextField(f.data() + UserRow(r) + 32, 20), "pw" + std::to_string(r));
    }
    EXPECT_EQ(UserRow(19) + 56, kFrameSize);

    PutWord(f, UserRow(19) + 52, 0x12345678);
    EXPECT_EQ(users.permissions(19), 0x12345678u);
    EXPECT_EQ(BytesAt(f, 1148, 4), (std::vector<std::uint8_t>{0x78, 0x56, 0x34, 0x12}));
}

TEST(UserTable, ListingAndLoginStopAtTheFirstEmptyRow)
{
    Frame f{};
    PutUser(f, 1, "admin", "secret", 0x300);
    PutUser(f, 2, "guest", "guest", 0x100);
    const Frame& cf = f;
    UserConfigReader users(cf.data());
    EXPECT_TRUE(users.ListedRows().empty());
    EXPECT_EQ(users.FindLogin("admin", "secret"), -1);
    EXPECT_EQ(users.FindLogin("guest", "guest"), -1);

    PutUser(f, 0, "viewer", "v", 0);
    EXPECT_EQ(users.ListedRows(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(users.FindLogin("guest", "guest"), 2);

    // A row behind a free row is never logged in against.
    f[UserRow(1)] = 0;
    EXPECT_EQ(users.ListedRows(), (std::vector<int>{0}));
    EXPECT_EQ(users.FindLogin("guest", "guest"), -1);
    EXPECT_EQ(users.FindLogin("viewer", "v"), 0);
}

TEST(UserTable, LoginMatchesNameAndPasswordWithoutCaseFirstRowWins)
{
    Frame f{};
    PutUser(f, 0, "Admin", "wrong", 0);
    PutUser(f, 1, "ADMIN", "Secret", 0);
    PutUser(f, 2, "admin", "secret", 0);
    UserConfigReader users(static_cast<const Frame&>(f).data());
    // Row 0's name matches but its password does not: the scan goes on.
    EXPECT_EQ(users.FindLogin("admin", "SECRET"), 1);
    EXPECT_EQ(users.FindLogin("aDmIn", "WRONG"), 0);
    EXPECT_EQ(users.FindLogin("admin", "secre"), -1);
    EXPECT_EQ(users.FindLogin("admin", "secret "), -1);
    EXPECT_EQ(users.FindLogin("", ""), -1);
}

TEST(UserTable, FieldsWithoutNulAreReadToTheirWidthOnly)
{
    Frame f{};
    const std::string name32(32, 'n');
    const std::string pass20(20, 'p');
    std::memcpy(f.data() + UserRow(0), name32.data(), 32);
    std::memcpy(f.data() + UserRow(0) + 32, pass20.data(), 20);
    PutWord(f, UserRow(0) + 52, 0x41414141); // "AAAA" right behind the password
    UserConfig users(f.data());
    EXPECT_EQ(users.name(0), name32);
    EXPECT_EQ(users.password(0), pass20);
    EXPECT_EQ(users.FindLogin(name32, pass20), 0);
    EXPECT_EQ(users.FindLogin(name32, pass20 + "AAAA"), -1);
}

TEST(UserTable, AddFillsTheFirstEmptyRowsNameAndPasswordOnly)
{
    Frame f = Patterned();
    for (int r = 0; r < 20; ++r)
        f[UserRow(r)] = 1;
    f[UserRow(3)] = 0;
    f[UserRow(7)] = 0;
    const Frame before = f;
    UserConfig users(f.data());
    EXPECT_EQ(users.AddUser("bob", "pw"), 3);
    EXPECT_EQ(users.name(3), "bob");
    EXPECT_EQ(users.password(3), "pw");
    // Name "bob\0" and password "pw\0"; the tails of both fields and the permissions stay.
    EXPECT_EQ(Changed(before, f), Join(Range(UserRow(3), 4), Range(UserRow(3) + 32, 3)));
    EXPECT_EQ(users.permissions(3), GetWord(before, UserRow(3) + 52));
    EXPECT_EQ(users.AddUser("carol", "x"), 7);
}

TEST(UserTable, OverLongTextsAreCutInsideTheirFields)
{
    Frame f = Patterned();
    f[UserRow(0)] = 0;
    const Frame before = f;
    UserConfig users(f.data());
    ASSERT_EQ(users.AddUser(std::string(40, 'N'), std::string(25, 'P')), 0);
    EXPECT_EQ(users.name(0), std::string(31, 'N'));
    EXPECT_EQ(users.password(0), std::string(19, 'P'));
    EXPECT_EQ(f[UserRow(0) + 31], 0);
    EXPECT_EQ(f[UserRow(0) + 51], 0);
    std::vector<std::size_t> changed = Changed(before, f);
    for (std::size_t off : changed) {
        EXPECT_GE(off, UserRow(0));
        EXPECT_LT(off, UserRow(0) + 52) << "permissions or the next row were written";
    }
}

TEST(UserTable, AddIntoAFullTableChangesNothing)
{
    Frame f = Patterned();
    const Frame before = f;
    UserConfig users(f.data());
    EXPECT_EQ(users.AddUser("one", "too many"), -1);
    EXPECT_EQ(f, before);
}

TEST(UserTable, AddWithAnEmptyNameWritesOnlyThePasswordAndTheRowStaysFree)
{
    Frame f{};
    PutUser(f, 0, "admin", "a", 0);
    PutUser(f, 1, "", "old password", 0x300);
    f[UserRow(1) + 1] = 'z'; // tail of a deleted name
    UserConfig users(f.data());
    EXPECT_EQ(users.AddUser("", "new"), 1);
    EXPECT_TRUE(users.RowEmpty(1));
    EXPECT_EQ(users.password(1), "new");
    EXPECT_EQ(f[UserRow(1) + 1], 'z');
    EXPECT_EQ(users.ListedRows(), (std::vector<int>{0}));
    EXPECT_EQ(users.AddUser("guest", "g"), 1);
}

TEST(UserTable, DeleteInTheMiddleThenAddReusesTheRowAndItsPermissions)
{
    Frame f{};
    PutUser(f, 0, "viewer", "v", 0x100);
    PutUser(f, 1, "operator", "o", 0x300);
    PutUser(f, 2, "admin", "a", 0x200);
    UserConfig users(f.data());
    const Frame before = f;

    EXPECT_EQ(users.DeleteByName("operator"), 1);
    // Only the first byte of the name goes; the rest of the row is sent as it was.
    EXPECT_EQ(Changed(before, f), (std::vector<std::size_t>{UserRow(1)}));
    EXPECT_EQ(ReadTextField(f.data() + UserRow(1) + 1, 31), "perator");
    EXPECT_EQ(users.password(1), "o");
    EXPECT_EQ(users.permissions(1), 0x300u);
    EXPECT_EQ(users.ListedRows(), (std::vector<int>{0}));
    EXPECT_EQ(users.FindLogin("admin", "a"), -1);

    EXPECT_EQ(users.AddUser("guest", "g"), 1);
    EXPECT_EQ(users.permissions(1), 0x300u);
    EXPECT_EQ(users.ListedRows(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(users.FindLogin("admin", "a"), 2);
}

TEST(UserTable, DeleteVisitsAllRowsWithoutRegardToCase)
{
    Frame f{};
    PutUser(f, 0, "keep", "k", 1);
    PutUser(f, 2, "ADMIN", "a", 2);
    PutUser(f, 19, "admin", "b", 3);
    PutUser(f, 5, "administrator", "c", 4);
    const Frame before = f;
    UserConfig users(f.data());
    EXPECT_EQ(users.DeleteByName("Admin"), 2);
    EXPECT_EQ(Changed(before, f), (std::vector<std::size_t>{UserRow(2), UserRow(19)}));

    const Frame after = f;
    EXPECT_EQ(users.DeleteByName("nobody"), 0);
    EXPECT_EQ(f, after);
}

TEST(UserTable, PermissionsAreReadFromTheLastMatchingRowOfAllTwenty)
{
    Frame f{};
    PutUser(f, 0, "admin", "a", 0x000);
    PutUser(f, 2, "guest", "g", 0x100);
    PutUser(f, 5, "GUEST", "g", 0x200);
    PutUser(f, 12, "guest", "g", 0x3FF); // behind a free row, still visited
    UserConfigReader users(static_cast<const Frame&>(f).data());

    std::uint32_t perms = 0xDEAD;
    EXPECT_TRUE(users.PermissionsByName("Guest", &perms));
    EXPECT_EQ(perms, 0x3FFu);

    f[UserRow(12)] = 0;
    EXPECT_TRUE(users.PermissionsByName("guest", &perms));
    EXPECT_EQ(perms, 0x200u);

    perms = 0xDEAD;
    EXPECT_FALSE(users.PermissionsByName("nobody", &perms));
    EXPECT_EQ(perms, 0xDEADu);
}

TEST(UserTable, StoringPermissionsKeepsTheLowByteAndClearsTheHighBits)
{
    struct Case {
        std::uint32_t before;
        bool view;
        bool adjust;
        std::uint32_t after;
    };
    const Case cases[] = {
        {0xFFFFFFFF, true, true, 0x3FF}, {0xFFFFFFFF, false, false, 0x0FF}, {0xFFFFFFFF, false, true, 0x2FF},
        {0xFFFFFFFF, true, false, 0x1FF}, {0x000000FF, true, true, 0x3FF},  {0x00000300, false, false, 0x000},
        {0xABCD0042, true, false, 0x142},
    };
    for (const Case& c : cases) {
        Frame f = Patterned();
        f[UserRow(0)] = 'u';
        f[UserRow(0) + 1] = 0;
        PutWord(f, UserRow(0) + 52, c.before);
        const Frame before = f;
        UserConfig users(f.data());
        EXPECT_EQ(users.StorePermissionsByName("U", c.view, c.adjust), 1);
        EXPECT_EQ(GetWord(f, UserRow(0) + 52), c.after) << std::hex << c.before << ' ' << c.view << c.adjust;
        for (std::size_t off : Changed(before, f)) {
            EXPECT_GE(off, UserRow(0) + 52);
            EXPECT_LT(off, UserRow(0) + 56);
        }
    }
}

TEST(UserTable, StoringPermissionsRewritesEveryMatchingRow)
{
    Frame f{};
    PutUser(f, 2, "guest", "g", 0xFFFFFFFF);
    PutUser(f, 5, "Guest", "h", 0x00000001);
    PutUser(f, 6, "other", "o", 0xFFFFFFFF);
    UserConfig users(f.data());
    EXPECT_EQ(users.StorePermissionsByName("GUEST", true, false), 2);
    EXPECT_EQ(GetWord(f, UserRow(2) + 52), 0x1FFu);
    EXPECT_EQ(GetWord(f, UserRow(5) + 52), 0x101u);
    EXPECT_EQ(GetWord(f, UserRow(6) + 52), 0xFFFFFFFFu);
    EXPECT_EQ(users.StorePermissionsByName("nobody", true, true), 0);
}

TEST(UserTable, StoringAPasswordRewritesEveryMatchingRowAndNothingElse)
{
    Frame f = Patterned();
    PutUser(f, 0, "admin", "admin", 0x3FF);
    PutUser(f, 4, "Viewer", "old", 0x100);
    PutUser(f, 7, "VIEWER", "olderpw", 0x1FF);
    const Frame before = f;
    UserConfig users(f.data());
    EXPECT_EQ(users.StorePasswordByName("viewer", "fresh"), 2);
    EXPECT_EQ(users.password(4), "fresh");
    EXPECT_EQ(users.password(7), "fresh");
    EXPECT_EQ(Changed(before, f), Join(Range(UserRow(4) + 32, 6), Range(UserRow(7) + 32, 6)));
    EXPECT_EQ(users.StorePasswordByName("nobody", "x"), 0);
}

// -------------------------------------------------------------- domain table

TEST(DomainTable, RowsLieAt32Plus104TimesIndexAndTheTailIsCarried)
{
    Frame f = Patterned();
    for (int r = 0; r < 10; ++r)
        f[DomainRow(r)] = 1;
    f[DomainRow(9)] = 0;
    const Frame before = f;
    DomainConfig domains(f.data());
    EXPECT_EQ(domains.AddDomain(std::string(100, 'd'), std::string(30, '9')), 9);
    EXPECT_EQ(domains.name(9), std::string(79, 'd'));
    EXPECT_EQ(domains.ip_text(9), std::string(23, '9'));
    EXPECT_EQ(ReadTextField(f.data() + DomainRow(9), 80), std::string(79, 'd'));
    EXPECT_EQ(ReadTextField(f.data() + DomainRow(9) + 80, 24), std::string(23, '9'));
    for (std::size_t off : Changed(before, f)) {
        EXPECT_GE(off, DomainRow(9));
        EXPECT_LT(off, std::size_t(1072)) << "the carried tail was written";
    }
    EXPECT_EQ(domains.AddDomain("full", "1.2.3.4"), -1);
}

TEST(DomainTable, AddWritesNameAndAddressTextAsTyped)
{
    Frame f = Patterned();
    f[DomainRow(0)] = 1;
    f[DomainRow(1)] = 0;
    const Frame before = f;
    DomainConfig domains(f.data());
    EXPECT_EQ(domains.AddDomain("cam.example", "not an address"), 1);
    EXPECT_EQ(domains.name(1), "cam.example");
    EXPECT_EQ(domains.ip_text(1), "not an address");
    EXPECT_EQ(Changed(before, f), Join(Range(DomainRow(1), 12), Range(DomainRow(1) + 80, 15)));
}

TEST(DomainTable, AddWithEmptyAddressOrEmptyName)
{
    Frame f{};
    PutDomain(f, 0, "old", "1.1.1.1");
    f[DomainRow(1) + 80] = 'x';
    DomainConfig domains(f.data());
    EXPECT_EQ(domains.AddDomain("host", ""), 1);
    EXPECT_EQ(domains.ip_text(1), "");

    EXPECT_EQ(domains.AddDomain("", "5.6.7.8"), 2);
    EXPECT_TRUE(domains.RowEmpty(2));
    EXPECT_EQ(domains.ip_text(2), "5.6.7.8");
    EXPECT_EQ(domains.AddDomain("next", "9"), 2);
}

TEST(DomainTable, ListingStopsAtTheFirstEmptyRowAndAddFillsIt)
{
    Frame f{};
    PutDomain(f, 0, "first", "10.0.0.1");
    PutDomain(f, 2, "third", "10.0.0.3");
    DomainConfig domains(f.data());
    EXPECT_EQ(domains.ListedRows(), (std::vector<int>{0}));
    EXPECT_EQ(domains.AddDomain("second", "10.0.0.2"), 1);
    EXPECT_EQ(domains.ListedRows(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(domains.ip_text(2), "10.0.0.3");

    PutDomain(f, 0, "", "");
    EXPECT_TRUE(DomainConfigReader(static_cast<const Frame&>(f).data()).ListedRows().empty());
}

TEST(DomainTable, DeleteFreesEveryRowWhoseNameDiffersOnlyInCase)
{
    Frame f{};
    PutDomain(f, 1, "Camera.Local", "1.2.3.4");
    PutDomain(f, 6, "camera.local", "5.6.7.8");
    PutDomain(f, 9, "camera.locals", "9");
    const Frame before = f;
    DomainConfig domains(f.data());
    EXPECT_EQ(domains.DeleteByName("CAMERA.LOCAL"), 2);
    EXPECT_EQ(Changed(before, f), (std::vector<std::size_t>{DomainRow(1), DomainRow(6)}));
    EXPECT_EQ(domains.ip_text(1), "1.2.3.4");

    const Frame after = f;
    EXPECT_EQ(domains.DeleteByName("absent"), 0);
    EXPECT_EQ(f, after);
}

TEST(DomainTable, FieldsWithoutNulAreReadToTheirWidthOnly)
{
    Frame f = Patterned();
    DomainConfigReader domains(static_cast<const Frame&>(f).data());
    EXPECT_EQ(domains.name(0), ReadTextField(f.data() + DomainRow(0), 80));
    EXPECT_EQ(domains.name(0).size(), 80u);
    EXPECT_EQ(domains.ip_text(9).size(), 24u);
    EXPECT_EQ(domains.ListedRows().size(), 10u);
}

} // namespace
} // namespace vantoro
