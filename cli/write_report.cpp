#include "cli/write_report.h"

#include "ops/camera_json.h"
#include "util/mac_text.h"
#include "util/strict_address.h"

#include <cstdio>

namespace vantoro::cli {

using json = nlohmann::ordered_json;

std::map<std::string, int> CountResults(const std::vector<CameraResult>& results, bool verify)
{
    std::map<std::string, int> counts;
    for (BatchResult kind : {BatchResult::Applied, BatchResult::Unchanged, BatchResult::WouldApply,
                             BatchResult::NotFound, BatchResult::LoginRefused, BatchResult::Failed})
        counts[BatchResultName(kind)] = 0;
    if (verify)
        for (const char* word : {"verified", "mismatch", "unverified"})
            counts[word] = 0;
    for (const CameraResult& r : results) {
        ++counts[BatchResultName(r.result)];
        if (r.verification != Verification::NotChecked)
            ++counts[ResultWord(r)];
    }
    return counts;
}

json ResultsJson(const std::vector<CameraResult>& results, const std::map<std::string, int>& counts,
                 const std::vector<AddressProblem>& problems)
{
    json list = json::array();
    for (const CameraResult& r : results) {
        json changes = json::array();
        for (const Change& c : r.changes)
            changes.push_back(c.Json());
        json mismatches = json::array();
        for (const Mismatch& m : r.mismatches)
            mismatches.push_back({{"field", m.field}, {"sent", m.sent}, {"reported", m.reported}});
        // Searched again: true when it kept what was sent; null when not searched.
        json verified = nullptr;
        if (r.verification != Verification::NotChecked)
            verified = r.verification == Verification::Verified;
        list.push_back({{"mac", MacColonText(r.mac)},
                        {"result", BatchResultName(r.result)},
                        {"detail", r.detail.empty() ? json(nullptr) : json(r.detail)},
                        {"changes", changes},
                        {"verified", verified},
                        {"mismatches", mismatches}});
    }
    json refused = json::array();
    for (const AddressProblem& p : problems)
        refused.push_back(
            {{"mac", MacColonText(p.mac)}, {"field", p.field}, {"address", p.address.text()}, {"reason", p.reason}});
    return {{"results", list}, {"summary", counts}, {"problems", refused}};
}

std::vector<CameraResult> RefusedResults(const std::vector<MacAddress>& macs)
{
    std::vector<CameraResult> results(macs.size());
    for (std::size_t i = 0; i < macs.size(); ++i) {
        results[i].mac = macs[i];
        results[i].result = BatchResult::NotStarted;
        results[i].detail = "the plan was refused";
    }
    return results;
}

void PrintResults(const std::vector<CameraResult>& results, bool verify, const std::vector<AddressProblem>& problems)
{
    std::printf("%s\n", DumpJson(ResultsJson(results, CountResults(results, verify), problems)).c_str());
}

} // namespace vantoro::cli
