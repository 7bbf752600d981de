#pragma once
// The link's way into the user interface. Messages from the receiver thread
// become blocking calls into the GUI thread, so the receiver goes on only
// after the window has handled them; every modal loop keeps delivering them.
// A message for a window that does not exist is dropped.
//
// WM_CAMERA_FOUND goes to NetConfigPage::HandleCameraFound(); the progress
// messages go to ApplyProgressDialog::HandleMessage().

#include "link/window_messages.h"

#include <QObject>

#include <cstdint>
#include <string>

namespace vantoro::ui {

struct UiState;

class QtLinkWindows final : public QObject, public LinkWindows {
    Q_OBJECT
public:
    // Create on the GUI thread; it must outlive the receiver thread.
    explicit QtLinkWindows(UiState& state, QObject* parent = nullptr);

    bool SendToWindow(LinkWindow target, std::uint32_t message) override;
    std::string WanAddressText() override;

private:
    // On the GUI thread: hand the message to the window, false when there is none.
    bool Deliver(LinkWindow target, std::uint32_t message);
    std::string ReadWanAddress() const;

    UiState& state_;
};

} // namespace vantoro::ui
