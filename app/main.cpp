// Vantoro Config: finds the cameras, runs the configuration sheet until the
// user closes it, then shuts the link down. Arguments are ignored.

#include "link/camera_link.h"
#include "ui/config_sheet.h"
#include "ui/link_shutdown.h"
#include "ui/qt_link_windows.h"
#include "ui/ui_state.h"
#include "vantoro_version.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    // Qt would take its own options from the command line (-reverse,
    // -stylesheet FILE, ...); the tool reads none, so Qt sees only the program
    // name. Its QT_* environment variables still apply.
    char fallback_name[] = "vantoro-config";
    char* qt_argv[] = {argc > 0 && argv[0] ? argv[0] : fallback_name, nullptr};
    int qt_argc = 1;
    QApplication app(qt_argc, qt_argv);
    QApplication::setApplicationVersion(QString::fromLatin1(vantoro::kVantoroVersion));
    {
        vantoro::CameraLink link;
        vantoro::ui::UiState state(link);
        vantoro::ui::QtLinkWindows windows(state);
        link.SetObserver(&windows);
        // Nothing is sent until the user searches. Without the tool port the
        // sheet still opens, but no camera's answer can reach it.
        if (auto error = link.Start())
            std::fprintf(stderr, "vantoro-config: %s\n", error->c_str());

        vantoro::ui::RunConfigSheet(state);

        vantoro::ui::ShutDownLink(link);
    }
    return 0;
}
