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
#include <sys/stat.h>
#include <unistd.h>

namespace vantoro::cli {

namespace {

// The report goes into a new file beside the one named and takes its name
// only once there is something to report, so a run that ends before that (the
// tool port taken) leaves an old report as it was.
class ReportFile {
public:
    ReportFile() = default;
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;
    ~ReportFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!temp_.empty())
            ::unlink(temp_.c_str());
    }
    bool Open(const std::string& path)
    {
        path_ = path;
        std::string temp = path + ".XXXXXX";
        fd_ = ::mkstemp(temp.data());
        if (fd_ < 0)
            return false;
        temp_ = temp;
        // As a newly made file would be, rather than mkstemp's 0600.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
        return true;
    }
    bool is_open() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    bool Commit(const std::string& text)
    {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += std::size_t(n);
        }
        const bool written = done == text.size() && ::fsync(fd_) == 0;
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        if (!written || !closed || ::rename(temp_.c_str(), path_.c_str()) != 0)
            return false;
        temp_.clear();
        return true;
    }

private:
    std::string path_, temp_;
    int fd_ = -1;
};

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
                        std::optional<std::uint32_t> spare, std::vector<PlannedNetwork>& networks, MoveOrder& order)
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
    const auto passwords = ReadPasswords(o.write, {});
    if (!passwords)
        return kExitBadInput;
    const std::string* password = &passwords->login;
    const bool json = common.format == "json";
    // Opened before anything is sent: a report that cannot be written is bad
    // input, not a failed camera found out after the whole batch.
    ReportFile report;
    if (!o.report.empty()) {
        if (!report.Open(o.report)) {
            Complain("cannot write the report " + o.report + ": " + std::strerror(errno) + "; nothing was sent");
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
    // A new Ethernet IP is checked against every camera: the whole search.
    SearchScope scope = SearchScope::UntilTargetsFound;
    for (const PlanRow& row : plan.rows) {
        targets.push_back(row.mac);
        if (row.edits[NetworkFieldId::EthernetIp])
            scope = SearchScope::Whole;
    }
    const std::vector<CameraSnapshot> cameras =
        session.Discover(&targets, [&](const SearchProgress& p) { progress.Search(p); }, scope);
    progress.Finish();
    if (session.stopped()) {
        Complain("interrupted during the search; nothing was sent");
        // Every camera not started, and the report says so.
        const auto results = ApplyBatch(session, cameras, plan.rows, BatchOptions{});
        const auto counts = WithPace(CountResults(results, options->verify), session);
        if (json)
            std::printf("%s\n", DumpJson(ResultsJson(results, counts)).c_str());
        if (!WriteReport(report, results, counts))
            return kExitCameraFailed;
        return kExitInterrupted;
    }

    // Nothing is sent after a refusal: the report and the JSON say so, every
    // camera not started, with the problems that were named.
    std::vector<AddressProblem> problems;
    const auto refused = [&] {
        const auto results = RefusedResults(targets);
        if (json)
            std::printf("%s\n",
                        DumpJson(ResultsJson(results, WithPace(CountResults(results, options->verify && !o.write.dry_run), session),
                                             problems))
                            .c_str());
        WriteReport(report, results, WithPace(CountResults(results, options->verify), session), problems);
        return kExitBadInput;
    };
    // A camera of the plan whose MAC answered from two addresses.
    bool one_source = true;
    for (const CameraSnapshot& c : cameras)
        if (std::any_of(plan.rows.begin(), plan.rows.end(), [&](const PlanRow& row) { return row.mac == c.mac; }))
            one_source &= OneSource(c, &problems);
    if (!one_source)
        return refused();
    std::vector<PlannedNetwork> networks = PlannedNetworks(cameras, plan.rows, o.write.login, *password);
    // Each camera whose move the plan cannot order, named for a script.
    const auto moves_refused = [&](const std::string& why) {
        Complain(why + "; nothing was sent");
        for (const PlannedNetwork& n : networks)
            if (n.Moves())
                problems.push_back({n.mac, "ethernet_ip", n.After(NetworkFieldId::EthernetIp), AddressCheck::Held,
                                    std::nullopt, why});
        return refused();
    };
    MoveOrder order;
    if (auto error = OrderAddressMoves(cameras, plan.rows, spare, networks, order))
        return moves_refused(*error);
    // A camera that takes an address another one leaves starts only once
    // that one is verified at its new address: without verification nothing
    // tells when the address is free.
    if (order.dependent() && !options->verify && !o.write.dry_run)
        return moves_refused("cameras of this plan take addresses other cameras of it leave, and each such move "
                             "waits until the camera leaving is verified at its new address: leave out --no-verify");
    if (!AddressesSafe(session, networks, !common.force, &problems))
        return refused();
    BatchOptions batch{o.write.login, *password, o.write.dry_run, o.write.always, order.steps,
                       [](const JournalEntry& entry) { RecordChange(entry); }};
    const auto bar = [&](const BatchProgress& p) {
        std::string label = std::to_string(p.failed) + " failed, " + std::to_string(p.in_flight) + " in flight, window " +
                            std::to_string(p.window);
        if (p.verifying > 0)
            label += ", " + std::to_string(p.verifying) + " verifying";
        progress.Bar(p.done, p.total, label);
    };
    const auto results = ApplyBatch(
        session, cameras, plan.rows, batch,
        [&](const CameraResult& r, const BatchProgress& p) {
            progress.Finish();
            if (r.journal)
                RecordChange(*r.journal, true);
            if (!json) {
                std::printf("%s\n", ResultLine(r, true).c_str());
                std::fflush(stdout);
            }
            bar(p);
        },
        bar);
    progress.Finish();
    SyncChanges();

    const bool verify = options->verify && !o.write.dry_run;
    const auto counts = WithPace(CountResults(results, verify), session);
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
    if (session.pace().peak() > 0)
        extra += "; peak window " + std::to_string(session.pace().peak()) + ", " +
                 std::to_string(session.pace().resends()) + " resent steps";
    if (json)
        std::printf("%s\n", DumpJson(ResultsJson(results, counts)).c_str());
    else
        std::printf("%zu camera%s: %d %s, %d unchanged, %d not found, %d login refused, %d failed%s\n",
                results.size(), results.size() == 1 ? "" : "s", verify ? counts.at("verified") : counts.at("applied"),
                verify ? "verified" : "applied", counts.at("unchanged"), counts.at("not found"),
                counts.at("login refused"), counts.at("failed"), extra.c_str());
    std::fflush(stdout);
    if (!WriteReport(report, results, counts))
        return kExitCameraFailed;
    return WriteExitStatus(session, !failed);
}

} // namespace vantoro::cli
