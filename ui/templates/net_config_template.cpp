// Template 101: the Net Config page.
#include "ui/dialog_template.h"

namespace vantoro::ui {

namespace {

using K = ControlKind;
constexpr TextAlign kCenter = TextAlign::Center;
constexpr TextAlign kLeft = TextAlign::Left;

constexpr ControlTemplate kControls[] = {
    {1034, K::GroupBox, "CONFIG MODE", 13, 12, 350, 23},
    {1022, K::AutoRadioButton, "LAN", 72, 18, 36, 16},
    {1023, K::AutoRadioButton, "WAN", 222, 19, 36, 15},
    {1024, K::Edit, "", 269, 20, 83, 12, false, kLeft, "WAN address"},
    {kNoId, K::GroupBox, "Vantoro", 13, 38, 173, 82},
    {1015, K::ListBox, "", 20, 49, 102, 63, true, kLeft, "Cameras"},
    {1059, K::PushButton, "RESET", 127, 51, 51, 39, false},
    {kNoId, K::StaticText, "Version", 127, 98, 23, 8},
    {1035, K::Edit, "", 156, 96, 22, 12},
    {kNoId, K::GroupBox, "SERVER", 192, 39, 171, 25},
    {1017, K::RadioButton, "ON", 222, 49, 25, 10, false},
    {1018, K::RadioButton, "OFF", 303, 49, 29, 10, false},
    {kNoId, K::GroupBox, "BOOTP", 191, 65, 172, 27},
    {1019, K::RadioButton, "ON", 222, 76, 25, 10, false},
    {1020, K::RadioButton, "OFF", 303, 76, 29, 10, false},
    {1016, K::GroupBox, "Ethernet", 191, 93, 172, 89},
    {1007, K::StaticText, "IP ADDRESS", 197, 102, 63, 14, true, kCenter},
    {1003, K::Edit, "", 269, 103, 87, 12, false},
    {1010, K::StaticText, "SUBNET MASK", 197, 117, 61, 15, true, kCenter},
    {1000, K::Edit, "", 269, 118, 87, 13, false},
    {1011, K::StaticText, "GATEWAY", 197, 133, 61, 14, true, kCenter},
    {1004, K::Edit, "", 269, 134, 87, 12, false},
    {1027, K::StaticText, "BOOTP START IP", 197, 147, 61, 16, true, kCenter},
    {1026, K::Edit, "", 269, 149, 87, 12, false},
    {1029, K::StaticText, "BOOTP END IP", 197, 161, 61, 15, true, kCenter},
    {1028, K::Edit, "", 269, 163, 87, 12, false},
    {1025, K::GroupBox, "PPP", 13, 123, 173, 59},
    {1014, K::StaticText, "IP ADDRESS", 15, 134, 67, 13, true, kCenter},
    {1006, K::Edit, "", 92, 135, 87, 12, false},
    {1013, K::StaticText, "SUBNET MASK", 19, 148, 61, 16, true, kCenter},
    {1005, K::Edit, "", 92, 149, 87, 12, false},
    {1031, K::StaticText, "Client IP Address", 19, 162, 61, 16, true, kCenter},
    {1030, K::Edit, "", 92, 163, 87, 12, false},
    {1021, K::PushButton, "AUTO   DETECT", 14, 188, 350, 16},
};

constexpr DialogTemplate kTemplate{101, "", 378, 215, "MS Sans Serif", 8, kControls};

} // namespace

const DialogTemplate& NetConfigTemplate() { return kTemplate; }

} // namespace vantoro::ui
