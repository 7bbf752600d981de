#include "ui/sorted_list_box.h"

#include "ui/list_line.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>

namespace vantoro::ui {

SortedListBox::SortedListBox(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Lines are placed by AddString; the view never re-sorts or edits them.
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Qt reports a line inserted above the selected one as a selection change,
    // though the same line stays selected; and when the selected line is
    // removed it selects a neighbour. Neither is the user's choice.
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        if (!quiet_)
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
    quiet_ = true;
    insertItem(low, text);
    quiet_ = false;
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
    quiet_ = true;
    delete takeItem(index);
    // No neighbour stays selected or current.
    selectionModel()->clear();
    quiet_ = false;
}

void SortedListBox::ResetContent()
{
    quiet_ = true;
    clear();
    quiet_ = false;
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

void SortedListBox::mousePressEvent(QMouseEvent* event)
{
    const int selected = CurSel();
    const QModelIndex hit = indexAt(event->position().toPoint());
    QListWidget::mousePressEvent(event);
    // A press on the selected line changes nothing in Qt, yet it is a choice.
    if (reports_reselection_ && event->button() == Qt::LeftButton && selected >= 0 && hit.isValid() &&
        hit.row() == selected && CurSel() == selected)
        emit Reselected();
}

void SortedListBox::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const bool choose_key = key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (!reports_reselection_ || !choose_key || !plain) {
        QListWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return;
    if (selectionModel()->isSelected(current))
        emit Reselected();
    else
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect);
}

std::optional<std::string> SortedListBox::SelectedLineName() const
{
    const int selected = CurSel();
    if (selected < 0)
        return std::nullopt;
    return ScanListLineName(ToRecordText(Text(selected)));
}

} // namespace vantoro::ui
