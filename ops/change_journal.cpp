#include "ops/change_journal.h"

#include "net/net_interfaces.h"
#include "ops/camera_json.h"
#include "ops/journal_file.h"
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
    entry.changes = DescribeWrite(before, sent).changes;
    return entry;
}

std::string JournalLine(const JournalEntry& e)
{
    // Asked once: a batch writes a line per camera.
    static const std::string user = OsUser();
    static const std::string host = HostName();
    json changes = json::array();
    for (const JournalChange& c : e.changes)
        changes.push_back(c.Json());
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
    if (fd_ >= 0) {
        // A front end syncs at the end of its work and says a failure then;
        // here, with nobody to tell, only what a forgotten end left is synced.
        static_cast<void>(Sync());
        ::close(fd_);
    }
}

Error ChangeJournal::Fail(std::string error)
{
    if (failed_)
        return std::nullopt;
    failed_ = true;
    return error;
}

Error ChangeJournal::Open()
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

Error ChangeJournal::Write(const JournalEntry& entry, bool sync_now)
{
    if (fd_ < 0) {
        auto error = Open();
        if (fd_ < 0)
            return error;
    }
    if (auto error = AppendJournalLine(fd_, JournalLine(entry) + "\n"))
        return Fail("the journal of changes " + path_ + " cannot be written: " + *error);
    unsynced_ = true;
    if (sync_now || std::chrono::steady_clock::now() - synced_at_ >= kSyncEvery)
        return Sync();
    return std::nullopt;
}

Error ChangeJournal::Append(const JournalEntry& entry)
{
    return Write(entry, true);
}

Error ChangeJournal::AppendSoon(const JournalEntry& entry)
{
    return Write(entry, false);
}

Error ChangeJournal::Sync()
{
    if (fd_ < 0 || !unsynced_)
        return std::nullopt;
    unsynced_ = false;
    synced_at_ = std::chrono::steady_clock::now();
    if (::fsync(fd_) != 0)
        return Fail("the journal of changes " + path_ + " cannot be synced: " + std::strerror(errno));
    return std::nullopt;
}

} // namespace vantoro::ops
