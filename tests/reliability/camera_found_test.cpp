// A camera found while a line of the camera list is selected: its line goes in
// sorted order, above or below the selected one, and that is all. The
// selection stays on the same camera and no login runs, so nothing the user
// has typed on the Net Config page is refilled from the record.

#include "reliability_support.h"

#include "ui/qt_printers.h"

#include <gtest/gtest.h>

namespace vantoro::reliability {
namespace {

using ui::Control;

TEST(CameraFoundWhileALineIsSelected, AddingALineAboveOrBelowTheSelectedOneIsNoSelectionChange)
{
    ui::SortedListBox list;
    list.AddString(QStringLiteral("00 0A 00 00 00 01"));
    list.AddString(QStringLiteral("00 0B 00 00 00 01"));
    list.setCurrentRow(1);
    int changes = 0;
    QObject::connect(&list, &ui::SortedListBox::SelectionChanged, [&] { ++changes; });

    EXPECT_EQ(list.AddString(QStringLiteral("00 01 00 00 00 01")), 0);
    EXPECT_EQ(list.AddString(QStringLiteral("00 0C 00 00 00 01")), 3);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(list.CurSel(), 2);
    EXPECT_EQ(list.Text(2), QStringLiteral("00 0B 00 00 00 01"));

    // A change of the selection is still reported.
    list.setCurrentRow(0);
    EXPECT_EQ(changes, 1);
}

TEST(CameraFoundWhileALineIsSelected, ANewCameraSortingFirstStartsNoLoginAndKeepsTheTypedFields)
{
    SheetRig rig(LoopbackSim(1));
    ASSERT_TRUE(rig.Ready()) << rig.Why();
    rig.OpenSheet();
    ASSERT_TRUE(rig.SearchAndWaitForAll());
    ASSERT_TRUE(rig.LogIn(0));
    const std::optional<MacAddress> logged_in = rig.state.current_camera();
    const QString line = rig.cameras()->Text(0);

    // Typed, not yet collected.
    auto* ethernet_ip = Control<QLineEdit>(rig.net(), ids::kEthernetIp);
    ethernet_ip->setText(QStringLiteral("10.9.8.7"));

    int windows = 0;
    ModalScript script([&](QWidget* w) {
        ++windows;
        if (auto* login = qobject_cast<ui::LoginDialog*>(w))
            TypeLogin(login, QStringLiteral("admin"), QStringLiteral("admin"));
        else if (auto* box = qobject_cast<QMessageBox*>(w))
            PressOk(box);
    });
    const MacAddress early{0x00, 0x01, 0x00, 0x00, 0x00, 0x07};
    rig.Inject(test::MakeReply(CMD_GENERAL_REPLY, early));
    ASSERT_TRUE(WaitUntil([&] { return rig.cameras()->count() == 2 && rig.Quiet(); }));

    EXPECT_EQ(rig.cameras()->Text(0), ui::FormatMacLine(early));
    EXPECT_EQ(rig.cameras()->CurSel(), 1);
    EXPECT_EQ(rig.cameras()->Text(1), line);
    EXPECT_EQ(windows, 0);
    EXPECT_EQ(rig.state.current_camera(), logged_in);
    EXPECT_EQ(ethernet_ip->text(), QStringLiteral("10.9.8.7")) << "the page was refilled by a login nobody asked for";
}

} // namespace
} // namespace vantoro::reliability
