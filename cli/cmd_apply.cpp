// vantoro apply FILE.csv --login NAME: network settings for many cameras, one
// per row, after a single search.

#include "ops/batch_apply.h"
#include "cli/camera_view.h"
#include "cli/command_support.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "ops/text_forms.h"
#include "util/mac_text.h"

#include <cstdio>
#include <fstream>
#include <map>

namespace vantoro::cli {

namespace {

std::string ResultLine(const CameraResult& r)
{
    std::string line = MacTableText(r.mac) + "  " + BatchResultName(r.result);
    if (!r.detail.empty())
        line += ": " + r.detail;
    for (std::size_t i = 0; i < r.changes.size(); ++i)
        line += (i == 0 ? "  " : ", ") + r.changes[i].field + " " + r.changes[i].before + " -> " + r.changes[i].after;
    return line;
}

nlohmann::ordered_json ReportJson(const std::vector<CameraResult>& results, const std::map<std::string, int>& counts)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const CameraResult& r : results) {
        nlohmann::ordered_json changes = nlohmann::ordered_json::array();
        for (const FieldChange& c : r.changes)
            changes.push_back({{"field", c.field}, {"before", c.before}, {"after", c.after}});
        list.push_back({{"mac", MacColonText(r.mac)},
                        {"result", BatchResultName(r.result)},
                        {"detail", r.detail.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.detail)},
                        {"changes", changes}});
    }
    return {{"results", list}, {"summary", counts}};
}

// Results by kind; "not started" only when some camera was.
std::map<std::string, int> Count(const std::vector<CameraResult>& results)
{
    std::map<std::string, int> counts;
    for (BatchResult kind : {BatchResult::Applied, BatchResult::Unchanged, BatchResult::WouldApply,
                             BatchResult::NotFound, BatchResult::LoginRefused, BatchResult::Failed})
        counts[BatchResultName(kind)] = 0;
    for (const CameraResult& r : results)
        ++counts[BatchResultName(r.result)];
    return counts;
}

// Into the report opened before the search, when one was asked for; false
// after a complaint when it could not be written.
bool WriteReport(std::ofstream& report, const std::string& path, const std::vector<CameraResult>& results,
                 const std::map<std::string, int>& counts)
{
    if (!report.is_open())
        return true;
    report << DumpJson(ReportJson(results, counts)) << "\n";
    report.close();
    if (!report) {
        Complain("cannot write the report " + path);
        return false;
    }
    return true;
}

} // namespace

int RunApply(const CommonOptions& common, const ApplyOptions& o)
{
    const auto options = CheckCommon(common, false, true);
    if (!options)
        return kExitBadInput;
    const ApplyPlan plan = ReadApplyPlan(o.csv);
    if (!plan.error.empty()) {
        Complain(plan.error);
        return kExitBadInput;
    }
    if (!plan.ignored_columns.empty()) {
        std::string names;
        for (const std::string& c : plan.ignored_columns)
            names += (names.empty() ? "" : ", ") + c;
        Complain("columns that cannot be set are ignored: " + names);
    }
    const auto password = LoginPassword(o.write.login);
    if (!password)
        return kExitBadInput;
    // Opened before anything is sent: a report that cannot be written is bad
    // input, not a failed camera found out after the whole batch.
    std::ofstream report;
    if (!o.report.empty()) {
        report.open(o.report, std::ios::trunc);
        if (!report) {
            Complain("cannot write the report " + o.report + "; nothing was sent");
            return kExitBadInput;
        }
    }

    Session session(*options);
    if (!StartSession(session))
        return kExitCameraFailed;
    // The first Ctrl+C ends the search early, or lets the camera being written
    // finish and starts no other; the second ends the program.
    const InterruptCatcher catcher;
    Progress progress;
    std::vector<MacAddress> targets;
    for (const PlanRow& row : plan.rows)
        targets.push_back(row.mac);
    const std::vector<CameraSnapshot> cameras =
        session.Discover(&targets, [&](const SearchProgress& p) { progress.Search(p); });
    progress.Finish();
    if (session.stopped()) {
        Complain("interrupted during the search; nothing was sent");
        // Every camera not started, and the report says so.
        const auto results = ApplyBatch(session, cameras, plan.rows, BatchOptions{});
        if (!WriteReport(report, o.report, results, Count(results)))
            return kExitCameraFailed;
        return kExitInterrupted;
    }

    if (!AddressesSafe(session, PlannedNetworks(cameras, plan.rows, o.write.login, *password), !common.force))
        return kExitBadInput;
    BatchOptions batch{o.write.login, *password, o.write.dry_run};
    const auto results = ApplyBatch(session, cameras, plan.rows, batch, [&](std::size_t done, const CameraResult& r) {
        progress.Finish();
        if (r.journal)
            RecordChange(*r.journal);
        std::printf("%s\n", ResultLine(r).c_str());
        std::fflush(stdout);
        progress.Bar(done, plan.rows.size(), MacTableText(r.mac));
    });
    progress.Finish();

    const auto counts = Count(results);
    bool failed = false;
    for (const CameraResult& r : results)
        failed |= r.result == BatchResult::NotFound || r.result == BatchResult::LoginRefused ||
                  r.result == BatchResult::Failed;
    std::string extra;
    if (o.write.dry_run)
        extra += ", " + std::to_string(counts.at("would apply")) + " would apply (dry run)";
    if (counts.count("not started"))
        extra += ", " + std::to_string(counts.at("not started")) + " not started";
    std::printf("%zu camera%s: %d applied, %d unchanged, %d not found, %d login refused, %d failed%s\n",
                results.size(), results.size() == 1 ? "" : "s", counts.at("applied"), counts.at("unchanged"),
                counts.at("not found"), counts.at("login refused"), counts.at("failed"), extra.c_str());
    std::fflush(stdout);
    if (!WriteReport(report, o.report, results, counts))
        return kExitCameraFailed;
    return WriteExitStatus(session, !failed);
}

} // namespace vantoro::cli
