// The configuration sheet: its tabs and buttons, when pages are created and
// told about activation, and what OK, Cancel and the close box send.

#include "ui/config_sheet.h"

#include "link/camera_link.h"
#include "ui/apply_progress_dialog.h"
#include "ui/camera_names_page.h"
#include "ui/dns_config_page.h"
#include "ui/net_config_page.h"
#include "ui/qt_link_windows.h"
#include "ui/security_config_page.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/thread_handover.h"
#include "ui/ui_state.h"
#include "util/dotted_address.h"

#include "net_sheet_test_support.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <thread>

namespace vantoro::ui {
namespace {

using test::LoopbackCamera;
using test::ModalDriver;

constexpr MacAddress kMac{0x00, 0x0A, 0x0B, 0x00, 0x00, 0x01};
constexpr MacAddress kMacB{0x00, 0x0A, 0x0B, 0x00, 0x00, 0x02};

// A page that writes down what the sheet tells it.
class RecordingPage final : public SheetPage {
public:
    RecordingPage(QString name, QStringList& log, QWidget* parent) : SheetPage(parent), name_(std::move(name)), log_(log)
    {
        log_ << name_ + ":create";
    }
    void OnSetActive() override { log_ << name_ + ":set"; }
    void OnKillActive() override { log_ << name_ + ":kill"; }
    void OnApply() override { log_ << name_ + ":apply"; }

private:
    QString name_;
    QStringList& log_;
};

std::vector<PageInfo> RecordingPages(QStringList& log)
{
    std::vector<PageInfo> pages;
    for (const char* name : {"net", "dns", "security"}) {
        const QString n = QString::fromLatin1(name);
        pages.push_back({n, QSize(100, 80), [n, &log](QWidget* parent) -> SheetPage* {
                             return new RecordingPage(n, log, parent);
                         }});
    }
    return pages;
}

TEST(ConfigSheetNotifications, PagesAreCreatedWhenFirstShownAndToldInOrder)
{
    QStringList log;
    ConfigSheet sheet(RecordingPages(log));
    sheet.show();
    EXPECT_EQ(log, (QStringList{"net:create", "net:set"}));
    EXPECT_NE(sheet.page(0), nullptr);
    EXPECT_EQ(sheet.page(1), nullptr);
    EXPECT_EQ(sheet.page(2), nullptr);

    log.clear();
    sheet.tabs()->setCurrentIndex(2);
    EXPECT_EQ(log, (QStringList{"net:kill", "security:create", "security:set"}));
    EXPECT_EQ(sheet.page(1), nullptr);
    EXPECT_TRUE(sheet.page(2)->isVisible());

    log.clear();
    sheet.tabs()->setCurrentIndex(0);
    sheet.tabs()->setCurrentIndex(2);
    EXPECT_EQ(log, (QStringList{"security:kill", "net:set", "net:kill", "security:set"}));

    // OK: the active page is left, then every page that exists applies.
    log.clear();
    sheet.buttons()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(log, (QStringList{"security:kill", "net:apply", "security:apply"}));
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_FALSE(sheet.isVisible());
}

TEST(ConfigSheetNotifications, CancelAndCloseBoxTellNoPage)
{
    for (bool close_box : {false, true}) {
        QStringList log;
        ConfigSheet sheet(RecordingPages(log));
        sheet.show();
        sheet.tabs()->setCurrentIndex(1);
        log.clear();
        if (close_box)
            sheet.close();
        else
            sheet.buttons()->button(QDialogButtonBox::Cancel)->click();
        EXPECT_TRUE(log.isEmpty()) << log.join(',').toStdString();
        EXPECT_EQ(sheet.result(), QDialog::Rejected);
        EXPECT_FALSE(sheet.isVisible());
    }
}

class ConfigSheetTest : public ::testing::Test {
protected:
    ConfigSheetTest() : link(test::TestPorts(camera.port(), test::FreeLoopbackPort())), state(link), windows(state)
    {
        SetDottedAddressLog(nullptr);
        link.SetObserver(&windows);
    }
    ~ConfigSheetTest() override
    {
        link.SetObserver(nullptr);
        SetDottedAddressLog(stdout);
    }

    void Deliver(const Frame& reply) { ASSERT_TRUE(test::Core(link).receiver.HandleDatagram(reply.data(), reply.size())); }

    // WAN mode to the loopback camera, then a login to a camera with the
    // given records.
    CameraEntry* LoginToCamera(bool with_domain = true)
    {
        UseWan();
        Deliver(test::MakeGeneral(kMac));
        Deliver(test::MakeUsers(kMac, {{0, "admin", "admin"}, {1, "guest", "guest"}}));
        if (with_domain)
            Deliver(test::MakeReply(CMD_DOMAIN_REPLY, kMac));
        state.remembered_user = "admin";
        state.remembered_password = "admin";
        auto* list = Control<SortedListBox>(state.net_page, 1015);
        list->setCurrentRow(0);
        return test::CurrentEntry(state);
    }

    void UseWan()
    {
        Control<QAbstractButton>(state.net_page, 1023)->click();
        Control<QLineEdit>(state.net_page, 1024)->setText(QStringLiteral("127.0.0.1"));
    }

    QPushButton* SheetButton(QDialogButtonBox::StandardButton which) { return sheet->buttons()->button(which); }

    // True when the marker is the next datagram: nothing was sent before it.
    bool NothingSent()
    {
        camera.SendMarker();
        const auto got = camera.Receive();
        return got && LoopbackCamera::IsMarker(*got);
    }

    QApplication& app = test::App();
    LoopbackCamera camera;
    CameraLink link;
    UiState state;
    QtLinkWindows windows;
    std::unique_ptr<ConfigSheet> sheet = std::make_unique<ConfigSheet>(state);
};

TEST_F(ConfigSheetTest, ShowsFourTitledTabsWithNetConfigActive)
{
    sheet->show();
    EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Vantoro Config"));
    ASSERT_EQ(sheet->tabs()->count(), 4);
    EXPECT_EQ(sheet->tabs()->tabText(0), QStringLiteral("Net Config"));
    EXPECT_EQ(sheet->tabs()->tabText(1), QStringLiteral("DNS Config"));
    EXPECT_EQ(sheet->tabs()->tabText(2), QStringLiteral("Security Config"));
    EXPECT_EQ(sheet->tabs()->tabText(3), QStringLiteral("Camera Names"));
    EXPECT_EQ(sheet->tabs()->currentIndex(), 0);

    ASSERT_NE(SheetButton(QDialogButtonBox::Ok), nullptr);
    ASSERT_NE(SheetButton(QDialogButtonBox::Cancel), nullptr);
    ASSERT_NE(SheetButton(QDialogButtonBox::Apply), nullptr);
    EXPECT_TRUE(SheetButton(QDialogButtonBox::Ok)->isEnabled());
    EXPECT_TRUE(SheetButton(QDialogButtonBox::Cancel)->isEnabled());
    EXPECT_FALSE(SheetButton(QDialogButtonBox::Apply)->isEnabled());
}

TEST_F(ConfigSheetTest, PagesExistOnlyOnceTheirTabWasShown)
{
    sheet->show();
    ASSERT_NE(state.net_page, nullptr);
    EXPECT_EQ(sheet->page(0), state.net_page.data());
    EXPECT_EQ(state.dns_page, nullptr);
    EXPECT_EQ(state.security_page, nullptr);
    // The Net Config page's template has room before the others exist.
    EXPECT_GE(sheet->tabs()->widget(1)->minimumWidth(), 1);

    sheet->tabs()->setCurrentIndex(2);
    EXPECT_EQ(state.dns_page, nullptr);
    ASSERT_NE(state.security_page, nullptr);
    EXPECT_TRUE(sheet->tabs()->widget(2)->isAncestorOf(state.security_page));
    sheet->tabs()->setCurrentIndex(1);
    ASSERT_NE(state.dns_page, nullptr);
    EXPECT_TRUE(sheet->tabs()->widget(1)->isAncestorOf(state.dns_page));
    EXPECT_EQ(state.names_page, nullptr);
    sheet->tabs()->setCurrentIndex(3);
    ASSERT_NE(state.names_page, nullptr);
    EXPECT_TRUE(sheet->tabs()->widget(3)->isAncestorOf(state.names_page));
}

TEST_F(ConfigSheetTest, SheetTakesTheSizeOfItsLargestPageOnEveryTab)
{
    sheet->show();
    QSize largest;
    for (const DialogTemplate* t :
         {&NetConfigTemplate(), &DnsConfigTemplate(), &SecurityConfigTemplate(), &CameraNamesTemplate()})
        largest = largest.expandedTo(DialogUnitsToPixels(TemplateFont(*t), 0, 0, t->width, t->height).size());
    for (int tab : {3, 1, 2, 0}) {
        sheet->tabs()->setCurrentIndex(tab);
        const QSize page_area = sheet->tabs()->currentWidget()->size();
        EXPECT_GE(page_area.width(), largest.width()) << tab;
        EXPECT_GE(page_area.height(), largest.height()) << tab;
    }
}

TEST_F(ConfigSheetTest, SwitchingPagesBeforeLoginChangesNothing)
{
    sheet->show();
    UseWan();
    Deliver(test::MakeGeneral(kMac));
    CameraEntry* entry = test::Core(link).state.registry.FindCamera(kMac);
    const Frame before = *entry->general;
    Control<QLineEdit>(state.net_page, 1003)->setText(QStringLiteral("10.0.0.1"));
    for (int tab : {1, 2, 0, 2, 0})
        sheet->tabs()->setCurrentIndex(tab);
    EXPECT_EQ(*entry->general, before);
    EXPECT_FALSE(Control(state.net_page, 1003)->isEnabled());
    EXPECT_FALSE(Control(state.dns_page, 1045)->isEnabled());
    EXPECT_FALSE(Control(state.security_page, 1039)->isEnabled());
    EXPECT_TRUE(NothingSent());
}

TEST_F(ConfigSheetTest, LeavingNetConfigStoresFieldsAndComingBackShowsThemFormatted)
{
    sheet->show();
    CameraEntry* entry = LoginToCamera();
    ASSERT_NE(entry, nullptr);
    Control<QLineEdit>(state.net_page, 1000)->setText(QStringLiteral("255.255.0.0"));
    sheet->tabs()->setCurrentIndex(1);
    EXPECT_EQ(GeneralConfigReader(entry->general->data()).ethernet_mask(), 0xFFFF0000u);
    sheet->tabs()->setCurrentIndex(0);
    EXPECT_EQ(Control<QLineEdit>(state.net_page, 1000)->text(), QStringLiteral("255.255.  0.  0"));
}

TEST_F(ConfigSheetTest, OtherPagesFillFromTheCurrentCameraWhenShown)
{
    sheet->show();
    ASSERT_NE(LoginToCamera(), nullptr);
    sheet->tabs()->setCurrentIndex(2);
    auto* users = Control<SortedListBox>(state.security_page, 1039);
    EXPECT_TRUE(users->isEnabled());
    EXPECT_EQ(users->count(), 2);
}

TEST_F(ConfigSheetTest, CameraWithoutDomainTableLeavesDnsPageDisabledAndEmpty)
{
    sheet->show();
    ASSERT_NE(LoginToCamera(/*with_domain=*/false), nullptr);
    sheet->tabs()->setCurrentIndex(1);
    auto* domains = Control<SortedListBox>(state.dns_page, 1045);
    EXPECT_FALSE(domains->isEnabled());
    EXPECT_EQ(domains->count(), 0);
    EXPECT_FALSE(Control(state.dns_page, 1051)->isEnabled());
}

TEST_F(ConfigSheetTest, LaterLoginToACameraWithoutDomainTableClearsAndDisablesTheDnsPage)
{
    sheet->show();
    CameraEntry* a = LoginToCamera();
    ASSERT_NE(a, nullptr);
    // Enter in the camera list chooses the line again; it is not the sheet's OK
    // (which would open the progress dialog: the driver cancels it).
    ModalDriver driver;
    driver.OnOtherDialog([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
    QTest::keyClick(Control<SortedListBox>(state.net_page, 1015), Qt::Key_Return);
    ASSERT_TRUE(sheet->isVisible());
    ASSERT_EQ(test::CurrentEntry(state), a);
    sheet->tabs()->setCurrentIndex(1);
    auto* domains = Control<SortedListBox>(state.dns_page, 1045);
    ASSERT_TRUE(domains->isEnabled());
    ASSERT_GT(domains->count(), 0);

    // Camera B never sent its domain table; the same credentials log in.
    sheet->tabs()->setCurrentIndex(0);
    Deliver(test::MakeGeneral(kMacB));
    Deliver(test::MakeUsers(kMacB, {{0, "admin", "admin"}}));
    auto* cameras = Control<SortedListBox>(state.net_page, 1015);
    cameras->setCurrentItem(cameras->findItems(FormatMacLine(kMacB), Qt::MatchExactly).value(0));
    CameraEntry* b = test::CurrentEntry(state);
    ASSERT_NE(b, a);
    ASSERT_EQ(b, test::Core(link).state.registry.FindCamera(kMacB));
    sheet->tabs()->setCurrentIndex(1);

    EXPECT_EQ(domains->count(), 0);
    for (int id : {1045, 1047, 1049, 1051, 1056})
        EXPECT_FALSE(Control(state.dns_page, id)->isEnabled()) << id;
    const Frame a_domain = *a->domain;
    Control<QLineEdit>(state.dns_page, 1047)->setText(QStringLiteral("cam.example"));
    Control<QPushButton>(state.dns_page, 1051)->click();
    Control<QPushButton>(state.dns_page, 1056)->click();
    // Even reached past the disabled buttons, they touch no record.
    state.dns_page->AddDomain("cam.example", "10.0.0.53");
    state.dns_page->DeleteSelectedDomain();
    EXPECT_EQ(*a->domain, a_domain);
    EXPECT_EQ(b->domain, nullptr);
    EXPECT_EQ(domains->count(), 0);
}

// ---- Camera Names page --------------------------------------------------------

std::string NameSlot(const Frame& general, int slot)
{
    return GeneralConfigReader(general.data()).camera_name(slot);
}

TEST_F(ConfigSheetTest, CameraNamesPageShowsAndEditsTheCurrentCamerasNames)
{
    sheet->show();
    const auto name_edit = [&](int slot) { return Control<QLineEdit>(state.names_page, 1000 + slot); };

    // Before any login: nothing to show, nothing to edit.
    sheet->tabs()->setCurrentIndex(3);
    for (int slot = 0; slot < 4; ++slot) {
        EXPECT_FALSE(name_edit(slot)->isEnabled()) << slot;
        EXPECT_TRUE(name_edit(slot)->text().isEmpty()) << slot;
    }
    sheet->tabs()->setCurrentIndex(0);

    CameraEntry* entry = LoginToCamera();
    ASSERT_NE(entry, nullptr);
    {
        GeneralConfig g(entry->general->data());
        g.set_camera_name(0, "Entrance");
        g.set_camera_name(1, "Loading Bay");
        g.set_camera_name(2, "");
        // The fourth slot full to its end, without a terminator.
        std::fill_n(entry->general->data() + general_layout::camera_name + 3 * general_layout::camera_name_stride,
                    160, std::uint8_t('N'));
    }
    const Frame before = *entry->general;

    sheet->tabs()->setCurrentIndex(3);
    ASSERT_NE(state.names_page, nullptr);
    for (int slot = 0; slot < 4; ++slot)
        EXPECT_TRUE(name_edit(slot)->isEnabled()) << slot;
    EXPECT_EQ(name_edit(0)->text(), QStringLiteral("Entrance"));
    EXPECT_EQ(name_edit(1)->text(), QStringLiteral("Loading Bay"));
    EXPECT_TRUE(name_edit(2)->text().isEmpty());
    EXPECT_EQ(name_edit(3)->text(), QString(159, QChar('N')));
    // Showing the names changes no byte of the record.
    EXPECT_EQ(*entry->general, before);

    // Each change goes into its slot at once, one byte per character.
    QTest::keyClicks(name_edit(1), QStringLiteral(" 2"));
    EXPECT_EQ(NameSlot(*entry->general, 1), "Loading Bay 2");
    name_edit(2)->setText(QStringLiteral("Caf") + QChar(0xE9));
    EXPECT_EQ(NameSlot(*entry->general, 2), "Caf\xE9");
    // Within the slot's width: the fourth never reaches the firmware word.
    name_edit(0)->setText(QString(300, QChar('L')));
    name_edit(3)->setText(QString(300, QChar('F')));
    EXPECT_EQ(NameSlot(*entry->general, 0), std::string(163, 'L'));
    EXPECT_EQ(NameSlot(*entry->general, 3), std::string(159, 'F'));
    EXPECT_EQ(GeneralConfigReader(entry->general->data()).firmware_version(),
              GeneralConfigReader(before.data()).firmware_version());
    EXPECT_TRUE(std::equal(before.begin() + general_layout::firmware_version, before.end(),
                           entry->general->begin() + general_layout::firmware_version));

    // No collect step: leaving and coming back shows the record as edited.
    sheet->tabs()->setCurrentIndex(1);
    sheet->tabs()->setCurrentIndex(3);
    EXPECT_EQ(name_edit(1)->text(), QStringLiteral("Loading Bay 2"));
    EXPECT_EQ(name_edit(2)->text(), QStringLiteral("Caf") + QChar(0xE9));
}

TEST_F(ConfigSheetTest, CameraNamesPageOfACameraWithoutGeneralRecordIsClearedAndWritesNothing)
{
    sheet->show();
    CameraEntry* a = LoginToCamera();
    ASSERT_NE(a, nullptr);
    sheet->tabs()->setCurrentIndex(3);
    const auto name_edit = [&](int slot) { return Control<QLineEdit>(state.names_page, 1000 + slot); };
    name_edit(0)->setText(QStringLiteral("Lobby"));
    ASSERT_EQ(NameSlot(*a->general, 0), "Lobby");
    const Frame a_general = *a->general;

    // Camera B has answered with its user table only.
    sheet->tabs()->setCurrentIndex(0);
    Deliver(test::MakeUsers(kMacB, {{0, "admin", "admin"}}));
    auto* cameras = Control<SortedListBox>(state.net_page, 1015);
    cameras->setCurrentItem(cameras->findItems(FormatMacLine(kMacB), Qt::MatchExactly).value(0));
    CameraEntry* b = test::CurrentEntry(state);
    ASSERT_EQ(b, test::Core(link).state.registry.FindCamera(kMacB));
    ASSERT_NE(b, a);

    sheet->tabs()->setCurrentIndex(3);
    for (int slot = 0; slot < 4; ++slot) {
        EXPECT_FALSE(name_edit(slot)->isEnabled()) << slot;
        EXPECT_TRUE(name_edit(slot)->text().isEmpty()) << slot;
    }
    name_edit(0)->setText(QStringLiteral("Gate")); // even reached past the disabled edit
    EXPECT_EQ(*a->general, a_general);
    EXPECT_EQ(b->general, nullptr);

    // B's record comes while the page is shown: the page fills from it.
    Frame general_b = test::MakeGeneral(kMacB);
    GeneralConfig(general_b.data()).set_camera_name(1, "Yard");
    Deliver(general_b);
    ASSERT_TRUE(test::WaitUntil([&] { return name_edit(1)->isEnabled(); }));
    EXPECT_EQ(name_edit(1)->text(), QStringLiteral("Yard"));
    EXPECT_EQ(*b->general, general_b);
}

TEST_F(ConfigSheetTest, OkAfterLoginToACameraWhoseGeneralRecordCameLateSendsItAsItCame)
{
    sheet->show();
    CameraEntry* a = LoginToCamera();
    ASSERT_NE(a, nullptr);
    // Values typed for A, never collected.
    Control<QLineEdit>(state.net_page, 1003)->setText(QStringLiteral("10.20.30.40"));
    Control<QAbstractButton>(state.net_page, 1017)->click();

    Deliver(test::MakeUsers(kMacB, {{0, "admin", "admin"}}));
    Deliver(test::MakeReply(CMD_DOMAIN_REPLY, kMacB));
    auto* cameras = Control<SortedListBox>(state.net_page, 1015);
    cameras->setCurrentItem(cameras->findItems(FormatMacLine(kMacB), Qt::MatchExactly).value(0));
    CameraEntry* b = test::CurrentEntry(state);
    ASSERT_EQ(b, test::Core(link).state.registry.FindCamera(kMacB));
    EXPECT_TRUE(Control<QLineEdit>(state.net_page, 1003)->text().isEmpty());

    // B's general record comes just before OK, before the page could show it.
    Frame general_b = test::MakeGeneral(kMacB);
    GeneralConfig(general_b.data()).set_ethernet_ip(0x0A000063);
    Deliver(general_b);

    // The sequence runs up to the general record; then the dialog is cancelled.
    ModalDriver driver;
    std::vector<std::vector<std::uint8_t>> sent;
    driver.OnOtherDialog([&](QWidget* dialog) {
        for (std::uint32_t ack : {CMD_USER_SET_ACK, CMD_DOMAIN_SET_ACK, 0u}) {
            if (auto got = camera.Receive())
                sent.push_back(*got);
            if (ack != 0)
                Deliver(test::MakeReply(ack, kMacB));
        }
        Control<QPushButton>(dialog, 2)->click();
    });
    SheetButton(QDialogButtonBox::Ok)->click();

    ASSERT_EQ(sent.size(), 3u);
    Frame expected = general_b;
    SetFrameCommand(expected, CMD_SET_GENERAL);
    SetFrameReplyMode(expected, 0);
    EXPECT_EQ(LoadLe32(sent[0].data()), CMD_SET_USER);
    EXPECT_EQ(LoadLe32(sent[1].data()), CMD_SET_DOMAIN);
    EXPECT_EQ(test::FrameFromBytes(sent[2]), expected);
    EXPECT_EQ(*b->general, general_b);
}

TEST_F(ConfigSheetTest, AcknowledgementsBeforeTheProgressDialogExistsAreShownAndItClosesByItself)
{
    sheet->show();
    ASSERT_NE(LoginToCamera(), nullptr);
    // The receiver dispatches the first acknowledgement before OK is even
    // pressed; its message waits for the dialog, which then shows it.
    QString user_line;
    std::atomic<bool> dispatching{false};
    std::thread receiver([&] {
        dispatching = true;
        for (std::uint32_t ack : {CMD_USER_SET_ACK, CMD_DOMAIN_SET_ACK, CMD_GENERAL_SET_ACK}) {
            const Frame reply = test::MakeReply(ack, kMac);
            test::Core(link).receiver.HandleDatagram(reply.data(), reply.size());
            if (ack == CMD_USER_SET_ACK)
                user_line = CallOnThreadOf<QString>(&windows, [&] {
                    return state.progress_window ? Control<QLabel>(state.progress_window, 1052)->text() : QString();
                });
        }
    });
    while (!dispatching)
        std::this_thread::yield();
    bool gave_up = false; // rather than hang, should it never close itself
    QTimer::singleShot(30000, sheet.get(), [&] {
        gave_up = true;
        if (state.progress_window)
            state.progress_window->reject();
    });
    SheetButton(QDialogButtonBox::Ok)->click();
    receiver.join();

    EXPECT_FALSE(gave_up);
    EXPECT_EQ(user_line, QStringLiteral("Security Set Complete"));
    EXPECT_EQ(state.progress_window, nullptr);
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_FALSE(sheet->isVisible());
}

TEST_F(ConfigSheetTest, OkWithoutCurrentCameraSendsNothingAndCloses)
{
    sheet->show();
    UseWan();
    ModalDriver driver;
    SheetButton(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(driver.other_dialogs.empty());
    EXPECT_TRUE(NothingSent());
}

TEST_F(ConfigSheetTest, OkCollectsNetFieldsFromAnyPageSendsUserRecordThenFollowsProgress)
{
    sheet->show();
    CameraEntry* entry = LoginToCamera();
    ASSERT_NE(entry, nullptr);
    Control<QLineEdit>(state.net_page, 1003)->setText(QStringLiteral("10.20.30.40"));
    sheet->tabs()->setCurrentIndex(2); // OK from Security Config

    ModalDriver driver;
    std::optional<std::vector<std::uint8_t>> sent_before_dialog;
    driver.OnOtherDialog([&](QWidget* dialog) {
        // The first record is already on its way when the dialog shows.
        sent_before_dialog = camera.Receive(0);
        EXPECT_EQ(state.progress_window.data(), dialog);
        EXPECT_EQ(dialog->parentWidget(), state.net_page.data());
        Control<QPushButton>(dialog, 2)->click(); // the camera never answers here
    });
    SheetButton(QDialogButtonBox::Ok)->click();

    ASSERT_EQ(driver.other_dialogs.size(), 1u);
    EXPECT_EQ(driver.other_dialogs[0], QStringLiteral("vantoro::ui::ApplyProgressDialog"));
    ASSERT_TRUE(sent_before_dialog.has_value());
    Frame expected = *entry->user;
    SetFrameCommand(expected, CMD_SET_USER);
    SetFrameReplyMode(expected, 0);
    EXPECT_EQ(test::FrameFromBytes(*sent_before_dialog), expected);
    EXPECT_EQ(GeneralConfigReader(entry->general->data()).ethernet_ip(), 0x0A141E28u);
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(state.progress_window, nullptr);
    EXPECT_TRUE(NothingSent());
}

TEST_F(ConfigSheetTest, CancelAfterEditsSendsNothing)
{
    sheet->show();
    CameraEntry* entry = LoginToCamera();
    ASSERT_NE(entry, nullptr);
    const Frame general_before = *entry->general;
    Control<QLineEdit>(state.net_page, 1003)->setText(QStringLiteral("10.20.30.40"));
    sheet->tabs()->setCurrentIndex(2);
    Control<QLineEdit>(state.security_page, 1000)->setText(QStringLiteral("newuser"));
    Control<QLineEdit>(state.security_page, 1001)->setText(QStringLiteral("pw"));
    Control<QPushButton>(state.security_page, 1042)->click();
    const Frame general_collected = *entry->general; // Net Config was left: collected

    ModalDriver driver;
    SheetButton(QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
    EXPECT_TRUE(driver.other_dialogs.empty());
    EXPECT_TRUE(NothingSent());
    EXPECT_NE(general_collected, general_before);
    EXPECT_EQ(*entry->general, general_collected);
}

// ---- a new address another device holds ------------------------------------

// Answers for one address with one hardware address, as a printer would.
class OneLiveAddress final : public AddressProber {
public:
    OneLiveAddress(std::uint32_t address, MacAddress hardware) : address_(address), hardware_(hardware) {}
    int probes = 0;
    ProbeResult Probe(const std::vector<ProbeTarget>& targets) override
    {
        ++probes;
        ProbeResult r;
        for (const ProbeTarget& t : targets)
            if (t.address == address_)
                r.answers.push_back({t.interface, t.address, hardware_});
        return r;
    }

private:
    Ipv4Address address_;
    MacAddress hardware_;
};

// What the warning showed, and the button pressed on it; any later dialog
// (the progress dialog) is cancelled.
struct WarningSeen {
    QString title, text, default_button;
    QStringList buttons;
};

WarningSeen AnswerWarning(const QString& press, const std::function<void()>& click_ok)
{
    WarningSeen seen;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal); box && seen.title.isEmpty()) {
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.default_button = box->defaultButton() ? box->defaultButton()->text() : QString();
            for (QAbstractButton* b : box->buttons())
                seen.buttons << b->text();
            for (QAbstractButton* b : box->buttons())
                if (b->text() == press)
                    b->click();
        } else if (auto* dialog = qobject_cast<ApplyProgressDialog*>(modal)) {
            dialog->reject();
        }
    });
    timer.start();
    click_ok();
    return seen;
}

TEST_F(ConfigSheetTest, ANewAddressAnotherDeviceHoldsIsAskedAboutBeforeAnythingIsSent)
{
    constexpr MacAddress kPrinter{0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    struct Row {
        const char* what;
        const char* address; // typed into Ethernet IP
        bool lan; // LAN mode: the probe runs
        const char* press;
        const char* named; // in the warning's text; empty: no warning
        bool sent;
    } rows[] = {
        {"held by camera B, cancelled", "192.168.1.77", false, "Cancel", "00:0a:0b:00:00:02", false},
        {"held by camera B, applied anyway", "192.168.1.77", false, "Apply anyway", "00:0a:0b:00:00:02", true},
        {"live on the LAN, cancelled", "192.168.1.88", true, "Cancel", "02:11:22:33:44:55", false},
        {"live on the LAN, applied anyway", "192.168.1.88", true, "Apply anyway", "02:11:22:33:44:55", true},
        {"a free address", "192.168.1.99", true, "", "", true},
        {"the address it has", "192.168.1.10", true, "", "", true},
    };
    for (const Row& row : rows) {
        sheet = std::make_unique<ConfigSheet>(state);
        sheet->show();
        auto* prober = new OneLiveAddress(0xC0A80158, kPrinter); // 192.168.1.88
        state.prober.reset(prober);
        CameraEntry* entry = LoginToCamera();
        ASSERT_NE(entry, nullptr) << row.what;
        Frame b = test::MakeGeneral(kMacB);
        GeneralConfig(b.data()).set_ethernet_ip(0xC0A8014D); // 192.168.1.77
        Deliver(b);
        if (row.lan) {
            Control<QAbstractButton>(state.net_page, 1022)->click();
            entry->answer_interface = LoopbackInterfaceOnly().at(0).index;
        }
        Control<QLineEdit>(state.net_page, 1003)->setText(QString::fromLatin1(row.address));
        sheet->tabs()->setCurrentIndex(3);
        const WarningSeen seen =
            AnswerWarning(QString::fromLatin1(row.press), [&] { SheetButton(QDialogButtonBox::Ok)->click(); });

        if (*row.named) {
            EXPECT_EQ(seen.title, QStringLiteral("Address in use")) << row.what;
            EXPECT_TRUE(seen.text.contains(QString::fromLatin1(row.address))) << row.what << seen.text.toStdString();
            EXPECT_TRUE(seen.text.contains(QString::fromLatin1(row.named))) << row.what << seen.text.toStdString();
            EXPECT_EQ(seen.buttons, (QStringList{"Apply anyway", "Cancel"})) << row.what;
            EXPECT_EQ(seen.default_button, QStringLiteral("Cancel")) << row.what;
        } else {
            EXPECT_TRUE(seen.title.isEmpty()) << row.what << seen.text.toStdString();
        }
        EXPECT_EQ(prober->probes, row.lan && std::string(row.address) != "192.168.1.10" ? 1 : 0) << row.what;
        EXPECT_EQ(sheet->isVisible(), !row.sent) << row.what;
        if (row.sent) {
            ASSERT_TRUE(camera.Receive(2000).has_value()) << row.what << ": the user record";
            EXPECT_EQ(sheet->result(), QDialog::Accepted) << row.what;
        } else {
            EXPECT_EQ(Control<QLineEdit>(state.net_page, 1003)->text().remove(QLatin1Char(' ')),
                      QString::fromLatin1(row.address))
                << row.what;
        }
        EXPECT_TRUE(NothingSent()) << row.what;
    }
}

} // namespace
} // namespace vantoro::ui
