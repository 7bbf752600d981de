#include "ui/page_glue.h"

#include "ui/apply_progress_dialog.h"
#include "ui/camera_names_page.h"
#include "ui/dns_config_page.h"
#include "ui/net_config_page.h"
#include "ui/security_config_page.h"
#include "ui/ui_state.h"

#include <mutex>

namespace vantoro::ui {

namespace {

// The slot's buffer once filed stays for the run; only whether it exists is
// read under the guard, as the receiver may be creating it.
Frame* RecordOf(UiState& state, CameraEntry& camera, RecordSlot slot)
{
    std::lock_guard guard(state.link.state.registry.guard());
    return SlotOf(camera, slot).get();
}

} // namespace

void RefreshPage(UiState& state, QWidget* window, CameraEntry* camera)
{
    if (!camera || !window)
        return;
    // A page that an earlier camera filled is emptied when this one lacks its
    // record, so it never shows another camera's table.
    if (window == state.security_page) {
        if (Frame* user = RecordOf(state, *camera, RecordSlot::User)) {
            state.security_page->EnableSecurityControls();
            state.security_page->FillUserList(*user);
        } else {
            state.security_page->ClearAndDisable();
        }
    }
    if (window == state.dns_page) {
        if (Frame* domain = RecordOf(state, *camera, RecordSlot::Domain)) {
            state.dns_page->EnableDnsControls();
            state.dns_page->FillDomainList(*domain);
        } else {
            state.dns_page->ClearAndDisable();
        }
    }
    if (window == state.names_page) {
        if (Frame* general = RecordOf(state, *camera, RecordSlot::General)) {
            state.names_page->EnableNameControls();
            state.names_page->FillNames(*general);
        } else {
            state.names_page->ClearAndDisable();
        }
    }
    if (window == state.net_page) {
        if (Frame* general = RecordOf(state, *camera, RecordSlot::General)) {
            state.net_page->EnableNetControls();
            state.net_page->FillNetFields(*general);
        } else {
            // Until this camera's record comes the page shows nothing of it,
            // and nothing of the camera before it.
            state.net_page->ClearAndDisableFields();
        }
    }
}

void CollectPages(UiState& state, CameraEntry* camera)
{
    if (!camera || !state.net_page)
        return;
    // The Net Config fields are read whichever page is active; the other pages
    // wrote their records as the user acted. Fields that show no record of
    // this camera are read by no one: after a login to a camera whose general
    // record had not come they are empty, and would put 0.0.0.0 into every
    // address and both switches off, which the apply would send.
    if (!state.net_page->HasFilledFields())
        return;
    if (Frame* general = RecordOf(state, *camera, RecordSlot::General))
        state.net_page->CollectNetFields(*general);
}

void ApplySheet(UiState& state)
{
    CameraEntry* camera = state.current_camera();
    if (!camera)
        return;
    CollectPages(state, camera);
    state.link.transmitter.StartApply();
    // Opens whether or not a frame went out; closes by itself on the last
    // acknowledgement or by its Cancel. No lock is held meanwhile.
    ApplyProgressDialog dialog(state, state.net_page);
    dialog.exec();
}

} // namespace vantoro::ui
