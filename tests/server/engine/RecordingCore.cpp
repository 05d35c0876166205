#include "RecordingCore.h"

// Each report as the view's message for it, with what it carried.
void RecordingCore::SlotFreed(int nSlot) {
    notes << Note{WM_SLOT_IDLE, nSlot, {}, {}, 0, 0};
}

void RecordingCore::ClientArrived(int nSlot, const QString& strAddress) {
    notes << Note{WM_SLOT_CLIENT, nSlot, strAddress, {}, 0, 0};
}

void RecordingCore::TransferDetails(int nSlot, const QString& strFile, bool bBinary,
                                    bool bSending) {
    notes << Note{WM_SLOT_DETAILS, nSlot, strFile, {}, bBinary, bSending};
}

void RecordingCore::TransferProgress(int nSlot, const SlotProgress& p) {
    notes << Note{WM_SLOT_PROGRESS,
                  nSlot,
                  ProgressPercentText(p.bRead, p.nTotal, p.nDone),
                  ProgressCountText(p.bRead, p.nTotal, p.nDone),
                  0,
                  0};
}

void RecordingCore::Retransmitted(int nSlot) {
    notes << Note{WM_SLOT_RETRANSMIT, nSlot, {}, {}, 0, 0};
}

std::optional<QString> RecordingCore::ChooseListenAddress() {
    return bRealAddressChoice ? CWharfCore::ChooseListenAddress() : listenAddress;
}

RecordingCore::Dialog::~Dialog() {
    pCore->openDialogs.removeOne(this);
}

CBusyDialog* RecordingCore::CreateBusyDialog(BusyDialogKind kind) {
    auto* pDialog = new Dialog(this, kind);
    openDialogs << pDialog;
    ++nDialogsMade;
    return pDialog;
}

void RecordingCore::RenewDocument() {
    ++nRenewals;
    titles << m_szTitle;
}

QList<int> RecordingCore::MessagesFor(int nSlot) const {
    QList<int> messages;
    for (const Note& note : notes)
        if (note.nSlot == nSlot)
            messages << note.nMessage;
    return messages;
}
