#pragma once

#include <QMetaObject>
#include <QObject>

// Messages a transfer posts to the main view.
constexpr int WM_CLIENT_PROGRESS = 0x400 + 1;  // 0: starts (total), 1: sent, 2: received
constexpr int WM_CLIENT_BLOCKSIZE = 0x400 + 2; // the block size now in force
constexpr int WM_CLIENT_ADDRESS = 0x400 + 3;   // the local address has been chosen

// What a transfer needs of the view that shows it: a window to post
// messages to. Posted messages arrive later from the event loop, in the order
// posted, never inside the call that posts them; those still waiting when
// the view is destroyed are dropped with it.
class CTransferView {
public:
    virtual ~CTransferView() = default;

    void PostMessage(int nMessage, long wParam, long lParam) {
        QMetaObject::invokeMethod(
            &m_mailbox,
            [this, nMessage, wParam, lParam] { OnClientMessage(nMessage, wParam, lParam); },
            Qt::QueuedConnection);
    }

protected:
    virtual void OnClientMessage(int nMessage, long wParam, long lParam) = 0;

private:
    QObject m_mailbox;
};
