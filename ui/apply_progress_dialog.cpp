#include "ui/apply_progress_dialog.h"

#include "link/apply_steps.h"

#include "link/window_messages.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include <QLabel>
#include <QPushButton>

namespace vantoro::ui {

ApplyProgressDialog::ApplyProgressDialog(UiState& state, QWidget* parent) : QDialog(parent), state_(state)
{
    BuildFromTemplate(ApplyProgressTemplate(), this);
    setFixedSize(size());
    connect(Control<QPushButton>(this, 2), &QPushButton::clicked, this, &ApplyProgressDialog::reject);
    state_.progress_window = this;
}

void ApplyProgressDialog::SetLine(int id, const char* text)
{
    Control<QLabel>(this, id)->setText(QString::fromLatin1(text));
}

void ApplyProgressDialog::HandleMessage(std::uint32_t message)
{
    const auto step = StepOfMessage(message);
    if (!step)
        return;
    switch (*step) {
    case ApplyStep::User:
        SetLine(1052, "Security Set Complete");
        break;
    case ApplyStep::Domain:
        SetLine(1053, "DOMAIN NAME Set Complete");
        break;
    case ApplyStep::General:
        SetLine(1054, "CAMERA NAME Set Complete");
        SetLine(1055, "GENERAL Set Complete");
        done(0);
        state_.progress_window = nullptr;
        break;
    }
}

void ApplyProgressDialog::reject()
{
    // Stop receiving first, so no message reaches a closing dialog.
    state_.progress_window = nullptr;
    done(0);
}

} // namespace vantoro::ui
