// Template 107: the Camera Names page.
#include "ui/dialog_template.h"

namespace vantoro::ui {

namespace {

using K = ControlKind;

constexpr ControlTemplate kControls[] = {
    {1050, K::StaticText, "CAMERA 1", 12, 14, 40, 8},
    {1000, K::Edit, "", 56, 12, 118, 12, false},
    {1051, K::StaticText, "CAMERA 2", 12, 32, 40, 8},
    {1001, K::Edit, "", 56, 30, 118, 12, false},
    {1052, K::StaticText, "CAMERA 3", 12, 50, 40, 8},
    {1002, K::Edit, "", 56, 48, 118, 12, false},
    {1053, K::StaticText, "CAMERA 4", 12, 68, 40, 8},
    {1003, K::Edit, "", 56, 66, 118, 12, false},
};

constexpr DialogTemplate kTemplate{107, "", 187, 91, "System", 10, kControls};

} // namespace

const DialogTemplate& CameraNamesTemplate() { return kTemplate; }

} // namespace vantoro::ui
