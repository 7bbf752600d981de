#pragma once
// Dotted address text <-> the 32-bit address word of the records (first dotted
// number in the most significant byte). Both directions are lenient: formatting
// always gives 15 characters, parsing turns any text into some word.

#include <cstdint>
#include <cstdio>

namespace vantoro {

// Writes "%3d.%3d.%3d.%3d" into out (at least 16 bytes); returns 15.
int FormatDottedAddress(char* out, std::uint32_t value);

// Texts of 30 characters or more give 0 and write nothing; every other text
// writes "convert %s to %lX\n" to the diagnostic stream (stdout by default).
std::uint32_t ParseDottedAddress(const char* text);

// Where the diagnostic line goes; tests point it at a temporary file. nullptr
// silences it.
void SetDottedAddressLog(std::FILE* stream);

} // namespace vantoro
