#include "ClientSession.h"

#include "Tftp.h"

#include <algorithm>

CClientSession::CClientSession()
    : m_pBuffer(tftp::kDefaultBlockSize + tftp::kBufferSlack, 0) {}

CClientSession::~CClientSession() {
    m_bActive = 0;
    Close();
}

void CClientSession::Attach(int nSlot, const sockaddr_in& peer, const QString& strLocalAddress,
                            const uint8_t* pRequest, int nRequestSize) {
    m_nSlot = nSlot;
    m_peerAddr = peer;
    m_strLocalAddress = strLocalAddress;
    std::copy(pRequest, pRequest + nRequestSize, m_pBuffer.begin());
}

void CClientSession::ParseRequest() {
    // The transfer itself is not served yet: the request is held in its slot.
}
