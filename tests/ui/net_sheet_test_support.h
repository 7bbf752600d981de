#pragma once
// Shared by the Net Config page, sheet and end-to-end tests: loopback ports, a listening "camera" socket, record builders,
// and a driver that answers the modal dialogs and message boxes as they open.

#include "link/camera_link.h"
#include "link/config_frame.h"
#include "link/link_core.h"
#include "link/link_ports.h"
#include "link/records.h"
#include "net/socket_layer.h"
#include "ui/login_dialog.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vantoro::test {

// The application that the widget tests' main made.
inline QApplication& App()
{
    return *qobject_cast<QApplication*>(QCoreApplication::instance());
}

// Processes events until done() or the bound passes; returns done().
inline bool WaitUntil(const std::function<bool()>& done, int bound_ms = 10000)
{
    QDeadlineTimer deadline(bound_ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

inline std::uint32_t Loopback()
{
    return net::InetAddr("127.0.0.1");
}

// A UDP port on loopback that nothing holds right now.
inline std::uint16_t FreeLoopbackPort()
{
    const net::UniqueFd s = net::OpenBoundUdpSocket(Loopback(), 0);
    return s.valid() ? net::LocalPort(s.get()) : 0;
}

// Ports of one test. A LAN-mode "search" goes to 127.0.0.1 through the
// loopback interface only: no test reaches a real network.
inline LinkPorts TestPorts(std::uint16_t camera_port, std::uint16_t tool_port)
{
    LinkPorts ports;
    ports.camera_port = camera_port;
    ports.tool_port = tool_port;
    ports.broadcast_address = "127.0.0.1";
    ports.list_interfaces = LoopbackInterfaceOnly;
    return ports;
}

// Behind the link's front door: the registry, the frame image and the
// receiver the tests look at and drive directly.
inline LinkCore& Core(CameraLink& link)
{
    return LinkInternals::Core(link);
}
// The current camera's registry entry, to compare with the entries filed.
inline CameraEntry* CurrentEntry(const ui::UiState& state)
{
    const std::optional<MacAddress> mac = state.current_camera();
    return mac ? Core(state.link).state.registry.FindCamera(*mac) : nullptr;
}

// For a link whose receiver is never started: the product's ports, and no
// interface at all, so nothing a LAN-mode action sends can leave.
inline LinkPorts OfflinePorts()
{
    LinkPorts ports;
    ports.broadcast_address = "127.0.0.1";
    ports.list_interfaces = NoInterfaces;
    return ports;
}

// Stands where a camera would listen: bound to 127.0.0.1 on a port of its own.
class LoopbackCamera {
public:
    LoopbackCamera() : socket_(net::OpenBoundUdpSocket(Loopback(), 0)) { port_ = net::LocalPort(socket_.get()); }
    LoopbackCamera(const LoopbackCamera&) = delete;
    LoopbackCamera& operator=(const LoopbackCamera&) = delete;

    std::uint16_t port() const { return port_; }

    // The next datagram, waiting at most bound_ms; none when nothing came.
    std::optional<std::vector<std::uint8_t>> Receive(int bound_ms = 5000)
    {
        if (!net::WaitReadable(socket_.get(), bound_ms))
            return std::nullopt;
        std::vector<std::uint8_t> bytes(kFrameSize + 64);
        const long n = net::ReceiveFrom(socket_.get(), bytes.data(), bytes.size());
        if (n < 0)
            return std::nullopt;
        bytes.resize(std::size_t(n));
        return bytes;
    }

    // Sends a marker to itself, so that "nothing else came first" can be
    // checked without waiting for an absence.
    void SendMarker()
    {
        Frame marker{};
        SetFrameCommand(marker, kMarker);
        net::SendTo(socket_.get(), marker.data(), marker.size(), Loopback(), port_);
    }
    static bool IsMarker(const std::vector<std::uint8_t>& bytes)
    {
        return bytes.size() == kFrameSize && LoadLe32(bytes.data()) == kMarker;
    }

private:
    static constexpr std::uint32_t kMarker = 0xA5A5F00D;
    net::UniqueFd socket_;
    std::uint16_t port_ = 0;
};

inline Frame FrameFromBytes(const std::vector<std::uint8_t>& bytes)
{
    Frame f{};
    for (std::size_t i = 0; i < bytes.size() && i < kFrameSize; ++i)
        f[i] = bytes[i];
    return f;
}

// A record reply of a camera: every byte the tool does not name holds a
// pattern, so a byte moved or lost shows in a comparison.
inline Frame MakeReply(std::uint32_t command, const MacAddress& mac)
{
    Frame f;
    for (std::size_t i = 0; i < kFrameSize; ++i)
        f[i] = std::uint8_t(0x5A ^ (i * 7) ^ command);
    SetFrameCommand(f, command);
    SetFrameReplyMode(f, 0);
    SetFrameMac(f, mac);
    return f;
}

inline Frame MakeGeneral(const MacAddress& mac)
{
    Frame f = MakeReply(CMD_GENERAL_REPLY, mac);
    GeneralConfig g(f.data());
    g.set_ethernet_ip(0xC0A8010A);
    g.set_ethernet_mask(0xFFFFFF00);
    g.set_gateway(0xC0A80101);
    g.set_server_on(false);
    g.set_bootp_on(true);
    g.set_bootp_start_ip(0xC0A80164);
    g.set_bootp_end_ip(0xC0A801C8);
    g.set_ppp_ip(0x0A400001);
    g.set_ppp_mask(0xFFFFFFFC);
    g.set_ppp_client_ip(0x0A400002);
    StoreLe32(f.data() + general_layout::firmware_version, 0x00010005);
    return f;
}

// A user table whose rows are cleared, then the given rows written at their index.
struct UserRow {
    int row;
    std::string name;
    std::string password;
};

inline Frame MakeUsers(const MacAddress& mac, const std::vector<UserRow>& rows)
{
    Frame f = MakeReply(CMD_USER_REPLY, mac);
    for (int r = 0; r < user_layout::rows; ++r)
        f[user_layout::table + user_layout::row_size * std::size_t(r) + user_layout::name] = 0;
    for (const UserRow& row : rows) {
        std::uint8_t* base = f.data() + user_layout::table + user_layout::row_size * std::size_t(row.row);
        WriteTextField(base + user_layout::name, user_layout::name_width, row.name);
        WriteTextField(base + user_layout::password, user_layout::password_width, row.password);
    }
    return f;
}

// Answers modal windows as they open: a LoginDialog gets the next queued
// credentials typed and OK pressed; a message box is recorded and closed.
class ModalDriver {
public:
    struct Notice {
        QString text;
        QString caption;
        int buttons = 0;
        bool ok_only = false;
        bool has_owner = false;
    };

    ModalDriver()
    {
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }

    void QueueLogin(std::string name, std::string password) { logins_.emplace_back(std::move(name), std::move(password)); }
    // Other modal dialogs (the progress dialog) go to this handler.
    void OnOtherDialog(std::function<void(QWidget*)> handler) { other_ = std::move(handler); }

    int login_prompts = 0;
    std::vector<Notice> notices;
    std::vector<QString> other_dialogs; // class names, in order of opening

private:
    void Poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == handled_)
            return;
        handled_ = modal;
        if (auto* login = qobject_cast<ui::LoginDialog*>(modal)) {
            ++login_prompts;
            std::pair<std::string, std::string> typed;
            if (!logins_.empty()) {
                typed = logins_.front();
                logins_.pop_front();
            }
            ui::Control<QLineEdit>(login, 1000)->setText(QString::fromStdString(typed.first));
            ui::Control<QLineEdit>(login, 1001)->setText(QString::fromStdString(typed.second));
            ui::Control<QPushButton>(login, 1)->click();
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            Notice n;
            n.text = box->text();
            n.caption = box->windowTitle();
            n.buttons = int(box->buttons().size());
            n.ok_only = box->standardButtons() == QMessageBox::Ok;
            n.has_owner = box->parentWidget() != nullptr;
            notices.push_back(n);
            box->button(QMessageBox::Ok)->click();
        } else {
            other_dialogs.push_back(QString::fromLatin1(modal->metaObject()->className()));
            if (other_)
                other_(modal);
        }
    }

    QTimer timer_;
    QPointer<QWidget> handled_;
    std::deque<std::pair<std::string, std::string>> logins_;
    std::function<void(QWidget*)> other_;
};

} // namespace vantoro::test
