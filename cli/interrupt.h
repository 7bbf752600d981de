#pragma once
// Ctrl+C during a search. While an InterruptCatcher lives, the first SIGINT
// only sets the flag, so the search ends early and the command can still
// print what was found; a second one ends the program as usual.

#include <atomic>
#include <csignal>

namespace vantoro::cli {

// Set by the first Ctrl+C under a catcher; never cleared.
const std::atomic<bool>* InterruptFlag();

class InterruptCatcher {
public:
    InterruptCatcher();
    ~InterruptCatcher(); // the previous handling again
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

private:
    struct sigaction previous_{};
};

} // namespace vantoro::cli
