#include "ClientSession.h"

#include "Clock.h"
#include "MessageBox.h"
#include "Tftp.h"
#include "WharfCore.h"

#include <sys/stat.h>

#include <QFile>
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

using namespace tftp;

namespace {
// Room for the request copy and for an OACK with all three entries, however
// small the block size.
constexpr int kMinBuffer = 128;
constexpr int kOptionScanLimit = 90;

int BufferSizeFor(int nBlockSize) {
    return std::max(nBlockSize + kBufferSlack, kMinBuffer);
}

// A text field of the request: up to its NUL or the end of the 100 bytes.
QByteArray Field(const uint8_t* pRequest, int& nPos) {
    int nStart = nPos;
    while (nPos < CClientSession::kRequestSize && pRequest[nPos] != 0)
        ++nPos;
    QByteArray text(reinterpret_cast<const char*>(pRequest + nStart), nPos - nStart);
    if (nPos < CClientSession::kRequestSize)
        ++nPos; // the NUL
    return text;
}
} // namespace

bool LeavesDirectory(const QByteArray& name) {
    if (name.startsWith('/') || name.startsWith('\\'))
        return true;
    QByteArray normalised = name;
    normalised.replace('\\', '/');
    const QList<QByteArray> parts = normalised.split('/');
    return std::any_of(parts.begin(), parts.end(), [](const QByteArray& p) { return p == ".."; });
}

CClientSession::CClientSession() : m_pBuffer(BufferSizeFor(kDefaultBlockSize), 0) {}

CClientSession::~CClientSession() {
    m_bActive = 0;
    CloseFile();
    Close();
}

void CClientSession::Attach(int nSlot, const sockaddr_in& peer, const QString& strLocalAddress,
                            const uint8_t* pRequest, int nRequestSize) {
    m_nSlot = nSlot;
    m_peerAddr = peer;
    m_strLocalAddress = strLocalAddress;
    int n = std::min(nRequestSize, kRequestSize);
    std::memcpy(m_abRequest, pRequest, static_cast<size_t>(n));
    std::copy(pRequest, pRequest + n, m_pBuffer.begin());
}

void CClientSession::CloseFile() {
    if (m_pFile) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
}

bool CClientSession::ResizeBuffer(int nSize) {
    try {
        m_pBuffer.resize(static_cast<size_t>(std::max(nSize, kMinBuffer)));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CClientSession::ParseRequest() {
    CWharfCore* pCore = GetWharfCore();
    m_nOpcode = GetWord(m_abRequest);
    const bool bRead = m_nOpcode == OP_RRQ;
    const QString& strDirectory = bRead ? pCore->m_strOutPath : pCore->m_strInPath;

    if (!Create(0, SOCK_DGRAM, 0, m_strLocalAddress.toLatin1().constData())) {
        m_bActive = 0;
        return;
    }
    if (!AsyncSelect(FD_READ))
        AfxMessageBox("Error preparing local client function", MB_OK);
    m_tLastActivity = CTime::GetCurrentTime().GetTime();

    int nPos = 2;
    const QByteArray name = Field(m_abRequest, nPos);
    const bool bForced = bRead && pCore->m_bForce == 1;
    m_strPath = QFile::encodeName(strDirectory) +
                (bForced ? QFile::encodeName(pCore->m_strForceFile) : name);

    const QByteArray mode = Field(m_abRequest, nPos);
    int nOpenMode = 0;
    if (SameNoCase(mode.constData(), kModeNetascii)) {
        m_bNetascii = 1;
        nOpenMode = m_nOpcode - 1;
    } else if (SameNoCase(mode.constData(), kModeOctet)) {
        m_bNetascii = 0;
        nOpenMode = m_nOpcode + 1;
    } else {
        SendError(4);
        return;
    }

    bool bAcknowledge = false, bTsize = false, bTimeout = false, bBlksize = false;
    int nCounter = nOpenMode;
    while (nPos < kRequestSize && m_abRequest[nPos] != 0 && nCounter < kOptionScanLimit) {
        const QByteArray option = Field(m_abRequest, nPos);
        nCounter += static_cast<int>(option.size());
        unsigned long nValue = 0;
        while (nPos < kRequestSize && m_abRequest[nPos] >= '0' && m_abRequest[nPos] <= '9') {
            unsigned nDigit = static_cast<unsigned>(m_abRequest[nPos] - '0');
            nValue = std::min<unsigned long>(nValue * 10 + nDigit, INT_MAX);
            ++nPos;
            ++nCounter;
        }
        if (SameNoCase(option.constData(), kOptTsize)) {
            if (pCore->m_bAllowTsize) {
                bTsize = true;
                bAcknowledge = true;
            }
        } else if (SameNoCase(option.constData(), kOptTimeout)) {
            m_nTimeout = static_cast<int>(nValue);
            if (pCore->m_bAllowTimeout) {
                bTimeout = true;
                bAcknowledge = true;
            }
        } else if (SameNoCase(option.constData(), kOptBlksize)) {
            // Block sizes outside 8..65464 (RFC 2348) are not negotiable:
            // too small is ignored, too large is answered with the largest.
            if (nValue >= static_cast<unsigned long>(kMinBlockSize)) {
                int nWanted = static_cast<int>(std::min<unsigned long>(nValue, kMaxBlockSize));
                if (nWanted != m_nBlockSize) {
                    m_nBlockSize = nWanted;
                    if (!SetBlockSize(bRead))
                        return;
                }
                bBlksize = true;
                bAcknowledge = true;
            }
        }
        if (nPos < kRequestSize)
            ++nPos; // the NUL after the value
    }

    if (!bForced && LeavesDirectory(name)) {
        SendError(2);
        return;
    }
    m_pFile = std::fopen(m_strPath.constData(), kOpenModes[nOpenMode]);
    if (m_pFile && bRead) {
        // Only plain files are served; a folder or a device reads as not found.
        struct stat info {};
        if (fstat(fileno(m_pFile), &info) != 0 || !S_ISREG(info.st_mode))
            CloseFile();
        else
            m_nTotal = static_cast<uint64_t>(info.st_size);
    }
    if (!m_pFile) {
        SendError(m_nOpcode);
        return;
    }

    pCore->m_strReportText = QFile::decodeName(m_strPath);
    pCore->m_bReportBinary = m_bNetascii == 0 ? 1 : 0;
    pCore->m_bReportSending = bRead ? 1 : 0;
    pCore->NotifyView(2, m_nSlot + 1);

    auto buildOack = [&](bool bWithTsize) {
        PutWord(m_pBuffer.data(), OP_OACK);
        int nLength = 2;
        if (bWithTsize)
            nLength +=
                WriteOption(m_pBuffer.data() + nLength, kOptTsize, static_cast<long>(m_nTotal));
        if (bTimeout)
            nLength += WriteOption(m_pBuffer.data() + nLength, kOptTimeout, m_nTimeout);
        if (bBlksize)
            nLength += WriteOption(m_pBuffer.data() + nLength, kOptBlksize, m_nBlockSize);
        return nLength;
    };

    if (!bRead) {
        m_nBlock = 0;
        m_nTotal = 0;
        if (bAcknowledge && (bTimeout || bBlksize)) {
            SendPacket(buildOack(false));
        } else {
            PutWord(m_pBuffer.data(), OP_ACK);
            PutWord(m_pBuffer.data() + 2, 0);
            SendPacket(4);
        }
        return;
    }
    m_nBlock = 1;
    m_nSent = 0;
    if (bAcknowledge) {
        int nLength = buildOack(bTsize);
        m_oack = QByteArray(reinterpret_cast<const char*>(m_pBuffer.data()), nLength);
        m_bOackPending = true;
        SendPacket(nLength);
    } else {
        SendNextBlock();
    }
}

bool CClientSession::SetBlockSize(bool bSending) {
    int nSize = m_nBlockSize + kBufferSlack;
    if (!ResizeBuffer(nSize)) {
        AfxMessageBox("Unable to allocate buffers for transfer", MB_OK);
        SendError(7);
        return false;
    }
    const int nOption = bSending ? SO_SNDBUF : SO_RCVBUF;
    if (!SetSockOpt(nOption, &nSize, sizeof nSize)) {
        SendError(7);
        return false;
    }
    int nGranted = 0;
    socklen_t nLength = sizeof nGranted;
    if (!GetSockOpt(nOption, &nGranted, &nLength)) {
        SendError(7);
        return false;
    }
    // Only a grant smaller than asked lowers the block size.
    if (nGranted >= nSize)
        return true;
    if (nGranted - kBufferSlack < kMinBlockSize) {
        SendError(7);
        return false;
    }
    m_nBlockSize = nGranted - kBufferSlack;
    if (!ResizeBuffer(nGranted)) {
        AfxMessageBox("Unable to allocate buffers for transfer", MB_OK);
        SendError(7);
        return false;
    }
    return true;
}

bool CClientSession::IsFromPeer(const sockaddr_in& from) const {
    return from.sin_addr.s_addr == m_peerAddr.sin_addr.s_addr &&
           from.sin_port == m_peerAddr.sin_port;
}

void CClientSession::OnReceive(int nErrorCode) {
    if (nErrorCode != 0)
        return;
    sockaddr_in from{};
    socklen_t nFromLength = sizeof from;
    m_nReceived = ReceiveFrom(m_pBuffer.data(), m_nBlockSize + kHeaderSize,
                              reinterpret_cast<sockaddr*>(&from), &nFromLength);
    if (from.sin_family == AF_INET && !IsFromPeer(from)) {
        // Another source is not our client: tell it, and change nothing.
        if (m_nReceived >= 0) {
            uint8_t abError[64];
            int nLength = BuildError(abError, ErrorTable::Server, 5);
            SendTo(abError, nLength, reinterpret_cast<const sockaddr*>(&from), sizeof from);
        }
        return;
    }
    m_tLastActivity = CTime::GetCurrentTime().GetTime();
    if (m_nReceived < 4 || !m_bActive)
        return;
    if (m_nOpcode == OP_RRQ)
        HandleAck();
    else
        HandleData();
}

void CClientSession::HandleAck() {
    const unsigned nOpcode = GetWord(m_pBuffer.data());
    if (nOpcode == OP_ERROR) {
        SendError(4);
        return;
    }
    if (nOpcode != OP_ACK)
        return;
    const unsigned nAcked = GetWord(m_pBuffer.data() + 2);
    if (m_bOackPending) {
        // Only ACK 0 answers the OACK; block 1 then goes out.
        if (nAcked != 0)
            return;
        m_bOackPending = false;
        m_oack.clear();
    } else {
        // Matched against the number the last block went out with, so a
        // stale ACK 0 never rewinds the transfer.
        if (nAcked != (static_cast<unsigned>(m_nBlock) & 0xFFFF))
            return;
        ++m_nBlock;
    }
    if (m_bLastBlock) {
        m_bActive = 0;
    } else {
        SendNextBlock();
        if (!m_bActive)
            return;
    }
    ReportProgress();
}

void CClientSession::ReportProgress() {
    CWharfCore* pCore = GetWharfCore();
    if (m_nTotal != 0 && m_nSent != 0)
        pCore->m_strReportText = QString::asprintf(
            "%d", static_cast<int>(100.0 / (static_cast<double>(m_nTotal) / m_nSent)));
    else
        pCore->m_strReportText = "?";
    pCore->m_strReportCount = QString::asprintf("%lu/%lu", static_cast<unsigned long>(m_nTotal),
                                                static_cast<unsigned long>(m_nSent));
    pCore->NotifyView(3, m_nSlot + 1);
}

void CClientSession::SendNextBlock() {
    uint64_t nLength = std::min<uint64_t>(m_nTotal - std::min(m_nSent, m_nTotal),
                                          static_cast<uint64_t>(m_nBlockSize));
    size_t n = std::fread(m_pBuffer.data() + kHeaderSize, 1, static_cast<size_t>(nLength), m_pFile);
    if (std::ferror(m_pFile)) {
        // A short block would end the client's copy early and look complete.
        SendError(0);
        return;
    }
    m_nLastRead = static_cast<int>(n);
    PutWord(m_pBuffer.data(), OP_DATA);
    PutWord(m_pBuffer.data() + 2, static_cast<unsigned>(m_nBlock) & 0xFFFF);
    SendPacket(kHeaderSize + static_cast<int>(n));
    if (static_cast<int>(n) < m_nBlockSize) {
        m_bLastBlock = 1;
        if (m_bNetascii)
            m_nTotal = m_nSent + n;
    }
    m_nSent += n;
}

void CClientSession::HandleData() {
    CWharfCore* pCore = GetWharfCore();
    const unsigned nOpcode = GetWord(m_pBuffer.data());
    if (nOpcode == OP_ERROR) {
        SendError(4);
        return;
    }
    if (nOpcode != OP_DATA || GetWord(m_pBuffer.data() + 2) != static_cast<unsigned>(m_nBlock) + 1)
        return;
    const size_t nData = static_cast<size_t>(m_nReceived - kHeaderSize);
    const bool bLast = m_nReceived < m_nBlockSize + kHeaderSize;
    size_t nWritten = std::fwrite(m_pBuffer.data() + kHeaderSize, 1, nData, m_pFile);
    // The last block is acknowledged only once the whole file is on disk.
    if (nWritten < nData || (bLast && std::fflush(m_pFile) != 0)) {
        SendError(3);
        return;
    }
    m_nTotal += nWritten;
    pCore->m_strReportText = "?";
    pCore->m_strReportCount = QString::asprintf("%lu", static_cast<unsigned long>(m_nTotal));
    pCore->NotifyView(3, m_nSlot + 1);

    ++m_nBlock;
    PutWord(m_pBuffer.data(), OP_ACK);
    PutWord(m_pBuffer.data() + 2, static_cast<unsigned>(m_nBlock) & 0xFFFF);
    SendPacket(4);
    if (bLast) {
        CloseFile();
        m_bActive = 0;
    }
}

void CClientSession::SendPacket(int nLength) {
    SendTo(m_pBuffer.data(), nLength, reinterpret_cast<const sockaddr*>(&m_peerAddr),
           sizeof m_peerAddr);
}

void CClientSession::SendError(int nCode) {
    CloseFile();
    int nLength = BuildError(m_pBuffer.data(), ErrorTable::Server, nCode);
    SendPacket(nLength);
    m_bActive = 0;
}

bool CClientSession::ResendBlock() {
    if (m_nOpcode != OP_RRQ)
        return false;
    if (m_bOackPending) {
        // Nothing read yet: the OACK is what the client is missing.
        std::copy(m_oack.begin(), m_oack.end(), m_pBuffer.begin());
        SendPacket(static_cast<int>(m_oack.size()));
        return true;
    }
    if (!m_pFile || std::fseek(m_pFile, -static_cast<long>(m_nLastRead), SEEK_CUR) != 0)
        return false;
    m_nSent -= static_cast<uint64_t>(m_nLastRead);
    SendNextBlock();
    return m_bActive != 0;
}
