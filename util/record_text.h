#pragma once
// The cameras' texts (names, users, passwords, domains) are Windows-1252: one
// byte per character, as the cameras' own software wrote them. Both front ends
// show them as UTF-8 and convert what is typed back, refusing what the code
// page cannot hold, so a text set by one reads the same in the other.

#include <optional>
#include <string>
#include <string_view>

namespace vantoro {

// Every byte as its character; the five bytes the code page leaves undefined
// (81, 8D, 8F, 90, 9D) as the control characters of the same number.
std::string Utf8FromRecordText(std::string_view bytes);

// The record's bytes for a UTF-8 text, one per character; none when the text
// is not UTF-8 or holds a character Windows-1252 cannot hold. The first such
// character, as UTF-8, goes to *refused when given.
std::optional<std::string> RecordTextFromUtf8(std::string_view text, std::string* refused = nullptr);

// The length of the UTF-8 sequence at the front of text, its character in
// code; 0 when it is no well-formed UTF-8 (overlong forms and surrogates too).
std::size_t NextUtf8(std::string_view text, char32_t& code);

} // namespace vantoro
