#pragma once
// The parts behind the link's front door: the shared state, the transmitter
// and the receiver, wired together. CameraLink owns one; the tests, fuzzers
// and benchmarks of the parts make their own. The front ends never include this.

#include "link/frame_transmitter.h"
#include "link/link_state.h"
#include "link/receiver_thread.h"

namespace vantoro {

struct LinkCore {
    explicit LinkCore(LinkPorts ports = {}) : state(std::move(ports)), transmitter(state), receiver(state, transmitter) {}
    LinkCore(const LinkCore&) = delete;
    LinkCore& operator=(const LinkCore&) = delete;

    LinkState state;
    FrameTransmitter transmitter;
    ReceiverThread receiver; // declared last: stopped before the rest goes
};

class CameraLink;

// The parts of a front door, for tests that drive it and look behind it.
struct LinkInternals {
    static LinkCore& Core(CameraLink& link);
};

} // namespace vantoro
