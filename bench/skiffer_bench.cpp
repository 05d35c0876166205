// One transfer with the client engine and no main window, for timing: the
// transfer object, its view and the idle driver are set up as the windowed
// client sets them up, so the same time-out checks and view messages run.
//
//   skiffer_bench fetch|send HOST PORT BLKSIZE REMOTE LOCAL FOLDER TIMEOUT [WINDOW]
//   skiffer_bench --loopback-position
//
// FOLDER is the inbound folder for a fetch and the outbound one for a send.
// WINDOW is the blocks per acknowledgement asked of the server (default 1:
// lock-step, and the windowsize option is not sent).
// Exits 0 when the transfer ended well, 1 when it failed, 2 on bad arguments.
// --loopback-position prints the 1-based place of 127.0.0.1 in the host's
// address list, the number both programs keep to bind without asking.
#include "HostAddresses.h"
#include "Idle.h"
#include "MessageBox.h"
#include "Signals.h"
#include "SkifferCore.h"
#include "Tftp.h"
#include "TransferSocket.h"
#include "TransferView.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace {

int LoopbackPosition() {
    const std::optional<QStringList> addresses = HostAddressList();
    if (!addresses)
        return 0;
    return static_cast<int>(addresses->indexOf("127.0.0.1")) + 1;
}

// The view's part in a transfer is its mailbox: messages are posted and
// delivered through the event loop as in the window, and dropped here.
class CBenchView : public CTransferView {
protected:
    void OnProgress(ProgressKind, long) override {}
    void OnBlockSize(int) override {}
    void OnAddressChosen(const QString&) override {}
};

class CBenchCore : public CSkifferCore {
public:
    QString m_strLastStatus;
    int m_nMessageBoxes = 0;
    bool m_bStarted = false;

    void ShowStatus(const QString& strText) override { m_strLastStatus = strText; }

    bool OnIdle(long lCount) override {
        bool bMore = CSkifferCore::OnIdle(lCount);
        // The first idle call after the message that ended the transfer.
        if (m_bStarted && (!m_pTransfer || m_pTransfer->m_bActive != 1))
            QCoreApplication::quit();
        return bMore;
    }
};

bool EndedWell(const CBenchCore& core, const CTransferSocket& transfer, bool bSending) {
    if (core.m_nMessageBoxes != 0 || transfer.m_bActive != 0)
        return false;
    if (bSending)
        return transfer.m_bLastBlock == 1 && transfer.m_nBytes == transfer.m_nTotalSize &&
               core.m_strLastStatus.startsWith("Sent ");
    return core.m_strLastStatus.endsWith(" - Done");
}

int Usage() {
    std::fprintf(stderr, "usage: skiffer_bench fetch|send HOST PORT BLKSIZE REMOTE LOCAL FOLDER "
                         "TIMEOUT [WINDOW]\n       skiffer_bench --loopback-position\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication qapp(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 2 && args[1] == "--loopback-position") {
        std::printf("%d\n", LoopbackPosition());
        return 0;
    }
    if ((args.size() != 9 && args.size() != 10) || (args[1] != "fetch" && args[1] != "send"))
        return Usage();
    const bool bSending = args[1] == "send";
    const QString strHost = args[2];
    const int nPort = args[3].toInt();
    const int nBlockSize = args[4].toInt();
    const QString strRemote = args[5];
    const QString strLocal = args[6];
    QString strFolder = args[7];
    if (!strFolder.endsWith('/'))
        strFolder += '/';
    const int nTimeout = args[8].toInt();
    bool bWindowOk = true;
    const int nWindow = args.size() == 10 ? args[9].toInt(&bWindowOk) : 1;
    if (nPort < 1 || nPort > 65535 || nBlockSize < 8 || nTimeout < 1 || !bWindowOk ||
        nWindow < tftp::kMinWindowSize || nWindow > tftp::kMaxWindowSize)
        return Usage();

    SetHeadless(true);
    CBenchCore core;
    SetMessageBoxHandler([&core](const QString& text, unsigned type) {
        ++core.m_nMessageBoxes;
        std::fprintf(stderr, "skiffer_bench: message: %s\n", text.toLocal8Bit().constData());
        return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : DefaultButton(type);
    });
    // Settings as the options sheet leaves them: fixed folders, replace an
    // existing file, and bind to loopback without asking.
    core.m_bOverWrite = 1;
    core.m_strInbound = strFolder;
    core.m_strOutbound = strFolder;
    core.m_nDefaultIP = LoopbackPosition();
    if (core.m_nDefaultIP == 0) {
        std::fprintf(stderr, "skiffer_bench: 127.0.0.1 is not among the host's addresses\n");
        return 1;
    }
    QuitOnTerminationSignals();
    CIdleDriver idle([&core](long lCount) { return core.OnIdle(lCount); });

    CBenchView view;
    std::unique_ptr<CTransferSocket> pTransfer;
    QElapsedTimer clock;
    bool bStartFailed = false;
    // Started from the event loop, as a click on Send or Fetch would be.
    QTimer::singleShot(0, [&] {
        pTransfer = std::make_unique<CTransferSocket>(core, &view);
        if (!pTransfer->CreateTransferSocket() || pTransfer->m_strLocalAddress != "127.0.0.1") {
            bStartFailed = true;
            QCoreApplication::quit();
            return;
        }
        pTransfer->m_bDroppedPath = 0;
        pTransfer->m_bSending = bSending ? 1 : 0;
        pTransfer->m_nTimeout = nTimeout;
        pTransfer->m_nBlockSize = nBlockSize;
        pTransfer->m_nWindowSize = nWindow;
        pTransfer->m_bSendTimeout = 0;
        clock.start();
        const int nStarted =
            bSending ? pTransfer->StartSend(strRemote, strLocal, strHost, nPort, 1, QString())
                     : pTransfer->StartFetch(strRemote, strLocal, strHost, nPort, 1);
        if (!nStarted) {
            bStartFailed = true;
            QCoreApplication::quit();
            return;
        }
        core.m_bStarted = true;
    });
    qapp.exec();

    const bool bOk = !bStartFailed && pTransfer && EndedWell(core, *pTransfer, bSending);
    std::printf("%s %s %.3f s block %d window %d: %s\n", bOk ? "ok" : "failed",
                bSending ? "send" : "fetch",
                clock.isValid() ? static_cast<double>(clock.nsecsElapsed()) / 1e9 : 0.0,
                pTransfer ? pTransfer->m_nBlockSize : nBlockSize,
                pTransfer ? pTransfer->m_nWindowSize : nWindow,
                core.m_strLastStatus.toLocal8Bit().constData());
    return bOk ? 0 : 1;
}
