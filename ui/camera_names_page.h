#pragma once
// The Camera Names page (template 107): the four name texts of the current
// camera's GeneralConfig. Every change goes at once into the record; the
// names travel to the camera with it on OK, so there is nothing to collect.

#include "link/config_frame.h"
#include "ui/sheet_page.h"

namespace vantoro::ui {

struct UiState;

class CameraNamesPage final : public SheetPage {
    Q_OBJECT
public:
    // Builds the page and registers it as state.names_page.
    explicit CameraNamesPage(UiState& state, QWidget* parent = nullptr);

    void Refresh() override;

private:
    // record is the current camera's GeneralConfig inside the registry; the
    // fill takes the registry's guard itself.
    void FillNames(const Frame& record);
    // For a current camera without a GeneralConfig: empties and disables the
    // edits, so no other camera's names show or are written.
    void ClearAndDisable();
    // A change of edit 1000 + slot, typed or pasted; refreshing writes nothing.
    void NameChanged(int slot, const QString& text);

    UiState& state_;
    bool filling_ = false;
};

} // namespace vantoro::ui
