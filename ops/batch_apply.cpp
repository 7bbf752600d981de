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
    case BatchResult::Failed: break;
    }
    return "failed";
}

namespace {

struct MacKey {
    std::size_t operator()(const MacAddress& m) const noexcept
    {
        std::uint64_t v = 0;
        for (std::uint8_t b : m)
            v = v << 8 | b;
        return std::hash<std::uint64_t>{}(v);
    }
};

CameraResult ApplyOne(Session& session, const CameraSnapshot* camera, const PlanRow& row, const BatchOptions& o)
{
    CameraResult r;
    r.mac = row.mac;
    if (!camera) {
        r.detail = "did not answer";
        return r;
    }
    if (!camera->complete()) {
        r.detail = "did not send all three records";
        return r;
    }
    if (!LoginAccepted(*camera, o.login, o.password)) {
        r.result = BatchResult::LoginRefused;
        return r;
    }
    CameraSnapshot edited = *camera;
    RecordEdits edits;
    edits.general = row.edits;
    ApplyEdits(edits, edited); // general fields only: cannot fail
    r.changes = DescribeChanges(*camera, edited);
    if (edited.general == camera->general) {
        r.result = BatchResult::Unchanged;
        return r;
    }
    if (o.dry_run) {
        r.result = BatchResult::WouldApply;
        return r;
    }
    const ApplyOutcome outcome = session.Apply(edited);
    r.result = outcome.ok ? BatchResult::Applied : BatchResult::Failed;
    if (!outcome.ok)
        r.detail = OutcomeText(outcome);
    r.journal = WriteEntry(*camera, edited, o.login, "apply");
    SetOutcome(*r.journal, outcome);
    return r;
}

} // namespace

std::vector<CameraResult> ApplyBatch(Session& session, const std::vector<CameraSnapshot>& cameras,
                                     const std::vector<PlanRow>& plan, const BatchOptions& options,
                                     const std::function<void(std::size_t, const CameraResult&)>& on_result)
{
    std::unordered_map<MacAddress, const CameraSnapshot*, MacKey> by_mac;
    for (const CameraSnapshot& c : cameras)
        by_mac.emplace(c.mac, &c);
    std::vector<CameraResult> results;
    results.reserve(plan.size());
    for (const PlanRow& row : plan) {
        const auto it = by_mac.find(row.mac);
        if (session.stopped()) {
            CameraResult skipped;
            skipped.mac = row.mac;
            skipped.result = BatchResult::NotStarted;
            results.push_back(skipped);
        } else {
            results.push_back(ApplyOne(session, it == by_mac.end() ? nullptr : it->second, row, options));
        }
        if (on_result)
            on_result(results.size(), results.back());
    }
    return results;
}

} // namespace vantoro::ops
