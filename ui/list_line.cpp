#include "ui/list_line.h"

#include "util/record_text.h"

#include <QList>

namespace vantoro::ui {

namespace {

// White space as the C locale's scan sees it.
bool IsScanSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

QString FromRecordText(std::string_view bytes)
{
    return QString::fromStdString(Utf8FromRecordText(bytes));
}

std::string ToRecordText(const QString& text)
{
    if (auto bytes = RecordTextFromUtf8(text.toStdString()))
        return *bytes;
    // What the code page cannot hold (the edits block typing it) reads '?'.
    std::string out;
    for (const uint c : text.toUcs4()) {
        const char32_t code = c;
        out += RecordTextFromUtf8(QString::fromUcs4(&code, 1).toStdString()).value_or("?");
    }
    return out;
}

QString FormatUserLine(std::string_view name, std::string_view password)
{
    std::string line = "name: ";
    line.append(name).append("   password: ").append(password);
    return FromRecordText(line);
}

QString FormatDomainLine(std::string_view name, std::string_view ip_text)
{
    std::string line = "name: ";
    line.append(name).append("   ip: ").append(ip_text);
    return FromRecordText(line);
}

std::optional<std::string> ScanListLineName(std::string_view line)
{
    constexpr std::string_view kLiteral = "name:";
    if (line.substr(0, kLiteral.size()) != kLiteral)
        return std::nullopt;
    std::size_t pos = kLiteral.size();
    while (pos < line.size() && IsScanSpace(line[pos]))
        ++pos;
    std::size_t end = pos;
    while (end < line.size() && line[end] != '\0' && !IsScanSpace(line[end]))
        ++end;
    if (end == pos)
        return std::nullopt;
    return std::string(line.substr(pos, end - pos));
}

} // namespace vantoro::ui
