#include "ops/csv_io.h"

#include "ops/input_file.h"

#include <csv.h>

#include <algorithm>

namespace vantoro::ops {

namespace {

// libcsv's state between rows: the next byte that is not blank starts a row.
constexpr int kRowNotBegun = 0;

struct Collector {
    std::vector<CsvRow> rows;
    std::vector<int> lines;
    CsvRow current;
    int row_line = 1; // where the row being read started
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
    c->lines.push_back(c->row_line);
    c->current.clear();
}

// The length of the line at the front of text, its line break included: LF,
// CRLF or a lone CR.
std::size_t LineLength(std::string_view text)
{
    const std::size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos)
        return text.size();
    if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
        return end + 2;
    return end + 1;
}

} // namespace

CsvFile ReadCsvFile(const std::string& path)
{
    const Result<std::string> in = ReadInputFile(path, "the CSV file");
    if (!in) {
        CsvFile file;
        file.error = in.error();
        return file;
    }
    return ReadCsvText(*in, path);
}

CsvFile ReadCsvText(std::string_view text, const std::string& name)
{
    CsvFile file;
    // Spreadsheets often begin a UTF-8 file with a byte order mark.
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.remove_prefix(3);
    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0) {
        file.error = "cannot start the CSV parser";
        return file;
    }
    Collector collector;
    // Fed line by line, so that each row is known by the line it starts on;
    // a quoted cell may hold line breaks, so rows and lines differ.
    int line = 1;
    bool parsed = true;
    while (!text.empty()) {
        const std::size_t n = LineLength(text);
        if (parser.pstate == kRowNotBegun)
            collector.row_line = line;
        if (csv_parse(&parser, text.data(), n, OnField, OnRow, &collector) != n) {
            parsed = false;
            break;
        }
        text.remove_prefix(n);
        ++line;
    }
    if (parsed && csv_fini(&parser, OnField, OnRow, &collector) != 0) {
        parsed = false;
        line = collector.row_line;
    }
    if (!parsed) {
        file.error = name + " line " + std::to_string(line) + ": not valid CSV (" + csv_strerror(csv_error(&parser)) +
                     ")";
        csv_free(&parser);
        return file;
    }
    csv_free(&parser);
    // A spreadsheet may end with rows of empty cells; they name no camera.
    for (std::size_t r = 0; r < collector.rows.size(); ++r) {
        CsvRow& row = collector.rows[r];
        if (std::any_of(row.begin(), row.end(), [](const std::string& f) { return !f.empty(); })) {
            file.rows.push_back(std::move(row));
            file.lines.push_back(collector.lines[r]);
        }
    }
    return file;
}

void WriteCsvRow(std::FILE* out, const CsvRow& row)
{
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (i > 0)
            std::fputc(',', out);
        const std::string& field = row[i];
        // Blanks at either end are quoted: the reader trims them off a bare cell.
        const bool blank_end = !field.empty() && (std::string_view(" \t").find(field.front()) != std::string_view::npos ||
                                                   std::string_view(" \t").find(field.back()) != std::string_view::npos);
        if (blank_end || field.find_first_of(",\"\r\n") != std::string::npos)
            csv_fwrite(out, field.data(), field.size());
        else
            std::fwrite(field.data(), 1, field.size(), out);
    }
    std::fputs("\r\n", out);
}

} // namespace vantoro::ops
