#include "DialogUnits.h"

#include <QFontMetricsF>
#include <QGuiApplication>
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
