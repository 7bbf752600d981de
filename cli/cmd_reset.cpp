// vantoro reset MAC --login NAME: sends the camera the reset request.

#include "cli/command_support.h"
#include "ops/text_forms.h"
#include "util/mac_text.h"

#include <cstdio>

namespace vantoro::cli {

int RunReset(const CommonOptions& common, const std::string& mac_text, const std::string& login)
{
    const auto options = CheckCommon(common, false);
    const auto mac = options ? CheckMac(mac_text) : std::nullopt;
    if (!mac)
        return kExitBadInput;
    const auto password = LoginPassword(login);
    if (!password)
        return kExitBadInput;
    Session session(*options);
    if (!StartSession(session))
        return kExitCameraFailed;
    const auto camera = FindAndLogin(session, *mac, login, *password);
    if (!camera)
        return kExitCameraFailed;
    if (!OneSource(*camera))
        return kExitBadInput;
    // The camera does not answer a reset; nothing waits for it.
    if (!session.Reset(*mac)) {
        Complain("the reset could not be sent to " + MacTableText(*mac));
        return kExitCameraFailed;
    }
    JournalEntry entry = WriteEntry(*camera, *camera, login, "reset");
    entry.result = "no acknowledgement";
    entry.detail = "the reset was sent; a camera does not acknowledge it";
    RecordChange(entry);
    std::printf("%s  reset sent\n", MacTableText(*mac).c_str());
    return kExitOk;
}

} // namespace vantoro::cli
