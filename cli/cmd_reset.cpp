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
    if (!FindAndLogin(session, *mac, login, *password))
        return kExitCameraFailed;
    // The camera does not answer a reset; nothing waits for it.
    session.Reset(*mac);
    std::printf("%s  reset sent\n", MacTableText(*mac).c_str());
    return kExitOk;
}

} // namespace vantoro::cli
