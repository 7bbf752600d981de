#pragma once
// Reading the journal of changes back: the lines that can be read, filtered
// by camera and time, and the numbers of those that cannot.

#include "link/config_frame.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantoro::ops {

// An ISO 8601 date or time, as milliseconds since 1970 UTC: 2026-12-07,
// 2026-12-07T10:30, 2026-12-07T10:30:05.250Z, 2026-12-07 10:30+01:00; the
// zone as Z, +01:00, +0100 or +01. A time without a zone is UTC, as the
// journal writes it.
std::optional<std::int64_t> ParseIsoTime(std::string_view text);

struct JournalFilter {
    std::optional<MacAddress> mac;
    std::optional<std::int64_t> since_ms; // entries at or after this time
};

// A journal line is far shorter and nests three levels deep; a line beyond
// either bound is refused unread, so no line can exhaust memory or the stack.
inline constexpr std::size_t kJournalLineLimit = 1 << 20;
inline constexpr int kJournalDepthLimit = 16;

struct JournalRead {
    std::vector<nlohmann::ordered_json> entries; // as they stand in the file
    // Lines that are not a journal entry (not JSON, no time or MAC, too long
    // or too deep), from 1, and for each why: "is damaged", ...
    std::vector<std::size_t> damaged;
    std::vector<std::string> why;
    std::string error; // set when reading stopped early
};

// A damaged line that ends in a whole line (a cut-off write with the next
// program's line glued on) still gives that line's entry. Memory stays within
// the line bound, whatever the input's size; an allocation failure is thrown,
// never taken for an empty journal.
JournalRead ReadJournal(std::istream& in, const JournalFilter& filter = {});
JournalRead ReadJournal(int fd, const JournalFilter& filter = {});

} // namespace vantoro::ops
