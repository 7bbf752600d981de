#pragma once
// Turns the texts of set's options and of apply's CSV cells into edits,
// refusing a bad value with a message that names it.

#include "util/result.h"
#include "ops/record_edits.h"

#include <optional>
#include <string>

namespace vantoro::ops {

// A network field's option or cell: a dotted address, or "on"/"off" for a
// switch; empty text is no edit. what names the option or cell.
Error ReadNetworkEdit(const std::string& what, const NetworkField& field, const std::string& text,
                                           GeneralEdits& edits);
// A camera_name_N cell of apply, slot 0 to 3: empty text is no edit.
Error ReadCameraNameCell(const std::string& what, int slot, const std::string& text,
                                              GeneralEdits& edits);
// set's --camera-name N=TEXT, N from 1 to 4, split at the first '='; an empty
// TEXT clears the name.
Error ReadCameraNameOption(const std::string& text, GeneralEdits& edits);
// A typed text (UTF-8) as the camera stores it, one Windows-1252 byte per
// character, so a length checked afterwards counts characters; what names
// the value in the refusal of a character the code page cannot hold.
Error ReadRecordText(const std::string& what, const std::string& text, std::string& bytes);
// NAME=VALUE split at the last '='.
std::optional<std::pair<std::string, std::string>> SplitAssignment(const std::string& text);

} // namespace vantoro::ops
