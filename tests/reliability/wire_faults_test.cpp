// Lost, repeated and late frames against the real sheet and link: each fault
// leads to exactly the outcome the apply sequence promises, no more and no less.

#include "reliability_support.h"

#include "ui/qt_printers.h"

#include <gtest/gtest.h>

#include <chrono>

namespace vantoro::reliability {
namespace {

using ui::Control;

constexpr int kUser = int(sim::RecordKind::User);
constexpr int kDomain = int(sim::RecordKind::Domain);
constexpr int kGeneral = int(sim::RecordKind::General);

// Edits one thing on each page of the logged-in camera and returns what its
// three records must hold afterwards, worked out from the camera's first images.
SheetRig::Records EditAllPages(SheetRig& rig, const sim::CameraRecords& original)
{
    ui::NetConfigPage* net = rig.net();
    Control<QLineEdit>(net, ids::kEthernetIp)->setText(QStringLiteral("192.168.7.77"));
    Control<QLineEdit>(net, ids::kPppClientIp)->setText(QStringLiteral("10.1.1.9"));
    Control<QAbstractButton>(net, ids::kServerOff)->click();

    rig.sheet->tabs()->setCurrentIndex(2);
    QWidget* security = rig.state.security_page;
    Control<QLineEdit>(security, ids::kUserName)->setText(QStringLiteral("tester"));
    Control<QLineEdit>(security, ids::kPassword)->setText(QStringLiteral("pw1"));
    Control<QPushButton>(security, ids::kAddUser)->click();

    rig.sheet->tabs()->setCurrentIndex(1);
    QWidget* dns = rig.state.dns_page;
    Control<QLineEdit>(dns, ids::kDomainName)->setText(QStringLiteral("cam.example"));
    Control<QLineEdit>(dns, ids::kDomainIp)->setText(QStringLiteral("10.0.0.53"));
    Control<QPushButton>(dns, ids::kAddDomain)->click();

    SheetRig::Records expected{original.general, original.user, original.domain};
    GeneralConfig g(expected.general.data());
    g.set_ethernet_ip(0xC0A8074D);
    g.set_server_on(false);
    g.set_ppp_client_ip(0x0A010109);
    EXPECT_GE(UserConfig(expected.user.data()).AddUser("tester", "pw1"), 0);
    EXPECT_GE(DomainConfig(expected.domain.data()).AddDomain("cam.example", "10.0.0.53"), 0);
    return expected;
}

// The acknowledgement a camera sends for a stored record: the record with its code + 5.
Frame Ack(std::uint32_t command, const Frame& record)
{
    Frame ack = record;
    SetFrameCommand(ack, command);
    return ack;
}

// Searched, logged in to the simulator's first camera, all three pages edited.
struct Scenario {
    explicit Scenario(sim::SimOptions options) : rig(std::move(options)) {}

    void SetUp()
    {
        ASSERT_TRUE(rig.Ready()) << rig.Why();
        rig.OpenSheet();
        ASSERT_TRUE(rig.SearchAndWaitForAll());
        ASSERT_TRUE(WaitUntil([&] { return rig.Quiet(); }));
        ASSERT_TRUE(rig.LogIn(0));
        original = rig.simulator.Cameras()[0].records;
        expected = EditAllPages(rig, original);
    }

    SheetRig rig;
    sim::CameraRecords original;
    SheetRig::Records expected;
};

// Should a camera fall silent where a test expects it to answer, the dialog is
// cancelled after this long rather than hanging the test; the lines then tell.
// Generous: under a thread checker on a busy machine, the flood test's
// thousands of answers, each a blocking call into this thread, take tens of
// seconds; only a stalled apply ever waits this long.
constexpr int kGiveUpMs = 120000;

TEST(WireFaults, AnApplyThatIsNeverAcknowledgedKeepsTheFirstLinesUntilCancel)
{
    sim::SimOptions options = LoopbackSim(1);
    options.no_ack[kUser] = true;
    Scenario s(options);
    ASSERT_NO_FATAL_FAILURE(s.SetUp());

    bool quiet = false, open_while_waiting = false;
    QStringList lines_while_waiting;
    ModalScript script([&](QWidget* w) {
        auto* dialog = qobject_cast<ui::ApplyProgressDialog*>(w);
        if (!dialog)
            return;
        // The camera stored the user record and kept its acknowledgement; once
        // the tool has dispatched everything the camera sent, nothing else can come.
        quiet = WaitUntil([&] { return s.rig.simulator.Counters().answers_withheld >= 1 && s.rig.Quiet(); });
        lines_while_waiting = ProgressLines(dialog);
        open_while_waiting = dialog->isVisible() && s.rig.state.progress_window == dialog;
        Control<QPushButton>(dialog, ids::kCancel)->click();
    });
    s.rig.PressSheetOk();

    EXPECT_EQ(script.windows_seen, 1);
    ASSERT_TRUE(quiet);
    EXPECT_TRUE(open_while_waiting);
    EXPECT_EQ(lines_while_waiting, InitialProgressLines());
    EXPECT_TRUE(s.rig.state.progress_window.isNull());
    EXPECT_EQ(s.rig.sheet->result(), QDialog::Accepted);
    EXPECT_FALSE(s.rig.sheet->isVisible()) << "Cancel of the progress dialog lets the sheet close";

    const sim::SimCounters c = s.rig.simulator.Counters();
    EXPECT_EQ(c.set_requests, 1u);
    EXPECT_EQ(c.apply_done, 0u);
    const sim::CameraRecords now = s.rig.simulator.Cameras()[0].records;
    EXPECT_TRUE(SameBody(now.user, s.expected.user)) << BodyDifference(now.user, s.expected.user);
    EXPECT_EQ(now.domain, s.original.domain);
    EXPECT_EQ(now.general, s.original.general);
}

TEST(WireFaults, ACameraThatAcknowledgesOnlyTheUserRecordChangesOnlyTheUserLine)
{
    sim::SimOptions options = LoopbackSim(1);
    options.no_ack[kDomain] = true;
    Scenario s(options);
    ASSERT_NO_FATAL_FAILURE(s.SetUp());

    bool quiet = false;
    QStringList lines_while_waiting;
    ModalScript script([&](QWidget* w) {
        auto* dialog = qobject_cast<ui::ApplyProgressDialog*>(w);
        if (!dialog)
            return;
        quiet = WaitUntil([&] {
            const sim::SimCounters c = s.rig.simulator.Counters();
            return c.records_stored >= 2 && c.answers_withheld >= 1 && s.rig.Quiet();
        });
        lines_while_waiting = ProgressLines(dialog);
        Control<QPushButton>(dialog, ids::kCancel)->click();
    });
    s.rig.PressSheetOk();

    ASSERT_TRUE(quiet);
    QStringList expected_lines = InitialProgressLines();
    expected_lines[0] = QStringLiteral("Security Set Complete");
    EXPECT_EQ(lines_while_waiting, expected_lines);
    EXPECT_FALSE(s.rig.sheet->isVisible());

    const sim::SimCounters c = s.rig.simulator.Counters();
    EXPECT_EQ(c.set_requests, 2u);
    EXPECT_EQ(c.apply_done, 0u);
    const sim::CameraRecords now = s.rig.simulator.Cameras()[0].records;
    EXPECT_TRUE(SameBody(now.user, s.expected.user)) << BodyDifference(now.user, s.expected.user);
    EXPECT_TRUE(SameBody(now.domain, s.expected.domain)) << BodyDifference(now.domain, s.expected.domain);
    EXPECT_EQ(now.general, s.original.general);
}

TEST(WireFaults, EveryAnswerTwiceListsEachCameraOnceAndDoublesEachLaterStep)
{
    sim::SimOptions options = LoopbackSim(2);
    options.duplicate = 1.0; // every reply and every acknowledgement goes out twice
    Scenario s(options);
    ASSERT_NO_FATAL_FAILURE(s.SetUp());
    EXPECT_EQ(s.rig.cameras()->count(), 2);
    EXPECT_EQ(s.rig.link.CameraCount(), 2u);

    QStringList final_lines;
    ModalScript script([&](QWidget* w) {
        auto* dialog = qobject_cast<ui::ApplyProgressDialog*>(w);
        if (!dialog)
            return;
        QObject::connect(dialog, &QDialog::finished, [&, dialog] { final_lines = ProgressLines(dialog); });
        QTimer::singleShot(kGiveUpMs, dialog, [dialog] { dialog->reject(); });
    });
    s.rig.PressSheetOk();
    EXPECT_EQ(final_lines, (QStringList{"Security Set Complete", "DOMAIN NAME Set Complete",
                                        "CAMERA NAME Set Complete", "GENERAL Set Complete"}));
    EXPECT_FALSE(s.rig.sheet->isVisible());

    // Two user acks send the domain record twice; each of those is acknowledged
    // twice, so four general records go out, and eight closing frames.
    // The tool sent 3 requests + 1 + 2 + 4 records + 8 closing frames.
    ASSERT_TRUE(WaitUntil([&] { return s.rig.simulator.Counters().received >= 18 && s.rig.Quiet(); }));
    const sim::SimCounters c = s.rig.simulator.Counters();
    EXPECT_EQ(c.received, 18u);
    EXPECT_EQ(c.set_requests, 7u);
    EXPECT_EQ(c.records_stored, 7u);
    EXPECT_EQ(c.apply_done, 8u);
    const sim::CameraRecords now = s.rig.simulator.Cameras()[0].records;
    EXPECT_TRUE(SameBody(now.user, s.expected.user)) << BodyDifference(now.user, s.expected.user);
    EXPECT_TRUE(SameBody(now.domain, s.expected.domain)) << BodyDifference(now.domain, s.expected.domain);
    EXPECT_TRUE(SameBody(now.general, s.expected.general)) << BodyDifference(now.general, s.expected.general);
}

TEST(WireFaults, AnAcknowledgementReceivedTwiceSendsTheNextStepTwice)
{
    sim::SimOptions options = LoopbackSim(1);
    options.no_ack[kUser] = true; // the test sends the user acknowledgements itself
    Scenario s(options);
    ASSERT_NO_FATAL_FAILURE(s.SetUp());

    bool quiet = false;
    QStringList final_lines;
    ModalScript script([&](QWidget* w) {
        auto* dialog = qobject_cast<ui::ApplyProgressDialog*>(w);
        if (!dialog)
            return;
        QObject::connect(dialog, &QDialog::finished, [&, dialog] { final_lines = ProgressLines(dialog); });
        QTimer::singleShot(kGiveUpMs, dialog, [dialog] { dialog->reject(); });
        quiet = WaitUntil([&] { return s.rig.simulator.Counters().answers_withheld >= 1 && s.rig.Quiet(); });
        const Frame ack = Ack(CMD_USER_SET_ACK, s.expected.user);
        s.rig.Inject(ack);
        s.rig.Inject(ack);
    });
    s.rig.PressSheetOk();
    ASSERT_TRUE(quiet);
    EXPECT_EQ(final_lines, (QStringList{"Security Set Complete", "DOMAIN NAME Set Complete",
                                        "CAMERA NAME Set Complete", "GENERAL Set Complete"}));

    // 3 requests, the user record, then the domain record twice, the general
    // record twice (one per domain ack) and two closing frames.
    ASSERT_TRUE(WaitUntil([&] { return s.rig.simulator.Counters().received >= 10 && s.rig.Quiet(); }));
    const sim::SimCounters c = s.rig.simulator.Counters();
    EXPECT_EQ(c.received, 10u);
    EXPECT_EQ(c.set_requests, 5u);
    EXPECT_EQ(c.records_stored, 5u);
    EXPECT_EQ(c.apply_done, 2u);
    const sim::CameraRecords now = s.rig.simulator.Cameras()[0].records;
    EXPECT_TRUE(SameBody(now.domain, s.expected.domain)) << BodyDifference(now.domain, s.expected.domain);
    EXPECT_TRUE(SameBody(now.general, s.expected.general)) << BodyDifference(now.general, s.expected.general);
}

TEST(WireFaults, AcknowledgementsAfterCancelStillDriveTheSequenceToItsEnd)
{
    sim::SimOptions options = LoopbackSim(1);
    options.no_ack[kUser] = true; // held back until the dialog is gone
    options.delay_ms = 100; // and the later ones arrive late
    Scenario s(options);
    ASSERT_NO_FATAL_FAILURE(s.SetUp());

    QStringList lines_at_cancel;
    ModalScript script([&](QWidget* w) {
        auto* dialog = qobject_cast<ui::ApplyProgressDialog*>(w);
        if (!dialog)
            return;
        EXPECT_TRUE(WaitUntil([&] { return s.rig.simulator.Counters().answers_withheld >= 1 && s.rig.Quiet(); }));
        lines_at_cancel = ProgressLines(dialog);
        Control<QPushButton>(dialog, ids::kCancel)->click();
    });
    s.rig.PressSheetOk();
    EXPECT_EQ(lines_at_cancel, InitialProgressLines());
    EXPECT_FALSE(s.rig.sheet->isVisible());
    EXPECT_TRUE(s.rig.state.progress_window.isNull());
    EXPECT_EQ(s.rig.simulator.Counters().records_stored, 1u);

    // The camera's acknowledgement, after the dialog is gone.
    s.rig.Inject(Ack(CMD_USER_SET_ACK, s.expected.user));
    ASSERT_TRUE(WaitUntil([&] { return s.rig.simulator.Counters().apply_done >= 1 && s.rig.Quiet(); }));
    const sim::SimCounters c = s.rig.simulator.Counters();
    EXPECT_EQ(c.set_requests, 3u);
    EXPECT_EQ(c.records_stored, 3u);
    EXPECT_EQ(c.apply_done, 1u);
    const sim::CameraRecords now = s.rig.simulator.Cameras()[0].records;
    EXPECT_TRUE(SameBody(now.user, s.expected.user)) << BodyDifference(now.user, s.expected.user);
    EXPECT_TRUE(SameBody(now.domain, s.expected.domain)) << BodyDifference(now.domain, s.expected.domain);
    EXPECT_TRUE(SameBody(now.general, s.expected.general)) << BodyDifference(now.general, s.expected.general);
    // The last step ends, after its closing frame and its notification, with
    // the current camera's general record in the frame image.
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard lock(s.rig.core.state.frame_image.lock);
        return s.rig.core.state.frame_image.bytes == s.expected.general;
    }));
}

TEST(WireFaults, RepliesDuringTheLoginPromptAndAMessageBoxAreListedAtOnce)
{
    SheetRig rig(LoopbackSim(1));
    ASSERT_TRUE(rig.Ready()) << rig.Why();
    // More cameras, on a port of their own, answering the tool's port when asked.
    sim::SimOptions more = LoopbackSim(3);
    more.first_mac = {0x00, 0x0B, 0x00, 0x00, 0x00, 0x01};
    more.reply_port = rig.tool_port;
    sim::CameraSimulator others(more);
    ASSERT_FALSE(others.Start());
    TestSocket asker;

    rig.OpenSheet();
    ASSERT_TRUE(rig.SearchAndWaitForAll());
    ASSERT_EQ(rig.cameras()->count(), 1);
    const QString first_line = rig.cameras()->Text(0);
    // Sorts before every other line, so it is inserted above the selected one.
    const MacAddress early_mac{0x00, 0x01, 0x00, 0x00, 0x00, 0x07};

    int prompts = 0, count_during_login = 0, count_during_box = 0;
    bool login_modal_meanwhile = false, box_modal_meanwhile = false;
    QString box_text;
    ModalScript script([&](QWidget* w) {
        if (auto* login = qobject_cast<ui::LoginDialog*>(w)) {
            if (++prompts == 1) {
                asker.Send(Request(CMD_GET_GENERAL), others.port());
                WaitUntil([&] { return rig.cameras()->count() == 4; });
                count_during_login = rig.cameras()->count();
                login_modal_meanwhile = QApplication::activeModalWidget() == login && login->isVisible();
            }
            TypeLogin(login, QStringLiteral("admin"), QStringLiteral("wrong"));
        } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
            box_text = box->text();
            rig.Inject(test::MakeReply(CMD_DOMAIN_REPLY, early_mac));
            WaitUntil([&] { return rig.cameras()->count() == 5; });
            count_during_box = rig.cameras()->count();
            box_modal_meanwhile = QApplication::activeModalWidget() == box && box->isVisible();
            PressOk(box);
        }
    });
    rig.cameras()->setCurrentRow(0);

    EXPECT_EQ(prompts, 1) << "lines added meanwhile start no second login";
    EXPECT_EQ(count_during_login, 4);
    EXPECT_TRUE(login_modal_meanwhile);
    EXPECT_EQ(box_text, QStringLiteral("Login fail"));
    EXPECT_EQ(count_during_box, 5);
    EXPECT_TRUE(box_modal_meanwhile);
    EXPECT_FALSE(rig.state.current_camera());

    QStringList lines;
    for (int i = 0; i < rig.cameras()->count(); ++i)
        lines << rig.cameras()->Text(i);
    QStringList expected_lines{ui::FormatMacLine(early_mac), first_line};
    for (const sim::VirtualCamera& camera : others.Cameras())
        expected_lines << ui::FormatMacLine(camera.mac);
    EXPECT_EQ(lines, expected_lines);
    EXPECT_EQ(rig.cameras()->CurSel(), 1) << "the selected line stays the camera being logged in to";
    for (const sim::VirtualCamera& camera : others.Cameras()) {
        CameraEntry* entry = rig.core.state.registry.FindCamera(camera.mac);
        ASSERT_NE(entry, nullptr);
        std::lock_guard guard(rig.core.state.registry.guard());
        ASSERT_TRUE(entry->general);
        EXPECT_EQ(*entry->general, camera.records.general);
    }
    others.Stop();
}

TEST(WireFaults, SearchesAndAFloodOfRepliesDuringAnApplyLeaveTheSentRecordsWhole)
{
    // The camera being configured answers no search, so the records the tool
    // sends are its edited images whatever the searches bring in; the search
    // requests still go through the one frame image that the apply uses.
    sim::SimOptions options = LoopbackSim(1);
    for (bool& no : options.no_reply)
        no = true;
    options.delay_ms = 20;
    options.jitter_ms = 40;
    // The sheet sends no step again: a record the simulator's socket dropped
    // among the searches would stall the apply for good, which is not what
    // this test is about. Its default buffer holds some 90 frames, tens of
    // milliseconds of them on a busy machine.
    options.receive_buffer_bytes = 8 << 20;
    SheetRig rig(options);
    ASSERT_TRUE(rig.Ready()) << rig.Why();
    sim::SimOptions crowd_options = LoopbackSim(40);
    crowd_options.first_mac = {0x00, 0x0D, 0x00, 0x00, 0x00, 0x01};
    crowd_options.reply_port = rig.tool_port;
    crowd_options.jitter_ms = 10;
    sim::CameraSimulator crowd(crowd_options);
    ASSERT_FALSE(crowd.Start());
    TestSocket asker;

    rig.OpenSheet();
    const sim::CameraRecords original = rig.simulator.Cameras()[0].records;
    const MacAddress target = rig.simulator.Cameras()[0].mac;
    // What the camera would have answered to a search.
    rig.Inject(original.general);
    rig.Inject(original.user);
    rig.Inject(original.domain);
    ASSERT_TRUE(WaitUntil([&] { return rig.HasAllRecords(target) && rig.cameras()->count() == 1; }));
    ASSERT_TRUE(rig.LogIn(0));
    SheetRig::Records expected = EditAllPages(rig, original);

    int searches_during_apply = 0;
    ModalScript script([&](QWidget* w) {
        auto* dialog = qobject_cast<ui::ApplyProgressDialog*>(w);
        if (!dialog)
            return;
        QTimer::singleShot(kGiveUpMs, dialog, [dialog] { dialog->reject(); });
        // A search every 2 ms or so, and every fifth time the crowd is asked too.
        auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
        WaitUntil(
            [&] {
                if (!dialog->isVisible())
                    return true;
                const auto now = std::chrono::steady_clock::now();
                if (searches_during_apply < 300 && now - last >= std::chrono::milliseconds(2)) {
                    last = now;
                    rig.Search();
                    if (searches_during_apply % 5 == 0) {
                        for (std::uint32_t get : {CMD_GET_GENERAL, CMD_GET_USER, CMD_GET_DOMAIN})
                            asker.Send(Request(get), crowd.port());
                    }
                    ++searches_during_apply;
                }
                return false;
            },
            kGiveUpMs + 5000);
    });
    rig.PressSheetOk();
    EXPECT_GE(searches_during_apply, 1);

    ASSERT_TRUE(WaitUntil([&] { return rig.simulator.Counters().apply_done >= 1; }, kGiveUpMs))
        << "the simulator received " << rig.simulator.Counters().set_requests << " records; the link dropped "
        << rig.link.counters().kernel_dropped << " answers in the system and " << rig.link.counters().dropped
        << " in its queue";
    const sim::CameraRecords now = rig.simulator.Cameras()[0].records;
    EXPECT_TRUE(SameBody(now.user, expected.user)) << BodyDifference(now.user, expected.user);
    EXPECT_TRUE(SameBody(now.domain, expected.domain)) << BodyDifference(now.domain, expected.domain);
    EXPECT_TRUE(SameBody(now.general, expected.general)) << BodyDifference(now.general, expected.general);
    const SheetRig::Records filed = rig.CurrentRecords();
    EXPECT_EQ(filed.user, expected.user);
    EXPECT_EQ(filed.domain, expected.domain);
    EXPECT_EQ(filed.general, expected.general);
    EXPECT_TRUE(WaitUntil([&] { return rig.simulator.Counters().get_requests > 0; })) << "the searches went out";
    EXPECT_TRUE(WaitUntil([&] { return rig.cameras()->count() == 41; }, kGiveUpMs));
    crowd.Stop();
}

} // namespace
} // namespace vantoro::reliability
