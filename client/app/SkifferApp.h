#pragma once

#include <QApplication>
#include <memory>

class QMainWindow;

// The client program.
class CSkifferApp : public QApplication {
    Q_OBJECT
public:
    CSkifferApp(int& argc, char** argv);
    ~CSkifferApp() override;

    bool InitInstance();

private:
    std::unique_ptr<QMainWindow> m_pMainWnd;
};
