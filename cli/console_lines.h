#pragma once
// What every command says on the console: complaints on standard error, and
// each camera's result line.

#include "cli/commands.h"
#include "ops/batch_apply.h"

#include <string>

namespace vantoro::cli {

// "vantoro: " and the text on standard error.
void Complain(const std::string& text);

// "00 0A 0B 00 00 02  verified", "...  mismatch  ethernet_ip sent 10.0.0.7,
// camera reports 192.168.1.11", "...  no acknowledgement at step user";
// with_changes adds the changes (apply's line).
std::string ResultLine(const CameraResult& result, bool with_changes, const std::string& resends = {});

} // namespace vantoro::cli
