#pragma once

#include "SlotView.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>

class CClientAlert;
class CWharfCore;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;

// The five-row progress view: one row per client slot, filled from the
// engine's slot calls; its 5-second timer drives the time-out sweep.
class CWharfView : public QWidget, public CSlotView {
    Q_OBJECT
public:
    static constexpr int kRows = 5;
    static constexpr int kTimerPeriodMs = 5000;
    static constexpr int kRefreshMs = 50;

    // Shows core's slots and runs its sweep.
    explicit CWharfView(CWharfCore& core, QWidget* pParent = nullptr);
    ~CWharfView() override;

    // What the engine reports of a slot (row 1 to 5); other rows are
    // passed over.
    void SlotFreed(int nSlot) override;
    void ClientArrived(int nSlot, const QString& strAddress) override;
    void TransferDetails(int nSlot, const QString& strFile, bool bBinary, bool bSending) override;
    void TransferProgress(int nSlot, const SlotProgress& progress) override;
    void Retransmitted(int nSlot) override;
    void OnInitialUpdate();
    void OnTimer();
    void SetViewType(int nType);
    int ViewType() const { return m_nViewType; }

    // A control by its id (also its object name).
    QWidget* Control(int nId) const;
    // Copies the fields to the controls now (they follow within a moment
    // anyway: during a fast transfer the controls are refreshed a few times
    // a second rather than for every block).
    void FlushControls();

    // What a row shows; the controls follow these fields.
    struct Fields {
        QString strClient;
        int nTx = 2;
        int nRx = 2;
        QString strFile;
        bool bFileEnabled = true;
        QString strBytes;
        int nProgress = 0;
        QString strPercent;
        int nBin = 2;
        // The last progress report, still to be put into words.
        bool bCountsDue = false;
        int bRead = 0;
        uint64_t nTotal = 0;
        uint64_t nDone = 0;
    };
    Fields m_fields[kRows];

    struct Row {
        QLineEdit* pClient = nullptr;
        QCheckBox* pTx = nullptr;
        QCheckBox* pRx = nullptr;
        QLineEdit* pFile = nullptr;
        QLineEdit* pBytes = nullptr;
        QProgressBar* pProgress = nullptr;
        QLineEdit* pPercent = nullptr;
        QCheckBox* pBin = nullptr;
    };
    Row m_rows[kRows];

    // The new-client alert while it exists (it may be hidden).
    CClientAlert* Alert() const;

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    bool event(QEvent* pEvent) override;

private:
    CWharfCore& m_core;
    QLabel* m_pBytesLabel = nullptr;
    QLabel* m_pProgressLabel = nullptr;
    QLabel* m_pPercentLabel = nullptr;
    // Row nSlot's fields; nullptr for a slot out of range.
    Fields* RowFields(int nSlot);
    void ScheduleRefresh();
    void DestroyAlert();

    QPointer<CClientAlert> m_pAlert;

    QTimer* m_pTimer = nullptr;
    QTimer* m_pRefresh = nullptr;
    int m_nViewType = 1;
};
