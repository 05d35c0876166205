#include "DialogUnits.h"

#include <QFontMetricsF>

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    const QString letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    m_fX = metrics.horizontalAdvance(letters) / letters.size() / 4.0;
    m_fY = metrics.height() / 8.0;
}

int CDialogUnits::X(int nUnits) const {
    return qRound(nUnits * m_fX);
}

int CDialogUnits::Y(int nUnits) const {
    return qRound(nUnits * m_fY);
}

QRect CDialogUnits::Rect(int x, int y, int w, int h) const {
    return QRect(X(x), Y(y), X(w), Y(h));
}
