#pragma once
// The camera the sheet works on: the one chosen by the last successful
// login, kept on the user-interface thread. What the sheet does to it (what
// the frame image carries into the next search, its apply sequence, its
// reset) names it to the link.

#include "link/camera_link.h"

#include <optional>

namespace vantoro::ui {

class CurrentCamera {
public:
    explicit CurrentCamera(CameraLink& link) : link_(link) {}

    std::optional<MacAddress> mac() const { return mac_; }
    // Chooses it, and the frame image takes its general record (else its
    // user record, else its domain record).
    void Choose(const MacAddress& mac);
    // The next search carries record (the page shown refills from it).
    void LoadFrameImage(const Frame& record) { link_.LoadFrameImage(record); }
    // Its user record now; the link sends the rest on the acknowledgements.
    // False, sending nothing, when none is chosen or it lacks the record.
    bool StartApply();
    // CMD_RESET with its general record; false, sending nothing, as above.
    bool Reset();

private:
    CameraLink& link_;
    std::optional<MacAddress> mac_;
};

} // namespace vantoro::ui
