#pragma once
// Reads apply's CSV: one camera per row, a mac column and any of the general
// fields and camera names. The CSV that discover writes is accepted as it is; its columns that
// cannot be set are named and ignored. Unknown columns, bad cells and
// duplicate MACs are refused with the line and the value.

#include "ops/record_edits.h"

#include <string>
#include <string_view>
#include <vector>

namespace vantoro::ops {

struct PlanRow {
    int line = 0; // in the file, the header being line 1
    MacAddress mac{};
    GeneralEdits edits;
};

struct ApplyPlan {
    std::vector<PlanRow> rows;
    std::vector<std::string> ignored_columns; // known, but not settable
    std::string error; // a refused file: then no rows
};

// The network columns apply reads, comma-separated in file order:
// "ethernet_ip, ethernet_mask, ..., server, bootp".
std::string NetworkColumnList();

ApplyPlan ReadApplyPlan(const std::string& path);
// The same from the file's bytes; path names it in messages.
ApplyPlan ReadApplyPlanText(std::string_view text, const std::string& path);

} // namespace vantoro::ops
