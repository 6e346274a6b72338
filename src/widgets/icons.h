// Icons from the desktop theme, with the program's own drawings where the theme has none.
#pragma once

#include <QIcon>
#include <QStyle>

namespace zentaro::app {

// An icon of the desktop's theme by its freedesktop name; where the theme has none, the program's own
// picture of that name, or else the style's standard picture.
QIcon themeIcon(const char* name, QStyle::StandardPixmap fallback);

} // namespace zentaro::app
