#pragma once
// RFC 4180 CSV through libcsv: quoted fields, embedded commas, quotes and line
// breaks, CRLF or LF line ends, and a leading UTF-8 byte order mark.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace vantoro::cli {

using CsvRow = std::vector<std::string>;

struct CsvFile {
    std::vector<CsvRow> rows; // the header row first; rows of empty cells left out
    std::string error; // set when the file could not be read or parsed
};

CsvFile ReadCsvFile(const std::string& path);
// One record, every field quoted only where it needs to be, CRLF-terminated.
void WriteCsvRow(std::FILE* out, const CsvRow& row);

} // namespace vantoro::cli
