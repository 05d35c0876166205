#include "ListenSocket.h"

#include "ClientSession.h"
#include "Clock.h"
#include "MessageBox.h"
#include "Tftp.h"

#include <algorithm>
#include <cstring>
#include <new>

const uint8_t CListenSocket::kServiceRefused[27] = {0,   5,   0,   0,   'S', 'e', 'r', 'v', 'i',
                                                    'c', 'e', ' ', 'n', 'o', 't', ' ', 'a', 'v',
                                                    'a', 'i', 'l', 'a', 'b', 'l', 'e', 0,   0};
const uint8_t CListenSocket::kNoFreeSlot[21] = {
    0, 5, 0, 0, 'T', 'o', 'o', ' ', 'M', 'a', 'n', 'y', ' ', 'C', 'l', 'i', 'e', 'n', 't', 's', 0};

CListenSocket::CListenSocket(CWharfCore& core) : m_core(core) {
    GrowSlots();
}

CListenSocket::~CListenSocket() {
    for (CClientSession*& pSession : m_pSession) {
        delete pSession;
        pSession = nullptr;
    }
    for (CClientSession* pSession : m_lingering)
        delete pSession;
    m_lingering.clear();
    Close();
}

bool CListenSocket::StartListening() {
    CWharfCore* pCore = &m_core;
    unsigned nPort = tftp::PortFromText(pCore->m_strPort.toLatin1());

    std::optional<QString> address = pCore->ChooseListenAddress();
    if (!address)
        return false;
    m_strLocalAddress = address->left(100);

    if (!Create(nPort, SOCK_DGRAM, FD_READ | FD_ACCEPT, m_strLocalAddress.toLatin1().constData())) {
        // The reason matters here: ports below 1024 need administrator rights.
        QString reason = QString::fromLocal8Bit(std::strerror(GetLastError()));
        AfxMessageBox("Unable to Create listening port\n" + reason);
        return false;
    }
    socklen_t nLocalLength = sizeof m_localAddr;
    ::getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&m_localAddr), &nLocalLength);
    pCore->m_szTitle = m_strLocalAddress + QString::asprintf(".%u", nPort);
    if (!AsyncSelect(FD_READ | FD_ACCEPT)) {
        AfxMessageBox("Unable to Select local port mode");
        return false;
    }
    pCore->ReportListening(m_strLocalAddress, ntohs(m_localAddr.sin_port));
    return true;
}

void CListenSocket::Refuse(const uint8_t* pPacket, int nLength) {
    std::memcpy(m_abRequest, pPacket, static_cast<size_t>(nLength));
    SendTo(m_abRequest, nLength, reinterpret_cast<const sockaddr*>(&m_peerAddr), sizeof m_peerAddr);
}

void CListenSocket::OnReceive(int nErrorCode) {
    if (nErrorCode != 0)
        return;
    CWharfCore* pCore = &m_core;

    std::memset(m_abRequest, 0, sizeof m_abRequest);
    std::memset(&m_peerAddr, 0, sizeof m_peerAddr);
    socklen_t nAddrLen = sizeof m_peerAddr;
    int n =
        ReceiveFrom(m_abRequest, kRequestSize, reinterpret_cast<sockaddr*>(&m_peerAddr), &nAddrLen);

    // A datagram that claims to come from this very socket would have it
    // answer itself.
    if (m_peerAddr.sin_port == m_localAddr.sin_port &&
        m_peerAddr.sin_addr.s_addr == m_localAddr.sin_addr.s_addr)
        return;
    // An ERROR is never answered: two servers refusing each other's errors
    // would go on for ever. An oversized datagram still shows its opcode.
    const bool bError =
        (n >= 2 || n == SOCKET_ERROR) && tftp::GetWord(m_abRequest) == tftp::OP_ERROR;

    if (pCore->m_bServing != 1) {
        if (!bError) {
            ReportRefusal(n, "Service not available: serving is stopped");
            Refuse(kServiceRefused, sizeof kServiceRefused);
        }
        return;
    }
    QString strAddress = DottedAddress(m_peerAddr);
    if ((pCore->m_bDeny == 1 && pCore->IsDenied(strAddress)) ||
        (pCore->m_bAllow == 1 && !pCore->IsAllowed(strAddress))) {
        if (!bError) {
            ReportRefusal(n, "Service not available: refused by the address lists");
            Refuse(kServiceRefused, sizeof kServiceRefused);
        }
        return;
    }
    if (n < 4)
        return;
    unsigned nOpcode = tftp::GetWord(m_abRequest);
    if (nOpcode == tftp::OP_RRQ || nOpcode == tftp::OP_WRQ) {
        if (HandleRepeatedRequest())
            return;
        if (!CreateSession()) {
            const QByteArray result =
                QString("Too Many Clients: every slot holds a live transfer (MaxClients is %1)")
                    .arg(SlotLimit())
                    .toLatin1();
            ReportRefusal(n, result.constData());
            Refuse(kNoFreeSlot, sizeof kNoFreeSlot);
        }
    }
}

// Only requests are reported: anything else sent to the port is no transfer.
void CListenSocket::ReportRefusal(int nLength, const char* pszResult) {
    if (nLength < 4)
        return;
    const unsigned nOpcode = tftp::GetWord(m_abRequest);
    if (nOpcode != tftp::OP_RRQ && nOpcode != tftp::OP_WRQ)
        return;
    // The buffer was cleared before the datagram came: no stale name.
    int nPos = 2;
    CWharfCore::TransferEnd end;
    end.client = m_peerAddr;
    end.bRead = nOpcode == tftp::OP_RRQ;
    end.path = RequestField(m_abRequest, nPos);
    end.strResult = pszResult;
    m_core.ReportTransferEnd(end);
}

bool CListenSocket::HandleRepeatedRequest() {
    for (auto it = m_lingering.begin(); it != m_lingering.end(); ++it) {
        if (!(*it)->IsFromPeer(m_peerAddr))
            continue;
        if ((*it)->IsSameRequest(m_abRequest))
            return true; // a late repeat of a store that is done
        delete *it;
        m_lingering.erase(it);
        break;
    }
    for (int i = 0; IsSlot(i); ++i) {
        CClientSession* pSession = m_pSession[i];
        if (!pSession || !pSession->IsFromPeer(m_peerAddr))
            continue;
        if (!pSession->IsSameRequest(m_abRequest)) {
            // The same port asking for something else: a client that reuses
            // its port for the next transfer. Its ended session goes now;
            // a live one keeps the slot and the new request is not served.
            if (pSession->IsActive())
                return true;
            ReleaseSlot(i);
            return false;
        }
        // The client repeats its request because our first answer was lost:
        // a second session would race the first over the same file, so the
        // first answer goes out again instead, within the retry budget.
        if (pSession->AwaitsFirstAnswer() && CountRetransmission(i)) {
            pSession->m_tLastActivity = CTime::GetCurrentTime().GetTime();
            pSession->Retransmit();
        }
        return true;
    }
    return false;
}

int CListenSocket::SlotLimit() const {
    return std::clamp(m_core.m_nMaxClients, 1, kMaxSlots);
}

void CListenSocket::GrowSlots() {
    const size_t nLimit = static_cast<size_t>(SlotLimit());
    if (m_pSession.size() < nLimit) {
        m_pSession.resize(nLimit, nullptr);
        m_nRetries.resize(nLimit, 0);
    }
}

// A slot is free the moment its transfer ends: a request takes an empty slot,
// else the slot of the session that ended first. When every slot holds a
// live transfer, a requester that has said nothing since its request for a
// while gives way: a few datagrams from a host that never answers must not
// hold the server for a whole time-out.
int CListenSocket::ChooseSlot() {
    GrowSlots();
    const int nLimit = SlotLimit();
    int nEmpty = -1, nEnded = -1, nSilent = -1, nLive = 0;
    for (int i = 0; IsSlot(i); ++i) {
        const CClientSession* pSession = m_pSession[i];
        if (pSession && pSession->IsActive())
            ++nLive;
        if (i >= nLimit)
            continue;
        if (!pSession) {
            if (nEmpty < 0)
                nEmpty = i;
        } else if (!pSession->IsActive()) {
            if (nEnded < 0 || pSession->EndOrder() < m_pSession[nEnded]->EndOrder())
                nEnded = i;
        } else if (pSession->SilentSinceRequest() &&
                   (nSilent < 0 || pSession->RequestTick() < m_pSession[nSilent]->RequestTick())) {
            nSilent = i;
        }
    }
    if (nLive < nLimit && nEmpty >= 0)
        return nEmpty;
    if (nLive < nLimit && nEnded >= 0) {
        ReleaseSlot(nEnded);
        return nEnded;
    }
    if (nSilent >= 0 && GetTickCount() - m_pSession[nSilent]->RequestTick() > kSilentRequesterMs) {
        m_pSession[nSilent]->End(CClientSession::kClientSilent);
        ReleaseSlot(nSilent);
        return nSilent;
    }
    return -1;
}

bool CListenSocket::CreateSession() {
    CWharfCore* pCore = &m_core;
    const int i = ChooseSlot();
    if (i < 0)
        return false;
    CClientSession* pSession = new (std::nothrow) CClientSession(m_core);
    if (!pSession) {
        AfxMessageBox("Error : Cannot create new client");
        return false;
    }
    m_pSession[i] = pSession;
    pSession->Attach(this, i, m_peerAddr, m_strLocalAddress, m_abRequest, kRequestSize);
    m_nRetries[i] = 0;
    pCore->Slots().ClientArrived(i + 1, DottedAddress(m_peerAddr));
    // Counted before the request is parsed, so a view or a sweep that runs
    // inside the parse (a modal message) sees the slot as occupied.
    ++m_nActiveClients;
    pSession->ParseRequest();
    return true;
}

int CListenSocket::LiveClients() const {
    return static_cast<int>(
        std::count_if(m_pSession.begin(), m_pSession.end(),
                      [](const CClientSession* p) { return p && p->IsActive(); }));
}

void CListenSocket::ReleaseSlot(int i) {
    if (!IsSlot(i) || !m_pSession[i])
        return;
    m_core.Slots().SlotFreed(i + 1);
    --m_nActiveClients;
    CClientSession* pSession = m_pSession[i];
    m_pSession[i] = nullptr;
    m_nRetries[i] = 0;
    if (pSession->IsCompletedStore()) {
        if (m_lingering.size() >= static_cast<size_t>(SlotLimit())) {
            delete m_lingering.front();
            m_lingering.erase(m_lingering.begin());
        }
        pSession->Linger();
        m_lingering.push_back(pSession);
    } else {
        delete pSession;
    }
}

void CListenSocket::SweepLingering(time_t now, long nSetting) {
    for (auto it = m_lingering.begin(); it != m_lingering.end();) {
        CClientSession* pSession = *it;
        if (now - pSession->m_tLastActivity > pSession->GiveUpSeconds(nSetting)) {
            delete pSession;
            it = m_lingering.erase(it);
        } else {
            ++it;
        }
    }
}

void CListenSocket::SweepSessions() {
    CWharfCore* pCore = &m_core;
    unsigned long nSetting = tftp::LeadingDigits(pCore->m_strTimeout.toLatin1(), 100000);
    if (nSetting < kMinTimeout || nSetting > kMaxTimeout) {
        nSetting = kMinTimeout;
        pCore->m_strTimeout = "30";
    }
    const time_t now = CTime::GetCurrentTime().GetTime();
    SweepLingering(now, static_cast<long>(nSetting));
    for (int i = 0; m_nActiveClients != 0 && IsSlot(i); ++i) {
        CClientSession* pSession = m_pSession[i];
        if (!pSession)
            continue;
        // Lost packets are sent again by the session's own timer; the sweep
        // only frees the ended and gives up the silent.
        if (!pSession->IsActive()) {
            ReleaseSlot(i);
        } else if (now - pSession->m_tLastActivity >
                   pSession->GiveUpSeconds(static_cast<long>(nSetting))) {
            pSession->End(CClientSession::kClientSilent);
            ReleaseSlot(i);
        }
    }
    // Slots above a lowered setting go once their transfers have.
    while (static_cast<int>(m_pSession.size()) > SlotLimit() && !m_pSession.back()) {
        m_pSession.pop_back();
        m_nRetries.pop_back();
    }
}

bool CListenSocket::CountRetransmission(int i) {
    if (!IsSlot(i) || m_nRetries[i] >= kMaxRetries)
        return false;
    ++m_nRetries[i];
    ShowRetransmission(i);
    return true;
}

void CListenSocket::ShowRetransmission(int i) {
    if (IsSlot(i))
        m_core.Slots().Retransmitted(i + 1);
}

void CListenSocket::NoteProgress(int i) {
    if (IsSlot(i))
        m_nRetries[i] = 0;
}

bool CListenSocket::FileInUse(dev_t device, ino_t inode, bool bForWrite,
                              const CClientSession* pAsking) const {
    for (const CClientSession* pSession : m_pSession) {
        if (!pSession || pSession == pAsking || !pSession->HoldsFile(device, inode))
            continue;
        if (bForWrite || pSession->m_nOpcode == tftp::OP_WRQ)
            return true;
    }
    return false;
}

bool CListenSocket::FreeEndedTransfer() {
    for (int i = 0; IsSlot(i); ++i) {
        if (m_pSession[i] && !m_pSession[i]->IsActive()) {
            ReleaseSlot(i);
            return true;
        }
    }
    if (m_lingering.empty())
        return false;
    delete m_lingering.front();
    m_lingering.erase(m_lingering.begin());
    return true;
}

void CListenSocket::RefuseRequest(const sockaddr_in& peer, const QByteArray& text) {
    uint8_t abPacket[kRequestSize];
    tftp::PutWord(abPacket, tftp::OP_ERROR);
    tftp::PutWord(abPacket + 2, 0);
    const int nText = static_cast<int>(std::min<qsizetype>(text.size(), kRequestSize - 5));
    std::memcpy(abPacket + 4, text.constData(), static_cast<size_t>(nText));
    abPacket[4 + nText] = 0;
    SendTo(abPacket, 5 + nText, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
}
