#pragma once
// A page of the configuration sheet. The sheet tells a page when it becomes
// active, when it is left, and when OK applies the sheet. A page shows and
// collects its own record of the current camera: it refreshes when it becomes
// active and collects when it is left.

#include <QWidget>

namespace vantoro::ui {

class SheetPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    virtual void OnSetActive() { Refresh(); }
    virtual void OnKillActive() { Collect(); }
    virtual void OnApply() {}

    // Shows the current camera's record. A page whose record that camera
    // lacks empties and disables itself, so it never shows another camera's.
    // Nothing without a current camera.
    virtual void Refresh() {}
    // Writes what the page shows into the current camera's record. Pages that
    // write as the user acts have nothing to collect.
    virtual void Collect() {}
};

} // namespace vantoro::ui
