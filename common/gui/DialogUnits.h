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

class QLabel;
class QWidget;
template <typename T> class QList;

// Puts a window in the middle of the primary screen's free area.
void CentreOnScreen(QWidget* pWindow);

// One page of an about sheet: its lines centred, one under the other.
QWidget* AboutPage(int nDialogId, const QList<QLabel*>& lines);
