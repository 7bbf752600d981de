#include "ui/sorted_list_box.h"

#include "ui/list_line.h"

#include <QItemSelectionModel>
#include <QTimer>

namespace vantoro::ui {

SortedListBox::SortedListBox(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Lines are placed by AddString; the view never re-sorts or edits them.
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Qt reports a line inserted above the selected one as a selection change;
    // the same line stays selected, so it is none.
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        if (!adding_)
            emit SelectionChanged();
    });
}

bool SortedListBox::LineLess(const QString& a, const QString& b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    if (folded != 0)
        return folded < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

int SortedListBox::AddString(const QString& text)
{
    // Equal lines go after the ones already there.
    int low = 0;
    int high = count();
    while (low < high) {
        const int mid = (low + high) / 2;
        if (LineLess(text, item(mid)->text()))
            high = mid;
        else
            low = mid + 1;
    }
    adding_ = true;
    insertItem(low, text);
    adding_ = false;
    if (repaint_interval_ms_ > 0 && updatesEnabled()) {
        setUpdatesEnabled(false);
        QTimer::singleShot(repaint_interval_ms_, this, [this] { setUpdatesEnabled(true); });
    }
    return low;
}

void SortedListBox::DeleteString(int index)
{
    if (index < 0 || index >= count())
        return;
    delete takeItem(index);
    clearSelection();
}

void SortedListBox::ResetContent()
{
    clear();
}

void SortedListBox::ReplaceLines(const QStringList& lines)
{
    ResetContent();
    for (const QString& line : lines)
        AddString(line);
}

int SortedListBox::CurSel() const
{
    const QModelIndexList rows = selectionModel()->selectedIndexes();
    return rows.isEmpty() ? -1 : rows.first().row();
}

QString SortedListBox::Text(int index) const
{
    const QListWidgetItem* line = item(index);
    return line != nullptr ? line->text() : QString();
}

std::optional<std::string> SortedListBox::SelectedLineName() const
{
    const int selected = CurSel();
    if (selected < 0)
        return std::nullopt;
    return ScanListLineName(ToRecordText(Text(selected)));
}

} // namespace vantoro::ui
