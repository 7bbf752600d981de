#include "cli/camera_view.h"

#include "ops/csv_io.h"
#include "cli/table.h"
#include "ops/text_forms.h"
#include "util/record_text.h"
#include "link/network_fields.h"
#include "link/records.h"
#include "util/mac_text.h"
#include "util/strict_address.h"
#include "ops/record_edits.h"

#include <algorithm>

namespace vantoro::cli {

using json = nlohmann::ordered_json;

namespace {

std::string RecordsLetters(const CameraSnapshot& c)
{
    return std::string(c.general ? "G" : "-") + (c.user ? "U" : "-") + (c.domain ? "D" : "-");
}

std::string OnOff(bool on) { return on ? "on" : "off"; }

} // namespace

void PrintCameraDetail(std::FILE* out, const CameraSnapshot& c, bool show_passwords)
{
    std::fprintf(out, "Camera %s  records %s", MacTableText(c.mac).c_str(), RecordsLetters(c).c_str());
    const std::string iface = InterfaceName(c.answer_interface);
    if (!iface.empty())
        std::fprintf(out, "  interface %s", iface.c_str());
    std::fprintf(out, "\n");
    if (c.general) {
        const GeneralConfigReader g(c.general->data());
        std::fprintf(out, "\nFirmware %s\n\n", g.FirmwareVersionText().c_str());
        Table net({"SETTING", "VALUE"});
        for (const NetworkField& field : kNetworkFields)
            net.AddRow({std::string(field.label), NetworkFieldText(g, field)});
        net.Print(out);
        std::fprintf(out, "\n");
        Table names({"CAMERA NAME", "TEXT"});
        for (int i = 0; i < general_layout::camera_names; ++i)
            names.AddRow({std::to_string(i + 1), Utf8FromRecordText(g.camera_name(i))});
        names.Print(out);
    }
    if (c.user) {
        std::fprintf(out, "\n");
        const UserConfigReader users(c.user->data());
        Table t({"ROW", "USERNAME", "PASSWORD", "VIEW IMAGE", "ADJUST"});
        for (int r : users.ListedRows()) {
            const std::uint32_t p = users.permissions(r);
            t.AddRow({std::to_string(r), Utf8FromRecordText(users.name(r)),
                      show_passwords ? Utf8FromRecordText(users.password(r)) : "***", p & PERM_VIEW_IMAGE ? "yes" : "no",
                      p & PERM_ADJUST ? "yes" : "no"});
        }
        t.Print(out);
    }
    if (c.domain) {
        std::fprintf(out, "\n");
        const DomainConfigReader domains(c.domain->data());
        Table t({"ROW", "DOMAIN NAME", "IP ADDRESS"});
        for (int r : domains.ListedRows())
            t.AddRow({std::to_string(r), Utf8FromRecordText(domains.name(r)), Utf8FromRecordText(domains.ip_text(r))});
        t.Print(out);
    }
}

namespace {

// Marks right after an address, so the line keeps its width: '*' an address
// other cameras use too, '!' one outside the camera's LAN; and '#' after a
// MAC that answered from more than one address. The notes below
// the table say which address and why, each once.
class Marks {
public:
    std::string For(std::uint32_t ip, const AddressStanding& s)
    {
        std::string marks;
        if (!s.conflicts.empty()) {
            marks += '*';
            Note("* " + AddressText(ip) + " is used by " + std::to_string(s.conflicts.size() + 1) + " cameras");
        }
        if (s.reachable == false) {
            std::string subnets;
            for (const AttachedSubnet& n : s.subnets)
                subnets += (subnets.empty() ? "" : ", ") + SubnetText(n);
            marks += '!';
            Note("! " + AddressText(ip) + " is outside " + s.interface + "'s subnets " +
                 (subnets.empty() ? "(it has none)" : subnets) + ": nothing reaches it there");
        }
        return marks;
    }
    // '#' after a MAC that answered from more than one address.
    std::string ForMac(const CameraSnapshot& c, const AddressStanding& s)
    {
        if (s.answered_from.empty())
            return {};
        Note("# " + SourceConflict(c) + "; set, apply, import and reset refuse it unless --wan names one of "
             "these addresses");
        return "#";
    }
    void Print(std::FILE* out) const
    {
        for (const std::string& note : notes_)
            std::fprintf(out, "%s\n", note.c_str());
    }

private:
    void Note(const std::string& note)
    {
        if (std::find(notes_.begin(), notes_.end(), note) == notes_.end())
            notes_.push_back(note);
    }
    std::vector<std::string> notes_;
};

} // namespace

void PrintDiscoverTable(std::FILE* out, const std::vector<CameraSnapshot>& cameras,
                        const std::vector<AddressStanding>& standings, DiscoverLayout layout)
{
    Marks marks;
    const bool sweep = layout == DiscoverLayout::Sweep;
    std::vector<std::string> headers = {"MAC", "ETHERNET IP", "MASK", "GATEWAY", "FW", "SERVER", "BOOTP", "RECORDS"};
    if (sweep) {
        headers = {"MAC", "ANSWERED FROM", "ETHERNET IP", "MASK", "GATEWAY", "FW", "RECORDS"};
    } else if (layout == DiscoverLayout::Lan) {
        headers.push_back("IFACE");
    }
    Table t(headers);
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const CameraSnapshot& c = cameras[i];
        std::vector<std::string> row = {MacTableText(c.mac) + marks.ForMac(c, standings[i])};
        if (sweep)
            row.push_back(AnswerAddressText(c));
        if (c.general) {
            const GeneralConfigReader g(c.general->data());
            row.insert(row.end(), {AddressText(g.ethernet_ip()) + marks.For(g.ethernet_ip(), standings[i]),
                                   AddressText(g.ethernet_mask()),
                                   AddressText(g.gateway()), g.FirmwareVersionText()});
            if (!sweep)
                row.insert(row.end(), {OnOff(g.server_on()), OnOff(g.bootp_on())});
        } else {
            row.insert(row.end(), sweep ? 4 : 6, "-");
        }
        row.push_back(RecordsLetters(c));
        if (layout == DiscoverLayout::Lan)
            row.push_back(InterfaceName(c.answer_interface));
        t.AddRow(std::move(row));
    }
    t.Print(out);
    marks.Print(out);
}

void PrintDiscoverCsv(std::FILE* out, const std::vector<CameraSnapshot>& cameras,
                      const std::vector<AddressStanding>& standings)
{
    CsvRow header = {"mac"};
    for (const NetworkField* field : kNetworkColumns)
        header.emplace_back(field->name);
    for (int i = 0; i < general_layout::camera_names; ++i)
        header.push_back(CameraNameField(i));
    header.insert(header.end(), {"firmware", "records", "interface", "address", "conflicts", "reachable", "mac_conflict"});
    WriteCsvRow(out, header);
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const CameraSnapshot& c = cameras[i];
        CsvRow row = {MacColonText(c.mac)};
        if (c.general) {
            const GeneralConfigReader g(c.general->data());
            for (const NetworkField* field : kNetworkColumns)
                row.push_back(NetworkFieldText(g, *field));
            for (int i = 0; i < general_layout::camera_names; ++i)
                row.push_back(CsvTextCell(Utf8FromRecordText(g.camera_name(i))));
            row.push_back(g.FirmwareVersionText());
        } else {
            // The network fields, the camera names and the firmware.
            row.insert(row.end(), kNetworkFieldCount + general_layout::camera_names + 1, std::string());
        }
        row.push_back(RecordsLetters(c));
        row.push_back(InterfaceName(c.answer_interface));
        row.push_back(AnswerAddressText(c));
        std::string conflicts;
        for (const MacAddress& mac : standings[i].conflicts)
            conflicts += (conflicts.empty() ? "" : " ") + MacColonText(mac);
        row.push_back(conflicts);
        row.push_back(!standings[i].reachable ? "" : *standings[i].reachable ? "yes" : "no");
        std::string answered;
        for (Ipv4Address address : standings[i].answered_from)
            answered += (answered.empty() ? "" : " ") + address.text();
        row.push_back(answered);
        WriteCsvRow(out, row);
    }
}

} // namespace vantoro::cli
