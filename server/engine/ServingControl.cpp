#include "ListenSocket.h"
#include "MessageBox.h"
#include "WharfCore.h"

namespace {
// Without a shell the busy dialogs are invisible placeholders: waiting for
// the clients to go still works through the deferred restart.
class CHiddenBusyDialog : public CBusyDialog {
public:
    void ShowDialog() override {}
};
} // namespace

CBusyDialog* CWharfCore::CreateBusyDialog(BusyDialogKind) {
    return new CHiddenBusyDialog;
}

bool CWharfCore::IsBusy() const {
    return m_pListener && m_pListener->LiveClients() != 0;
}

void CWharfCore::RestartServing(bool bReplaceListener) {
    if (bReplaceListener) {
        delete m_pListener;
        m_pListener = new CListenSocket(*this);
        if (!m_pListener->StartListening()) {
            // The program goes on, so that another port can be chosen. The
            // busy dialogs close too: their clients are gone, and left open
            // they would retry this restart at every sweep.
            m_pListener->Close();
            m_szTitle = "not listening";
            delete m_pPortChangeDlg;
            m_pPortChangeDlg = nullptr;
            delete m_pStopDlg;
            m_pStopDlg = nullptr;
            RenewDocument();
            AfxMessageBox(
                "Unable to initialise server operations on the new port\n\nChoose another "
                "port in System, Setup",
                MB_OK | MB_ICONINFORMATION);
            return;
        }
        RenewDocument();
    }
    delete m_pPortChangeDlg;
    m_pPortChangeDlg = nullptr;
    delete m_pStopDlg;
    m_pStopDlg = nullptr;
}

void CWharfCore::OnStopServing() {
    m_bServing = 0;
    ServingChanged();
    if (IsBusy()) {
        if (!m_pStopDlg)
            m_pStopDlg = CreateBusyDialog(BusyDialogKind::StopServing);
        m_pStopDlg->ShowDialog();
        return;
    }
    RestartServing(false);
}

void CWharfCore::OnStartServing() {
    m_bServing = 1;
    ServingChanged();
    if (m_pStopDlg)
        RestartServing(false);
}

void CWharfCore::OnPortChanged() {
    if (IsBusy()) {
        if (!m_pPortChangeDlg)
            m_pPortChangeDlg = CreateBusyDialog(BusyDialogKind::PortChange);
        m_pPortChangeDlg->ShowDialog();
        return;
    }
    RestartServing(true);
}

void CWharfCore::CheckDeferredRestart() {
    if (m_pListener && (m_pPortChangeDlg || m_pStopDlg) && m_pListener->LiveClients() == 0)
        RestartServing(true);
}

bool CWharfCore::OnIdle(long lCount) {
    bool bResult = CWinAppCore::OnIdle(lCount);
    if (!m_pListener || m_pListener->m_nActiveClients == 0)
        return bResult;
    if (!(lCount & 0x40))
        return true;
    if (m_bSweepOnIdle == 1)
        m_pListener->SweepSessions();
    CheckDeferredRestart();
    return true;
}
