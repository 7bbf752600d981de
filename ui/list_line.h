#pragma once
// The text lines of the user and domain lists. A line is the only link back to
// its record rows, so it is read back with the same scan rules it was written for.

#include <QString>

#include <optional>
#include <string>
#include <string_view>

namespace vantoro::ui {

// Record texts are bytes, one Windows-1252 character each (util/record_text.h);
// a character the code page cannot hold becomes '?'.
QString FromRecordText(std::string_view bytes);
std::string ToRecordText(const QString& text);

// "name: %s   password: %s"
QString FormatUserLine(std::string_view name, std::string_view password);
// "name: %s   ip: %s"
QString FormatDomainLine(std::string_view name, std::string_view ip_text);

// The name that a formatted scan of "name: %s ..." reads from line: "name:"
// must match literally, then leading white space is skipped and the name runs
// to the next white space. None when the literal does not match or no
// character is left for the name. A name with a blank yields its first word.
std::optional<std::string> ScanListLineName(std::string_view line);

} // namespace vantoro::ui
