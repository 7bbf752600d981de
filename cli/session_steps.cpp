#include "cli/session_steps.h"

#include "cli/change_record.h"
#include "cli/console_lines.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/write_report.h"
#include "ops/record_changes.h"
#include "ops/text_forms.h"
#include "link/records.h"
#include "util/mac_text.h"

#include <algorithm>
#include <cstdio>

namespace vantoro::cli {

namespace {

std::string Missing(const CameraSnapshot& c)
{
    std::string text;
    for (const auto& [have, name] : {std::pair{c.general.has_value(), "general"},
                                     std::pair{c.user.has_value(), "user"}, std::pair{c.domain.has_value(), "domain"}})
        if (!have)
            text += std::string(text.empty() ? "" : ", ") + name;
    return text;
}

} // namespace

CameraResult WriteOne(Session& session, const WriteJob& job, const std::vector<Change>& changes,
                      const std::string& login, const char* action, const char* applied_word, bool print)
{
    CameraResult r;
    r.mac = job.records.mac;
    r.changes = changes;
    WriteOutcome outcome;
    if (session.Write(1, [&](std::size_t) { return std::optional<WriteJob>(job); },
                      [&](std::size_t, const WriteOutcome& o) { outcome = o; }) == 0) {
        r.result = BatchResult::NotStarted; // Ctrl+C just before
        if (print)
            std::printf("%s  not started\n", MacTableText(r.mac).c_str());
        return r;
    }
    r.result = outcome.sequence.ok ? BatchResult::Applied : BatchResult::Failed;
    if (!outcome.sequence.ok)
        r.detail = OutcomeText(outcome.sequence);
    TakeVerification(outcome, session.options().verify_wait_ms, r);
    r.journal = WriteEntry(job.before, job.records, login, action);
    CompleteJournal(r);
    RecordChange(*r.journal);
    std::string line = ResultLine(r, false, ResendText(outcome.sequence));
    // "restored" for an import; a failure reads as before.
    if (r.result == BatchResult::Applied && r.verification == Verification::NotChecked)
        line = MacTableText(r.mac) + "  " + applied_word + ResendText(outcome.sequence);
    else if (r.result == BatchResult::Failed && std::string(applied_word) != "applied")
        line = MacTableText(r.mac) + "  not " + applied_word + ": " + r.detail;
    else if (r.result == BatchResult::Failed)
        line = MacTableText(r.mac) + "  " + r.detail;
    if (print)
        std::printf("%s\n", TerminalText(line).c_str());
    return r;
}

bool StartSession(Session& session)
{
    if (auto error = session.Start()) {
        Complain(*error);
        return false;
    }
    return true;
}

namespace {

// A plan that moves an address needs every camera heard: the whole sweep and
// the whole wait, with nothing lost. False after a message; problems, when
// given, then names each move that could not be checked.
bool SearchedEverywhere(Session& session, const std::vector<PlannedNetwork>& plan,
                        std::vector<AddressProblem>* problems)
{
    if (std::none_of(plan.begin(), plan.end(), [](const PlannedNetwork& p) { return p.Moves(); }))
        return true;
    if (!session.searched_whole()) {
        std::vector<MacAddress> macs;
        for (const PlannedNetwork& p : plan)
            macs.push_back(p.mac);
        Progress progress;
        const auto bar = [&](const SearchProgress& p) {
            if (p.total > 0)
                progress.Search(p);
        };
        session.Discover(&macs, bar, SearchScope::Whole);
        progress.Finish();
        if (session.stopped()) {
            Complain("interrupted during the search; nothing was sent");
            return false;
        }
    }
    if (session.answers_lost() == 0)
        return true;
    const std::string lost = std::to_string(session.answers_lost()) + " answers were lost in the search";
    Complain(lost + ", so a camera holding a new address may not have been heard; nothing was sent");
    for (const PlannedNetwork& p : plan) {
        if (problems && p.Moves())
            problems->push_back({p.mac, "ethernet_ip", Ipv4Address(p.After(NetworkFieldId::EthernetIp)), AddressCheck::Held,
                                 std::nullopt, lost + ", so a camera holding it may not have been heard"});
    }
    return false;
}

} // namespace

bool AddressesSafe(Session& session, const std::vector<PlannedNetwork>& plan, bool malformed,
                   std::vector<AddressProblem>* problems)
{
    if (!SearchedEverywhere(session, plan, problems))
        return false;
    AddressCheckOptions options;
    options.malformed = malformed;
    options.lan_mode = !session.options().wan;
    options.own_addresses = OwnAddresses();
    if (session.options().ports.list_interfaces)
        options.interfaces = session.options().ports.list_interfaces();
    ArpProber prober;
    const AddressCheckReport report = CheckAddressPlan(plan, session.Cameras(), options, prober);
    for (const std::string& note : report.notes)
        Complain(note);
    for (const AddressProblem& problem : report.problems)
        Complain(problem.Text());
    if (problems)
        *problems = report.problems;
    return !report.refused();
}

bool SaidUnchanged(const CameraSnapshot& before, const CameraSnapshot& after, bool always, bool json, bool verify,
                   CameraResult& result)
{
    const std::string mac_text = MacTableText(before.mac);
    result.changes = DescribeWrite(before, after).changes;
    if (WritesNothing(before, after) && !always) {
        result.result = BatchResult::Unchanged;
        if (json)
            PrintResults({result}, verify);
        else
            std::printf("%s  unchanged\n", mac_text.c_str());
        return true;
    }
    for (std::size_t i = 0; i < result.changes.size() && !json; ++i)
        std::printf("%s  %s\n", mac_text.c_str(), TerminalText(result.changes[i].Line()).c_str());
    return false;
}

bool OneSource(const CameraSnapshot& camera, std::vector<AddressProblem>* problems)
{
    const std::string conflict = SourceConflict(camera);
    if (conflict.empty())
        return true;
    Complain(conflict + "; nothing was sent: give --wan one of these addresses to write to it");
    // One problem per address, so a script sees each place the MAC answered from.
    for (const Ipv4Address address : AnsweredFrom(camera)) {
        if (problems)
            problems->push_back({camera.mac, "mac", address, AddressCheck::Held, std::nullopt,
                                 "answered from more than one address: two devices share this hardware address, "
                                 "or one device is reached two ways; give --wan one of these addresses"});
    }
    return false;
}

namespace {

// The complaint, and the camera's result for --format json.
void Failed(CameraResult* failure, const MacAddress& mac, BatchResult result, const std::string& detail,
            const std::string& complaint)
{
    Complain(complaint);
    if (!failure)
        return;
    failure->mac = mac;
    failure->result = result;
    failure->detail = detail;
}

std::optional<CameraSnapshot> FindCamera(Session& session, const MacAddress& mac, CameraResult* failure,
                                         SearchScope scope)
{
    const std::vector<MacAddress> targets{mac};
    Progress progress; // a sweep's bar; a single search draws nothing
    const auto cameras = session.Discover(
        &targets,
        [&](const SearchProgress& p) {
            if (p.total > 0)
                progress.Search(p);
        },
        scope);
    progress.Finish();
    if (session.stopped()) {
        Failed(failure, mac, BatchResult::NotStarted, "interrupted during the search",
               "interrupted during the search; nothing was sent");
        return std::nullopt;
    }
    const std::string wait = std::to_string(session.options().wait_ms) + " ms";
    for (const CameraSnapshot& c : cameras) {
        if (c.mac != mac)
            continue;
        if (!c.complete()) {
            Failed(failure, mac, BatchResult::NotFound, "did not send its " + Missing(c) + " record within " + wait,
                   "camera " + MacTableText(mac) + " did not send its " + Missing(c) + " record within " + wait);
            return std::nullopt;
        }
        return c;
    }
    Failed(failure, mac, BatchResult::NotFound, "did not answer within " + wait,
           "camera " + MacTableText(mac) + " did not answer within " + wait);
    return std::nullopt;
}

} // namespace

std::optional<CameraSnapshot> FindCamera(Session& session, const MacAddress& mac, SearchScope scope)
{
    return FindCamera(session, mac, nullptr, scope);
}

std::optional<CameraSnapshot> FindAndLogin(Session& session, const MacAddress& mac, const std::string& login,
                                          const std::string& password, CameraResult* failure, SearchScope scope)
{
    auto camera = FindCamera(session, mac, failure, scope);
    if (camera && !LoginAccepted(*camera, login, password)) {
        Failed(failure, mac, BatchResult::LoginRefused, {},
               "Login fail: '" + login + "' with that password is not in the user table of " +
                   MacTableText(mac) + "; nothing was sent");
        return std::nullopt;
    }
    return camera;
}

int WriteExitStatus(const Session& session, bool ok)
{
    if (!session.stopped())
        return ok ? kExitOk : kExitCameraFailed;
    Complain("interrupted: the cameras in progress finished their sequences; nothing more was sent");
    return kExitInterrupted;
}

} // namespace vantoro::cli
