// vantoro show MAC: every field of the camera's three records, decoded.

#include "cli/camera_view.h"
#include "cli/change_record.h"
#include "cli/console_lines.h"
#include "cli/option_checks.h"
#include "cli/session_steps.h"
#include "cli/write_passwords.h"

#include <cstdio>

namespace vantoro::cli {

int RunShow(const CommonOptions& common, const ShowOptions& o)
{
    const auto options = CheckCommon(common, false);
    const auto mac = options ? CheckMac(o.mac) : std::nullopt;
    if (!mac)
        return kExitBadInput;
    Session session(*options);
    if (!StartSession(session))
        return kExitCameraFailed;
    const auto camera = FindCamera(session, *mac);
    if (!camera)
        return kExitCameraFailed;
    if (common.format == "json")
        std::printf("%s\n", DumpJson(CameraDetailJson(*camera, o.show_passwords)).c_str());
    else
        PrintCameraDetail(stdout, *camera, o.show_passwords);
    return kExitOk;
}

} // namespace vantoro::cli
