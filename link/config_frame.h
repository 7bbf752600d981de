#pragma once
// The one datagram the tool and the cameras exchange: 1152 bytes, every
// multi-byte integer little-endian whatever the host's byte order.

#include "util/mac_text.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace vantoro {

inline constexpr std::size_t kFrameSize = 1152;
using Frame = std::array<std::uint8_t, kFrameSize>;

// Header offsets.
inline constexpr std::size_t kCommandOffset = 0;
inline constexpr std::size_t kReplyModeOffset = 4;
inline constexpr std::size_t kMacOffset = 8;

// Cameras listen on CAMERA_PORT; the tool receives their answers on TOOL_PORT.
inline constexpr std::uint16_t CAMERA_PORT = 2056;
inline constexpr std::uint16_t TOOL_PORT = 2313;

// An answer's code is its request's code plus 5.
inline constexpr std::uint32_t CMD_GET_GENERAL = 0x10;
inline constexpr std::uint32_t CMD_GENERAL_REPLY = 0x15;
inline constexpr std::uint32_t CMD_SET_GENERAL = 0x20;
inline constexpr std::uint32_t CMD_GENERAL_SET_ACK = 0x25;
inline constexpr std::uint32_t CMD_SET_USER = 0x40;
inline constexpr std::uint32_t CMD_USER_SET_ACK = 0x45;
inline constexpr std::uint32_t CMD_SET_DOMAIN = 0x50;
inline constexpr std::uint32_t CMD_DOMAIN_SET_ACK = 0x55;
inline constexpr std::uint32_t CMD_GET_USER = 0x60;
inline constexpr std::uint32_t CMD_USER_REPLY = 0x65;
inline constexpr std::uint32_t CMD_GET_DOMAIN = 0x70;
inline constexpr std::uint32_t CMD_DOMAIN_REPLY = 0x75;
inline constexpr std::uint32_t CMD_APPLY_DONE = 0x80;
inline constexpr std::uint32_t CMD_RESET = 0xC0;

inline std::uint32_t LoadLe32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

inline void StoreLe32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

inline std::uint32_t FrameCommand(const Frame& f) { return LoadLe32(f.data() + kCommandOffset); }
inline void SetFrameCommand(Frame& f, std::uint32_t c) { StoreLe32(f.data() + kCommandOffset, c); }
inline std::uint32_t FrameReplyMode(const Frame& f) { return LoadLe32(f.data() + kReplyModeOffset); }
inline void SetFrameReplyMode(Frame& f, std::uint32_t m) { StoreLe32(f.data() + kReplyModeOffset, m); }

inline MacAddress FrameMac(const Frame& f)
{
    MacAddress mac;
    for (std::size_t i = 0; i < kMacSize; ++i)
        mac[i] = f[kMacOffset + i];
    return mac;
}

inline void SetFrameMac(Frame& f, const MacAddress& mac)
{
    for (std::size_t i = 0; i < kMacSize; ++i)
        f[kMacOffset + i] = mac[i];
}

// The frame image: the one buffer through which every frame is built, sent and
// received. Its lock is always taken before the registry's guard.
struct FrameImage {
    Frame bytes{};
    std::mutex lock;
};

} // namespace vantoro
