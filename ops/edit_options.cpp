#include "ops/edit_options.h"

#include "ops/text_forms.h"
#include "util/record_text.h"
#include "util/strict_address.h"

namespace vantoro::ops {

Error ReadNetworkEdit(const std::string& what, const NetworkField& field, const std::string& text,
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

Error ReadRecordText(const std::string& what, const std::string& text, std::string& bytes)
{
    std::string refused;
    const auto converted = RecordTextFromUtf8(text, &refused);
    if (!converted)
        return what + " '" + TerminalText(text) + "' holds '" + TerminalText(refused) +
               "', which the camera cannot store: camera texts are Windows-1252";
    bytes = *converted;
    return std::nullopt;
}

Error ReadCameraNameCell(const std::string& what, int slot, const std::string& cell,
                                              GeneralEdits& edits)
{
    if (cell.empty())
        return std::nullopt;
    // As discover writes it: escapes and a spreadsheet's formula guard undone.
    std::string text;
    if (auto error = ReadRecordText(CameraNameField(slot), CsvCellText(cell), text))
        return what + " " + *error;
    if (auto error = CheckCameraName(slot, text))
        return what + " " + *error;
    edits.camera_names[std::size_t(slot)] = text;
    return std::nullopt;
}

Error ReadCameraNameOption(const std::string& text, GeneralEdits& edits)
{
    const auto eq = text.find('=');
    const std::string number = text.substr(0, eq);
    if (eq == std::string::npos || number.size() != 1 || number[0] < '1' || number[0] > '4')
        return "--camera-name wants N=TEXT with N from 1 to 4, not '" + PrintableText(text) + "'";
    const int slot = number[0] - '1';
    if (edits.camera_names[std::size_t(slot)])
        return "--camera-name " + number + " is given twice";
    std::string name;
    if (auto error = ReadRecordText(CameraNameField(slot), text.substr(eq + 1), name))
        return "--camera-name " + *error;
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
