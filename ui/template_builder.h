#pragma once
// Builds a template's controls as children of a widget. Every control with an
// id gets the id as its object name, so it can be found by id.

#include "ui/dialog_template.h"

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

#include <initializer_list>

namespace vantoro::ui {

// The installed font that stands in for the template's font, at its size.
QFont TemplateFont(const DialogTemplate& t);

// Dialog units to pixels for a font: x * average char width / 4, y * height / 8.
QRect DialogUnitsToPixels(const QFont& font, int x, int y, int width, int height);

// Creates every control of t inside parent, sizes parent to the template, and
// sets the buddy of each label that stands before an edit.
void BuildFromTemplate(const DialogTemplate& t, QWidget* parent);

inline QString ControlName(int id) { return QString::number(id); }

template <class T = QWidget>
T* Control(const QWidget* parent, int id)
{
    return parent->findChild<T*>(ControlName(id));
}

// Enables or disables the controls with these ids, in this order.
inline void SetControlsEnabled(const QWidget* parent, std::initializer_list<int> ids, bool enabled)
{
    for (int id : ids)
        Control(parent, id)->setEnabled(enabled);
}

} // namespace vantoro::ui
