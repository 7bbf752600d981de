#include "cli/camera_view.h"

#include "ops/csv_io.h"
#include "cli/table.h"
#include "ops/text_forms.h"
#include "link/records.h"
#include "util/mac_text.h"
#include "util/strict_address.h"

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
        net.AddRow({"Ethernet IP address", AddressText(g.ethernet_ip())});
        net.AddRow({"Ethernet subnet mask", AddressText(g.ethernet_mask())});
        net.AddRow({"Gateway", AddressText(g.gateway())});
        net.AddRow({"BOOTP start IP", AddressText(g.bootp_start_ip())});
        net.AddRow({"BOOTP end IP", AddressText(g.bootp_end_ip())});
        net.AddRow({"SERVER", OnOff(g.server_on())});
        net.AddRow({"BOOTP", OnOff(g.bootp_on())});
        net.AddRow({"PPP IP address", AddressText(g.ppp_ip())});
        net.AddRow({"PPP subnet mask", AddressText(g.ppp_mask())});
        net.AddRow({"PPP client IP address", AddressText(g.ppp_client_ip())});
        net.Print(out);
        std::fprintf(out, "\n");
        Table names({"CAMERA NAME", "TEXT"});
        for (int i = 0; i < general_layout::camera_names; ++i)
            names.AddRow({std::to_string(i + 1), PrintableText(g.camera_name(i))});
        names.Print(out);
    }
    if (c.user) {
        std::fprintf(out, "\n");
        const UserConfigReader users(c.user->data());
        Table t({"ROW", "USERNAME", "PASSWORD", "VIEW IMAGE", "ADJUST"});
        for (int r : users.ListedRows()) {
            const std::uint32_t p = users.permissions(r);
            t.AddRow({std::to_string(r), PrintableText(users.name(r)),
                      show_passwords ? PrintableText(users.password(r)) : "***", p & PERM_VIEW_IMAGE ? "yes" : "no",
                      p & PERM_ADJUST ? "yes" : "no"});
        }
        t.Print(out);
    }
    if (c.domain) {
        std::fprintf(out, "\n");
        const DomainConfigReader domains(c.domain->data());
        Table t({"ROW", "DOMAIN NAME", "IP ADDRESS"});
        for (int r : domains.ListedRows())
            t.AddRow({std::to_string(r), PrintableText(domains.name(r)), PrintableText(domains.ip_text(r))});
        t.Print(out);
    }
}

void PrintDiscoverTable(std::FILE* out, const std::vector<CameraSnapshot>& cameras, DiscoverLayout layout)
{
    const bool sweep = layout == DiscoverLayout::Sweep;
    std::vector<std::string> headers = {"MAC", "ETHERNET IP", "MASK", "GATEWAY", "FW", "SERVER", "BOOTP", "RECORDS"};
    if (sweep) {
        headers = {"MAC", "ANSWERED FROM", "ETHERNET IP", "MASK", "GATEWAY", "FW", "RECORDS"};
    } else if (layout == DiscoverLayout::Lan) {
        headers.push_back("IFACE");
    }
    Table t(headers);
    for (const CameraSnapshot& c : cameras) {
        std::vector<std::string> row = {MacTableText(c.mac)};
        if (sweep)
            row.push_back(AnswerAddressText(c));
        if (c.general) {
            const GeneralConfigReader g(c.general->data());
            row.insert(row.end(), {AddressText(g.ethernet_ip()), AddressText(g.ethernet_mask()),
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
}

void PrintDiscoverCsv(std::FILE* out, const std::vector<CameraSnapshot>& cameras)
{
    WriteCsvRow(out, {"mac", "ethernet_ip", "ethernet_mask", "gateway", "bootp_start", "bootp_end", "ppp_ip",
                      "ppp_mask", "ppp_client_ip", "server", "bootp", "camera_name_1", "camera_name_2",
                      "camera_name_3", "camera_name_4", "firmware", "records", "interface", "address"});
    for (const CameraSnapshot& c : cameras) {
        CsvRow row = {MacColonText(c.mac)};
        if (c.general) {
            const GeneralConfigReader g(c.general->data());
            row.insert(row.end(), {AddressText(g.ethernet_ip()), AddressText(g.ethernet_mask()),
                                   AddressText(g.gateway()), AddressText(g.bootp_start_ip()),
                                   AddressText(g.bootp_end_ip()), AddressText(g.ppp_ip()), AddressText(g.ppp_mask()),
                                   AddressText(g.ppp_client_ip()), OnOff(g.server_on()), OnOff(g.bootp_on())});
            for (int i = 0; i < general_layout::camera_names; ++i)
                row.push_back(g.camera_name(i));
            row.push_back(g.FirmwareVersionText());
        } else {
            row.insert(row.end(), 15, std::string());
        }
        row.push_back(RecordsLetters(c));
        row.push_back(InterfaceName(c.answer_interface));
        row.push_back(AnswerAddressText(c));
        WriteCsvRow(out, row);
    }
}

} // namespace vantoro::cli
