#pragma once
// A list box that keeps its lines in ascending order of their text, letters
// compared without regard to case, whatever order they are added in. Lines
// carry no data of their own: a line's text is all there is.

#include <QListWidget>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace vantoro::ui {

class SortedListBox final : public QListWidget {
    Q_OBJECT
public:
    explicit SortedListBox(QWidget* parent = nullptr);

    // Case-insensitive order, exact text breaking ties.
    static bool LineLess(const QString& a, const QString& b);

    // Inserts the line in its sorted place; returns its index.
    int AddString(const QString& text);
    // While lines keep being added, paints the list at most once per ms
    // milliseconds instead of after every line (0, the default: at once).
    void SetRepaintInterval(int ms) { repaint_interval_ms_ = ms; }
    // Removes line index; afterwards no line is selected. Removing lines is
    // never a selection change: nothing is reported.
    void DeleteString(int index);
    void ResetContent();
    // Empties the list, then adds each line in its sorted place.
    void ReplaceLines(const QStringList& lines);
    // Index of the selected line, -1 when none is.
    int CurSel() const;
    QString Text(int index) const;
    // The record name read back from the selected "name: ..." line; none
    // when no line is selected or the line yields no name.
    std::optional<std::string> SelectedLineName() const;

    // When on, a click, Space or Enter on the line already selected is
    // reported as Reselected, and Enter chooses the current line instead of
    // reaching the dialog's default button.
    void SetReportsReselection(bool on) { reports_reselection_ = on; }

signals:
    // The selection changed, by keyboard, mouse or program alike. Adding or
    // removing a line is no change, even where it moves the selected line.
    void SelectionChanged();
    // The user chose the line that was already selected (see SetReportsReselection).
    void Reselected();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Set while the list changes its own lines, which the user did not choose.
    bool quiet_ = false;
    bool reports_reselection_ = false;
    int repaint_interval_ms_ = 0;
};

} // namespace vantoro::ui
