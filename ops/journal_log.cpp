#include "ops/journal_log.h"

#include "util/mac_text.h"

#include <cctype>
#include <ctime>
#include <string>

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
        if (text[pos] != 'T' && text[pos] != ' ')
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
        if (pos < text.size() && text[pos] == 'Z') {
            ++pos;
        } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
            const int sign = text[pos] == '-' ? -1 : 1;
            ++pos;
            int oh = 0, om = 0;
            if (!Digits(text, pos, 2, oh) || !Expect(text, pos, ':') || !Digits(text, pos, 2, om) || oh > 23 || om > 59)
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

JournalRead ReadJournal(std::istream& in, const JournalFilter& filter)
{
    JournalRead read;
    std::string line;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        if (line.empty())
            continue;
        auto entry = nlohmann::ordered_json::parse(line, nullptr, false);
        const bool whole = entry.is_object() && entry.contains("time") && entry["time"].is_string() &&
                           entry.contains("mac") && entry["mac"].is_string();
        const auto when = whole ? ParseIsoTime(entry["time"].get<std::string>()) : std::nullopt;
        const auto mac = whole ? ParseMac(entry["mac"].get<std::string>()) : std::nullopt;
        if (!when || !mac) {
            read.damaged.push_back(number);
            continue;
        }
        if ((filter.mac && *mac != *filter.mac) || (filter.since_ms && *when < *filter.since_ms))
            continue;
        read.entries.push_back(std::move(entry));
    }
    return read;
}

} // namespace vantoro::ops
