// Template 106: the DNS Config page.
#include "ui/dialog_template.h"

namespace vantoro::ui {

namespace {

using K = ControlKind;
constexpr TextAlign kCenter = TextAlign::Center;
constexpr TextAlign kLeft = TextAlign::Left;

constexpr ControlTemplate kControls[] = {
    {1045, K::ListBox, "", 11, 11, 200, 80, false, kLeft, "Domain names"},
    {1047, K::Edit, "", 108, 122, 56, 12, false},
    {1061, K::GroupBox, "DNS", 52, 111, 117, 63},
    {1046, K::StaticText, "DOMAIN NAME", 54, 124, 52, 8, true, kCenter},
    {1049, K::Edit, "", 108, 139, 56, 12, false},
    {1048, K::StaticText, "IP ADDRESS", 59, 140, 42, 8, true, kCenter},
    {1051, K::PushButton, "ADD", 60, 156, 104, 12, false},
    {1056, K::PushButton, "DELETE", 11, 96, 200, 12, false},
};

constexpr DialogTemplate kTemplate{106, "", 224, 187, "System", 10, kControls};

} // namespace

const DialogTemplate& DnsConfigTemplate() { return kTemplate; }

} // namespace vantoro::ui
