#pragma once

#include "link/config_frame.h"
#include "net/net_interfaces.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vantoro {

// Where the link sends and listens. The product uses the defaults; tests move
// the ports so they can run side by side.
struct LinkPorts {
    std::uint16_t camera_port = CAMERA_PORT;
    std::uint16_t tool_port = TOOL_PORT;
    std::string broadcast_address = "255.255.255.255";
    // A search of a large fleet answers with three frames per camera at once;
    // the receiver handles them one by one while the page lists each new
    // camera, so the socket must hold the backlog. The system counts a frame
    // at about twice its size and doubles the size asked for: 32 MiB holds
    // some 29000 frames, the whole answer of about 9000 cameras. Changes
    // nothing on the wire. 0 keeps the socket library's default.
    int receive_buffer_bytes = 32 << 20;
    // The interfaces a LAN-mode frame leaves through, read at each
    // transmission. Programs outside a network namespace made for them (tests,
    // benchmarks) give loopback only, or nothing, so no slip reaches a real LAN.
    std::function<std::vector<NetInterface>()> list_interfaces = ListBroadcastInterfaces;
    // Answers the receiver holds for its dispatcher; further ones are
    // dropped and counted. Tests make it small to see that happen.
    std::size_t answer_queue_capacity = 32768;
};

} // namespace vantoro
