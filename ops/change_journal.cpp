#include "ops/change_journal.h"

#include "link/net_interfaces.h"
#include "ops/camera_json.h"
#include "ops/journal_file.h"
#include "ops/record_edits.h"
#include "ops/text_forms.h"
#include "util/mac_text.h"
#include "vantoro_version.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

namespace vantoro::ops {

namespace {

using json = nlohmann::ordered_json;

void GeneralChanges(const Frame& before, const Frame& after, std::vector<JournalChange>& out)
{
    const GeneralConfigReader b(before.data());
    const GeneralConfigReader a(after.data());
    for (const NetworkField* field : kNetworkColumns)
        if (b.network_word(field->offset) != a.network_word(field->offset))
            out.push_back({std::string(field->name), NetworkFieldText(b, *field), NetworkFieldText(a, *field)});
    for (int slot = 0; slot < general_layout::camera_names; ++slot)
        if (b.camera_name(slot) != a.camera_name(slot))
            out.push_back({CameraNameField(slot), PrintableText(b.camera_name(slot)), PrintableText(a.camera_name(slot))});
}

void UserChanges(const Frame& before, const Frame& after, std::vector<JournalChange>& out)
{
    const UserConfigReader b(before.data());
    const UserConfigReader a(after.data());
    for (int r = 0; r < UserConfigReader::kRows; ++r) {
        const bool had = !b.RowEmpty(r);
        const bool has = !a.RowEmpty(r);
        const std::string old_name = had ? PrintableText(b.name(r)) : std::string();
        const std::string new_name = has ? PrintableText(a.name(r)) : std::string();
        if (had && has && b.name(r) == a.name(r)) {
            if (b.permissions(r) != a.permissions(r))
                out.push_back({"permissions of " + new_name, PermissionText(b.permissions(r)),
                               PermissionText(a.permissions(r))});
            // Only that it changed: no password, old or new, is written down.
            if (b.password(r) != a.password(r))
                out.push_back({"password of " + new_name, std::nullopt, std::nullopt});
            continue;
        }
        if (had)
            out.push_back({"user " + old_name, std::nullopt, "deleted"});
        if (has) {
            out.push_back({"user " + new_name, std::nullopt, "added"});
            out.push_back({"permissions of " + new_name, std::nullopt, PermissionText(a.permissions(r))});
        }
    }
}

void DomainChanges(const Frame& before, const Frame& after, std::vector<JournalChange>& out)
{
    const DomainConfigReader b(before.data());
    const DomainConfigReader a(after.data());
    for (int r = 0; r < DomainConfigReader::kRows; ++r) {
        const bool had = !b.RowEmpty(r);
        const bool has = !a.RowEmpty(r);
        const std::string new_name = has ? PrintableText(a.name(r)) : std::string();
        if (had && has && b.name(r) == a.name(r)) {
            if (b.ip_text(r) != a.ip_text(r))
                out.push_back({"address of " + new_name, PrintableText(b.ip_text(r)), PrintableText(a.ip_text(r))});
            continue;
        }
        if (had)
            out.push_back({"domain " + PrintableText(b.name(r)), std::nullopt, "deleted"});
        if (has) {
            out.push_back({"domain " + new_name, std::nullopt, "added"});
            out.push_back({"address of " + new_name, std::nullopt, PrintableText(a.ip_text(r))});
        }
    }
}

std::string UtcNowMilliseconds()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", int(ms));
    return text;
}

std::string OsUser()
{
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return pw->pw_name;
    return std::to_string(::geteuid());
}

std::string HostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

json TextOrNull(const std::optional<std::string>& text)
{
    return text ? json(*text) : json(nullptr);
}

json TextOrNull(const std::string& text)
{
    return text.empty() ? json(nullptr) : json(text);
}

} // namespace

std::vector<JournalChange> JournalChanges(const CameraSnapshot& before, const CameraSnapshot& after)
{
    std::vector<JournalChange> out;
    const struct {
        const char* kind;
        const std::optional<Frame> CameraSnapshot::*slot;
        void (*describe)(const Frame&, const Frame&, std::vector<JournalChange>&);
    } kinds[] = {{"general", &CameraSnapshot::general, GeneralChanges},
                 {"user", &CameraSnapshot::user, UserChanges},
                 {"domain", &CameraSnapshot::domain, DomainChanges}};
    for (const auto& k : kinds) {
        const auto& b = before.*k.slot;
        const auto& a = after.*k.slot;
        if (!a || (b && *b == *a))
            continue;
        const std::size_t described = out.size();
        if (b)
            k.describe(*b, *a, out);
        // A record written whose change has no name here (an import of bytes
        // outside every field, or a record the camera never sent) still shows.
        if (out.size() == described)
            out.push_back({std::string(k.kind) + " record", std::nullopt, "written"});
    }
    return out;
}

void SetAnsweredFrom(JournalEntry& entry, const CameraSnapshot& camera)
{
    entry.interface = InterfaceName(camera.answer_interface);
    entry.address = AnswerAddressText(camera);
}

JournalEntry WriteEntry(const CameraSnapshot& before, const CameraSnapshot& sent, const std::string& login,
                        const std::string& action)
{
    JournalEntry entry;
    entry.login = login;
    entry.mac = sent.mac;
    SetAnsweredFrom(entry, before);
    entry.action = action;
    entry.changes = JournalChanges(before, sent);
    return entry;
}

std::string JournalLine(const JournalEntry& e)
{
    // Asked once: a batch writes a line per camera.
    static const std::string user = OsUser();
    static const std::string host = HostName();
    json changes = json::array();
    for (const JournalChange& c : e.changes)
        changes.push_back({{"field", c.field}, {"before", TextOrNull(c.before)}, {"after", TextOrNull(c.after)}});
    const json line = {{"time", UtcNowMilliseconds()},
                       {"program", e.program},
                       {"version", kVantoroVersion},
                       {"os_user", user},
                       {"host", host},
                       {"login", e.login},
                       {"mac", MacColonText(e.mac)},
                       {"interface", TextOrNull(e.interface)},
                       {"address", TextOrNull(e.address)},
                       {"action", e.action},
                       {"changes", changes},
                       {"result", e.result},
                       {"detail", TextOrNull(e.detail)}};
    // Camera texts may hold any byte: replaced, never a line the reader refuses.
    return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string JournalPath()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    // A relative value is to be ignored, as if unset.
    if (state && state[0] == '/')
        return std::string(state) + "/vantoro/changes.jsonl";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.local/state/vantoro/changes.jsonl";
    return {};
}

ChangeJournal::~ChangeJournal()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<std::string> ChangeJournal::Fail(std::string error)
{
    if (failed_)
        return std::nullopt;
    failed_ = true;
    return error;
}

std::optional<std::string> ChangeJournal::Open()
{
    if (fd_ >= 0)
        return std::nullopt;
    if (failed_)
        return std::nullopt; // said once; the run goes on without the journal
    if (path_.empty())
        return Fail("the journal of changes cannot be written: neither XDG_STATE_HOME nor HOME is set");
    JournalFd file = OpenJournalFile(path_, JournalAccess::Append);
    if (file.fd < 0)
        return Fail("the journal of changes " + path_ + " cannot be written: " + file.error);
    fd_ = file.fd;
    return std::nullopt;
}

std::optional<std::string> ChangeJournal::Append(const JournalEntry& entry)
{
    if (fd_ < 0) {
        auto error = Open();
        if (fd_ < 0)
            return error;
    }
    if (auto error = AppendJournalLine(fd_, JournalLine(entry) + "\n"))
        return Fail("the journal of changes " + path_ + " cannot be written: " + *error);
    if (::fsync(fd_) != 0)
        return Fail("the journal of changes " + path_ + " cannot be synced: " + std::strerror(errno));
    return std::nullopt;
}

} // namespace vantoro::ops
