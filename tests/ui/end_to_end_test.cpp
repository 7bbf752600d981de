// The whole tool against simulated cameras on loopback: the real sheet, the
// real link with its receiver thread, and the camera simulator in-process.
// Search, log in, edit all four pages, OK, and compare the cameras' stored
// records byte for byte with what the edits should have made of them.

#include "link/camera_link.h"
#include "ui/apply_progress_dialog.h"
#include "ui/camera_names_page.h"
#include "ui/config_sheet.h"
#include "ui/dns_config_page.h"
#include "ui/net_config_page.h"
#include "ui/qt_link_windows.h"
#include "ui/security_config_page.h"
#include "ui/sorted_list_box.h"
#include "ui/ui_state.h"
#include "util/dotted_address.h"
#include "tools/camera_sim/camera_simulator.h"

#include "net_sheet_test_support.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace vantoro::ui {
namespace {

// The journal of changes this test process writes (its own XDG_STATE_HOME).
std::string JournalText()
{
    std::ifstream in(std::string(std::getenv("XDG_STATE_HOME")) + "/vantoro/changes.jsonl");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

using test::ModalDriver;
using test::WaitUntil;

constexpr int kCameras = 2;

sim::SimOptions SimulatorOptions(std::uint16_t tool_port)
{
    sim::SimOptions options;
    options.cameras = kCameras;
    options.bind_address = test::Loopback();
    options.port = 0; // the system picks; the link is pointed at it
    options.reply_port = tool_port;
    options.seed = 1;
    options.log_file = "/dev/null";
    return options;
}

class EndToEndTest : public ::testing::Test {
protected:
    EndToEndTest()
        : tool_port(test::FreeLoopbackPort()), simulator(SimulatorOptions(tool_port)),
          sim_started(simulator.Start()), link(test::TestPorts(simulator.port(), tool_port)), state(link),
          windows(state)
    {
        SetDottedAddressLog(nullptr);
        link.SetObserver(&windows);
        receiver_bound = test::Core(link).receiver.Start();
    }
    ~EndToEndTest() override
    {
        // The receiver may be waiting on this thread: keep delivering until it left.
        test::Core(link).receiver.RequestStop();
        WaitUntil([&] { return test::Core(link).receiver.finished(); });
        test::Core(link).receiver.Stop();
        link.SetObserver(nullptr);
        simulator.Stop();
        SetDottedAddressLog(stdout);
    }

    bool HasAllRecords(const MacAddress& mac)
    {
        CameraEntry* entry = test::Core(link).state.registry.FindCamera(mac);
        std::lock_guard guard(test::Core(link).state.registry.guard());
        return entry && entry->general && entry->user && entry->domain;
    }

    // WAN mode at the simulator, a search, and a login to the first camera;
    // true once it is the current one.
    bool SearchAndLogIn(ModalDriver& driver)
    {
        NetConfigPage* net = state.net_page;
        At<QAbstractButton>(net, 1023)->click();
        At<QLineEdit>(net, 1024)->setText(QStringLiteral("127.0.0.1"));
        At<QPushButton>(net, 1021)->click();
        auto* list = At<SortedListBox>(net, 1015);
        if (!WaitUntil([&] { return list->count() == kCameras && HasAllRecords(simulator.Cameras()[0].mac); }))
            return false;
        driver.QueueLogin("admin", "admin");
        list->setCurrentRow(0);
        return test::CurrentEntry(state) != nullptr;
    }

    // OK with something planted where the journal goes: the progress dialog
    // names it, and all three records are still sent.
    void ExpectJournalNamedAndApplied()
    {
        ASSERT_FALSE(sim_started) << sim_started;
        ConfigSheet sheet(state);
        sheet.show();
        ModalDriver driver;
        ASSERT_TRUE(SearchAndLogIn(driver));
        QString note;
        driver.OnOtherDialog([&](QWidget* dialog) {
            if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("note")))
                note = label->text();
            QTimer::singleShot(30000, dialog, [dialog] { qobject_cast<QDialog*>(dialog)->reject(); });
        });
        sheet.buttons()->button(QDialogButtonBox::Ok)->click();
        EXPECT_EQ(note, QStringLiteral("The journal of changes cannot be written."));
        ASSERT_TRUE(WaitUntil([&] { return simulator.Counters().apply_done >= 1; }));
        EXPECT_EQ(simulator.Counters().records_stored, 3u);
    }

    template <class T = QWidget>
    static T* At(QWidget* page, int id)
    {
        return Control<T>(page, id);
    }

    QApplication& app = test::App();
    std::uint16_t tool_port;
    sim::CameraSimulator simulator;
    Error sim_started;
    CameraLink link;
    UiState state;
    QtLinkWindows windows;
    bool receiver_bound = false;
};

TEST_F(EndToEndTest, SearchLoginEditAllPagesAndApplyStoresExactlyTheEdits)
{
    ASSERT_FALSE(sim_started) << sim_started;
    ASSERT_TRUE(receiver_bound);
    const std::vector<sim::VirtualCamera> initial = simulator.Cameras();
    ASSERT_EQ(initial.size(), std::size_t(kCameras));

    ConfigSheet sheet(state);
    sheet.show();
    NetConfigPage* net = state.net_page;
    ASSERT_NE(net, nullptr);

    // WAN mode at the simulator's loopback address, then search.
    At<QAbstractButton>(net, 1023)->click();
    At<QLineEdit>(net, 1024)->setText(QStringLiteral("127.0.0.1"));
    At<QPushButton>(net, 1021)->click();
    auto* list = At<SortedListBox>(net, 1015);
    ASSERT_TRUE(WaitUntil([&] {
        return list->count() == kCameras && HasAllRecords(initial[0].mac) && HasAllRecords(initial[1].mac);
    }));
    EXPECT_EQ(list->Text(0), FormatMacLine(initial[0].mac));
    EXPECT_EQ(list->Text(1), FormatMacLine(initial[1].mac));

    // Log in to the first camera.
    ModalDriver driver;
    driver.QueueLogin("admin", "admin");
    list->setCurrentRow(0);
    ASSERT_EQ(driver.login_prompts, 1);
    ASSERT_TRUE(driver.notices.empty());
    ASSERT_EQ(test::CurrentEntry(state), test::Core(link).state.registry.FindCamera(initial[0].mac));
    EXPECT_EQ(At<QLineEdit>(net, 1035)->text(), QStringLiteral("2.05"));
    EXPECT_EQ(At<QLineEdit>(net, 1003)->text(), QStringLiteral("192.168.  1. 10"));

    // Net Config edits.
    At<QLineEdit>(net, 1003)->setText(QStringLiteral("192.168.7.77"));
    At<QLineEdit>(net, 1030)->setText(QStringLiteral("10.1.1.9"));
    At<QAbstractButton>(net, 1018)->click(); // SERVER OFF

    // Security Config: one more user.
    sheet.tabs()->setCurrentIndex(2);
    ASSERT_NE(state.security_page, nullptr);
    At<QLineEdit>(state.security_page, 1000)->setText(QStringLiteral("tester"));
    At<QLineEdit>(state.security_page, 1001)->setText(QStringLiteral("pw1"));
    At<QPushButton>(state.security_page, 1042)->click();

    // DNS Config: one more domain.
    sheet.tabs()->setCurrentIndex(1);
    ASSERT_NE(state.dns_page, nullptr);
    At<QLineEdit>(state.dns_page, 1047)->setText(QStringLiteral("cam.example"));
    At<QLineEdit>(state.dns_page, 1049)->setText(QStringLiteral("10.0.0.53"));
    At<QPushButton>(state.dns_page, 1051)->click();

    // Camera Names: the camera's own names, one renamed.
    sheet.tabs()->setCurrentIndex(3);
    ASSERT_NE(state.names_page, nullptr);
    EXPECT_EQ(At<QLineEdit>(state.names_page, 1000)->text(), QStringLiteral("Cam 1 Entrance"));
    EXPECT_EQ(At<QLineEdit>(state.names_page, 1003)->text(), QStringLiteral("Cam 1 Roof"));
    At<QLineEdit>(state.names_page, 1001)->setText(QStringLiteral("Loading Bay North"));

    // OK: the progress dialog follows the sequence and closes by itself.
    QStringList final_lines;
    driver.OnOtherDialog([&](QWidget* dialog) {
        QObject::connect(qobject_cast<QDialog*>(dialog), &QDialog::finished, [&, dialog] {
            for (int id : {1052, 1053, 1054, 1055})
                final_lines << At<QLabel>(dialog, id)->text();
        });
        // Should the camera fall silent, give up rather than hang; the lines then tell.
        QTimer::singleShot(30000, dialog, [dialog] { qobject_cast<QDialog*>(dialog)->reject(); });
    });
    sheet.buttons()->button(QDialogButtonBox::Ok)->click();

    ASSERT_EQ(driver.other_dialogs.size(), 1u);
    EXPECT_EQ(final_lines, (QStringList{"Security Set Complete", "DOMAIN NAME Set Complete",
                                        "CAMERA NAME Set Complete", "GENERAL Set Complete"}));
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_FALSE(sheet.isVisible());
    ASSERT_TRUE(WaitUntil([&] { return simulator.Counters().apply_done >= 1; }));
    EXPECT_EQ(simulator.Counters().records_stored, 3u);

    // What the cameras should now hold: the first one its records with the
    // edits, every other byte as it was; the second one untouched.
    sim::CameraRecords expected = initial[0].records;
    {
        const GeneralConfigReader before(initial[0].records.general.data());
        GeneralConfig g(expected.general.data());
        g.set_ethernet_ip(0xC0A8074D);
        g.set_server_on(false);
        g.set_bootp_on(before.bootp_on()); // the switch word goes back as 0 or 1
        g.set_ppp_client_ip(0x0A010109);
        g.set_camera_name(1, "Loading Bay North");
        ASSERT_GE(UserConfig(expected.user.data()).AddUser("tester", "pw1"), 0);
        ASSERT_GE(DomainConfig(expected.domain.data()).AddDomain("cam.example", "10.0.0.53"), 0);
    }
    const std::vector<sim::VirtualCamera> now = simulator.Cameras();
    ASSERT_EQ(now.size(), std::size_t(kCameras));
    EXPECT_EQ(now[0].records.general, expected.general);
    EXPECT_EQ(now[0].records.user, expected.user);
    EXPECT_EQ(now[0].records.domain, expected.domain);
    EXPECT_EQ(now[1].records.general, initial[1].records.general);
    EXPECT_EQ(now[1].records.user, initial[1].records.user);
    EXPECT_EQ(now[1].records.domain, initial[1].records.domain);

    // One line in the journal of changes, with every edit and no password.
    const std::string journal = JournalText();
    EXPECT_EQ(journal.find("pw1"), std::string::npos);
    const auto line = nlohmann::json::parse(journal);
    EXPECT_EQ(line["program"], "vantoro-config");
    EXPECT_EQ(line["login"], "admin");
    EXPECT_EQ(line["mac"], "00:0a:0b:00:00:01");
    EXPECT_EQ(line["action"], "apply");
    EXPECT_EQ(line["result"], "applied");
    EXPECT_EQ(line["changes"], nlohmann::json::parse(R"([
        {"field":"ethernet_ip","before":"192.168.1.10","after":"192.168.7.77"},
        {"field":"ppp_client_ip","before":"10.64.0.2","after":"10.1.1.9"},
        {"field":"server","before":"on","after":"off"},
        {"field":"camera_name_2","before":"Cam 1 Parking","after":"Loading Bay North"},
        {"field":"user tester","before":null,"after":"added"},
        {"field":"permissions of tester","before":null,"after":"none"},
        {"field":"domain cam.example","before":null,"after":"added"},
        {"field":"address of cam.example","before":null,"after":"10.0.0.53"}])"));
}

TEST_F(EndToEndTest, AJournalThatCannotBeWrittenIsNamedAndTheApplyGoesOn)
{
    // A file where the journal's folder would be.
    std::ofstream(std::string(std::getenv("XDG_STATE_HOME")) + "/vantoro") << "not a folder";
    ExpectJournalNamedAndApplied();
}

TEST_F(EndToEndTest, AFifoWhereTheJournalGoesNeverBlocksTheSheet)
{
    const std::string folder = std::string(std::getenv("XDG_STATE_HOME")) + "/vantoro";
    ::unlink((folder + "/changes.jsonl").c_str());
    ::unlink(folder.c_str());
    ::mkdir(folder.c_str(), 0700);
    ASSERT_EQ(::mkfifo((folder + "/changes.jsonl").c_str(), 0600), 0);
    ExpectJournalNamedAndApplied();
    ::unlink((folder + "/changes.jsonl").c_str());
}

TEST_F(EndToEndTest, CancelAfterEditsLeavesTheCamerasAsTheyWere)
{
    ASSERT_FALSE(sim_started) << sim_started;
    ASSERT_TRUE(receiver_bound);
    const std::vector<sim::VirtualCamera> initial = simulator.Cameras();

    ConfigSheet sheet(state);
    sheet.show();
    NetConfigPage* net = state.net_page;
    ModalDriver driver;
    ASSERT_TRUE(SearchAndLogIn(driver));
    At<QLineEdit>(net, 1003)->setText(QStringLiteral("10.9.9.9"));
    sheet.tabs()->setCurrentIndex(2);
    At<QLineEdit>(state.security_page, 1000)->setText(QStringLiteral("tester"));
    At<QPushButton>(state.security_page, 1042)->click();

    const std::uint64_t received_before = simulator.Counters().received;
    sheet.buttons()->button(QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(sheet.result(), QDialog::Rejected);
    EXPECT_TRUE(driver.other_dialogs.empty());

    // A search after the Cancel is the next thing the cameras hear.
    At<QPushButton>(net, 1021)->click();
    ASSERT_TRUE(WaitUntil([&] { return simulator.Counters().handled >= received_before + 3; }));
    EXPECT_EQ(simulator.Counters().set_requests, 0u);
    EXPECT_EQ(simulator.Counters().received, received_before + 3);
    EXPECT_EQ(JournalText(), "") << "a Cancel sends nothing, so nothing is journalled";
    const std::vector<sim::VirtualCamera> now = simulator.Cameras();
    for (int i = 0; i < kCameras; ++i) {
        EXPECT_EQ(now[std::size_t(i)].records.general, initial[std::size_t(i)].records.general);
        EXPECT_EQ(now[std::size_t(i)].records.user, initial[std::size_t(i)].records.user);
        EXPECT_EQ(now[std::size_t(i)].records.domain, initial[std::size_t(i)].records.domain);
    }
}

} // namespace
} // namespace vantoro::ui
