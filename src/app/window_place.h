// Where the main window opens: a size that fits the screen, centred on it.
#pragma once

#include <QSize>

class QWidget;

namespace zentaro::app {

// The largest client size of a window that still fits with its frame on the screen it opens on.
QSize windowRoom(const QWidget* window);
// Keeps the window's size within that room and puts the whole window on that screen, centred.
void placeOnScreen(QWidget* window);

} // namespace zentaro::app
