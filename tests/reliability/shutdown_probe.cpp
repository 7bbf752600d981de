// Runs the tool's start-up and shutdown sequence with the receiver blocked in
// a synchronous call into this thread at the moment the sheet closes, and
// exits 0 when everything went as it should. The shutdown is the one
// app/main.cpp runs.
//
//   reliability_shutdown_probe found     a new camera announced to the Net Config page
//   reliability_shutdown_probe progress  an acknowledgement reported to an open progress dialog
//   reliability_shutdown_probe wan       the WAN address read for the next apply step
//   reliability_shutdown_probe nothread  no receiver: the system refuses its threads
//
// All sockets are on loopback; the probe's "camera" port only listens, and
// nothing must arrive there.

#include "link/camera_link.h"
#include "link/link_core.h"
#include "net/socket_layer.h"
#include "ui/apply_progress_dialog.h"
#include "ui/config_sheet.h"
#include "ui/link_shutdown.h"
#include "ui/net_config_page.h"
#include "ui/qt_link_windows.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"
#include "util/dotted_address.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>

namespace {

using namespace vantoro;

// Passes calls on and tells which one is under way. With messages_pass off
// every message is answered as undelivered here, so the first call that waits
// for the GUI thread is the address read.
class WatchedWindows final : public LinkObserver {
public:
    enum Call { kNone = 0, kMessage = 1, kWanText = 2 };
    WatchedWindows(LinkObserver& inner, bool messages_pass) : inner_(inner), messages_pass_(messages_pass) {}

    void CameraFound(const MacAddress& mac) override
    {
        Watch([&] { inner_.CameraFound(mac); });
    }
    void StepAcknowledged(ApplyStep step, const Frame& acknowledgement) override
    {
        Watch([&] { inner_.StepAcknowledged(step, acknowledgement); });
    }
    std::string WanAddressText() override
    {
        pending.store(kWanText);
        std::string text = inner_.WanAddressText();
        pending.store(kNone);
        completed.fetch_add(1);
        return text;
    }

    std::atomic<int> pending{kNone};
    std::atomic<int> completed{0};

private:
    template <class Call>
    void Watch(Call call)
    {
        if (!messages_pass_)
            return;
        pending.store(kMessage);
        call();
        pending.store(kNone);
        completed.fetch_add(1);
    }

    LinkObserver& inner_;
    const bool messages_pass_;
};

std::uint32_t Loopback()
{
    return net::InetAddr("127.0.0.1");
}

// Waits, without delivering anything to this thread, until done() or the bound passes.
template <class Done>
bool SpinUntil(Done done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int Fail(const char* why)
{
    std::fprintf(stderr, "shutdown probe: %s\n", why);
    return 1;
}

// Before the shutdown has run the receiver cannot be joined safely: leave at once.
[[noreturn]] void Abandon(const char* why)
{
    std::fprintf(stderr, "shutdown probe: %s\n", why);
    std::fflush(stderr);
    std::_Exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string mode = argc > 1 ? argv[1] : "found";
    if (mode != "found" && mode != "progress" && mode != "wan" && mode != "nothread")
        return Fail("mode must be found, progress, wan or nothread");

    QApplication app(argc, argv);
    SetDottedAddressLog(nullptr);
    int status = 0;

    // Ports of the probe's own: a listening "camera" and a free tool port.
    const net::UniqueFd camera_socket = net::OpenBoundUdpSocket(Loopback(), 0);
    const net::UniqueFd probe_socket = net::OpenBoundUdpSocket(Loopback(), 0);
    const net::Socket camera = camera_socket.get();
    const net::Socket probe = probe_socket.get();
    const std::uint16_t tool_port = [] {
        const net::UniqueFd s = net::OpenBoundUdpSocket(Loopback(), 0);
        return net::LocalPort(s.get());
    }();
    LinkPorts ports;
    ports.camera_port = net::LocalPort(camera);
    ports.tool_port = tool_port;
    ports.broadcast_address = "127.0.0.1";
    ports.list_interfaces = LoopbackInterfaceOnly;

    {
        CameraLink link(ports);
        ui::UiState state(link);
        ui::QtLinkWindows windows(state);
        WatchedWindows watched(windows, mode != "wan");
        link.SetObserver(&watched);
        if (mode == "nothread") {
            // Start-up with no thread to be had: the sheet opens, the shutdown joins nothing.
            LinkInternals::Core(link).receiver.SetThreadStarter([](std::function<void()>) -> std::thread {
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            });
            LinkInternals::Core(link).receiver.Start();
            {
                ui::ConfigSheet sheet(state);
                sheet.show();
                QCoreApplication::processEvents();
                if (!sheet.isVisible())
                    status = Fail("the sheet did not open");
            }
            ui::ShutDownLink(link);
            if (LinkInternals::Core(link).receiver.running())
                status = Fail("a receiver runs");
            std::printf("shut down without a receiver\n");
            return status;
        }
        if (!LinkInternals::Core(link).receiver.Start())
            Abandon("the receiver could not bind its port");

        {
            // The sheet's run, without its modal loop: the GUI thread is busy
            // elsewhere while the datagram comes in.
            ui::ConfigSheet sheet(state);
            sheet.show();
            QWidget* net_page = state.net_page;
            ui::Control<QAbstractButton>(net_page, 1023)->click(); // WAN, at the probe's loopback
            ui::Control<QLineEdit>(net_page, 1024)->setText(QStringLiteral("127.0.0.1"));
            ui::ApplyProgressDialog* dialog = nullptr;
            if (mode == "progress")
                dialog = new ui::ApplyProgressDialog(state, net_page); // open, as after OK

            // No current camera: an acknowledgement sends no next record.
            Frame frame{};
            SetFrameCommand(frame, mode == "found" ? CMD_GENERAL_REPLY : CMD_USER_SET_ACK);
            SetFrameMac(frame, {0x00, 0x0A, 0x0B, 0x00, 0x00, 0x01});
            net::SendTo(probe, frame.data(), frame.size(), Loopback(), tool_port);

            if (!SpinUntil([&] { return watched.pending.load() != WatchedWindows::kNone; }))
                Abandon("the datagram never reached a call into the GUI thread");
            if (mode == "wan" && watched.pending.load() != WatchedWindows::kWanText)
                Abandon("the receiver waits for something other than the WAN address");
            const int completed_before = watched.completed.load();
            // Still pending: nothing was delivered, the receiver is waiting on us.
            if (mode == "found" && ui::Control<ui::SortedListBox>(net_page, 1015)->count() != 0)
                Abandon("the camera was listed before the GUI thread delivered anything");
            if (mode == "progress" &&
                ui::Control<QLabel>(dialog, 1052)->text() != QStringLiteral("Setting USER Config....."))
                Abandon("the progress line changed before the GUI thread delivered anything");
            std::printf("pending call %d, completed %d, dispatched %llu\n", watched.pending.load(), completed_before,
                        static_cast<unsigned long long>(LinkInternals::Core(link).receiver.counters().dispatched.load()));
        } // the sheet closes with the call still pending

        // The shutdown of app/main.cpp.
        ui::ShutDownLink(link);

        if (watched.pending.load() != WatchedWindows::kNone)
            status = Fail("the pending call never returned");
        if (LinkInternals::Core(link).receiver.running() || !LinkInternals::Core(link).receiver.finished())
            status = Fail("the receiver is still running");
        if (LinkInternals::Core(link).receiver.counters().dispatched.load() != 1)
            status = Fail("not exactly one datagram was dispatched");
        std::printf("after shutdown: completed %d\n", watched.completed.load());
    }

    if (net::WaitReadable(camera, 0))
        status = Fail("a frame was sent during shutdown");
    return status;
}
