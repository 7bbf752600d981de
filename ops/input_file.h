#pragma once
// Reads a whole input file (apply's CSV, an export, a targets file) with a
// bound, so that a wrong file, a device or a pipe that never ends is refused
// before it fills the memory.

#include "util/result.h"

#include <cstddef>
#include <string>

namespace vantoro::ops {

// An export is about 6 KB; 4 MiB holds the CSV of tens of thousands of cameras.
inline constexpr std::size_t kMaxInputFileBytes = 4u << 20;

// The file's text, or why it could not be read or is too large; what names
// the file in messages ("the targets file").
Result<std::string> ReadInputFile(const std::string& path, const std::string& what, std::size_t max_bytes = kMaxInputFileBytes);

} // namespace vantoro::ops
