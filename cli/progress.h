#pragma once
// Progress on standard error, only when it is a terminal: a live count while
// answers come in, a bar while cameras are applied to. Scripts see none of it.

#include "cli/front_end.h"
#include "ops/session.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace vantoro::cli {

class Progress {
public:
    Progress();
    ~Progress() { Finish(); }
    void Count(std::size_t found);
    // A search: the count, or for a sweep a bar of the addresses searched,
    // the cameras found and the time left.
    void Search(const SearchProgress& search);
    void Bar(std::size_t done, std::size_t total, const std::string& label);
    // Ends the progress line, if one was drawn.
    void Finish();

private:
    bool enabled_;
    bool drawn_ = false;
    std::size_t last_count_ = std::size_t(-1);
    std::chrono::steady_clock::time_point last_drawn_{};
};

} // namespace vantoro::cli
