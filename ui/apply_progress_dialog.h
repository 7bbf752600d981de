#pragma once
// Follows the apply sequence line by line as the camera acknowledges each
// record, and closes itself after the last one. Cancel only stops watching.

#include <QDialog>

#include <cstdint>

namespace vantoro::ui {

struct UiState;

class ApplyProgressDialog final : public QDialog {
    Q_OBJECT
public:
    // Becomes the progress window at once; the reference clears itself
    // should the dialog be destroyed.
    explicit ApplyProgressDialog(UiState& state, QWidget* parent = nullptr);

    // WM_USER_SET_DONE, WM_DOMAIN_SET_DONE or WM_GENERAL_SET_DONE; others are ignored.
    void HandleMessage(std::uint32_t message);

    // Cancel: the button, Escape and the close box.
    void reject() override;

private:
    void SetLine(int id, const char* text);

    UiState& state_;
};

} // namespace vantoro::ui
