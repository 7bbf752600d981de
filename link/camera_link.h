#pragma once
// Owns everything of the camera link: shared state, transmitter, receiver.

#include "link/frame_transmitter.h"
#include "link/link_state.h"
#include "link/receiver_thread.h"

namespace vantoro {

class CameraLink {
public:
    explicit CameraLink(LinkPorts ports = {}) : state(std::move(ports)), transmitter(state), receiver(state, transmitter) {}

    LinkState state;
    FrameTransmitter transmitter;
    ReceiverThread receiver; // declared last: stopped before the rest goes
};

} // namespace vantoro
