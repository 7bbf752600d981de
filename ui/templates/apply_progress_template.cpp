// Template 109: the apply progress dialog.
#include "ui/dialog_template.h"

namespace vantoro::ui {

namespace {

using K = ControlKind;
constexpr TextAlign kCenter = TextAlign::Center;

constexpr ControlTemplate kControls[] = {
    {1052, K::StaticText, "Setting USER Config.....", 17, 23, 152, 14, true, kCenter},
    {1053, K::StaticText, "Setting DOMAIN Config.....", 17, 39, 152, 14, true, kCenter},
    {1054, K::StaticText, "Setting CAMERA Config.....", 17, 56, 152, 14, true, kCenter},
    {1055, K::StaticText, "Setting GENERAL Config.....", 17, 74, 152, 14, true, kCenter},
    {2, K::PushButton, "Cancel", 129, 96, 50, 14},
};

constexpr DialogTemplate kTemplate{109, "Dialog", 187, 120, "System", 10, kControls};

} // namespace

const DialogTemplate& ApplyProgressTemplate() { return kTemplate; }

} // namespace vantoro::ui
