#include "App/DesignSystem/WindowPlacement.h"

#include <QApplication>
#include <QFontMetrics>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace tw::WindowPlacement {

namespace {

/// How close two windows' corners are to count as the same spot.
constexpr int kSameSpot = 4;
/// A title bar's own parts beside the title: the window's icon and its close, minimise and
/// maximise buttons, and the padding around the title.
constexpr int kTitleBarParts = 4 * 32 + 2 * 24;

/// value placed so [value, value + length) lies in [low, low + room), or at low when it cannot.
int clampInto(int value, int length, int low, int room) {
    return std::max(low, std::min(value, low + room - length));
}

/// The frame margins of a window: the real ones once the window manager has framed it.
QMargins frameOf(const QWidget* window) {
    if (window->isVisible()) {
        const QRect frame = window->frameGeometry();
        const QRect inner = window->geometry();
        const QMargins real(inner.left() - frame.left(), inner.top() - frame.top(),
                            frame.right() - inner.right(), frame.bottom() - inner.bottom());
        if (!real.isNull())
            return real;
    }
    return defaultFrame;
}

QRect anchorOf(const QWidget* over, const QRect& area) {
    if (!over)
        return area;
    const QWidget* window = over->window();
    return window->isVisible() ? window->frameGeometry() : area;
}

} // namespace

QSize fittedSize(QSize wanted, const QRect& available, const QMargins& frame, QSize minimum) {
    const QSize room = available.size().shrunkBy(frame).expandedTo(QSize(1, 1));
    return wanted.boundedTo(room).expandedTo(minimum.boundedTo(room));
}

QRect centred(QSize frameSize, const QRect& anchor, const QRect& available) {
    QRect frame(QPoint(0, 0), frameSize);
    frame.moveCenter(anchor.center());
    frame.moveTopLeft(
        QPoint(clampInto(frame.x(), frame.width(), available.x(), available.width()),
               clampInto(frame.y(), frame.height(), available.y(), available.height())));
    return frame;
}

QRect cascaded(QRect frame, const QList<QPoint>& taken, const QRect& available, int step) {
    const auto occupied = [&taken](const QPoint& corner) {
        return std::any_of(taken.begin(), taken.end(), [&corner](const QPoint& other) {
            return (other - corner).manhattanLength() <= kSameSpot;
        });
    };
    // Every corner is tried at most once: a full screen of windows ends where it started.
    for (qsizetype tries = 0; tries <= taken.size() && occupied(frame.topLeft()); ++tries) {
        frame.translate(step, step);
        if (!available.contains(frame.bottomRight()))
            frame.moveTopLeft(available.topLeft());
    }
    return frame;
}

QRect popup(QSize size, const QRect& anchor, const QRect& bounds) {
    const int width = std::min(size.width(), bounds.width());
    const int roomBelow = bounds.y() + bounds.height() - (anchor.y() + anchor.height());
    const int roomAbove = anchor.y() - bounds.y();
    int height = size.height();
    int y = anchor.y() + anchor.height();
    if (height > roomBelow) {
        if (roomAbove > roomBelow) {
            height = std::min(height, roomAbove);
            y = anchor.y() - height;
        } else {
            height = std::max(0, roomBelow);
        }
    }
    const int x =
        clampInto(anchor.x() + anchor.width() / 2 - width / 2, width, bounds.x(), bounds.width());
    return QRect(x, y, width, height);
}

QRect availableArea(const QWidget* widget) {
    const QScreen* screen = widget ? widget->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

void place(QWidget* window, QSize wanted, const QWidget* over) {
    const QRect area = availableArea(over ? over : window);
    const QMargins frame = frameOf(window);
    // The window's own minimum still holds on a screen smaller than it.
    const QSize size =
        fittedSize(wanted, area, frame, window->minimumSize()).expandedTo(window->minimumSize());
    window->resize(size);
    window->move(centred(size.grownBy(frame), anchorOf(over, area), area).topLeft());
}

void placeCascaded(QWidget* window, QSize wanted, const QWidget* over,
                   const QList<const QWidget*>& siblings) {
    place(window, wanted, over);
    QList<QPoint> taken;
    for (const QWidget* sibling : siblings) {
        if (sibling && sibling != window && sibling->isVisible())
            taken.append(sibling->frameGeometry().topLeft());
    }
    const QRect area = availableArea(over ? over : window);
    const QRect frame(window->pos(), window->size().grownBy(frameOf(window)));
    window->move(cascaded(frame, taken, area).topLeft());
}

int widthForTitle(const QString& title, const QRect& available) {
    QFont font = QApplication::font();
    font.setBold(true); // title bars set their titles bold or larger than the text
    const int wanted = QFontMetrics(font).horizontalAdvance(title) + kTitleBarParts;
    return std::min(wanted, available.width() - defaultFrame.left() - defaultFrame.right());
}

} // namespace tw::WindowPlacement
