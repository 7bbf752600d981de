#pragma once
// Aligned text tables that fit a line width: when the columns are too wide,
// the widest one is cut (its cells end in '~').

#include <cstdio>
#include <string>
#include <vector>

namespace vantoro::cli {

inline constexpr std::size_t kTableWidth = 100;

class Table {
public:
    explicit Table(std::vector<std::string> headers) : headers_(std::move(headers)) {}
    void AddRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
    // Two blanks between columns; no trailing blanks.
    void Print(std::FILE* out, std::size_t width = kTableWidth) const;

private:
    std::vector<std::string> headers_;
    std::vector<std::vector<std::string>> rows_;
};

} // namespace vantoro::cli
