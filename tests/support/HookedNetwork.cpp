#include "HookedNetwork.h"

#include <arpa/inet.h>

HookedNetwork::HookedNetwork() {
    CAsyncSocket::DatagramHook hook;
    hook.send = [this](const CAsyncSocket* pSocket, const CAsyncSocket::Datagram& datagram) {
        QString strAddress;
        unsigned nPort = 0;
        pSocket->GetSockName(strAddress, nPort);
        Sent record{static_cast<uint16_t>(nPort), ntohs(datagram.peer.sin_port), datagram.bytes};
        record.bDropped = m_loss && m_loss(record, static_cast<int>(sent.size()));
        sent.push_back(record);
        if (record.bDropped)
            return true;
        if (m_late && m_late(record, static_cast<int>(sent.size()) - 1)) {
            m_held.emplace_back(datagram, static_cast<uint16_t>(nPort));
            return true;
        }
        m_queue.push_back(datagram);
        m_sources.push_back(static_cast<uint16_t>(nPort));
        ReleaseHeld();
        return true;
    };
    hook.receive = [this](const CAsyncSocket* pSocket, CAsyncSocket::Datagram* pDatagram) {
        if (!m_bPending || pSocket != m_pReceiver)
            return false;
        *pDatagram = m_pending;
        m_bPending = false;
        return true;
    };
    CAsyncSocket::SetDatagramHook(hook);
    // Buffers as Linux gives them: a default, raised on request.
    CAsyncSocket::SetBufferSizeHook([](int, int nRequested, int* pGranted) {
        *pGranted = nRequested ? nRequested : 212992;
        return true;
    });
}

HookedNetwork::~HookedNetwork() {
    CAsyncSocket::SetDatagramHook({});
    CAsyncSocket::SetBufferSizeHook(nullptr);
}

CAsyncSocket* HookedNetwork::SocketAt(uint16_t nPort) const {
    if (!m_sockets)
        return nullptr;
    for (CAsyncSocket* pSocket : m_sockets()) {
        QString strAddress;
        unsigned nBound = 0;
        if (pSocket && pSocket->m_hSocket != INVALID_SOCKET &&
            pSocket->GetSockName(strAddress, nBound) && nBound == nPort)
            return pSocket;
    }
    return nullptr;
}

void HookedNetwork::ReleaseHeld() {
    for (auto& [datagram, nFrom] : m_held) {
        m_queue.push_back(datagram);
        m_sources.push_back(nFrom);
    }
    m_held.clear();
}

bool HookedNetwork::Deliver(int nLimit) {
    for (int n = 0; !m_queue.empty() || !m_held.empty(); ++n) {
        if (m_queue.empty())
            ReleaseHeld(); // nothing came to overtake it

        if (n >= nLimit)
            return false;
        CAsyncSocket::Datagram datagram = m_queue.front();
        const uint16_t nFrom = m_sources.front();
        m_queue.pop_front();
        m_sources.pop_front();
        CAsyncSocket* pTo = SocketAt(ntohs(datagram.peer.sin_port));
        if (!pTo)
            continue; // nobody there any more: lost
        datagram.peer.sin_family = AF_INET;
        datagram.peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        datagram.peer.sin_port = htons(nFrom);
        m_pending = datagram;
        m_pReceiver = pTo;
        m_bPending = true;
        pTo->OnReceive(0);
        m_bPending = false;
    }
    return true;
}
