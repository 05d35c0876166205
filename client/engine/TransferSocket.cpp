#include "TransferSocket.h"

#include "MessageBox.h"
#include "Modal.h"
#include "Tftp.h"
#include "Window.h"

#include <sys/stat.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace {
constexpr int kInitialBuffer = 520;
constexpr int kMaxAddressText = 100;
constexpr int kMaxServerText = 42; // keeps the whole status line within 60 characters
const char* const kServerMessage = "Msg from Server > ";
// The local file is read and written through a buffer this large, so that a
// small block is not a system call of its own.
constexpr size_t kFileBuffer = 64 * 1024;

uint32_t FileLength(FILE* pFile) {
    struct stat st {};
    if (::fstat(::fileno(pFile), &st) != 0 || st.st_size < 0)
        return 0;
    return static_cast<uint32_t>(std::min<off_t>(st.st_size, 0xFFFFFFFF));
}

// Socket error numbers count from 10000 (10000 + errno), which keeps the
// number shown after the customary 1000 is taken off positive.
int SocketErrorNumber(int nErrno) {
    return 10000 + nErrno;
}

int DecimalDigits(long nValue) {
    return std::snprintf(nullptr, 0, "%ld", nValue);
}
} // namespace

FILE* OpenLocalFile(const QString& strPath, const char* pszMode) {
    FILE* pFile = std::fopen(QFile::encodeName(strPath).constData(), pszMode);
    if (!pFile)
        return nullptr;
    struct stat st {};
    if (::fstat(::fileno(pFile), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(pFile);
        errno = EISDIR;
        return nullptr;
    }
    return pFile;
}

CTransferSocket::CTransferSocket(CTransferOwner& owner, CTransferView* pView)
    : m_pView(pView), m_owner(owner) {
    m_pBuffer.resize(kInitialBuffer);
    m_owner.TransferCreated(this);
}

CTransferSocket::~CTransferSocket() {
    if (m_pFile) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
    m_owner.TransferDestroyed(this);
    Close();
}

int CTransferSocket::Message(const QString& strText, unsigned nType) {
    // While a box is open no datagram may end or advance the transfer under
    // the code that asked (the box itself holds the time-out off).
    bool bWasOpen = m_bInMessageBox;
    m_bInMessageBox = true;
    int nAnswer = AfxMessageBox(strText, nType);
    m_bInMessageBox = bWasOpen;
    return nAnswer;
}

void CTransferSocket::ShowStatus(const QString& strText) {
    m_owner.ShowStatus(strText);
}

void CTransferSocket::PostProgress(ProgressKind kind, uint32_t nBytes) {
    if (m_pView)
        m_pView->PostProgress(kind, static_cast<long>(nBytes));
}

void CTransferSocket::PostBlockSize() {
    if (m_pView)
        m_pView->PostBlockSize(m_nBlockSize);
}

int CTransferSocket::CreateTransferSocket() {
    std::optional<QString> address = m_owner.ChooseAddress();
    if (!address)
        return 0;
    m_strLocalAddress = address->left(kMaxAddressText);
    if (m_pView)
        m_pView->PostAddress(m_strLocalAddress);
    if (!Create(0, SOCK_DGRAM, FD_READ, m_strLocalAddress.toLatin1().constData())) {
        Message("Unable to Create port");
        return 0;
    }
    if (!AsyncSelect(FD_READ)) {
        Message("Unable to Select local port mode");
        return 0;
    }
    return 1;
}

bool CTransferSocket::ResizeBuffer(int nSize) {
    // Never smaller than the largest ERROR packet, which is built here too.
    size_t nBytes = static_cast<size_t>(std::max(nSize, tftp::MaxErrorPacketSize()));
    try {
        m_pBuffer.resize(nBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

int CTransferSocket::PrepareBuffers(int bSending) {
    if (m_nBlockSize < tftp::kMinBlockSize || m_nBlockSize > tftp::kMaxBlockSize) {
        Message("Block size settings not valid for sockets");
        return 0;
    }
    int nSize = m_nBlockSize + tftp::kBufferSlack;
    if (!ResizeBuffer(nSize)) {
        Message("Unable to allocate buffers for transfer");
        return 0;
    }
    // A socket buffer is only ever raised: the system's default is usually
    // far larger than one block, and a buffer cut to one datagram loses the
    // real block whenever a duplicate or a stray datagram arrives first.
    const int nInForce = tftp::RaiseSocketBuffer(*this, bSending ? SO_SNDBUF : SO_RCVBUF, nSize);
    if (nInForce < 0 || nInForce - tftp::kBufferSlack < tftp::kMinBlockSize) {
        Message("Block size settings not valid for sockets");
        return 0;
    }
    return std::min(m_nBlockSize, nInForce - tftp::kBufferSlack);
}

int CTransferSocket::SetupBuffers(int bSending) {
    int nAllowed = PrepareBuffers(bSending);
    if (nAllowed == 0)
        return 0;
    // A window is asked for only as large as the socket buffer holds.
    m_nWindowSize = tftp::FitWindow(*this, bSending ? SO_SNDBUF : SO_RCVBUF,
                                    std::clamp(m_nWindowSize, 1, tftp::kMaxWindowSize), nAllowed);
    if (m_nWindowSize == 0) {
        Message("Block size settings not valid for sockets");
        return 0;
    }
    if (nAllowed == m_nBlockSize)
        return 1;
    // Before the request: the smaller size is what gets offered.
    m_nBlockSize = nAllowed;
    if (!ResizeBuffer(nAllowed + tftp::kBufferSlack)) {
        Message("Unable to allocate buffers for transfer");
        return 0;
    }
    PostBlockSize();
    return 1;
}

bool CTransferSocket::SetupAgreedBuffers() {
    int nAllowed = PrepareBuffers(m_bSending);
    if (nAllowed == 0) {
        EndTransfer(tftp::EndReason::LocalFailure);
        return false;
    }
    // The server keeps to the size it agreed: a smaller block from us would
    // be its end of file, a larger one from it would not fit.
    if (nAllowed < m_nBlockSize) {
        ShowStatus("Option Failure");
        EndTransfer(tftp::EndReason::OptionFailure);
        return false;
    }
    return true;
}

int CTransferSocket::RequestLength(const QByteArray& name, const char* pszMode) const {
    int nLength =
        2 + static_cast<int>(name.size()) + 1 + static_cast<int>(std::strlen(pszMode)) + 1;
    if (!m_bSending)
        nLength += static_cast<int>(std::strlen(tftp::kOptTsize)) + 1 + 2;
    if (m_bSendTimeout)
        nLength +=
            static_cast<int>(std::strlen(tftp::kOptTimeout)) + 1 + DecimalDigits(m_nTimeout) + 1;
    if (m_nBlockSize != tftp::kDefaultBlockSize)
        nLength +=
            static_cast<int>(std::strlen(tftp::kOptBlksize)) + 1 + DecimalDigits(m_nBlockSize) + 1;
    if (m_nWindowSize > 1)
        nLength += static_cast<int>(std::strlen(tftp::kOptWindowsize)) + 1 +
                   DecimalDigits(m_nWindowSize) + 1;
    return nLength;
}

int CTransferSocket::BuildRequest(int nOpcode, const QByteArray& name, uint8_t* pBuffer,
                                  const char* pszMode) {
    uint8_t* p = pBuffer;
    tftp::PutWord(p, static_cast<unsigned>(nOpcode));
    p += 2;
    std::memcpy(p, name.constData(), static_cast<size_t>(name.size()));
    p += name.size();
    *p++ = 0;
    size_t nMode = std::strlen(pszMode);
    std::memcpy(p, pszMode, nMode);
    p += nMode;
    *p++ = 0;
    if (!m_bSending)
        p += tftp::WriteOption(p, tftp::kOptTsize, 0);
    if (m_bSendTimeout)
        p += tftp::WriteOption(p, tftp::kOptTimeout, m_nTimeout);
    if (m_nBlockSize != tftp::kDefaultBlockSize)
        p += tftp::WriteOption(p, tftp::kOptBlksize, m_nBlockSize);
    if (m_nWindowSize > 1)
        p += tftp::WriteOption(p, tftp::kOptWindowsize, m_nWindowSize);
    return static_cast<int>(p - pBuffer);
}

// Sends the request laid out in the packet buffer; 0 when it went out whole,
// else the error number of the failed send.
int CTransferSocket::SendRequest(int nLength, const QString& strHost, int nPort) {
    QByteArray host = strHost.toLatin1();
    m_requestAddr = sockaddr_in{};
    m_requestAddr.sin_family = AF_INET;
    // An unreadable host is refused by SendTo below, which reads it alike.
    ParseHostAddress(strHost, &m_requestAddr.sin_addr);
    m_requestAddr.sin_port = htons(static_cast<uint16_t>(nPort));
    m_bPeerKnown = false;
    m_bDallying = false;
    m_nAcked = 0;
    m_tLastActivity = CTime::GetCurrentTime();
    // A port outside 0 to 65535 is refused whole by the socket layer, never cut.
    int nSent = nPort < 0 ? SOCKET_ERROR
                          : SendTo(m_pBuffer.data(), nLength, static_cast<unsigned>(nPort),
                                   host.constData());
    if (nSent == nLength) {
        // Kept, for the request may be lost too. Never wait longer than the
        // server was asked to, but sooner when the link allows.
        KeepSent(m_pBuffer.data(), nLength);
        m_retransmit.SetCapMs(
            m_bSendTimeout && m_nTimeout > 0 ? static_cast<unsigned>(m_nTimeout) * 1000 : 0);
        m_retransmit.Sent();
        return 0;
    }
    int nError = nSent < 0 ? GetLastError() : EMSGSIZE;
    return nError != 0 ? nError : EINVAL;
}

int CTransferSocket::LayOutRequest(int nOpcode, const QString& strRemote, int bOctet) {
    const char* pszMode = bOctet == 1 ? tftp::kModeOctet : tftp::kModeNetascii;
    QByteArray name = strRemote.toLocal8Bit();
    // Room for the request, and for a first block of the default size.
    int nRoom =
        std::max(RequestLength(name, pszMode), tftp::kDefaultBlockSize + tftp::kBufferSlack);
    if (nRoom > static_cast<int>(m_pBuffer.size()) && !ResizeBuffer(nRoom)) {
        Message("Unable to allocate buffers for transfer");
        return 0;
    }
    m_nAskedBlockSize = m_nBlockSize;
    m_nAskedWindow = m_nWindowSize;
    return BuildRequest(nOpcode, name, m_pBuffer.data(), pszMode);
}

int CTransferSocket::StartSend(const QString& strRemote, const QString& strLocal,
                               const QString& strHost, int nPort, int bOctet,
                               const QString& strDropped) {
    if (!SetupBuffers(1))
        return 0;
    m_bActive = 1;
    m_nBlock = 1;
    m_tLastActivity = CTime::GetCurrentTime();
    m_bLastBlock = 0;
    m_bReported = false;
    m_nBytes = 0;

    QString strPath =
        m_bDroppedPath == 1 ? m_strDroppedDir + strDropped : m_owner.OutboundFolder() + strLocal;

    int nLength = LayOutRequest(tftp::OP_WRQ, strRemote, bOctet);
    if (nLength == 0) {
        m_bActive = 0;
        return 0;
    }

    m_pFile = OpenLocalFile(strPath, bOctet == 1 ? tftp::kOpenModes[2] : tftp::kOpenModes[0]);
    if (!m_pFile) {
        Message("Unable to open file");
        m_bActive = 0;
        return 0;
    }
    BufferFile();
    m_nTotalSize = FileLength(m_pFile);
    ShowStatus("Offering file to server ...");
    PostProgress(ProgressKind::Starts, m_nTotalSize);

    if (int nError = SendRequest(nLength, strHost, nPort)) {
        // Closed at once: nothing will ever read it for this request.
        EndTransfer(tftp::EndReason::Quietly);
        m_szStatus =
            QString::asprintf("Error sending to host : %d", SocketErrorNumber(nError) - 1000);
        Message(m_szStatus);
        return 0;
    }
    return 1;
}

int CTransferSocket::StartFetch(const QString& strRemote, const QString& strLocal,
                                const QString& strHost, int nPort, int bOctet) {
    if (!SetupBuffers(0))
        return 0;
    m_bActive = 1;
    m_nBlock = 1;
    m_tLastActivity = CTime::GetCurrentTime();
    m_nBytes = 0;
    m_nBlocks = 0;
    m_bReported = false;
    m_nTotalSize = 0;

    int nLength = LayOutRequest(tftp::OP_RRQ, strRemote, bOctet);
    if (nLength == 0) {
        m_bActive = 0;
        return 0;
    }

    QString strPath = m_owner.InboundFolder() + strLocal;
    if (!m_owner.OverwriteWithoutAsking()) {
        if (FILE* pExisting = OpenLocalFile(strPath, tftp::kOpenModes[2])) {
            std::fclose(pExisting);
            if (Message("File already exists\n\nOverwrite it ?", MB_YESNO | MB_ICONQUESTION) !=
                IDYES) {
                m_bActive = 0;
                return 0;
            }
        }
    }
    m_pFile = OpenLocalFile(strPath, bOctet == 1 ? tftp::kOpenModes[3] : tftp::kOpenModes[1]);
    if (!m_pFile) {
        m_szStatus =
            QString::asprintf("Unable to create file : %s", strPath.toLocal8Bit().constData());
        Message(m_szStatus);
        m_bActive = 0;
        return 0;
    }
    BufferFile();
    ShowStatus("Requesting file from server ...");

    if (int nError = SendRequest(nLength, strHost, nPort)) {
        // The empty file stays; it is closed at once.
        EndTransfer(tftp::EndReason::Quietly);
        m_szStatus = QString::asprintf("Client : Error sending to host : %d",
                                       SocketErrorNumber(nError) - 1000);
        Message(m_szStatus);
        return 0;
    }
    return 1;
}

void CTransferSocket::OnSend(int) {}

bool CTransferSocket::AcceptSource(const sockaddr_in& from, bool bAnswerStranger) {
    if (!m_bPeerKnown) {
        // The server answers from a port of its own: any port of the host
        // the request went to, which from now on is the transfer's peer.
        if (from.sin_addr.s_addr == m_requestAddr.sin_addr.s_addr) {
            m_peerAddr = from;
            m_bPeerKnown = true;
            return true;
        }
    } else if (from.sin_addr.s_addr == m_peerAddr.sin_addr.s_addr &&
               from.sin_port == m_peerAddr.sin_port) {
        return true;
    }
    if (bAnswerStranger) {
        uint8_t abError[64];
        int nLength = tftp::BuildError(abError, tftp::ErrorTable::Client, tftp::ERR_UNKNOWN_TID);
        SendTo(abError, nLength, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    }
    return false;
}

void CTransferSocket::OnReceive(int nErrorCode) {
    if (!TakeDatagram(nErrorCode, 0))
        return;
    // A window's blocks come in a burst: those already waiting are taken
    // now, a bounded number of them, rather than one per turn of the event
    // loop.
    for (int i = 1; i < kBurst && m_nWindowSize > 1 && m_bActive == 1 && !m_bInMessageBox; ++i)
        if (!TakeDatagram(0, MSG_DONTWAIT))
            return;
}

bool CTransferSocket::TakeDatagram(int nErrorCode, int nFlags) {
    sockaddr_in from{};
    socklen_t nFromLength = sizeof from;
    if (nErrorCode == 0 && m_bDallying && !m_bInMessageBox) {
        AckLastBlockAgain();
        return false;
    }
    if (nErrorCode != 0 || m_bActive != 1 || m_bInMessageBox) {
        // Taken and dropped: the socket stays quiet until a datagram is read,
        // and this one belongs to no transfer that can take it now.
        uint8_t abDrop[1];
        ReceiveFrom(abDrop, sizeof abDrop, reinterpret_cast<sockaddr*>(&from), &nFromLength);
        return false;
    }
    // Until the first answer a server that ignores options may still send
    // blocks of the default size, whatever was offered.
    int nLargest = std::max(m_nBlockSize, m_bPeerKnown ? 0 : tftp::kDefaultBlockSize);
    int nCapacity = std::min(nLargest + tftp::kHeaderSize, static_cast<int>(m_pBuffer.size()));
    // An oversized datagram fails here and is ignored like a short one.
    m_nReceived = ReceiveFrom(m_pBuffer.data(), nCapacity, reinterpret_cast<sockaddr*>(&from),
                              &nFromLength, nFlags);
    if (m_nReceived < 0 && (GetLastError() == EAGAIN || GetLastError() == EWOULDBLOCK))
        return false; // nothing more waits
    if (m_nReceived < tftp::kHeaderSize)
        return true;
    bool bFirstAnswer = !m_bPeerKnown;
    unsigned nOpcode = tftp::GetWord(m_pBuffer.data());
    // A block as the first answer means the server took no option, so it
    // sends at most the default size; a longer one is no block of this
    // transfer, and its sender does not become the peer.
    if (bFirstAnswer && m_bSending != 1 && nOpcode == tftp::OP_DATA &&
        m_nReceived > tftp::kDefaultBlockSize + tftp::kHeaderSize)
        return true;
    // An ERROR is never answered, or two sockets could answer each other for ever.
    if (!AcceptSource(from, nOpcode != tftp::OP_ERROR))
        return true;
    // Options are settled by the first answer alone: a later OACK, repeated
    // or not, would change the block size in the middle of the file. Before
    // block 1 of a fetch it means that our ACK 0 was lost: that goes again.
    if (!bFirstAnswer && nOpcode == tftp::OP_OACK) {
        if (m_bSending != 1 && m_nBlock == 1)
            SendAck(0);
        return true;
    }
    m_tLastActivity = CTime::GetCurrentTime();
    if (bFirstAnswer && nOpcode == (m_bSending == 1 ? tftp::OP_ACK : tftp::OP_DATA)) {
        // No OACK: the server took no option, a window neither.
        m_nWindowSize = 1;
        m_receive.Start(1);
        if (!UseDefaultBlockSize())
            return true;
    }
    if (m_bSending == 1)
        OnAckPacket();
    else
        OnDataPacket();
    return true;
}

// After a fetch: the server repeats the last block when the last ACK was
// lost, and would otherwise count the transfer failed.
void CTransferSocket::AckLastBlockAgain() {
    sockaddr_in from{};
    socklen_t nFromLength = sizeof from;
    const int nCapacity =
        std::min(m_nBlockSize + tftp::kHeaderSize, static_cast<int>(m_pBuffer.size()));
    const int nReceived =
        ReceiveFrom(m_pBuffer.data(), nCapacity, reinterpret_cast<sockaddr*>(&from), &nFromLength);
    const uint8_t* p = m_pBuffer.data();
    if (nReceived >= tftp::kHeaderSize && from.sin_addr.s_addr == m_peerAddr.sin_addr.s_addr &&
        from.sin_port == m_peerAddr.sin_port && tftp::GetWord(p) == tftp::OP_DATA &&
        tftp::GetWord(p + 2) == (static_cast<unsigned>(m_nBlock - 1) & 0xFFFF))
        SendAck(static_cast<unsigned>(m_nBlock - 1));
}

void CTransferSocket::SendToPeer(int nLength) {
    SendTo(m_pBuffer.data(), nLength, reinterpret_cast<const sockaddr*>(&m_peerAddr),
           sizeof m_peerAddr);
}

void CTransferSocket::KeepSent(const uint8_t* pPacket, int nLength) {
    if (m_lastSent.size() < static_cast<size_t>(nLength))
        m_lastSent.resize(static_cast<size_t>(nLength));
    std::copy(pPacket, pPacket + nLength, m_lastSent.begin());
    m_nLastSent = nLength;
}

void CTransferSocket::SendLast() {
    const sockaddr_in& to = m_bPeerKnown ? m_peerAddr : m_requestAddr;
    SendTo(m_lastSent.data(), m_nLastSent, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void CTransferSocket::SendAck(unsigned nBlock) {
    uint8_t abAck[tftp::kHeaderSize];
    tftp::PutWord(abAck, tftp::OP_ACK);
    tftp::PutWord(abAck + 2, nBlock & 0xFFFF);
    KeepSent(abAck, sizeof abAck);
    SendLast();
}

void CTransferSocket::OnRetransmitDue() {
    if (m_bActive != 1)
        return;
    // Nobody could take the answer while a box is open: the wait starts over.
    if (m_bInMessageBox || CModalScope::IsOpen()) {
        m_retransmit.Postpone();
        return;
    }
    if (m_bPeerKnown && m_nWindowSize > 1) {
        // A window goes again from the first block not confirmed; a
        // receiver tells where it stands in order.
        if (m_bSending == 1) {
            if (!RewindTo(m_nAcked + 1))
                return;
            SendBlocks();
        } else {
            SendAck(static_cast<unsigned>(m_nBlock - 1));
            m_receive.Acked(static_cast<uint64_t>(m_nBlock - 1));
        }
    } else {
        SendLast();
    }
    m_retransmit.Resent();
}

long CTransferSocket::GiveUpSeconds() const {
    return m_bSendTimeout ? 6L * m_nTimeout : m_nTimeout;
}

void CTransferSocket::OnDataPacket() {
    uint8_t* p = m_pBuffer.data();
    int nOpcode = tftp::GetWord(p);
    switch (nOpcode) {
    case tftp::OP_DATA: {
        // Block numbers count on past 65535 from 0, as servers send them.
        const unsigned nNumber = tftp::GetWord(p + 2);
        if (m_nWindowSize > 1 && nNumber != (static_cast<unsigned>(m_nBlock) & 0xFFFF)) {
            BlockOutOfTurn(nNumber);
            return;
        }
        if (nNumber != (static_cast<unsigned>(m_nBlock) & 0xFFFF)) {
            // The block acknowledged last, again: that ACK was lost, and goes
            // again (the block is not written twice). Any other is passed over.
            if (m_nBlock > 1 && nNumber == (static_cast<unsigned>(m_nBlock - 1) & 0xFFFF))
                SendAck(static_cast<unsigned>(m_nBlock - 1));
            return;
        }
        m_retransmit.Answered();
        size_t nData = static_cast<size_t>(m_nReceived - tftp::kHeaderSize);
        const bool bLast = m_nReceived != m_nBlockSize + tftp::kHeaderSize;
        // Written through the buffer, which a full disk fails when it is
        // emptied; the last block is acknowledged only once all of the file
        // is out of it, so a failure is never reported done.
        if (!m_pFile || std::fwrite(p + tftp::kHeaderSize, 1, nData, m_pFile) != nData ||
            (bLast && std::fflush(m_pFile) != 0)) {
            Message("Error writing to local file");
            EndTransfer(tftp::EndReason::DiskFull);
            return;
        }
        m_nBytes += static_cast<uint32_t>(nData);
        ++m_nBlocks;
        if (bLast || ReportDue()) {
            m_szStatus = QString::asprintf("Received %lu bytes (%lu blocks)",
                                           static_cast<unsigned long>(m_nBytes),
                                           static_cast<unsigned long>(m_nBlocks));
            ShowStatus(m_szStatus);
            if (m_nTotalSize != 0)
                PostProgress(ProgressKind::Received, m_nBytes);
        }
        if (!m_receive.Took(static_cast<uint64_t>(m_nBlock), bLast)) {
            // Inside a window: the server is still sending, the wait starts over.
            ++m_nBlock;
            m_retransmit.Postpone();
            return;
        }
        SendAck(static_cast<unsigned>(m_nBlock));
        m_receive.Acked(static_cast<uint64_t>(m_nBlock));
        ++m_nBlock;
        if (!bLast) {
            m_retransmit.Sent(true);
            return;
        }
        m_szStatus = QString::asprintf("Received %lu bytes (%lu blocks) - Done",
                                       static_cast<unsigned long>(m_nBytes),
                                       static_cast<unsigned long>(m_nBlocks));
        ShowStatus(m_szStatus);
        EndTransfer(tftp::EndReason::Quietly);
        // The last ACK may be lost too: while this object lives, a repeat of
        // the last block is acknowledged again.
        m_bDallying = true;
        return;
    }
    case tftp::OP_ERROR:
        OnServerError();
        return;
    case tftp::OP_OACK:
        ApplyOptions();
        return;
    case tftp::OP_OPTION_FAILURE:
        EndTransfer(tftp::EndReason::OptionFailure);
        return;
    default:
        m_szStatus = QString::asprintf("Unknown TFTP command received %d",
                                       static_cast<int>(static_cast<int16_t>(nOpcode)));
        ShowStatus(m_szStatus);
        EndTransfer(tftp::EndReason::IllegalOperation);
        return;
    }
}

// A windowed fetch's block out of turn: the last block held in order is
// acknowledged once per gap, so that the server sends again from the first
// one missing; a block held already is not written twice.
void CTransferSocket::BlockOutOfTurn(unsigned nNumber) {
    const uint64_t nHave = static_cast<uint64_t>(m_nBlock - 1);
    uint64_t nWide = 0;
    const tftp::Arrival arrival = tftp::ClassifyBlock(nNumber, nHave, &nWide);
    if (!m_receive.AckOutOfTurn(arrival, nWide))
        return;
    SendAck(static_cast<unsigned>(nHave));
    m_receive.Acked(nHave, true);
    m_retransmit.Sent(true);
}

// ERROR from the server: its text in the status line, nothing sent back.
void CTransferSocket::OnServerError() {
    const uint8_t* p = m_pBuffer.data();
    const char* pszText = reinterpret_cast<const char*>(p + tftp::kHeaderSize);
    int nAvailable = m_nReceived - tftp::kHeaderSize;
    int n = 0;
    while (n < nAvailable && n < kMaxServerText && pszText[n] != 0)
        ++n;
    m_szStatus = kServerMessage + QString::fromLatin1(pszText, n);
    ShowStatus(m_szStatus);
    EndTransfer(tftp::EndReason::Quietly);
}

void CTransferSocket::OnAckPacket() {
    uint8_t* p = m_pBuffer.data();
    switch (tftp::GetWord(p)) {
    case tftp::OP_ACK:
        SendNextBlock(tftp::GetWord(p + 2));
        return;
    case tftp::OP_ERROR:
        OnServerError();
        return;
    case tftp::OP_OACK:
        ApplyOptions();
        return;
    case tftp::OP_OPTION_FAILURE:
        ShowStatus("Option Failure");
        EndTransfer(tftp::EndReason::OptionFailure);
        return;
    default:
        EndTransfer(tftp::EndReason::IllegalOperation);
        return;
    }
}

void CTransferSocket::ApplyOptions() {
    // The pairs are read from a copy: a new block size moves the buffer.
    QByteArray oack(reinterpret_cast<const char*>(m_pBuffer.data()), m_nReceived);
    tftp::OptionReader reader(reinterpret_cast<const uint8_t*>(oack.constData()) + 2,
                              static_cast<size_t>(oack.size() - 2));
    tftp::OptionEntry entry;
    bool bBlockSizeAcknowledged = false;
    bool bWindowAcknowledged = false;
    while (reader.Next(entry)) {
        const char* pszName = entry.name.constData();
        if (tftp::SameNoCase(pszName, tftp::kOptTsize)) {
            if (!m_bSending) {
                m_nTotalSize = static_cast<uint32_t>(entry.value);
                PostProgress(ProgressKind::Starts, m_nTotalSize);
            }
        } else if (tftp::SameNoCase(pszName, tftp::kOptBlksize)) {
            // A server may lower the block size offered, never raise it.
            if (entry.value < static_cast<unsigned long>(tftp::kMinBlockSize) ||
                entry.value > static_cast<unsigned long>(m_nAskedBlockSize)) {
                ShowStatus("Option Failure");
                EndTransfer(tftp::EndReason::OptionFailure);
                return;
            }
            bBlockSizeAcknowledged = true;
            if (static_cast<int>(entry.value) != m_nBlockSize) {
                m_nBlockSize = static_cast<int>(entry.value);
                if (!SetupAgreedBuffers())
                    return;
            }
        } else if (tftp::SameNoCase(pszName, tftp::kOptWindowsize)) {
            // As for the block size: lowered at most, never raised.
            if (entry.value == 0 || entry.value > static_cast<unsigned long>(m_nAskedWindow)) {
                ShowStatus("Option Failure");
                EndTransfer(tftp::EndReason::OptionFailure);
                return;
            }
            bWindowAcknowledged = true;
            m_nWindowSize = static_cast<int>(entry.value);
        }
        // "timeout" is passed over: the client keeps its own time-out.
    }
    if (!bWindowAcknowledged)
        m_nWindowSize = 1;
    m_receive.Start(m_nWindowSize);
    if (m_bSending != 1 && m_nWindowSize > 1)
        m_retransmit.SetSlack(2);
    if (!bBlockSizeAcknowledged && !UseDefaultBlockSize())
        return;
    if (m_bSending == 1) {
        if (m_nWindowSize > 1) {
            m_retransmit.Answered();
            SendWindow();
        } else {
            SendNextBlock(0);
        }
        return;
    }
    m_retransmit.Answered();
    SendAck(0);
    m_retransmit.Sent(true);
}

// A server that does not acknowledge "blksize" uses the default block size
// (RFC 2347); keeping the size offered would take its first full block for
// the last one.
bool CTransferSocket::UseDefaultBlockSize() {
    if (m_nBlockSize == tftp::kDefaultBlockSize)
        return true;
    m_nBlockSize = tftp::kDefaultBlockSize;
    if (!SetupAgreedBuffers())
        return false;
    PostBlockSize();
    return true;
}

void CTransferSocket::SendNextBlock(unsigned nAcked) {
    if (m_nWindowSize > 1) {
        WindowAcked(nAcked);
        return;
    }
    // Only the timer sends a block again: answering a repeated ACK as well
    // would double every block from then on (RFC 1123).
    if (nAcked != (static_cast<unsigned>(m_nBlock - 1) & 0xFFFF))
        return;
    m_retransmit.Answered();
    if (m_bLastBlock == 1) {
        EndTransfer(tftp::EndReason::Quietly);
        return;
    }
    const bool bShort = ReadBlock() != static_cast<size_t>(m_nBlockSize);
    if (bShort || ReportDue())
        ReportSent(m_nBytes);
    SendLast();
    m_retransmit.Sent();
    if (bShort)
        m_bLastBlock = 1;
    ++m_nBlock;
}

size_t CTransferSocket::ReadBlock() {
    // Built where it is kept: the packet buffer takes the next datagram.
    const size_t nPacket = static_cast<size_t>(m_nBlockSize) + tftp::kHeaderSize;
    if (m_lastSent.size() < nPacket)
        m_lastSent.resize(nPacket);
    uint8_t* p = m_lastSent.data();
    size_t nRead =
        m_pFile ? std::fread(p + tftp::kHeaderSize, 1, static_cast<size_t>(m_nBlockSize), m_pFile)
                : 0;
    m_nBytes += static_cast<uint32_t>(nRead);
    tftp::PutWord(p, tftp::OP_DATA);
    tftp::PutWord(p + 2, static_cast<unsigned>(m_nBlock) & 0xFFFF);
    m_nLastSent = static_cast<int>(nRead) + tftp::kHeaderSize;
    return nRead;
}

void CTransferSocket::ReportSent(uint32_t nBytes) {
    PostProgress(ProgressKind::Sent, nBytes);
    if (nBytes != 0 && m_nTotalSize != 0) {
        int nPercent = static_cast<int>(
            100.0 / (static_cast<double>(m_nTotalSize) / static_cast<double>(nBytes)));
        m_szStatus = QString::asprintf("Sent %lu bytes (%d%%)", static_cast<unsigned long>(nBytes),
                                       nPercent);
    } else {
        m_szStatus = QString::asprintf("Sent %lu bytes", static_cast<unsigned long>(nBytes));
    }
    ShowStatus(m_szStatus);
}

// An ACK in a windowed send: it confirms every block up to its number. A
// duplicate or a stray is never answered by itself; the timer sends again.
void CTransferSocket::WindowAcked(unsigned nAcked) {
    const uint64_t nLast = static_cast<uint64_t>(m_nBlock - 1);
    const uint64_t nConfirmed = tftp::ConfirmedBlock(nAcked, m_nAcked, nLast, m_nWindowSize);
    if (nConfirmed == 0)
        return;
    m_nAcked = nConfirmed;
    m_retransmit.Answered();
    // What the server has, not what is on its way, is what the bar shows.
    const bool bAll = m_bLastBlock == 1 && nConfirmed == nLast;
    if (bAll || ReportDue())
        ReportSent(static_cast<uint32_t>(
            std::min<uint64_t>(nConfirmed * static_cast<uint64_t>(m_nBlockSize), m_nBytes)));
    if (bAll) {
        EndTransfer(tftp::EndReason::Quietly);
        return;
    }
    // Confirmed in part: what followed was lost, and goes again from there.
    if (nConfirmed != nLast && !RewindTo(nConfirmed + 1))
        return;
    SendWindow();
}

void CTransferSocket::SendWindow() {
    SendBlocks();
    if (m_bActive == 1)
        m_retransmit.Sent();
}

void CTransferSocket::SendBlocks() {
    while (m_bLastBlock != 1 &&
           static_cast<uint64_t>(m_nBlock) - m_nAcked <= static_cast<uint64_t>(m_nWindowSize)) {
        if (ReadBlock() != static_cast<size_t>(m_nBlockSize))
            m_bLastBlock = 1;
        SendLast();
        ++m_nBlock;
    }
}

bool CTransferSocket::RewindTo(uint64_t nBlock) {
    const uint64_t nOffset = (nBlock - 1) * static_cast<uint64_t>(m_nBlockSize);
    if (!m_pFile || ::fseeko(m_pFile, static_cast<off_t>(nOffset), SEEK_SET) != 0) {
        ShowStatus("Error reading local file");
        EndTransfer(tftp::EndReason::LocalFailure);
        return false;
    }
    m_nBytes = static_cast<uint32_t>(nOffset);
    m_nBlock = static_cast<int>(nBlock);
    m_bLastBlock = 0;
    return true;
}

bool CTransferSocket::ReportDue() {
    const unsigned long long nNow = GetTickCount();
    if (m_bReported && nNow - m_nReportTick < kReportEveryMs)
        return false;
    m_bReported = true;
    m_nReportTick = nNow;
    return true;
}

void CTransferSocket::BufferFile() {
    if (m_fileBuffer.empty())
        m_fileBuffer.resize(kFileBuffer);
    std::setvbuf(m_pFile, m_fileBuffer.data(), _IOFBF, m_fileBuffer.size());
}

void CTransferSocket::EndTransfer(tftp::EndReason reason) {
    if (m_bActive && reason != tftp::EndReason::Quietly) {
        int nLength =
            tftp::BuildError(m_pBuffer.data(), tftp::ErrorTable::Client, static_cast<int>(reason));
        SendToPeer(nLength);
    }
    m_retransmit.Stop();
    if (m_pFile) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
    m_bActive = 0;
}

void CTransferSocket::CheckTimeout() {
    // Nobody can answer the server while a modal window is open, this
    // transfer's message boxes included; the time-out counts again from when
    // it closes.
    if (m_bActive != 1 || CModalScope::IsOpen())
        return;
    time_t tNow = CTime::GetCurrentTime().GetTime();
    time_t tFrom = m_tLastActivity.GetTime();
    time_t tClosed = CModalScope::LastClosed().GetTime();
    // A close "after now" means the clock was set back since; it is passed over.
    if (tClosed > tFrom && tClosed <= tNow)
        tFrom = tClosed;
    if (tNow - GiveUpSeconds() > tFrom) {
        ShowStatus("Timed out");
        EndTransfer(tftp::EndReason::Quietly);
    }
}

void CTransferSocket::Abort() {
    if (m_bActive)
        EndTransfer(tftp::EndReason::Quietly);
}
