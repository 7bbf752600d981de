// Template 111: the LOGIN dialog.
#include "ui/dialog_template.h"

namespace vantoro::ui {

namespace {

using K = ControlKind;
constexpr TextAlign kCenter = TextAlign::Center;

constexpr ControlTemplate kControls[] = {
    {kNoId, K::StaticText, "Name", 17, 12, 55, 8, true, kCenter},
    {1000, K::Edit, "", 17, 21, 55, 12},
    {kNoId, K::StaticText, "Password", 83, 12, 55, 8, true, kCenter},
    {1001, K::PasswordEdit, "", 83, 21, 55, 12},
    {1, K::DefaultPushButton, "OK", 17, 38, 121, 12},
};

constexpr DialogTemplate kTemplate{111, "LOGIN", 154, 63, "System", 10, kControls};

} // namespace

const DialogTemplate& LoginTemplate() { return kTemplate; }

} // namespace vantoro::ui
