#include "ui/thread_handover.h"

namespace vantoro::ui {

std::mutex& PostLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace vantoro::ui
