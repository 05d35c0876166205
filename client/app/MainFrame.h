#pragma once

#include "MainFrameBase.h"

#include <functional>

class CSkifferApp;
class CSkifferDoc;
class CSkifferView;
class QLabel;
class QTimer;

// Command ids, as the menu, accelerators and form know them; those both
// programs carry are in MainFrameBase.h.
enum CommandId {
    ID_SETUP = 32771,
    ID_RENAME_BUTTONS = 32772,
    ID_ABORT = 32773,
    ID_HELP_INDEX = 57666,
    ID_HELP_USING = 57668,
    ID_DEFAULT_HELP = 57671,
};

// The main window: menu, the form and a status bar with a clock. Files
// dropped anywhere on it are sent.
class CMainFrame : public CMainFrameBase {
    Q_OBJECT
public:
    static constexpr const char* kIdlePrompt = "Press F1 for Help";

    explicit CMainFrame(CSkifferApp* pApp);

    CSkifferView* View() const { return m_pView; }
    CSkifferDoc* Document() const { return m_pDoc; }
    QLabel* ClockPane() const { return m_pClock; }

    // The caption, from the document's title.
    void UpdateFrameTitle();
    // Pane 0. A transfer reports every block; the pane shows the newest
    // text at once, then at most every kStatusPaceMs while texts keep coming.
    void SetMessageText(const QString& strText);
    static constexpr int kStatusPaceMs = 100;
    // Enables Abort by the state of the view's transfer.
    void UpdateCommandUI();
    void UpdateClock();

    // Test seam for File, Send...: returns the chosen file, or empty.
    using FileChooser = std::function<QString(QWidget* pParent)>;
    static void SetFileChooser(FileChooser chooser);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;

private:
    void AddPanes();
    void OnFileSend();
    void OnMenuOpened();
    void OnMenuClosed();
    // Hands each dropped local file to the document in turn.
    bool DropFiles(QDropEvent* pEvent);

    CSkifferApp* m_pApp;
    CSkifferView* m_pView = nullptr;
    CSkifferDoc* m_pDoc = nullptr;
    QLabel* m_pClock = nullptr;
    QTimer* m_pStatusPace = nullptr;
    QString m_strPendingStatus;
    bool m_bStatusPending = false;
    int m_nOpenMenus = 0;
};
