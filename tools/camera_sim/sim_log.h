#pragma once
// The simulator's log: one line per event, flushed at once so a test or script
// can read the file while the simulator runs. Safe to use from any thread.

#include "util/result.h"
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

namespace vantoro::sim {

class SimLog final {
public:
    // Logs to standard error.
    SimLog();
    ~SimLog();
    SimLog(const SimLog&) = delete;
    SimLog& operator=(const SimLog&) = delete;

    // Appends to `path` from now on; returns an error text when it cannot be opened.
    Error OpenFile(const std::string& path);
    void Line(const std::string& text);

private:
    std::mutex lock_;
    std::FILE* stream_;
    bool owned_ = false;
};

} // namespace vantoro::sim
