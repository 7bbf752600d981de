#pragma once
// What the pages and dialogs share on the user-interface thread: the link,
// the page windows (set when each page is created, none until then), the
// remembered credentials and the progress window.

#include "link/camera_link.h"

#include <QPointer>

#include <mutex>
#include <string>

namespace vantoro::ui {

class NetConfigPage;
class DnsConfigPage;
class SecurityConfigPage;
class CameraNamesPage;
class ApplyProgressDialog;

struct UiState {
    explicit UiState(CameraLink& link) : link(link) {}

    CameraLink& link;
    QPointer<NetConfigPage> net_page;
    QPointer<DnsConfigPage> dns_page;
    QPointer<SecurityConfigPage> security_page;
    QPointer<CameraNamesPage> names_page;
    // The open progress dialog, or none. Written on this thread only.
    QPointer<ApplyProgressDialog> progress_window;
    std::string remembered_user;
    std::string remembered_password;

    CameraEntry* current_camera() const { return link.state.current_camera.load(); }

    // The camera's record in slot, or nullptr while it has not come. The
    // buffer once filed stays for the run; only whether it exists is read
    // under the guard, as the receiver may be creating it.
    Frame* record_of(CameraEntry& camera, RecordSlot slot) const
    {
        std::lock_guard guard(link.state.registry.guard());
        return SlotOf(camera, slot).get();
    }
};

} // namespace vantoro::ui
