#include "ui/qt_link_windows.h"

#include "ui/apply_progress_dialog.h"
#include "ui/list_line.h"
#include "ui/net_config_page.h"
#include "ui/ui_state.h"

#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace vantoro::ui {

namespace {

// The field is read as through a 1024-byte buffer.
constexpr int kWanReadLimit = 1023;

// Runs fn on obj's thread and waits for it; directly when already there.
//
// The hand-over is our own mutex and condition variable rather than a
// blocking queued connection: the waiting thread's writes (the received frame)
// and the result then pass between the threads through a lock that thread
// checkers can see. When the call is dropped unrun (the object went away), the
// functor's destruction still wakes the caller.
template <class Result, class Fn>
Result CallOnThreadOf(QObject* obj, Fn fn)
{
    if (QThread::currentThread() == obj->thread())
        return fn();

    struct Call {
        std::mutex mutex;
        std::condition_variable done_cv;
        bool done = false;
        Result result{};
    };
    // Marks the call done when the queued functor is destroyed, run or not.
    struct Completion {
        explicit Completion(std::shared_ptr<Call> c) : call(std::move(c)) {}
        Completion(const Completion&) = delete;
        Completion& operator=(const Completion&) = delete;
        std::shared_ptr<Call> call;
        ~Completion()
        {
            {
                std::lock_guard lock(call->mutex);
                call->done = true;
            }
            call->done_cv.notify_all();
        }
    };
    auto call = std::make_shared<Call>();
    {
        // Publishes everything this thread wrote so far to the GUI thread,
        // which takes the same lock before it runs fn.
        std::lock_guard lock(call->mutex);
    }
    auto completion = std::make_shared<Completion>(call);
    QMetaObject::invokeMethod(
        obj,
        [completion, fn]() mutable {
            {
                std::lock_guard lock(completion->call->mutex);
            }
            Result r = fn();
            std::lock_guard lock(completion->call->mutex);
            completion->call->result = std::move(r);
        },
        Qt::QueuedConnection);
    completion.reset();
    std::unique_lock lock(call->mutex);
    call->done_cv.wait(lock, [&] { return call->done; });
    return std::move(call->result);
}

} // namespace

QtLinkWindows::QtLinkWindows(UiState& state, QObject* parent) : QObject(parent), state_(state) {}

bool QtLinkWindows::SendToWindow(LinkWindow target, std::uint32_t message)
{
    return CallOnThreadOf<bool>(this, [&] { return Deliver(target, message); });
}

std::string QtLinkWindows::WanAddressText()
{
    return CallOnThreadOf<std::string>(this, [&] { return ReadWanAddress(); });
}

bool QtLinkWindows::Deliver(LinkWindow target, std::uint32_t message)
{
    // The window is looked up here, on its own thread, so it cannot go away
    // between the lookup and the call.
    switch (target) {
    case LinkWindow::NetConfigPage:
        if (!state_.net_page)
            return false;
        if (message == WM_CAMERA_FOUND)
            state_.net_page->HandleCameraFound();
        return true;
    case LinkWindow::ProgressDialog:
        if (!state_.progress_window)
            return false;
        state_.progress_window->HandleMessage(message);
        return true;
    }
    return false;
}

std::string QtLinkWindows::ReadWanAddress() const
{
    if (!state_.net_page)
        return std::string();
    return ToRecordText(state_.net_page->WanAddressText().left(kWanReadLimit));
}

} // namespace vantoro::ui
