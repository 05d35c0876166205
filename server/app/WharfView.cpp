#include "WharfView.h"

#include "ListenSocket.h"
#include "NotifyDialogs.h"
#include "WharfCore.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <tuple>

namespace {
// What's This of each column, for its heading and the row's control alike.
const char* const kClientHelp =
    "Client: the address of the machine this row serves, or served last.";
const char* const kTxHelp = "Tx: ticked while the server transmits a file to this client (the "
                            "client fetches). Grey when the row is free.";
const char* const kRxHelp = "Rx: ticked while the server receives a file from this client (the "
                            "client sends). Grey when the row is free.";
const char* const kFileHelp = "File: the full name of the file on this machine. Grey while the "
                              "server sends its last packet again because the client is silent.";
const char* const kBytesHelp = "Bytes: for a file sent to the client, its size and the bytes "
                               "sent so far (size/sent); for a file received, the bytes received.";
const char* const kProgressHelp =
    "Progress: how much of a file sent to this client has gone. For a file received the size "
    "is not known beforehand, and the bar does not move.";
const char* const kPercentHelp = "%: how much of a file sent to this client has gone, in per "
                                 "cent; ? for a file being received.";
const char* const kBinHelp = "Bin: ticked when the file moves byte for byte (binary), empty in "
                             "text mode, where line ends are converted. Grey when the row is free.";

// The form is laid out in dialog units: about 1.5 pixels across and 1.6
// down at the default font.
QRect Units(int x, int y, int w, int h) {
    return QRect(qRound(x * 1.5), qRound(y * 1.6), qRound(w * 1.5), qRound(h * 1.6));
}

constexpr int kFormWidth = 346;
constexpr int kFormHeight = 95;

template <typename T> T* Make(QWidget* pParent, int nId, const QRect& geometry) {
    auto* p = new T(pParent);
    if (nId)
        p->setObjectName(QString::number(nId));
    p->setProperty("controlId", nId);
    p->setGeometry(geometry);
    return p;
}

QLineEdit* MakeEdit(QWidget* pParent, int nId, const QRect& geometry) {
    auto* p = Make<QLineEdit>(pParent, nId, geometry);
    p->setReadOnly(true);
    p->setFocusPolicy(Qt::NoFocus);
    p->setTextMargins(1, 0, 1, 0);
    return p;
}

QCheckBox* MakeBox(QWidget* pParent, int nId, const QRect& geometry) {
    auto* p = Make<QCheckBox>(pParent, nId, geometry);
    p->setTristate(true);
    p->setCheckState(Qt::PartiallyChecked);
    // Shown, never changed by the user.
    p->setAttribute(Qt::WA_TransparentForMouseEvents);
    p->setFocusPolicy(Qt::NoFocus);
    return p;
}

void SetState(QCheckBox* pBox, int nState) {
    pBox->setCheckState(nState == 0   ? Qt::Unchecked
                        : nState == 1 ? Qt::Checked
                                      : Qt::PartiallyChecked);
}
} // namespace

CWharfView::CWharfView(CWharfCore& core, QWidget* pParent) : QWidget(pParent), m_core(core) {
    setObjectName("101");
    // The form's small font, so that counts like 34000000/33517056 fit.
    QFont small = font();
    small.setPointSizeF(std::max(7.0, small.pointSizeF() - 1.0));
    setFont(small);
    setFixedSize(Units(0, 0, kFormWidth, kFormHeight).size());
    setWhatsThis("The progress view: one row for each of up to five clients served at the "
                 "same time. A free row keeps showing its last client.");
    auto label = [this](const char* text, int nId, int x, const char* pszHelp) {
        auto* p = Make<QLabel>(this, nId, Units(x, 10, 60, 9));
        p->setText(text);
        p->adjustSize();
        p->setWhatsThis(pszHelp);
        return p;
    };
    label("Client", 0, 11, kClientHelp);
    label("Tx", 0, 85, kTxHelp);
    label("Rx", 0, 100, kRxHelp);
    label("File", 0, 115, kFileHelp);
    m_pBytesLabel = label("Bytes", 1032, 216, kBytesHelp);
    m_pProgressLabel = label("Progress", 1031, 245, kProgressHelp);
    m_pPercentLabel = label("%", 1033, 306, kPercentHelp);
    label("Bin", 0, 330, kBinHelp);

    for (int r = 0; r < kRows; ++r) {
        const int y = 20 + 15 * r;
        const int base = 1000 + 6 * r;
        Row& row = m_rows[r];
        row.pClient = MakeEdit(this, base, Units(10, y, 70, 11));
        row.pTx = MakeBox(this, base + 2, Units(85, y, 11, 10));
        row.pRx = MakeBox(this, base + 3, Units(100, y, 11, 10));
        row.pFile = MakeEdit(this, base + 4, Units(115, y, 95, 11));
        row.pBytes = MakeEdit(this, base + 5, Units(215, y, 85, 11));
        row.pBytes->hide();
        row.pProgress = Make<QProgressBar>(this, r == 4 ? 1030 : base + 7, Units(215, y, 110, 11));
        row.pProgress->setRange(0, 100);
        row.pProgress->setValue(0);
        row.pProgress->setTextVisible(false);
        row.pPercent = MakeEdit(this, 1035 + r, Units(305, y, 20, 11));
        row.pPercent->hide();
        row.pBin = MakeBox(this, 1040 + r, Units(330, y, 11, 10));
        // Each control is named by its column and row: "Client 1", "File 1".
        const std::tuple<QWidget*, const char*, const char*> names[] = {
            {row.pClient, "Client", kClientHelp},
            {row.pTx, "Tx", kTxHelp},
            {row.pRx, "Rx", kRxHelp},
            {row.pFile, "File", kFileHelp},
            {row.pBytes, "Bytes", kBytesHelp},
            {row.pProgress, "Progress", kProgressHelp},
            {row.pPercent, "%", kPercentHelp},
            {row.pBin, "Bin", kBinHelp}};
        for (const auto& [pControl, pszColumn, pszHelp] : names) {
            pControl->setAccessibleName(QString("%1 %2").arg(pszColumn).arg(r + 1));
            pControl->setWhatsThis(pszHelp);
        }
    }
    m_pBytesLabel->hide();
    m_pPercentLabel->hide();
}

CWharfView::~CWharfView() {
    // No event loop may follow to delete it later.
    delete m_pAlert;
}

QWidget* CWharfView::Control(int nId) const {
    return findChild<QWidget*>(QString::number(nId), Qt::FindDirectChildrenOnly);
}

CWharfView::Fields* CWharfView::RowFields(int nSlot) {
    return nSlot >= 1 && nSlot <= kRows ? &m_fields[nSlot - 1] : nullptr;
}

void CWharfView::SlotFreed(int nSlot) {
    if (Fields* pRow = RowFields(nSlot)) {
        pRow->nTx = pRow->nRx = pRow->nBin = 2;
        ScheduleRefresh();
    }
}

void CWharfView::ClientArrived(int nSlot, const QString& strAddress) {
    Fields* pRow = RowFields(nSlot);
    if (!pRow)
        return;
    pRow->strClient = strAddress;
    if (window()->isMinimized() && m_core.m_bAlertWhenMinimised) {
        if (!m_pAlert)
            m_pAlert = new CClientAlert;
        m_pAlert->ShowAlert(strAddress);
    }
    ScheduleRefresh();
}

void CWharfView::TransferDetails(int nSlot, const QString& strFile, bool bBinary, bool bSending) {
    if (Fields* pRow = RowFields(nSlot)) {
        pRow->strFile = strFile;
        pRow->nBin = bBinary ? 1 : 0;
        pRow->nTx = bSending ? 1 : 0;
        pRow->nRx = bSending ? 0 : 1;
        ScheduleRefresh();
    }
}

void CWharfView::TransferProgress(int nSlot, const SlotProgress& progress) {
    Fields* pRow = RowFields(nSlot);
    if (!pRow)
        return;
    const int bRead = progress.bRead ? 1 : 0;
    if (m_nViewType != 0) {
        // A store's progress, whose end is not known, leaves the bar be.
        const int nPercent = CWharfCore::ProgressPercent(bRead, progress.nTotal, progress.nDone);
        if (nPercent >= 0)
            pRow->nProgress = std::min(nPercent, 100);
    } else {
        // Put into words when shown, not with every block.
        pRow->bCountsDue = true;
        pRow->bRead = bRead;
        pRow->nTotal = progress.nTotal;
        pRow->nDone = progress.nDone;
    }
    pRow->bFileEnabled = true;
    ScheduleRefresh();
}

void CWharfView::Retransmitted(int nSlot) {
    if (Fields* pRow = RowFields(nSlot)) {
        pRow->bFileEnabled = false;
        ScheduleRefresh();
    }
}

void CWharfView::ScheduleRefresh() {
    if (!m_pRefresh) {
        m_pRefresh = new QTimer(this);
        m_pRefresh->setSingleShot(true);
        connect(m_pRefresh, &QTimer::timeout, this, &CWharfView::FlushControls);
    }
    if (!m_pRefresh->isActive())
        m_pRefresh->start(kRefreshMs);
}

void CWharfView::FlushControls() {
    if (m_pRefresh)
        m_pRefresh->stop();
    auto setText = [](QLineEdit* pEdit, const QString& text) {
        if (pEdit->text() != text) {
            pEdit->setText(text);
            pEdit->setCursorPosition(0);
        }
    };
    for (int r = 0; r < kRows; ++r) {
        Fields& f = m_fields[r];
        Row& row = m_rows[r];
        if (f.bCountsDue) {
            f.strPercent = CWharfCore::ProgressPercentText(f.bRead, f.nTotal, f.nDone);
            f.strBytes = CWharfCore::ProgressCountText(f.bRead, f.nTotal, f.nDone);
            f.bCountsDue = false;
        }
        setText(row.pClient, f.strClient);
        SetState(row.pTx, f.nTx);
        SetState(row.pRx, f.nRx);
        setText(row.pFile, f.strFile);
        row.pFile->setEnabled(f.bFileEnabled);
        setText(row.pBytes, f.strBytes);
        row.pProgress->setValue(f.nProgress);
        setText(row.pPercent, f.strPercent);
        SetState(row.pBin, f.nBin);
    }
}

void CWharfView::SetViewType(int nType) {
    // Any non-zero type (a hand-edited bDisplay) means bars, here and for
    // the progress messages alike.
    m_nViewType = nType != 0 ? 1 : 0;
    const bool bBars = m_nViewType == 1;
    m_pBytesLabel->setVisible(!bBars);
    m_pPercentLabel->setVisible(!bBars);
    m_pProgressLabel->setVisible(bBars);
    for (Row& row : m_rows) {
        row.pBytes->setVisible(!bBars);
        row.pPercent->setVisible(!bBars);
        row.pProgress->setVisible(bBars);
    }
}

void CWharfView::OnInitialUpdate() {
    SetViewType(m_core.m_bDisplay);
    if (!m_pTimer) {
        m_pTimer = new QTimer(this);
        connect(m_pTimer, &QTimer::timeout, this, &CWharfView::OnTimer);
    }
    m_pTimer->start(kTimerPeriodMs);
    m_core.m_bSweepOnIdle = 0;
}

void CWharfView::OnTimer() {
    if (m_core.m_pListener)
        m_core.m_pListener->SweepSessions();
    m_core.CheckDeferredRestart();
    if (!m_core.m_pListener || m_core.m_pListener->m_nActiveClients == 0)
        DestroyAlert();
}

CClientAlert* CWharfView::Alert() const {
    return m_pAlert;
}

void CWharfView::DestroyAlert() {
    if (!m_pAlert)
        return;
    // Later, never at once: this runs inside the window system's activation,
    // which goes on to tell the previously active window (often the alert
    // itself) that it lost the focus.
    CClientAlert* pAlert = m_pAlert;
    m_pAlert = nullptr;
    pAlert->hide();
    pAlert->deleteLater();
}

bool CWharfView::event(QEvent* pEvent) {
    // The boxes let clicks through to the view, so the view hands What's
    // This on to the box under the pointer.
    if (pEvent->type() == QEvent::WhatsThis) {
        auto* pHelp = static_cast<QHelpEvent*>(pEvent);
        for (const Row& row : m_rows) {
            for (QCheckBox* pBox : {row.pTx, row.pRx, row.pBin}) {
                if (!pBox->isVisible() || !pBox->geometry().contains(pHelp->pos()))
                    continue;
                QHelpEvent boxHelp(QEvent::WhatsThis, pBox->mapFromParent(pHelp->pos()),
                                   pHelp->globalPos());
                if (QCoreApplication::sendEvent(pBox, &boxHelp) && boxHelp.isAccepted())
                    return true;
            }
        }
    }
    // The user is back: the alert has done its work. A frame that is still
    // minimised does not count, whatever the window system says.
    if (pEvent->type() == QEvent::WindowActivate && !window()->isMinimized())
        DestroyAlert();
    return QWidget::event(pEvent);
}

void CWharfView::closeEvent(QCloseEvent* pEvent) {
    if (m_pTimer)
        m_pTimer->stop();
    QWidget::closeEvent(pEvent);
}
