#pragma once

#include <QKeySequence>
#include <QString>

// Command ids both programs' frames carry, at the values their menus and
// help know them by.
enum SharedCommandId {
    ID_FILE_OPEN = 57601,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_CONTEXT_HELP = 57669,
    ID_HELP = 57670,
};

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
