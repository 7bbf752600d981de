#pragma once
// The sheet's private window messages, each with both parameters 0, and the
// windows that receive them. Only QtLinkWindows turns the link's events into
// these; the pages and dialogs handle them.

#include "link/apply_steps.h"

#include <cstdint>
#include <optional>

namespace vantoro {

inline constexpr std::uint32_t WM_CAMERA_FOUND = 0x5000;
inline constexpr std::uint32_t WM_USER_SET_DONE = 0x5005;
inline constexpr std::uint32_t WM_DOMAIN_SET_DONE = 0x5010;
inline constexpr std::uint32_t WM_GENERAL_SET_DONE = 0x5015;

enum class LinkWindow {
    NetConfigPage, // receives WM_CAMERA_FOUND; owns the WAN address field (control 1024)
    ProgressDialog, // the open apply-progress dialog, if any
};

// The progress dialog's message for an acknowledged step, and back; none for
// other messages.
constexpr std::uint32_t DoneMessage(ApplyStep step)
{
    switch (step) {
    case ApplyStep::User: return WM_USER_SET_DONE;
    case ApplyStep::Domain: return WM_DOMAIN_SET_DONE;
    case ApplyStep::General: break;
    }
    return WM_GENERAL_SET_DONE;
}
constexpr std::optional<ApplyStep> StepOfMessage(std::uint32_t message)
{
    for (const ApplyStepInfo& s : kApplyStepTable)
        if (DoneMessage(s.step) == message)
            return s.step;
    return std::nullopt;
}

} // namespace vantoro
