#pragma once

#include "SlotView.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

class CClientAlert;
class CWharfCore;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QScrollArea;
class QTimer;

// The progress view: one row per client slot, filled from the engine's slot
// calls; its 5-second timer drives the time-out sweep. Five rows fit; more
// scroll beneath the headings.
class CWharfView : public QWidget, public CSlotView {
    Q_OBJECT
public:
    static constexpr int kVisibleRows = 5;
    static constexpr int kTimerPeriodMs = 5000;
    static constexpr int kRefreshMs = 50;

    // Shows core's slots and runs its sweep.
    explicit CWharfView(CWharfCore& core, QWidget* pParent = nullptr);
    ~CWharfView() override;

    // What the engine reports of a slot (1 to kMaxSlots); a slot beyond the
    // rows adds rows up to it.
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
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    // The rows area, which scrolls once there are more than five rows.
    QScrollArea* RowsArea() const { return m_pRowsArea; }
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
        // Changed since the controls last followed.
        bool bDirty = false;
    };
    std::vector<Fields> m_fields;

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
    std::vector<Row> m_rows;

    // The new-client alert while it exists (it may be hidden).
    CClientAlert* Alert() const;

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    bool event(QEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    CWharfCore& m_core;
    QLabel* m_pBytesLabel = nullptr;
    QLabel* m_pProgressLabel = nullptr;
    QLabel* m_pPercentLabel = nullptr;
    QLabel* m_pBinLabel = nullptr;
    QScrollArea* m_pRowsArea = nullptr;
    QWidget* m_pRowsBox = nullptr;
    // Whether the columns right of File stand aside for the scroll bar.
    bool m_bNarrow = false;
    // Rows whose fields changed since the last refresh, each once.
    std::vector<int> m_dirty;

    // Row nSlot's fields, adding rows up to it; nullptr for a slot out of
    // range.
    Fields* RowFields(int nSlot);
    // As many rows as the setting asks for, at least nAtLeast, and never
    // fewer than reach the last row with a live transfer.
    void FitRows(int nAtLeast = 0);
    void ResizeRows(int nRows);
    void AddRow();
    void PlaceColumns();
    void MarkDirty(Fields& row);
    // Where a row's control stands in the rows area, by column.
    QRect CellRect(int nRow, int nColumn) const;
    void ScheduleRefresh();
    void DestroyAlert();

    QPointer<CClientAlert> m_pAlert;

    QTimer* m_pTimer = nullptr;
    QTimer* m_pRefresh = nullptr;
    int m_nViewType = 1;
};
