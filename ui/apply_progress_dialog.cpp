#include "ui/apply_progress_dialog.h"

#include "link/apply_steps.h"

#include "ui/template_builder.h"
#include "ui/ui_state.h"
#include "ui/window_messages.h"

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
    last_acknowledged_ = step;
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

void ApplyProgressDialog::ShowNote(const QString& text)
{
    auto* note = new QLabel(text, this);
    note->setObjectName(QStringLiteral("note"));
    note->setWordWrap(true);
    const int margin = Control<QLabel>(this, 1052)->x();
    note->setFixedWidth(width() - 2 * margin);
    note->adjustSize();
    note->move(margin, height());
    setFixedSize(width(), height() + note->height() + margin);
    note->show();
}

void ApplyProgressDialog::reject()
{
    // Stop receiving first, so no message reaches a closing dialog.
    state_.progress_window = nullptr;
    done(0);
}

} // namespace vantoro::ui
