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
        if (json)
            PrintResults(results, options->verify);
        if (!WriteReport(report, results, CountResults(results, options->verify)))
            return kExitCameraFailed;
        return kExitInterrupted;
    }

    // A camera of the plan whose MAC answered from two addresses, then the address checks.
    bool one_source = true;
    for (const CameraSnapshot& c : cameras)
        if (std::any_of(plan.rows.begin(), plan.rows.end(), [&](const PlanRow& row) { return row.mac == c.mac; }))
            one_source &= OneSource(c);
    std::vector<AddressProblem> problems;
    if (!one_source ||
        !AddressesSafe(session, PlannedNetworks(cameras, plan.rows, o.write.login, *password), !common.force,
                       &problems)) {
        // Nothing was sent: the report says so rather than being left empty.
        const auto results = RefusedResults(targets);
        if (json)
            PrintResults(results, options->verify && !o.write.dry_run, problems);
        WriteReport(report, results, CountResults(results, options->verify), problems);
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
    if (!WriteReport(report, results, counts))
        return kExitCameraFailed;
    return WriteExitStatus(session, !failed);
}

} // namespace vantoro::cli
