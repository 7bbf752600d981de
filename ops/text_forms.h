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

// Any text for a screen: UTF-8 kept, but control characters (C0, DEL, C1)
// and bytes that are not UTF-8 as \xNN, so no text can move the cursor,
// retitle the window or hide what follows.
std::string TerminalText(std::string_view text);

// A camera's text as a CSV cell, which people open in spreadsheets: control
// characters as \xNN, a backslash as \\, and a ' put before a text that a
// spreadsheet would take for a formula (beginning with =, +, - or @, after
// any 's). CsvCellText reads such a cell back to the very same text; a
// backslash followed by anything else is kept as typed.
std::string CsvTextCell(std::string_view text);
std::string CsvCellText(std::string_view cell);

} // namespace vantoro::ops
