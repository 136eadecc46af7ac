#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>
#include <initializer_list>
#include <optional>

class QWidget;

namespace qv::ui {

// Where a window of `size` (its client area; `frame` is what the window manager adds)
// goes on a screen whose free area is `available`: centred on `parent` (a frame) when it
// fits there, else moved the least way into the free area; a window that may shrink to
// `minimum` is first made small enough to fit. Returns the client geometry.
QRect PlacedGeometry(const QRect& available, const QMargins& frame, const QSize& size,
                     const QSize& minimum, const std::optional<QRect>& parent);

// Places a window inside the free area of the screen it opens on, centred on the window it
// opens from (or on the screen). Call once, before it is shown.
void Place(QWidget* window);

// How a control follows its window, on one axis, when the window is resized.
enum class Follow {
    Stay,    // keeps its place and size
    Move,    // keeps its distance to the right (bottom) edge
    Grow,    // keeps both distances: takes the whole change in size
    Centre,  // keeps its size, moves by half the change
};
struct Anchor {
    QWidget* control;
    Follow horizontal;
    Follow vertical;
    // A control that moves with the right edge never runs over this one, left of it on
    // the same row: first it narrows down to what its caption needs, then it stops there.
    const QWidget* keepRightOf = nullptr;
};

// The gap kept between a control and its neighbour or the window's edge.
inline constexpr int kControlGap = 8;

// The width a window needs so that `control`, kept right of `neighbour` as above, still
// shows whole: its narrowest right edge plus the gap to the window's edge.
int WidthKeepingRightOf(const QWidget* control, const QWidget* neighbour);

// Lets the user resize a window down to `minimum` (and to any size up). Controls laid out
// at fixed positions follow as their anchors say (parents listed before their children);
// windows with a layout need none. At the size of its form every control stays exactly
// where it was. `key` names the window where its size and position are remembered, then
// the window is placed (Place): a remembered geometry is kept inside the screen too.
void MakeResizable(QWidget* window, const QString& key, const QSize& minimum,
                   std::initializer_list<Anchor> anchors = {});

// Whether resizable windows remember their size and position between runs (QSettings:
// geometry only, never data). Off unless the program turns it on, so tests see every
// window at the size of its form.
void SetRememberGeometry(bool on);

}  // namespace qv::ui
