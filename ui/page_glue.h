#pragma once
// Ties the pages to the records of a camera (callers pass the current camera).

#include "link/camera_registry.h"

class QWidget;

namespace vantoro::ui {

struct UiState;

// Fills the page whose window is given from the camera's matching record.
void RefreshPage(UiState& state, QWidget* window, CameraEntry* camera);
// Writes the Net Config page's fields into the camera's GeneralConfig; the
// other pages write their records as the user acts.
void CollectPages(UiState& state, CameraEntry* camera);
// The sheet's apply, run by the Net Config page on OK: collect, send the user
// record, follow the sequence in the progress dialog. Nothing without a
// current camera.
void ApplySheet(UiState& state);

} // namespace vantoro::ui
