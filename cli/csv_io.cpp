#include "cli/csv_io.h"

#include <csv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vantoro::cli {

namespace {

struct Collector {
    std::vector<CsvRow> rows;
    CsvRow current;
};

void OnField(void* data, std::size_t n, void* out)
{
    auto* c = static_cast<Collector*>(out);
    c->current.emplace_back(data ? static_cast<const char*>(data) : "", data ? n : 0);
}

void OnRow(int, void* out)
{
    auto* c = static_cast<Collector*>(out);
    c->rows.push_back(std::move(c->current));
    c->current.clear();
}

} // namespace

CsvFile ReadCsvFile(const std::string& path)
{
    CsvFile file;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        file.error = "cannot read " + path + ": " + std::strerror(errno);
        return file;
    }
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // Spreadsheets often begin a UTF-8 file with a byte order mark.
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0) {
        file.error = "cannot start the CSV parser";
        return file;
    }
    Collector collector;
    const std::size_t used = csv_parse(&parser, text.data(), text.size(), OnField, OnRow, &collector);
    if (used != text.size() || csv_fini(&parser, OnField, OnRow, &collector) != 0) {
        file.error = path + ": not valid CSV (" + csv_strerror(csv_error(&parser)) + ")";
        csv_free(&parser);
        return file;
    }
    csv_free(&parser);
    // A spreadsheet may end with rows of empty cells; they name no camera.
    for (CsvRow& row : collector.rows)
        if (std::any_of(row.begin(), row.end(), [](const std::string& f) { return !f.empty(); }))
            file.rows.push_back(std::move(row));
    return file;
}

void WriteCsvRow(std::FILE* out, const CsvRow& row)
{
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0)
            std::fputc(',', out);
        const std::string& field = row[i];
        if (field.find_first_of(",\"\r\n") != std::string::npos)
            csv_fwrite(out, field.data(), field.size());
        else
            std::fwrite(field.data(), 1, field.size(), out);
    }
    std::fputs("\r\n", out);
}

} // namespace vantoro::cli
