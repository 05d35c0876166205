#include "WindowCaption.h"

#include <QFont>
#include <QFontMetrics>

int CaptionWidth(const QString& strCaption, const QFont& font) {
    QFont bold = font;
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    // Room for the window icon and up to four buttons (minimise, maximise,
    // close, and some themes add one), each about as wide as the caption
    // bar is high, with the manager's margins and some to spare for a
    // larger caption font.
    const int nButtons = 8 * metrics.height();
    return metrics.horizontalAdvance(strCaption) + nButtons;
}
