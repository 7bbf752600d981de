#include "cli/console_lines.h"

#include "ops/text_forms.h"
#include "util/mac_text.h"

#include <cstdio>

namespace vantoro::cli {

void Complain(const std::string& text)
{
    // File names and camera texts may hold anything: no control character reaches the terminal.
    std::fprintf(stderr, "vantoro: %s\n", TerminalText(text).c_str());
}

std::string ResultLine(const CameraResult& r, bool with_changes, const std::string& resends)
{
    std::string line = MacTableText(r.mac) + "  " + ResultWord(r);
    if (r.result == BatchResult::Applied)
        line += resends;
    if (!r.detail.empty())
        line += ": " + r.detail;
    if (!r.mismatches.empty())
        return TerminalText(line + "  " + MismatchText(r.mismatches));
    for (std::size_t i = 0; with_changes && i < r.changes.size(); ++i)
        line += (i == 0 ? "  " : ", ") + r.changes[i].Brief();
    return TerminalText(line);
}

} // namespace vantoro::cli
