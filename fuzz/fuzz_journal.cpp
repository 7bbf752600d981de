// Reads any bytes as the journal of changes, through the reader vantoro log
// uses. Every line is an entry, damaged or empty, and nothing else; an entry
// has a time and a MAC that read; a filter keeps a subset in file order; and
// a time that reads, written back in the journal's own form, reads the same.

#include "ops/journal_log.h"
#include "fuzz/fuzz_check.h"
#include "util/mac_text.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>

using namespace vantoro;
using namespace vantoro::ops;

namespace {

std::string JournalForm(std::int64_t ms)
{
    const std::time_t seconds = std::time_t(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    const int rest = int(((ms % 1000) + 1000) % 1000);
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, rest);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t lines = 0, empty = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        ++lines;
        empty += end == start;
        start = end + 1;
    }

    std::istringstream all(text);
    const JournalRead read = ReadJournal(all);
    // Every line is empty, an entry or damaged; a damaged one may still end
    // in a whole entry glued to it.
    FUZZ_CHECK(read.entries.size() + empty <= lines && read.damaged.size() + empty <= lines);
    FUZZ_CHECK(read.entries.size() + read.damaged.size() + empty >= lines);
    FUZZ_CHECK(read.why.size() == read.damaged.size() && read.error.empty());
    for (std::size_t i = 1; i < read.damaged.size(); ++i)
        FUZZ_CHECK(read.damaged[i - 1] < read.damaged[i] && read.damaged[i] <= lines);
    for (const auto& entry : read.entries) {
        const auto when = ParseIsoTime(entry["time"].get<std::string>());
        FUZZ_CHECK(when && ParseMac(entry["mac"].get<std::string>()));
        // Years before 1000 or after 9999 have no four-digit form.
        if (*when >= -30610224000000 && *when < 253402300800000)
            FUZZ_CHECK(ParseIsoTime(JournalForm(*when)) == when);
    }

    if (read.entries.empty())
        return 0;
    JournalFilter filter;
    filter.mac = ParseMac(read.entries.back()["mac"].get<std::string>());
    filter.since_ms = ParseIsoTime(read.entries.front()["time"].get<std::string>());
    std::istringstream again(text);
    const JournalRead some = ReadJournal(again, filter);
    FUZZ_CHECK(some.damaged == read.damaged);
    std::size_t next = 0;
    for (const auto& entry : some.entries) {
        FUZZ_CHECK(ParseMac(entry["mac"].get<std::string>()) == filter.mac);
        FUZZ_CHECK(*ParseIsoTime(entry["time"].get<std::string>()) >= *filter.since_ms);
        while (next < read.entries.size() && read.entries[next] != entry)
            ++next;
        FUZZ_CHECK(next < read.entries.size()); // in the whole read, in the same order
        ++next;
    }
    return 0;
}
