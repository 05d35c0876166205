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
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <array>

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
// The rows start beneath the headings, one every 15 units.
constexpr int kRowsTop = 20;
constexpr int kRowPitch = 15;
// These rows keep the ids they have always had; later rows get ids of
// their own, 2000 + 10 * row + column.
constexpr int kFirstRows = 5;

// A row's columns, left to right, in dialog units.
struct Column {
    int x, w, h;
    const char* pszName;
    const char* pszHelp;
};
enum { kClient, kTx, kRx, kFile, kBytes, kProgress, kPercent, kBin, kColumns };
const Column kColumn[kColumns] = {
    {10, 70, 11, "Client", kClientHelp}, {85, 11, 10, "Tx", kTxHelp},
    {100, 11, 10, "Rx", kRxHelp},        {115, 95, 11, "File", kFileHelp},
    {215, 85, 11, "Bytes", kBytesHelp},  {215, 110, 11, "Progress", kProgressHelp},
    {305, 20, 11, "%", kPercentHelp},    {330, 11, 10, "Bin", kBinHelp}};

// The headings, in the same order; those right of File stand aside with
// their columns.
struct Heading {
    const char* pszText;
    int nId;
    int x;
};
const Heading kHeading[kColumns] = {
    {"Client", 0, 11},    {"Tx", 0, 85},           {"Rx", 0, 100},   {"File", 0, 115},
    {"Bytes", 1032, 216}, {"Progress", 1031, 245}, {"%", 1033, 306}, {"Bin", 0, 330}};

int ControlId(int nRow, int nColumn) {
    if (nRow >= kFirstRows)
        return 2000 + 10 * nRow + nColumn;
    const int base = 1000 + 6 * nRow;
    switch (nColumn) {
    case kClient:
        return base;
    case kTx:
        return base + 2;
    case kRx:
        return base + 3;
    case kFile:
        return base + 4;
    case kBytes:
        return base + 5;
    case kProgress:
        return nRow == 4 ? 1030 : base + 7;
    case kPercent:
        return 1035 + nRow;
    default:
        return 1040 + nRow;
    }
}

std::array<QWidget*, kColumns> Cells(const CWharfView::Row& row) {
    return {row.pClient, row.pTx,       row.pRx,      row.pFile,
            row.pBytes,  row.pProgress, row.pPercent, row.pBin};
}

bool IsLive(const CWharfView::Fields& f) {
    return f.nTx != 2 || f.nRx != 2;
}

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
    setWhatsThis("The progress view: one row for each client slot (Max Clients on the Options "
                 "page); five fit, more scroll beneath the headings. A free row keeps showing "
                 "its last client.");
    QLabel* headings[kColumns];
    for (int c = 0; c < kColumns; ++c) {
        auto* p = Make<QLabel>(this, kHeading[c].nId, Units(kHeading[c].x, 10, 60, 9));
        p->setText(kHeading[c].pszText);
        p->adjustSize();
        p->setWhatsThis(kColumn[c].pszHelp);
        headings[c] = p;
    }
    m_pBytesLabel = headings[kBytes];
    m_pProgressLabel = headings[kProgress];
    m_pPercentLabel = headings[kPercent];
    m_pBinLabel = headings[kBin];
    m_pBytesLabel->hide();
    m_pPercentLabel->hide();

    // The rows' own area, exactly the five rows' height, scrolls the rest.
    m_pRowsArea = new QScrollArea(this);
    m_pRowsArea->setGeometry(Units(0, kRowsTop, kFormWidth, kFormHeight - kRowsTop));
    m_pRowsArea->setFrameShape(QFrame::NoFrame);
    m_pRowsArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pRowsArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_pRowsArea->setFocusPolicy(Qt::NoFocus);
    m_pRowsArea->viewport()->setAutoFillBackground(false);
    m_pRowsArea->setAccessibleName("Rows");
    QScrollBar* pBar = m_pRowsArea->verticalScrollBar();
    pBar->setSingleStep(Units(0, 0, 0, kRowPitch).height());
    pBar->setAccessibleName("Rows scroll bar");
    pBar->setWhatsThis("Scrolls the rows: there is one for each client slot, and five fit at "
                       "once.");
    m_pRowsBox = new QWidget;
    m_pRowsBox->resize(m_pRowsArea->width(), 0);
    m_pRowsBox->installEventFilter(this);
    m_pRowsArea->setWidget(m_pRowsBox);
    m_pRowsBox->setAutoFillBackground(false);
    FitRows();
}

CWharfView::~CWharfView() {
    // No event loop may follow to delete it later.
    delete m_pAlert;
}

QWidget* CWharfView::Control(int nId) const {
    return findChild<QWidget*>(QString::number(nId));
}

QRect CWharfView::CellRect(int nRow, int nColumn) const {
    const Column& column = kColumn[nColumn];
    QRect cell = Units(column.x, kRowsTop + kRowPitch * nRow, column.w, column.h)
                     .translated(0, -Units(0, kRowsTop, 0, 0).y());
    if (m_bNarrow) {
        // Room for the scroll bar: File gives up its width, and what stands
        // right of it moves left.
        const int nBar = m_pRowsArea->verticalScrollBar()->sizeHint().width();
        if (nColumn == kFile)
            cell.setWidth(cell.width() - nBar);
        else if (nColumn > kFile)
            cell.translate(-nBar, 0);
    }
    return cell;
}

CWharfView::Fields* CWharfView::RowFields(int nSlot) {
    if (nSlot < 1 || nSlot > kMaxSlots)
        return nullptr;
    if (nSlot > RowCount())
        ResizeRows(nSlot);
    return &m_fields[nSlot - 1];
}

void CWharfView::FitRows(int nAtLeast) {
    int nRows = std::max(std::clamp(m_core.m_nMaxClients, 1, kMaxSlots),
                         nAtLeast <= kMaxSlots ? nAtLeast : 0);
    // A transfer that runs on above a lowered setting keeps its row.
    for (int r = RowCount(); r > nRows; --r) {
        if (IsLive(m_fields[r - 1])) {
            nRows = r;
            break;
        }
    }
    if (nRows != RowCount())
        ResizeRows(nRows);
}

void CWharfView::ResizeRows(int nRows) {
    while (RowCount() > nRows) {
        for (QWidget* pCell : Cells(m_rows.back()))
            delete pCell;
        m_rows.pop_back();
        m_fields.pop_back();
    }
    std::erase_if(m_dirty, [nRows](int r) { return r >= nRows; });
    const bool bNarrow = nRows > kVisibleRows;
    if (bNarrow != m_bNarrow) {
        m_bNarrow = bNarrow;
        PlaceColumns();
    }
    m_rows.reserve(nRows);
    m_fields.reserve(nRows);
    while (RowCount() < nRows)
        AddRow();
    m_pRowsBox->resize(m_pRowsBox->width(), Units(0, 0, 0, kRowPitch * nRows).height());
}

void CWharfView::AddRow() {
    const int r = RowCount();
    Row row;
    row.pClient = MakeEdit(m_pRowsBox, ControlId(r, kClient), CellRect(r, kClient));
    row.pTx = MakeBox(m_pRowsBox, ControlId(r, kTx), CellRect(r, kTx));
    row.pRx = MakeBox(m_pRowsBox, ControlId(r, kRx), CellRect(r, kRx));
    row.pFile = MakeEdit(m_pRowsBox, ControlId(r, kFile), CellRect(r, kFile));
    row.pBytes = MakeEdit(m_pRowsBox, ControlId(r, kBytes), CellRect(r, kBytes));
    row.pProgress = Make<QProgressBar>(m_pRowsBox, ControlId(r, kProgress), CellRect(r, kProgress));
    row.pProgress->setRange(0, 100);
    row.pProgress->setValue(0);
    row.pProgress->setTextVisible(false);
    row.pPercent = MakeEdit(m_pRowsBox, ControlId(r, kPercent), CellRect(r, kPercent));
    row.pBin = MakeBox(m_pRowsBox, ControlId(r, kBin), CellRect(r, kBin));
    const bool bBars = m_nViewType == 1;
    const auto cells = Cells(row);
    for (int c = 0; c < kColumns; ++c) {
        // Each control is named by its column and row: "Client 1", "File 1".
        cells[c]->setAccessibleName(QString("%1 %2").arg(kColumn[c].pszName).arg(r + 1));
        cells[c]->setWhatsThis(kColumn[c].pszHelp);
        cells[c]->setVisible(c == kProgress ? bBars : c == kBytes || c == kPercent ? !bBars : true);
    }
    m_rows.push_back(row);
    m_fields.emplace_back();
}

void CWharfView::PlaceColumns() {
    m_pRowsArea->setVerticalScrollBarPolicy(m_bNarrow ? Qt::ScrollBarAlwaysOn
                                                      : Qt::ScrollBarAlwaysOff);
    // With rows to scroll through, the keys scroll them too.
    m_pRowsArea->setFocusPolicy(m_bNarrow ? Qt::StrongFocus : Qt::NoFocus);
    const int nBar = m_bNarrow ? m_pRowsArea->verticalScrollBar()->sizeHint().width() : 0;
    m_pRowsBox->resize(m_pRowsArea->width() - nBar, m_pRowsBox->height());
    QLabel* const headings[] = {m_pBytesLabel, m_pProgressLabel, m_pPercentLabel, m_pBinLabel};
    for (int c = kBytes; c < kColumns; ++c) {
        QLabel* pHeading = headings[c - kBytes];
        pHeading->move(Units(kHeading[c].x, 10, 0, 0).x() - nBar, pHeading->y());
    }
    for (int r = 0; r < RowCount(); ++r) {
        const auto cells = Cells(m_rows[r]);
        for (int c = kFile; c < kColumns; ++c)
            cells[c]->setGeometry(CellRect(r, c));
    }
}

void CWharfView::MarkDirty(Fields& row) {
    if (!row.bDirty) {
        row.bDirty = true;
        m_dirty.push_back(static_cast<int>(&row - m_fields.data()));
    }
    ScheduleRefresh();
}

void CWharfView::SlotFreed(int nSlot) {
    // A row that is gone has nothing left to grey.
    if (nSlot > RowCount())
        return;
    if (Fields* pRow = RowFields(nSlot)) {
        pRow->nTx = pRow->nRx = pRow->nBin = 2;
        MarkDirty(*pRow);
    }
}

void CWharfView::ClientArrived(int nSlot, const QString& strAddress) {
    // The setting may have changed since the last client.
    FitRows(nSlot);
    Fields* pRow = RowFields(nSlot);
    if (!pRow)
        return;
    pRow->strClient = strAddress;
    if (window()->isMinimized() && m_core.m_bAlertWhenMinimised) {
        if (!m_pAlert)
            m_pAlert = new CClientAlert;
        m_pAlert->ShowAlert(strAddress);
    }
    MarkDirty(*pRow);
}

void CWharfView::TransferDetails(int nSlot, const QString& strFile, bool bBinary, bool bSending) {
    if (Fields* pRow = RowFields(nSlot)) {
        pRow->strFile = strFile;
        pRow->nBin = bBinary ? 1 : 0;
        pRow->nTx = bSending ? 1 : 0;
        pRow->nRx = bSending ? 0 : 1;
        MarkDirty(*pRow);
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
    MarkDirty(*pRow);
}

void CWharfView::Retransmitted(int nSlot) {
    if (Fields* pRow = RowFields(nSlot)) {
        pRow->bFileEnabled = false;
        MarkDirty(*pRow);
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
    // Only the rows that changed: a fast transfer in one row leaves the
    // others be.
    for (const int r : m_dirty) {
        Fields& f = m_fields[r];
        Row& row = m_rows[r];
        f.bDirty = false;
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
    m_dirty.clear();
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
    FitRows();
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
    // Follows a changed setting even while no client arrives.
    FitRows();
    if (!m_core.m_pListener || m_core.m_pListener->LiveClients() == 0)
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

bool CWharfView::eventFilter(QObject* pWatched, QEvent* pEvent) {
    // The boxes let clicks through to the rows area, so the area hands
    // What's This on to the box under the pointer.
    if (pWatched == m_pRowsBox && pEvent->type() == QEvent::WhatsThis) {
        auto* pHelp = static_cast<QHelpEvent*>(pEvent);
        const int r = pHelp->pos().y() / Units(0, 0, 0, kRowPitch).height();
        if (r >= 0 && r < RowCount()) {
            const Row& row = m_rows[r];
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
    return QWidget::eventFilter(pWatched, pEvent);
}

bool CWharfView::event(QEvent* pEvent) {
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
