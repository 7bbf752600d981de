#include "ui/template_builder.h"

#include "ui/sorted_list_box.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <span>
#include <vector>

namespace vantoro::ui {

namespace {

// A radio button the page checks itself: a click leaves its state alone.
class PlainRadioButton final : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void nextCheckState() override {}
};

// A radio button that starts its own group: a click checks it, never unchecks
// it. Each such button is alone in its group, so nothing else is unchecked.
class GroupStartRadioButton final : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void nextCheckState() override { setChecked(true); }
};

int MulDiv(int value, int numerator, int denominator)
{
    // Rounds to nearest, as dialog-unit conversion always has.
    const long long product = static_cast<long long>(value) * numerator;
    return static_cast<int>((product + denominator / 2) / denominator);
}

bool IsEdit(ControlKind kind)
{
    return kind == ControlKind::Edit || kind == ControlKind::PasswordEdit;
}

int VerticalOverlap(const ControlTemplate& a, const ControlTemplate& b)
{
    const int top = std::max(a.y, b.y);
    const int bottom = std::min(a.y + a.height, b.y + b.height);
    return bottom - top;
}

// The label that names an edit: the one on the same row to its left (most
// rows overlapped, then nearest), else a label placed just before it.
int BuddyLabelIndex(std::span<const ControlTemplate> controls, std::size_t edit_index)
{
    const ControlTemplate& edit = controls[edit_index];
    int best = -1;
    int best_overlap = 0;
    int best_gap = 0;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ControlTemplate& label = controls[i];
        if (label.kind != ControlKind::StaticText || label.x + label.width > edit.x)
            continue;
        const int overlap = VerticalOverlap(label, edit);
        if (overlap <= 0)
            continue;
        const int gap = edit.x - (label.x + label.width);
        if (best < 0 || overlap > best_overlap || (overlap == best_overlap && gap < best_gap)) {
            best = static_cast<int>(i);
            best_overlap = overlap;
            best_gap = gap;
        }
    }
    if (best < 0 && edit_index > 0 && controls[edit_index - 1].kind == ControlKind::StaticText)
        best = static_cast<int>(edit_index - 1);
    return best;
}

QWidget* CreateControl(const ControlTemplate& c, QWidget* parent)
{
    const QString text = QString::fromLatin1(c.text);
    switch (c.kind) {
    case ControlKind::GroupBox: {
        // The layouts expect the frame's top line to run through the middle of
        // the title, as a classic group box draws it; most styles put the
        // title above the frame and the first row of controls would cross it.
        auto* box = new QGroupBox(text, parent);
        box->setStyleSheet(QStringLiteral(
            "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.6em; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 6px;"
            " padding: 0 2px; }"));
        return box;
    }
    case ControlKind::StaticText: {
        auto* label = new QLabel(text, parent);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment((c.align == TextAlign::Center ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        return label;
    }
    case ControlKind::Edit:
    case ControlKind::PasswordEdit: {
        auto* edit = new QLineEdit(text, parent);
        if (c.kind == ControlKind::PasswordEdit)
            edit->setEchoMode(QLineEdit::Password);
        return edit;
    }
    case ControlKind::ListBox:
        return new SortedListBox(parent);
    case ControlKind::PushButton:
        return new QPushButton(text, parent);
    case ControlKind::DefaultPushButton: {
        auto* button = new QPushButton(text, parent);
        button->setDefault(true);
        return button;
    }
    case ControlKind::AutoRadioButton: {
        auto* radio = new GroupStartRadioButton(text, parent);
        radio->setAutoExclusive(false);
        return radio;
    }
    case ControlKind::RadioButton: {
        auto* radio = new PlainRadioButton(text, parent);
        radio->setAutoExclusive(false);
        return radio;
    }
    case ControlKind::AutoCheckBox:
        return new QCheckBox(text, parent);
    }
    return nullptr;
}

} // namespace

QFont TemplateFont(const DialogTemplate& t)
{
    // The template's fonts are not installed here; one sans face stands in for both.
    const QString family = QString::fromLatin1(t.font_family);
    const bool substitute = family == QLatin1String("MS Sans Serif") || family == QLatin1String("System");
    QFont font(substitute ? QStringLiteral("DejaVu Sans") : family);
    font.setPointSize(t.point_size);
    return font;
}

QRect DialogUnitsToPixels(const QFont& font, int x, int y, int width, int height)
{
    const QFontMetrics metrics(font);
    static const QString kLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int base_x = (metrics.horizontalAdvance(kLetters) / 26 + 1) / 2;
    const int base_y = metrics.height();
    return QRect(MulDiv(x, base_x, 4), MulDiv(y, base_y, 8), MulDiv(width, base_x, 4), MulDiv(height, base_y, 8));
}

void BuildFromTemplate(const DialogTemplate& t, QWidget* parent)
{
    const QFont font = TemplateFont(t);
    parent->setFont(font);
    if (t.caption[0] != '\0')
        parent->setWindowTitle(QString::fromLatin1(t.caption));

    std::vector<QWidget*> widgets;
    widgets.reserve(t.controls.size());
    for (const ControlTemplate& c : t.controls) {
        QWidget* w = CreateControl(c, parent);
        if (c.id != kNoId)
            w->setObjectName(ControlName(c.id));
        w->setGeometry(DialogUnitsToPixels(font, c.x, c.y, c.width, c.height));
        w->setEnabled(c.enabled);
        if (c.accessible_name != nullptr)
            w->setAccessibleName(QString::fromLatin1(c.accessible_name));
        widgets.push_back(w);
    }

    for (std::size_t i = 0; i < t.controls.size(); ++i) {
        // Group boxes are siblings of what they frame; behind them they take no clicks.
        if (t.controls[i].kind == ControlKind::GroupBox)
            widgets[i]->lower();
        if (IsEdit(t.controls[i].kind)) {
            const int label = BuddyLabelIndex(t.controls, i);
            if (label >= 0)
                static_cast<QLabel*>(widgets[std::size_t(label)])->setBuddy(widgets[i]);
        }
    }

    const QSize size = DialogUnitsToPixels(font, 0, 0, t.width, t.height).size();
    parent->setMinimumSize(size);
    parent->resize(size);
}

} // namespace vantoro::ui
