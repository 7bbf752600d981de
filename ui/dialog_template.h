#pragma once
// Dialog templates kept as data: every control with its id, kind, text,
// rectangle in dialog units and initial state, as the pages were laid out.

#include <span>

namespace vantoro::ui {

inline constexpr int kNoId = -1; // labels and group boxes that nothing refers to

enum class ControlKind {
    GroupBox,
    StaticText,        // label
    Edit,              // bordered, horizontal auto-scroll
    PasswordEdit,      // edit with masked entry
    ListBox,           // sorted, notifies selection, vertical scroll bar
    PushButton,
    DefaultPushButton,
    AutoRadioButton,   // checks itself on a click
    RadioButton,       // the page checks it; a click alone changes nothing
    AutoCheckBox,
};

enum class TextAlign { Left, Center };

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text; // the control's own text, "" for none
    int x, y, width, height; // dialog units
    bool enabled = true;
    TextAlign align = TextAlign::Left;
    const char* accessible_name = nullptr; // for controls without a label
};

struct DialogTemplate {
    int id;
    const char* caption; // "" for pages: the sheet's tab gives the title
    int width, height;   // dialog units
    const char* font_family; // as the template names it
    int point_size;
    std::span<const ControlTemplate> controls;
};

const DialogTemplate& NetConfigTemplate();      // 101
const DialogTemplate& SecurityConfigTemplate(); // 104
const DialogTemplate& DnsConfigTemplate();      // 106
const DialogTemplate& CameraNamesTemplate();    // 107
const DialogTemplate& ApplyProgressTemplate();  // 109
const DialogTemplate& LoginTemplate();          // 111

} // namespace vantoro::ui
