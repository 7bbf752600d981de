#include "ops/journal_log.h"

#include "util/mac_text.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

namespace vantoro::ops {

namespace {

// Reads exactly n digits at pos; false when they are not there.
bool Digits(std::string_view text, std::size_t& pos, std::size_t n, int& value)
{
    if (pos + n > text.size())
        return false;
    value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[pos + i];
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + (c - '0');
    }
    pos += n;
    return true;
}

bool Expect(std::string_view text, std::size_t& pos, char c)
{
    if (pos >= text.size() || text[pos] != c)
        return false;
    ++pos;
    return true;
}

} // namespace

std::optional<std::int64_t> ParseIsoTime(std::string_view text)
{
    std::size_t pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    if (!Digits(text, pos, 4, year) || !Expect(text, pos, '-') || !Digits(text, pos, 2, month) ||
        !Expect(text, pos, '-') || !Digits(text, pos, 2, day))
        return std::nullopt;
    std::int64_t offset_minutes = 0;
    if (pos < text.size()) {
        if (text[pos] != 'T' && text[pos] != 't' && text[pos] != ' ')
            return std::nullopt;
        ++pos;
        if (!Digits(text, pos, 2, hour) || !Expect(text, pos, ':') || !Digits(text, pos, 2, minute))
            return std::nullopt;
        if (pos < text.size() && text[pos] == ':') {
            ++pos;
            if (!Digits(text, pos, 2, second))
                return std::nullopt;
            if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
                ++pos;
                int scale = 100, digits = 0;
                while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
                    ms += (text[pos] - '0') * scale;
                    scale /= 10;
                    ++pos;
                    ++digits;
                }
                if (digits == 0)
                    return std::nullopt;
            }
        }
        if (pos < text.size() && (text[pos] == 'Z' || text[pos] == 'z')) {
            ++pos;
        } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
            const int sign = text[pos] == '-' ? -1 : 1;
            ++pos;
            // +01:00, +0100 or +01.
            int oh = 0, om = 0;
            if (!Digits(text, pos, 2, oh))
                return std::nullopt;
            if (pos < text.size()) {
                const bool colon = text[pos] == ':';
                pos += colon;
                if (!Digits(text, pos, 2, om))
                    return std::nullopt;
            }
            if (oh > 23 || om > 59)
                return std::nullopt;
            offset_minutes = sign * (oh * 60 + om);
        }
        if (pos != text.size())
            return std::nullopt;
    }
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    const std::time_t t = ::timegm(&tm);
    // February 29th of a common year comes back as March 1st.
    if (tm.tm_mday != day)
        return std::nullopt;
    return (std::int64_t(t) - offset_minutes * 60) * 1000 + ms;
}

namespace {

// Deeper than the bound, counting brackets and braces outside strings.
bool TooDeep(std::string_view line)
{
    int depth = 0;
    bool in_string = false, escaped = false;
    for (const char c : line) {
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kJournalDepthLimit)
                return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

struct Entry {
    nlohmann::ordered_json json;
    std::int64_t when = 0;
    MacAddress mac{};
};

std::optional<Entry> ParseEntry(std::string_view text)
{
    Entry e;
    e.json = nlohmann::ordered_json::parse(text, nullptr, false);
    if (!e.json.is_object())
        return std::nullopt;
    const auto time = e.json.find("time");
    const auto mac = e.json.find("mac");
    if (time == e.json.end() || !time->is_string() || mac == e.json.end() || !mac->is_string())
        return std::nullopt;
    const auto when = ParseIsoTime(time->get<std::string>());
    const auto parsed = ParseMac(mac->get<std::string>());
    if (!when || !parsed)
        return std::nullopt;
    e.when = *when;
    e.mac = *parsed;
    return e;
}

// Cuts bytes into lines, keeping at most the bound of any one line.
class LineReader {
public:
    LineReader(JournalRead& read, const JournalFilter& filter) : read_(read), filter_(filter) {}

    void Feed(std::string_view bytes)
    {
        while (!bytes.empty()) {
            const std::size_t end = bytes.find('\n');
            const std::string_view part = bytes.substr(0, end);
            if (!too_long_ && line_.size() + part.size() > kJournalLineLimit) {
                too_long_ = true;
                std::string().swap(line_);
            }
            if (!too_long_)
                line_.append(part);
            if (end == std::string_view::npos)
                return;
            Finish();
            bytes.remove_prefix(end + 1);
        }
    }
    void End()
    {
        if (!line_.empty() || too_long_)
            Finish();
    }

private:
    void Damaged(const char* why)
    {
        read_.damaged.push_back(number_);
        read_.why.push_back(why);
    }

    void Finish()
    {
        if (too_long_)
            Damaged("is longer than 1 MiB");
        else if (TooDeep(line_))
            Damaged("is nested too deeply");
        else if (!line_.empty())
            Take();
        line_.clear();
        too_long_ = false;
        ++number_;
    }

    void Take()
    {
        std::optional<Entry> entry = ParseEntry(line_);
        if (!entry) {
            Damaged("is damaged");
            // A line cut off by a failed write, with the next one glued to it:
            // a whole line starts with its time, and no journal text holds
            // that key unescaped, so only the last start is tried.
            const std::size_t at = line_.rfind("{\"time\":");
            if (at != 0 && at != std::string::npos)
                entry = ParseEntry(std::string_view(line_).substr(at));
            if (!entry)
                return;
        }
        if ((filter_.mac && entry->mac != *filter_.mac) || (filter_.since_ms && entry->when < *filter_.since_ms))
            return;
        read_.entries.push_back(std::move(entry->json));
    }

    JournalRead& read_;
    const JournalFilter& filter_;
    std::string line_;
    bool too_long_ = false;
    std::size_t number_ = 1;
};

} // namespace

JournalRead ReadJournal(std::istream& in, const JournalFilter& filter)
{
    JournalRead read;
    LineReader lines(read, filter);
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        lines.Feed(std::string_view(buffer, std::size_t(in.gcount())));
    if (in.bad())
        read.error = "a read failed";
    lines.End();
    return read;
}

JournalRead ReadJournal(int fd, const JournalFilter& filter)
{
    JournalRead read;
    LineReader lines(read, filter);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            read.error = std::strerror(errno);
        if (n <= 0)
            break;
        lines.Feed(std::string_view(buffer, std::size_t(n)));
    }
    lines.End();
    return read;
}

} // namespace vantoro::ops
