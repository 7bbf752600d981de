#include "ui/link_shutdown.h"

#include "link/camera_link.h"

#include <QEventLoop>
#include <QTimer>

namespace vantoro::ui {

void ShutDownLink(CameraLink& link)
{
    ReceiverThread& receiver = link.receiver;
    if (receiver.running()) {
        receiver.RequestStop();
        if (!receiver.finished()) {
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
    }
    receiver.Stop();
    link.state.messenger.Attach(nullptr);
    link.transmitter.CloseLeftoverSocket();
}

} // namespace vantoro::ui
