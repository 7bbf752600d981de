#pragma once
// The simulator's state file, for scripts and tests that compare bytes: for
// each camera in order, its 6-byte mac followed by its general, user and domain
// records of 1152 bytes each (3462 bytes per camera, no header). It is written
// to PATH.tmp and renamed over PATH, so a reader never sees half a file.

#include "util/result.h"
#include "tools/camera_sim/default_records.h"

#include <optional>
#include <string>
#include <vector>

namespace vantoro::sim {

inline constexpr std::size_t kStateBytesPerCamera = kMacSize + 3 * kFrameSize;

std::vector<std::uint8_t> EncodeState(const std::vector<VirtualCamera>& cameras);
// None when the size is not a whole number of cameras.
std::optional<std::vector<VirtualCamera>> DecodeState(const std::vector<std::uint8_t>& bytes);

// Returns an error text, or none when the file was written.
Error WriteStateFile(const std::string& path, const std::vector<VirtualCamera>& cameras);
std::optional<std::vector<VirtualCamera>> ReadStateFile(const std::string& path);

} // namespace vantoro::sim
