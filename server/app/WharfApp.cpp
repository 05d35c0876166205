#include "WharfApp.h"

#include "AddressDialogs.h"
#include "BusyDialogs.h"
#include "GuiMessageBox.h"
#include "ListenSocket.h"
#include "MainFrame.h"
#include "MessageBox.h"
#include "NotifyDialogs.h"
#include "OptionsSheet.h"
#include "WharfView.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

namespace {
const char* const kAppTitle = "Wharfkeep";
}

CWharfApp::CWharfApp() {
    SetAppTitle(kAppTitle);
    SetHeadless(QGuiApplication::platformName() == "offscreen");
    InstallGuiMessageBox();
    InstallAddressDialogs();
    // With no screen nobody would see the picture, and it would swallow the
    // first key press of whatever drives the program.
    m_bShowSplash = !IsHeadless();
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
    if (QCoreApplication::arguments().contains("--no-splash"))
        m_bShowSplash = false;
    CStartupSplash::EnableSplash(m_bShowSplash);
    if (!SocketInit()) {
        AfxMessageBox("Windows sockets initialization failed.", MB_OK);
        return false;
    }
    m_pListener = new CListenSocket(*this);
    if (!m_pListener->StartListening()) {
        AfxMessageBox("Unable to initialise server operations\n\nProgram will now terminate",
                      MB_OK | MB_ICONINFORMATION);
        return false;
    }
    // Input is offered to the splash before anything else sees it.
    qApp->installEventFilter(this);
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

CSlotView* CWharfApp::SlotView() {
    return View();
}

CBusyDialog* CWharfApp::CreateBusyDialog(BusyDialogKind kind) {
    return new CBusyDialogWindow(kind, [this](bool bDropClients) { RestartServing(bDropClients); });
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

bool CWharfApp::eventFilter(QObject* pWatched, QEvent* pEvent) {
    return CStartupSplash::FilterSplashInput(pWatched, pEvent) ||
           QObject::eventFilter(pWatched, pEvent);
}

void CWharfApp::OnAbout() {
    if (m_pAbout)
        return;
    m_pAbout = new CAbout;
    m_pAbout->show();
}

void CWharfApp::OnSetup() {
    // With nobody to answer it the sheet counts as cancelled.
    if (IsHeadless())
        return;
    COptions sheet(*this, m_pMainWnd);
    sheet.exec();
}

void CWharfApp::OnProgressView() {
    m_bDisplay = m_bDisplay != 0 ? 0 : 1;
    if (CWharfView* pView = View())
        pView->SetViewType(m_bDisplay);
    SaveSettings();
}
