#pragma once
// Follows the apply sequence line by line as the camera acknowledges each
// record, and closes itself after the last one. Cancel only stops watching.

#include "link/apply_steps.h"

#include <QDialog>

#include <optional>

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

    // The last step the camera acknowledged while the dialog watched; none yet.
    std::optional<ApplyStep> last_acknowledged() const { return last_acknowledged_; }
    // One line under the progress lines, for what the sequence itself does not say.
    void ShowNote(const QString& text);

private:
    void SetLine(int id, const char* text);

    UiState& state_;
    std::optional<ApplyStep> last_acknowledged_;
};

} // namespace vantoro::ui
