#pragma once
// vantoro's lines in the journal of changes.

#include "cli/commands.h"
#include "ops/change_journal.h"

namespace vantoro::cli {

// Appends one line to the journal of changes (program "vantoro"). A journal
// that cannot be written never stops a change: said once per run. soon: synced
// within ChangeJournal::kSyncEvery, or by SyncChanges (a batch's results).
void RecordChange(JournalEntry entry, bool soon = false);
void SyncChanges();

} // namespace vantoro::cli
