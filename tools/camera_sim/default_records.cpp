#include "tools/camera_sim/default_records.h"

#include "link/records.h"
#include "tools/camera_sim/sim_options.h"

#include <string>

namespace vantoro::sim {

namespace {

// Address word from its four dotted numbers, first number most significant.
constexpr std::uint32_t Address(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

void Fill(Frame& f, int index, std::size_t from, std::size_t to)
{
    const std::uint32_t command = FrameCommand(f);
    for (std::size_t off = from; off < to; ++off)
        f[off] = FillerByte(index, command, off);
}

void StartRecord(Frame& f, std::uint32_t command, const MacAddress& mac)
{
    f.fill(0);
    SetFrameCommand(f, command);
    SetFrameReplyMode(f, 0);
    SetFrameMac(f, mac);
}

void PutUser(Frame& f, int row, const char* name, const char* password, std::uint32_t permissions)
{
    std::uint8_t* r = f.data() + user_layout::table + user_layout::row_size * std::size_t(row);
    WriteTextField(r + user_layout::name, user_layout::name_width, name);
    WriteTextField(r + user_layout::password, user_layout::password_width, password);
    StoreLe32(r + user_layout::permissions, permissions);
}

void PutDomain(Frame& f, int row, const std::string& name, const std::string& ip_text)
{
    std::uint8_t* r = f.data() + domain_layout::table + domain_layout::row_size * std::size_t(row);
    WriteTextField(r + domain_layout::name, domain_layout::name_width, name);
    WriteTextField(r + domain_layout::ip_text, domain_layout::ip_text_width, ip_text);
}

} // namespace

std::uint8_t FillerByte(int index, std::uint32_t command, std::size_t offset)
{
    return std::uint8_t(1 + (offset * 37 + std::size_t(index) * 11 + command) % 255);
}

CameraRecords MakeDefaultRecords(int index, const MacAddress& mac)
{
    CameraRecords r;
    const std::uint32_t i = std::uint32_t(index);

    Frame& g = r.general;
    StartRecord(g, CMD_GENERAL_REPLY, mac);
    Fill(g, index, 14, kFrameSize); // named fields are written over it below
    GeneralConfig general(g.data());
    general.set_server_on(true);
    general.set_bootp_on(index % 2 == 0);
    general.set_gateway(Address(192, 168, 1, 1));
    general.set_ethernet_ip(Address(192, 168, 1, 10) + i);
    general.set_ethernet_mask(Address(255, 255, 255, 0));
    general.set_bootp_start_ip(Address(192, 168, 1, 100));
    general.set_bootp_end_ip(Address(192, 168, 1, 200));
    general.set_ppp_ip(Address(10, 64, i & 0xFF, 1));
    general.set_ppp_mask(Address(255, 255, 255, 252));
    general.set_ppp_client_ip(Address(10, 64, i & 0xFF, 2));
    const char* places[] = {"Entrance", "Parking", "Loading Bay", "Roof"};
    for (std::size_t slot = 0; slot < 4; ++slot) {
        const std::string name = "Cam " + std::to_string(index + 1) + " " + places[slot];
        // 32 bytes keeps the fourth slot well clear of firmware_version.
        WriteTextField(g.data() + general_layout::camera_name + general_layout::camera_name_stride * slot, 32,
                       name);
    }
    StoreLe32(g.data() + general_layout::firmware_version, kDefaultFirmwareVersion);

    Frame& u = r.user;
    StartRecord(u, CMD_USER_REPLY, mac);
    Fill(u, index, 14, user_layout::table);
    PutUser(u, 0, "admin", "admin", 0x3FF);
    PutUser(u, 1, "viewer", "viewer", PERM_VIEW_IMAGE);
    PutUser(u, 2, "operator", "operator", PERM_VIEW_IMAGE | PERM_ADJUST);

    Frame& d = r.domain;
    StartRecord(d, CMD_DOMAIN_REPLY, mac);
    Fill(d, index, 14, domain_layout::table);
    Fill(d, index, domain_layout::table + domain_layout::row_size * domain_layout::rows, kFrameSize);
    PutDomain(d, 0, "ntp.vantoro.example", "192.168.1.5");
    PutDomain(d, 1, "mail.vantoro.example", "192.168.1.6");
    PutDomain(d, 2, "cam" + std::to_string(index + 1) + ".vantoro.example",
              "192.168.1." + std::to_string((10 + index) % 256));
    return r;
}

std::vector<VirtualCamera> MakeDefaultCameras(int count, const MacAddress& first_mac)
{
    std::vector<VirtualCamera> cameras;
    for (int i = 0; i < count; ++i) {
        const MacAddress mac = OffsetMac(first_mac, std::uint64_t(i)).value_or(first_mac);
        cameras.push_back(VirtualCamera{mac, MakeDefaultRecords(i, mac)});
    }
    return cameras;
}

} // namespace vantoro::sim
