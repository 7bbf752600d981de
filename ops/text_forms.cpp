#include "ops/text_forms.h"

#include "util/record_text.h"

#include <algorithm>
#include <cstdio>

namespace vantoro::ops {

std::vector<std::string_view> SplitCommas(std::string_view list)
{
    std::vector<std::string_view> items;
    for (std::size_t from = 0;;) {
        const std::size_t comma = std::min(list.find(',', from), list.size());
        items.push_back(list.substr(from, comma - from));
        if (comma == list.size())
            return items;
        from = comma + 1;
    }
}

std::string PrintableText(std::string_view text)
{
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && c != '\\') {
            out += c;
        } else {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02X", b);
            out += esc;
        }
    }
    return out;
}

namespace {

void Escape(std::string& out, unsigned char b)
{
    char esc[5];
    std::snprintf(esc, sizeof esc, "\\x%02X", b);
    out += esc;
}

bool Formula(std::string_view text)
{
    const std::size_t first = text.find_first_not_of('\'');
    return first != std::string_view::npos && std::string_view("=+-@").find(text[first]) != std::string_view::npos;
}

int HexDigit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

} // namespace

std::string TerminalText(std::string_view text)
{
    std::string out;
    while (!text.empty()) {
        char32_t code = 0;
        const std::size_t n = NextUtf8(text, code);
        if (n == 0 || code < 0x20 || (code >= 0x7F && code < 0xA0)) {
            for (std::size_t i = 0; i < std::max<std::size_t>(n, 1); ++i)
                Escape(out, static_cast<unsigned char>(text[i]));
        } else {
            out.append(text.substr(0, n));
        }
        text.remove_prefix(std::max<std::size_t>(n, 1));
    }
    return out;
}

std::string CsvTextCell(std::string_view text)
{
    std::string out = Formula(text) ? "'" : "";
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F)
            Escape(out, b);
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

std::string CsvCellText(std::string_view cell)
{
    if (cell.size() > 1 && cell[0] == '\'' && Formula(cell.substr(1)))
        cell.remove_prefix(1);
    std::string out;
    for (std::size_t i = 0; i < cell.size(); ++i) {
        if (cell[i] == '\\' && i + 1 < cell.size() && cell[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (cell[i] == '\\' && i + 3 < cell.size() && cell[i + 1] == 'x' && HexDigit(cell[i + 2]) >= 0 &&
                   HexDigit(cell[i + 3]) >= 0) {
            out += char(HexDigit(cell[i + 2]) * 16 + HexDigit(cell[i + 3]));
            i += 3;
        } else {
            out += cell[i];
        }
    }
    return out;
}

} // namespace vantoro::ops
