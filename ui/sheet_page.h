#pragma once
// A page of the configuration sheet. The sheet tells a page when it becomes
// active, when it is left, and when OK applies the sheet.

#include <QWidget>

namespace vantoro::ui {

class SheetPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    virtual void OnSetActive() {}
    virtual void OnKillActive() {}
    virtual void OnApply() {}
};

} // namespace vantoro::ui
