#pragma once
// A camera's records decoded for people: the discover table and CSV, and the
// full decoded view of show as text tables.

#include "cli/front_end.h"
#include "ops/camera_json.h"

#include <cstdio>
#include <string>
#include <vector>

namespace vantoro::cli {

void PrintCameraDetail(std::FILE* out, const CameraSnapshot& camera, bool show_passwords);

// The discover table, one line per camera. LAN mode adds the interface each
// camera answered on. A sweep shows the address each answered from instead
// of the SERVER and BOOTP switches, so the line still fits. An address shared
// with other cameras, or outside its LAN, gets a mark, explained below.
enum class DiscoverLayout { Lan, Wan, Sweep };
void PrintDiscoverTable(std::FILE* out, const std::vector<CameraSnapshot>& cameras,
                        const std::vector<AddressStanding>& standings, DiscoverLayout layout);
// The discover CSV; its header names the columns that apply reads.
void PrintDiscoverCsv(std::FILE* out, const std::vector<CameraSnapshot>& cameras,
                      const std::vector<AddressStanding>& standings);

} // namespace vantoro::cli
