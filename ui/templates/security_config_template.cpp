// Template 104: the Security Config page.
#include "ui/dialog_template.h"

namespace vantoro::ui {

namespace {

using K = ControlKind;
constexpr TextAlign kCenter = TextAlign::Center;
constexpr TextAlign kLeft = TextAlign::Left;

constexpr ControlTemplate kControls[] = {
    {1039, K::ListBox, "", 11, 11, 200, 80, false, kLeft, "Users"},
    {1000, K::Edit, "", 57, 122, 44, 12, false},
    {kNoId, K::GroupBox, "SECURITY", 11, 111, 97, 63},
    {1040, K::StaticText, "USERNAME", 13, 124, 42, 8, true, kCenter},
    // The password is shown in clear here, as it is in the list.
    {1001, K::Edit, "", 57, 138, 44, 12, false},
    {1041, K::StaticText, "PASSWORD", 13, 140, 42, 8, true, kCenter},
    {1042, K::PushButton, "ADD", 17, 156, 82, 12, false},
    {1060, K::PushButton, "DELETE", 11, 96, 200, 12, false},
    {1085, K::GroupBox, "PERMITION", 112, 111, 98, 63},
    {1088, K::AutoCheckBox, "View Image", 132, 128, 70, 13},
    {1089, K::AutoCheckBox, "Adjust", 132, 145, 70, 13},
};

constexpr DialogTemplate kTemplate{104, "", 228, 186, "System", 10, kControls};

} // namespace

const DialogTemplate& SecurityConfigTemplate() { return kTemplate; }

} // namespace vantoro::ui
