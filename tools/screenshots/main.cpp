// vantoro-screenshots: renders the sheet's four pages and the login and
// progress dialogs to PNG files for the documentation. Simulated cameras run
// in-process on loopback, so the pages show a real search and a logged-in
// camera. Usage: vantoro-screenshots OUTPUT_DIRECTORY

#include "link/camera_link.h"
#include "net/socket_layer.h"
#include "tools/camera_sim/camera_simulator.h"
#include "ui/apply_progress_dialog.h"
#include "ui/config_sheet.h"
#include "ui/login_dialog.h"
#include "ui/net_config_page.h"
#include "ui/qt_link_windows.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"
#include "ui/window_messages.h"
#include "util/dotted_address.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <mutex>
#include <vector>

namespace {

using namespace vantoro;

constexpr int kCameras = 4;
constexpr int kWaitMs = 10000;

// Control ids of the Net Config page used here.
constexpr int kCameraList = 1015;
constexpr int kAutoDetect = 1021;
constexpr int kWan = 1023;
constexpr int kWanAddress = 1024;
// Of the login dialog.
constexpr int kLoginName = 1000;
constexpr int kLoginPassword = 1001;

bool WaitUntil(const std::function<bool()>& done, int bound_ms = kWaitMs)
{
    QDeadlineTimer deadline(bound_ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Lets layouts and repaints settle before a grab.
void Settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::uint16_t FreeLoopbackPort()
{
    const net::UniqueFd s = net::OpenBoundUdpSocket(net::InetAddr("127.0.0.1"), 0);
    return s.valid() ? net::LocalPort(s.get()) : 0;
}

bool Save(QWidget* widget, const QDir& out, const char* name)
{
    Settle();
    const QString path = out.filePath(QString::fromLatin1(name));
    if (!widget->grab().save(path, "PNG")) {
        std::fprintf(stderr, "vantoro-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool HasAllRecords(CameraLink& link, const MacAddress& mac)
{
    const auto camera = link.Camera(mac);
    return camera && camera->complete();
}

// Searches in WAN mode at 127.0.0.1, where the simulator listens, logs in to
// the first camera and grabs each tab.
bool RenderSheet(ui::UiState& state, ui::ConfigSheet& sheet, const std::vector<sim::VirtualCamera>& cameras,
                 const QDir& out)
{
    sheet.show();
    Settle();
    ui::NetConfigPage* net = state.net_page;
    if (!net) {
        std::fprintf(stderr, "vantoro-screenshots: the Net Config page was not built\n");
        return false;
    }
    ui::Control<QAbstractButton>(net, kWan)->click();
    ui::Control<QLineEdit>(net, kWanAddress)->setText(QStringLiteral("127.0.0.1"));
    ui::Control<QAbstractButton>(net, kAutoDetect)->click();

    auto* list = ui::Control<ui::SortedListBox>(net, kCameraList);
    const bool found = WaitUntil([&] {
        if (list->count() != kCameras)
            return false;
        for (const sim::VirtualCamera& camera : cameras) {
            if (!HasAllRecords(state.link, camera.mac))
                return false;
        }
        return true;
    });
    if (!found) {
        std::fprintf(stderr, "vantoro-screenshots: the search listed %d of %d cameras\n", int(list->count()),
                     kCameras);
        return false;
    }

    // Remembered credentials log in without a prompt. Should a dialog open
    // anyway, close it rather than wait for a user who is not there.
    state.remembered_user = "admin";
    state.remembered_password = "admin";
    bool unexpected_dialog = false;
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            unexpected_dialog = true;
            dialog->done(0);
        }
    });
    watchdog.start(500);
    list->setCurrentRow(0);
    watchdog.stop();
    if (unexpected_dialog || !state.current_camera()) {
        std::fprintf(stderr, "vantoro-screenshots: logging in to the first camera failed\n");
        return false;
    }
    // The camera list paints at a slower pace while cameras are coming in.
    WaitUntil([&] { return list->updatesEnabled(); });

    static const char* const kFiles[] = {"net-config.png", "dns-config.png", "security-config.png",
                                         "camera-names.png"};
    for (int i = 0; i < 4; ++i) {
        sheet.tabs()->setCurrentIndex(i);
        if (!Save(&sheet, out, kFiles[i]))
            return false;
    }
    sheet.tabs()->setCurrentIndex(0);
    return true;
}

bool RenderDialogs(ui::UiState& state, const QDir& out)
{
    bool ok = true;
    {
        ui::LoginDialog login(state);
        ui::Control<QLineEdit>(&login, kLoginName)->setText(QStringLiteral("admin"));
        ui::Control<QLineEdit>(&login, kLoginPassword)->setText(QStringLiteral("admin"));
        login.show();
        ok = Save(&login, out, "login.png") && ok;
        login.hide(); // its close box is refused on purpose
    }
    {
        ui::ApplyProgressDialog progress(state);
        progress.show();
        progress.HandleMessage(DoneMessage(ApplyStep::User));
        ok = Save(&progress, out, "progress.png") && ok;
        progress.reject();
    }
    return ok;
}

// The receiver may be waiting in a blocking call into this thread; keep
// delivering until its loop has left, then join it.
void StopReceiver(CameraLink& link)
{
    if (!link.running())
        return;
    link.RequestStop();
    WaitUntil([&] { return link.finished(); }, 60000);
    link.Stop();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // A steady text cursor, so the same run gives the same images.
    QApplication::setCursorFlashTime(0);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vantoro-screenshots OUTPUT_DIRECTORY\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "vantoro-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }
    // Parsing the edits logs to standard output, which lists the files here.
    SetDottedAddressLog(nullptr);

    const std::uint16_t tool_port = FreeLoopbackPort();
    sim::SimOptions options;
    options.cameras = kCameras;
    options.bind_address = net::InetAddr("127.0.0.1");
    options.port = 0;
    options.reply_port = tool_port;
    options.seed = 1;
    options.log_file = "/dev/null";
    sim::CameraSimulator simulator(options);
    if (const Error error = simulator.Start()) {
        std::fprintf(stderr, "vantoro-screenshots: the camera simulator did not start: %s\n", error->c_str());
        return 1;
    }

    LinkPorts ports;
    ports.camera_port = simulator.port();
    ports.tool_port = tool_port;
    ports.broadcast_address = "127.0.0.1"; // nothing leaves loopback, whatever is pressed
    ports.list_interfaces = LoopbackInterfaceOnly;
    bool ok = false;
    {
        CameraLink link(ports);
        ui::UiState state(link);
        ui::QtLinkWindows windows(state);
        link.SetObserver(&windows);
        const bool listening = !link.Start();
        {
            ui::ConfigSheet sheet(state);
            if (listening)
                ok = RenderSheet(state, sheet, simulator.Cameras(), out) && RenderDialogs(state, out);
            else
                std::fprintf(stderr, "vantoro-screenshots: cannot listen on 127.0.0.1:%u\n", unsigned(tool_port));
            StopReceiver(link); // while the page it may be calling still exists
        }
        link.SetObserver(nullptr);
    }
    simulator.Stop();
    SetDottedAddressLog(stdout);
    return ok ? 0 : 1;
}
