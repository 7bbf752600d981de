#include "ui/table_page.h"
#include "ui/record_text_validator.h"

#include "ui/list_line.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include <QLineEdit>
#include <QPushButton>

#include <mutex>

namespace vantoro::ui {

namespace {

// Edits are read as through a 1024-byte buffer.
constexpr int kEditReadLimit = 1023;

} // namespace

TablePage::TablePage(UiState& state, const DialogTemplate& dialog, const TableLayout& layout, QWidget* parent)
    : SheetPage(parent), state_(state), layout_(layout)
{
    BuildFromTemplate(dialog, this);
    // The fields refuse more than the record's row can hold.
    Control<QLineEdit>(this, layout_.name_edit)->setMaxLength(int(layout_.name_width) - 1);
    Control<QLineEdit>(this, layout_.text_edit)->setMaxLength(int(layout_.text_width) - 1);
    // And any character the record's code page cannot hold.
    for (const int id : {layout_.name_edit, layout_.text_edit})
        Control<QLineEdit>(this, id)->setValidator(new RecordTextValidator(Control<QLineEdit>(this, id)));

    // Selecting a line marks it for DELETE; what else it does is the page's own.
    connect(Control<QPushButton>(this, layout_.add), &QPushButton::clicked, this, &TablePage::AddClicked);
    connect(Control<QPushButton>(this, layout_.remove), &QPushButton::clicked, this, &TablePage::DeleteSelectedRow);
}

SortedListBox* TablePage::List() const
{
    return Control<SortedListBox>(this, layout_.list);
}

void TablePage::SetWorkingControlsEnabled(bool enabled)
{
    for (int id : layout_.working_controls)
        Control(this, id)->setEnabled(enabled);
}

void TablePage::Refresh()
{
    const auto camera = state_.current_camera();
    if (!camera)
        return;
    const auto record = state_.record_of(*camera, layout_.record);
    if (!record) {
        ClearAndDisable();
        return;
    }
    SetWorkingControlsEnabled(true);
    List()->ReplaceLines(ListedLines(*record));
}

void TablePage::ClearAndDisable()
{
    List()->ResetContent();
    SetWorkingControlsEnabled(false);
}

void TablePage::AddClicked()
{
    const QString name = Control<QLineEdit>(this, layout_.name_edit)->text().left(kEditReadLimit);
    const QString text = Control<QLineEdit>(this, layout_.text_edit)->text().left(kEditReadLimit);
    AddRow(ToRecordText(name), ToRecordText(text));
}

void TablePage::AddRow(const std::string& name, const std::string& text)
{
    const auto camera = state_.current_camera();
    if (!camera)
        return;
    std::optional<QString> line;
    state_.link.EditRecord(*camera, layout_.record, [&](Frame& record) { line = AddToRecord(record, name, text); });
    if (line) // a full table ignores ADD without a word
        List()->AddString(*line);
}

void TablePage::DeleteSelectedRow()
{
    SortedListBox* list = List();
    const int selected = list->CurSel();
    if (selected < 0)
        return;
    const std::optional<std::string> name = list->SelectedLineName();
    const auto camera = state_.current_camera();
    if (name && camera)
        state_.link.EditRecord(*camera, layout_.record, [&](Frame& record) { DeleteFromRecord(record, *name); });
    // The line goes even when it matched no row.
    list->DeleteString(selected);
}

} // namespace vantoro::ui
