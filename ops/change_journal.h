#pragma once
// The journal of changes: one JSON object per line in
// $XDG_STATE_HOME/vantoro/changes.jsonl, appended by both programs for every
// camera they sent a record to. Each line goes in with one write on an
// O_APPEND descriptor and is synced, so two programs writing at once never
// interleave and a crash loses at most the line under way (AppendSoon: the
// lines of the last kSyncEvery, when the machine itself fails; a program
// killed loses none, as each line is written at once). No password is
// ever written: a changed one is recorded as changed, nothing more.

#include "util/result.h"
#include "link/camera_snapshot.h"
#include "ops/record_changes.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vantoro::ops {

// A change in the journal's words, as ops/record_changes.h describes it:
// network fields as dotted quads (switches on or off), camera names as text,
// users and domains by name ("user viewer" added or deleted, "permissions of
// viewer", "password of viewer" with no values, "domain cam1", "address of cam1").
using JournalChange = Change;

struct JournalEntry {
    std::string program; // "vantoro" or "vantoro-config"
    std::string login; // the camera user name the change was made as
    MacAddress mac{};
    std::string interface; // the interface the camera answered on; empty: not known
    std::string address; // the address it answered from; empty: not known
    std::string action; // "apply", "import" or "reset"
    std::vector<JournalChange> changes;
    std::string result; // "verified", "applied", "mismatch", "unverified", "failed", "no acknowledgement"
    std::optional<std::string> detail;
};

// Interface and address from where the camera answered.
void SetAnsweredFrom(JournalEntry& entry, const CameraSnapshot& camera);

// The entry for records sent over what the camera had (before), made as
// login: where it answered from and what changed. The result is the caller's.
JournalEntry WriteEntry(const CameraSnapshot& before, const CameraSnapshot& sent, const std::string& login,
                        const std::string& action);


// The entry as one line of JSON, without its newline, stamped with the time
// (UTC, milliseconds), the version, the user of this system and the host.
std::string JournalLine(const JournalEntry& entry);

// $XDG_STATE_HOME/vantoro/changes.jsonl, or ~/.local/state/...; empty when
// neither variable is set.
std::string JournalPath();

class ChangeJournal {
public:
    explicit ChangeJournal(std::string path = JournalPath()) : path_(std::move(path)) {}
    ~ChangeJournal();
    ChangeJournal(const ChangeJournal&) = delete;
    ChangeJournal& operator=(const ChangeJournal&) = delete;

    // Makes the folder (0700) and opens the file (0600) for appending; an
    // error text when it cannot, or when either is not the user's own
    // (ops/journal_file.h), and the journal is then not used. Append opens
    // it too when needed.
    Error Open();
    // One line. Returns the error text of the first failure of this journal
    // only, so a front end says it once per run; later failures return none.
    Error Append(const JournalEntry& entry);
    // The same line, written at once but synced only when kSyncEvery has
    // passed since the last sync: results of a batch come faster than a disk
    // syncs, and a sync per camera would hold the batch back. Sync (or the
    // journal's end) syncs what is left.
    static constexpr std::chrono::milliseconds kSyncEvery{100};
    Error AppendSoon(const JournalEntry& entry);
    Error Sync();
    bool failed() const { return failed_; }
    const std::string& path() const { return path_; }

private:
    Error Fail(std::string error);
    Error Write(const JournalEntry& entry, bool sync_now);

    std::string path_;
    int fd_ = -1;
    bool failed_ = false;
    bool unsynced_ = false;
    std::chrono::steady_clock::time_point synced_at_{};
};

} // namespace vantoro::ops
