#include "ui/Accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QGroupBox>
#include <QLabel>
#include <QSlider>
#include <cmath>
#include <QWidget>
#include <limits>

#include "ui/Texts.h"

namespace qv::ui {
namespace {

QString Plain(const QString& text) { return SpokenCaption(text); }

// "ル ー ル 編 集": wide characters each followed by one blank, spread for looks only.
bool LetterSpaced(const QString& text) {
    if (text.size() < 3 || text.size() % 2 == 0) return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool blank = text.at(i) == QLatin1Char(' ');
        if (blank != (i % 2 == 1)) return false;
        if (!blank && text.at(i).unicode() < 0x2E80) return false;
    }
    return true;
}

// A label marks a shortcut with '&' only when it has a buddy to focus; otherwise, as with
// the user's texts (an implement named "鞭&棒"), the '&' is part of what it shows.
QString LabelName(const QLabel* label) {
    return label->buddy() ? Plain(label->text()) : label->text().simplified();
}

QRect InWindow(QWidget* window, QWidget* w) {
    return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
}

// The label that stands beside (left, same row) or just above the control.
QLabel* NearestLabel(QWidget* window, QWidget* control) {
    const QRect c = InWindow(window, control);
    QLabel* best = nullptr;
    long bestDistance = std::numeric_limits<long>::max();
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (LabelName(label).isEmpty()) continue;
        const QRect l = InWindow(window, label);
        const bool sameRow =
            l.bottom() >= c.top() && l.top() <= c.bottom() && l.right() <= c.left();
        const bool above = l.bottom() <= c.top() && l.right() >= c.left() && l.left() <= c.right();
        if (!sameRow && !above) continue;
        long distance = sameRow ? c.left() - l.right() : 2L * (c.top() - l.bottom());
        if (distance < bestDistance) {
            bestDistance = distance;
            best = label;
        }
    }
    return best;
}

}  // namespace

QString SpokenCaption(const QString& caption) {
    QString plain;
    plain.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        // The marker goes, the character after it stays ("&&" leaves one '&').
        if (caption.at(i) == QLatin1Char('&') && i + 1 < caption.size()) ++i;
        plain += caption.at(i);
    }
    plain = plain.simplified();
    if (LetterSpaced(plain)) plain.remove(QLatin1Char(' '));
    return plain;
}

void NameControls(QWidget* window) {
    // A label keeps no name of its own: the toolkit announces its text as it stands, so a
    // label whose text changes (a total, a balance) is never read out stale.
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (QWidget* buddy = label->buddy(); buddy && buddy->accessibleName().isEmpty())
            buddy->setAccessibleName(LabelName(label));
    }
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->accessibleName().isEmpty() || w->focusPolicy() == Qt::NoFocus) continue;
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            button->setAccessibleName(Plain(button->text()));
        } else if (QLabel* label = NearestLabel(window, w)) {
            w->setAccessibleName(LabelName(label));
        } else if (auto* group = qobject_cast<QGroupBox*>(w->parentWidget())) {
            w->setAccessibleName(Plain(group->title()));
        }
    }
}

namespace {
const char kRoleProperty[] = "qvAccessibleRole";
const char kTenthsProperty[] = "qvTenths";

// A slider counting tenths: its value is told as the window shows it, 20 as 2.0.
class TenthsSlider : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TenthsSlider(QSlider* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}
    QSlider* Slider() const { return static_cast<QSlider*>(widget()); }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return TenthsText(Slider()->value());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return Slider()->value() / 10.0; }
    void setCurrentValue(const QVariant& value) override {
        Slider()->setValue(static_cast<int>(std::lround(value.toDouble() * 10)));
    }
    QVariant maximumValue() const override { return Slider()->maximum() / 10.0; }
    QVariant minimumValue() const override { return Slider()->minimum() / 10.0; }
    QVariant minimumStepSize() const override { return 0.1; }
};

QAccessibleInterface* RoleFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr) return nullptr;
    if (auto* slider = qobject_cast<QSlider*>(widget); slider && slider->property(kTenthsProperty).toBool())
        return new TenthsSlider(slider);
    const QVariant role = widget->property(kRoleProperty);
    if (!role.isValid()) return nullptr;
    return new QAccessibleWidget(widget, static_cast<QAccessible::Role>(role.toInt()));
}

void InstallFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(RoleFactory);
        return true;
    }();
    (void)installed;
}
}  // namespace

void SetAccessibleRole(QWidget* widget, QAccessible::Role role) {
    InstallFactory();
    widget->setProperty(kRoleProperty, static_cast<int>(role));
}

void MarkTenths(QSlider* slider) {
    InstallFactory();
    slider->setProperty(kTenthsProperty, true);
}

void SetPlainTip(QWidget* widget, const QString& text) {
    widget->setToolTip(PlainTip(text));
    widget->setAccessibleDescription(text);
}

void Announce(QLabel* label, const QString& text) {
    if (label->text() == text) return;
    label->setText(text);
    // Said as the label's name, which the toolkit reports as changed.
    label->setAccessibleName(text);
}

}  // namespace qv::ui
