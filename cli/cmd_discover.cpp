// vantoro discover: every camera that answers the search, sorted by MAC.

#include "cli/camera_view.h"
#include "cli/change_record.h"
#include "cli/console_lines.h"
#include "cli/option_checks.h"
#include "cli/session_steps.h"
#include "cli/write_passwords.h"
#include "cli/interrupt.h"
#include "cli/progress.h"

#include <cstdio>

namespace vantoro::cli {

int RunDiscover(const CommonOptions& common)
{
    const auto options = CheckCommon(common, true, true);
    if (!options)
        return kExitBadInput;
    Session session(*options);
    if (!StartSession(session))
        return kExitCameraFailed;
    std::vector<CameraSnapshot> cameras;
    SearchProgress reached;
    {
        const InterruptCatcher catcher;
        Progress progress;
        cameras = session.Discover(nullptr, [&](const SearchProgress& p) {
            reached = p;
            progress.Search(p);
        });
    }

    // Reachability means the LAN the camera answered on: a sweep or WAN
    // search reaches it through a router.
    const auto standings = AddressStandings(cameras, !options->wan);
    if (common.format == "json") {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (std::size_t i = 0; i < cameras.size(); ++i)
            list.push_back(DiscoveredCameraJson(cameras[i], standings[i]));
        std::printf("%s\n", DumpJson({{"cameras", list}, {"answers_lost", session.answers_lost()}}).c_str());
    } else if (common.format == "csv") {
        PrintDiscoverCsv(stdout, cameras, standings);
    } else {
        const DiscoverLayout layout = !options->wan               ? DiscoverLayout::Lan
                                      : options->sweep.count() > 1 ? DiscoverLayout::Sweep
                                                                   : DiscoverLayout::Wan;
        PrintDiscoverTable(stdout, cameras, standings, layout);
        std::printf("%zu camera%s answered\n", cameras.size(), cameras.size() == 1 ? "" : "s");
        if (session.answers_lost() > 0)
            std::printf("Hint: answers came faster than the socket buffer could hold them; as root, "
                        "'sysctl -w net.core.rmem_max=33554432' lets it hold those of some 9000 cameras.\n");
    }
    // The search worked: what it lost is told, and the exit stays 0.
    if (session.answers_lost() > 0)
        Complain(std::to_string(session.answers_lost()) + " answers were lost; the list may be incomplete");
    if (session.stopped()) {
        Complain("interrupted" + (reached.total > 0 ? " after " + std::to_string(reached.sent) + " of " +
                                                          std::to_string(reached.total) + " addresses"
                                                    : std::string()) +
                 "; the cameras listed are those found until then");
        return kExitInterrupted;
    }
    return kExitOk;
}

} // namespace vantoro::cli
