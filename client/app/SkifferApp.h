#pragma once

#include "SkifferCore.h"

#include <QObject>
#include <QPointer>
#include <memory>

class CAbout;
class CIdleDriver;
class CMainFrame;
class CSkifferView;

// The client program: the client's shared state with its window. Made after
// the QApplication; InitInstance runs the start-up.
class CSkifferApp : public QObject, public CSkifferCore {
    Q_OBJECT
public:
    CSkifferApp();
    ~CSkifferApp() override;

    // Start-up: socket layer, settings, frame and view. False ends the
    // program. The command line is not examined.
    bool InitInstance();
    bool OnIdle(long lCount) override;
    void ShowStatus(const QString& strText) override;

    CMainFrame* MainFrame() const { return m_pMainWnd; }
    CSkifferView* View() const;

    // Commands routed to the application.
    void OnSetup();
    void OnRenameButtons();
    void OnAbout();

    // The about sheet while it is open.
    QPointer<CAbout> m_pAbout;

protected:
    // Starting the socket layer: nothing to do on this platform, but a
    // failure must still end the program before any window exists.
    virtual bool SocketInit() { return true; }

private:
    std::unique_ptr<CIdleDriver> m_pIdle;
    CMainFrame* m_pMainWnd = nullptr;
};
