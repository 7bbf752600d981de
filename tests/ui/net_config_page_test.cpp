// The Net Config page on its own: addressing mode, camera list, login flows,
// fill and collect, search and reset. Replies are handed to the receiver's
// dispatch on this thread; transmissions go to a loopback socket.

#include "ui/net_config_page.h"

#include "link/camera_link.h"
#include "ui/apply_progress_dialog.h"
#include "ui/sorted_list_box.h"
#include "ui/ui_state.h"
#include "ui/window_messages.h"
#include "util/dotted_address.h"

#include "net_sheet_test_support.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <memory>

namespace vantoro::ui {
namespace {

using test::LoopbackCamera;
using test::MakeGeneral;
using test::MakeUsers;
using test::ModalDriver;
using test::UserRow;

constexpr MacAddress kMacA{0x00, 0x0A, 0x0B, 0x00, 0x00, 0x01};
constexpr MacAddress kMacB{0x00, 0x0A, 0x0B, 0x00, 0x00, 0x02};

// Windows of this thread, called directly: the replies are dispatched here too.
class DirectWindows final : public LinkObserver {
public:
    explicit DirectWindows(UiState& state) : state_(state) {}
    void CameraFound(const MacAddress& mac) override
    {
        if (state_.net_page)
            state_.net_page->HandleCameraFound(mac);
    }
    void StepAcknowledged(ApplyStep step, const Frame&) override
    {
        if (state_.progress_window)
            state_.progress_window->HandleMessage(DoneMessage(step));
    }
    std::string WanAddressText() override
    {
        return state_.net_page ? state_.net_page->WanAddressText().toStdString() : std::string();
    }

private:
    UiState& state_;
};

class NetConfigPageTest : public ::testing::Test {
protected:
    NetConfigPageTest()
        : link(test::TestPorts(camera.port(), test::FreeLoopbackPort())), state(link), windows(state)
    {
        SetDottedAddressLog(nullptr);
        link.SetObserver(&windows);
        page = std::make_unique<NetConfigPage>(state);
        page->show();
    }
    ~NetConfigPageTest() override
    {
        link.SetObserver(nullptr);
        SetDottedAddressLog(stdout);
    }

    void Deliver(const Frame& reply) { ASSERT_TRUE(test::Core(link).receiver.HandleDatagram(reply.data(), reply.size())); }

    // A camera that answered with a general record and the given user table.
    CameraEntry* AddCamera(const MacAddress& mac, const std::vector<UserRow>& users)
    {
        Deliver(MakeGeneral(mac));
        Deliver(MakeUsers(mac, users));
        return test::Core(link).state.registry.FindCamera(mac);
    }

    SortedListBox* List() const { return Control<SortedListBox>(page.get(), 1015); }
    QLineEdit* Edit(int id) const { return Control<QLineEdit>(page.get(), id); }
    QAbstractButton* Button(int id) const { return Control<QAbstractButton>(page.get(), id); }
    QStringList Lines() const
    {
        QStringList lines;
        for (int i = 0; i < List()->count(); ++i)
            lines << List()->Text(i);
        return lines;
    }

    // Selecting a line is what starts the login.
    void Select(const MacAddress& mac)
    {
        const auto items = List()->findItems(FormatMacLine(mac), Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1);
        List()->setCurrentItem(items.first());
    }

    void Remember(const std::string& name, const std::string& password)
    {
        state.remembered_user = name;
        state.remembered_password = password;
    }

    void UseWan()
    {
        Button(1023)->click();
        Edit(1024)->setText(QStringLiteral("127.0.0.1"));
    }

    QApplication& app = test::App();
    LoopbackCamera camera;
    CameraLink link;
    UiState state;
    DirectWindows windows;
    std::unique_ptr<NetConfigPage> page;
};

// ---- Addressing mode --------------------------------------------------------

TEST_F(NetConfigPageTest, StartsInLanModeWithWanAddressDisabled)
{
    EXPECT_EQ(state.net_page, page.get());
    EXPECT_FALSE(test::Core(link).state.wan_mode.load());
    EXPECT_TRUE(Button(1022)->isChecked());
    EXPECT_FALSE(Button(1023)->isChecked());
    EXPECT_FALSE(Edit(1024)->isEnabled());
    EXPECT_FALSE(Button(1059)->isEnabled());
    EXPECT_TRUE(Edit(1035)->text().isEmpty());
    // Address edits take text of any length.
    EXPECT_EQ(Edit(1024)->maxLength(), QLineEdit().maxLength());
    EXPECT_EQ(Edit(1003)->maxLength(), QLineEdit().maxLength());
}

TEST_F(NetConfigPageTest, WanAndLanSwitchModeAndWanAddressField)
{
    const auto check = [&](bool wan) {
        EXPECT_EQ(test::Core(link).state.wan_mode.load(), wan);
        EXPECT_EQ(Button(1023)->isChecked(), wan);
        EXPECT_EQ(Button(1022)->isChecked(), !wan);
        EXPECT_EQ(Edit(1024)->isEnabled(), wan);
    };
    Button(1023)->click();
    check(true);
    Button(1023)->click(); // clicking it again keeps it chosen
    check(true);
    Button(1022)->click();
    check(false);

    // The same after a login.
    AddCamera(kMacA, {{0, "admin", "admin"}});
    Remember("admin", "admin");
    Select(kMacA);
    ASSERT_EQ(test::CurrentEntry(state), test::Core(link).state.registry.FindCamera(kMacA));
    Button(1023)->click();
    check(true);
    Button(1022)->click();
    check(false);
}

// ---- Camera list -------------------------------------------------------------

TEST_F(NetConfigPageTest, CamerasAreListedInAscendingAddressOrderOnce)
{
    const MacAddress first{0x00, 0x0A, 0x00, 0x00, 0x00, 0x01};
    const MacAddress second{0x00, 0x02, 0x00, 0x00, 0x00, 0xFF};
    const MacAddress third{0x00, 0x02, 0x00, 0x00, 0x00, 0x10};
    for (const MacAddress& mac : {first, second, third})
        Deliver(MakeGeneral(mac));
    const QStringList expected{QStringLiteral("00 02 00 00 00 10"), QStringLiteral("00 02 00 00 00 FF"),
                               QStringLiteral("00 0A 00 00 00 01")};
    EXPECT_EQ(Lines(), expected);

    // A second search with the same cameras answering adds nothing.
    for (const MacAddress& mac : {third, first, second}) {
        Deliver(MakeUsers(mac, {{0, "admin", "admin"}}));
        Deliver(MakeGeneral(mac));
    }
    EXPECT_EQ(Lines(), expected);
    EXPECT_EQ(List()->CurSel(), -1);
}

TEST_F(NetConfigPageTest, MacLinesScanBackToTheirBytes)
{
    const MacAddress mac{0xDE, 0xAD, 0x00, 0x0F, 0xA0, 0x7B};
    EXPECT_EQ(FormatMacLine(mac), QStringLiteral("DE AD 00 0F A0 7B"));
    EXPECT_EQ(ScanMacLine(FormatMacLine(mac)), mac);
    // A text that is no whole mac names no camera.
    EXPECT_EQ(ScanMacLine(QStringLiteral("12 34")), MacAddress{});
}

// ---- Login -------------------------------------------------------------------

TEST_F(NetConfigPageTest, FirstLoginPromptsOnceAndSucceeds)
{
    CameraEntry* a = AddCamera(kMacA, {{0, "admin", "admin"}});
    ModalDriver driver;
    driver.QueueLogin("admin", "admin");
    Select(kMacA);

    EXPECT_EQ(driver.login_prompts, 1);
    EXPECT_TRUE(driver.notices.empty());
    EXPECT_EQ(test::CurrentEntry(state), a);
    EXPECT_EQ(state.remembered_user, "admin");
    EXPECT_TRUE(Button(1059)->isEnabled());
    EXPECT_EQ(Edit(1035)->text(), QStringLiteral("1.05"));
    EXPECT_EQ(Edit(1003)->text(), QStringLiteral("192.168.  1. 10"));
    // Login leaves the camera's general record in the frame image, and its
    // sequence the one acknowledgements drive.
    EXPECT_EQ(test::Core(link).state.frame_image.bytes, *a->general);
    EXPECT_EQ(test::Core(link).state.sequence_camera.load(), a);
}

TEST_F(NetConfigPageTest, FirstLoginWithWrongCredentialsFailsWithoutSecondPrompt)
{
    AddCamera(kMacA, {{0, "admin", "admin"}});
    ModalDriver driver;
    driver.QueueLogin("admin", "nope");
    Select(kMacA);

    EXPECT_EQ(driver.login_prompts, 1);
    ASSERT_EQ(driver.notices.size(), 1u);
    EXPECT_EQ(driver.notices[0].text, QStringLiteral("Login fail"));
    EXPECT_EQ(driver.notices[0].caption, QStringLiteral("Warning"));
    EXPECT_TRUE(driver.notices[0].ok_only);
    EXPECT_FALSE(driver.notices[0].has_owner);
    EXPECT_EQ(test::CurrentEntry(state), nullptr);
    EXPECT_FALSE(Button(1059)->isEnabled());
    EXPECT_FALSE(Edit(1003)->isEnabled());
    EXPECT_TRUE(Edit(1035)->text().isEmpty());
}

TEST_F(NetConfigPageTest, RememberedCredentialsThatMatchNeedNoPrompt)
{
    CameraEntry* a = AddCamera(kMacA, {{0, "admin", "admin"}});
    Remember("admin", "admin");
    ModalDriver driver;
    Select(kMacA);
    EXPECT_EQ(driver.login_prompts, 0);
    EXPECT_TRUE(driver.notices.empty());
    EXPECT_EQ(test::CurrentEntry(state), a);
}

TEST_F(NetConfigPageTest, RejectedRememberedCredentialsGetOneFreshPrompt)
{
    CameraEntry* a = AddCamera(kMacA, {{0, "admin", "secret"}});
    Remember("admin", "admin");
    ModalDriver driver;
    driver.QueueLogin("admin", "secret");
    Select(kMacA);
    EXPECT_EQ(driver.login_prompts, 1);
    EXPECT_TRUE(driver.notices.empty());
    EXPECT_EQ(test::CurrentEntry(state), a);
    EXPECT_EQ(state.remembered_password, "secret");
}

TEST_F(NetConfigPageTest, RejectedTwiceShowsLoginFailAndKeepsTheNewCredentials)
{
    AddCamera(kMacA, {{0, "admin", "secret"}});
    Remember("admin", "admin");
    ModalDriver driver;
    driver.QueueLogin("guest", "guest");
    driver.QueueLogin("never", "asked");
    Select(kMacA);
    EXPECT_EQ(driver.login_prompts, 1);
    ASSERT_EQ(driver.notices.size(), 1u);
    EXPECT_EQ(driver.notices[0].text, QStringLiteral("Login fail"));
    EXPECT_EQ(test::CurrentEntry(state), nullptr);
    EXPECT_EQ(state.remembered_user, "guest");
}

TEST_F(NetConfigPageTest, ChoosingTheSelectedLineAgainRunsTheLoginAgain)
{
    CameraEntry* a = AddCamera(kMacA, {{0, "admin", "secret"}});
    ModalDriver driver;
    driver.QueueLogin("admin", "wrong");
    Select(kMacA);
    ASSERT_EQ(driver.notices.size(), 1u); // "Login fail"; the line stays selected

    // A click on it: the remembered credentials first, then one prompt.
    driver.QueueLogin("admin", "secret");
    const QPoint line = List()->visualItemRect(List()->item(List()->CurSel())).center();
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, Qt::NoModifier, line);
    EXPECT_EQ(driver.login_prompts, 2);
    EXPECT_EQ(driver.notices.size(), 1u);
    EXPECT_EQ(test::CurrentEntry(state), a);

    // Space and Enter too; each finds a changed password and prompts once.
    int prompts = driver.login_prompts;
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        const std::string password = "pw" + std::to_string(int(key));
        Deliver(MakeUsers(kMacA, {{0, "admin", password}}));
        driver.QueueLogin("admin", password);
        QTest::keyClick(List(), key);
        EXPECT_EQ(driver.login_prompts, ++prompts) << key;
        EXPECT_EQ(state.remembered_password, password);
    }
    EXPECT_EQ(driver.notices.size(), 1u);

    // A line inserted above the selected one is still no choice.
    Deliver(MakeUsers({0x00, 0x01, 0, 0, 0, 0}, {{0, "admin", "x"}}));
    ASSERT_EQ(List()->Text(0), QStringLiteral("00 01 00 00 00 00"));
    EXPECT_EQ(driver.login_prompts, prompts);
    EXPECT_EQ(test::CurrentEntry(state), a);
}

TEST_F(NetConfigPageTest, SecondRowWithTheSameNameCanMatch)
{
    CameraEntry* a = AddCamera(kMacA, {{0, "admin", "one"}, {1, "admin", "two"}});
    Remember("admin", "two");
    ModalDriver driver;
    Select(kMacA);
    EXPECT_EQ(driver.login_prompts, 0);
    EXPECT_EQ(test::CurrentEntry(state), a);
}

TEST_F(NetConfigPageTest, NamesAndPasswordsMatchWithoutRegardToCase)
{
    CameraEntry* a = AddCamera(kMacA, {{0, "Admin", "PassWord"}});
    Remember("aDMIN", "password");
    ModalDriver driver;
    Select(kMacA);
    EXPECT_EQ(driver.login_prompts, 0);
    EXPECT_EQ(test::CurrentEntry(state), a);
}

TEST_F(NetConfigPageTest, RowBehindAFreeRowIsNeverMatched)
{
    AddCamera(kMacA, {{0, "admin", "admin"}, {2, "guest", "guest"}});
    Remember("guest", "guest");
    ModalDriver driver;
    driver.QueueLogin("guest", "guest");
    Select(kMacA);
    EXPECT_EQ(driver.login_prompts, 1);
    ASSERT_EQ(driver.notices.size(), 1u);
    EXPECT_EQ(driver.notices[0].text, QStringLiteral("Login fail"));
    EXPECT_EQ(test::CurrentEntry(state), nullptr);
}

TEST_F(NetConfigPageTest, CameraWithoutUserTableRefusesLogin)
{
    Deliver(MakeGeneral(kMacA));
    Remember("admin", "admin");
    ModalDriver driver;
    driver.QueueLogin("admin", "admin");
    Select(kMacA);
    EXPECT_EQ(driver.login_prompts, 1);
    ASSERT_EQ(driver.notices.size(), 1u);
    EXPECT_EQ(driver.notices[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(test::CurrentEntry(state), nullptr);
}

TEST_F(NetConfigPageTest, FailedLoginOnAnotherCameraKeepsTheCurrentOne)
{
    CameraEntry* a = AddCamera(kMacA, {{0, "admin", "admin"}});
    Frame general_b = MakeGeneral(kMacB);
    GeneralConfig(general_b.data()).set_ethernet_ip(0x0A000063);
    StoreLe32(general_b.data() + general_layout::firmware_version, 0x00090001);
    Deliver(general_b);
    Deliver(MakeUsers(kMacB, {{0, "root", "root"}}));

    Remember("admin", "admin");
    ModalDriver driver;
    Select(kMacA);
    ASSERT_EQ(test::CurrentEntry(state), a);
    const QString ip_a = Edit(1003)->text();

    driver.QueueLogin("admin", "wrong");
    Select(kMacB);
    EXPECT_EQ(driver.login_prompts, 1);
    EXPECT_EQ(driver.notices.size(), 1u);
    EXPECT_EQ(test::CurrentEntry(state), a);
    EXPECT_EQ(test::Core(link).state.sequence_camera.load(), a);
    EXPECT_EQ(Edit(1003)->text(), ip_a);
    EXPECT_EQ(Edit(1035)->text(), QStringLiteral("1.05"));
    for (int id : {1000, 1003, 1004, 1005, 1006, 1015, 1017, 1018, 1019, 1020, 1021, 1022, 1023, 1026, 1028, 1030,
                   1059})
        EXPECT_TRUE(Control(page.get(), id)->isEnabled()) << id;
}

// The network fields and switches, which show nothing of a camera without
// its general record.
constexpr int kNetFields[] = {1000, 1003, 1004, 1005, 1006, 1026, 1028, 1030};
constexpr int kSwitches[] = {1017, 1018, 1019, 1020};

TEST_F(NetConfigPageTest, LoginWithoutGeneralRecordClearsTheFieldsUntilItComesThenFillsThemOnce)
{
    CameraEntry* a = AddCamera(kMacA, {{0, "admin", "admin"}});
    const Frame users_b = MakeUsers(kMacB, {{0, "admin", "admin"}});
    Deliver(users_b);
    Remember("admin", "admin");
    ModalDriver driver;
    Select(kMacA);
    ASSERT_EQ(Edit(1035)->text(), QStringLiteral("1.05"));
    ASSERT_EQ(test::Core(link).state.frame_image.bytes, *a->general);
    Edit(1003)->setText(QStringLiteral("10.20.30.40")); // typed for A

    Select(kMacB);
    CameraEntry* b = test::Core(link).state.registry.FindCamera(kMacB);
    ASSERT_EQ(test::CurrentEntry(state), b);
    ASSERT_NE(b, a);
    EXPECT_TRUE(Edit(1035)->text().isEmpty());
    // The preferred record of a camera without a general record is its user table.
    EXPECT_EQ(test::Core(link).state.frame_image.bytes, users_b);
    for (int id : kNetFields) {
        EXPECT_TRUE(Edit(id)->text().isEmpty()) << id;
        EXPECT_FALSE(Edit(id)->isEnabled()) << id;
    }
    for (int id : kSwitches) {
        EXPECT_FALSE(Button(id)->isChecked()) << id;
        EXPECT_FALSE(Button(id)->isEnabled()) << id;
    }
    for (int id : {1015, 1021, 1022, 1023, 1059})
        EXPECT_TRUE(Control(page.get(), id)->isEnabled()) << id;
    // Coming back to the page shows nothing either.
    page->OnSetActive();
    EXPECT_TRUE(Edit(1003)->text().isEmpty());

    // B's record comes: collected before the page shows it, it stays as it came.
    Frame general_b = MakeGeneral(kMacB);
    GeneralConfig(general_b.data()).set_ethernet_ip(0x0A000063);
    GeneralConfig(general_b.data()).set_server_on(true);
    StoreLe32(general_b.data() + general_layout::firmware_version, 0x00090001);
    Deliver(general_b);
    ASSERT_EQ(test::CurrentEntry(state), b);
    page->Collect();
    EXPECT_EQ(*b->general, general_b);

    // Then the page fills from it, the version too.
    ASSERT_TRUE(test::WaitUntil([&] { return Edit(1003)->isEnabled(); }));
    EXPECT_EQ(Edit(1003)->text(), QStringLiteral(" 10.  0.  0. 99"));
    EXPECT_EQ(Edit(1035)->text(), QStringLiteral("9.01"));
    EXPECT_TRUE(Button(1017)->isChecked());
    EXPECT_TRUE(Button(1019)->isChecked());
    for (int id : kNetFields)
        EXPECT_TRUE(Edit(id)->isEnabled()) << id;
    for (int id : kSwitches)
        EXPECT_TRUE(Button(id)->isEnabled()) << id;
    EXPECT_EQ(test::Core(link).state.frame_image.bytes, general_b);

    // Once only: a later answer of B leaves what the page shows, typing included.
    Edit(1004)->setText(QStringLiteral("10.0.0.1"));
    Frame again_b = general_b;
    GeneralConfig(again_b.data()).set_ethernet_ip(0x0A0000C8);
    StoreLe32(again_b.data() + general_layout::firmware_version, 0x00090002);
    Deliver(again_b);
    QTest::qWait(200);
    EXPECT_EQ(Edit(1003)->text(), QStringLiteral(" 10.  0.  0. 99"));
    EXPECT_EQ(Edit(1004)->text(), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(Edit(1035)->text(), QStringLiteral("9.01"));

    // Nothing typed for A reaches B.
    ASSERT_EQ(test::CurrentEntry(state), b);
    page->Collect();
    EXPECT_EQ(GeneralConfigReader(b->general->data()).ethernet_ip(), 0x0A000063u);
    EXPECT_EQ(GeneralConfigReader(b->general->data()).gateway(), 0x0A000001u);
}

TEST_F(NetConfigPageTest, GeneralRecordOfACameraNoLongerCurrentFillsNothing)
{
    CameraEntry* a = AddCamera(kMacA, {{0, "admin", "admin"}});
    Deliver(MakeUsers(kMacB, {{0, "admin", "admin"}}));
    Remember("admin", "admin");
    ModalDriver driver;
    Select(kMacB);
    ASSERT_FALSE(Edit(1003)->isEnabled());
    Select(kMacA);
    ASSERT_EQ(test::CurrentEntry(state), a);
    ASSERT_EQ(Edit(1003)->text(), QStringLiteral("192.168.  1. 10"));

    Frame general_b = MakeGeneral(kMacB);
    GeneralConfig(general_b.data()).set_ethernet_ip(0x0A000063);
    StoreLe32(general_b.data() + general_layout::firmware_version, 0x00090001);
    Deliver(general_b);
    QTest::qWait(200);
    EXPECT_EQ(Edit(1003)->text(), QStringLiteral("192.168.  1. 10"));
    EXPECT_EQ(Edit(1035)->text(), QStringLiteral("1.05"));
}

TEST_F(NetConfigPageTest, FirstLoginWithoutGeneralRecordLeavesTheRecordThatComesAsItCame)
{
    Deliver(MakeUsers(kMacA, {{0, "admin", "admin"}}));
    Remember("admin", "admin");
    ModalDriver driver;
    Select(kMacA);
    CameraEntry* a = test::CurrentEntry(state);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(Button(1059)->isEnabled());
    EXPECT_FALSE(Edit(1003)->isEnabled());
    EXPECT_TRUE(Edit(1003)->text().isEmpty());

    // The general record comes after the login. Leaving the page and the
    // apply's collect leave it as it came, before and after the page shows it.
    const Frame general = MakeGeneral(kMacA);
    Deliver(general);
    page->OnKillActive();
    ASSERT_EQ(test::CurrentEntry(state), a);
    page->Collect();
    EXPECT_EQ(*a->general, general);
    ASSERT_TRUE(test::WaitUntil([&] { return Edit(1003)->isEnabled(); }));
    EXPECT_EQ(Edit(1035)->text(), QStringLiteral("1.05"));
    page->OnKillActive();
    EXPECT_EQ(*a->general, general);
}

class VersionTextTest : public NetConfigPageTest, public ::testing::WithParamInterface<std::pair<std::uint32_t, const char*>> {};

TEST_P(VersionTextTest, ShowsMajorDotTwoDigitMinor)
{
    Frame general = MakeGeneral(kMacA);
    StoreLe32(general.data() + general_layout::firmware_version, GetParam().first);
    Deliver(general);
    Deliver(MakeUsers(kMacA, {{0, "admin", "admin"}}));
    Remember("admin", "admin");
    ModalDriver driver;
    Select(kMacA);
    EXPECT_EQ(Edit(1035)->text(), QString::fromLatin1(GetParam().second));
}

INSTANTIATE_TEST_SUITE_P(Words, VersionTextTest,
                         ::testing::Values(std::pair<std::uint32_t, const char*>{0x00010005, "1.05"},
                                           std::pair<std::uint32_t, const char*>{0x0002000A, "2.10"},
                                           std::pair<std::uint32_t, const char*>{0x0003007B, "3.123"}));

// ---- Fill and collect ------------------------------------------------------------

class FillCollectTest : public NetConfigPageTest {
protected:
    // Logs in to a camera whose general record is `general`.
    CameraEntry* LoginTo(const Frame& general)
    {
        Deliver(general);
        Deliver(MakeUsers(FrameMac(general), {{0, "admin", "admin"}}));
        Remember("admin", "admin");
        ModalDriver driver;
        Select(FrameMac(general));
        return test::CurrentEntry(state);
    }
    void Collect() { page->Collect(); }
};

TEST_F(FillCollectTest, UntouchedFieldsGoBackUnchangedAndClientAddressTwice)
{
    Frame general = MakeGeneral(kMacA);
    StoreLe32(general.data() + general_layout::ppp_client_ip_copy, 0x01020304);
    CameraEntry* a = LoginTo(general);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(test::Core(link).state.frame_image.bytes, general);

    Collect();
    Frame expected = general;
    GeneralConfig(expected.data()).set_ppp_client_ip(GeneralConfigReader(general.data()).ppp_client_ip());
    EXPECT_EQ(*a->general, expected);

    // Leaving and coming back shows the same again.
    const QString ip = Edit(1003)->text();
    page->OnKillActive();
    page->OnSetActive();
    EXPECT_EQ(Edit(1003)->text(), ip);
    EXPECT_EQ(*a->general, expected);
}

TEST_F(FillCollectTest, SwitchWordsShowAndStoreZeroOrOne)
{
    Frame general = MakeGeneral(kMacA);
    StoreLe32(general.data() + general_layout::server_on, 7);
    StoreLe32(general.data() + general_layout::bootp_on, 0);
    CameraEntry* a = LoginTo(general);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(Button(1017)->isChecked());
    EXPECT_FALSE(Button(1018)->isChecked());
    EXPECT_FALSE(Button(1019)->isChecked());
    EXPECT_TRUE(Button(1020)->isChecked());

    Collect();
    EXPECT_EQ(LoadLe32(a->general->data() + general_layout::server_on), 1u);
    EXPECT_EQ(LoadLe32(a->general->data() + general_layout::bootp_on), 0u);

    // The page checks the pair itself: ON and OFF swap on a click.
    Button(1018)->click();
    EXPECT_TRUE(Button(1018)->isChecked());
    EXPECT_FALSE(Button(1017)->isChecked());
    Button(1019)->click();
    EXPECT_TRUE(Button(1019)->isChecked());
    EXPECT_FALSE(Button(1020)->isChecked());
    Button(1019)->click(); // a click on the checked one keeps it checked
    EXPECT_TRUE(Button(1019)->isChecked());
    Collect();
    EXPECT_EQ(LoadLe32(a->general->data() + general_layout::server_on), 0u);
    EXPECT_EQ(LoadLe32(a->general->data() + general_layout::bootp_on), 1u);
}

TEST_F(FillCollectTest, TypedAddressesAreParsedIntoTheirFields)
{
    const Frame general = MakeGeneral(kMacA);
    CameraEntry* a = LoginTo(general);
    ASSERT_NE(a, nullptr);
    Edit(1003)->setText(QStringLiteral("10.1.2.3"));
    Edit(1030)->setText(QStringLiteral("172.16.0.9"));
    Edit(1004)->setText(QStringLiteral("not an address"));
    // 19 characters, though 31 bytes in UTF-8: the 30-character limit counts characters.
    Edit(1000)->setText(QStringLiteral("1.2.3.4") + QString(12, QChar(0xE9)));
    Edit(1024)->setText(QStringLiteral("1.2.3.4")); // never read into the record
    Collect();

    Frame expected = general;
    GeneralConfig g(expected.data());
    g.set_ethernet_ip(0x0A010203);
    g.set_ppp_client_ip(0xAC100009);
    g.set_gateway(ParseDottedAddress("not an address"));
    g.set_ethernet_mask(0x01020304);
    EXPECT_EQ(*a->general, expected);

    // Coming back to the page shows the stored words in their dotted form.
    page->OnSetActive();
    EXPECT_EQ(Edit(1003)->text(), QStringLiteral(" 10.  1.  2.  3"));
    EXPECT_EQ(Edit(1030)->text(), QStringLiteral("172. 16.  0.  9"));
}

TEST_F(FillCollectTest, CollectWithoutCurrentCameraChangesNothing)
{
    Deliver(MakeGeneral(kMacA));
    CameraEntry* a = test::Core(link).state.registry.FindCamera(kMacA);
    const Frame before = *a->general;
    Edit(1003)->setText(QStringLiteral("10.1.2.3"));
    Collect();
    ASSERT_EQ(test::CurrentEntry(state), nullptr);
    page->Refresh();
    EXPECT_EQ(*a->general, before);
    EXPECT_EQ(Edit(1003)->text(), QStringLiteral("10.1.2.3"));
    EXPECT_FALSE(Edit(1003)->isEnabled());
}

// ---- Search and reset on loopback -----------------------------------------------------

TEST_F(NetConfigPageTest, AutoDetectInWanModeSendsTheBurstToTheTypedAddress)
{
    UseWan();
    Edit(1024)->setText(QStringLiteral("127.0.0.2")); // nobody listens there
    Button(1021)->click();
    Edit(1024)->setText(QStringLiteral("127.0.0.1"));
    Button(1021)->click();
    camera.SendMarker();

    for (std::uint32_t command : {CMD_GET_GENERAL, CMD_GET_USER, CMD_GET_DOMAIN}) {
        const auto got = camera.Receive();
        ASSERT_TRUE(got.has_value());
        ASSERT_EQ(got->size(), kFrameSize);
        EXPECT_EQ(LoadLe32(got->data()), command);
        EXPECT_EQ(LoadLe32(got->data() + kReplyModeOffset), 0u);
    }
    const auto last = camera.Receive();
    ASSERT_TRUE(last.has_value());
    EXPECT_TRUE(LoopbackCamera::IsMarker(*last)) << "only the second burst reaches 127.0.0.1";
}

TEST_F(NetConfigPageTest, ResetSendsTheCurrentCamerasGeneralRecordAndNamesIt)
{
    CameraEntry* a = AddCamera(kMacA, {{0, "admin", "admin"}});
    AddCamera(kMacB, {{0, "root", "root"}});
    UseWan();
    Remember("admin", "admin");
    ModalDriver driver;
    Select(kMacA);
    ASSERT_EQ(test::CurrentEntry(state), a);
    driver.QueueLogin("x", "y");
    Select(kMacB); // fails: A stays current while B's line is selected
    ASSERT_EQ(driver.notices.size(), 1u);

    Button(1059)->click();
    const auto got = camera.Receive();
    ASSERT_TRUE(got.has_value());
    Frame expected = *a->general;
    SetFrameCommand(expected, CMD_RESET);
    SetFrameReplyMode(expected, 0);
    EXPECT_EQ(test::FrameFromBytes(*got), expected);
    EXPECT_EQ(got->size(), kFrameSize);

    ASSERT_EQ(driver.notices.size(), 2u);
    EXPECT_EQ(driver.notices[1].text, QStringLiteral("WEBCAMERA [00 0A 0B 00 00 01] Reseting..."));
    EXPECT_EQ(driver.notices[1].caption, QStringLiteral("WEBCAMERA CONFIG MESSAGE"));
    EXPECT_TRUE(driver.notices[1].ok_only);
    EXPECT_FALSE(driver.notices[1].has_owner);
}

TEST_F(NetConfigPageTest, ResetWithoutGeneralRecordSendsNothingButStillTells)
{
    Deliver(MakeUsers(kMacA, {{0, "admin", "admin"}}));
    UseWan();
    Remember("admin", "admin");
    ModalDriver driver;
    Select(kMacA);
    ASSERT_NE(test::CurrentEntry(state), nullptr);

    Button(1059)->click();
    camera.SendMarker();
    const auto got = camera.Receive();
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(LoopbackCamera::IsMarker(*got));
    ASSERT_EQ(driver.notices.size(), 1u);
    EXPECT_EQ(driver.notices[0].text, QStringLiteral("WEBCAMERA [00 0A 0B 00 00 01] Reseting..."));
}

} // namespace
} // namespace vantoro::ui
