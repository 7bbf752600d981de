// vantoro reset MAC --login NAME: sends the camera the reset request.

#include "cli/change_record.h"
#include "cli/console_lines.h"
#include "cli/option_checks.h"
#include "cli/session_steps.h"
#include "cli/write_passwords.h"
#include "cli/write_report.h"
#include "ops/text_forms.h"
#include "util/mac_text.h"

#include <cstdio>

namespace vantoro::cli {

int RunReset(const CommonOptions& common, const std::string& mac_text, const WriteOptions& write)
{
    const auto options = CheckCommon(common, false);
    const auto mac = options ? CheckMac(mac_text) : std::nullopt;
    if (!mac)
        return kExitBadInput;
    const auto passwords = ReadPasswords(write, {});
    if (!passwords)
        return kExitBadInput;
    const bool json = common.format == "json";
    CameraResult result;
    result.mac = *mac;
    Session session(*options);
    if (!StartSession(session))
        return kExitCameraFailed;
    const auto camera = FindAndLogin(session, *mac, write.login, passwords->login, &result);
    if (!camera) {
        if (json)
            PrintResults({result}, false);
        return kExitCameraFailed;
    }
    if (std::vector<AddressProblem> problems; !OneSource(*camera, &problems)) {
        if (json)
            PrintResults(RefusedResults({camera->mac}), false, problems);
        return kExitBadInput;
    }
    if (write.dry_run) {
        result.result = BatchResult::WouldApply;
        result.detail = "the reset request";
        if (json)
            PrintResults({result}, false);
        else
            std::printf("%s  dry run: no reset sent\n", MacTableText(*mac).c_str());
        return kExitOk;
    }
    // The camera does not answer a reset; nothing waits for it.
    if (!session.Reset(*mac)) {
        Complain("the reset could not be sent to " + MacTableText(*mac));
        result.result = BatchResult::Failed;
        result.detail = "the reset could not be sent";
        if (json)
            PrintResults({result}, false);
        return kExitCameraFailed;
    }
    JournalEntry entry = WriteEntry(*camera, *camera, write.login, "reset");
    entry.result = "no acknowledgement";
    entry.detail = "the reset was sent; a camera does not acknowledge it";
    RecordChange(entry);
    result.result = BatchResult::Sent;
    result.detail = *entry.detail;
    if (json)
        PrintResults({result}, false);
    else
        std::printf("%s  reset sent\n", MacTableText(*mac).c_str());
    return kExitOk;
}

} // namespace vantoro::cli
