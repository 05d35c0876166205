#include "WharfApp.h"

#include "ListenSocket.h"
#include "GuiMessageBox.h"
#include "MessageBox.h"

#include <QMainWindow>

namespace {
const char* const kAppTitle = "Wharfkeep";
}

CWharfApp::CWharfApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(kAppTitle);
    SetAppTitle(kAppTitle);
    SetHeadless(platformName() == "offscreen");
    InstallGuiMessageBox();
}

CWharfApp::~CWharfApp() {
    m_pIdle.reset();
    m_pMainWnd.reset();
    delete m_pListener;
    m_pListener = nullptr;
    SaveSettings();
}

bool CWharfApp::InitInstance() {
    LoadSettings();
    m_pListener = new CListenSocket;
    if (!m_pListener->StartListening()) {
        AfxMessageBox("Unable to initialise server operations\n\nProgram will now terminate",
                      MB_OK | MB_ICONINFORMATION);
        return false;
    }
    m_pIdle = std::make_unique<CIdleDriver>([this](long lCount) { return OnIdle(lCount); });

    m_pMainWnd = std::make_unique<QMainWindow>();
    m_pMainWnd->setWindowTitle(m_szTitle + " - " + kAppTitle);
    m_pMainWnd->resize(520, 200);
    m_pMainWnd->show();
    return true;
}

bool CWharfApp::OnIdle(long lCount) {
    bool bResult = CWinAppCore::OnIdle(lCount);
    if (!m_pListener || m_pListener->m_nActiveClients == 0)
        return bResult;
    if (!(lCount & 0x40))
        return true;
    if (m_bSweepOnIdle == 1)
        m_pListener->SweepSessions();
    return true;
}
