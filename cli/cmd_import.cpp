// vantoro import FILE: writes an export's three records back to its camera,
// every byte as exported, through the acknowledged sequence.

#include "cli/change_record.h"
#include "cli/console_lines.h"
#include "cli/option_checks.h"
#include "cli/session_steps.h"
#include "cli/write_passwords.h"
#include "ops/export_file.h"
#include "cli/interrupt.h"
#include "cli/passwords.h"
#include "cli/write_report.h"
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
    const auto passwords = ReadPasswords(write, {});
    if (!passwords)
        return kExitBadInput;
    const CameraSnapshot& backup = *imported.records;

    const bool json = common.format == "json";
    const bool verify = options->verify && !write.dry_run;
    CameraResult result;
    result.mac = backup.mac;
    Session session(*options);
    if (!StartSession(session))
        return kExitCameraFailed;
    // The first Ctrl+C ends a search early, and lets a write under way finish.
    const InterruptCatcher catcher;
    // The login is checked against the user table the camera has now.
    const auto current = FindAndLogin(session, backup.mac, write.login, passwords->login, &result);
    if (!current) {
        if (json)
            PrintResults({result}, verify);
        return session.stopped() ? kExitInterrupted : kExitCameraFailed;
    }
    if (std::vector<AddressProblem> problems; !OneSource(*current, &problems)) {
        if (json)
            PrintResults(RefusedResults({current->mac}), verify, problems);
        return kExitBadInput;
    }
    const std::string mac_text = MacTableText(backup.mac);
    // What the camera holds already, byte for byte, is not written again.
    if (SaidUnchanged(*current, backup, write.always, json, verify, result))
        return kExitOk;
    // A restore puts back what the camera had, odd networks included.
    // A backup that moves the camera's address is checked after a whole search.
    std::vector<AddressProblem> problems;
    if (!AddressesSafe(session, {PlanOf(*current, *backup.general)}, false, &problems)) {
        if (session.stopped())
            return kExitInterrupted;
        if (json) {
            auto refused = RefusedResults({backup.mac});
            refused[0].changes = result.changes; // what would have been sent
            PrintResults(refused, verify, problems);
        }
        return kExitBadInput;
    }
    if (write.dry_run) {
        result.result = BatchResult::WouldApply;
        if (json)
            PrintResults({result}, verify);
        else
            std::printf("%s  dry run: nothing sent (export of %s read %s)\n", mac_text.c_str(),
                        imported.read_from.c_str(), imported.read_at.c_str());
        return kExitOk;
    }
    if (session.stopped()) {
        Complain("interrupted; nothing was sent");
        if (json) {
            result.result = BatchResult::NotStarted;
            result.detail = "interrupted";
            PrintResults({result}, verify);
        }
        return kExitInterrupted;
    }
    result = WriteOne(session, {backup, *current, true}, result.changes, write.login, "import", "restored", !json);
    if (json)
        PrintResults({result}, verify);
    return WriteExitStatus(session, !ResultFailed(result));
}

} // namespace vantoro::cli
