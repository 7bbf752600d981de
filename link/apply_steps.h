#pragma once
// The acknowledged apply sequence, step by step: what is sent and what
// answers it. One table for every place that maps one to another.

#include "link/config_frame.h"

#include <array>
#include <cstdint>
#include <optional>

namespace vantoro {

enum class RecordSlot { General, User, Domain };

// In the order they are sent.
enum class ApplyStep { User = 0, Domain = 1, General = 2 };
inline constexpr std::size_t kApplySteps = 3;

struct ApplyStepInfo {
    ApplyStep step;
    const char* name; // "user", "domain", "general"
    RecordSlot slot; // the record the step sends
    std::uint32_t set_command;
    std::uint32_t ack_command;
};

inline constexpr std::array<ApplyStepInfo, kApplySteps> kApplyStepTable = {{
    {ApplyStep::User, "user", RecordSlot::User, CMD_SET_USER, CMD_USER_SET_ACK},
    {ApplyStep::Domain, "domain", RecordSlot::Domain, CMD_SET_DOMAIN, CMD_DOMAIN_SET_ACK},
    {ApplyStep::General, "general", RecordSlot::General, CMD_SET_GENERAL, CMD_GENERAL_SET_ACK},
}};

constexpr const ApplyStepInfo& StepInfo(ApplyStep step) { return kApplyStepTable[std::size_t(step)]; }
constexpr const char* StepName(ApplyStep step) { return StepInfo(step).name; }
// The last step's acknowledgement is answered with the closing frame.
constexpr bool IsLastStep(ApplyStep step) { return std::size_t(step) + 1 == kApplySteps; }

// The step an acknowledgement belongs to; none for other codes.
constexpr std::optional<ApplyStep> StepOfAcknowledgement(std::uint32_t command)
{
    for (const ApplyStepInfo& s : kApplyStepTable)
        if (s.ack_command == command)
            return s.step;
    return std::nullopt;
}

} // namespace vantoro
