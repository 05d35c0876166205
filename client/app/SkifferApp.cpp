#include "SkifferApp.h"

#include "AddressDialogs.h"
#include "GuiMessageBox.h"
#include "MainFrame.h"
#include "MessageBox.h"
#include "ModalDialog.h"
#include "OptionsSheet.h"
#include "SkifferIcon.h"
#include "SkifferView.h"

#include <QApplication>
#include <QScreen>

namespace {
const char* const kAppTitle = "Skiffer Client";
const char* const kOptions = "Options";

const char* YesNo(int bFlag) {
    return bFlag == 1 ? "Yes" : "No";
}
} // namespace

CSkifferApp::CSkifferApp() {
    SetAppTitle(kAppTitle);
    SetHeadless(QGuiApplication::platformName() == "offscreen");
    // Every window of the program, dialogs and message boxes too, shows its icon.
    QApplication::setWindowIcon(SkifferIcon());
    InstallGuiMessageBox();
    InstallAddressDialogs();
}

CSkifferApp::~CSkifferApp() {
    m_pIdle.reset();
    delete m_pAbout;
    // The view goes with the frame, and its transfer with the view.
    delete m_pMainWnd;
    m_pMainWnd = nullptr;
}

bool CSkifferApp::InitInstance() {
    if (!SocketInit()) {
        AfxMessageBox("Windows sockets initialization failed.");
        return false;
    }
    LoadSettings();
    m_pMainWnd = new CMainFrame(this);
    m_pMainWnd->View()->OnInitialUpdate();
    m_pMainWnd->RecalcLayout();
    if (QScreen* pScreen = QGuiApplication::primaryScreen()) {
        QRect frame = m_pMainWnd->frameGeometry();
        frame.moveCenter(pScreen->availableGeometry().center());
        m_pMainWnd->move(frame.topLeft());
    }
    m_pMainWnd->show();
    m_pIdle = std::make_unique<CIdleDriver>([this](long lCount) { return OnIdle(lCount); });
    return true;
}

CSkifferView* CSkifferApp::View() const {
    return m_pMainWnd ? m_pMainWnd->View() : nullptr;
}

bool CSkifferApp::OnIdle(long lCount) {
    // After each message, as the framework updates its command states.
    if (lCount == 0 && m_pMainWnd)
        m_pMainWnd->UpdateCommandUI();
    return CSkifferCore::OnIdle(lCount);
}

void CSkifferApp::ShowStatus(const QString& strText) {
    if (m_pMainWnd)
        m_pMainWnd->SetMessageText(strText);
}

void CSkifferApp::OnSetup() {
    COptionsSheet sheet(m_pMainWnd);
    sheet.m_pIncoming->m_strPath = m_strInbound;
    sheet.m_pOutgoing->m_strPath = m_strOutbound;
    sheet.m_pIncoming->m_bFlag = m_bOverWrite;
    sheet.m_pOutgoing->m_bFlag = m_bTruncate;
    sheet.m_pTransfers->m_nWindow = m_nWindow;
    if (DoModal(sheet) != QDialog::Accepted)
        return;
    m_strInbound = DirectoryWithSeparator(sheet.m_pIncoming->m_strPath);
    m_strOutbound = DirectoryWithSeparator(sheet.m_pOutgoing->m_strPath);
    m_bOverWrite = sheet.m_pIncoming->m_bFlag;
    m_bTruncate = sheet.m_pOutgoing->m_bFlag;
    m_nWindow = sheet.m_pTransfers->m_nWindow;
    BeginProfileWrites();
    WriteProfileString(kOptions, "Inbound", m_strInbound);
    WriteProfileString(kOptions, "Outbound", m_strOutbound);
    WriteProfileString(kOptions, "OverWrite", YesNo(m_bOverWrite));
    WriteProfileString(kOptions, "Truncate", YesNo(m_bTruncate));
    WriteProfileString(kOptions, "Default IP", QString::asprintf("%d", m_nDefaultIP));
    WriteProfileString(kOptions, "Window", QString::asprintf("%d", m_nWindow));
    EndProfileWrites();
}

void CSkifferApp::OnRenameButtons() {
    m_bChangeButtons = m_bChangeButtons == 1 ? 0 : 1;
    WriteProfileString(kOptions, "Change Buttons", YesNo(m_bChangeButtons));
    if (CSkifferView* pView = View())
        pView->SetButtonNames(m_bChangeButtons);
}

void CSkifferApp::OnAbout() {
    if (m_pAbout)
        return;
    m_pAbout = new CAbout;
    m_pAbout->show();
}
