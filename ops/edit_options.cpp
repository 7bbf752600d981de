#include "ops/edit_options.h"

#include "ops/text_forms.h"
#include "util/strict_address.h"

namespace vantoro::ops {

std::optional<std::string> ReadNetworkEdit(const std::string& what, const NetworkField& field, const std::string& text,
                                           GeneralEdits& edits)
{
    if (text.empty())
        return std::nullopt;
    auto& edit = edits[field.id];
    if (field.kind == NetworkFieldKind::Address) {
        edit = ParseStrictAddress(text);
        if (!edit)
            return what + " wants a dotted IPv4 address like 10.0.0.1, not '" + PrintableText(text) + "'";
        return std::nullopt;
    }
    const std::optional<bool> on = ParseSwitch(text);
    if (!on)
        return what + " wants on or off, not '" + PrintableText(text) + "'";
    edit = *on ? 1 : 0;
    return std::nullopt;
}

std::optional<std::string> ReadCameraNameCell(const std::string& what, int slot, const std::string& cell,
                                              GeneralEdits& edits)
{
    if (cell.empty())
        return std::nullopt;
    // As discover writes it: escapes and a spreadsheet's formula guard undone.
    const std::string text = CsvCellText(cell);
    if (auto error = CheckCameraName(slot, text))
        return what + " " + *error;
    edits.camera_names[std::size_t(slot)] = text;
    return std::nullopt;
}

std::optional<std::string> ReadCameraNameOption(const std::string& text, GeneralEdits& edits)
{
    const auto eq = text.find('=');
    const std::string number = text.substr(0, eq);
    if (eq == std::string::npos || number.size() != 1 || number[0] < '1' || number[0] > '4')
        return "--camera-name wants N=TEXT with N from 1 to 4, not '" + PrintableText(text) + "'";
    const int slot = number[0] - '1';
    if (edits.camera_names[std::size_t(slot)])
        return "--camera-name " + number + " is given twice";
    const std::string name = text.substr(eq + 1);
    if (auto error = CheckCameraName(slot, name))
        return "--camera-name " + *error;
    edits.camera_names[std::size_t(slot)] = name;
    return std::nullopt;
}

std::optional<std::pair<std::string, std::string>> SplitAssignment(const std::string& text)
{
    const auto eq = text.rfind('=');
    if (eq == std::string::npos)
        return std::nullopt;
    return std::pair{text.substr(0, eq), text.substr(eq + 1)};
}

} // namespace vantoro::ops
