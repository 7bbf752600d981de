#pragma once
// Holds the user interface's LinkWindows; sends nothing while there is none,
// as a message to a window that does not exist is dropped. The LinkWindows
// object must outlive the receiver thread that calls it.

#include "link/window_messages.h"

#include <atomic>
#include <string>

namespace vantoro {

class WindowMessenger {
public:
    void Attach(LinkWindows* windows) { windows_.store(windows); }
    bool Send(LinkWindow target, std::uint32_t message)
    {
        LinkWindows* w = windows_.load();
        return w != nullptr && w->SendToWindow(target, message);
    }
    bool MayDriveSequence(const Frame& acknowledgement)
    {
        LinkWindows* w = windows_.load();
        return w == nullptr || w->MayDriveSequence(acknowledgement);
    }
    void AnswersDropped(std::uint64_t total)
    {
        if (LinkWindows* w = windows_.load())
            w->AnswersDropped(total);
    }
    void SearchIncomplete(std::uint64_t lost)
    {
        if (LinkWindows* w = windows_.load())
            w->SearchIncomplete(lost);
    }
    std::string WanAddressText()
    {
        LinkWindows* w = windows_.load();
        return w != nullptr ? w->WanAddressText() : std::string();
    }

private:
    std::atomic<LinkWindows*> windows_{nullptr};
};

} // namespace vantoro
