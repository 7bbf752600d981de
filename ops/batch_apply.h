#pragma once
// apply's work after the search: each camera of the plan in turn, one
// result each. One camera's failure never stops the others.

#include "ops/apply_plan.h"
#include "ops/change_journal.h"
#include "ops/move_order.h"
#include "ops/session.h"

#include <functional>
#include <string>
#include <vector>

namespace vantoro::ops {

// Sent: a request that no camera acknowledges (reset) left this program.
enum class BatchResult { Applied, Unchanged, WouldApply, NotFound, LoginRefused, Failed, NotStarted, Sent };
const char* BatchResultName(BatchResult result); // "applied", "not found", ...

struct CameraResult {
    MacAddress mac{};
    BatchResult result = BatchResult::NotFound;
    std::string detail; // the failed step, what the camera did not send, why it is unverified
    std::vector<Change> changes;
    // For a camera applied: whether a search afterwards found what was sent.
    Verification verification = Verification::NotChecked;
    std::vector<Mismatch> mismatches;
    // Set when records were sent: the camera's line in the journal of changes.
    std::optional<JournalEntry> journal;
};

// What the line and the journal call the result: "verified", "mismatch" or
// "unverified" for an applied camera that was searched again, else BatchResultName.
const char* ResultWord(const CameraResult& result);
// Not found, login refused, failed, unverified or a mismatch.
bool ResultFailed(const CameraResult& result);
// The journal line's result and detail from the camera's result: the result
// word, "no acknowledgement" for a sequence that failed, and what did not match.
void CompleteJournal(CameraResult& result);
// The verification of a written camera into its result.
void TakeVerification(const WriteOutcome& outcome, int verify_wait_ms, CameraResult& result);

struct BatchOptions {
    std::string login;
    std::string password;
    bool dry_run = false;
    bool always = false; // write a row whose edits change nothing, too
    // The order of dependent address moves (OrderMoves over the plan's
    // rows); empty: every row may start at once.
    std::vector<MoveStep> steps;
    // Journals a camera's move to the spare address as soon as it ends (its
    // row's own line comes with its result).
    std::function<void(const JournalEntry&)> journal_spare_move;
};

struct BatchProgress {
    std::size_t done = 0; // cameras finished, failed ones included
    std::size_t failed = 0;
    std::size_t in_flight = 0; // sequences under way
    std::size_t verifying = 0; // acknowledged, awaiting the search that verifies them
    std::size_t total = 0;
    int window = 0; // sequences that may be in flight at once now (Session::pace)
};

// cameras: the search's result. Up to the session's parallel cameras are
// written at once; on_result runs as each camera finishes. A step that waits
// for another camera to leave an address starts once that camera is
// verified at its new one; when it is not (failed, not started), the waiting
// camera is not started and its detail names the camera it waited for. Once
// the session's stop flag is set (Ctrl+C), the cameras in flight finish and
// the rest are not started. The results are in the plan's order. on_progress
// runs as a camera starts or moves on to its verification.
std::vector<CameraResult> ApplyBatch(Session& session, const std::vector<CameraSnapshot>& cameras,
                                     const std::vector<PlanRow>& plan, const BatchOptions& options,
                                     const std::function<void(const CameraResult&, const BatchProgress&)>& on_result = {},
                                     const std::function<void(const BatchProgress&)>& on_progress = {});

} // namespace vantoro::ops
