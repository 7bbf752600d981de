#pragma once
// The three configuration records. Each is a whole 1152-byte frame image; these
// views read and write its named fields at fixed offsets and never touch a byte
// they do not name, so everything else goes back to the camera as it came.
//
// A view does not own its bytes. GeneralConfig / UserConfig / DomainConfig
// write; the ...Reader aliases only read.

#include "link/config_frame.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vantoro {

// Text fields are fixed-width and NUL-terminated. A read stops at the first NUL
// or at the field's end (a camera may send a field without a NUL). A write
// stores at most width - 1 characters and the NUL; bytes behind the NUL keep
// what they held.
std::string ReadTextField(const std::uint8_t* field, std::size_t width);
void WriteTextField(std::uint8_t* field, std::size_t width, std::string_view text);

// ASCII letters match their other case; every other byte must be equal.
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

// "%1ld.%02ld" of the high and low 16 bits: 0x00010005 is "1.05".
std::string FormatFirmwareVersion(std::uint32_t word);

inline constexpr std::uint32_t PERM_VIEW_IMAGE = 0x100;
inline constexpr std::uint32_t PERM_ADJUST = 0x200;

namespace general_layout {
inline constexpr std::size_t server_on = 16;
inline constexpr std::size_t bootp_on = 20;
inline constexpr std::size_t gateway = 24;
inline constexpr std::size_t ethernet_ip = 44;
inline constexpr std::size_t ethernet_mask = 48;
inline constexpr std::size_t bootp_start_ip = 56;
inline constexpr std::size_t bootp_end_ip = 60;
inline constexpr std::size_t ppp_ip = 76;
inline constexpr std::size_t ppp_mask = 80;
inline constexpr std::size_t ppp_client_ip = 88;
inline constexpr std::size_t ppp_client_ip_copy = 92;
inline constexpr std::size_t camera_name = 100; // slot i at 100 + 164 * i
inline constexpr std::size_t camera_name_stride = 164;
inline constexpr int camera_names = 4;
inline constexpr std::size_t firmware_version = 752;
// A slot reaches the next one; the fourth ends where firmware_version begins.
constexpr std::size_t camera_name_width(int slot)
{
    return slot < camera_names - 1 ? camera_name_stride
                                   : firmware_version - camera_name - camera_name_stride * std::size_t(slot);
}
} // namespace general_layout

namespace user_layout {
inline constexpr std::size_t table = 32;
inline constexpr int rows = 20;
inline constexpr std::size_t row_size = 56;
inline constexpr std::size_t name = 0;
inline constexpr std::size_t name_width = 32;
inline constexpr std::size_t password = 32;
inline constexpr std::size_t password_width = 20;
inline constexpr std::size_t permissions = 52;
} // namespace user_layout

namespace domain_layout {
inline constexpr std::size_t table = 32;
inline constexpr int rows = 10;
inline constexpr std::size_t row_size = 104;
inline constexpr std::size_t name = 0;
inline constexpr std::size_t name_width = 80;
inline constexpr std::size_t ip_text = 80;
inline constexpr std::size_t ip_text_width = 24;
} // namespace domain_layout

template <class Byte>
concept WritableByte = !std::is_const_v<Byte>;

template <class Byte>
class BasicGeneralConfig {
public:
    explicit BasicGeneralConfig(Byte* image) : p_(image) {}

    // Switch words: any non-zero value reads as ON; the tool writes exactly 1 or 0.
    bool server_on() const { return word(general_layout::server_on) != 0; }
    bool bootp_on() const { return word(general_layout::bootp_on) != 0; }
    std::uint32_t gateway() const { return word(general_layout::gateway); }
    std::uint32_t ethernet_ip() const { return word(general_layout::ethernet_ip); }
    std::uint32_t ethernet_mask() const { return word(general_layout::ethernet_mask); }
    std::uint32_t bootp_start_ip() const { return word(general_layout::bootp_start_ip); }
    std::uint32_t bootp_end_ip() const { return word(general_layout::bootp_end_ip); }
    std::uint32_t ppp_ip() const { return word(general_layout::ppp_ip); }
    std::uint32_t ppp_mask() const { return word(general_layout::ppp_mask); }
    std::uint32_t ppp_client_ip() const { return word(general_layout::ppp_client_ip); }
    std::uint32_t ppp_client_ip_copy() const { return word(general_layout::ppp_client_ip_copy); }
    std::uint32_t firmware_version() const { return word(general_layout::firmware_version); }
    std::string FirmwareVersionText() const { return FormatFirmwareVersion(firmware_version()); }
    // Slot 0 to 3.
    std::string camera_name(int slot) const
    {
        return ReadTextField(camera_name_field(slot), general_layout::camera_name_width(slot));
    }

    void set_server_on(bool on) requires WritableByte<Byte> { set_word(general_layout::server_on, on ? 1 : 0); }
    void set_bootp_on(bool on) requires WritableByte<Byte> { set_word(general_layout::bootp_on, on ? 1 : 0); }
    void set_gateway(std::uint32_t v) requires WritableByte<Byte> { set_word(general_layout::gateway, v); }
    void set_ethernet_ip(std::uint32_t v) requires WritableByte<Byte> { set_word(general_layout::ethernet_ip, v); }
    void set_ethernet_mask(std::uint32_t v) requires WritableByte<Byte> { set_word(general_layout::ethernet_mask, v); }
    void set_bootp_start_ip(std::uint32_t v) requires WritableByte<Byte> { set_word(general_layout::bootp_start_ip, v); }
    void set_bootp_end_ip(std::uint32_t v) requires WritableByte<Byte> { set_word(general_layout::bootp_end_ip, v); }
    void set_ppp_ip(std::uint32_t v) requires WritableByte<Byte> { set_word(general_layout::ppp_ip, v); }
    void set_ppp_mask(std::uint32_t v) requires WritableByte<Byte> { set_word(general_layout::ppp_mask, v); }
    void set_ppp_client_ip(std::uint32_t v) requires WritableByte<Byte>
    {
        set_network_address(general_layout::ppp_client_ip, v);
    }
    // A network field by the offset of its word (link/network_fields.h).
    std::uint32_t network_word(std::size_t offset) const { return word(offset); }
    void set_network_address(std::size_t offset, std::uint32_t v) requires WritableByte<Byte>
    {
        set_word(offset, v);
        // The camera keeps a copy of the client address; both are always written together.
        if (offset == general_layout::ppp_client_ip)
            set_word(general_layout::ppp_client_ip_copy, v);
    }
    void set_network_switch(std::size_t offset, bool on) requires WritableByte<Byte> { set_word(offset, on ? 1 : 0); }
    void set_camera_name(int slot, std::string_view text) requires WritableByte<Byte>
    {
        WriteTextField(camera_name_field(slot), general_layout::camera_name_width(slot), text);
    }

private:
    std::uint32_t word(std::size_t off) const { return LoadLe32(p_ + off); }
    Byte* camera_name_field(int slot) const
    {
        return p_ + general_layout::camera_name + general_layout::camera_name_stride * std::size_t(slot);
    }
    void set_word(std::size_t off, std::uint32_t v) requires WritableByte<Byte> { StoreLe32(p_ + off, v); }
    Byte* p_;
};

template <class Byte>
class BasicUserConfig {
public:
    explicit BasicUserConfig(Byte* image) : p_(image) {}

    static constexpr int kRows = user_layout::rows;
    bool RowEmpty(int row) const { return this->row(row)[user_layout::name] == 0; }
    std::string name(int row) const { return ReadTextField(this->row(row) + user_layout::name, user_layout::name_width); }
    std::string password(int row) const { return ReadTextField(this->row(row) + user_layout::password, user_layout::password_width); }
    std::uint32_t permissions(int row) const { return LoadLe32(this->row(row) + user_layout::permissions); }

    // Rows from 0 up to the first empty row: those are listed and logged in against.
    std::vector<int> ListedRows() const;
    // The login scan: the first listed row whose name and password both match
    // without regard to case. Returns its row, or -1.
    int FindLogin(std::string_view name, std::string_view password) const;
    // Permission word of the last row, of all 20, whose name matches; false when none does.
    bool PermissionsByName(std::string_view name, std::uint32_t* permissions) const;

    // Fills the first empty row's name and password only; returns the row, or -1 when full.
    int AddUser(std::string_view name, std::string_view password) requires WritableByte<Byte>;
    // Clears the first byte of the name of every row that matches; returns how many.
    int DeleteByName(std::string_view name) requires WritableByte<Byte>;
    // Every matching row: keep bits 0-7, bits 8 and 9 from the boxes, clear 10-31.
    int StorePermissionsByName(std::string_view name, bool view_image, bool adjust) requires WritableByte<Byte>;
    // Every matching row gets the new password; name and permissions stay. Returns how many.
    int StorePasswordByName(std::string_view name, std::string_view password) requires WritableByte<Byte>;

private:
    Byte* row(int r) const { return p_ + user_layout::table + user_layout::row_size * std::size_t(r); }
    Byte* p_;
};

template <class Byte>
class BasicDomainConfig {
public:
    explicit BasicDomainConfig(Byte* image) : p_(image) {}

    static constexpr int kRows = domain_layout::rows;
    bool RowEmpty(int row) const { return this->row(row)[domain_layout::name] == 0; }
    std::string name(int row) const { return ReadTextField(this->row(row) + domain_layout::name, domain_layout::name_width); }
    std::string ip_text(int row) const { return ReadTextField(this->row(row) + domain_layout::ip_text, domain_layout::ip_text_width); }

    std::vector<int> ListedRows() const;
    int AddDomain(std::string_view name, std::string_view ip_text) requires WritableByte<Byte>;
    int DeleteByName(std::string_view name) requires WritableByte<Byte>;

private:
    Byte* row(int r) const { return p_ + domain_layout::table + domain_layout::row_size * std::size_t(r); }
    Byte* p_;
};

using GeneralConfig = BasicGeneralConfig<std::uint8_t>;
using GeneralConfigReader = BasicGeneralConfig<const std::uint8_t>;
using UserConfig = BasicUserConfig<std::uint8_t>;
using UserConfigReader = BasicUserConfig<const std::uint8_t>;
using DomainConfig = BasicDomainConfig<std::uint8_t>;
using DomainConfigReader = BasicDomainConfig<const std::uint8_t>;

extern template class BasicUserConfig<std::uint8_t>;
extern template class BasicDomainConfig<std::uint8_t>;
// The read-only views are instantiated member by member in records.cpp.

} // namespace vantoro
