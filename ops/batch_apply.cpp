#include "ops/batch_apply.h"


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
    if (outcome.verification == Verification::Unverified)
        r.detail = "did not answer again within " + std::to_string(verify_wait_ms) + " ms";
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
    RecordEdits edits;
    edits.general = row.edits;
    ApplyEdits(edits, edited); // general fields only: cannot fail
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
    std::vector<CameraResult> results(plan.size());
    BatchProgress progress;
    progress.total = plan.size();
    const auto finish = [&](const CameraResult& r) {
        ++progress.done;
        progress.failed += ResultFailed(r);
        if (on_result)
            on_result(r, progress);
    };
    const auto prepare = [&](std::size_t i) -> std::optional<WriteJob> {
        const auto it = by_mac.find(plan[i].mac);
        auto job = Prepare(it == by_mac.end() ? nullptr : it->second, plan[i], options, results[i]);
        if (!job) {
            finish(results[i]);
        } else {
            ++progress.in_flight;
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
        CompleteJournal(r);
        --(outcome.verification == Verification::NotChecked ? progress.in_flight : progress.verifying);
        finish(r);
    };
    const auto verifying = [&](std::size_t) {
        --progress.in_flight;
        ++progress.verifying;
        if (on_progress)
            on_progress(progress);
    };
    const std::size_t asked = session.Write(plan.size(), prepare, done, verifying);
    for (std::size_t i = asked; i < plan.size(); ++i) {
        results[i] = CameraResult{};
        results[i].mac = plan[i].mac;
        results[i].result = BatchResult::NotStarted;
        finish(results[i]);
    }
    return results;
}

} // namespace vantoro::ops
