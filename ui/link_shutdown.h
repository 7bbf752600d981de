#pragma once
// Shuts the camera link down from the GUI thread once the sheet has closed.

namespace vantoro {
class CameraLink;
}

namespace vantoro::ui {

// Stops the receiver, delivering its pending calls into this thread until its
// loop has left (it may be waiting in one), joins it and detaches the windows.
void ShutDownLink(CameraLink& link);

} // namespace vantoro::ui
