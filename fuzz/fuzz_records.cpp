// Runs every record operation on any 1152-byte record with texts from the
// input, and checks each against a plain re-statement of the table rules:
// results, the bytes a write may touch (everything else must stay), text reads
// bounded by their field, and an added user found again by the login scan.
//
// Input: a 2-byte length L, L bytes of operations, then the record (cut or
// padded with zeros to 1152 bytes). The record lives in a buffer of exactly
// 1152 bytes so that any access past its end is caught.

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "link/records.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace vantoro;
using vantoro::fuzz::FuzzInput;

namespace {

using Range = std::pair<std::size_t, std::size_t>; // [first, last)

// Bytes outside the allowed ranges are as they were.
void CheckOnlyChanged(const Frame& before, const Frame& after, const std::vector<Range>& allowed)
{
    for (std::size_t i = 0; i < kFrameSize; ++i) {
        if (before[i] == after[i])
            continue;
        bool inside = false;
        for (const Range& r : allowed)
            inside = inside || (i >= r.first && i < r.second);
        if (!inside)
            std::fprintf(stderr, "byte %zu changed from %u to %u\n", i, before[i], after[i]);
        FUZZ_CHECK(inside);
    }
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
}

bool RefEqual(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

// A field's text as the rules define it: up to the first NUL, never past the width.
std::string RefField(const Frame& rec, std::size_t offset, std::size_t width)
{
    std::string s;
    for (std::size_t i = 0; i < width && rec[offset + i] != 0; ++i)
        s.push_back(char(rec[offset + i]));
    return s;
}

// What a write of text leaves in a field of this width.
std::string Stored(const std::string& text, std::size_t width)
{
    std::string s = text.substr(0, text.find('\0'));
    if (s.size() > width - 1)
        s.resize(width - 1);
    return s;
}

struct Table {
    std::size_t table, rows, row_size, name_width, second, second_width;
    std::size_t Row(std::size_t r) const { return table + row_size * r; }
    std::string Name(const Frame& rec, std::size_t r) const { return RefField(rec, Row(r), name_width); }
    std::string Second(const Frame& rec, std::size_t r) const { return RefField(rec, Row(r) + second, second_width); }
    bool Empty(const Frame& rec, std::size_t r) const { return rec[Row(r)] == 0; }
    std::vector<int> Listed(const Frame& rec) const
    {
        std::vector<int> rows_listed;
        for (std::size_t r = 0; r < rows && !Empty(rec, r); ++r)
            rows_listed.push_back(int(r));
        return rows_listed;
    }
    int FirstEmpty(const Frame& rec) const
    {
        for (std::size_t r = 0; r < rows; ++r)
            if (Empty(rec, r))
                return int(r);
        return -1;
    }
    std::vector<std::size_t> Matching(const Frame& rec, const std::string& name) const
    {
        std::vector<std::size_t> rows_matching;
        for (std::size_t r = 0; r < rows; ++r)
            if (RefEqual(Name(rec, r), name))
                rows_matching.push_back(r);
        return rows_matching;
    }
};

constexpr Table kUsers{user_layout::table,    std::size_t(user_layout::rows), user_layout::row_size,
                       user_layout::name_width, user_layout::password,       user_layout::password_width};
constexpr Table kDomains{domain_layout::table,    std::size_t(domain_layout::rows), domain_layout::row_size,
                         domain_layout::name_width, domain_layout::ip_text,         domain_layout::ip_text_width};

// A typed text, or (to reach the matching paths) a row's own name with some
// letters' case turned and now and then a character added.
std::string PickName(FuzzInput& in, const Frame& rec, const Table& t)
{
    const std::uint8_t how = in.Byte();
    if ((how & 1) == 0)
        return in.Text(120);
    std::string name = t.Name(rec, (how >> 1) % t.rows);
    const std::uint8_t mask = in.Byte();
    for (std::size_t i = 0; i < name.size(); ++i) {
        char& c = name[i];
        if (mask >> (i % 8) & 1)
            c = (c >= 'a' && c <= 'z') ? char(c - 32) : (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
    }
    if (how & 0x80)
        name.push_back(char(in.Byte()));
    return name;
}

void CheckTextReads(const Frame& rec, const Table& t)
{
    for (std::size_t r = 0; r < t.rows; ++r) {
        FUZZ_CHECK(ReadTextField(rec.data() + t.Row(r), t.name_width) == t.Name(rec, r));
        FUZZ_CHECK(ReadTextField(rec.data() + t.Row(r) + t.second, t.second_width) == t.Second(rec, r));
    }
}

void UserOps(FuzzInput& in, Frame& rec, int op)
{
    UserConfig users(rec.data());
    const UserConfigReader reader(static_cast<const std::uint8_t*>(rec.data()));
    const Frame before = rec;
    switch (op) {
    case 0: {
        FUZZ_CHECK(users.ListedRows() == kUsers.Listed(rec));
        FUZZ_CHECK(reader.ListedRows() == kUsers.Listed(rec));
        for (int r = 0; r < UserConfig::kRows; ++r) {
            FUZZ_CHECK(users.RowEmpty(r) == kUsers.Empty(rec, std::size_t(r)));
            FUZZ_CHECK(users.name(r).size() < user_layout::name_width + 1);
            FUZZ_CHECK(users.password(r).size() < user_layout::password_width + 1);
            FUZZ_CHECK(users.permissions(r) == LoadLe32(rec.data() + kUsers.Row(std::size_t(r)) + user_layout::permissions));
        }
        CheckTextReads(rec, kUsers);
        break;
    }
    case 1: {
        const std::string name = PickName(in, rec, kUsers);
        std::string password = in.Byte() & 1 ? in.Text(60) : kUsers.Second(rec, in.Byte() % kUsers.rows);
        int expected = -1;
        for (int r : kUsers.Listed(rec)) {
            if (RefEqual(kUsers.Name(rec, std::size_t(r)), name) && RefEqual(kUsers.Second(rec, std::size_t(r)), password)) {
                expected = r;
                break;
            }
        }
        FUZZ_CHECK(users.FindLogin(name, password) == expected);
        FUZZ_CHECK(reader.FindLogin(name, password) == expected);
        break;
    }
    case 2: {
        const std::string name = PickName(in, rec, kUsers);
        const auto rows = kUsers.Matching(rec, name);
        std::uint32_t permissions = 0xA5A5A5A5;
        const bool found = reader.PermissionsByName(name, &permissions);
        FUZZ_CHECK(found == !rows.empty());
        FUZZ_CHECK(permissions == (rows.empty() ? 0xA5A5A5A5
                                                : LoadLe32(rec.data() + kUsers.Row(rows.back()) + user_layout::permissions)));
        break;
    }
    case 3: {
        const std::string name = PickName(in, rec, kUsers);
        const std::string password = in.Text(60);
        const int expected = kUsers.FirstEmpty(rec);
        const int r = users.AddUser(name, password);
        FUZZ_CHECK(r == expected);
        if (r < 0) {
            FUZZ_CHECK(rec == before);
            break;
        }
        const std::size_t row = kUsers.Row(std::size_t(r));
        const std::string stored_name = Stored(name, user_layout::name_width);
        const std::string stored_password = Stored(password, user_layout::password_width);
        CheckOnlyChanged(before, rec, {{row, row + stored_name.size() + 1},
                                       {row + user_layout::password, row + user_layout::password + stored_password.size() + 1}});
        FUZZ_CHECK(users.name(r) == stored_name);
        FUZZ_CHECK(users.password(r) == stored_password);
        FUZZ_CHECK(users.RowEmpty(r) == stored_name.empty());
        const auto listed = users.ListedRows();
        if (std::find(listed.begin(), listed.end(), r) != listed.end()) {
            // Listed means loggable: the scan stops at this row at the latest.
            const int login = users.FindLogin(stored_name, stored_password);
            FUZZ_CHECK(login >= 0 && login <= r);
        }
        break;
    }
    case 4: {
        const std::string name = PickName(in, rec, kUsers);
        const auto rows = kUsers.Matching(rec, name);
        FUZZ_CHECK(users.DeleteByName(name) == int(rows.size()));
        std::vector<Range> allowed;
        for (std::size_t r : rows) {
            FUZZ_CHECK(rec[kUsers.Row(r)] == 0);
            allowed.push_back({kUsers.Row(r), kUsers.Row(r) + 1});
        }
        CheckOnlyChanged(before, rec, allowed);
        break;
    }
    default: {
        const std::string name = PickName(in, rec, kUsers);
        const std::uint8_t boxes = in.Byte();
        const auto rows = kUsers.Matching(rec, name);
        FUZZ_CHECK(users.StorePermissionsByName(name, boxes & 1, boxes & 2) == int(rows.size()));
        std::vector<Range> allowed;
        for (std::size_t r : rows) {
            const std::size_t word = kUsers.Row(r) + user_layout::permissions;
            const std::uint32_t old_value = LoadLe32(before.data() + word);
            const std::uint32_t want = (old_value & 0xFF) | (boxes & 1 ? PERM_VIEW_IMAGE : 0) | (boxes & 2 ? PERM_ADJUST : 0);
            FUZZ_CHECK(LoadLe32(rec.data() + word) == want);
            allowed.push_back({word, word + 4});
        }
        CheckOnlyChanged(before, rec, allowed);
        break;
    }
    }
}

void DomainOps(FuzzInput& in, Frame& rec, int op)
{
    DomainConfig domains(rec.data());
    const DomainConfigReader reader(static_cast<const std::uint8_t*>(rec.data()));
    const Frame before = rec;
    switch (op) {
    case 0: {
        FUZZ_CHECK(domains.ListedRows() == kDomains.Listed(rec));
        FUZZ_CHECK(reader.ListedRows() == kDomains.Listed(rec));
        for (int r = 0; r < DomainConfig::kRows; ++r) {
            FUZZ_CHECK(domains.RowEmpty(r) == kDomains.Empty(rec, std::size_t(r)));
            FUZZ_CHECK(domains.name(r).size() <= domain_layout::name_width);
            FUZZ_CHECK(domains.ip_text(r).size() <= domain_layout::ip_text_width);
        }
        CheckTextReads(rec, kDomains);
        break;
    }
    case 1: {
        const std::string name = PickName(in, rec, kDomains);
        const std::string ip = in.Text(60);
        const int expected = kDomains.FirstEmpty(rec);
        const int r = domains.AddDomain(name, ip);
        FUZZ_CHECK(r == expected);
        if (r < 0) {
            FUZZ_CHECK(rec == before);
            break;
        }
        const std::size_t row = kDomains.Row(std::size_t(r));
        const std::string stored_name = Stored(name, domain_layout::name_width);
        const std::string stored_ip = Stored(ip, domain_layout::ip_text_width);
        CheckOnlyChanged(before, rec, {{row, row + stored_name.size() + 1},
                                       {row + domain_layout::ip_text, row + domain_layout::ip_text + stored_ip.size() + 1}});
        FUZZ_CHECK(domains.name(r) == stored_name);
        FUZZ_CHECK(domains.ip_text(r) == stored_ip);
        const auto listed = domains.ListedRows();
        // The first empty row ends the listed run, so it joins it unless the name is empty.
        FUZZ_CHECK((std::find(listed.begin(), listed.end(), r) != listed.end()) == !stored_name.empty());
        break;
    }
    default: {
        const std::string name = PickName(in, rec, kDomains);
        const auto rows = kDomains.Matching(rec, name);
        FUZZ_CHECK(domains.DeleteByName(name) == int(rows.size()));
        std::vector<Range> allowed;
        for (std::size_t r : rows)
            allowed.push_back({kDomains.Row(r), kDomains.Row(r) + 1});
        CheckOnlyChanged(before, rec, allowed);
        for (std::size_t r : rows)
            FUZZ_CHECK(domains.RowEmpty(int(r)));
        break;
    }
    }
}

struct WordField {
    std::size_t offset;
    void (GeneralConfig::*set)(std::uint32_t);
    std::uint32_t (GeneralConfig::*get)() const;
};

constexpr WordField kWords[] = {
    {general_layout::gateway, &GeneralConfig::set_gateway, &GeneralConfig::gateway},
    {general_layout::ethernet_ip, &GeneralConfig::set_ethernet_ip, &GeneralConfig::ethernet_ip},
    {general_layout::ethernet_mask, &GeneralConfig::set_ethernet_mask, &GeneralConfig::ethernet_mask},
    {general_layout::bootp_start_ip, &GeneralConfig::set_bootp_start_ip, &GeneralConfig::bootp_start_ip},
    {general_layout::bootp_end_ip, &GeneralConfig::set_bootp_end_ip, &GeneralConfig::bootp_end_ip},
    {general_layout::ppp_ip, &GeneralConfig::set_ppp_ip, &GeneralConfig::ppp_ip},
    {general_layout::ppp_mask, &GeneralConfig::set_ppp_mask, &GeneralConfig::ppp_mask},
    {general_layout::ppp_client_ip, &GeneralConfig::set_ppp_client_ip, &GeneralConfig::ppp_client_ip},
};

void GeneralOps(FuzzInput& in, Frame& rec, int op)
{
    GeneralConfig general(rec.data());
    const GeneralConfigReader reader(static_cast<const std::uint8_t*>(rec.data()));
    const Frame before = rec;
    if (op == 0) {
        FUZZ_CHECK(reader.server_on() == (LoadLe32(rec.data() + 16) != 0));
        FUZZ_CHECK(reader.bootp_on() == (LoadLe32(rec.data() + 20) != 0));
        for (const WordField& f : kWords)
            FUZZ_CHECK((general.*f.get)() == LoadLe32(rec.data() + f.offset));
        FUZZ_CHECK(reader.ppp_client_ip_copy() == LoadLe32(rec.data() + 92));
        const std::uint32_t version = LoadLe32(rec.data() + 752);
        FUZZ_CHECK(reader.firmware_version() == version);
        char want[32];
        std::snprintf(want, sizeof want, "%u.%02u", unsigned(version >> 16), unsigned(version & 0xFFFF));
        FUZZ_CHECK(reader.FirmwareVersionText() == want);
        FUZZ_CHECK(rec == before);
        return;
    }
    const std::uint8_t which = in.Byte();
    const std::uint32_t value = in.Le32();
    std::vector<Range> allowed;
    if (which % 10 < 2) {
        const std::size_t offset = which % 10 == 0 ? general_layout::server_on : general_layout::bootp_on;
        const bool on = value & 1;
        which % 10 == 0 ? general.set_server_on(on) : general.set_bootp_on(on);
        FUZZ_CHECK(LoadLe32(rec.data() + offset) == (on ? 1u : 0u));
        FUZZ_CHECK((which % 10 == 0 ? general.server_on() : general.bootp_on()) == on);
        allowed.push_back({offset, offset + 4});
    } else {
        const WordField& f = kWords[which % 10 - 2];
        (general.*f.set)(value);
        FUZZ_CHECK((general.*f.get)() == value);
        FUZZ_CHECK(LoadLe32(rec.data() + f.offset) == value);
        allowed.push_back({f.offset, f.offset + 4});
        if (f.offset == general_layout::ppp_client_ip) {
            FUZZ_CHECK(general.ppp_client_ip_copy() == value);
            allowed.push_back({general_layout::ppp_client_ip_copy, general_layout::ppp_client_ip_copy + 4});
        }
    }
    CheckOnlyChanged(before, rec, allowed);
}

// The text helpers on a field of any width, alone in a buffer of that size.
void TextFieldOps(FuzzInput& in)
{
    const std::size_t width = 1 + in.Byte() % 96;
    auto field = std::make_unique<std::uint8_t[]>(width);
    for (std::size_t i = 0; i < width; ++i)
        field[i] = in.Byte();
    std::vector<std::uint8_t> before(field.get(), field.get() + width);
    const std::string read = ReadTextField(field.get(), width);
    FUZZ_CHECK(read.size() <= width && read.find('\0') == std::string::npos);
    const std::string text = in.Text(200);
    WriteTextField(field.get(), width, text);
    const std::string stored = Stored(text, width);
    FUZZ_CHECK(ReadTextField(field.get(), width) == stored);
    for (std::size_t i = stored.size() + 1; i < width; ++i)
        FUZZ_CHECK(field[i] == before[i]);

    const std::string a = in.Text(40);
    const std::string b = in.Byte() & 1 ? a : in.Text(40);
    FUZZ_CHECK(EqualsIgnoreAsciiCase(a, b) == RefEqual(a, b));
    FUZZ_CHECK(EqualsIgnoreAsciiCase(b, a) == RefEqual(a, b));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput head(data, size);
    const std::size_t ops_length = head.Le16();
    std::size_t taken = 0;
    const std::uint8_t* ops = head.Take(ops_length, &taken);
    FuzzInput in(ops, taken);

    auto record = std::make_unique<Frame>();
    std::size_t record_bytes = 0;
    const std::uint8_t* bytes = head.Take(kFrameSize, &record_bytes);
    std::memcpy(record->data(), bytes, record_bytes);

    for (int step = 0; !in.empty() && step < 512; ++step) {
        const int op = in.Byte() % 15;
        if (op < 6)
            UserOps(in, *record, op);
        else if (op < 9)
            DomainOps(in, *record, op - 6);
        else if (op < 11)
            GeneralOps(in, *record, op - 9);
        else if (op == 11)
            TextFieldOps(in);
        else
            UserOps(in, *record, 3 + (op - 12)); // adds, deletes and permission writes are the busy paths
    }
    return 0;
}
