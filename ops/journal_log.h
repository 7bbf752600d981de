#pragma once
// Reading the journal of changes back: the lines that can be read, filtered
// by camera and time, and the numbers of those that cannot.

#include "link/config_frame.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <istream>
#include <optional>
#include <string_view>
#include <vector>

namespace vantoro::ops {

// An ISO 8601 date or time, as milliseconds since 1970 UTC: 2026-12-07,
// 2026-12-07T10:30, 2026-12-07T10:30:05.250Z, 2026-12-07 10:30+01:00. A time
// without a zone is UTC, as the journal writes it.
std::optional<std::int64_t> ParseIsoTime(std::string_view text);

struct JournalFilter {
    std::optional<MacAddress> mac;
    std::optional<std::int64_t> since_ms; // entries at or after this time
};

struct JournalRead {
    std::vector<nlohmann::ordered_json> entries; // as they stand in the file
    // Lines that are not a journal entry (not JSON, no time or MAC), from 1.
    std::vector<std::size_t> damaged;
};

JournalRead ReadJournal(std::istream& in, const JournalFilter& filter = {});

} // namespace vantoro::ops
