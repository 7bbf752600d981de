// vantoro apply FILE.csv --login NAME: network settings for many cameras, one
// per row, after a single search.

#include "ops/batch_apply.h"
#include "cli/camera_view.h"
#include "cli/command_support.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/write_report.h"
#include "ops/text_forms.h"
#include "util/mac_text.h"

#include <cstdio>
#include <fstream>
#include <map>

namespace vantoro::cli {

namespace {

// Into the report opened before the search, when one was asked for; false
// after a complaint when it could not be written.
bool WriteReport(std::ofstream& report, const std::string& path, const std::vector<CameraResult>& results,
                 const std::map<std::string, int>& counts, const std::vector<AddressProblem>& problems = {})
{
    if (!report.is_open())
        return true;
    report << DumpJson(ResultsJson(results, counts, problems)) << "\n";
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
    auto options = CheckCommon(common, false, true);
    if (!options || !CheckWrite(o.write, *options))
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
    const auto passwords = ReadPasswords(o.write, {});
    if (!passwords)
        return kExitBadInput;
    const std::string* password = &passwords->login;
    const bool json = common.format == "json";
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
        if (json)
            PrintResults(results, options->verify);
        if (!WriteReport(report, o.report, results, CountResults(results, options->verify)))
            return kExitCameraFailed;
        return kExitInterrupted;
    }

    std::vector<AddressProblem> problems;
    if (!AddressesSafe(session, PlannedNetworks(cameras, plan.rows, o.write.login, *password), !common.force,
                       &problems)) {
        // Nothing was sent: the report says so rather than being left empty.
        const auto results = RefusedResults(targets);
        if (json)
            PrintResults(results, options->verify && !o.write.dry_run, problems);
        WriteReport(report, o.report, results, CountResults(results, options->verify), problems);
        return kExitBadInput;
    }
    BatchOptions batch{o.write.login, *password, o.write.dry_run, o.write.always};
    const auto bar = [&](const BatchProgress& p) {
        std::string label = std::to_string(p.failed) + " failed, " + std::to_string(p.in_flight) + " in flight";
        if (p.verifying > 0)
            label += ", " + std::to_string(p.verifying) + " verifying";
        progress.Bar(p.done, p.total, label);
    };
    const auto results = ApplyBatch(
        session, cameras, plan.rows, batch,
        [&](const CameraResult& r, const BatchProgress& p) {
            progress.Finish();
            if (r.journal)
                RecordChange(*r.journal);
            if (!json) {
                std::printf("%s\n", ResultLine(r, true).c_str());
                std::fflush(stdout);
            }
            bar(p);
        },
        bar);
    progress.Finish();

    const bool verify = options->verify && !o.write.dry_run;
    const auto counts = CountResults(results, verify);
    bool failed = false;
    for (const CameraResult& r : results)
        failed |= ResultFailed(r);
    std::string extra;
    if (o.write.dry_run)
        extra += ", " + std::to_string(counts.at("would apply")) + " would apply (dry run)";
    for (const char* word : {"mismatch", "unverified"})
        if (verify && counts.at(word) > 0)
            extra += ", " + std::to_string(counts.at(word)) + " " + word;
    if (counts.count("not started"))
        extra += ", " + std::to_string(counts.at("not started")) + " not started";
    if (json)
        PrintResults(results, verify);
    else
        std::printf("%zu camera%s: %d %s, %d unchanged, %d not found, %d login refused, %d failed%s\n",
                results.size(), results.size() == 1 ? "" : "s", verify ? counts.at("verified") : counts.at("applied"),
                verify ? "verified" : "applied", counts.at("unchanged"), counts.at("not found"),
                counts.at("login refused"), counts.at("failed"), extra.c_str());
    std::fflush(stdout);
    if (!WriteReport(report, o.report, results, counts))
        return kExitCameraFailed;
    return WriteExitStatus(session, !failed);
}

} // namespace vantoro::cli
