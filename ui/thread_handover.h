#pragma once
// Hands work to the thread of a QObject: the way the receiver thread reaches
// the GUI thread.

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace vantoro::ui {

// Qt passes a queued functor to the other thread under its own lock, which
// thread checkers cannot see. The functor is posted under this lock and takes
// it first thing when it runs, so its captures, written while it is posted,
// are seen to pass between the threads.
std::mutex& PostLock();

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
    auto completion = std::make_shared<Completion>(call);
    {
        // Publishes everything this thread wrote so far, the functor included,
        // to the GUI thread, which takes the same lock before it runs fn.
        std::lock_guard post(PostLock());
        QMetaObject::invokeMethod(
            obj,
            [completion, fn]() mutable {
                {
                    std::lock_guard post(PostLock());
                }
                Result r = fn();
                std::lock_guard lock(completion->call->mutex);
                completion->call->result = std::move(r);
            },
            Qt::QueuedConnection);
    }
    completion.reset();
    std::unique_lock lock(call->mutex);
    call->done_cv.wait(lock, [&] { return call->done; });
    return std::move(call->result);
}


// Queues fn to run on obj's thread and returns at once, with the same
// visible hand-over as CallOnThreadOf.
template <class Fn>
void PostToThreadOf(QObject* obj, Fn fn)
{
    std::lock_guard post(PostLock());
    QMetaObject::invokeMethod(
        obj,
        [fn]() mutable {
            {
                std::lock_guard post(PostLock());
            }
            fn();
        },
        Qt::QueuedConnection);
}

} // namespace vantoro::ui
