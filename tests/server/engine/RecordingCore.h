#pragma once

#include "ViewMessages.h"
#include "WharfCore.h"

#include <QList>
#include <QString>

// The server's shared state with the view replaced by a recorder.
class RecordingCore : public CWharfCore, public CSlotView {
public:
    struct Note {
        int nMessage;
        int nSlot;
        QString strText;
        QString strCount;
        int bBinary;
        int bSending;
        bool operator==(const Note&) const = default;
    };

    void SlotFreed(int nSlot) override;
    void ClientArrived(int nSlot, const QString& strAddress) override;
    void TransferDetails(int nSlot, const QString& strFile, bool bBinary, bool bSending) override;
    void TransferProgress(int nSlot, const SlotProgress& progress) override;
    void Retransmitted(int nSlot) override;
    void LogLine(const QString& strLine) override { lines << strLine; }
    std::optional<QString> ChooseListenAddress() override;

    QList<Note> notes;
    QStringList lines; // what a server without a window would write
    std::optional<QString> listenAddress = QString("127.0.0.1");
    bool bRealAddressChoice = false; // run the real choice instead

    // Busy dialogs as serving control made, showed and closed them.
    struct Dialog : CBusyDialog {
        Dialog(RecordingCore* p, BusyDialogKind k) : pCore(p), kind(k) {}
        ~Dialog() override;
        void ShowDialog() override { ++nShown; }
        RecordingCore* pCore;
        BusyDialogKind kind;
        int nShown = 0;
    };
    QList<Dialog*> openDialogs;
    int nDialogsMade = 0;
    int nRenewals = 0;
    QStringList titles; // document title at each renewal

protected:
    CSlotView* SlotView() override { return this; }
    CBusyDialog* CreateBusyDialog(BusyDialogKind kind) override;
    void RenewDocument() override;

public:
    // Messages recorded for one slot, in order.
    QList<int> MessagesFor(int nSlot) const;
};
