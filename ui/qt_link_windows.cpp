#include "ui/qt_link_windows.h"

#include "ui/apply_progress_dialog.h"
#include "ui/list_line.h"
#include "ui/net_config_page.h"
#include "ui/ui_state.h"

#include "ui/thread_handover.h"

#include <cstdio>

namespace vantoro::ui {

namespace {

// The field is read as through a 1024-byte buffer.
constexpr int kWanReadLimit = 1023;

} // namespace

QtLinkWindows::QtLinkWindows(UiState& state, QObject* parent) : QObject(parent), state_(state) {}

void QtLinkWindows::CameraFound(const MacAddress& mac)
{
    SendToWindow(LinkWindow::NetConfigPage, WM_CAMERA_FOUND, mac);
}

void QtLinkWindows::StepAcknowledged(ApplyStep step, const Frame&)
{
    SendToWindow(LinkWindow::ProgressDialog, DoneMessage(step));
}

bool QtLinkWindows::SendToWindow(LinkWindow target, std::uint32_t message, const MacAddress& camera)
{
    return CallOnThreadOf<bool>(this, [&] { return Deliver(target, message, camera); });
}

void QtLinkWindows::SearchIncomplete(std::uint64_t lost)
{
    // On the link's drain thread: nothing here may wait for the GUI thread.
    std::fprintf(stderr, "vantoro: %llu answers were lost; the list may be incomplete\n",
                 static_cast<unsigned long long>(lost));
}

std::string QtLinkWindows::WanAddressText()
{
    return CallOnThreadOf<std::string>(this, [&] { return ReadWanAddress(); });
}

bool QtLinkWindows::Deliver(LinkWindow target, std::uint32_t message, const MacAddress& camera)
{
    // The window is looked up here, on its own thread, so it cannot go away
    // between the lookup and the call.
    switch (target) {
    case LinkWindow::NetConfigPage:
        if (!state_.net_page)
            return false;
        if (message == WM_CAMERA_FOUND)
            state_.net_page->HandleCameraFound(camera);
        return true;
    case LinkWindow::ProgressDialog:
        if (!state_.progress_window)
            return false;
        state_.progress_window->HandleMessage(message);
        return true;
    }
    return false;
}

std::string QtLinkWindows::ReadWanAddress() const
{
    if (!state_.net_page)
        return std::string();
    return ToRecordText(state_.net_page->WanAddressText().left(kWanReadLimit));
}

} // namespace vantoro::ui
