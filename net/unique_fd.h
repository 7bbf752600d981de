#pragma once
// One descriptor the net layer opened (a socket, a pipe end), closed when its
// owner goes: no path of a function can forget it.

#include <utility>

namespace vantoro::net {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    // The descriptor, still owned here; -1 when none.
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes the one held, if any, and holds fd instead.
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

} // namespace vantoro::net
