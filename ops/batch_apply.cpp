#include "ops/batch_apply.h"

#include "util/mac_text.h"
#include "util/strict_address.h"

#include <algorithm>
#include <unordered_map>

namespace vantoro::ops {

const char* BatchResultName(BatchResult result)
{
    switch (result) {
    case BatchResult::Applied: return "applied";
    case BatchResult::Unchanged: return "unchanged";
    case BatchResult::WouldApply: return "would apply";
    case BatchResult::NotFound: return "not found";
    case BatchResult::LoginRefused: return "login refused";
    case BatchResult::NotStarted: return "not started";
    case BatchResult::Sent: return "sent";
    case BatchResult::Failed: break;
    }
    return "failed";
}

const char* ResultWord(const CameraResult& r)
{
    if (r.result == BatchResult::Applied) {
        switch (r.verification) {
        case Verification::Verified: return "verified";
        case Verification::Mismatch: return "mismatch";
        case Verification::Unverified: return "unverified";
        case Verification::NotChecked: break;
        }
    }
    return BatchResultName(r.result);
}

bool ResultFailed(const CameraResult& r)
{
    return r.result == BatchResult::NotFound || r.result == BatchResult::LoginRefused ||
           r.result == BatchResult::Failed || r.verification == Verification::Mismatch ||
           r.verification == Verification::Unverified;
}

void TakeVerification(const WriteOutcome& outcome, int verify_wait_ms, CameraResult& r)
{
    r.verification = outcome.verification;
    r.mismatches = outcome.mismatches;
    if (outcome.verification == Verification::Unverified) {
        r.detail = outcome.answers_maybe_late
                       ? "its answers since the write could not be told from late answers to earlier searches"
                       : "did not answer again within " + std::to_string(verify_wait_ms) + " ms";
        if (outcome.answers_lost > 0)
            r.detail += "; " + std::to_string(outcome.answers_lost) +
                        " answers were lost (the receive buffer was full), its own perhaps among them";
    }
}

void CompleteJournal(CameraResult& r)
{
    if (!r.journal)
        return;
    r.journal->result = r.result == BatchResult::Failed ? "no acknowledgement" : ResultWord(r);
    const std::string detail = !r.detail.empty() ? r.detail : MismatchText(r.mismatches);
    r.journal->detail = detail.empty() ? std::nullopt : std::optional<std::string>(detail);
}

namespace {

// What a row comes to before anything is sent: a result, or the edited
// records to write (then r holds the changes).
std::optional<WriteJob> Prepare(const CameraSnapshot* camera, const PlanRow& row, const BatchOptions& o, CameraResult& r)
{
    r.mac = row.mac;
    if (!camera) {
        r.detail = "did not answer";
        return std::nullopt;
    }
    if (!camera->complete()) {
        r.detail = "did not send all three records";
        return std::nullopt;
    }
    if (!LoginAccepted(*camera, o.login, o.password)) {
        r.result = BatchResult::LoginRefused;
        return std::nullopt;
    }
    CameraSnapshot edited = *camera;
    ApplyGeneralEdits(row.edits, *edited.general);
    r.changes = DescribeWrite(*camera, edited).changes;
    if (edited.general == camera->general && !o.always) {
        r.result = BatchResult::Unchanged;
        return std::nullopt;
    }
    if (o.dry_run) {
        r.result = BatchResult::WouldApply;
        return std::nullopt;
    }
    r.journal = WriteEntry(*camera, edited, o.login, "apply");
    return WriteJob{edited, *camera, false};
}

} // namespace

std::vector<CameraResult> ApplyBatch(Session& session, const std::vector<CameraSnapshot>& cameras,
                                     const std::vector<PlanRow>& plan, const BatchOptions& options,
                                     const std::function<void(const CameraResult&, const BatchProgress&)>& on_result,
                                     const std::function<void(const BatchProgress&)>& on_progress)
{
    std::unordered_map<MacAddress, const CameraSnapshot*, MacHash> by_mac;
    for (const CameraSnapshot& c : cameras)
        by_mac.emplace(c.mac, &c);
    const auto found = [&](const MacAddress& mac) -> const CameraSnapshot* {
        const auto it = by_mac.find(mac);
        return it == by_mac.end() ? nullptr : it->second;
    };
    const std::size_t rows = plan.size();
    std::vector<MoveStep> steps = options.steps;
    for (std::size_t i = steps.size(); i < rows; ++i)
        steps.push_back({i, std::nullopt, {}});
    // One result per step: the rows' first, then the moves to the spare.
    std::vector<CameraResult> results(steps.size());
    std::vector<bool> asked(steps.size(), false), finished(steps.size(), false);
    // The step that moves the row's camera to the spare address first.
    std::vector<std::optional<std::size_t>> spare_step(rows);
    for (std::size_t i = rows; i < steps.size(); ++i)
        spare_step[steps[i].row] = i;
    const auto passed = [&](std::size_t i) {
        const CameraResult& r = results[i];
        return (r.result == BatchResult::Applied && r.verification == Verification::Verified) ||
               r.result == BatchResult::WouldApply;
    };
    BatchProgress progress;
    progress.total = rows;
    const auto finish = [&](std::size_t i) {
        finished[i] = true;
        if (i >= rows)
            return; // a move to the spare: told with its row
        CameraResult& r = results[i];
        ++progress.done;
        progress.failed += ResultFailed(r);
        progress.window = session.pace().window();
        if (on_result)
            on_result(r, progress);
    };
    const auto spare_text = [&](std::size_t i) { return steps[i].spare->text(); };
    // The row's result when its move to the spare address did not pass.
    const auto spare_failed = [&](std::size_t row) {
        CameraResult r = results[*spare_step[row]];
        r.journal.reset();
        const std::string why = !r.detail.empty() ? r.detail : ResultWord(r);
        r.detail = "on its way to the spare address " + spare_text(*spare_step[row]) + ": " + why;
        return r;
    };
    // Why a step that waits for another does not start.
    const auto waited = [&](const MoveWait& w, const std::string& why) {
        return "waited for camera " + MacTableText(plan[steps[w.step].row].mac) + " to leave " +
               w.address.text() + why;
    };
    const auto prepare = [&](std::size_t i) -> std::optional<WriteJob> {
        asked[i] = true;
        const MoveStep& step = steps[i];
        CameraResult& r = results[i];
        r.mac = plan[step.row].mac;
        for (const MoveWait& w : step.after) {
            if (passed(w.step))
                continue;
            if (steps[w.step].row == step.row) {
                r = spare_failed(step.row);
            } else {
                r.result = BatchResult::NotStarted;
                r.detail = waited(w, results[w.step].result == BatchResult::NotStarted
                                         ? ", which was not started"
                                         : ", which is not verified at its new address");
                if (i < rows && spare_step[i] && passed(*spare_step[i])) {
                    // Neither where it was nor where the plan puts it: a failure to name.
                    r.result = BatchResult::Failed;
                    r.detail = "left at the spare address " + spare_text(*spare_step[i]) + ": " + r.detail;
                }
            }
            finish(i);
            return std::nullopt;
        }
        PlanRow row = plan[step.row];
        const CameraSnapshot* camera = found(row.mac);
        std::optional<CameraSnapshot> now;
        if (step.spare) {
            row.edits = {};
            row.edits[NetworkFieldId::EthernetIp] = step.spare->word();
        } else if (spare_step[i] && results[*spare_step[i]].result == BatchResult::Applied) {
            // From the spare address, as its verification found it.
            for (CameraSnapshot& c : session.Cameras())
                if (c.mac == row.mac)
                    now = std::move(c);
        }
        auto job = Prepare(now ? &*now : camera, row, options, r);
        if (job && now && camera)
            r.changes = DescribeWrite(*camera, job->records).changes;
        if (!job) {
            finish(i);
        } else {
            ++progress.in_flight;
            progress.window = session.pace().window();
            if (on_progress)
                on_progress(progress);
        }
        return job;
    };
    const auto done = [&](std::size_t i, const WriteOutcome& outcome) {
        CameraResult& r = results[i];
        r.result = outcome.sequence.ok ? BatchResult::Applied : BatchResult::Failed;
        if (!outcome.sequence.ok)
            r.detail = OutcomeText(outcome.sequence);
        TakeVerification(outcome, session.options().verify_wait_ms, r);
        if (i < rows && spare_step[i] && ResultFailed(r))
            r.detail += std::string(r.detail.empty() ? "" : "; ") + "it had moved to the spare address " +
                        spare_text(*spare_step[i]) + " first";
        CompleteJournal(r);
        if (i >= rows && r.journal && options.journal_spare_move)
            options.journal_spare_move(*r.journal);
        --(outcome.verification == Verification::NotChecked ? progress.in_flight : progress.verifying);
        finish(i);
    };
    const auto verifying = [&](std::size_t) {
        --progress.in_flight;
        ++progress.verifying;
        progress.window = session.pace().window();
        if (on_progress)
            on_progress(progress);
    };
    const auto ready = [&](std::size_t i) {
        return std::all_of(steps[i].after.begin(), steps[i].after.end(),
                           [&](const MoveWait& w) { return finished[w.step]; });
    };
    session.Write(steps.size(), prepare, done, verifying, ready);
    for (std::size_t i = 0; i < rows; ++i) {
        if (asked[i])
            continue;
        CameraResult& r = results[i];
        r = CameraResult{};
        r.mac = plan[i].mac;
        r.result = BatchResult::NotStarted;
        if (spare_step[i] && asked[*spare_step[i]]) {
            if (passed(*spare_step[i])) {
                // Neither where it was nor where the plan puts it: a failure to name.
                r.result = BatchResult::Failed;
                r.detail = "left at the spare address " + spare_text(*spare_step[i]) + ": the run stopped before it moved on";
            } else {
                r = spare_failed(i);
            }
        } else {
            for (const MoveWait& w : steps[i].after)
                if (!finished[w.step] && steps[w.step].row != i) {
                    r.detail = waited(w, ": the run stopped first");
                    break;
                }
        }
        finish(i);
    }
    results.resize(rows);
    return results;
}

} // namespace vantoro::ops
