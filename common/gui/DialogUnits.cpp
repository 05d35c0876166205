#include "DialogUnits.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QList>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

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

void CentreOnScreen(QWidget* pWindow) {
    if (QScreen* pScreen = QGuiApplication::primaryScreen()) {
        QRect frame = pWindow->frameGeometry();
        frame.moveCenter(pScreen->availableGeometry().center());
        pWindow->move(frame.topLeft());
    }
}

QWidget* AboutPage(int nDialogId, const QList<QLabel*>& lines) {
    auto* pPage = new QWidget;
    pPage->setObjectName(QString::number(nDialogId));
    auto* pLayout = new QVBoxLayout(pPage);
    pLayout->addStretch();
    for (QLabel* pLine : lines) {
        pLine->setAlignment(Qt::AlignCenter);
        pLine->setWordWrap(true);
        pLayout->addWidget(pLine);
    }
    pLayout->addStretch();
    return pPage;
}

QWidget* VersionPage(int nDialogId, const QIcon& icon, const QString& strName,
                     const QString& strVersion, const QStringList& further) {
    auto* pIcon = new QLabel;
    pIcon->setPixmap(icon.pixmap(48, 48));
    pIcon->setAccessibleName(strName.section(' ', 0, 0) + " icon");
    auto* pName = new QLabel(strName);
    QFont bold = pName->font();
    bold.setBold(true);
    pName->setFont(bold);
    auto* pNotice = new QLabel("Copyright \u00a9 Harnwick Software. All rights reserved.\n"
                               "This program comes with no warranty of any kind.");
    pNotice->setObjectName("notice");
    QList<QLabel*> lines{pIcon, pName, new QLabel(strVersion), pNotice};
    for (const QString& strLine : further)
        lines << new QLabel(strLine);
    return AboutPage(nDialogId, lines);
}
