#include "ui/login_dialog.h"

#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include "net_sheet_test_support.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "qt_printers.h"

#include <gtest/gtest.h>

namespace vantoro::ui {
namespace {

class LoginDialogTest : public ::testing::Test {
protected:
    CameraLink link{test::OfflinePorts()}; // its receiver is never started
    UiState state{link};
};

QLineEdit* NameEdit(QWidget* d) { return Control<QLineEdit>(d, 1000); }
QLineEdit* PasswordEdit(QWidget* d) { return Control<QLineEdit>(d, 1001); }

TEST_F(LoginDialogTest, StartsEmptyWithCaptionAndMaskedPassword)
{
    state.remembered_user = "admin";
    state.remembered_password = "secret";
    LoginDialog dialog(state);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("LOGIN"));
    EXPECT_TRUE(NameEdit(&dialog)->text().isEmpty());
    EXPECT_TRUE(PasswordEdit(&dialog)->text().isEmpty());
    QTest::keyClicks(PasswordEdit(&dialog), "pw");
    QTest::keyClicks(NameEdit(&dialog), "me");
    EXPECT_NE(PasswordEdit(&dialog)->displayText(), QStringLiteral("pw"));
    EXPECT_EQ(NameEdit(&dialog)->displayText(), QStringLiteral("me"));
}

TEST_F(LoginDialogTest, EnterStoresBothTextsAndClosesWithResultZero)
{
    LoginDialog dialog(state);
    bool closed_by_enter = false;
    QTimer::singleShot(0, &dialog, [&] {
        QTest::keyClicks(NameEdit(&dialog), "Admin");
        QTest::keyClicks(PasswordEdit(&dialog), "pa ss");
        QTest::keyClick(PasswordEdit(&dialog), Qt::Key_Return);
        closed_by_enter = !dialog.isVisible();
        if (!closed_by_enter)
            dialog.done(-1); // do not hang the test
    });
    EXPECT_EQ(dialog.exec(), 0);
    EXPECT_TRUE(closed_by_enter);
    EXPECT_EQ(state.remembered_user, "Admin");
    EXPECT_EQ(state.remembered_password, "pa ss");
}

TEST_F(LoginDialogTest, OkStoresAtMost254CharactersOfEachEdit)
{
    LoginDialog dialog(state);
    const QString name(300, QLatin1Char('n'));
    QString password;
    for (int i = 0; i < 300; ++i)
        password += QLatin1Char(char('a' + i % 26));
    NameEdit(&dialog)->setText(name);
    PasswordEdit(&dialog)->setText(password);
    dialog.show();
    Control<QPushButton>(&dialog, 1)->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(state.remembered_user, std::string(254, 'n'));
    EXPECT_EQ(state.remembered_password, password.left(254).toStdString());
}

TEST_F(LoginDialogTest, EmptyTextsAreStoredAsTyped)
{
    state.remembered_user = "old";
    state.remembered_password = "old";
    LoginDialog dialog(state);
    dialog.show();
    Control<QPushButton>(&dialog, 1)->click();
    EXPECT_EQ(state.remembered_user, "");
    EXPECT_EQ(state.remembered_password, "");
}

TEST_F(LoginDialogTest, EscapeAndCloseBoxLeaveItOpen)
{
    LoginDialog dialog(state);
    bool open_after_escape = false;
    bool open_after_close = false;
    QTimer::singleShot(0, &dialog, [&] {
        QTest::keyClick(NameEdit(&dialog), Qt::Key_Escape);
        open_after_escape = dialog.isVisible();
        dialog.close();
        open_after_close = dialog.isVisible();
        Control<QPushButton>(&dialog, 1)->click();
        if (dialog.isVisible())
            dialog.done(-1);
    });
    EXPECT_EQ(dialog.exec(), 0);
    EXPECT_TRUE(open_after_escape);
    EXPECT_TRUE(open_after_close);
}

} // namespace
} // namespace vantoro::ui
