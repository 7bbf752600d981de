// Reads any bytes as apply's CSV through the reader the program uses. A plan
// is either refused with a message or read whole; a plan read is written back
// as CSV (with the program's own cell writer) and reads again to itself.

#include "ops/apply_plan.h"
#include "ops/csv_io.h"
#include "ops/text_forms.h"
#include "fuzz/fuzz_check.h"
#include "util/mac_text.h"
#include "util/strict_address.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace vantoro;
using namespace vantoro::ops;

namespace {

const char* const kColumns[] = {"mac",           "ethernet_ip",   "ethernet_mask", "gateway",      "bootp_start",
                                "bootp_end",     "ppp_ip",        "ppp_mask",      "ppp_client_ip", "server",
                                "bootp",         "camera_name_1", "camera_name_2", "camera_name_3", "camera_name_4"};

CsvRow Cells(const PlanRow& row)
{
    CsvRow cells = {MacColonText(row.mac)};
    for (const char* column : kColumns) {
        const NetworkField* field = FindNetworkField(column);
        if (!field)
            continue; // the mac, written above, and the names, below
        const auto& edit = row.edits[field->id];
        if (!edit)
            cells.emplace_back();
        else if (field->kind == NetworkFieldKind::Address)
            cells.push_back(AddressText(*edit));
        else
            cells.emplace_back(*edit != 0 ? "on" : "off");
    }
    for (const auto& name : row.edits.camera_names)
        cells.push_back(name.value_or(std::string()));
    return cells;
}

std::string WriteBack(const ApplyPlan& plan)
{
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    FUZZ_CHECK(out != nullptr);
    WriteCsvRow(out, CsvRow(std::begin(kColumns), std::end(kColumns)));
    for (const PlanRow& row : plan.rows)
        WriteCsvRow(out, Cells(row));
    FUZZ_CHECK(std::fclose(out) == 0);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ApplyPlan plan = ReadApplyPlanText(text, "plan.csv");
    if (!plan.error.empty()) {
        FUZZ_CHECK(plan.rows.empty() && plan.ignored_columns.empty());
        FUZZ_CHECK(plan.error.rfind("plan.csv", 0) == 0 || plan.error.rfind("cannot", 0) == 0);
        return 0;
    }
    int previous_line = 1;
    for (const PlanRow& row : plan.rows) {
        // Each row after the header, on the line it starts on, in order.
        FUZZ_CHECK(row.line > previous_line);
        previous_line = row.line;
    }
    const std::string written = WriteBack(plan);
    const ApplyPlan again = ReadApplyPlanText(written, "again.csv");
    FUZZ_CHECK(again.error.empty());
    FUZZ_CHECK(again.rows.size() == plan.rows.size());
    // One line each when written by us, unless a quoted name holds a line break.
    // Each row, header included, ends in CR LF: no other CR or LF means no cell holds one.
    const std::size_t rows_written = plan.rows.size() + 1;
    const bool one_line_each = std::size_t(std::count(written.begin(), written.end(), '\n')) == rows_written &&
                               std::size_t(std::count(written.begin(), written.end(), '\r')) == rows_written;
    for (std::size_t r = 0; r < plan.rows.size(); ++r) {
        FUZZ_CHECK(again.rows[r].mac == plan.rows[r].mac);
        FUZZ_CHECK(Cells(again.rows[r]) == Cells(plan.rows[r]));
        FUZZ_CHECK(!one_line_each || again.rows[r].line == int(r) + 2);
    }
    return 0;
}
