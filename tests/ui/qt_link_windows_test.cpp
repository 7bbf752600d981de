#include "ui/qt_link_windows.h"
#include "ui/thread_handover.h"

#include "link/config_frame.h"
#include "ui/apply_progress_dialog.h"
#include "ui/login_dialog.h"
#include "ui/net_config_page.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include "net_sheet_test_support.h"

#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <thread>

namespace vantoro::ui {
namespace {

class QtLinkWindowsTest : public ::testing::Test {
protected:
    // Runs work on a second thread while this thread spins an event loop, as
    // the receiver thread calls in while the GUI thread waits for input.
    template <class Fn>
    void RunOnOtherThread(Fn work)
    {
        QEventLoop loop;
        std::thread sender([&] {
            work();
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        });
        loop.exec();
        sender.join();
    }

    CameraLink link{test::OfflinePorts()}; // its receiver is never started
    UiState state{link};
    QtLinkWindows windows{state};
};

TEST_F(QtLinkWindowsTest, MessagesToWindowsThatDoNotExistAreDropped)
{
    EXPECT_FALSE(windows.SendToWindow(LinkWindow::ProgressDialog, WM_USER_SET_DONE));
    EXPECT_FALSE(windows.SendToWindow(LinkWindow::NetConfigPage, WM_CAMERA_FOUND));
    EXPECT_EQ(windows.WanAddressText(), "");
    bool progress = true, net = true;
    std::string wan = "x";
    RunOnOtherThread([&] {
        progress = windows.SendToWindow(LinkWindow::ProgressDialog, WM_GENERAL_SET_DONE);
        net = windows.SendToWindow(LinkWindow::NetConfigPage, WM_CAMERA_FOUND);
        wan = windows.WanAddressText();
    });
    EXPECT_FALSE(progress);
    EXPECT_FALSE(net);
    EXPECT_EQ(wan, "");
}

TEST_F(QtLinkWindowsTest, ProgressMessagesFromAnotherThreadReachTheModalDialog)
{
    ApplyProgressDialog dialog(state);
    bool user = false, domain = false, general = false;
    QString user_line_after_send;
    std::thread sender;
    QTimer::singleShot(0, &dialog, [&] {
        sender = std::thread([&] {
            user = windows.SendToWindow(LinkWindow::ProgressDialog, WM_USER_SET_DONE);
            // The send returned only after the line was set.
            user_line_after_send =
                CallOnThreadOf<QString>(&dialog, [&] { return Control<QLabel>(&dialog, 1052)->text(); });
            domain = windows.SendToWindow(LinkWindow::ProgressDialog, WM_DOMAIN_SET_DONE);
            general = windows.SendToWindow(LinkWindow::ProgressDialog, WM_GENERAL_SET_DONE);
        });
    });
    EXPECT_EQ(dialog.exec(), 0); // closed by the last message
    sender.join();
    EXPECT_TRUE(user);
    EXPECT_TRUE(domain);
    EXPECT_TRUE(general);
    EXPECT_EQ(user_line_after_send, QStringLiteral("Security Set Complete"));
    EXPECT_EQ(Control<QLabel>(&dialog, 1055)->text(), QStringLiteral("GENERAL Set Complete"));
    EXPECT_TRUE(state.progress_window.isNull());

    // After the dialog closed by itself, a late message goes nowhere.
    Control<QLabel>(&dialog, 1053)->setText("unchanged");
    bool late = true;
    RunOnOtherThread([&] { late = windows.SendToWindow(LinkWindow::ProgressDialog, WM_DOMAIN_SET_DONE); });
    EXPECT_FALSE(late);
    EXPECT_EQ(Control<QLabel>(&dialog, 1053)->text(), QStringLiteral("unchanged"));
}

TEST_F(QtLinkWindowsTest, MessagesAfterCancelAreDropped)
{
    ApplyProgressDialog dialog(state);
    dialog.show();
    Control<QPushButton>(&dialog, 2)->click();
    bool delivered = true;
    RunOnOtherThread([&] { delivered = windows.SendToWindow(LinkWindow::ProgressDialog, WM_USER_SET_DONE); });
    EXPECT_FALSE(delivered);
    EXPECT_EQ(Control<QLabel>(&dialog, 1052)->text(), QStringLiteral("Setting USER Config....."));
}

TEST_F(QtLinkWindowsTest, MessageBoxLoopKeepsDeliveringToTheProgressDialog)
{
    ApplyProgressDialog dialog(state); // created, not yet shown
    QMessageBox box(QMessageBox::NoIcon, "Warning", "Login fail", QMessageBox::Ok);
    bool delivered = false;
    std::thread sender;
    QTimer::singleShot(0, &box, [&] {
        sender = std::thread([&] {
            delivered = windows.SendToWindow(LinkWindow::ProgressDialog, WM_USER_SET_DONE);
            PostToThreadOf(&box, [&] { box.done(0); });
        });
    });
    box.exec();
    sender.join();
    EXPECT_TRUE(delivered);
    EXPECT_EQ(Control<QLabel>(&dialog, 1052)->text(), QStringLiteral("Security Set Complete"));
}

TEST_F(QtLinkWindowsTest, CameraFoundDuringLoginDialogListsTheReceivedMac)
{
    link.SetObserver(&windows);
    NetConfigPage page(state);
    LoginDialog login(state, &page);
    Frame reply{};
    SetFrameCommand(reply, CMD_GENERAL_REPLY);
    SetFrameMac(reply, {0x00, 0x0A, 0x00, 0x00, 0x00, 0x01});
    bool filed = false;
    std::thread receiver;
    QTimer::singleShot(0, &login, [&] {
        receiver = std::thread([&] {
            // The receive step files the reply; the new camera is announced synchronously.
            filed = test::Core(link).receiver.HandleDatagram(reply.data(), reply.size());
            PostToThreadOf(&login, [&] { Control<QPushButton>(&login, 1)->click(); });
        });
    });
    login.exec();
    receiver.join();
    link.SetObserver(nullptr);
    EXPECT_TRUE(filed);
    auto* cameras = Control<SortedListBox>(&page, 1015);
    ASSERT_EQ(cameras->count(), 1);
    EXPECT_EQ(cameras->Text(0), QStringLiteral("00 0A 00 00 00 01"));
}

TEST_F(QtLinkWindowsTest, WanAddressIsReadFromTheNetPageFieldOnItsThread)
{
    NetConfigPage page(state);
    auto* field = Control<QLineEdit>(&page, 1024);
    field->setText("127.0.0.9");
    std::string wan;
    RunOnOtherThread([&] { wan = windows.WanAddressText(); });
    EXPECT_EQ(wan, "127.0.0.9");
    field->setText(QString(1100, QLatin1Char('7')));
    RunOnOtherThread([&] { wan = windows.WanAddressText(); });
    EXPECT_EQ(wan, std::string(1023, '7'));
    EXPECT_EQ(windows.WanAddressText(), std::string(1023, '7')); // same thread: read directly
}

} // namespace
} // namespace vantoro::ui
