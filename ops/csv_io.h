#pragma once
// RFC 4180 CSV through libcsv: quoted fields, embedded commas, quotes and line
// breaks, CRLF or LF line ends, and a leading UTF-8 byte order mark.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantoro::ops {

using CsvRow = std::vector<std::string>;

struct CsvFile {
    std::vector<CsvRow> rows; // the header row first; rows of empty cells left out
    std::vector<int> lines; // for each row, the line of the file it starts on (from 1)
    std::string error; // set when the file could not be read or parsed
};

// The file, read whole within the input bound.
CsvFile ReadCsvFile(const std::string& path);
// The same from the file's bytes; name goes in front of an error.
CsvFile ReadCsvText(std::string_view text, const std::string& name);
// One record, every field quoted only where it needs to be, CRLF-terminated.
void WriteCsvRow(std::FILE* out, const CsvRow& row);

} // namespace vantoro::ops
