#pragma once

#include "link/config_frame.h"

#include <cstdint>
#include <string>

namespace vantoro {

// Where the link sends and listens. The product uses the defaults; tests move
// the ports so they can run side by side.
struct LinkPorts {
    std::uint16_t camera_port = CAMERA_PORT;
    std::uint16_t tool_port = TOOL_PORT;
    std::string broadcast_address = "255.255.255.255";
    int receive_buffer_bytes = 0; // 0 keeps the socket library's default
};

} // namespace vantoro
