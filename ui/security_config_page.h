#pragma once
// The Security Config page (template 104): the current camera's user table as
// one line per user, with ADD, DELETE and the two permission boxes. Every
// change goes at once into the camera's UserConfig; there is nothing to collect.

#include "ui/table_page.h"

namespace vantoro::ui {

class SecurityConfigPage final : public TablePage {
    Q_OBJECT
public:
    // Builds the page and registers it as state.security_page.
    explicit SecurityConfigPage(UiState& state, QWidget* parent = nullptr);

    void AddUser(const std::string& name, const std::string& password) { AddRow(name, password); }
    void DeleteSelectedUser() { DeleteSelectedRow(); }
    // The permission boxes, for the selected line's name.
    void ShowUserPermissions();
    void StoreUserPermissions();

protected:
    QStringList ListedLines(const Frame& record) const override;
    std::optional<QString> AddToRecord(Frame& record, const std::string& name,
                                       const std::string& password) const override;
    void DeleteFromRecord(Frame& record, const std::string& name) const override;
};

} // namespace vantoro::ui
