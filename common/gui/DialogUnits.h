#pragma once

#include <QFont>
#include <QRect>
#include <QStringList>

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

class QIcon;
class QLabel;
class QWidget;

// Puts a window in the middle of the primary screen's free area.
void CentreOnScreen(QWidget* pWindow);

// One page of an about sheet: its lines centred, one under the other.
QWidget* AboutPage(int nDialogId, const QList<QLabel*>& lines);

// The version page of an about sheet: the icon, the program's name in bold,
// its version, the maker's notices and any further lines.
QWidget* VersionPage(int nDialogId, const QIcon& icon, const QString& strName,
                     const QString& strVersion, const QStringList& further = {});
