#include "ui/Accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>
#include <limits>

namespace qv::ui {
namespace {

// A caption as read out: its shortcut marker dropped, "&&" read as the one '&' it shows.
QString Plain(const QString& text) {
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        // The marker goes, the character after it stays ("&&" leaves one '&').
        if (text.at(i) == QLatin1Char('&') && i + 1 < text.size()) ++i;
        plain += text.at(i);
    }
    return plain.simplified();
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

QAccessibleInterface* RoleFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr) return nullptr;
    const QVariant role = widget->property(kRoleProperty);
    if (!role.isValid()) return nullptr;
    return new QAccessibleWidget(widget, static_cast<QAccessible::Role>(role.toInt()));
}
}  // namespace

void SetAccessibleRole(QWidget* widget, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(RoleFactory);
        return true;
    }();
    (void)installed;
    widget->setProperty(kRoleProperty, static_cast<int>(role));
}

}  // namespace qv::ui
