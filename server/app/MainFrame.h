#pragma once

#include "FrameCommands.h"
#include "HelpWindow.h"

#include <QMainWindow>
#include <QMap>
#include <QPointer>

class CWharfApp;
class CWharfView;
class QAction;
class QLabel;

// Command ids, as the menus, accelerators and toolbar know them; those both
// programs carry are in FrameCommands.h.
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

// The main window: menu, toolbar, status bar and the progress view, sized to
// the form (no sizing border, no maximise box).
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CWharfApp* pApp);
    ~CMainFrame() override;

    CWharfView* View() const { return m_pView; }
    QAction* Action(int nCommandId) const { return m_actions.value(nCommandId); }
    QToolBar* ToolBar() const { return m_pToolBar; }
    QLabel* IdlePrompt() const { return m_pIdlePrompt; }

    // Caption: document title, " - ", the application title.
    void SetDocumentTitle(const QString& strTitle);
    // Enables Stop and Start Serving by the serving switch.
    void UpdateCommandUI();
    // Shrinks the frame around the form.
    void RecalcLayout();
    // Opens the help window at a page ("options.html#port"); with no screen
    // nothing opens.
    void ShowHelp(const QString& strTopic);
    CHelpWindow* HelpWindow() const { return m_pHelp; }

private:
    QAction* AddCommand(int nId, const QString& text, const QString& prompt,
                        const QKeySequence& key = {});
    void OnHelp();
    void OnContextHelp();
    void OnFileOpen();

    CWharfApp* m_pApp;
    CWharfView* m_pView = nullptr;
    QToolBar* m_pToolBar = nullptr;
    QLabel* m_pIdlePrompt = nullptr;
    QMap<int, QAction*> m_actions;
    QPointer<CHelpWindow> m_pHelp;
};
