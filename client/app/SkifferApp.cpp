#include "SkifferApp.h"

#include "GuiMessageBox.h"
#include "MessageBox.h"

#include <QMainWindow>

namespace {
const char* const kAppTitle = "Skiffer Client";
}

CSkifferApp::CSkifferApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(kAppTitle);
    SetAppTitle(kAppTitle);
    SetHeadless(platformName() == "offscreen");
    InstallGuiMessageBox();
}

CSkifferApp::~CSkifferApp() = default;

bool CSkifferApp::InitInstance() {
    m_pMainWnd = std::make_unique<QMainWindow>();
    m_pMainWnd->setWindowTitle(kAppTitle);
    m_pMainWnd->resize(420, 260);
    m_pMainWnd->show();
    return true;
}
