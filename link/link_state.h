#pragma once
// The state that the user-interface thread and the receiver thread share: the
// frame image and its lock, the registry, the current camera, the addressing
// mode, and the observer the threads tell their events. One object per link,
// so tests can make fresh ones.

#include "link/apply_steps.h"
#include "link/camera_registry.h"
#include "link/config_frame.h"
#include "link/link_observer.h"
#include "link/link_ports.h"

#include <atomic>

namespace vantoro {

inline std::unique_ptr<Frame>& SlotOf(CameraEntry& entry, RecordSlot slot)
{
    switch (slot) {
    case RecordSlot::General: return entry.general;
    case RecordSlot::User: return entry.user;
    case RecordSlot::Domain: break;
    }
    return entry.domain;
}

class LinkState {
public:
    explicit LinkState(LinkPorts ports = {}) : ports(std::move(ports)), registry(&observer) {}
    LinkState(const LinkState&) = delete;
    LinkState& operator=(const LinkState&) = delete;

    const LinkPorts ports;
    FrameImage frame_image;
    ObserverSlot observer;
    CameraRegistry registry;
    // Written only on the user-interface thread, read anywhere as one value.
    std::atomic<CameraEntry*> current_camera{nullptr};
    std::atomic<bool> wan_mode{false};
    // WAN-mode frames go to wan_address (network byte order) while it is set;
    // otherwise to the address the user interface's field names.
    std::atomic<bool> wan_address_set{false};
    std::atomic<std::uint32_t> wan_address{0};
    // Set by a front end that writes many cameras at once: a camera's records
    // and closing frame go to that camera (WAN mode: the address it answered
    // from), and an acknowledgement drives the sequence of the camera it
    // names rather than the current camera's. The sheet leaves it off.
    std::atomic<bool> address_each_camera{false};
};

} // namespace vantoro
