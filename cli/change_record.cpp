#include "cli/change_record.h"

#include "cli/console_lines.h"

namespace vantoro::cli {

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

} // namespace vantoro::cli
