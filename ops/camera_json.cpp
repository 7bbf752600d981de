#include "ops/camera_json.h"

#include "util/record_text.h"

#include "net/net_interfaces.h"
#include "link/network_fields.h"
#include "link/records.h"
#include "ops/text_forms.h"
#include "util/mac_text.h"
#include "util/strict_address.h"

namespace vantoro::ops {

using json = nlohmann::ordered_json;

std::string AnswerAddressText(const CameraSnapshot& c)
{
    return c.answer_address.unspecified() ? std::string() : c.answer_address.text();
}

json CameraSummaryJson(const CameraSnapshot& c)
{
    json j;
    j["mac"] = MacColonText(c.mac);
    const std::string iface = InterfaceName(c.answer_interface);
    j["interface"] = iface.empty() ? json(nullptr) : json(iface);
    const std::string address = AnswerAddressText(c);
    j["address"] = address.empty() ? json(nullptr) : json(address);
    j["records"] = {{"general", c.general.has_value()}, {"user", c.user.has_value()}, {"domain", c.domain.has_value()}};
    if (c.general) {
        const GeneralConfigReader g(c.general->data());
        j["firmware"] = g.FirmwareVersionText();
        json network = json::object();
        for (const NetworkField* field : kNetworkColumns) {
            const std::uint32_t word = g.network_word(field->offset);
            if (field->kind == NetworkFieldKind::Switch)
                network[std::string(field->name)] = word != 0;
            else
                network[std::string(field->name)] = AddressText(word);
        }
        j["network"] = network;
    } else {
        j["firmware"] = nullptr;
        j["network"] = nullptr;
    }
    return j;
}

json DiscoveredCameraJson(const CameraSnapshot& c, const AddressStanding& standing)
{
    json j = CameraSummaryJson(c);
    json conflicts = json::array();
    for (const MacAddress& mac : standing.conflicts)
        conflicts.push_back(MacColonText(mac));
    j["conflicts"] = conflicts;
    j["reachable"] = standing.reachable ? json(*standing.reachable) : json(nullptr);
    json answered = json::array();
    for (Ipv4Address address : standing.answered_from)
        answered.push_back(address.text());
    j["mac_conflict"] = answered;
    return j;
}

json CameraDetailJson(const CameraSnapshot& c, bool show_passwords)
{
    json j = CameraSummaryJson(c);
    j["camera_names"] = nullptr;
    if (c.general) {
        const GeneralConfigReader g(c.general->data());
        json names = json::array();
        for (int i = 0; i < general_layout::camera_names; ++i)
            names.push_back(Utf8FromRecordText(g.camera_name(i)));
        j["camera_names"] = names;
    }
    j["users"] = nullptr;
    if (c.user) {
        const UserConfigReader users(c.user->data());
        json rows = json::array();
        for (int r : users.ListedRows()) {
            const std::uint32_t p = users.permissions(r);
            rows.push_back({{"row", r},
                            {"name", Utf8FromRecordText(users.name(r))},
                            {"password", show_passwords ? Utf8FromRecordText(users.password(r)) : "***"},
                            {"view_image", (p & PERM_VIEW_IMAGE) != 0},
                            {"adjust", (p & PERM_ADJUST) != 0}});
        }
        j["users"] = rows;
    }
    j["domains"] = nullptr;
    if (c.domain) {
        const DomainConfigReader domains(c.domain->data());
        json rows = json::array();
        for (int r : domains.ListedRows())
            rows.push_back({{"row", r}, {"name", Utf8FromRecordText(domains.name(r))}, {"ip", Utf8FromRecordText(domains.ip_text(r))}});
        j["domains"] = rows;
    }
    return j;
}

std::string DumpJson(const json& value)
{
    return value.dump(2, ' ', false, json::error_handler_t::replace);
}

} // namespace vantoro::ops
