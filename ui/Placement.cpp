#include "ui/Placement.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace qv::ui {
namespace {

bool gRemember = false;

// What the window manager adds around a window, as seen on one already shown.
QMargins FrameOf(const QWidget* window) {
    if (window == nullptr || !window->isVisible()) return {};
    const QRect inner = window->geometry();
    const QRect outer = window->frameGeometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

// A size saved on one screen means nothing on another: geometry is kept per screen size
// (in device-independent pixels) and scale, e.g. "windows/TLogList/960x540@2/size".
QString ScreenText(const QScreen* screen) {
    if (screen == nullptr) return QStringLiteral("any");
    const QSize size = screen->size();
    return QStringLiteral("%1x%2@%3")
        .arg(size.width())
        .arg(size.height())
        .arg(screen->devicePixelRatio());
}

QString SettingsKey(const QString& window, const QScreen* screen, const char* what) {
    return QStringLiteral("windows/%1/%2/%3").arg(window, ScreenText(screen), QLatin1String(what));
}

// The screen a window opens on: that of the window it opens from, else the one under the
// pointer, else the primary one.
QScreen* OpeningScreen(const QWidget* window) {
    const QWidget* parent = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    if (parent != nullptr && parent->screen() != nullptr) return parent->screen();
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) return screen;
    return QGuiApplication::primaryScreen();
}

// Places the window, where an earlier run left it when `remembered` holds its frame's
// position and its size.
struct Remembered {
    QPoint framePosition;
    QSize size;
};
void PlaceAround(QWidget* window, const std::optional<Remembered>& remembered) {
    QWidget* parent = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    QScreen* screen = OpeningScreen(window);
    if (remembered) {
        if (QScreen* there = QGuiApplication::screenAt(remembered->framePosition)) screen = there;
    }
    if (screen == nullptr) return;
    const QMargins frame = FrameOf(parent);
    const QSize size = remembered ? remembered->size : window->size();
    std::optional<QRect> around;
    if (remembered) {
        around = QRect(remembered->framePosition, size.grownBy(frame));
    } else if (parent != nullptr && parent->isVisible()) {
        around = parent->frameGeometry();
    }
    const QRect placed =
        PlacedGeometry(screen->availableGeometry(), frame, size, window->minimumSize(), around);
    window->resize(placed.size());
    // A window's position is that of its frame.
    window->move(placed.topLeft() - QPoint(frame.left(), frame.top()));
}

// Keeps controls laid out at fixed positions in step with their window's size, and
// remembers the window's geometry when it closes.
class Follower : public QObject {
public:
    struct Entry {
        QWidget* control;
        Follow horizontal;
        Follow vertical;
        QRect design;        // its geometry in the form
        QSize parentDesign;  // its parent's size in the form
        const QWidget* keepRightOf;
    };

    Follower(QWidget* window, QString key, std::vector<Entry> entries)
        : QObject(window), window_(window), key_(std::move(key)), entries_(std::move(entries)) {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_) {
            if (event->type() == QEvent::Resize) Follow();
            if (event->type() == QEvent::Hide && gRemember) Remember();
        }
        return false;
    }

private:
    static void Shift(Follow how, int change, int& start, int& length) {
        switch (how) {
            case Follow::Stay:
                break;
            case Follow::Move:
                start += change;
                break;
            case Follow::Grow:
                length = std::max(0, length + change);
                break;
            case Follow::Centre:
                start += change / 2;
                break;
        }
    }

    void Follow() {
        for (const Entry& e : entries_) {
            const QSize now = e.control->parentWidget()->size();
            int x = e.design.x(), width = e.design.width();
            int y = e.design.y(), height = e.design.height();
            Shift(e.horizontal, now.width() - e.parentDesign.width(), x, width);
            Shift(e.vertical, now.height() - e.parentDesign.height(), y, height);
            if (e.keepRightOf != nullptr) {
                const int leftmost = e.keepRightOf->geometry().right() + 1 + kControlGap;
                if (x < leftmost) {
                    const int narrowest = std::min(width, e.control->sizeHint().width());
                    width = std::max(narrowest, width - (leftmost - x));
                    x = leftmost;
                }
            }
            e.control->setGeometry(x, y, width, height);
        }
    }

    void Remember() {
        QSettings settings;
        settings.setValue(SettingsKey(key_, window_->screen(), "size"), window_->size());
        settings.setValue(SettingsKey(key_, window_->screen(), "position"),
                          window_->frameGeometry().topLeft());
    }

    QWidget* window_;
    QString key_;
    std::vector<Entry> entries_;
};

}  // namespace

QRect PlacedGeometry(const QRect& available, const QMargins& frame, const QSize& size,
                     const QSize& minimum, const std::optional<QRect>& parent) {
    const QSize room = available.size().shrunkBy(frame);
    // Shrinks as far as needed to fit, but never below the window's minimum.
    const QSize client(std::min(size.width(), std::max(room.width(), minimum.width())),
                       std::min(size.height(), std::max(room.height(), minimum.height())));
    QRect outer(QPoint(0, 0), client.grownBy(frame));
    outer.moveCenter(parent ? parent->center() : available.center());
    // Into the free area; where it cannot fit, its top left corner stays visible.
    if (outer.right() > available.right()) outer.moveRight(available.right());
    if (outer.bottom() > available.bottom()) outer.moveBottom(available.bottom());
    if (outer.left() < available.left()) outer.moveLeft(available.left());
    if (outer.top() < available.top()) outer.moveTop(available.top());
    return outer.marginsRemoved(frame);
}

void Place(QWidget* window) { PlaceAround(window, std::nullopt); }

void MakeResizable(QWidget* window, const QString& key, const QSize& minimum,
                   std::initializer_list<Anchor> anchors) {
    window->setMinimumSize(minimum.boundedTo(window->size()));
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    std::vector<Follower::Entry> entries;
    for (const Anchor& a : anchors)
        entries.push_back({a.control, a.horizontal, a.vertical, a.control->geometry(),
                           a.control->parentWidget()->size(), a.keepRightOf});
    new Follower(window, key, std::move(entries));

    std::optional<Remembered> remembered;
    if (gRemember) {
        QSettings settings;
        const QScreen* screen = OpeningScreen(window);
        const QSize size = settings.value(SettingsKey(key, screen, "size")).toSize();
        const QVariant position = settings.value(SettingsKey(key, screen, "position"));
        // A form of controls at fixed places is never made smaller than it was drawn, so
        // they keep those places; only a screen too small for it makes it smaller
        // (PlaceAround). A window that lays itself out needs only its minimum.
        const QSize floor = anchors.size() > 0 ? window->size() : window->minimumSize();
        if (size.isValid() && position.isValid())
            remembered = Remembered{position.toPoint(), size.expandedTo(floor)};
    }
    PlaceAround(window, remembered);
}

int WidthKeepingRightOf(const QWidget* control, const QWidget* neighbour) {
    const int narrowest = std::min(control->width(), control->sizeHint().width());
    return neighbour->geometry().right() + 1 + kControlGap + narrowest + kControlGap;
}

void SetRememberGeometry(bool on) { gRemember = on; }

}  // namespace qv::ui
