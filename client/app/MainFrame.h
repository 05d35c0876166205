#pragma once

#include "FrameCommands.h"
#include "HelpWindow.h"

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <functional>

class CSkifferApp;
class CSkifferDoc;
class CSkifferView;
class QAction;
class QLabel;
class QTimer;

// Command ids, as the menu, accelerators and form know them; those both
// programs carry are in FrameCommands.h.
enum CommandId {
    ID_SETUP = 32771,
    ID_RENAME_BUTTONS = 32772,
    ID_ABORT = 32773,
    ID_HELP_INDEX = 57666,
    ID_HELP_USING = 57668,
    ID_DEFAULT_HELP = 57671,
};

// The main window: menu, the form and a status bar with a clock; sized to the
// form, with no sizing border and no maximise box. Files dropped anywhere on
// it are sent.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kIdlePrompt = "Press F1 for Help";

    explicit CMainFrame(CSkifferApp* pApp);
    ~CMainFrame() override;

    CSkifferView* View() const { return m_pView; }
    CSkifferDoc* Document() const { return m_pDoc; }
    QAction* Action(int nCommandId) const { return m_actions.value(nCommandId); }
    QLabel* MessagePane() const { return m_pMessage; }
    QLabel* ClockPane() const { return m_pClock; }

    // Caption: the document's title, " - ", the window title.
    void UpdateFrameTitle();
    // Pane 0. A transfer reports every block; the pane shows the newest
    // text at once, then at most every kStatusPaceMs while texts keep coming.
    void SetMessageText(const QString& strText);
    static constexpr int kStatusPaceMs = 100;
    // Enables Abort by the state of the view's transfer.
    void UpdateCommandUI();
    // Shrinks the frame around the form.
    void RecalcLayout();
    void UpdateClock();
    // Opens the help window at a page ("messages.html#port"); with no screen
    // nothing opens.
    void ShowHelp(const QString& strTopic);
    CHelpWindow* HelpWindow() const { return m_pHelp; }

    // Test seam for File, Send...: returns the chosen file, or empty.
    using FileChooser = std::function<QString(QWidget* pParent)>;
    static void SetFileChooser(FileChooser chooser);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;

private:
    QAction* AddCommand(int nId, const QString& text, const QString& prompt,
                        const QKeySequence& key = {});
    void OnFileSend();
    void OnHelpIndex();
    void OnHelpUsing();
    void OnMenuOpened();
    void OnMenuClosed();
    // Hands each dropped local file to the document in turn.
    bool DropFiles(QDropEvent* pEvent);

    CSkifferApp* m_pApp;
    CSkifferView* m_pView = nullptr;
    CSkifferDoc* m_pDoc = nullptr;
    QLabel* m_pMessage = nullptr;
    QLabel* m_pClock = nullptr;
    QMap<int, QAction*> m_actions;
    QTimer* m_pStatusPace = nullptr;
    QString m_strPendingStatus;
    bool m_bStatusPending = false;
    int m_nOpenMenus = 0;
    QPointer<CHelpWindow> m_pHelp;
};
