#pragma once

#include <QFont>
#include <QRect>

// Dialog layouts are given in dialog units of their font: a quarter of the
// average character width across and an eighth of the line height down, so
// that a form keeps its proportions whatever font the desktop uses.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);
    int X(int nUnits) const;
    int Y(int nUnits) const;
    QRect Rect(int x, int y, int w, int h) const;

private:
    double m_fX;
    double m_fY;
};
