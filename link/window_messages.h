#pragma once
// Private window messages the link sends synchronously to the user interface,
// each with both parameters 0.

#include "link/config_frame.h"

#include <cstdint>
#include <string>

namespace vantoro {

inline constexpr std::uint32_t WM_CAMERA_FOUND = 0x5000;
inline constexpr std::uint32_t WM_USER_SET_DONE = 0x5005;
inline constexpr std::uint32_t WM_DOMAIN_SET_DONE = 0x5010;
inline constexpr std::uint32_t WM_GENERAL_SET_DONE = 0x5015;

enum class LinkWindow {
    NetConfigPage, // receives WM_CAMERA_FOUND; owns the WAN address field
    ProgressDialog, // the open apply-progress dialog, if any
};

// What the link needs from the user interface. The user interface implements
// it with blocking calls into its own thread; tests implement it themselves.
// The link never holds a lock while it calls these.
class LinkWindows {
public:
    virtual ~LinkWindows() = default;
    // Delivers the message and returns after the window handled it. Returns
    // false when the window does not exist: the message is dropped.
    virtual bool SendToWindow(LinkWindow target, std::uint32_t message) = 0;
    // Current text of the Net Config page's WAN address field (control 1024),
    // at most 1023 characters; empty when the page does not exist.
    virtual std::string WanAddressText() = 0;
    // Asked on the receiver thread, after the progress message, before a user
    // or domain acknowledgement sends the current camera's next record. The
    // sheet lets every acknowledgement drive the sequence; a front end that
    // works through many cameras can refuse one that belongs to another camera.
    virtual bool MayDriveSequence(const Frame& /*acknowledgement*/) { return true; }
    // On the receiver thread, before the next answer is dispatched: answers
    // were dropped for want of room since the last call; total counts all,
    // the system's and the receiver queue's.
    virtual void AnswersDropped(std::uint64_t /*total*/) {}
    // On the receiver's drain thread, which must not wait for a window: a
    // search ended with answers still dropped in its last round; lost counts
    // those dropped since it began.
    virtual void SearchIncomplete(std::uint64_t /*lost*/) {}
};

} // namespace vantoro
