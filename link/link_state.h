#pragma once
// The state that the user-interface thread and the receiver thread share: the
// frame image and its lock, the registry, the camera of the sequence under
// way, the addressing mode, and the observer the threads tell their events. One object per link,
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

inline const std::unique_ptr<Frame>& SlotOf(const CameraEntry& entry, RecordSlot slot)
{
    return SlotOf(const_cast<CameraEntry&>(entry), slot);
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
    // The camera whose apply sequence was started last (its user record
    // sent), or that the sheet logged in to since: with address_each_camera
    // off, every acknowledgement drives its sequence, as the sheet writes one
    // camera at a time. Written by the thread that starts sequences, read
    // anywhere as one value.
    std::atomic<CameraEntry*> sequence_camera{nullptr};
    std::atomic<bool> wan_mode{false};
    // WAN-mode frames go to wan_address (network byte order) while it is set;
    // otherwise to the address the user interface's field names.
    std::atomic<bool> wan_address_set{false};
    std::atomic<std::uint32_t> wan_address{0};
    // Set by a front end that writes many cameras at once: a camera's records
    // and closing frame go to that camera (WAN mode: the address it answered
    // from), and an acknowledgement drives the sequence of the camera it
    // names rather than the sequence camera's. The sheet leaves it off.
    std::atomic<bool> address_each_camera{false};

    // Under the registry's guard: the camera whose sequence this
    // acknowledgement drives: the one it names when each camera is
    // addressed, otherwise the sequence camera. nullptr when none is listed.
    CameraEntry* ConcernedCameraLocked(const Frame& acknowledgement)
    {
        return address_each_camera.load() ? registry.FindCameraLocked(FrameMac(acknowledgement))
                                          : sequence_camera.load();
    }
};

} // namespace vantoro
