#pragma once

#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace tw {

/// Where windows and popups open: whole on their screen's available area (device-independent
/// pixels, without panels and docks), never larger than it, and over the window they belong
/// to. The pure functions take the geometry as values, so any screen can be tried.
namespace WindowPlacement {

/// The room a window's frame takes before the window manager has told its real size: a title
/// bar above and thin borders around.
inline constexpr QMargins defaultFrame{4, 36, 4, 4};

/// The content size for a window that wants `wanted`: as large as that, but so its frame fits in
/// `available`; never below `minimum` where the area has room for it.
QSize fittedSize(QSize wanted, const QRect& available, const QMargins& frame = defaultFrame,
                 QSize minimum = QSize(0, 0));

/// The frame rectangle of `frameSize` centred on `anchor`, then moved whole inside `available`
/// (a frame larger than the area keeps its top-left corner in it).
QRect centred(QSize frameSize, const QRect& anchor, const QRect& available);

/// `frame` moved by `step` down and to the right while its top-left corner sits within a few
/// pixels of one in `taken` (another window of the same kind); back to the area's top-left
/// corner when the next step would leave the area.
QRect cascaded(QRect frame, const QList<QPoint>& taken, const QRect& available, int step = 28);

/// The rectangle of a popup of `size` just below `anchor`, centred on it, kept inside `bounds`
/// (the window's and the screen's common area); above the anchor when there is no room below;
/// no larger than `bounds`.
QRect popup(QSize size, const QRect& anchor, const QRect& bounds);

/// The available area of the screen `widget` is on (the primary screen's without a widget).
QRect availableArea(const QWidget* widget);

/// Sizes `window` to `wanted` fitted to its screen (never below the window's minimum size) and
/// puts it centred over `over` (its screen's centre without one), whole on the screen where it
/// fits. To be called before the window is first shown, or to bring it back on screen.
void place(QWidget* window, QSize wanted, const QWidget* over);

/// As place(), then stepped away from the windows in `siblings` that already sit there, so a
/// new window of a kind never hides one that is open.
void placeCascaded(QWidget* window, QSize wanted, const QWidget* over,
                   const QList<const QWidget*>& siblings);

/// The width a dialog needs so the window manager shows its whole `title` in its title bar
/// (the title, its close and other buttons); no wider than `available` allows.
int widthForTitle(const QString& title, const QRect& available);

} // namespace WindowPlacement

} // namespace tw
