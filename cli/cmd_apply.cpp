// vantoro apply FILE.csv --login NAME: network settings for many cameras, one
// per row, after a single search.

#include "ops/batch_apply.h"
#include "cli/camera_view.h"
#include "cli/command_support.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "ops/text_forms.h"
#include "ops/address_checks.h"
#include "util/strict_address.h"
#include "util/mac_text.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

namespace vantoro::cli {

namespace {

nlohmann::ordered_json ReportJson(const std::vector<CameraResult>& results, const std::map<std::string, int>& counts)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const CameraResult& r : results) {
        nlohmann::ordered_json changes = nlohmann::ordered_json::array();
        for (const FieldChange& c : r.changes)
            changes.push_back({{"field", c.field}, {"before", c.before}, {"after", c.after}});
        nlohmann::ordered_json mismatches = nlohmann::ordered_json::array();
        for (const Mismatch& m : r.mismatches)
            mismatches.push_back({{"field", m.field}, {"sent", m.sent}, {"reported", m.reported}});
        // Searched again: true when it kept what was sent; null when not searched.
        nlohmann::ordered_json verified = nullptr;
        if (r.verification != Verification::NotChecked)
            verified = r.verification == Verification::Verified;
        list.push_back({{"mac", MacColonText(r.mac)},
                        {"result", BatchResultName(r.result)},
                        {"detail", r.detail.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.detail)},
                        {"changes", changes},
                        {"verified", verified},
                        {"mismatches", mismatches}});
    }
    return {{"results", list}, {"summary", counts}};
}

// Results by kind; "not started" only when some camera was. With
// verification the applied cameras are counted again as verified, mismatch
// or unverified.
std::map<std::string, int> Count(const std::vector<CameraResult>& results, bool verify)
{
    std::map<std::string, int> counts;
    for (BatchResult kind : {BatchResult::Applied, BatchResult::Unchanged, BatchResult::WouldApply,
                             BatchResult::NotFound, BatchResult::LoginRefused, BatchResult::Failed})
        counts[BatchResultName(kind)] = 0;
    if (verify)
        for (const char* word : {"verified", "mismatch", "unverified"})
            counts[word] = 0;
    for (const CameraResult& r : results) {
        ++counts[BatchResultName(r.result)];
        if (r.verification != Verification::NotChecked)
            ++counts[ResultWord(r)];
    }
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

// Every row refused before anything was sent, into the report.
void ReportRefused(std::ofstream& report, const std::string& path, const std::vector<PlanRow>& rows, bool verify)
{
    std::vector<CameraResult> results(rows.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        results[i].mac = rows[i].mac;
        results[i].result = BatchResult::NotStarted;
        results[i].detail = "the plan was refused";
    }
    WriteReport(report, path, results, Count(results, verify));
}

// The order of the plan's address moves, with the spare address's moves
// added to the networks the address checks probe. An error text when the
// plan cannot be ordered or the spare is not free.
std::optional<std::string> OrderAddressMoves(const std::vector<CameraSnapshot>& cameras, const std::vector<PlanRow>& rows,
                                             std::optional<std::uint32_t> spare, std::vector<PlannedNetwork>& networks,
                                             MoveOrder& order)
{
    std::vector<RowMove> moves;
    std::vector<std::string> macs;
    for (const PlanRow& row : rows)
        macs.push_back(MacTableText(row.mac));
    for (const PlannedNetwork& p : networks) {
        if (!p.Moves())
            continue;
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const PlanRow& r) { return r.mac == p.mac; });
        moves.push_back({std::size_t(row - rows.begin()), p.Before(NetworkFieldId::EthernetIp), p.After(NetworkFieldId::EthernetIp)});
    }
    order = OrderMoves(rows.size(), moves, macs, spare);
    if (!order.error.empty())
        return order.error;
    for (const CameraSnapshot& c : cameras)
        if (spare && c.general && GeneralConfigReader(c.general->data()).ethernet_ip() == *spare)
            return "the spare address " + AddressText(*spare) + " is held by camera " + MacTableText(c.mac);
    // A camera's move to the spare is checked like any move: free, probed, a sound network.
    for (const MoveStep& step : order.steps) {
        if (!step.spare)
            continue;
        const auto p = std::find_if(networks.begin(), networks.end(), [&](const PlannedNetwork& n) { return n.mac == rows[step.row].mac; });
        PlannedNetwork via = *p;
        via.after = via.before;
        via.after[std::size_t(NetworkFieldId::EthernetIp)] = *step.spare;
        networks.push_back(via);
    }
    return std::nullopt;
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
    std::optional<std::uint32_t> spare;
    if (!o.spare.empty() && !(spare = ParseStrictAddress(o.spare))) {
        Complain("--spare '" + PrintableText(o.spare) + "' is no address; give one like 192.168.1.250");
        return kExitBadInput;
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
        if (!WriteReport(report, o.report, results, Count(results, options->verify)))
            return kExitCameraFailed;
        return kExitInterrupted;
    }

    std::vector<PlannedNetwork> networks = PlannedNetworks(cameras, plan.rows, o.write.login, *password);
    MoveOrder order;
    if (auto error = OrderAddressMoves(cameras, plan.rows, spare, networks, order)) {
        Complain(*error + "; nothing was sent");
        ReportRefused(report, o.report, plan.rows, options->verify);
        return kExitBadInput;
    }
    // A camera that takes an address another one leaves starts only once
    // that one is verified at its new address: without verification nothing
    // tells when the address is free.
    if (order.dependent() && !options->verify && !o.write.dry_run) {
        Complain("cameras of this plan take addresses other cameras of it leave, and each such move waits until "
                 "the camera leaving is verified at its new address: leave out --no-verify; nothing was sent");
        ReportRefused(report, o.report, plan.rows, options->verify);
        return kExitBadInput;
    }
    if (!AddressesSafe(session, networks, !common.force)) {
        // Nothing was sent: the report says so rather than being left empty.
        ReportRefused(report, o.report, plan.rows, options->verify);
        return kExitBadInput;
    }
    BatchOptions batch{o.write.login, *password, o.write.dry_run, order.steps,
                       [](const JournalEntry& entry) { RecordChange(entry); }};
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
            std::printf("%s\n", ResultLine(r, true).c_str());
            std::fflush(stdout);
            bar(p);
        },
        bar);
    progress.Finish();

    const bool verify = options->verify && !o.write.dry_run;
    const auto counts = Count(results, verify);
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
