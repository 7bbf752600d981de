#pragma once
// A camera's records decoded for scripts and backups: the JSON of discover,
// show and export. The names are stable; man vantoro documents them.

#include "ops/address_checks.h"
#include "ops/session.h"

#include <nlohmann/json.hpp>

#include <string>

namespace vantoro::ops {

// The address a camera answered from; empty when unknown.
std::string AnswerAddressText(const CameraSnapshot& camera);

// mac, interface, address, records, firmware and the network settings.
nlohmann::ordered_json CameraSummaryJson(const CameraSnapshot& camera);
// The summary plus what the search shows of its address: conflicts (the
// other cameras with its Ethernet IP) and reachable (null outside LAN mode).
nlohmann::ordered_json DiscoveredCameraJson(const CameraSnapshot& camera, const AddressStanding& standing);
// The summary plus camera names, users (password "***" unless shown) and domains.
nlohmann::ordered_json CameraDetailJson(const CameraSnapshot& camera, bool show_passwords);

// Pretty JSON; bytes that are not UTF-8 become U+FFFD rather than an error.
std::string DumpJson(const nlohmann::ordered_json& value);

} // namespace vantoro::ops
