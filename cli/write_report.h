#pragma once
// The results of a write as one JSON document: apply's --report, and what
// set, import, apply and reset print with --format json. One schema:
// {"results": [{"mac", "result", "detail", "changes", "verified",
// "mismatches"}], "summary": {result: count}, "problems": [{"mac", "field",
// "address", "reason"}]}, problems being those of a refused plan.

#include "ops/address_checks.h"
#include "ops/batch_apply.h"

#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

namespace vantoro::cli {

using namespace vantoro::ops;

// Results by kind; "not started" only when some camera was. With
// verification the applied cameras are counted again as verified, mismatch
// or unverified.
std::map<std::string, int> CountResults(const std::vector<CameraResult>& results, bool verify);

nlohmann::ordered_json ResultsJson(const std::vector<CameraResult>& results, const std::map<std::string, int>& counts,
                                   const std::vector<AddressProblem>& problems = {});

// Every camera of a refused plan: not started, "the plan was refused".
std::vector<CameraResult> RefusedResults(const std::vector<MacAddress>& macs);

// The document on standard output.
void PrintResults(const std::vector<CameraResult>& results, bool verify,
                  const std::vector<AddressProblem>& problems = {});

} // namespace vantoro::cli
