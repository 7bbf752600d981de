#include "ui/login_dialog.h"

#include "ui/list_line.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

namespace vantoro::ui {

LoginDialog::LoginDialog(UiState& state, QWidget* parent) : QDialog(parent), state_(state)
{
    BuildFromTemplate(LoginTemplate(), this);
    setFixedSize(size());
    connect(Control<QPushButton>(this, 1), &QPushButton::clicked, this, &LoginDialog::OnOk);
}

void LoginDialog::OnOk()
{
    state_.remembered_user = ToRecordText(Control<QLineEdit>(this, 1000)->text().left(kMaxStored));
    state_.remembered_password = ToRecordText(Control<QLineEdit>(this, 1001)->text().left(kMaxStored));
    done(0);
}

void LoginDialog::reject() {}

void LoginDialog::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

} // namespace vantoro::ui
