#include "ui/camera_names_page.h"
#include "ui/record_text_validator.h"

#include "link/records.h"
#include "ui/list_line.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include <QLineEdit>

#include <array>
#include <mutex>
#include <string>

namespace vantoro::ui {

namespace {

// Edit 1000 + i shows name slot i.
constexpr int kFirstName = 1000;
constexpr int kSlots = general_layout::camera_names;

// The edit is read as through a 255-byte buffer.
constexpr int kEditReadLimit = 254;

QLineEdit* NameEdit(const QWidget* page, int slot)
{
    return Control<QLineEdit>(page, kFirstName + slot);
}

} // namespace

CameraNamesPage::CameraNamesPage(UiState& state, QWidget* parent) : SheetPage(parent), state_(state)
{
    BuildFromTemplate(CameraNamesTemplate(), this);
    state_.names_page = this;
    for (int slot = 0; slot < kSlots; ++slot) {
        // An edit holds no more than its slot keeps, so what shows is what goes.
        NameEdit(this, slot)->setMaxLength(int(general_layout::camera_name_width(slot)) - 1);
        NameEdit(this, slot)->setValidator(new RecordTextValidator(NameEdit(this, slot)));
        connect(NameEdit(this, slot), &QLineEdit::textChanged, this,
                [this, slot](const QString& text) { NameChanged(slot, text); });
    }
}

void CameraNamesPage::Refresh()
{
    const auto camera = state_.current_camera();
    if (!camera)
        return;
    if (const auto general = state_.record_of(*camera, RecordSlot::General)) {
        SetControlsEnabled(this, {1000, 1001, 1002, 1003}, true);
        FillNames(*general);
    } else {
        ClearAndDisable();
    }
}

void CameraNamesPage::FillNames(const Frame& record)
{
    std::array<QString, kSlots> names;
    const GeneralConfigReader general(record.data());
    for (int slot = 0; slot < kSlots; ++slot)
        names[std::size_t(slot)] = FromRecordText(general.camera_name(slot));
    // Showing the record's names is no change to it.
    filling_ = true;
    for (int slot = 0; slot < kSlots; ++slot)
        NameEdit(this, slot)->setText(names[std::size_t(slot)]);
    filling_ = false;
}

void CameraNamesPage::ClearAndDisable()
{
    filling_ = true;
    for (int slot = 0; slot < kSlots; ++slot)
        NameEdit(this, slot)->clear();
    filling_ = false;
    SetControlsEnabled(this, {1000, 1001, 1002, 1003}, false);
}

void CameraNamesPage::NameChanged(int slot, const QString& text)
{
    if (filling_)
        return;
    const auto camera = state_.current_camera();
    if (!camera)
        return;
    const std::string name = ToRecordText(text.left(kEditReadLimit));
    state_.link.EditRecord(*camera, RecordSlot::General,
                           [&](Frame& general) { GeneralConfig(general.data()).set_camera_name(slot, name); });
}

} // namespace vantoro::ui
