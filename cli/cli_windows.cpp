#include "cli/cli_windows.h"

#include <algorithm>

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

void CliWindows::Connect(const ReceiverThread* receiver)
{
    receiver_ = receiver;
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
    if (message != WM_USER_SET_DONE && message != WM_DOMAIN_SET_DONE && message != WM_GENERAL_SET_DONE)
        return true;
    // Read on the receiver thread, which is the one dispatching this frame.
    int step = 0;
    const bool ours = Echoes(receiver_->received_frame(), &step);
    bool all_done;
    {
        std::lock_guard lock(mutex_);
        if (!ours) {
            ++strays_;
            return true;
        }
        progress_.done[step] = true;
        progress_.acknowledged_at[step] = Clock::now();
        all_done = progress_.done[0] && progress_.done[1] && progress_.done[2];
    }
    if (all_done)
        changed_.notify_all();
    return true;
}

bool CliWindows::Echoes(const Frame& acknowledgement, int* step)
{
    switch (FrameCommand(acknowledgement)) {
    case CMD_USER_SET_ACK: *step = int(ApplyStep::User); break;
    case CMD_DOMAIN_SET_ACK: *step = int(ApplyStep::Domain); break;
    case CMD_GENERAL_SET_ACK: *step = int(ApplyStep::General); break;
    default: return false;
    }
    // command and reply_mode are the camera's to set; the rest must come back.
    std::lock_guard lock(mutex_);
    const Frame& sent = sent_[std::size_t(*step)];
    return tracked_ && std::equal(acknowledgement.begin() + kMacOffset, acknowledgement.end(), sent.begin() + kMacOffset);
}

bool CliWindows::MayDriveSequence(const Frame& acknowledgement)
{
    int step = 0;
    return Echoes(acknowledgement, &step);
}

std::size_t CliWindows::WaitForFound(std::size_t seen, Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return found_ > seen; });
    return found_;
}

void CliWindows::Track(const MacAddress& mac, const std::array<Frame, 3>& sent)
{
    std::lock_guard lock(mutex_);
    tracked_ = mac;
    sent_ = sent;
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
    return changed_.wait_until(lock, deadline, [&] { return progress_.done[0] && progress_.done[1] && progress_.done[2]; });
}

CliWindows::StepProgress CliWindows::Progress()
{
    std::lock_guard lock(mutex_);
    return progress_;
}

} // namespace vantoro::cli
