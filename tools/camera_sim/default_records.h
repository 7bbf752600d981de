#pragma once
// The records a virtual camera starts with. Every area the tool carries through
// without reading holds non-zero filler, so a round trip that loses or moves a
// byte shows up in a byte comparison.

#include "link/config_frame.h"

#include <cstdint>
#include <vector>

namespace vantoro::sim {

struct CameraRecords {
    Frame general{};
    Frame user{};
    Frame domain{};
};

// Camera `index` (0-based) with hardware address `mac`. Each record's command
// is its reply code and reply_mode is 0, so a record goes out as it is stored.
//
// general: server on, BOOTP on for even indexes; Ethernet 192.168.1.(10+index)
//   (carrying into the third number past 245) / 255.255.255.0, gateway
//   192.168.1.1, BOOTP range 192.168.1.100-200, PPP 10.64.index.1 /
//   255.255.255.252 with client 10.64.index.2 (copy too), four camera names,
//   firmware 2.05.
// user: admin/admin 0x3FF, viewer/viewer 0x100, operator/operator 0x300; the
//   other rows all zero.
// domain: three rows (name and address text); the other rows all zero.
CameraRecords MakeDefaultRecords(int index, const MacAddress& mac);

struct VirtualCamera {
    MacAddress mac{};
    CameraRecords records;
};

// `count` cameras with addresses first_mac, first_mac + 1, ... The caller
// checks that the last address does not pass ff:ff:ff:ff:ff:ff.
std::vector<VirtualCamera> MakeDefaultCameras(int count, const MacAddress& first_mac);

inline constexpr std::uint32_t kDefaultFirmwareVersion = 0x00020005;

// The non-zero byte stored at `offset` of a carried-through area.
std::uint8_t FillerByte(int index, std::uint32_t command, std::size_t offset);

} // namespace vantoro::sim
