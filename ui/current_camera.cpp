#include "ui/current_camera.h"

namespace vantoro::ui {

void CurrentCamera::Choose(const MacAddress& mac)
{
    const std::optional<CameraSnapshot> camera = link_.Camera(mac);
    if (!camera)
        return;
    mac_ = mac;
    // As the sheet always has: from login on, an acknowledgement drives
    // this camera's sequence.
    link_.SetSequenceCamera(mac);
    if (const std::optional<Frame>& record = camera->general ? camera->general : camera->user ? camera->user : camera->domain)
        link_.LoadFrameImage(*record);
}

bool CurrentCamera::StartApply()
{
    return mac_ && link_.SendStep(*mac_, ApplyStep::User);
}

bool CurrentCamera::Reset()
{
    return mac_ && link_.SendReset(*mac_);
}

} // namespace vantoro::ui
