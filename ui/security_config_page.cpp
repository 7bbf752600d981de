#include "ui/security_config_page.h"

#include "link/records.h"
#include "ui/dialog_template.h"
#include "ui/list_line.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include <QCheckBox>

#include <mutex>

namespace vantoro::ui {

namespace {

constexpr int kUserList = 1039;
constexpr int kViewImage = 1088;
constexpr int kAdjust = 1089;

constexpr TableLayout kLayout{
    .record = RecordSlot::User,
    .list = kUserList,
    .name_edit = 1000,
    .text_edit = 1001,
    .add = 1042,
    .remove = 1060,
    .name_width = user_layout::name_width,
    .text_width = user_layout::password_width,
    .working_controls = {kUserList, 1042, 1000, 1001, 1060},
};

} // namespace

SecurityConfigPage::SecurityConfigPage(UiState& state, QWidget* parent)
    : TablePage(state, SecurityConfigTemplate(), kLayout, parent)
{
    state_.security_page = this;

    connect(List(), &SortedListBox::SelectionChanged, this, &SecurityConfigPage::ShowUserPermissions);
    connect(Control<QCheckBox>(this, kViewImage), &QCheckBox::clicked, this,
            &SecurityConfigPage::StoreUserPermissions);
    connect(Control<QCheckBox>(this, kAdjust), &QCheckBox::clicked, this, &SecurityConfigPage::StoreUserPermissions);
}

QStringList SecurityConfigPage::ListedLines(const Frame& record) const
{
    QStringList lines;
    const UserConfigReader users(record.data());
    for (int row : users.ListedRows())
        lines.append(FormatUserLine(users.name(row), users.password(row)));
    return lines;
}

std::optional<QString> SecurityConfigPage::AddToRecord(Frame& record, const std::string& name,
                                                       const std::string& password) const
{
    UserConfig users(record.data());
    const int row = users.AddUser(name, password);
    if (row < 0)
        return std::nullopt;
    return FormatUserLine(users.name(row), users.password(row));
}

void SecurityConfigPage::DeleteFromRecord(Frame& record, const std::string& name) const
{
    UserConfig(record.data()).DeleteByName(name);
}

void SecurityConfigPage::ShowUserPermissions()
{
    const std::optional<std::string> name = List()->SelectedLineName();
    const auto camera = state_.current_camera();
    if (!name || !camera)
        return;
    std::uint32_t permissions = 0;
    const auto user = state_.record_of(*camera, RecordSlot::User);
    if (!user || !UserConfigReader(user->data()).PermissionsByName(*name, &permissions))
        return; // no row carries the name: the boxes keep their states
    Control<QCheckBox>(this, kViewImage)->setChecked((permissions & PERM_VIEW_IMAGE) != 0);
    Control<QCheckBox>(this, kAdjust)->setChecked((permissions & PERM_ADJUST) != 0);
}

void SecurityConfigPage::StoreUserPermissions()
{
    const std::optional<std::string> name = List()->SelectedLineName();
    const auto camera = state_.current_camera();
    if (!name || !camera)
        return;
    const bool view_image = Control<QCheckBox>(this, kViewImage)->isChecked();
    const bool adjust = Control<QCheckBox>(this, kAdjust)->isChecked();
    state_.link.EditRecord(*camera, RecordSlot::User, [&](Frame& user) {
        UserConfig(user.data()).StorePermissionsByName(*name, view_image, adjust);
    });
}

} // namespace vantoro::ui
