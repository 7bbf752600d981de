#include "link/records.h"

#include <cstdio>
#include <cstring>

namespace vantoro {

std::string ReadTextField(const std::uint8_t* field, std::size_t width)
{
    // A camera may fill a field to the brim without a NUL: stop at the width.
    const void* nul = std::memchr(field, 0, width);
    const std::size_t length = nul ? std::size_t(static_cast<const std::uint8_t*>(nul) - field) : width;
    return std::string(reinterpret_cast<const char*>(field), length);
}

void WriteTextField(std::uint8_t* field, std::size_t width, std::string_view text)
{
    if (width == 0)
        return;
    // Texts come from C strings: an embedded NUL ends them.
    const std::size_t end = text.find('\0');
    if (end != std::string_view::npos)
        text = text.substr(0, end);
    const std::size_t length = text.size() < width - 1 ? text.size() : width - 1;
    std::memcpy(field, text.data(), length);
    field[length] = 0;
}

namespace {

char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

} // namespace

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return true;
}

std::string FormatFirmwareVersion(std::uint32_t word)
{
    char text[32];
    std::snprintf(text, sizeof text, "%1ld.%02ld", long(word >> 16), long(word & 0xFFFF));
    return text;
}

template <class Byte>
std::vector<int> BasicUserConfig<Byte>::ListedRows() const
{
    std::vector<int> rows;
    for (int r = 0; r < kRows && !RowEmpty(r); ++r)
        rows.push_back(r);
    return rows;
}

template <class Byte>
int BasicUserConfig<Byte>::FindLogin(std::string_view name, std::string_view password) const
{
    for (int r = 0; r < kRows && !RowEmpty(r); ++r) {
        if (EqualsIgnoreAsciiCase(this->name(r), name) && EqualsIgnoreAsciiCase(this->password(r), password))
            return r;
    }
    return -1;
}

template <class Byte>
bool BasicUserConfig<Byte>::PermissionsByName(std::string_view name, std::uint32_t* permissions) const
{
    // Every row is visited, free ones too; the last match decides.
    bool found = false;
    for (int r = 0; r < kRows; ++r) {
        if (EqualsIgnoreAsciiCase(this->name(r), name)) {
            *permissions = this->permissions(r);
            found = true;
        }
    }
    return found;
}

template <class Byte>
int BasicUserConfig<Byte>::AddUser(std::string_view name, std::string_view password) requires WritableByte<Byte>
{
    for (int r = 0; r < kRows; ++r) {
        if (!RowEmpty(r))
            continue;
        // The permission word is left alone: a reused row keeps its old one.
        WriteTextField(row(r) + user_layout::name, user_layout::name_width, name);
        WriteTextField(row(r) + user_layout::password, user_layout::password_width, password);
        return r;
    }
    return -1;
}

template <class Byte>
int BasicUserConfig<Byte>::DeleteByName(std::string_view name) requires WritableByte<Byte>
{
    int deleted = 0;
    for (int r = 0; r < kRows; ++r) {
        if (EqualsIgnoreAsciiCase(this->name(r), name)) {
            row(r)[user_layout::name] = 0;
            ++deleted;
        }
    }
    return deleted;
}

template <class Byte>
int BasicUserConfig<Byte>::StorePermissionsByName(std::string_view name, bool view_image, bool adjust)
    requires WritableByte<Byte>
{
    const std::uint32_t bits = (view_image ? PERM_VIEW_IMAGE : 0) | (adjust ? PERM_ADJUST : 0);
    int stored = 0;
    for (int r = 0; r < kRows; ++r) {
        if (EqualsIgnoreAsciiCase(this->name(r), name)) {
            std::uint8_t* word = row(r) + user_layout::permissions;
            StoreLe32(word, (LoadLe32(word) & 0xFF) | bits);
            ++stored;
        }
    }
    return stored;
}

template <class Byte>
int BasicUserConfig<Byte>::StorePasswordByName(std::string_view name, std::string_view password)
    requires WritableByte<Byte>
{
    int stored = 0;
    for (int r = 0; r < kRows; ++r) {
        if (EqualsIgnoreAsciiCase(this->name(r), name)) {
            WriteTextField(row(r) + user_layout::password, user_layout::password_width, password);
            ++stored;
        }
    }
    return stored;
}

template <class Byte>
std::vector<int> BasicDomainConfig<Byte>::ListedRows() const
{
    std::vector<int> rows;
    for (int r = 0; r < kRows && !RowEmpty(r); ++r)
        rows.push_back(r);
    return rows;
}

template <class Byte>
int BasicDomainConfig<Byte>::AddDomain(std::string_view name, std::string_view ip_text) requires WritableByte<Byte>
{
    for (int r = 0; r < kRows; ++r) {
        if (!RowEmpty(r))
            continue;
        WriteTextField(row(r) + domain_layout::name, domain_layout::name_width, name);
        WriteTextField(row(r) + domain_layout::ip_text, domain_layout::ip_text_width, ip_text);
        return r;
    }
    return -1;
}

template <class Byte>
int BasicDomainConfig<Byte>::DeleteByName(std::string_view name) requires WritableByte<Byte>
{
    int deleted = 0;
    for (int r = 0; r < kRows; ++r) {
        if (EqualsIgnoreAsciiCase(this->name(r), name)) {
            row(r)[domain_layout::name] = 0;
            ++deleted;
        }
    }
    return deleted;
}

template class BasicUserConfig<std::uint8_t>;
template class BasicDomainConfig<std::uint8_t>;
// The read-only views get their readers one by one: clang 14 would otherwise
// instantiate the writers too, whose constraints a const byte fails.
template std::vector<int> BasicUserConfig<const std::uint8_t>::ListedRows() const;
template int BasicUserConfig<const std::uint8_t>::FindLogin(std::string_view, std::string_view) const;
template bool BasicUserConfig<const std::uint8_t>::PermissionsByName(std::string_view, std::uint32_t*) const;
template std::vector<int> BasicDomainConfig<const std::uint8_t>::ListedRows() const;

} // namespace vantoro
