// Scans any text as a list line and compares the name with what the C
// library's formatted scan of "name: %s" reads; a name without white space
// written into a user or domain line reads back as itself.
//
// Input: the whole input is the line (NULs included); it also supplies the
// name (up to the first white space or NUL, after a 1-byte length) and the
// second text of the round trip.

#include "fuzz/fuzz_check.h"
#include "ui/list_line.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

using namespace vantoro::ui;

namespace {

bool IsScanSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// sscanf stops at the first NUL, so the line is cut there for it.
std::optional<std::string> RefScan(const std::uint8_t* data, std::size_t size)
{
    std::string line(reinterpret_cast<const char*>(data), size);
    line.resize(std::strlen(line.c_str()));
    std::string name(line.size() + 1, '\0');
    if (std::sscanf(line.c_str(), "name: %s", name.data()) != 1)
        return std::nullopt;
    name.resize(std::strlen(name.c_str()));
    return name;
}

void CheckRoundTrip(const std::string& name, const std::string& second)
{
    for (const QString& line : {FormatUserLine(name, second), FormatDomainLine(name, second)}) {
        const std::string bytes = ToRecordText(line);
        const auto scanned = ScanListLineName(bytes);
        FUZZ_CHECK(scanned.has_value() && *scanned == name);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Exactly the input's bytes, with no NUL behind them: a scan that runs on
    // past the end of the view is caught.
    auto copy = std::make_unique<char[]>(size);
    std::memcpy(copy.get(), data, size);
    const std::string_view line(copy.get(), size);

    const auto name = ScanListLineName(line);
    if (name) {
        FUZZ_CHECK(!name->empty());
        for (char c : *name)
            FUZZ_CHECK(!IsScanSpace(c) && c != '\0');
        FUZZ_CHECK(line.find(*name) != std::string_view::npos);
    }
    FUZZ_CHECK(name == RefScan(data, size));

    // Record bytes survive the trip through the list box's text.
    const std::string raw(line);
    FUZZ_CHECK(ToRecordText(FromRecordText(raw)) == raw);

    if (size > 0) {
        std::size_t n = data[0];
        std::string candidate(line.substr(1, n));
        std::size_t end = 0;
        while (end < candidate.size() && !IsScanSpace(candidate[end]) && candidate[end] != '\0')
            ++end;
        candidate.resize(end);
        const std::string second(line.substr(std::min(size, 1 + n)));
        if (!candidate.empty())
            CheckRoundTrip(candidate, second);
    }
    return 0;
}
