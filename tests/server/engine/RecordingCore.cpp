#include "RecordingCore.h"

void RecordingCore::NotifyView(int nType, int nSlot) {
    int nMessage = MessageForType(nType);
    if (nMessage == WM_SLOT_IDLE)
        notes << Note{nMessage, nSlot, {}, {}, 0, 0};
    else if (nMessage == WM_SLOT_PROGRESS)
        notes << Note{nMessage,
                      nSlot,
                      ProgressPercentText(m_bReportRead, m_nReportTotal, m_nReportDone),
                      ProgressCountText(m_bReportRead, m_nReportTotal, m_nReportDone),
                      m_bReportBinary,
                      m_bReportSending};
    else
        notes << Note{nMessage, nSlot, m_strReportText, {}, m_bReportBinary, m_bReportSending};
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
