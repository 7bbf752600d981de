#pragma once
// The base of the DNS Config and Security Config pages: one table record of
// the current camera, listed one line per row in a sorted list, with a name
// edit, a second edit, ADD and DELETE. Every change goes at once into the
// record; there is nothing to collect.

#include "link/config_frame.h"
#include "link/apply_steps.h"
#include "ui/sheet_page.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace vantoro::ui {

struct DialogTemplate;
struct UiState;
class SortedListBox;

struct TableLayout {
    RecordSlot record;
    int list;
    int name_edit, text_edit; // what ADD writes into a new row
    int add, remove;
    std::size_t name_width, text_width; // the row's fields, NUL included
    // Enabled only while the current camera has the record, in this order.
    std::array<int, 5> working_controls;
};

class TablePage : public SheetPage {
    Q_OBJECT
public:
    void Refresh() override;
    // For a current camera without the record: empties the list and disables
    // the working controls, so no other camera's table shows.
    void ClearAndDisable();

    // The page's own actions, on the current camera's record. Without that
    // record they touch nothing.
    void AddRow(const std::string& name, const std::string& text);
    void DeleteSelectedRow();

protected:
    TablePage(UiState& state, const DialogTemplate& dialog, const TableLayout& layout, QWidget* parent);

    // Each works on the current camera's record: a copy to list, or the record
    // itself, under the link's guard, to change.
    // The lines of the listed rows: none behind the first free row.
    virtual QStringList ListedLines(const Frame& record) const = 0;
    // Fills a free row; its line, or none when the table is full.
    virtual std::optional<QString> AddToRecord(Frame& record, const std::string& name,
                                               const std::string& text) const = 0;
    virtual void DeleteFromRecord(Frame& record, const std::string& name) const = 0;

    SortedListBox* List() const;

    UiState& state_;

private:
    void SetWorkingControlsEnabled(bool enabled);
    void AddClicked();

    TableLayout layout_;
};

} // namespace vantoro::ui
