#pragma once

#include <QKeySequence>
#include <QString>

class QAction;
class QMainWindow;
class QWidget;

// One command of a frame's menus and accelerators. Its id is its object
// name; the prompt's text before "\n" is its status-bar prompt, the text
// after it its tool tip.
QAction* MakeCommand(QWidget* pFrame, int nId, const QString& text, const QString& prompt,
                     const QKeySequence& key = {});

// Shrinks a frame around its contents and keeps it at that size.
void FitFrame(QMainWindow* pFrame);
