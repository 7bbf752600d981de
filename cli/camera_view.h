#pragma once
// A camera's records decoded for people and for scripts: the discover line,
// the full decoded view of show and export, in JSON and as text tables. The
// JSON names are stable and documented in the README.

#include "cli/session.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace vantoro::cli {

// The name of the interface with this index; empty for 0 or an unknown index.
std::string InterfaceName(unsigned index);

// The address a camera answered from; empty when unknown.
std::string AnswerAddressText(const CameraRecords& camera);

// mac, interface, address, records, firmware and the network settings.
nlohmann::ordered_json CameraSummaryJson(const CameraRecords& camera);
// The summary plus camera names, users (password "***" unless shown) and domains.
nlohmann::ordered_json CameraDetailJson(const CameraRecords& camera, bool show_passwords);
void PrintCameraDetail(std::FILE* out, const CameraRecords& camera, bool show_passwords);

// The discover table, one line per camera. LAN mode adds the interface each
// camera answered on. A sweep shows the address each answered from instead
// of the SERVER and BOOTP switches, so the line still fits.
enum class DiscoverLayout { Lan, Wan, Sweep };
void PrintDiscoverTable(std::FILE* out, const std::vector<CameraRecords>& cameras, DiscoverLayout layout);
// The discover CSV; its header names the columns that apply reads.
void PrintDiscoverCsv(std::FILE* out, const std::vector<CameraRecords>& cameras);

// Pretty JSON; bytes that are not UTF-8 become U+FFFD rather than an error.
std::string DumpJson(const nlohmann::ordered_json& value);

} // namespace vantoro::cli
