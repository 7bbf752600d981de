// Vantoro Config: finds the cameras, runs the configuration sheet until the
// user closes it, then shuts the link down. Arguments are ignored.

#include "link/camera_link.h"
#include "link/socket_layer.h"
#include "ui/config_sheet.h"
#include "ui/link_shutdown.h"
#include "ui/qt_link_windows.h"
#include "ui/ui_state.h"
#include "vantoro_version.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    vantoro::net::Startup();
    QApplication::setApplicationVersion(QString::fromLatin1(vantoro::kVantoroVersion));
    {
        vantoro::CameraLink link;
        vantoro::ui::UiState state(link);
        vantoro::ui::QtLinkWindows windows(state);
        link.state.messenger.Attach(&windows);
        link.receiver.Start(); // nothing is sent until the user searches

        vantoro::ui::RunConfigSheet(state);

        vantoro::ui::ShutDownLink(link);
    }
    vantoro::net::Cleanup();
    return 0;
}
