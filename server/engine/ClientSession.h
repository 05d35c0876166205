#pragma once

#include "AsyncSocket.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

// One client being served, in one slot of the listener, talking from a
// socket of its own.
class CClientSession : public CAsyncSocket {
public:
    CClientSession();
    ~CClientSession() override;

    // Hand-over from the listener: slot, client address, local address and
    // the request datagram (copied into the start of the packet buffer).
    void Attach(int nSlot, const sockaddr_in& peer, const QString& strLocalAddress,
                const uint8_t* pRequest, int nRequestSize);
    void ParseRequest();

    int m_nTimeout = 0;
    int m_nBlockSize = 512;
    sockaddr_in m_peerAddr{};
    int m_bActive = 1;
    int m_nSlot = 0;
    QString m_strLocalAddress;
    std::vector<uint8_t> m_pBuffer;
};
