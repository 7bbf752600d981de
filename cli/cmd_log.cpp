// vantoro log: the journal of changes that both programs keep, as a table or
// JSON, for one camera or since a time.

#include "cli/change_record.h"
#include "cli/console_lines.h"
#include "cli/option_checks.h"
#include "cli/session_steps.h"
#include "cli/write_passwords.h"
#include "cli/table.h"
#include "ops/camera_json.h"
#include "ops/change_journal.h"
#include "ops/journal_file.h"
#include "ops/journal_log.h"
#include "util/mac_text.h"

#include <cstdio>
#include <limits>
#include <new>
#include <unistd.h>

namespace vantoro::cli {

namespace {

using json = nlohmann::ordered_json;

std::string Text(const json& entry, const char* key)
{
    const auto it = entry.find(key);
    return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// "ethernet_ip: 192.168.1.10 -> 10.0.0.7", "user viewer: added",
// "password of viewer: changed"; one per line of the table.
std::vector<std::string> ChangeTexts(const json& entry)
{
    std::vector<std::string> texts;
    const auto changes = entry.find("changes");
    if (changes == entry.end() || !changes->is_array())
        return texts;
    for (const json& c : *changes) {
        if (!c.is_object())
            continue;
        const std::string before = Text(c, "before");
        const std::string after = Text(c, "after");
        std::string text = Text(c, "field") + ": ";
        if (!before.empty())
            text += before + " -> ";
        texts.push_back(text + (after.empty() && before.empty() ? "changed" : after));
    }
    return texts;
}

// 2026-12-07T10:30:05Z: milliseconds only in the JSON.
std::string ShortTime(const std::string& time)
{
    const auto dot = time.find('.');
    return dot == std::string::npos ? time : time.substr(0, dot) + "Z";
}

} // namespace

int RunLog(const LogOptions& o)
{
    if (o.format != "table" && o.format != "json") {
        Complain("--format wants table or json, not '" + o.format + "'");
        return kExitBadInput;
    }
    JournalFilter filter;
    if (!o.mac.empty()) {
        filter.mac = CheckMac(o.mac);
        if (!filter.mac)
            return kExitBadInput;
    }
    if (!o.since.empty()) {
        filter.since_ms = ParseIsoTime(o.since);
        if (!filter.since_ms) {
            Complain("--since wants an ISO 8601 date or time: 2026-12-07, 2026-12-07T10:30 or "
                     "2026-12-07 10:30:05.250, with an optional zone Z, +01:00, +0100 or +01 (UTC when none), not '" +
                     o.since + "'");
            return kExitBadInput;
        }
    }
    const std::string path = JournalPath();
    if (path.empty()) {
        Complain("no journal of changes: neither XDG_STATE_HOME nor HOME is set");
        return kExitBadInput;
    }
    // Opened as the writers open it: no symlink followed, nothing but the
    // user's own regular file, and never blocking on a FIFO.
    const JournalFd file = OpenJournalFile(path, JournalAccess::Read);
    if (file.fd < 0 && !file.error.empty()) {
        Complain("cannot read the journal of changes " + path + ": " + file.error);
        return kExitCameraFailed;
    }
    JournalRead read;
    try {
        if (file.fd >= 0)
            read = ReadJournal(file.fd, filter);
    } catch (const std::bad_alloc&) {
        read.error = "out of memory";
    }
    if (file.fd >= 0)
        ::close(file.fd);
    for (std::size_t i = 0; i < read.damaged.size(); ++i)
        Complain(path + " line " + std::to_string(read.damaged[i]) + " " + read.why[i] + " and was skipped");
    if (!read.error.empty()) {
        // Never "no changes recorded" for a journal that could not be read.
        Complain("cannot read the journal of changes " + path + ": " + read.error);
        return kExitCameraFailed;
    }

    if (o.format == "json") {
        json list = json::array();
        for (const json& entry : read.entries)
            list.push_back(entry);
        std::printf("%s\n", DumpJson(list).c_str());
        return kExitOk;
    }
    if (read.entries.empty()) {
        std::fprintf(stderr, "no changes recorded in %s\n", path.c_str());
        return kExitOk;
    }
    Table table({"TIME", "PROGRAM", "MAC", "ACTION", "RESULT", "CHANGES"});
    for (const json& entry : read.entries) {
        const auto mac = ParseMac(Text(entry, "mac")); // checked by the reader
        std::vector<std::string> changes = ChangeTexts(entry);
        table.AddRow({ShortTime(Text(entry, "time")), Text(entry, "program"), mac ? MacTableText(*mac) : std::string(),
                      Text(entry, "action"), Text(entry, "result"), changes.empty() ? "" : changes[0]});
        for (std::size_t i = 1; i < changes.size(); ++i)
            table.AddRow({"", "", "", "", "", changes[i]});
    }
    // A log is read whole: no cell is cut.
    table.Print(stdout, std::numeric_limits<std::size_t>::max());
    return kExitOk;
}

} // namespace vantoro::cli
