#pragma once

#include <QIcon>
#include <QStyle>

namespace zentaro::app {

// An icon of the desktop's theme, or the style's standard picture when the theme has none.
QIcon themeIcon(const char* name, QStyle::StandardPixmap fallback);

} // namespace zentaro::app
