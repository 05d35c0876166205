#pragma once

#include "MainFrameBase.h"

class CWharfApp;
class CWharfView;
class QLabel;
class QToolBar;

// Command ids, as the menus, accelerators and toolbar know them; those both
// programs carry are in MainFrameBase.h.
enum CommandId {
    ID_STOP_SERVING = 32772,
    ID_START_SERVING = 32773,
    ID_SETUP = 32774,
    ID_PROGRESS_VIEW = 32776,
    ID_FILE_NEW = 57600,
    ID_HELP_FINDER = 57667,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

// The main window: menu, toolbar, status bar and the progress view.
class CMainFrame : public CMainFrameBase {
    Q_OBJECT
public:
    explicit CMainFrame(CWharfApp* pApp);

    CWharfView* View() const { return m_pView; }
    QToolBar* ToolBar() const { return m_pToolBar; }
    QLabel* IdlePrompt() const { return MessagePane(); }

    // Enables Stop and Start Serving by the serving switch.
    void UpdateCommandUI();

private:
    void MakeToolBar();

    CWharfApp* m_pApp;
    CWharfView* m_pView = nullptr;
    QToolBar* m_pToolBar = nullptr;
};
