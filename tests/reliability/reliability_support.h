#pragma once
// The whole tool on loopback for the reliability tests: the real sheet and the
// real link with its receiver thread, in WAN mode to 127.0.0.1, against an
// in-process camera simulator. Also a driver that answers modal windows as
// they open, frames sent into the tool's port from a socket of the test's own,
// and the checks that a record is one whole image of its camera.

#include "link/camera_link.h"
#include "link/link_core.h"
#include "link/records.h"
#include "tools/camera_sim/camera_simulator.h"
#include "ui/apply_progress_dialog.h"
#include "ui/config_sheet.h"
#include "ui/dns_config_page.h"
#include "ui/login_dialog.h"
#include "ui/net_config_page.h"
#include "ui/qt_link_windows.h"
#include "ui/security_config_page.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"
#include "util/dotted_address.h"

#include "ui/net_sheet_test_support.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vantoro::reliability {

using test::WaitUntil;

// Control ids the tests press and read.
namespace ids {
inline constexpr int kEthernetMask = 1000, kEthernetIp = 1003, kGateway = 1004, kPppMask = 1005, kPppIp = 1006;
inline constexpr int kCameraList = 1015, kServerOn = 1017, kServerOff = 1018, kBootpOn = 1019, kBootpOff = 1020;
inline constexpr int kAutoDetect = 1021, kWan = 1023, kWanAddress = 1024, kBootpStart = 1026, kBootpEnd = 1028;
inline constexpr int kPppClientIp = 1030, kReset = 1059;
inline constexpr int kUserList = 1039, kUserName = 1000, kPassword = 1001, kAddUser = 1042, kDeleteUser = 1060;
inline constexpr int kViewImage = 1088, kAdjust = 1089;
inline constexpr int kDomainList = 1045, kDomainName = 1047, kDomainIp = 1049, kAddDomain = 1051, kDeleteDomain = 1056;
inline constexpr int kUserLine = 1052, kDomainLine = 1053, kCameraLine = 1054, kGeneralLine = 1055, kCancel = 2;
} // namespace ids

inline const QStringList& InitialProgressLines()
{
    static const QStringList lines{"Setting USER Config.....", "Setting DOMAIN Config.....",
                                   "Setting CAMERA Config.....", "Setting GENERAL Config....."};
    return lines;
}

inline QStringList ProgressLines(QWidget* dialog)
{
    QStringList lines;
    for (int id : {ids::kUserLine, ids::kDomainLine, ids::kCameraLine, ids::kGeneralLine})
        lines << ui::Control<QLabel>(dialog, id)->text();
    return lines;
}

inline sim::SimOptions LoopbackSim(int cameras)
{
    sim::SimOptions options;
    options.cameras = cameras;
    options.bind_address = test::Loopback();
    options.port = 0; // the system picks; the link is pointed at it
    options.seed = 1;
    options.log_file = "/dev/null";
    return options;
}

inline bool SameBody(const Frame& a, const Frame& b)
{
    return std::equal(a.begin() + kMacOffset, a.end(), b.begin() + kMacOffset);
}

// First differing offset at or after 8, for failure messages.
inline std::string BodyDifference(const Frame& a, const Frame& b)
{
    for (std::size_t i = kMacOffset; i < kFrameSize; ++i) {
        if (a[i] != b[i])
            return "first difference at byte " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " +
                   std::to_string(b[i]);
    }
    return "bytes 8 to 1151 equal";
}

// A UDP socket of the test's own on 127.0.0.1.
class TestSocket {
public:
    TestSocket() : socket_(net::OpenBoundUdpSocket(test::Loopback(), 0)) {}
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;
    void Send(const Frame& frame, std::uint16_t port) const
    {
        net::SendTo(socket_.get(), frame.data(), frame.size(), test::Loopback(), port);
    }

private:
    net::UniqueFd socket_;
};

// A request as a test sends it to a simulator; the simulator answers to the
// sender's address at its reply port, that is to the tool.
inline Frame Request(std::uint32_t command)
{
    Frame f{};
    SetFrameCommand(f, command);
    return f;
}

// Answers each modal window once, as it opens, with the handler's action. The
// handler runs inside the window's own modal loop and may process events; a
// window that opens meanwhile is answered all the same, as every poll is a
// timer of its own.
class ModalScript {
public:
    explicit ModalScript(std::function<void(QWidget*)> handler) : handler_(std::move(handler)) { Schedule(); }
    int windows_seen = 0;

private:
    void Schedule()
    {
        QTimer::singleShot(1, &anchor_, [this] {
            Schedule();
            Poll();
        });
    }
    void Poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        for (const QPointer<QWidget>& seen : handled_) {
            if (seen == modal)
                return;
        }
        handled_.emplace_back(modal);
        ++windows_seen;
        handler_(modal);
    }

    std::function<void(QWidget*)> handler_;
    QObject anchor_; // pending polls go with the script
    std::vector<QPointer<QWidget>> handled_;
};

inline void TypeLogin(QWidget* login, const QString& name, const QString& password)
{
    ui::Control<QLineEdit>(login, 1000)->setText(name);
    ui::Control<QLineEdit>(login, 1001)->setText(password);
    ui::Control<QPushButton>(login, 1)->click();
}

inline void PressOk(QMessageBox* box)
{
    box->button(QMessageBox::Ok)->click();
}

// Fails the test and ends the process: a thread that hangs cannot be joined.
[[noreturn]] inline void FailHard(const std::string& why)
{
    std::fprintf(stderr, "reliability test: %s\n", why.c_str());
    std::fflush(stderr);
    ADD_FAILURE() << why;
    std::abort();
}

// Simulator, link and sheet of one test. The simulator serves its cameras on a
// port of its own on 127.0.0.1 and answers to the tool's port; the link is in
// WAN mode at 127.0.0.1 once OpenSheet() ran, and its broadcast address is
// 127.0.0.1 as well should anything ever go out in LAN mode. The link's
// receive buffer is the sheet's own unless a test asks for another: with the
// system's default (some 90 frames) a flood on a busy machine drops the
// acknowledgements the sheet never asks for again.
class SheetRig {
public:
    explicit SheetRig(sim::SimOptions options, int receive_buffer_bytes = LinkPorts{}.receive_buffer_bytes)
        : tool_port(test::FreeLoopbackPort()), simulator(WithReplyPort(std::move(options), tool_port)),
          sim_error(simulator.Start()), link(Ports(simulator.port(), tool_port, receive_buffer_bytes)),
          core(LinkInternals::Core(link)),
          state(link), windows(state)
    {
        SetDottedAddressLog(nullptr);
        link.SetObserver(&windows);
        receiver_bound = core.receiver.Start();
    }

    ~SheetRig()
    {
        // The receiver may be waiting on this thread: keep delivering until it left.
        core.receiver.RequestStop();
        if (!WaitUntil([&] { return core.receiver.finished(); }, 30000))
            FailHard("the receiver thread did not leave its loop within 30 s of the stop request");
        core.receiver.Stop();
        // The sheet (and with it the WAN address field) goes only now that nothing is sent any more.
        sheet.reset();
        link.SetObserver(nullptr);
        simulator.Stop();
        SetDottedAddressLog(stdout);
    }

    SheetRig(const SheetRig&) = delete;
    SheetRig& operator=(const SheetRig&) = delete;

    bool Ready() const { return !sim_error && receiver_bound; }
    std::string Why() const { return sim_error ? *sim_error : std::string("the receiver could not bind its port"); }

    // Shows the sheet, switches to WAN mode and points it at 127.0.0.1.
    void OpenSheet()
    {
        sheet = std::make_unique<ui::ConfigSheet>(state);
        sheet->show();
        ui::Control<QAbstractButton>(net(), ids::kWan)->click();
        ui::Control<QLineEdit>(net(), ids::kWanAddress)->setText(QStringLiteral("127.0.0.1"));
    }

    ui::NetConfigPage* net() const { return state.net_page; }
    ui::SortedListBox* cameras() const { return ui::Control<ui::SortedListBox>(net(), ids::kCameraList); }
    void Search() const { ui::Control<QPushButton>(net(), ids::kAutoDetect)->click(); }
    void PressSheetOk() const { sheet->buttons()->button(QDialogButtonBox::Ok)->click(); }

    bool HasAllRecords(const MacAddress& mac)
    {
        CameraEntry* entry = core.state.registry.FindCamera(mac);
        std::lock_guard guard(core.state.registry.guard());
        return entry && entry->general && entry->user && entry->domain;
    }

    // Searches and waits until every camera of the simulator is listed with all three records.
    bool SearchAndWaitForAll()
    {
        Search();
        const std::vector<sim::VirtualCamera> all = simulator.Cameras();
        return WaitUntil([&] {
            if (cameras()->count() < int(all.size()))
                return false;
            for (const auto& camera : all) {
                if (!HasAllRecords(camera.mac))
                    return false;
            }
            return true;
        });
    }

    // Logs in to the camera on line `row` with admin/admin, answering the prompt.
    bool LogIn(int row)
    {
        ModalScript script([](QWidget* w) {
            if (auto* login = qobject_cast<ui::LoginDialog*>(w))
                TypeLogin(login, QStringLiteral("admin"), QStringLiteral("admin"));
        });
        cameras()->setCurrentRow(row);
        return state.current_camera().has_value();
    }

    // A datagram into the tool's port, as any camera could send it.
    void Inject(const Frame& frame)
    {
        ++injected;
        injector.Send(frame, tool_port);
    }

    // Nothing in flight: the simulator handled all it took and sent all it
    // queued, and the tool dispatched (or refused) every datagram that was sent
    // to it. The caller knows that nothing else is on its way to the simulator.
    bool Quiet()
    {
        const sim::SimCounters c = simulator.Counters();
        const auto& r = core.receiver.counters();
        return c.handled == c.received && c.answers_queued == c.datagrams_sent + c.send_errors &&
               r.dispatched.load() + r.refused.load() == c.datagrams_sent + injected;
    }

    // The current camera's three records as they are now.
    struct Records {
        Frame general{}, user{}, domain{};
    };
    Records CurrentRecords()
    {
        Records r;
        const std::optional<MacAddress> mac = state.current_camera();
        CameraEntry* camera = mac ? core.state.registry.FindCamera(*mac) : nullptr;
        std::lock_guard guard(core.state.registry.guard());
        if (camera) {
            if (camera->general)
                r.general = *camera->general;
            if (camera->user)
                r.user = *camera->user;
            if (camera->domain)
                r.domain = *camera->domain;
        }
        return r;
    }

    std::uint16_t tool_port;
    sim::CameraSimulator simulator;
    Error sim_error;
    CameraLink link;
    LinkCore& core; // behind the link's front door, for what the checks look at
    ui::UiState state;
    ui::QtLinkWindows windows;
    bool receiver_bound = false;
    std::unique_ptr<ui::ConfigSheet> sheet;
    TestSocket injector;
    std::uint64_t injected = 0;

private:
    static sim::SimOptions WithReplyPort(sim::SimOptions options, std::uint16_t tool_port)
    {
        options.reply_port = tool_port;
        return options;
    }
    static LinkPorts Ports(std::uint16_t camera_port, std::uint16_t tool_port, int receive_buffer_bytes)
    {
        LinkPorts ports = test::TestPorts(camera_port, tool_port);
        ports.receive_buffer_bytes = receive_buffer_bytes;
        return ports;
    }
};

// ---------------------------------------------------------------------------
// Whole-image checks. The simulator's cameras start from records whose every
// byte is known; afterwards a record may differ from its camera's first image
// only in the fields that the pages write, and those fields must hold values
// that one whole edit or one whole reply put there.

// Address fields that the stress test types as one set, numbered k.
struct NetPattern {
    std::uint32_t ethernet_ip, ethernet_mask, gateway, bootp_start_ip, bootp_end_ip, ppp_ip, ppp_mask, ppp_client_ip;
    bool server_on, bootp_on;
};

inline NetPattern PatternFor(std::uint32_t k)
{
    const std::uint32_t hi = (k >> 8) & 0xFF, lo = k & 0xFF;
    const auto a = [](std::uint32_t w, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
        return w << 24 | x << 16 | y << 8 | z;
    };
    return {a(10, 200, hi, lo), a(255, 201, hi, lo), a(10, 202, hi, lo), a(10, 203, hi, lo),
            a(10, 204, hi, lo), a(10, 205, hi, lo), a(255, 206, hi, lo), a(10, 207, hi, lo),
            (k & 1) != 0,       (k & 2) != 0};
}

inline NetPattern PatternOf(const Frame& general)
{
    const GeneralConfigReader g(general.data());
    return {g.ethernet_ip(), g.ethernet_mask(), g.gateway(), g.bootp_start_ip(), g.bootp_end_ip(),
            g.ppp_ip(),      g.ppp_mask(),      g.ppp_client_ip(), g.server_on(), g.bootp_on()};
}

inline bool operator==(const NetPattern& a, const NetPattern& b)
{
    return a.ethernet_ip == b.ethernet_ip && a.ethernet_mask == b.ethernet_mask && a.gateway == b.gateway &&
           a.bootp_start_ip == b.bootp_start_ip && a.bootp_end_ip == b.bootp_end_ip && a.ppp_ip == b.ppp_ip &&
           a.ppp_mask == b.ppp_mask && a.ppp_client_ip == b.ppp_client_ip && a.server_on == b.server_on &&
           a.bootp_on == b.bootp_on;
}

class WholeRecordCheck {
public:
    explicit WholeRecordCheck(const std::vector<sim::VirtualCamera>& cameras)
    {
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            index_[cameras[i].mac] = i;
            originals_.push_back(cameras[i].records);
            net_sets_.push_back(PatternOf(cameras[i].records.general));
        }
    }

    // A record as filed in the registry: header included.
    std::optional<std::string> Filed(const Frame& record) const { return Check(record, true); }
    // The frame image: bytes 0 to 7 are whatever the last frame put there.
    std::optional<std::string> Image(const Frame& image) const
    {
        if (std::all_of(image.begin() + kMacOffset, image.end(), [](std::uint8_t b) { return b == 0; }))
            return std::nullopt; // as at start-up
        return Check(image, false);
    }

private:
    std::optional<std::string> Check(const Frame& f, bool header) const
    {
        const auto it = index_.find(FrameMac(f));
        if (it == index_.end())
            return "a record of a hardware address no camera has";
        const sim::CameraRecords& original = originals_[it->second];
        const std::string camera = "camera " + std::to_string(it->second) + ": ";
        const auto same = [&](const Frame& o, std::size_t from, std::size_t to) {
            return std::equal(f.begin() + std::ptrdiff_t(from), f.begin() + std::ptrdiff_t(to),
                              o.begin() + std::ptrdiff_t(from));
        };
        const std::size_t start = header ? 0 : kMacOffset;
        // Bytes 14 and 15 carry each kind's own filler, so they tell the kind.
        if (same(original.general, 14, 16)) {
            if (!same(original.general, start, 16) || !same(original.general, 28, 32))
                return camera + "general record: header bytes changed";
            if (auto why = General(f, original.general))
                return camera + "general record: " + *why;
            return std::nullopt;
        }
        if (same(original.user, 14, 16)) {
            if (!same(original.user, start, 32))
                return camera + "user record: header bytes changed";
            if (auto why = User(f))
                return camera + "user record: " + *why;
            return std::nullopt;
        }
        if (same(original.domain, 14, 16)) {
            if (!same(original.domain, start, 32))
                return camera + "domain record: header bytes changed";
            if (auto why = Domain(f, original.domain))
                return camera + "domain record: " + *why;
            return std::nullopt;
        }
        return camera + "bytes 14 and 15 belong to no record of this camera";
    }

    std::optional<std::string> General(const Frame& f, const Frame& original) const
    {
        using namespace general_layout;
        const std::size_t written[] = {server_on, bootp_on, gateway, ethernet_ip, ethernet_mask, bootp_start_ip,
                                       bootp_end_ip, ppp_ip, ppp_mask, ppp_client_ip, ppp_client_ip_copy};
        for (std::size_t off = 32; off < kFrameSize; ++off) {
            bool editable = false;
            for (std::size_t w : written)
                editable = editable || (off >= w && off < w + 4);
            if (!editable && f[off] != original[off])
                return "byte " + std::to_string(off) + " that no page writes was changed";
        }
        const GeneralConfigReader g(f.data());
        if (g.ppp_client_ip() != g.ppp_client_ip_copy())
            return std::string("the client address and its copy differ");
        // The switches: the camera's own value or exactly the 0 or 1 the page writes.
        for (std::size_t w : {server_on, bootp_on}) {
            const std::uint32_t v = LoadLe32(f.data() + w);
            if (v > 1 && v != LoadLe32(original.data() + w))
                return "switch word at " + std::to_string(w) + " holds " + std::to_string(v);
        }
        // The address set is one camera's own or one set the test typed.
        const NetPattern set = PatternOf(f);
        for (const NetPattern& camera_set : net_sets_) {
            if (set == camera_set)
                return std::nullopt;
        }
        const std::uint32_t k = set.ethernet_ip & 0xFFFF;
        if ((set.ethernet_ip >> 16) == 0x0AC8 && set == PatternFor(k))
            return std::nullopt;
        return "the address fields mix two sets: " + Describe(set);
    }

    // The ten values, each with the sets it belongs to: "c<n>" a camera's
    // own, "t<k>" a typed set, "empty" the fields of a page never filled.
    std::string Describe(const NetPattern& set) const
    {
        const auto words = [](const NetPattern& p) {
            return std::vector<std::uint32_t>{p.ethernet_ip, p.ethernet_mask, p.gateway, p.bootp_start_ip,
                                              p.bootp_end_ip, p.ppp_ip, p.ppp_mask, p.ppp_client_ip,
                                              std::uint32_t(p.server_on), std::uint32_t(p.bootp_on)};
        };
        const std::vector<std::uint32_t> values = words(set);
        std::vector<std::string> owners(values.size());
        // The switches match half of the cameras: the first few are named.
        const auto note = [&](const NetPattern& p, const std::string& name) {
            const std::vector<std::uint32_t> w = words(p);
            for (std::size_t i = 0; i < w.size(); ++i) {
                if (w[i] == values[i] && (i < 8 || owners[i].size() < 40))
                    owners[i] += " " + name;
            }
        };
        for (std::size_t c = 0; c < net_sets_.size(); ++c)
            note(net_sets_[c], "c" + std::to_string(c));
        note(NetPattern{0, 0, 0, 0, 0, 0, 0, 0, false, false}, "empty");
        // A typed address tells its set by its low two bytes.
        std::set<std::uint32_t> typed;
        for (std::size_t i = 0; i < 8; ++i)
            typed.insert(values[i] & 0xFFFF);
        for (std::uint32_t k : typed)
            note(PatternFor(k), "t" + std::to_string(k));
        std::string text;
        for (std::size_t i = 0; i < values.size(); ++i) {
            char value[16];
            if (i < 8)
                FormatDottedAddress(value, values[i]);
            else
                std::snprintf(value, sizeof value, "%u", values[i]);
            text += (i ? "; " : "") + std::string(value) + " [" + (owners[i].empty() ? " none" : owners[i]) + " ]";
        }
        return text;
    }

    static std::optional<std::string> User(const Frame& f)
    {
        const UserConfigReader users(f.data());
        for (int row = 0; row < user_layout::rows; ++row) {
            if (users.permissions(row) > 0x3FF)
                return "row " + std::to_string(row) + " has permission bits above bit 9";
            const std::string name = users.name(row);
            if (name.empty())
                continue;
            const std::string password = users.password(row);
            const bool own = (name == "admin" || name == "viewer" || name == "operator") && password == name;
            const bool typed = name.size() > 1 && name[0] == 'u' && password == "p" + name.substr(1);
            if (!own && !typed)
                return "row " + std::to_string(row) + " pairs name '" + name + "' with password '" + password + "'";
        }
        return std::nullopt;
    }

    static std::optional<std::string> Domain(const Frame& f, const Frame& original)
    {
        using namespace domain_layout;
        const std::size_t table_end = table + row_size * std::size_t(rows);
        if (!std::equal(f.begin() + std::ptrdiff_t(table_end), f.end(), original.begin() + std::ptrdiff_t(table_end)))
            return std::string("bytes behind the table were changed");
        const DomainConfigReader domains(f.data());
        for (int row = 0; row < rows; ++row) {
            const std::string name = domains.name(row);
            if (name.empty())
                continue;
            const std::string ip = domains.ip_text(row);
            if (ExpectedDomainIp(name) != ip)
                return "row " + std::to_string(row) + " pairs '" + name + "' with '" + ip + "'";
        }
        return std::nullopt;
    }

public:
    // The address text that belongs with a domain name: the simulator's own
    // rows, and "d<k>.example" rows that the stress test adds.
    static std::string ExpectedDomainIp(const std::string& name)
    {
        if (name == "ntp.vantoro.example")
            return "192.168.1.5";
        if (name == "mail.vantoro.example")
            return "192.168.1.6";
        unsigned n = 0;
        char tail[64] = {};
        if (std::sscanf(name.c_str(), "cam%u.%63s", &n, tail) == 2 && std::string(tail) == "vantoro.example")
            return "192.168.1." + std::to_string((9 + n) % 256);
        if (std::sscanf(name.c_str(), "d%u.%63s", &n, tail) == 2 && std::string(tail) == "example")
            return DomainIpFor(n);
        return "?";
    }
    static std::string DomainIpFor(unsigned k)
    {
        return "10.0." + std::to_string((k >> 8) & 0xFF) + "." + std::to_string(k & 0xFF);
    }

private:
    std::map<MacAddress, std::size_t> index_;
    std::vector<sim::CameraRecords> originals_;
    std::vector<NetPattern> net_sets_;
};

} // namespace vantoro::reliability
