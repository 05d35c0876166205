#pragma once

#include "WharfCore.h"

#include <QApplication>
#include <memory>

class CIdleDriver;
class QMainWindow;

// The server program: the Qt application and the server's shared state.
class CWharfApp : public QApplication, public CWharfCore {
    Q_OBJECT
public:
    CWharfApp(int& argc, char** argv);
    ~CWharfApp() override;

    // Start-up: settings, listener, main window. False ends the program.
    bool InitInstance();
    bool OnIdle(long lCount) override;

    QMainWindow* MainWindow() const { return m_pMainWnd.get(); }

private:
    std::unique_ptr<CIdleDriver> m_pIdle;
    std::unique_ptr<QMainWindow> m_pMainWnd;
};
