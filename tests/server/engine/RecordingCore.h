#pragma once

#include "WharfCore.h"

#include <QList>
#include <QString>

// The server's shared state with the view replaced by a recorder.
class RecordingCore : public CWharfCore {
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

    void NotifyView(int nType, int nSlot) override;
    std::optional<QString> ChooseListenAddress() override;

    QList<Note> notes;
    std::optional<QString> listenAddress = QString("127.0.0.1");
    // Messages recorded for one slot, in order.
    QList<int> MessagesFor(int nSlot) const;
};
