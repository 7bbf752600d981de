#pragma once
// Asks for a user name and password and stores them as the remembered
// credentials. It checks nothing; OK is the only way out.

#include <QDialog>

class QCloseEvent;

namespace vantoro::ui {

struct UiState;

class LoginDialog final : public QDialog {
    Q_OBJECT
public:
    // At most this many characters of each edit are remembered.
    static constexpr int kMaxStored = 254;

    explicit LoginDialog(UiState& state, QWidget* parent = nullptr);

    // Escape and the close box ask for this; the dialog stays open.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnOk();

    UiState& state_;
};

} // namespace vantoro::ui
