#pragma once

#include "WharfCore.h"

#include <QObject>
#include <QPointer>
#include <memory>

class CIdleDriver;
class CMainFrame;
class CWharfView;
class QWidget;

// The server program: the server's shared state with its windows. Made after
// the QApplication; InitInstance runs the start-up, the destructor the
// shutdown (settings saved last).
class CWharfApp : public QObject, public CWharfCore {
    Q_OBJECT
public:
    CWharfApp();
    ~CWharfApp() override;

    // Start-up: settings, socket layer, listener, then the windows. False
    // ends the program (nothing but message boxes has been shown).
    bool InitInstance();
    bool OnIdle(long lCount) override;

    CMainFrame* MainFrame() const { return m_pMainWnd; }
    CWharfView* View() const;

    // Commands routed to the application.
    void OnAbout();
    void OnSetup();
    void OnProgressView();

    // The about sheet while it is open.
    QPointer<QWidget> m_pAbout;
    // Show the start-up picture: on unless there is no screen or the command
    // line says --no-splash.
    bool m_bShowSplash = true;

protected:
    CSlotView* SlotView() override;
    // Offers every event to the start-up splash first.
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    // Starting the socket layer: nothing to do on this platform, but a
    // failure must still end the program before any window exists.
    virtual bool SocketInit() { return true; }
    CBusyDialog* CreateBusyDialog(BusyDialogKind kind) override;
    void RenewDocument() override;
    void ServingChanged() override;

private:
    std::unique_ptr<CIdleDriver> m_pIdle;
    CMainFrame* m_pMainWnd = nullptr;
};
