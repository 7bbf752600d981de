#pragma once
// The general record's network settings, one entry each. The Net Config page,
// show, set's options, apply's CSV columns, the camera's JSON and the change
// lines all walk this table, so a field is named, labelled and placed once.

#include "link/records.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace vantoro {

enum class NetworkFieldKind {
    Address, // an address word
    Switch,  // ON or OFF; the camera may say on with any non-zero word
};

// The index of each field in kNetworkFields.
enum class NetworkFieldId {
    EthernetIp,
    EthernetMask,
    Gateway,
    BootpStart,
    BootpEnd,
    Server,
    Bootp,
    PppIp,
    PppMask,
    PppClientIp,
};

struct NetworkField {
    NetworkFieldId id;
    std::string_view name;  // CSV column, JSON key and change line; set's option is --name with '-' for '_'
    std::string_view label; // for people, as show lists it
    std::size_t offset;     // of the field's word in the general record
    NetworkFieldKind kind;
};

// In the order show lists them and the Net Config page reads its address fields.
inline constexpr std::array<NetworkField, 10> kNetworkFields = {{
    {NetworkFieldId::EthernetIp, "ethernet_ip", "Ethernet IP address", general_layout::ethernet_ip,
     NetworkFieldKind::Address},
    {NetworkFieldId::EthernetMask, "ethernet_mask", "Ethernet subnet mask", general_layout::ethernet_mask,
     NetworkFieldKind::Address},
    {NetworkFieldId::Gateway, "gateway", "Gateway", general_layout::gateway, NetworkFieldKind::Address},
    {NetworkFieldId::BootpStart, "bootp_start", "BOOTP start IP", general_layout::bootp_start_ip,
     NetworkFieldKind::Address},
    {NetworkFieldId::BootpEnd, "bootp_end", "BOOTP end IP", general_layout::bootp_end_ip, NetworkFieldKind::Address},
    {NetworkFieldId::Server, "server", "SERVER", general_layout::server_on, NetworkFieldKind::Switch},
    {NetworkFieldId::Bootp, "bootp", "BOOTP", general_layout::bootp_on, NetworkFieldKind::Switch},
    {NetworkFieldId::PppIp, "ppp_ip", "PPP IP address", general_layout::ppp_ip, NetworkFieldKind::Address},
    {NetworkFieldId::PppMask, "ppp_mask", "PPP subnet mask", general_layout::ppp_mask, NetworkFieldKind::Address},
    {NetworkFieldId::PppClientIp, "ppp_client_ip", "PPP client IP address", general_layout::ppp_client_ip,
     NetworkFieldKind::Address},
}};

inline constexpr std::size_t kNetworkFieldCount = kNetworkFields.size();

constexpr const NetworkField& NetworkFieldOf(NetworkFieldId id)
{
    return kNetworkFields[std::size_t(id)];
}

// CSV columns, JSON keys, set's options and change lines list every address
// first, then the switches, each in table order.
inline constexpr std::array<const NetworkField*, kNetworkFieldCount> kNetworkColumns = [] {
    std::array<const NetworkField*, kNetworkFieldCount> columns{};
    std::size_t next = 0;
    for (NetworkFieldKind kind : {NetworkFieldKind::Address, NetworkFieldKind::Switch})
        for (const NetworkField& field : kNetworkFields)
            if (field.kind == kind)
                columns[next++] = &field;
    return columns;
}();

// The field of a CSV column or JSON key; null for any other name.
constexpr const NetworkField* FindNetworkField(std::string_view name)
{
    for (const NetworkField& field : kNetworkFields)
        if (field.name == name)
            return &field;
    return nullptr;
}

namespace network_fields_check {
constexpr bool IndexedById()
{
    for (std::size_t i = 0; i < kNetworkFieldCount; ++i)
        if (std::size_t(kNetworkFields[i].id) != i)
            return false;
    return true;
}
static_assert(IndexedById(), "kNetworkFields must stand in NetworkFieldId order");
} // namespace network_fields_check

} // namespace vantoro
