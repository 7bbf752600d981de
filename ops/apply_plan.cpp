#include "ops/apply_plan.h"

#include "ops/csv_io.h"
#include "ops/edit_options.h"
#include "ops/text_forms.h"
#include "util/mac_text.h"

#include <algorithm>
#include <map>

namespace vantoro::ops {

namespace {

// Written by discover, read by nobody.
const char* const kReadOnlyColumns[] = {"firmware", "records", "interface", "address", "conflicts", "reachable",
                                        "mac_conflict"};

// camera_name_1 to camera_name_4 give slot 0 to 3; -1 for any other column.
int CameraNameSlot(const std::string& column)
{
    for (int slot = 0; slot < 4; ++slot)
        if (column == CameraNameField(slot))
            return slot;
    return -1;
}

template <class List>
bool Contains(const List& list, const std::string& name)
{
    return std::find_if(std::begin(list), std::end(list), [&](const char* c) { return name == c; }) != std::end(list);
}

} // namespace

std::string NetworkColumnList()
{
    std::string list;
    for (const NetworkField* field : kNetworkColumns)
        list += (list.empty() ? "" : ", ") + std::string(field->name);
    return list;
}

namespace {

ApplyPlan PlanFromCsv(const CsvFile& csv, const std::string& path)
{
    ApplyPlan plan;
    if (!csv.error.empty()) {
        plan.error = csv.error;
        return plan;
    }
    if (csv.rows.empty()) {
        plan.error = path + " is empty; it needs a header line with a mac column";
        return plan;
    }
    const CsvRow& header = csv.rows[0];
    int mac_column = -1;
    for (std::size_t c = 0; c < header.size(); ++c) {
        const std::string& name = header[c];
        if (std::count(header.begin(), header.end(), name) > 1) {
            plan.error = path + ": column '" + PrintableText(name) + "' appears twice";
            return plan;
        }
        if (name == "mac") {
            mac_column = int(c);
        } else if (Contains(kReadOnlyColumns, name)) {
            plan.ignored_columns.push_back(name);
        } else if (!FindNetworkField(name) && CameraNameSlot(name) < 0) {
            plan.error = path + ": unknown column '" + PrintableText(name) + "'; known are mac, " +
                         NetworkColumnList() +
                         ", camera_name_1 to camera_name_4 (and discover's firmware, records, interface, address, conflicts, reachable, mac_conflict)";
            return plan;
        }
    }
    if (mac_column < 0) {
        plan.error = path + ": the header has no mac column";
        return plan;
    }
    std::map<MacAddress, int> seen;
    for (std::size_t r = 1; r < csv.rows.size(); ++r) {
        const CsvRow& row = csv.rows[r];
        const int line = csv.lines[r];
        const std::string where = path + " line " + std::to_string(line);
        if (row.size() != header.size()) {
            plan.error = where + ": " + std::to_string(row.size()) + " fields, the header has " +
                         std::to_string(header.size());
            return plan;
        }
        PlanRow p;
        p.line = line;
        const auto mac = ParseMac(row[std::size_t(mac_column)]);
        if (!mac) {
            plan.error = where + ": '" + PrintableText(row[std::size_t(mac_column)]) + "' is no hardware address";
            return plan;
        }
        p.mac = *mac;
        if (auto [it, fresh] = seen.emplace(*mac, line); !fresh) {
            plan.error = where + ": camera " + MacTableText(*mac) + " appears again (first on line " +
                         std::to_string(it->second) + ")";
            return plan;
        }
        for (std::size_t c = 0; c < header.size(); ++c) {
            const std::string what = where + ", column " + header[c] + ":";
            Error error;
            if (const NetworkField* field = FindNetworkField(header[c]))
                error = ReadNetworkEdit(what, *field, row[c], p.edits);
            else if (const int slot = CameraNameSlot(header[c]); slot >= 0)
                error = ReadCameraNameCell(what, slot, row[c], p.edits);
            if (error) {
                plan.error = *error;
                return plan;
            }
        }
        plan.rows.push_back(p);
    }
    return plan;
}

// A refused file gives its error and no rows.
ApplyPlan OnlyErrorOrRows(ApplyPlan plan)
{
    if (!plan.error.empty()) {
        plan.rows.clear();
        plan.ignored_columns.clear();
    }
    return plan;
}

} // namespace

ApplyPlan ReadApplyPlan(const std::string& path)
{
    return OnlyErrorOrRows(PlanFromCsv(ReadCsvFile(path), path));
}

ApplyPlan ReadApplyPlanText(std::string_view text, const std::string& path)
{
    return OnlyErrorOrRows(PlanFromCsv(ReadCsvText(text, path), path));
}

} // namespace vantoro::ops
