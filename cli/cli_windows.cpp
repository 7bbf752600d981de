#include "cli/cli_windows.h"

namespace vantoro::cli {

const char* StepName(ApplyStep step)
{
    switch (step) {
    case ApplyStep::User: return "user";
    case ApplyStep::Domain: return "domain";
    case ApplyStep::General: break;
    }
    return "general";
}

void CliWindows::Connect(const ReceiverThread* receiver, CameraRegistry* registry)
{
    receiver_ = receiver;
    registry_ = registry;
}

std::string CliWindows::WanAddressText()
{
    std::lock_guard lock(mutex_);
    return wan_text_;
}

void CliWindows::SetWanAddress(std::string text)
{
    std::lock_guard lock(mutex_);
    wan_text_ = std::move(text);
}

bool CliWindows::SendToWindow(LinkWindow, std::uint32_t message)
{
    if (message == WM_CAMERA_FOUND) {
        {
            std::lock_guard lock(mutex_);
            ++found_;
        }
        changed_.notify_all();
        return true;
    }
    int step;
    switch (message) {
    case WM_USER_SET_DONE: step = 0; break;
    case WM_DOMAIN_SET_DONE: step = 1; break;
    case WM_GENERAL_SET_DONE: step = 2; break;
    default: return true;
    }
    // Read on the receiver thread, which is the one dispatching this frame.
    const bool ours = FromTracked(FrameMac(receiver_->received_frame()));
    {
        std::lock_guard lock(mutex_);
        if (!ours) {
            ++strays_;
            return true;
        }
        progress_.done[step] = true;
        progress_.acknowledged_at[step] = Clock::now();
    }
    if (step == int(ApplyStep::General))
        changed_.notify_all();
    return true;
}

bool CliWindows::FromTracked(const MacAddress& from)
{
    const bool registered = registry_->FindCamera(from) != nullptr;
    std::lock_guard lock(mutex_);
    return tracked_ && (from == *tracked_ || !registered);
}

bool CliWindows::MayDriveSequence(const Frame& acknowledgement)
{
    return FromTracked(FrameMac(acknowledgement));
}

std::size_t CliWindows::WaitForFound(std::size_t seen, Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return found_ > seen; });
    return found_;
}

void CliWindows::Track(const MacAddress& mac)
{
    std::lock_guard lock(mutex_);
    tracked_ = mac;
    progress_ = {};
    strays_ = 0;
}

int CliWindows::StopTracking()
{
    std::lock_guard lock(mutex_);
    tracked_.reset();
    return strays_;
}

bool CliWindows::WaitForLastStep(Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, deadline, [&] { return progress_.done[int(ApplyStep::General)]; });
}

CliWindows::StepProgress CliWindows::Progress()
{
    std::lock_guard lock(mutex_);
    return progress_;
}

} // namespace vantoro::cli
