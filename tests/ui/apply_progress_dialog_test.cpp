#include "ui/apply_progress_dialog.h"

#include "ui/template_builder.h"
#include "ui/ui_state.h"
#include "ui/window_messages.h"

#include "net_sheet_test_support.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "qt_printers.h"

#include <gtest/gtest.h>

namespace vantoro::ui {
namespace {

const char* const kInitial[] = {"Setting USER Config.....", "Setting DOMAIN Config.....",
                                "Setting CAMERA Config.....", "Setting GENERAL Config....."};

QStringList LineTexts(QWidget* dialog)
{
    QStringList texts;
    for (int id : {1052, 1053, 1054, 1055})
        texts << Control<QLabel>(dialog, id)->text();
    return texts;
}

QStringList InitialTexts()
{
    QStringList texts;
    for (const char* t : kInitial)
        texts << QString::fromLatin1(t);
    return texts;
}

class ApplyProgressDialogTest : public ::testing::Test {
protected:
    CameraLink link{test::OfflinePorts()}; // its receiver is never started
    UiState state{link};
};

TEST_F(ApplyProgressDialogTest, CreationRegistersTheWindowWithInitialLines)
{
    EXPECT_TRUE(state.progress_window.isNull());
    {
        ApplyProgressDialog dialog(state);
        EXPECT_EQ(state.progress_window.data(), &dialog);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Dialog"));
        EXPECT_EQ(LineTexts(&dialog), InitialTexts());
    }
    EXPECT_TRUE(state.progress_window.isNull());
}

TEST_F(ApplyProgressDialogTest, EachMessageRewritesOnlyItsLine)
{
    ApplyProgressDialog dialog(state);
    dialog.show();
    dialog.HandleMessage(WM_DOMAIN_SET_DONE);
    QStringList expected = InitialTexts();
    expected[1] = "DOMAIN NAME Set Complete";
    EXPECT_EQ(LineTexts(&dialog), expected);
    dialog.HandleMessage(WM_USER_SET_DONE);
    expected[0] = "Security Set Complete";
    EXPECT_EQ(LineTexts(&dialog), expected);
    dialog.HandleMessage(WM_CAMERA_FOUND); // not a progress message
    dialog.HandleMessage(0x5001);
    EXPECT_EQ(LineTexts(&dialog), expected);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(state.progress_window.data(), &dialog);
}

TEST_F(ApplyProgressDialogTest, LastAcknowledgementSetsBothLinesAndClosesTheDialog)
{
    ApplyProgressDialog dialog(state);
    QStringList at_close;
    QTimer::singleShot(0, &dialog, [&] {
        dialog.HandleMessage(WM_USER_SET_DONE);
        dialog.HandleMessage(WM_DOMAIN_SET_DONE);
        dialog.HandleMessage(WM_GENERAL_SET_DONE);
        at_close = LineTexts(&dialog);
        if (dialog.isVisible())
            dialog.done(-1);
    });
    EXPECT_EQ(dialog.exec(), 0);
    EXPECT_EQ(at_close, (QStringList{"Security Set Complete", "DOMAIN NAME Set Complete", "CAMERA NAME Set Complete",
                                     "GENERAL Set Complete"}));
    EXPECT_TRUE(state.progress_window.isNull());
}

TEST_F(ApplyProgressDialogTest, GeneralAloneClosesWithTheOtherLinesUntouched)
{
    ApplyProgressDialog dialog(state);
    dialog.show();
    dialog.HandleMessage(WM_GENERAL_SET_DONE);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(LineTexts(&dialog), (QStringList{kInitial[0], kInitial[1], "CAMERA NAME Set Complete",
                                               "GENERAL Set Complete"}));
}

TEST_F(ApplyProgressDialogTest, CancelButtonDropsTheWindowBeforeClosing)
{
    ApplyProgressDialog dialog(state);
    bool window_gone_at_finish = false;
    QObject::connect(&dialog, &QDialog::finished, [&] { window_gone_at_finish = state.progress_window.isNull(); });
    QTimer::singleShot(0, &dialog, [&] {
        dialog.HandleMessage(WM_USER_SET_DONE);
        Control<QPushButton>(&dialog, 2)->click();
        if (dialog.isVisible())
            dialog.done(-1);
    });
    EXPECT_EQ(dialog.exec(), 0);
    EXPECT_TRUE(window_gone_at_finish);
    EXPECT_TRUE(state.progress_window.isNull());
    EXPECT_EQ(LineTexts(&dialog)[0], QStringLiteral("Security Set Complete"));
    EXPECT_EQ(LineTexts(&dialog).mid(1), InitialTexts().mid(1));
}

TEST_F(ApplyProgressDialogTest, EscapeAndCloseBoxCancelToo)
{
    {
        ApplyProgressDialog dialog(state);
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_TRUE(state.progress_window.isNull());
    }
    {
        ApplyProgressDialog dialog(state);
        dialog.show();
        EXPECT_TRUE(dialog.close());
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), 0);
        EXPECT_TRUE(state.progress_window.isNull());
    }
}

} // namespace
} // namespace vantoro::ui
