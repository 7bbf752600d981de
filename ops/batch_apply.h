#pragma once
// apply's work after the search: each camera of the plan in turn, one
// result each. One camera's failure never stops the others.

#include "ops/apply_plan.h"
#include "ops/change_journal.h"
#include "ops/session.h"

#include <functional>
#include <string>
#include <vector>

namespace vantoro::ops {

enum class BatchResult { Applied, Unchanged, WouldApply, NotFound, LoginRefused, Failed, NotStarted };
const char* BatchResultName(BatchResult result); // "applied", "not found", ...

struct CameraResult {
    MacAddress mac{};
    BatchResult result = BatchResult::NotFound;
    std::string detail; // the failed step, or what the camera did not send
    std::vector<FieldChange> changes;
    // Set when records were sent: the camera's line in the journal of changes.
    std::optional<JournalEntry> journal;
};

struct BatchOptions {
    std::string login;
    std::string password;
    bool dry_run = false;
};

// cameras: the search's result. on_result runs after each camera. Once the
// session's stop flag is set (Ctrl+C), the camera in progress finishes and the
// rest are not started.
std::vector<CameraResult> ApplyBatch(Session& session, const std::vector<CameraSnapshot>& cameras,
                                     const std::vector<PlanRow>& plan, const BatchOptions& options,
                                     const std::function<void(std::size_t, const CameraResult&)>& on_result = {});

} // namespace vantoro::ops
