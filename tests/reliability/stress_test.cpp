// Both threads under load. The simulator floods the tool with replies from 200
// cameras (repeated searches, duplicates, jitter, loss) and stray
// acknowledgements make the receiver send apply steps on its own, while the
// GUI thread works the sheet as a user would: logs in, switches cameras and
// pages, edits all three pages, applies and cancels. A watchdog fails the test
// should the GUI thread stop answering; a checker thread looks at the registry
// and the frame image under their locks all the while and finds every record
// one whole reply or one whole edit of its camera.

#include "reliability_support.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <random>
#include <set>
#include <thread>

namespace vantoro::reliability {
namespace {

using namespace std::chrono_literals;
using ui::Control;

constexpr int kCameras = 200;
constexpr auto kWorkTime = 6s;
constexpr int kMaxActions = 5000;
constexpr auto kHangLimit = 10s;

// A thread of the test's own that sleeps on a stop flag between rounds.
class Worker {
public:
    virtual ~Worker() { Stop(); }
    void Stop()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

protected:
    void Launch() { thread_ = std::thread([this] { Run(); }); }
    // False once a stop was asked for.
    bool Pause(std::chrono::milliseconds period)
    {
        std::unique_lock lock(mutex_);
        return !wake_.wait_for(lock, period, [&] { return stop_; });
    }
    virtual void Run() = 0;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

// Counts beats of a GUI-thread timer from another thread; ends the process
// when none came for kHangLimit, since a hung GUI thread cannot be recovered.
class Watchdog final : public Worker {
public:
    explicit Watchdog(std::function<std::string()> status) : status_(std::move(status))
    {
        beat_.setInterval(20);
        QObject::connect(&beat_, &QTimer::timeout, [this] { beats_.fetch_add(1); });
        beat_.start();
        Launch();
    }
    ~Watchdog() override { Stop(); }

private:
    void Run() override
    {
        std::uint64_t seen = beats_.load();
        auto since = std::chrono::steady_clock::now();
        while (Pause(100ms)) {
            const std::uint64_t now_beats = beats_.load();
            const auto now = std::chrono::steady_clock::now();
            if (now_beats != seen) {
                seen = now_beats;
                since = now;
            } else if (now - since > kHangLimit) {
                FailHard("the GUI thread handled no event for 10 s (deadlock?): " + status_());
            }
        }
    }

    std::function<std::string()> status_;
    QTimer beat_;
    std::atomic<std::uint64_t> beats_{0};
};

// Looks at the frame image and every filed record under their locks, again
// and again, and keeps the first few problems it sees.
class IntegrityChecker final : public Worker {
public:
    IntegrityChecker(LinkState& link, const WholeRecordCheck& check) : link_(link), check_(check) { Launch(); }
    ~IntegrityChecker() override { Stop(); }

    void CheckOnce()
    {
        Frame image;
        {
            std::lock_guard lock(link_.frame_image.lock);
            image = link_.frame_image.bytes;
        }
        if (auto why = check_.Image(image))
            Note("frame image: " + *why);

        std::lock_guard guard(link_.registry.guard());
        CameraRegistry& registry = link_.registry;
        registry.Rewind();
        for (CameraEntry* entry = registry.Current(); entry; entry = registry.Next() ? registry.Current() : nullptr) {
            const Frame* preferred = entry->PreferredRecord();
            if (!preferred) {
                Note("an entry without records");
                continue;
            }
            for (const auto* slot : {&entry->general, &entry->user, &entry->domain}) {
                if (!*slot)
                    continue;
                if (FrameMac(**slot) != FrameMac(*preferred))
                    Note("an entry holds records of two hardware addresses");
                if (auto why = check_.Filed(**slot))
                    Note("filed " + *why);
            }
        }
        passes_.fetch_add(1);
    }

    std::uint64_t passes() const { return passes_.load(); }
    std::uint64_t problem_count() const { return problem_count_.load(); }
    std::vector<std::string> problems()
    {
        std::lock_guard lock(problems_mutex_);
        return problems_;
    }

private:
    void Run() override
    {
        do
            CheckOnce();
        while (Pause(20ms));
    }
    void Note(const std::string& problem)
    {
        problem_count_.fetch_add(1);
        std::lock_guard lock(problems_mutex_);
        if (problems_.size() < 5)
            problems_.push_back(problem);
    }

    LinkState& link_;
    const WholeRecordCheck& check_;
    std::atomic<std::uint64_t> passes_{0}, problem_count_{0};
    std::mutex problems_mutex_;
    std::vector<std::string> problems_;
};

// Asks the simulator for all records again and again, from a socket of its
// own, and now and then sends the tool an acknowledgement nobody asked for,
// which makes the receiver send the current camera's next record by itself.
class Flooder final : public Worker {
public:
    Flooder(std::uint16_t sim_port, std::uint16_t tool_port, sim::CameraRecords records)
        : sim_port_(sim_port), tool_port_(tool_port), records_(std::move(records))
    {
        Launch();
    }
    ~Flooder() override { Stop(); }
    int bursts() const { return bursts_.load(); }

private:
    static constexpr int kMaxBursts = 80;

    void Run() override
    {
        TestSocket socket;
        for (int burst = 0; burst < kMaxBursts; ++burst) {
            for (std::uint32_t get : {CMD_GET_GENERAL, CMD_GET_USER, CMD_GET_DOMAIN})
                socket.Send(Request(get), sim_port_);
            if (burst % 2 == 1) {
                Frame ack;
                switch (burst % 3) {
                case 0: ack = records_.user; SetFrameCommand(ack, CMD_USER_SET_ACK); break;
                case 1: ack = records_.domain; SetFrameCommand(ack, CMD_DOMAIN_SET_ACK); break;
                default: ack = records_.general; SetFrameCommand(ack, CMD_GENERAL_SET_ACK); break;
                }
                socket.Send(ack, tool_port_);
            }
            bursts_.fetch_add(1);
            if (!Pause(75ms))
                return;
        }
    }

    std::uint16_t sim_port_, tool_port_;
    sim::CameraRecords records_;
    std::atomic<int> bursts_{0};
};

// The user: one random action at a time, on the GUI thread.
class StressUser {
public:
    explicit StressUser(SheetRig& rig) : rig_(rig) {}

    int progress_dialogs = 0, unexpected_windows = 0, logins_tried = 0, applies = 0;

    void OnModal(QWidget* w)
    {
        if (auto* login = qobject_cast<ui::LoginDialog*>(w)) {
            TypeLogin(login, QStringLiteral("admin"), QStringLiteral("admin"));
        } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
            PressOk(box);
        } else if (auto* dialog = qobject_cast<ui::ApplyProgressDialog*>(w)) {
            ++progress_dialogs;
            // Cancel soon, unless the last acknowledgement closes it first.
            QTimer::singleShot(Pick(60), dialog,
                               [dialog] { Control<QPushButton>(dialog, ids::kCancel)->click(); });
        } else {
            ++unexpected_windows;
            w->close();
        }
    }

    void Act()
    {
        switch (Pick(12)) {
        case 0:
        case 1: LogIn(); break;
        case 2: rig_.sheet->tabs()->setCurrentIndex(Pick(3)); break;
        case 3: EditNet(); break;
        case 4: AddUser(); break;
        case 5: DeleteLine(Security(), ids::kUserList, "name: u", ids::kDeleteUser); break;
        case 6: TogglePermission(); break;
        case 7: AddDomain(); break;
        case 8: DeleteLine(Dns(), ids::kDomainList, "name: d", ids::kDeleteDomain); break;
        case 9:
            ++applies;
            rig_.sheet->Apply(); // the sheet's OK without closing the sheet
            break;
        case 10:
            // No faster than a user could click; the flooder adds its own searches.
            if (std::chrono::steady_clock::now() - last_search_ >= 100ms) {
                last_search_ = std::chrono::steady_clock::now();
                rig_.Search();
            }
            break;
        default:
            if (auto* reset = Control<QPushButton>(rig_.net(), ids::kReset); reset->isEnabled())
                reset->click();
            break;
        }
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    void LogIn()
    {
        ui::SortedListBox* list = rig_.cameras();
        if (list->count() == 0)
            return;
        ++logins_tried;
        list->setCurrentRow(Pick(list->count()));
    }

    // One whole set of address fields and switches, numbered k. Until a
    // login filled them the fields are disabled, and a user types nothing.
    void EditNet()
    {
        if (!Control<QLineEdit>(rig_.net(), ids::kEthernetIp)->isEnabled())
            return;
        const NetPattern p = PatternFor(next_k_++);
        const auto put = [&](int id, std::uint32_t w) {
            Control<QLineEdit>(rig_.net(), id)
                ->setText(QStringLiteral("%1.%2.%3.%4").arg(w >> 24).arg((w >> 16) & 0xFF).arg((w >> 8) & 0xFF).arg(w & 0xFF));
        };
        put(ids::kEthernetIp, p.ethernet_ip);
        put(ids::kEthernetMask, p.ethernet_mask);
        put(ids::kGateway, p.gateway);
        put(ids::kBootpStart, p.bootp_start_ip);
        put(ids::kBootpEnd, p.bootp_end_ip);
        put(ids::kPppIp, p.ppp_ip);
        put(ids::kPppMask, p.ppp_mask);
        put(ids::kPppClientIp, p.ppp_client_ip);
        Control<QAbstractButton>(rig_.net(), p.server_on ? ids::kServerOn : ids::kServerOff)->click();
        Control<QAbstractButton>(rig_.net(), p.bootp_on ? ids::kBootpOn : ids::kBootpOff)->click();
    }

    QWidget* Security()
    {
        if (!rig_.state.security_page)
            rig_.sheet->tabs()->setCurrentIndex(2);
        return rig_.state.security_page;
    }
    QWidget* Dns()
    {
        if (!rig_.state.dns_page)
            rig_.sheet->tabs()->setCurrentIndex(1);
        return rig_.state.dns_page;
    }

    void AddUser()
    {
        QWidget* page = Security();
        const std::uint32_t k = next_k_++;
        Control<QLineEdit>(page, ids::kUserName)->setText(QStringLiteral("u%1").arg(k));
        Control<QLineEdit>(page, ids::kPassword)->setText(QStringLiteral("p%1").arg(k));
        Control<QPushButton>(page, ids::kAddUser)->click();
    }

    void AddDomain()
    {
        QWidget* page = Dns();
        const std::uint32_t k = next_k_++;
        Control<QLineEdit>(page, ids::kDomainName)->setText(QStringLiteral("d%1.example").arg(k));
        Control<QLineEdit>(page, ids::kDomainIp)->setText(QString::fromStdString(WholeRecordCheck::DomainIpFor(k)));
        Control<QPushButton>(page, ids::kAddDomain)->click();
    }

    // Deletes one of the lines that the test added.
    void DeleteLine(QWidget* page, int list_id, const char* prefix, int delete_id)
    {
        auto* list = Control<ui::SortedListBox>(page, list_id);
        std::vector<int> ours;
        for (int i = 0; i < list->count(); ++i) {
            if (list->Text(i).startsWith(QLatin1String(prefix)))
                ours.push_back(i);
        }
        if (ours.empty())
            return;
        list->setCurrentRow(ours[std::size_t(Pick(int(ours.size())))]);
        Control<QPushButton>(page, delete_id)->click();
    }

    void TogglePermission()
    {
        QWidget* page = Security();
        auto* list = Control<ui::SortedListBox>(page, ids::kUserList);
        if (list->count() == 0)
            return;
        list->setCurrentRow(Pick(list->count()));
        Control<QCheckBox>(page, Pick(2) == 0 ? ids::kViewImage : ids::kAdjust)->click();
    }

    SheetRig& rig_;
    std::mt19937 rng_{20240611};
    std::uint32_t next_k_ = 1;
    std::chrono::steady_clock::time_point last_search_{};
};

// The check itself: whole images pass, mixtures of two images do not.
TEST(Stress, TheWholeRecordCheckTellsWholeImagesFromMixtures)
{
    const std::vector<sim::VirtualCamera> cameras = sim::MakeDefaultCameras(3, {0x00, 0x0A, 0x0B, 0x00, 0x00, 0x01});
    const WholeRecordCheck check(cameras);
    const sim::CameraRecords& first = cameras[0].records;
    for (const Frame* record : {&first.general, &first.user, &first.domain})
        EXPECT_EQ(check.Filed(*record), std::nullopt);

    // One whole set of typed fields, and one whole edit of each table.
    const auto with_set = [](Frame record, const NetPattern& p) {
        GeneralConfig g(record.data());
        g.set_ethernet_ip(p.ethernet_ip);
        g.set_ethernet_mask(p.ethernet_mask);
        g.set_gateway(p.gateway);
        g.set_bootp_start_ip(p.bootp_start_ip);
        g.set_bootp_end_ip(p.bootp_end_ip);
        g.set_ppp_ip(p.ppp_ip);
        g.set_ppp_mask(p.ppp_mask);
        g.set_ppp_client_ip(p.ppp_client_ip);
        g.set_server_on(p.server_on);
        g.set_bootp_on(p.bootp_on);
        return record;
    };
    const NetPattern p = PatternFor(77);
    EXPECT_EQ(check.Filed(with_set(first.general, p)), std::nullopt);
    Frame user = first.user;
    UserConfig(user.data()).DeleteByName("viewer");
    UserConfig(user.data()).AddUser("u5", "p5");
    EXPECT_EQ(check.Filed(user), std::nullopt);
    Frame domain = first.domain;
    DomainConfig(domain.data()).AddDomain("d9.example", WholeRecordCheck::DomainIpFor(9));
    EXPECT_EQ(check.Filed(domain), std::nullopt);
    // Another camera's address set in this camera's record: a whole reply of that camera's page.
    EXPECT_EQ(check.Filed(with_set(first.general, PatternOf(cameras[1].records.general))), std::nullopt);

    // Mixtures.
    Frame half = first.general;
    GeneralConfig(half.data()).set_ethernet_ip(p.ethernet_ip); // the rest of the set is the camera's own
    EXPECT_NE(check.Filed(half), std::nullopt);
    // A page never filled holds no set: collected, it would be all zeros.
    EXPECT_NE(check.Filed(with_set(first.general, NetPattern{0, 0, 0, 0, 0, 0, 0, 0, false, false})), std::nullopt);
    Frame torn = first.general; // the second half from another camera's record
    std::copy(cameras[1].records.general.begin() + 576, cameras[1].records.general.end(), torn.begin() + 576);
    EXPECT_NE(check.Filed(torn), std::nullopt);
    Frame crossed = first.user;
    WriteTextField(crossed.data() + user_layout::table + user_layout::password, user_layout::password_width, "p5");
    EXPECT_NE(check.Filed(crossed), std::nullopt);
    Frame other_kind = first.domain; // a user record's table over a domain record's header
    std::copy(first.user.begin() + 32, first.user.end(), other_kind.begin() + 32);
    EXPECT_NE(check.Filed(other_kind), std::nullopt);
    Frame stranger = first.user;
    stranger[kMacOffset + 5] = 0x7F;
    EXPECT_NE(check.Filed(stranger), std::nullopt);
    Frame image{};
    EXPECT_EQ(check.Image(image), std::nullopt) << "the frame image as at start-up";
    image = first.domain;
    SetFrameCommand(image, CMD_GET_USER);
    SetFrameReplyMode(image, 0);
    EXPECT_EQ(check.Image(image), std::nullopt) << "a search request carrying a record";
}

TEST(Stress, TheGuiThreadKeepsAnsweringAndEveryRecordStaysWholeUnderAFlood)
{
    sim::SimOptions options = LoopbackSim(kCameras);
    options.duplicate = 0.25;
    options.loss = 0.02;
    options.jitter_ms = 20;
    options.seed = 7;
    SheetRig rig(options, 2 << 20);
    ASSERT_TRUE(rig.Ready()) << rig.Why();
    const std::vector<sim::VirtualCamera> cameras = rig.simulator.Cameras();
    const WholeRecordCheck check(cameras);
    rig.OpenSheet();

    StressUser user(rig);
    ModalScript script([&](QWidget* w) { user.OnModal(w); });
    Watchdog watchdog([&] {
        const auto& r = rig.core.receiver.counters();
        return "receiver dispatched " + std::to_string(r.dispatched.load()) + ", refused " +
               std::to_string(r.refused.load()) + ", finished " + std::to_string(rig.core.receiver.finished());
    });
    IntegrityChecker checker(rig.core.state, check);

    rig.Search();
    ASSERT_TRUE(WaitUntil([&] { return rig.cameras()->count() > 0; }));
    int actions = 0;
    {
        Flooder flooder(rig.simulator.port(), rig.tool_port, cameras[0].records);
        const auto end = std::chrono::steady_clock::now() + kWorkTime;
        while (actions < kMaxActions && std::chrono::steady_clock::now() < end) {
            user.Act();
            ++actions;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        }
        EXPECT_GT(flooder.bursts(), 0);
    }

    // Every camera is found in the end, and listed once however often it answered.
    auto last_search = std::chrono::steady_clock::now();
    const bool all_listed = WaitUntil(
        [&] {
            if (rig.link.CameraCount() == std::size_t(kCameras) && rig.cameras()->count() == kCameras)
                return true;
            if (std::chrono::steady_clock::now() - last_search > 500ms) {
                rig.Search();
                last_search = std::chrono::steady_clock::now();
            }
            return false;
        },
        30000);
    checker.Stop();
    checker.CheckOnce();

    EXPECT_EQ(checker.problem_count(), 0u) << ::testing::PrintToString(checker.problems());
    EXPECT_GE(checker.passes(), 10u);
    EXPECT_TRUE(all_listed) << rig.cameras()->count() << " lines, " << rig.link.CameraCount() << " entries";

    std::set<MacAddress> known;
    for (const sim::VirtualCamera& camera : cameras)
        known.insert(camera.mac);
    std::set<MacAddress> listed;
    for (int i = 0; i < rig.cameras()->count(); ++i) {
        const MacAddress mac = ui::ScanMacLine(rig.cameras()->Text(i));
        EXPECT_TRUE(known.count(mac)) << rig.cameras()->Text(i).toStdString();
        EXPECT_TRUE(listed.insert(mac).second) << "listed twice: " << rig.cameras()->Text(i).toStdString();
        if (i > 0) {
            EXPECT_TRUE(ui::SortedListBox::LineLess(rig.cameras()->Text(i - 1), rig.cameras()->Text(i)));
        }
    }

    // Under the flood the receiver's queue is often full, and an
    // acknowledgement that finds it so is dropped, ending that sequence as a
    // lost one would; under ThreadSanitizer that can happen to every apply of
    // the run. Once the flood is over, an apply must get through.
    if (rig.simulator.Counters().apply_done == 0 && rig.state.current_camera()) {
        ++user.applies;
        rig.sheet->Apply();
        WaitUntil([&] { return rig.simulator.Counters().apply_done > 0; });
    }

    // The run did what it claims to.
    EXPECT_GT(user.logins_tried, 0);
    EXPECT_TRUE(rig.state.current_camera());
    EXPECT_GT(user.applies, 0);
    EXPECT_GT(user.progress_dialogs, 0);
    EXPECT_EQ(user.unexpected_windows, 0);
    EXPECT_GT(rig.simulator.Counters().records_stored, 0u);
    EXPECT_GT(rig.simulator.Counters().apply_done, 0u);
    std::cout << "stress: " << actions << " actions, " << user.logins_tried << " logins tried, " << user.applies
              << " applies, " << user.progress_dialogs << " progress dialogs; receiver dispatched "
              << rig.core.receiver.counters().dispatched.load() << ", refused "
              << rig.core.receiver.counters().refused.load() << "; simulator stored "
              << rig.simulator.Counters().records_stored << " records; " << checker.passes()
              << " integrity passes\n";
}

} // namespace
} // namespace vantoro::reliability
