#pragma once
// The tool's whole user interface: one modal sheet with its four pages.

#include "link/apply_steps.h"
#include "link/camera_snapshot.h"
#include "ui/sheet_page.h"

#include <QDialog>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QDialogButtonBox;
class QTabWidget;

namespace vantoro::ui {

struct UiState;

struct PageInfo {
    QString title;
    QSize size; // of the page's template, so the sheet has its size before the page exists
    std::function<SheetPage*(QWidget* parent)> create;
};

// "Net Config", "DNS Config", "Security Config", "Camera Names", in that order.
std::vector<PageInfo> StandardPages(UiState& state);

class ConfigSheet final : public QDialog {
    Q_OBJECT
public:
    explicit ConfigSheet(UiState& state, QWidget* owner = nullptr);
    // With pages of the caller's choosing; the first one is active at once.
    explicit ConfigSheet(std::vector<PageInfo> pages, QWidget* owner = nullptr);

    // The apply of OK, without closing the sheet: every page collects into the
    // current camera's records, the user record goes out, and the progress
    // dialog follows the sequence until the last acknowledgement or its
    // Cancel. Nothing without a current camera, nor in a sheet of the
    // caller's pages. A new Ethernet IP that another device holds is asked
    // about first; false when the user cancelled there, and nothing was sent.
    // Once the dialog closes, the journal of changes gets a line: applied,
    // or the step that had no acknowledgement.
    bool Apply();

    QTabWidget* tabs() const { return tabs_; }
    QDialogButtonBox* buttons() const { return buttons_; }
    // The page of tab i, or nullptr while that tab was never shown.
    SheetPage* page(int i) const { return pages_[std::size_t(i)].page; }

private:
    struct Slot {
        PageInfo info;
        QWidget* container = nullptr; // stands in for the page until it is shown
        SheetPage* page = nullptr;
    };

    ConfigSheet(UiState* state, std::vector<PageInfo> pages, QWidget* owner);

    SheetPage* EnsurePage(int i);
    void TabChanged(int index);
    void Ok();
    void RecordChange(const CameraSnapshot& sent, std::optional<ApplyStep> last_acknowledged);

    UiState* state_; // none for a sheet of the caller's pages
    std::vector<Slot> pages_;
    QTabWidget* tabs_;
    QDialogButtonBox* buttons_;
    int active_ = -1;
};

// Runs the sheet modally until OK, Cancel or the close box; returns its result.
int RunConfigSheet(UiState& state, QWidget* owner = nullptr);

} // namespace vantoro::ui
