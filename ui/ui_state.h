#pragma once
// What the pages and dialogs share on the user-interface thread: the link,
// the page windows (set when each page is created, none until then), the
// remembered credentials and the progress window.

#include "link/camera_link.h"
#include "ui/current_camera.h"
#include "net/arp_probe.h"
#include "ops/change_journal.h"

#include <QPointer>

#include <memory>
#include <optional>

#include <mutex>
#include <string>

namespace vantoro::ui {

class NetConfigPage;
class DnsConfigPage;
class SecurityConfigPage;
class CameraNamesPage;
class ApplyProgressDialog;

struct UiState {
    explicit UiState(CameraLink& link) : link(link), camera(link) {}

    CameraLink& link;
    CurrentCamera camera;
    QPointer<NetConfigPage> net_page;
    QPointer<DnsConfigPage> dns_page;
    QPointer<SecurityConfigPage> security_page;
    QPointer<CameraNamesPage> names_page;
    // The open progress dialog, or none. Written on this thread only.
    QPointer<ApplyProgressDialog> progress_window;
    // How OK finds a device on the camera's LAN holding a new address.
    std::unique_ptr<AddressProber> prober = std::make_unique<ArpProber>();
    std::string remembered_user;
    std::string remembered_password;
    // The current camera's records as it reported them when logged in to (the
    // general record filled in should it come late): what OK's address check
    // and the journal of changes compare the records to be sent with.
    std::optional<CameraSnapshot> reported;
    ops::ChangeJournal journal;

    // The camera chosen by the last successful login, or none.
    std::optional<MacAddress> current_camera() const { return camera.mac(); }

    // A copy of the camera's record in slot, or none while it has not come.
    std::optional<Frame> record_of(const MacAddress& camera, RecordSlot slot) const
    {
        const auto snapshot = link.Camera(camera);
        if (!snapshot)
            return std::nullopt;
        switch (slot) {
        case RecordSlot::General: return snapshot->general;
        case RecordSlot::User: return snapshot->user;
        case RecordSlot::Domain: break;
        }
        return snapshot->domain;
    }
};

} // namespace vantoro::ui
