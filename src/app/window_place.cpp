// Where the main window opens: a size that fits the screen, centred on it.
#include "app/window_place.h"

#include <algorithm>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace zentaro::app {

namespace {

const QScreen* screenOf(const QWidget* window) {
    if (const QScreen* s = window->screen()) return s;
    return QGuiApplication::primaryScreen();
}

// The frame the window manager adds; before the window is first shown it is not known yet, and a usual
// title bar and border are allowed for.
QMargins frameOf(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    if (window->isVisible() && frame != client)
        return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                frame.bottom() - client.bottom()};
    return {4, 28, 4, 4};
}

} // namespace

QSize windowRoom(const QWidget* window) {
    const QScreen* screen = screenOf(window);
    if (!screen) return {100000, 100000};
    const QMargins m = frameOf(window);
    const QRect avail = screen->availableGeometry();
    return {std::max(1, avail.width() - m.left() - m.right()),
            std::max(1, avail.height() - m.top() - m.bottom())};
}

void placeOnScreen(QWidget* window) {
    const QScreen* screen = screenOf(window);
    if (!screen) return;
    const QSize room = windowRoom(window);
    const QSize size(std::min(window->width(), room.width()), std::min(window->height(), room.height()));
    if (size != window->size()) window->resize(size);
    const QMargins m = frameOf(window);
    const QRect avail = screen->availableGeometry();
    const QSize outer(size.width() + m.left() + m.right(), size.height() + m.top() + m.bottom());
    // move() places the frame's top left corner.
    window->move(avail.left() + std::max(0, (avail.width() - outer.width()) / 2),
                 avail.top() + std::max(0, (avail.height() - outer.height()) / 2));
}

} // namespace zentaro::app
