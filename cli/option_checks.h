#pragma once
// The options every command shares, checked into the session's settings:
// each refusal is said once, and nothing is sent.

#include "cli/commands.h"

#include <optional>
#include <string>

namespace vantoro::cli {

// The session settings from the common options; none (after a complaint)
// when one is bad. With ranges_allowed --wan and --targets may name address
// ranges to sweep.
std::optional<SessionOptions> CheckCommon(const CommonOptions& common, bool format_csv_allowed,
                                          bool ranges_allowed = false);
// The MAC argument; none (after a complaint) when it is no hardware address.
std::optional<MacAddress> CheckMac(const std::string& text);
// The write options into the session settings; false after a complaint when
// one is out of range.
bool CheckWrite(const WriteOptions& write, SessionOptions& session);

} // namespace vantoro::cli
