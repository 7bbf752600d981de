// Vantoro Config: finds the cameras, runs the configuration sheet until the
// user closes it, then shuts the link down. Arguments are ignored.

#include "link/camera_link.h"
#include "link/socket_layer.h"
#include "ui/config_sheet.h"
#include "ui/qt_link_windows.h"
#include "ui/ui_state.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

namespace {

// The receiver may be waiting in a blocking call into this thread; keep
// delivering until its loop has left, so it can be joined.
void WaitForReceiver(vantoro::ReceiverThread& receiver)
{
    receiver.RequestStop();
    if (receiver.finished())
        return;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (receiver.finished())
            loop.quit();
    });
    poll.start();
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    vantoro::net::Startup();
    {
        vantoro::CameraLink link;
        vantoro::ui::UiState state(link);
        vantoro::ui::QtLinkWindows windows(state);
        link.state.messenger.Attach(&windows);
        link.receiver.Start(); // nothing is sent until the user searches

        vantoro::ui::RunConfigSheet(state);

        if (link.receiver.running())
            WaitForReceiver(link.receiver);
        link.receiver.Stop();
        link.state.messenger.Attach(nullptr);
        link.transmitter.CloseLeftoverSocket();
    }
    vantoro::net::Cleanup();
    return 0;
}
