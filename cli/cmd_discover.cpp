// vantoro discover: every camera that answers the search, sorted by MAC.

#include "cli/camera_view.h"
#include "cli/command_support.h"
#include "cli/progress.h"

#include <cstdio>

namespace vantoro::cli {

int RunDiscover(const CommonOptions& common)
{
    const auto options = CheckCommon(common, true);
    if (!options)
        return kExitBadInput;
    Session session(*options);
    if (!StartSession(session))
        return kExitCameraFailed;
    Progress progress;
    const auto cameras = session.Discover(nullptr, [&](std::size_t n) { progress.Count(n); });
    progress.Finish();

    if (common.format == "json") {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const CameraRecords& c : cameras)
            list.push_back(CameraSummaryJson(c));
        std::printf("%s\n", DumpJson({{"cameras", list}}).c_str());
    } else if (common.format == "csv") {
        PrintDiscoverCsv(stdout, cameras);
    } else {
        PrintDiscoverTable(stdout, cameras, !options->wan);
        std::printf("%zu camera%s answered\n", cameras.size(), cameras.size() == 1 ? "" : "s");
    }
    return kExitOk;
}

} // namespace vantoro::cli
