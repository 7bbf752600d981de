#pragma once
// The link's way into the user interface, and the one place where its events
// become the sheet's window messages, each a blocking call into the GUI
// thread, so the receiver goes on only after the window has handled it; every
// modal loop keeps delivering them. A message for a window that does not
// exist is dropped.
//
// A camera found is WM_CAMERA_FOUND to NetConfigPage::HandleCameraFound(); an
// acknowledged step is its progress message to ApplyProgressDialog::HandleMessage().

#include "link/link_observer.h"
#include "ui/window_messages.h"

#include <QObject>

#include <cstdint>
#include <string>

namespace vantoro::ui {

struct UiState;

class QtLinkWindows final : public QObject, public LinkObserver {
    Q_OBJECT
public:
    // Create on the GUI thread; it must outlive the receiver thread.
    explicit QtLinkWindows(UiState& state, QObject* parent = nullptr);

    void CameraFound(const MacAddress& mac) override;
    void StepAcknowledged(ApplyStep step, const Frame& acknowledgement) override;
    std::string WanAddressText() override;
    // One line on stderr; the sheet's surface stays as it is.
    void SearchIncomplete(std::uint64_t lost) override;

    // Delivers the message and returns after the window handled it; false
    // when the window does not exist and the message was dropped. camera: the
    // camera a WM_CAMERA_FOUND announces.
    bool SendToWindow(LinkWindow target, std::uint32_t message, const MacAddress& camera = {});

private:
    // On the GUI thread: hand the message to the window, false when there is none.
    bool Deliver(LinkWindow target, std::uint32_t message, const MacAddress& camera);
    std::string ReadWanAddress() const;

    UiState& state_;
};

} // namespace vantoro::ui
