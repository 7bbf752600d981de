#include "cli/table.h"

#include "ops/text_forms.h"

#include <algorithm>

namespace vantoro::cli {

namespace {

constexpr std::size_t kGap = 2;

std::string Fit(const std::string& cell, std::size_t width)
{
    if (cell.size() <= width)
        return cell;
    return width == 0 ? std::string() : cell.substr(0, width - 1) + "~";
}

} // namespace

void Table::Print(std::FILE* out, std::size_t width) const
{
    // Control characters shown, never sent to the terminal.
    std::vector<std::vector<std::string>> rows = rows_;
    for (auto& row : rows)
        for (std::string& cell : row)
            cell = ops::TerminalText(cell);
    const std::size_t columns = headers_.size();
    std::vector<std::size_t> widths(columns);
    for (std::size_t c = 0; c < columns; ++c) {
        widths[c] = headers_[c].size();
        for (const auto& row : rows)
            if (c < row.size())
                widths[c] = std::max(widths[c], row[c].size());
    }
    auto total = [&] {
        std::size_t sum = columns > 0 ? (columns - 1) * kGap : 0;
        for (std::size_t w : widths)
            sum += w;
        return sum;
    };
    while (total() > width) {
        auto widest = std::max_element(widths.begin(), widths.end());
        if (*widest <= 4)
            break;
        --*widest;
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (std::size_t c = 0; c < columns; ++c) {
            const std::string cell = Fit(c < cells.size() ? cells[c] : std::string(), widths[c]);
            text += cell;
            if (c + 1 < columns)
                text += std::string(widths[c] - cell.size() + kGap, ' ');
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        std::fprintf(out, "%s\n", text.c_str());
    };
    line(headers_);
    for (const auto& row : rows)
        line(row);
}

} // namespace vantoro::cli
