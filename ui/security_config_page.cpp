#include "ui/security_config_page.h"

#include "link/records.h"
#include "ui/list_line.h"
#include "ui/page_glue.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include <mutex>
#include <optional>

namespace vantoro::ui {

namespace {

constexpr int kUserList = 1039;
constexpr int kUserName = 1000;
constexpr int kPassword = 1001;
constexpr int kAdd = 1042;
constexpr int kDelete = 1060;
constexpr int kViewImage = 1088;
constexpr int kAdjust = 1089;

// Edits are read as through a 1024-byte buffer.
constexpr int kEditReadLimit = 1023;

} // namespace

SecurityConfigPage::SecurityConfigPage(UiState& state, QWidget* parent) : SheetPage(parent), state_(state)
{
    BuildFromTemplate(SecurityConfigTemplate(), this);
    // The fields refuse more than the record's name and password can hold.
    Control<QLineEdit>(this, kUserName)->setMaxLength(int(user_layout::name_width) - 1);
    Control<QLineEdit>(this, kPassword)->setMaxLength(int(user_layout::password_width) - 1);
    state_.security_page = this;

    connect(Control<SortedListBox>(this, kUserList), &SortedListBox::SelectionChanged, this,
            &SecurityConfigPage::ShowUserPermissions);
    connect(Control<QPushButton>(this, kAdd), &QPushButton::clicked, this, &SecurityConfigPage::AddClicked);
    connect(Control<QPushButton>(this, kDelete), &QPushButton::clicked, this,
            &SecurityConfigPage::DeleteSelectedUser);
    connect(Control<QCheckBox>(this, kViewImage), &QCheckBox::clicked, this,
            &SecurityConfigPage::StoreUserPermissions);
    connect(Control<QCheckBox>(this, kAdjust), &QCheckBox::clicked, this, &SecurityConfigPage::StoreUserPermissions);
}

void SecurityConfigPage::OnSetActive()
{
    RefreshPage(state_, this, state_.current_camera());
}

void SecurityConfigPage::EnableSecurityControls()
{
    SetControlsEnabled(this, {kUserList, kAdd, kUserName, kPassword, kDelete}, true);
}

void SecurityConfigPage::ClearAndDisable()
{
    Control<SortedListBox>(this, kUserList)->ResetContent();
    SetControlsEnabled(this, {kUserList, kAdd, kUserName, kPassword, kDelete}, false);
}

void SecurityConfigPage::FillUserList(const Frame& record)
{
    QStringList lines;
    {
        std::lock_guard guard(state_.link.state.registry.guard());
        const UserConfigReader users(record.data());
        // Rows behind the first free row are not listed.
        for (int row : users.ListedRows())
            lines.append(FormatUserLine(users.name(row), users.password(row)));
    }
    Control<SortedListBox>(this, kUserList)->ReplaceLines(lines);
}

void SecurityConfigPage::AddClicked()
{
    const QString name = Control<QLineEdit>(this, kUserName)->text().left(kEditReadLimit);
    const QString password = Control<QLineEdit>(this, kPassword)->text().left(kEditReadLimit);
    AddUser(ToRecordText(name), ToRecordText(password));
}

void SecurityConfigPage::AddUser(const std::string& name, const std::string& password)
{
    CameraEntry* camera = state_.current_camera();
    if (!camera)
        return;
    QString line;
    {
        std::lock_guard guard(state_.link.state.registry.guard());
        if (!camera->user)
            return;
        UserConfig users(camera->user->data());
        const int row = users.AddUser(name, password);
        if (row < 0)
            return; // full table: ignored without a word
        line = FormatUserLine(users.name(row), users.password(row));
    }
    Control<SortedListBox>(this, kUserList)->AddString(line);
}

void SecurityConfigPage::DeleteSelectedUser()
{
    auto* list = Control<SortedListBox>(this, kUserList);
    const int selected = list->CurSel();
    if (selected < 0)
        return;
    const std::optional<std::string> name = list->SelectedLineName();
    CameraEntry* camera = state_.current_camera();
    if (name && camera) {
        std::lock_guard guard(state_.link.state.registry.guard());
        if (camera->user)
            UserConfig(camera->user->data()).DeleteByName(*name);
    }
    // The line goes even when it matched no row.
    list->DeleteString(selected);
}

void SecurityConfigPage::ShowUserPermissions()
{
    const std::optional<std::string> name = Control<SortedListBox>(this, kUserList)->SelectedLineName();
    CameraEntry* camera = state_.current_camera();
    if (!name || !camera)
        return;
    std::uint32_t permissions = 0;
    {
        std::lock_guard guard(state_.link.state.registry.guard());
        if (!camera->user || !UserConfigReader(camera->user->data()).PermissionsByName(*name, &permissions))
            return; // no row carries the name: the boxes keep their states
    }
    Control<QCheckBox>(this, kViewImage)->setChecked((permissions & PERM_VIEW_IMAGE) != 0);
    Control<QCheckBox>(this, kAdjust)->setChecked((permissions & PERM_ADJUST) != 0);
}

void SecurityConfigPage::StoreUserPermissions()
{
    const std::optional<std::string> name = Control<SortedListBox>(this, kUserList)->SelectedLineName();
    CameraEntry* camera = state_.current_camera();
    if (!name || !camera)
        return;
    const bool view_image = Control<QCheckBox>(this, kViewImage)->isChecked();
    const bool adjust = Control<QCheckBox>(this, kAdjust)->isChecked();
    std::lock_guard guard(state_.link.state.registry.guard());
    if (camera->user)
        UserConfig(camera->user->data()).StorePermissionsByName(*name, view_image, adjust);
}

} // namespace vantoro::ui
