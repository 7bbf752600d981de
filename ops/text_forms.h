#pragma once
// Small texts of the command line: comma lists and camera texts made safe for
// a terminal. Hardware addresses and dotted quads are in util/mac_text.h and
// util/strict_address.h.

#include <string>
#include <string_view>
#include <vector>

namespace vantoro::ops {

// The comma-separated items of a list, empty ones included ("a,,b": a, "", b).
std::vector<std::string_view> SplitCommas(std::string_view list);

// Bytes outside printable ASCII as \xNN: texts from a camera go to a terminal.
std::string PrintableText(std::string_view text);

} // namespace vantoro::ops
