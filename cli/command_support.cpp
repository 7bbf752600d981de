#include "cli/command_support.h"

#include "cli/interrupt.h"
#include "cli/passwords.h"
#include "cli/progress.h"
#include "cli/write_report.h"
#include "ops/edit_options.h"
#include "ops/record_changes.h"
#include "ops/text_forms.h"
#include "net/net_interfaces.h"
#include "link/records.h"
#include "util/mac_text.h"
#include "util/record_text.h"
#include "util/strict_address.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace vantoro::cli {

namespace {

constexpr int kMaxMilliseconds = 3600000;
constexpr int kMaxRetries = 100;
constexpr int kMaxRate = 1'000'000;
constexpr int kMaxParallel = 256;

// LAN mode through the named interfaces only (a comma-separated list, read
// from VANTORO_INTERFACES); an empty list names none, so nothing is broadcast.
std::function<std::vector<NetInterface>()> InterfacesNamed(const std::string& list)
{
    std::vector<std::string> names;
    for (std::string_view name : SplitCommas(list))
        if (!name.empty())
            names.emplace_back(name);
    return [names] {
        std::vector<NetInterface> kept = ListBroadcastInterfaces();
        std::erase_if(kept, [&](const NetInterface& n) {
            return std::find(names.begin(), names.end(), n.name) == names.end();
        });
        return kept;
    };
}

// Digits only, at most 9 of them.
std::optional<int> ParseCount(const std::string& text)
{
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoi(text);
}

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

bool CheckWrite(const WriteOptions& write, SessionOptions& s)
{
    if (write.verify_wait_ms < 0 || write.verify_wait_ms > kMaxMilliseconds) {
        Complain("--verify-wait wants milliseconds from 0 to " + std::to_string(kMaxMilliseconds));
        return false;
    }
    int parallel = 0; // auto
    if (write.parallel != "auto") {
        const auto number = ParseCount(write.parallel);
        if (!number || *number < 1 || *number > kMaxParallel) {
            Complain("--parallel wants a number of cameras from 1 to " + std::to_string(kMaxParallel) + ", or auto");
            return false;
        }
        parallel = *number;
    }
    if (write.max_rate < 1 || write.max_rate > kMaxRate) {
        Complain("--max-rate wants records per second from 1 to " + std::to_string(kMaxRate));
        return false;
    }
    s.verify = !write.no_verify;
    s.verify_wait_ms = write.verify_wait_ms;
    s.parallel = parallel;
    s.max_rate = write.max_rate;
    return true;
}

std::string ResultLine(const CameraResult& r, bool with_changes, const std::string& resends)
{
    std::string line = MacTableText(r.mac) + "  " + ResultWord(r);
    if (r.result == BatchResult::Applied)
        line += resends;
    if (!r.detail.empty())
        line += ": " + r.detail;
    if (!r.mismatches.empty())
        return TerminalText(line + "  " + MismatchText(r.mismatches));
    for (std::size_t i = 0; with_changes && i < r.changes.size(); ++i)
        line += (i == 0 ? "  " : ", ") + r.changes[i].Brief();
    return TerminalText(line);
}

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

void Complain(const std::string& text)
{
    // File names and camera texts may hold anything: no control character reaches the terminal.
    std::fprintf(stderr, "vantoro: %s\n", TerminalText(text).c_str());
}

namespace {

ChangeJournal& Journal()
{
    static ChangeJournal journal;
    return journal;
}

} // namespace

void RecordChange(JournalEntry entry, bool soon)
{
    entry.program = "vantoro";
    if (auto error = soon ? Journal().AppendSoon(entry) : Journal().Append(entry))
        Complain(*error + "; the change itself goes on");
}

void SyncChanges()
{
    if (auto error = Journal().Sync())
        Complain(*error + "; the change itself goes on");
}

bool StartSession(Session& session)
{
    if (auto error = session.Start()) {
        Complain(*error);
        return false;
    }
    return true;
}

// The sweep of --wan and --targets; false after a complaint.
bool CheckTargets(const CommonOptions& common, SessionOptions& s)
{
    if (!common.wan.empty()) {
        if (auto error = s.sweep.AddList(common.wan)) {
            Complain("--wan wants a dotted IPv4 address or address ranges: " + *error);
            return false;
        }
    }
    if (!common.targets_file.empty()) {
        SweepTargets listed;
        if (auto error = listed.AddFile(common.targets_file)) {
            Complain(*error);
            return false;
        }
        if (listed.empty()) {
            Complain(common.targets_file + " names no address");
            return false;
        }
        s.sweep.Add(listed);
    }
    s.sweep.SkipSubnetEnds(ListAttachedSubnets());
    if (s.sweep.empty() && (!common.wan.empty() || !common.targets_file.empty())) {
        Complain("the targets name only network and broadcast addresses of this machine's subnets");
        return false;
    }
    if (s.sweep.count() > kMaxTargetsUnforced && !common.force) {
        Complain("the sweep covers " + std::to_string(s.sweep.count()) + " addresses, more than a /16 (" +
                 std::to_string(kMaxTargetsUnforced) + "); give --force to search them all");
        return false;
    }
    if (common.rate < 1 || common.rate > kMaxRate) {
        Complain("--rate wants addresses per second from 1 to " + std::to_string(kMaxRate));
        return false;
    }
    s.rate = common.rate;
    if (!s.sweep.empty())
        s.wan = s.sweep.at(0);
    return true;
}

std::optional<SessionOptions> CheckCommon(const CommonOptions& common, bool format_csv_allowed, bool ranges_allowed)
{
    SessionOptions s;
    if (ranges_allowed) {
        if (!CheckTargets(common, s))
            return std::nullopt;
    } else if (!common.wan.empty()) {
        // Strict: inet_addr would turn a host name into the broadcast address.
        const auto address = ParseStrictAddress(common.wan);
        if (!address) {
            Complain("--wan wants a dotted IPv4 address like 192.168.1.10, not '" + PrintableText(common.wan) + "'");
            return std::nullopt;
        }
        if (*address >= kFirstNonUnicast) {
            Complain("--wan " + common.wan + " is a multicast, class E or broadcast address; WAN mode sends to one "
                     "camera's own address only");
            return std::nullopt;
        }
        s.wan = address;
    }
    const auto in_range = [](int v, int low, int high) { return v >= low && v <= high; };
    if (!in_range(common.wait_ms, 0, kMaxMilliseconds) || !in_range(common.timeout_ms, 1, kMaxMilliseconds)) {
        Complain("--wait and --timeout want milliseconds up to " + std::to_string(kMaxMilliseconds) +
                 " (--timeout at least 1)");
        return std::nullopt;
    }
    if (!in_range(common.retries, 0, kMaxRetries)) {
        Complain("--retries wants a number from 0 to " + std::to_string(kMaxRetries));
        return std::nullopt;
    }
    if (common.format != "table" && common.format != "json" && !(format_csv_allowed && common.format == "csv")) {
        Complain("--format wants table, json" + std::string(format_csv_allowed ? " or csv" : "") + ", not '" +
                 PrintableText(common.format) + "'");
        return std::nullopt;
    }
    if (!in_range(common.camera_port, 1, 65535) || !in_range(common.tool_port, 1, 65535)) {
        Complain("--camera-port and --tool-port want a port number from 1 to 65535");
        return std::nullopt;
    }
    s.stop = InterruptFlag();
    s.wait_ms = common.wait_ms;
    s.timeout_ms = common.timeout_ms;
    s.retries = common.retries;
    s.ports.camera_port = std::uint16_t(common.camera_port);
    s.ports.tool_port = std::uint16_t(common.tool_port);
    if (const char* names = std::getenv("VANTORO_INTERFACES"))
        s.ports.list_interfaces = InterfacesNamed(names);
    return s;
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
            problems->push_back({p.mac, "ethernet_ip", p.After(NetworkFieldId::EthernetIp), AddressCheck::Held,
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
    for (const std::uint32_t address : AnsweredFrom(camera)) {
        if (problems)
            problems->push_back({camera.mac, "mac", address, AddressCheck::Held, std::nullopt,
                                 "answered from more than one address: two devices share this hardware address, "
                                 "or one device is reached two ways; give --wan one of these addresses"});
    }
    return false;
}

std::optional<MacAddress> CheckMac(const std::string& text)
{
    const auto mac = ParseMac(text);
    if (!mac)
        Complain("'" + PrintableText(text) + "' is no hardware address; give six hex bytes like 00:0a:0b:00:00:01");
    return mac;
}

std::optional<std::string> LoginPassword(const std::string& login)
{
    const auto password = ReadSecret(kPasswordVariable, "Password for " + TerminalText(login) + ": ");
    if (!password)
        Complain(std::string("no password: set ") + kPasswordVariable + " or run on a terminal to be asked");
    return password;
}

namespace {

std::optional<WritePasswords> ReadTypedPasswords(const WriteOptions& write, const std::vector<std::string>& new_names)
{
    WritePasswords p;
    if (write.secrets.empty()) {
        const auto login = LoginPassword(write.login);
        if (!login)
            return std::nullopt;
        p.login = *login;
        for (const std::string& name : new_names) {
            if (p.fresh.count(name))
                continue;
            const auto secret = ReadSecret(kNewPasswordVariable, "New password for " + TerminalText(name) + ": ");
            if (!secret) {
                Complain("no new password for " + name + ": set " + kNewPasswordVariable +
                         " or run on a terminal to be asked");
                return std::nullopt;
            }
            p.fresh[name] = *secret;
        }
        return p;
    }
    if (write.secrets != "-") {
        Complain("--secrets wants - (a JSON object on standard input), not '" + PrintableText(write.secrets) + "'");
        return std::nullopt;
    }
    const auto text = ReadBounded(stdin, kMaxSecretsBytes);
    if (!text) {
        Complain("--secrets: standard input holds more than " + std::to_string(kMaxSecretsBytes) +
                 " bytes or cannot be read; nothing was sent");
        return std::nullopt;
    }
    const auto secrets = ParseSecrets(*text);
    if (!secrets) {
        Complain("--secrets: " + secrets.error() + "; nothing was sent");
        return std::nullopt;
    }
    for (const auto& [name, password] : secrets->new_passwords) {
        if (std::find(new_names.begin(), new_names.end(), name) == new_names.end()) {
            Complain("--secrets: new_passwords names '" + name +
                     "', which no --add-user or --password names; nothing was sent");
            return std::nullopt;
        }
    }
    for (const std::string& name : new_names) {
        const auto it = secrets->new_passwords.find(name);
        if (it == secrets->new_passwords.end()) {
            Complain("--secrets: new_passwords has no password for '" + name + "'; nothing was sent");
            return std::nullopt;
        }
        p.fresh[name] = it->second;
    }
    p.login = secrets->login_password;
    return p;
}

constexpr const char* kNotStorable = "a character the camera cannot store: camera texts are Windows-1252; nothing was sent";

} // namespace

std::optional<WritePasswords> ReadPasswords(const WriteOptions& write, const std::vector<std::string>& new_names)
{
    // The name before any prompt: a login no camera can hold is refused at once.
    std::string bytes;
    if (auto error = ReadRecordText("--login", write.login, bytes)) {
        Complain(*error + "; nothing was sent");
        return std::nullopt;
    }
    auto p = ReadTypedPasswords(write, new_names);
    if (!p)
        return std::nullopt;
    // Never the password itself, not even the refused character of it.
    if (!RecordTextFromUtf8(p->login)) {
        Complain(std::string("the login password holds ") + kNotStorable);
        return std::nullopt;
    }
    for (auto& [name, password] : p->fresh) {
        auto converted = RecordTextFromUtf8(password);
        if (!converted) {
            Complain("the new password for '" + name + "' holds " + kNotStorable);
            return std::nullopt;
        }
        password = std::move(*converted);
    }
    return p;
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
