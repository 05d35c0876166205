#include "WharfApp.h"

#include "AddressDialogs.h"
#include "BusyDialogs.h"
#include "GuiMessageBox.h"
#include "ListenSocket.h"
#include "MainFrame.h"
#include "MessageBox.h"
#include "WharfView.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

namespace {
const char* const kAppTitle = "Wharfkeep";
}

CWharfApp* GetWharfApp() {
    return static_cast<CWharfApp*>(GetWharfCore());
}

CWharfApp::CWharfApp() {
    SetAppTitle(kAppTitle);
    SetHeadless(QGuiApplication::platformName() == "offscreen");
    InstallGuiMessageBox();
    InstallAddressDialogs();
}

CWharfApp::~CWharfApp() {
    m_pIdle.reset();
    delete m_pPortChangeDlg;
    m_pPortChangeDlg = nullptr;
    delete m_pStopDlg;
    m_pStopDlg = nullptr;
    delete m_pListener;
    m_pListener = nullptr;
    delete m_pAbout;
    delete m_pMainWnd;
    m_pMainWnd = nullptr;
    SaveSettings();
}

bool CWharfApp::InitInstance() {
    LoadSettings();
    if (!SocketInit()) {
        AfxMessageBox("Windows sockets initialization failed.", MB_OK);
        return false;
    }
    m_pListener = new CListenSocket;
    if (!m_pListener->StartListening()) {
        AfxMessageBox("Unable to initialise server operations\n\nProgram will now terminate",
                      MB_OK | MB_ICONINFORMATION);
        return false;
    }
    m_pMainWnd = new CMainFrame(this);
    m_pMainWnd->SetDocumentTitle(m_szTitle);
    m_pMainWnd->View()->OnInitialUpdate();
    m_pMainWnd->RecalcLayout();
    if (QScreen* pScreen = QGuiApplication::primaryScreen()) {
        QRect area = pScreen->availableGeometry();
        QRect frame = m_pMainWnd->frameGeometry();
        frame.moveCenter(area.center());
        m_pMainWnd->move(frame.topLeft());
    }
    m_pMainWnd->show();
    m_pIdle = std::make_unique<CIdleDriver>([this](long lCount) { return OnIdle(lCount); });
    return true;
}

CWharfView* CWharfApp::View() const {
    return m_pMainWnd ? m_pMainWnd->View() : nullptr;
}

bool CWharfApp::OnIdle(long lCount) {
    return CWharfCore::OnIdle(lCount);
}

void CWharfApp::NotifyView(int nType, int nSlot) {
    if (CWharfView* pView = View())
        pView->HandleMessage(MessageForType(nType), nSlot);
}

CBusyDialog* CWharfApp::CreateBusyDialog(BusyDialogKind kind) {
    return new CBusyDialogWindow(kind);
}

void CWharfApp::RenewDocument() {
    if (!m_pMainWnd)
        return;
    m_pMainWnd->SetDocumentTitle(m_szTitle);
    m_pMainWnd->View()->OnInitialUpdate();
    m_pMainWnd->RecalcLayout();
}

void CWharfApp::ServingChanged() {
    if (m_pMainWnd)
        m_pMainWnd->UpdateCommandUI();
}

void CWharfApp::OnAbout() {
    // The about sheet arrives with the windows beside the frame.
}

void CWharfApp::OnSetup() {
    // The options sheet arrives with the windows beside the frame.
}

void CWharfApp::OnProgressView() {
    m_bDisplay = m_bDisplay == 1 ? 0 : 1;
    if (CWharfView* pView = View())
        pView->HandleMessage(WM_VIEW_TYPE, m_bDisplay);
    SaveSettings();
}
