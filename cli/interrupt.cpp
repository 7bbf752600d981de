#include "cli/interrupt.h"

namespace vantoro::cli {

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnInterrupt(int)
{
    interrupted.store(true);
}

} // namespace

const std::atomic<bool>* InterruptFlag()
{
    return &interrupted;
}

InterruptCatcher::InterruptCatcher()
{
    struct sigaction action{};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND; // the second Ctrl+C is the system's again
    sigaction(SIGINT, &action, &previous_);
}

InterruptCatcher::~InterruptCatcher()
{
    sigaction(SIGINT, &previous_, nullptr);
}

} // namespace vantoro::cli
