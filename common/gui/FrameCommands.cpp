#include "FrameCommands.h"

#include <QAction>
#include <QLayout>
#include <QMainWindow>

QAction* MakeCommand(QWidget* pFrame, int nId, const QString& text, const QString& prompt,
                     const QKeySequence& key) {
    auto* pAction = new QAction(text, pFrame);
    pAction->setObjectName(QString::number(nId));
    pAction->setProperty("commandId", nId);
    const QStringList parts = prompt.split('\n');
    pAction->setStatusTip(parts.value(0));
    if (parts.size() > 1)
        pAction->setToolTip(parts.value(1));
    if (!key.isEmpty())
        pAction->setShortcut(key);
    return pAction;
}

void FitFrame(QMainWindow* pFrame) {
    pFrame->setMinimumSize(0, 0);
    pFrame->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (pFrame->layout())
        pFrame->layout()->activate();
    pFrame->adjustSize();
    pFrame->setFixedSize(pFrame->sizeHint());
}
