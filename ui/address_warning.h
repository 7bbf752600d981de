#pragma once
// Before OK sends the current camera a new Ethernet IP: whether another
// listed camera holds it, or a device on the camera's LAN answers for it.

class QWidget;

namespace vantoro::ui {

struct UiState;

// Asks "Address in use" when the new address is taken; true to go on with OK
// (nothing taken, or "Apply anyway"), false for Cancel. Without a change of
// the Ethernet IP nothing is checked or asked.
bool ConfirmAddressUse(UiState& state, QWidget* parent);

} // namespace vantoro::ui
