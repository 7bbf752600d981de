// vantoro import FILE: writes an export's three records back to its camera,
// every byte as exported, through the acknowledged sequence.

#include "cli/command_support.h"
#include "ops/export_file.h"
#include "cli/interrupt.h"
#include "ops/text_forms.h"
#include "util/mac_text.h"

#include <cstdio>

namespace vantoro::cli {

int RunImport(const CommonOptions& common, const std::string& file, const WriteOptions& write)
{
    auto options = CheckCommon(common, false);
    if (!options || !CheckWrite(write, *options))
        return kExitBadInput;
    const ImportedFile imported = ReadExport(file);
    if (!imported.records) {
        Complain(imported.error);
        return kExitBadInput;
    }
    const auto password = LoginPassword(write.login);
    if (!password)
        return kExitBadInput;
    const CameraSnapshot& backup = *imported.records;

    Session session(*options);
    if (!StartSession(session))
        return kExitCameraFailed;
    // The first Ctrl+C ends a search early, and lets a write under way finish.
    const InterruptCatcher catcher;
    // The login is checked against the user table the camera has now.
    const auto current = FindAndLogin(session, backup.mac, write.login, *password);
    if (!current)
        return session.stopped() ? kExitInterrupted : kExitCameraFailed;
    if (!OneSource(*current))
        return kExitBadInput;
    const std::string mac_text = MacTableText(backup.mac);
    const auto changes = DescribeChanges(*current, backup);
    for (const FieldChange& c : changes)
        std::printf("%s  %s\n", mac_text.c_str(), c.Text().c_str());
    // A restore puts back what the camera had, odd networks included.
    if (!AddressesSafe(session, {PlanOf(*current, *backup.general)}, false))
        return kExitBadInput;
    if (write.dry_run) {
        std::printf("%s  dry run: nothing sent (export of %s read %s)\n", mac_text.c_str(), imported.read_from.c_str(),
                    imported.read_at.c_str());
        return kExitOk;
    }
    if (session.stopped()) {
        Complain("interrupted; nothing was sent");
        return kExitInterrupted;
    }
    // Every byte of the backup was written, so every byte is compared.
    CameraResult result = WriteOne(session, {backup, *current, true}, changes, write.login, "import", "restored");
    return WriteExitStatus(session, !ResultFailed(result));
}

} // namespace vantoro::cli
