#include "ops/text_forms.h"

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

} // namespace vantoro::ops
