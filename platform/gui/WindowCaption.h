#pragma once

#include <QString>

class QFont;

// The width in pixels a window needs for its caption to show in full
// beside the window manager's icon and buttons. Window managers draw the
// caption in a bold font of their own that Qt cannot ask for; a bold copy
// of the window's font is at least as wide in the common themes.
int CaptionWidth(const QString& strCaption, const QFont& font);
