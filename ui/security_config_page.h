#pragma once
// The Security Config page (template 104): the current camera's user table as
// one line per user, with ADD, DELETE and the two permission boxes. Every
// change goes at once into the camera's UserConfig; there is nothing to collect.

#include "link/config_frame.h"
#include "ui/sheet_page.h"

#include <string>

namespace vantoro::ui {

struct UiState;

class SecurityConfigPage final : public SheetPage {
    Q_OBJECT
public:
    // Builds the page and registers it as state.security_page.
    explicit SecurityConfigPage(UiState& state, QWidget* parent = nullptr);

    void OnSetActive() override; // RefreshPage(this, current camera)

    // Operations of RefreshPage. record is the current camera's UserConfig
    // inside the registry; each operation takes the registry's guard itself,
    // only around its record access.
    void EnableSecurityControls();
    void FillUserList(const Frame& record);
    // For a current camera without a UserConfig: empties the list and disables
    // what EnableSecurityControls enables, so no other camera's table shows.
    void ClearAndDisable();

    // The page's own actions, on the current camera's UserConfig. Without
    // that record they touch nothing.
    void AddUser(const std::string& name, const std::string& password);
    void DeleteSelectedUser();
    void ShowUserPermissions();
    void StoreUserPermissions();

private:
    void AddClicked();

    UiState& state_;
};

} // namespace vantoro::ui
