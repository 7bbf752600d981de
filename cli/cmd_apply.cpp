// vantoro apply FILE.csv --login NAME: network settings for many cameras, one
// per row, after a single search.

#include "ops/batch_apply.h"
#include "cli/camera_view.h"
#include "cli/change_record.h"
#include "cli/console_lines.h"
#include "cli/option_checks.h"
#include "cli/session_steps.h"
#include "cli/write_passwords.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/report_file.h"
#include "cli/write_report.h"
#include "ops/text_forms.h"
#include "ops/address_checks.h"
#include "util/strict_address.h"
#include "util/mac_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace vantoro::cli {

namespace {

// The summary's counts with the pace of the writes: the largest window used
// and the steps resent.
std::map<std::string, int> WithPace(std::map<std::string, int> counts, const Session& session)
{
    counts["peak window"] = session.pace().peak();
    counts["resent steps"] = session.pace().resends();
    return counts;
}

// Into the report, when one was asked for; false after a complaint when it
// could not be written.
bool WriteReport(ReportFile& report, const std::vector<CameraResult>& results, const std::map<std::string, int>& counts,
                 const std::vector<AddressProblem>& problems = {})
{
    if (!report.is_open())
        return true;
    if (!report.Commit(DumpJson(ResultsJson(results, counts, problems)) + "\n")) {
        Complain("cannot write the report " + report.path() + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

// The order of the plan's address moves, with the spare address's moves
// added to the networks the address checks probe. An error text when the
// plan cannot be ordered or the spare is not free.
Error OrderAddressMoves(const std::vector<CameraSnapshot>& cameras, const std::vector<PlanRow>& rows,
                        std::optional<Ipv4Address> spare, std::vector<PlannedNetwork>& networks, MoveOrder& order)
{
    std::vector<RowMove> moves;
    std::vector<std::string> macs;
    for (const PlanRow& row : rows)
        macs.push_back(MacTableText(row.mac));
    for (const PlannedNetwork& p : networks) {
        if (!p.Moves())
            continue;
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const PlanRow& r) { return r.mac == p.mac; });
        moves.push_back({std::size_t(row - rows.begin()), Ipv4Address(p.Before(NetworkFieldId::EthernetIp)),
                         Ipv4Address(p.After(NetworkFieldId::EthernetIp))});
    }
    order = OrderMoves(rows.size(), moves, macs, spare);
    if (!order.error.empty())
        return order.error;
    for (const CameraSnapshot& c : cameras)
        if (spare && c.general && Ipv4Address(GeneralConfigReader(c.general->data()).ethernet_ip()) == *spare)
            return "the spare address " + spare->text() + " is held by camera " + MacTableText(c.mac);
    // A camera's move to the spare is checked like any move: free, probed, a sound network.
    for (const MoveStep& step : order.steps) {
        if (!step.spare)
            continue;
        const auto p = std::find_if(networks.begin(), networks.end(), [&](const PlannedNetwork& n) { return n.mac == rows[step.row].mac; });
        PlannedNetwork via = *p;
        via.after = via.before;
        via.after[std::size_t(NetworkFieldId::EthernetIp)] = step.spare->word();
        networks.push_back(via);
    }
    return std::nullopt;
}

} // namespace

namespace {

// One run of apply, in its phases: the inputs, the search, the checks of the
// plan, the writes and the summary. Each phase that refuses says why and
// gives the exit status.
class ApplyRun {
public:
    ApplyRun(const CommonOptions& common, const ApplyOptions& o) : common_(common), o_(o), json_(common.format == "json")
    {
    }

    int Run()
    {
        if (const auto status = ReadInputs())
            return *status;
        Session session(*options_);
        if (!StartSession(session))
            return kExitCameraFailed;
        // The first Ctrl+C ends the search early, or lets the camera being
        // written finish and starts no other; the second ends the program.
        const InterruptCatcher catcher;
        const std::vector<CameraSnapshot> cameras = Search(session);
        if (session.stopped())
            return Interrupted(session, cameras);
        MoveOrder order;
        if (const auto status = CheckPlan(session, cameras, order))
            return *status;
        const std::vector<CameraResult> results = Write(session, cameras, order);
        return Summarize(session, results);
    }

private:
    // The plan, the spare address, the passwords and the report file; an exit
    // status after a complaint when one is bad.
    std::optional<int> ReadInputs()
    {
        options_ = CheckCommon(common_, false, true);
        if (!options_ || !CheckWrite(o_.write, *options_))
            return kExitBadInput;
        plan_ = ReadApplyPlan(o_.csv);
        if (!plan_.error.empty()) {
            Complain(plan_.error);
            return kExitBadInput;
        }
        if (!plan_.ignored_columns.empty()) {
            std::string names;
            for (const std::string& c : plan_.ignored_columns)
                names += (names.empty() ? "" : ", ") + c;
            Complain("columns that cannot be set are ignored: " + names);
        }
        if (!o_.spare.empty() && !(spare_ = Ipv4Address::Parse(o_.spare))) {
            Complain("--spare '" + PrintableText(o_.spare) + "' is no address; give one like 192.168.1.250");
            return kExitBadInput;
        }
        passwords_ = ReadPasswords(o_.write, {});
        if (!passwords_)
            return kExitBadInput;
        // Opened before anything is sent: a report that cannot be written is
        // bad input, not a failed camera found out after the whole batch.
        if (!o_.report.empty() && !report_.Open(o_.report)) {
            Complain("cannot write the report " + o_.report + ": " + std::strerror(errno) + "; nothing was sent");
            return kExitBadInput;
        }
        for (const PlanRow& row : plan_.rows)
            targets_.push_back(row.mac);
        return std::nullopt;
    }

    std::vector<CameraSnapshot> Search(Session& session)
    {
        // A new Ethernet IP is checked against every camera: the whole search.
        SearchScope scope = SearchScope::UntilTargetsFound;
        for (const PlanRow& row : plan_.rows)
            if (row.edits[NetworkFieldId::EthernetIp])
                scope = SearchScope::Whole;
        auto cameras = session.Discover(&targets_, [&](const SearchProgress& p) { progress_.Search(p); }, scope);
        progress_.Finish();
        return cameras;
    }

    int Interrupted(Session& session, const std::vector<CameraSnapshot>& cameras)
    {
        Complain("interrupted during the search; nothing was sent");
        // Every camera not started, and the report says so.
        const auto results = ApplyBatch(session, cameras, plan_.rows, BatchOptions{});
        const auto counts = WithPace(CountResults(results, options_->verify), session);
        if (json_)
            std::printf("%s\n", DumpJson(ResultsJson(results, counts)).c_str());
        if (!WriteReport(report_, results, counts))
            return kExitCameraFailed;
        return kExitInterrupted;
    }

    // Nothing is sent after a refusal: the report and the JSON say so, every
    // camera not started, with the problems that were named.
    int Refused(const Session& session)
    {
        const auto results = RefusedResults(targets_);
        if (json_)
            std::printf("%s\n", DumpJson(ResultsJson(results,
                                                     WithPace(CountResults(results, Verifying()), session), problems_))
                                    .c_str());
        WriteReport(report_, results, WithPace(CountResults(results, options_->verify), session), problems_);
        return kExitBadInput;
    }

    // One MAC from two sources, moves that cannot be ordered, addresses that
    // are not free: an exit status after the refusal, else the order of the moves.
    std::optional<int> CheckPlan(Session& session, const std::vector<CameraSnapshot>& cameras, MoveOrder& order)
    {
        bool one_source = true;
        for (const CameraSnapshot& c : cameras)
            if (std::any_of(plan_.rows.begin(), plan_.rows.end(), [&](const PlanRow& row) { return row.mac == c.mac; }))
                one_source &= OneSource(c, &problems_);
        if (!one_source)
            return Refused(session);
        std::vector<PlannedNetwork> networks = PlannedNetworks(cameras, plan_.rows, o_.write.login, passwords_->login);
        // Each camera whose move the plan cannot order, named for a script.
        const auto moves_refused = [&](const std::string& why) {
            Complain(why + "; nothing was sent");
            for (const PlannedNetwork& n : networks)
                if (n.Moves())
                    problems_.push_back({n.mac, "ethernet_ip", Ipv4Address(n.After(NetworkFieldId::EthernetIp)), AddressCheck::Held,
                                         std::nullopt, why});
            return Refused(session);
        };
        if (auto error = OrderAddressMoves(cameras, plan_.rows, spare_, networks, order))
            return moves_refused(*error);
        // A camera that takes an address another one leaves starts only once
        // that one is verified at its new address: without verification
        // nothing tells when the address is free.
        if (order.dependent() && !options_->verify && !o_.write.dry_run)
            return moves_refused("cameras of this plan take addresses other cameras of it leave, and each such move "
                                 "waits until the camera leaving is verified at its new address: leave out --no-verify");
        if (!AddressesSafe(session, networks, !common_.force, &problems_))
            return Refused(session);
        return std::nullopt;
    }

    std::vector<CameraResult> Write(Session& session, const std::vector<CameraSnapshot>& cameras, const MoveOrder& order)
    {
        BatchOptions batch{o_.write.login, passwords_->login, o_.write.dry_run, o_.write.always, order.steps,
                           [](const JournalEntry& entry) { RecordChange(entry); }};
        const auto bar = [&](const BatchProgress& p) {
            std::string label = std::to_string(p.failed) + " failed, " + std::to_string(p.in_flight) +
                                " in flight, window " + std::to_string(p.window);
            if (p.verifying > 0)
                label += ", " + std::to_string(p.verifying) + " verifying";
            progress_.Bar(p.done, p.total, label);
        };
        auto results = ApplyBatch(
            session, cameras, plan_.rows, batch,
            [&](const CameraResult& r, const BatchProgress& p) {
                progress_.Finish();
                if (r.journal)
                    RecordChange(*r.journal, true);
                if (!json_) {
                    std::printf("%s\n", ResultLine(r, true).c_str());
                    std::fflush(stdout);
                }
                bar(p);
            },
            bar);
        progress_.Finish();
        SyncChanges();
        return results;
    }

    int Summarize(const Session& session, const std::vector<CameraResult>& results)
    {
        const bool verify = Verifying();
        const auto counts = WithPace(CountResults(results, verify), session);
        bool failed = false;
        for (const CameraResult& r : results)
            failed |= ResultFailed(r);
        std::string extra;
        if (o_.write.dry_run)
            extra += ", " + std::to_string(counts.at("would apply")) + " would apply (dry run)";
        for (const char* word : {"mismatch", "unverified"})
            if (verify && counts.at(word) > 0)
                extra += ", " + std::to_string(counts.at(word)) + " " + word;
        if (counts.count("not started"))
            extra += ", " + std::to_string(counts.at("not started")) + " not started";
        if (session.pace().peak() > 0)
            extra += "; peak window " + std::to_string(session.pace().peak()) + ", " +
                     std::to_string(session.pace().resends()) + " resent steps";
        if (json_)
            std::printf("%s\n", DumpJson(ResultsJson(results, counts)).c_str());
        else
            std::printf("%zu camera%s: %d %s, %d unchanged, %d not found, %d login refused, %d failed%s\n",
                        results.size(), results.size() == 1 ? "" : "s",
                        verify ? counts.at("verified") : counts.at("applied"), verify ? "verified" : "applied",
                        counts.at("unchanged"), counts.at("not found"), counts.at("login refused"),
                        counts.at("failed"), extra.c_str());
        std::fflush(stdout);
        if (!WriteReport(report_, results, counts))
            return kExitCameraFailed;
        return WriteExitStatus(session, !failed);
    }

    bool Verifying() const { return options_->verify && !o_.write.dry_run; }

    const CommonOptions& common_;
    const ApplyOptions& o_;
    const bool json_;
    std::optional<SessionOptions> options_;
    ApplyPlan plan_;
    std::optional<Ipv4Address> spare_;
    std::optional<WritePasswords> passwords_;
    ReportFile report_;
    std::vector<MacAddress> targets_;
    Progress progress_;
    std::vector<AddressProblem> problems_;
};

} // namespace

int RunApply(const CommonOptions& common, const ApplyOptions& o)
{
    return ApplyRun(common, o).Run();
}

} // namespace vantoro::cli
