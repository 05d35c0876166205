#pragma once

#include "ViewMessages.h"

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <optional>
#include <utility>

class CTransferSocket;

// What a transfer tells the view that shows it. Each call is posted: it
// arrives later from the event loop, in the order posted, never inside the
// call that posts it; those still waiting when the view is destroyed are
// dropped with it.
class CTransferView {
public:
    virtual ~CTransferView() = default;

    // Starts: the bytes to come (0 when unknown); Sent, Received: so far.
    void PostProgress(ProgressKind kind, long nBytes) {
        Post([this, kind, nBytes] { OnProgress(kind, nBytes); });
    }
    // The block size now in force.
    void PostBlockSize(int nBlockSize) {
        Post([this, nBlockSize] { OnBlockSize(nBlockSize); });
    }
    // The local address the transfer's socket is bound to.
    void PostAddress(const QString& strAddress) {
        Post([this, strAddress] { OnAddressChosen(strAddress); });
    }

protected:
    virtual void OnProgress(ProgressKind kind, long nBytes) = 0;
    virtual void OnBlockSize(int nBlockSize) = 0;
    virtual void OnAddressChosen(const QString& strAddress) = 0;

private:
    template <typename Call> void Post(Call call) {
        QMetaObject::invokeMethod(&m_mailbox, std::move(call), Qt::QueuedConnection);
    }
    QObject m_mailbox;
};

// What a transfer needs of the program that runs it: the settings it reads
// when it starts, the status line, and to be checked for its time-out while
// it lives.
class CTransferOwner {
public:
    // The local address to bind to, as the settings choose it (they may ask
    // the user); nullopt when none was given.
    virtual std::optional<QString> ChooseAddress() = 0;
    // Where fetched files go and sent files come from: put before the local
    // name as they stand.
    virtual QString InboundFolder() const = 0;
    virtual QString OutboundFolder() const = 0;
    // A fetch may replace an existing file without asking.
    virtual bool OverwriteWithoutAsking() const = 0;
    virtual void ShowStatus(const QString& strText) = 0;
    // The transfer object comes and goes.
    virtual void TransferCreated(CTransferSocket* pTransfer) = 0;
    virtual void TransferDestroyed(CTransferSocket* pTransfer) = 0;

protected:
    ~CTransferOwner() = default;
};
