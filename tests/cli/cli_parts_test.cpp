// The command line's own texts: tables that fit the width, and camera texts
// in CSV cells, tables and terminals.


#include "cli/front_end.h"
#include "cli/table.h"
#include "ops/csv_io.h"
#include "ops/text_forms.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace vantoro;
using namespace vantoro::cli;

TEST(CliTexts, TablesAreAlignedAndFitTheWidth)
{
    Table t({"NAME", "ADDRESS"});
    t.AddRow({"short", "10.0.0.1"});
    t.AddRow({std::string(150, 'x'), "10.0.0.2"});
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    t.Print(out, 60);
    std::fclose(out);
    const std::string printed(text, size);
    std::free(text);
    std::size_t start = 0, column = std::string::npos;
    for (std::size_t end; (end = printed.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = printed.substr(start, end - start);
        EXPECT_LE(line.size(), 60u) << line;
        const std::size_t at = line.find("10.0.0") != std::string::npos ? line.find("10.0.0") : line.find("ADDRESS");
        if (column == std::string::npos)
            column = at;
        EXPECT_EQ(at, column) << "columns out of line: " << line;
    }
    EXPECT_NE(printed.find("~"), std::string::npos) << "the cut cell is marked";
}

// Camera texts in discover's CSV: blanks kept, control characters and
// backslashes escaped, formulas guarded, and each reads back unchanged;
// tables and terminals never get a control character.
TEST(CliTexts, CameraTextsInCsvCellsAreSafeAndReadBackUnchanged)
{
    const struct {
        std::string text, cell;
    } cases[] = {
        {" Lobby", " Lobby"},
        {"Lobby \t", "Lobby \\x09"},
        {"\x1B]0;owned\x07\x1B[2J", "\\x1B]0;owned\\x07\\x1B[2J"},
        {"=HYPERLINK(\"http://x\")", "'=HYPERLINK(\"http://x\")"},
        {"+1", "'+1"},
        {"-1", "'-1"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"'=x", "''=x"},
        {"'x", "'x"},
        {"'", "'"},
        {"C:\\x41\\", "C:\\\\x41\\\\"},
        {"a,b\r\nc", "a,b\\x0D\\x0Ac"},
        {"Gr\xFC\xDF" "e", "Gr\xFC\xDF" "e"},
    };
    for (const auto& c : cases) {
        const std::string cell = CsvTextCell(c.text);
        EXPECT_EQ(cell, c.cell) << PrintableText(c.text);
        EXPECT_EQ(CsvCellText(cell), c.text) << PrintableText(c.text);
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* out = ::open_memstream(&text, &size);
        WriteCsvRow(out, {"mac", cell});
        std::fclose(out);
        const CsvFile read = ReadCsvText(std::string(text, size), "x");
        std::free(text);
        ASSERT_EQ(read.rows.size(), 1u) << read.error;
        EXPECT_EQ(read.rows[0], (CsvRow{"mac", cell})) << PrintableText(c.text);
    }
    // A hand-typed backslash is kept.
    EXPECT_EQ(CsvCellText("a\\b\\x4"), "a\\b\\x4");

    const struct {
        std::string text, shown;
    } screens[] = {{"\x1B[31mred", "\\x1B[31mred"},
                   {"Gr\xC3\xBC\xC3\x9F\x65", "Gr\xC3\xBC\xC3\x9F\x65"},
                   {"\xC2\x9B" "2J", "\\xC2\\x9B" "2J"},
                   {"\xFF\xC3", "\\xFF\\xC3"},
                   {"tab\tend\x7F", "tab\\x09end\\x7F"}};
    for (const auto& s : screens)
        EXPECT_EQ(TerminalText(s.text), s.shown) << PrintableText(s.text);
    Table t({"NAME"});
    t.AddRow({"\x1B]0;owned\x07"});
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    t.Print(out);
    std::fclose(out);
    EXPECT_EQ(std::string(text, size), "NAME\n\\x1B]0;owned\\x07\n");
    std::free(text);
}
