#include "cli/edit_options.h"

#include "cli/text_forms.h"

namespace vantoro::cli {

std::optional<std::string> ReadAddressEdit(const std::string& what, const std::string& text,
                                           std::optional<std::uint32_t>& edit)
{
    if (text.empty())
        return std::nullopt;
    edit = ParseStrictAddress(text);
    if (!edit)
        return what + " wants a dotted IPv4 address like 10.0.0.1, not '" + PrintableText(text) + "'";
    return std::nullopt;
}

std::optional<std::string> ReadSwitchEdit(const std::string& what, const std::string& text, std::optional<bool>& edit)
{
    if (text.empty())
        return std::nullopt;
    edit = ParseSwitch(text);
    if (!edit)
        return what + " wants on or off, not '" + PrintableText(text) + "'";
    return std::nullopt;
}

std::optional<std::pair<std::string, std::string>> SplitAssignment(const std::string& text)
{
    const auto eq = text.rfind('=');
    if (eq == std::string::npos)
        return std::nullopt;
    return std::pair{text.substr(0, eq), text.substr(eq + 1)};
}

} // namespace vantoro::cli
