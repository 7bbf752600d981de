#include "ui/link_shutdown.h"

#include "link/camera_link.h"

#include <QEventLoop>
#include <QTimer>

namespace vantoro::ui {

void ShutDownLink(CameraLink& link)
{
    if (link.running()) {
        link.RequestStop();
        if (!link.finished()) {
            QEventLoop loop;
            QTimer poll;
            poll.setInterval(5);
            QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                if (link.finished())
                    loop.quit();
            });
            poll.start();
            loop.exec();
        }
    }
    link.Stop();
    link.SetObserver(nullptr);
}

} // namespace vantoro::ui
