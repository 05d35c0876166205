#include "ClientSession.h"

#include "Clock.h"
#include "MessageBox.h"
#include "Tftp.h"
#include "WharfCore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

using namespace tftp;

namespace {
// Room for the request copy, for an OACK with all three entries and for any
// datagram of the default size, however small the block size: a short ERROR
// from the client must never count as oversized.
constexpr int kMinBuffer = kDefaultBlockSize + kBufferSlack;
// The option scan stops this far before the end of the request buffer.
constexpr int kOptionScanLimit = CClientSession::kRequestSize - 10;
// The client's time-out option is honoured only within RFC 2349's range.
constexpr unsigned long kMinOptionTimeout = 1;
constexpr unsigned long kMaxOptionTimeout = 255;
// A datagram showing that our last packet was lost counts once that packet
// has been out this long; sooner, it is only a late duplicate.
constexpr unsigned long long kRepeatAfterMs = 1000;

int BufferSizeFor(int nBlockSize) {
    return std::max(nBlockSize + kBufferSlack, kMinBuffer);
}

} // namespace

// A text field of the request: up to its NUL or the end of the request buffer.
QByteArray RequestField(const uint8_t* pRequest, int& nPos) {
    int nStart = nPos;
    while (nPos < CClientSession::kRequestSize && pRequest[nPos] != 0)
        ++nPos;
    QByteArray text(reinterpret_cast<const char*>(pRequest + nStart), nPos - nStart);
    if (nPos < CClientSession::kRequestSize)
        ++nPos; // the NUL
    return text;
}

bool LeavesDirectory(const QByteArray& name) {
    if (name.startsWith('/') || name.startsWith('\\'))
        return true;
    QByteArray normalised = name;
    normalised.replace('\\', '/');
    const QList<QByteArray> parts = normalised.split('/');
    return std::any_of(parts.begin(), parts.end(), [](const QByteArray& p) { return p == ".."; });
}

QByteArray FolderName(QByteArray name) {
    name.replace('\\', '/');
    qsizetype nLeading = 0;
    while (nLeading < name.size() && name[nLeading] == '/')
        ++nLeading;
    return name.mid(nLeading);
}

namespace {
// Counts ends, so that the slot of the session that ended first is the
// first taken by a new request.
uint64_t g_nEnds = 0;

// The path with every link and "." resolved, or empty when some part of it
// does not exist.
QByteArray ResolvedPath(const QByteArray& path) {
    char* pResolved = ::realpath(path.isEmpty() ? "." : path.constData(), nullptr);
    if (!pResolved)
        return {};
    QByteArray resolved(pResolved);
    std::free(pResolved);
    return resolved;
}

bool LiesInside(const QByteArray& resolved, const QByteArray& root) {
    if (resolved == root)
        return true;
    return resolved.startsWith(root.endsWith('/') ? root : root + '/');
}

// Where a file to be created in the resolved folder would land: links in
// its place are followed by hand, since the file they lead to may not exist
// yet. Empty when the way is broken or goes round in circles.
QByteArray FollowLinks(QByteArray folder, QByteArray base) {
    for (int nHops = 0; nHops <= 16; ++nHops) {
        if (base.isEmpty() || base == "." || base == "..")
            return {};
        const QByteArray path = (folder.endsWith('/') ? folder : folder + '/') + base;
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        QByteArray link(PATH_MAX, '\0');
        const ssize_t n =
            ::readlink(path.constData(), link.data(), static_cast<size_t>(link.size()));
        if (n <= 0 || n >= link.size())
            return {};
        link.truncate(n);
        if (!link.startsWith('/'))
            link = (folder.endsWith('/') ? folder : folder + '/') + link;
        const qsizetype nSlash = link.lastIndexOf('/');
        folder = ResolvedPath(link.left(nSlash + 1));
        base = link.mid(nSlash + 1);
        if (folder.isEmpty())
            return {};
    }
    return {};
}

// Opens without waiting for a FIFO's other end; a regular file is then made
// blocking again for plain reads and writes.
int OpenNonBlocking(const QByteArray& path, int nFlags) {
    return ::open(path.constData(), nFlags | O_NONBLOCK | O_CLOEXEC, 0666);
}
} // namespace

CClientSession::CClientSession(CWharfCore& core)
    : m_core(core), m_pBuffer(BufferSizeFor(kDefaultBlockSize), 0) {}

CClientSession::~CClientSession() {
    End("the server shut down");
    CloseFile();
    Close();
}

void CClientSession::Attach(CSessionOwner* pOwner, int nSlot, const sockaddr_in& peer,
                            const QString& strLocalAddress, const uint8_t* pRequest,
                            int nRequestSize) {
    m_pOwner = pOwner;
    m_nSlot = nSlot;
    m_peerAddr = peer;
    m_strLocalAddress = strLocalAddress;
    m_nRequestTick = GetTickCount();
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

void CClientSession::End(const QString& strResult) {
    if (!IsActive())
        return;
    m_retransmit.Stop();
    CloseFile();
    m_ePhase = strResult == QLatin1String(CWharfCore::kTransferComplete) ? Phase::Completed
                                                                         : Phase::Failed;
    m_nEndOrder = ++g_nEnds;
    ReportEnd(strResult);
}

void CClientSession::ReportEnd(const QString& strResult) {
    if (m_bEndReported)
        return;
    m_bEndReported = true;
    CWharfCore::TransferEnd end;
    end.client = m_peerAddr;
    end.bRead = m_nOpcode == OP_RRQ;
    end.path = m_strPath;
    // What the client has: for a read the blocks it acknowledged, for a
    // store the blocks written.
    end.nBytes = end.bRead ? m_nAckedBytes : m_nTotal;
    end.nBlocks = end.bRead ? m_nAckedBlocks : static_cast<uint64_t>(std::max(m_nBlock, 0));
    end.strResult = strResult;
    m_core.ReportTransferEnd(end);
}

QString CClientSession::PeerErrorText() const {
    const unsigned nCode = m_nReceived >= 4 ? GetWord(m_pBuffer.data() + 2) : 0;
    QByteArray text;
    if (m_nReceived > 4) {
        const char* p = reinterpret_cast<const char*>(m_pBuffer.data() + 4);
        text = QByteArray(p, static_cast<int>(qstrnlen(p, static_cast<size_t>(m_nReceived - 4))))
                   .left(kShownErrorText);
    }
    return QString("the client sent ERROR %1 \"%2\"").arg(nCode).arg(CWharfCore::Printable(text));
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
    m_nOpcode = GetWord(m_abRequest);
    if (!OpenSocket())
        return;
    const std::optional<RequestedFile> file = ReadRequest();
    if (!file)
        return;
    Granted granted;
    if (!ChooseOptions(file->nOptions, granted))
        return;
    // Never wait longer than the client asked, but sooner when the link allows.
    if (m_nTimeout != 0)
        m_retransmit.SetCapMs(static_cast<unsigned>(m_nTimeout) * 1000);
    if (!OpenRequestedFile(*file))
        return;
    ReportStart();
    SendFirstAnswer(granted);
}

bool CClientSession::OpenSocket() {
    const QByteArray address = m_strLocalAddress.toLatin1();
    const CWharfCore::PortRange range = m_core.m_dataPorts;
    if (range.Any() ? !Create(0, SOCK_DGRAM, 0, address.constData())
                    : !CreateInRange(range, address.constData())) {
        if (!range.Any() && GetLastError() == EADDRINUSE)
            RefuseForPorts(range);
        else
            End("no socket could be opened for the transfer");
        return false;
    }
    if (!AsyncSelect(FD_READ)) {
        // Deaf to the client, the session can only end. It ends before the
        // message: the message's own event loop may run a sweep that deletes
        // this session, so nothing of it is touched afterwards.
        End("Error preparing local client function");
        AfxMessageBox("Error preparing local client function", MB_OK);
        return false;
    }
    m_tLastActivity = CTime::GetCurrentTime().GetTime();
    return true;
}

bool CClientSession::CreateInRange(const CWharfCore::PortRange& range, const char* pszAddress) {
    const unsigned nCount = range.nLast - range.nFirst + 1;
    do {
        for (unsigned i = 0; i < nCount; ++i) {
            const unsigned nPort = range.nFirst + m_core.m_nNextDataPort++ % nCount;
            if (Create(nPort, SOCK_DGRAM, 0, pszAddress))
                return true;
            if (GetLastError() != EADDRINUSE)
                return false;
        }
        // Ended transfers keep their ports until the sweep, and a finished
        // store a while longer for the client's late repeats; a new
        // transfer needs the port more.
    } while (m_pOwner && m_pOwner->FreeEndedTransfer());
    errno = EADDRINUSE;
    return false;
}

// With no port of the range free there is no socket of our own to answer
// from: the listening port tells the client, as for its other refusals.
void CClientSession::RefuseForPorts(const CWharfCore::PortRange& range) {
    const QString strText =
        QString("No data port is free in %1-%2").arg(range.nFirst).arg(range.nLast);
    m_core.Slots().TransferDetails(m_nSlot + 1, strText, false, m_nOpcode == OP_RRQ);
    if (m_pOwner)
        m_pOwner->RefuseRequest(m_peerAddr, strText.toLatin1());
    int nPos = 2;
    m_strPath = RequestField(m_abRequest, nPos);
    End(strText);
}

std::optional<CClientSession::RequestedFile> CClientSession::ReadRequest() {
    const CWharfCore* pCore = &m_core;
    const bool bRead = m_nOpcode == OP_RRQ;
    int nPos = 2;
    RequestedFile file;
    file.name = FolderName(RequestField(m_abRequest, nPos));
    file.bForced = bRead && pCore->m_bForce == 1;
    file.directory = QFile::encodeName(bRead ? pCore->m_strOutPath : pCore->m_strInPath);
    m_strPath =
        file.directory + (file.bForced ? QFile::encodeName(pCore->m_strForceFile) : file.name);

    const QByteArray mode = RequestField(m_abRequest, nPos);
    if (SameNoCase(mode.constData(), kModeNetascii)) {
        m_bNetascii = 1;
        file.nOpenMode = m_nOpcode - 1;
    } else if (SameNoCase(mode.constData(), kModeOctet)) {
        m_bNetascii = 0;
        file.nOpenMode = m_nOpcode + 1;
    } else {
        SendError(ERR_ILLEGAL_OPERATION);
        return std::nullopt;
    }
    file.nOptions = nPos;
    return file;
}

// Reads the request's options from nPos and settles what is granted; false
// when the session has ended (a block size that cannot be set up).
bool CClientSession::ChooseOptions(int nPos, Granted& granted) {
    const CWharfCore* pCore = &m_core;
    const bool bRead = m_nOpcode == OP_RRQ;
    // Fields end at the end of the request buffer, whose tail is zeros.
    OptionReader reader(m_abRequest + nPos, static_cast<size_t>(kRequestSize - nPos));
    OptionEntry option;
    int nWindowAsked = 0;
    while (reader.Next(option)) {
        const char* pszName = option.name.constData();
        const unsigned long nValue = option.value;
        if (SameNoCase(pszName, kOptTsize)) {
            if (pCore->m_bAllowTsize)
                granted.bTsize = true;
        } else if (SameNoCase(pszName, kOptTimeout)) {
            // Outside 1 to 255 seconds the option counts as absent: a huge
            // value would let a silent client hold its slot for hours.
            if (nValue >= kMinOptionTimeout && nValue <= kMaxOptionTimeout) {
                m_nTimeout = static_cast<int>(nValue);
                if (pCore->m_bAllowTimeout)
                    granted.bTimeout = true;
            }
        } else if (SameNoCase(pszName, kOptBlksize)) {
            // Block sizes outside 8..65464 (RFC 2348) are not negotiable:
            // too small is ignored, too large is answered with the largest.
            if (nValue >= static_cast<unsigned long>(kMinBlockSize)) {
                int nWanted = static_cast<int>(std::min<unsigned long>(nValue, kMaxBlockSize));
                if (nWanted != m_nBlockSize) {
                    m_nBlockSize = nWanted;
                    if (!SetBlockSize(bRead))
                        return false;
                }
                granted.bBlksize = true;
            }
        } else if (SameNoCase(pszName, kOptWindowsize)) {
            // An unreadable window is ignored like any malformed option.
            if (int nWindow = WindowSizeValue(nValue))
                nWindowAsked = nWindow;
        }
    }
    // A maximum of 1 keeps every transfer lock-step: the option is never
    // acknowledged. The socket buffer must hold a whole window of blocks.
    if (nWindowAsked != 0 && pCore->m_nMaxWindow > 1) {
        const int nWanted = std::min(nWindowAsked, pCore->m_nMaxWindow);
        m_nWindow = FitWindow(*this, bRead ? SO_SNDBUF : SO_RCVBUF, nWanted, m_nBlockSize);
        if (m_nWindow == 0) {
            SendError(ERR_OPTION_FAILURE);
            return false;
        }
        granted.bWindow = true;
    }
    return true;
}

bool CClientSession::OpenRequestedFile(const RequestedFile& file) {
    if (!file.bForced && LeavesDirectory(file.name)) {
        SendError(ERR_ACCESS_VIOLATION);
        return false;
    }
    if (const std::optional<ErrorCode> error =
            OpenLocalFile(m_nOpcode == OP_RRQ, file.directory, file.bForced, file.nOpenMode)) {
        SendError(*error);
        return false;
    }
    return true;
}

void CClientSession::ReportStart() {
    m_core.Slots().TransferDetails(m_nSlot + 1, QFile::decodeName(m_strPath), m_bNetascii == 0,
                                   m_nOpcode == OP_RRQ);
}

// The OACK's entries always stand in this order, whatever the request's.
int CClientSession::BuildOack(const Granted& granted, bool bWithTsize) {
    uint8_t* p = m_pBuffer.data();
    PutWord(p, OP_OACK);
    int nLength = 2;
    if (bWithTsize)
        nLength += WriteOption(p + nLength, kOptTsize, static_cast<long>(m_nTotal));
    if (granted.bTimeout)
        nLength += WriteOption(p + nLength, kOptTimeout, m_nTimeout);
    if (granted.bBlksize)
        nLength += WriteOption(p + nLength, kOptBlksize, m_nBlockSize);
    if (granted.bWindow)
        nLength += WriteOption(p + nLength, kOptWindowsize, m_nWindow);
    return nLength;
}

void CClientSession::SendFirstAnswer(const Granted& granted) {
    m_receive.Start(m_nWindow);
    if (m_nOpcode == OP_WRQ && m_nWindow > 1)
        m_retransmit.SetSlack(2);
    if (m_nOpcode == OP_WRQ) {
        m_nBlock = 0;
        m_nTotal = 0;
        // A store's tsize is never acknowledged: alone, it gets ACK 0.
        if (granted.bTimeout || granted.bBlksize || granted.bWindow) {
            SendFirstAnswer(BuildOack(granted, false));
        } else {
            PutWord(m_pBuffer.data(), OP_ACK);
            PutWord(m_pBuffer.data() + 2, 0);
            SendFirstAnswer(4);
        }
        return;
    }
    m_nBlock = 1;
    m_nSent = 0;
    if (granted.Any())
        SendFirstAnswer(BuildOack(granted, granted.bTsize));
    else
        SendWindow();
}

// Opens m_strPath for the request; the error code to send when it cannot be.
// Only regular files are served and stored, opened without ever waiting (a
// FIFO would block the one thread), and a path that resolves outside its
// folder through a link is refused unless the administrator named it.
std::optional<ErrorCode> CClientSession::OpenLocalFile(bool bRead, const QByteArray& directory,
                                                       bool bExempt, int nOpenMode) {
    const ErrorCode nRefused = bRead ? ERR_FILE_NOT_FOUND : ERR_ACCESS_VIOLATION;
    QByteArray target = m_strPath;
    int nFlags = bRead ? O_RDONLY : O_WRONLY | O_CREAT;
    if (!bExempt) {
        const QByteArray root = ResolvedPath(directory);
        if (root.isEmpty())
            return nRefused;
        if (bRead) {
            target = ResolvedPath(m_strPath);
            if (target.isEmpty())
                return ERR_FILE_NOT_FOUND;
        } else {
            // The file may not exist yet: resolve its folder, then a link in
            // its place, if there is one.
            const qsizetype nSlash = m_strPath.lastIndexOf('/');
            const QByteArray base = nSlash < 0 ? m_strPath : m_strPath.mid(nSlash + 1);
            const QByteArray folder =
                ResolvedPath(nSlash < 0 ? QByteArray() : m_strPath.left(nSlash + 1));
            if (folder.isEmpty() || !LiesInside(folder, root))
                return ERR_ACCESS_VIOLATION;
            target = FollowLinks(folder, base);
            if (target.isEmpty())
                return ERR_ACCESS_VIOLATION;
        }
        if (!LiesInside(target, root))
            return ERR_ACCESS_VIOLATION;
        // Resolved already: a link put in its place meanwhile is not followed.
        nFlags |= O_NOFOLLOW;
    }

    const int fd = OpenNonBlocking(target, nFlags);
    if (fd < 0)
        return nRefused;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nRefused;
    }
    // A file being stored is nobody else's; a file being read may be read by
    // others but not stored over. Names and links that alias it count alike.
    if (m_pOwner && m_pOwner->FileInUse(info.st_dev, info.st_ino, !bRead, this)) {
        ::close(fd);
        return ERR_ACCESS_VIOLATION;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_pFile = ::fdopen(fd, kOpenModes[nOpenMode]);
    if (!m_pFile) {
        ::close(fd);
        return nRefused;
    }
    m_device = info.st_dev;
    m_inode = info.st_ino;
    if (bRead)
        m_nTotal = static_cast<uint64_t>(info.st_size);
    // A stored file is emptied only when its first block arrives, so a
    // request repeated after the store ended cannot wipe what was stored.
    return std::nullopt;
}

void CClientSession::SendFirstAnswer(int nLength) {
    m_firstAnswer = QByteArray(reinterpret_cast<const char*>(m_pBuffer.data()), nLength);
    SendPacket(nLength);
    // A store's first answer waits for the client's block, as its ACKs do.
    m_retransmit.Sent(m_nOpcode == OP_WRQ);
}

bool CClientSession::SetBlockSize(bool bSending) {
    int nSize = m_nBlockSize + kBufferSlack;
    if (!ResizeBuffer(nSize)) {
        // Ended before the message, whose event loop may delete this session.
        SendError(ERR_OPTION_FAILURE);
        AfxMessageBox("Unable to allocate buffers for transfer", MB_OK);
        return false;
    }
    // A socket buffer is only ever raised: the system's default is usually
    // far larger than one block, and a buffer cut to one datagram loses the
    // real block whenever a duplicate or a stray datagram arrives first.
    const int nGranted = RaiseSocketBuffer(*this, bSending ? SO_SNDBUF : SO_RCVBUF, nSize);
    if (nGranted < 0) {
        SendError(ERR_OPTION_FAILURE);
        return false;
    }
    // Only a grant smaller than asked lowers the block size.
    if (nGranted >= nSize)
        return true;
    if (nGranted - kBufferSlack < kMinBlockSize) {
        SendError(ERR_OPTION_FAILURE);
        return false;
    }
    m_nBlockSize = nGranted - kBufferSlack;
    if (!ResizeBuffer(nGranted)) {
        SendError(ERR_OPTION_FAILURE);
        AfxMessageBox("Unable to allocate buffers for transfer", MB_OK);
        return false;
    }
    return true;
}

bool CClientSession::IsFromPeer(const sockaddr_in& from) const {
    return from.sin_addr.s_addr == m_peerAddr.sin_addr.s_addr &&
           from.sin_port == m_peerAddr.sin_port;
}

bool CClientSession::IsSameRequest(const uint8_t* pRequest) const {
    return std::memcmp(m_abRequest, pRequest, kRequestSize) == 0;
}

bool CClientSession::Retransmit() {
    if (!IsActive())
        return false;
    if (m_ePhase == Phase::FirstAnswer && !m_firstAnswer.isEmpty()) {
        // An OACK, or a store's ACK 0: kept, as nothing of the file is read yet.
        std::copy(m_firstAnswer.begin(), m_firstAnswer.end(), m_pBuffer.begin());
        SendPacket(static_cast<int>(m_firstAnswer.size()));
    } else if (m_nOpcode == OP_RRQ) {
        if (!ResendWindow()) {
            End(kRereadFailed);
            return false;
        }
    } else {
        SendAck();
    }
    m_retransmit.Resent();
    return true;
}

void CClientSession::OnRetransmitDue() {
    if (!IsActive())
        return;
    if (m_pOwner)
        m_pOwner->ShowRetransmission(m_nSlot);
    Retransmit();
}

void CClientSession::Answered() {
    m_retransmit.Answered();
    m_ePhase = Phase::Transferring;
    m_firstAnswer.clear();
    if (m_pOwner)
        m_pOwner->NoteProgress(m_nSlot);
}

bool CClientSession::HoldsFile(dev_t device, ino_t inode) const {
    return IsActive() && m_pFile && m_device == device && m_inode == inode;
}

void CClientSession::OnReceive(int nErrorCode) {
    if (nErrorCode != 0)
        return;
    sockaddr_in from{};
    socklen_t nFromLength = sizeof from;
    // The whole buffer, so that anything up to the default block size is
    // received and judged, however small the block size in force.
    m_nReceived = ReceiveFrom(m_pBuffer.data(), static_cast<int>(m_pBuffer.size()),
                              reinterpret_cast<sockaddr*>(&from), &nFromLength);
    if (from.sin_family == AF_INET && !IsFromPeer(from)) {
        // Another source is not our client: tell it, and change nothing. An
        // ERROR is never answered, or two sockets could answer each other
        // for ever.
        const bool bError = m_nReceived >= 2 && GetWord(m_pBuffer.data()) == OP_ERROR;
        if (m_nReceived >= 0 && !bError) {
            uint8_t abError[64];
            int nLength = BuildError(abError, ErrorTable::Server, ERR_UNKNOWN_TID);
            SendTo(abError, nLength, reinterpret_cast<const sockaddr*>(&from), sizeof from);
        }
        return;
    }
    m_tLastActivity = CTime::GetCurrentTime().GetTime();
    m_bClientSpoke = true;
    if (m_nReceived < 4)
        return;
    if (!IsActive()) {
        // The last ACK of a store may be lost: its block comes again.
        if (m_ePhase == Phase::Completed || m_ePhase == Phase::Lingering)
            HandleData();
        return;
    }
    if (m_nOpcode == OP_RRQ)
        HandleAck();
    else
        HandleData();
}

void CClientSession::HandleAck() {
    const unsigned nOpcode = GetWord(m_pBuffer.data());
    if (nOpcode == OP_ERROR) {
        // The client gave up; answering would only start an exchange of errors.
        End(PeerErrorText());
        return;
    }
    if (nOpcode != OP_ACK)
        return;
    const unsigned nAcked = GetWord(m_pBuffer.data() + 2);
    if (m_ePhase == Phase::FirstAnswer && !m_firstAnswer.isEmpty()) {
        // Only ACK 0 answers the OACK; the first window then goes out.
        if (nAcked != 0)
            return;
        Answered();
        SendWindow();
        if (IsActive())
            ReportProgress();
        return;
    }
    // Matched against the blocks in flight, so a stale ACK never rewinds the
    // transfer and a duplicate never sends anything by itself.
    const uint64_t nConfirmed =
        ConfirmedBlock(nAcked, m_nAckedBlocks, static_cast<uint64_t>(m_nBlock - 1), m_nWindow);
    if (nConfirmed == 0) {
        // Lock-step: a repeat of the ACK before goes to the timer (RFC 1123),
        // unless the block has long been out.
        if (m_nWindow == 1 && nAcked == (m_nAckedBlocks & 0xFFFF))
            ResendWhenLost();
        return;
    }
    m_nAckedBlocks = nConfirmed;
    m_nAckedBytes = std::min(nConfirmed * static_cast<uint64_t>(m_nBlockSize), m_nSent);
    Answered();
    if (m_bFinalSent && nConfirmed == m_nFinalBlock) {
        End(CWharfCore::kTransferComplete);
    } else {
        // A window confirmed only in part: what followed the last block
        // confirmed was lost, and goes again from there.
        if (nConfirmed + 1 != static_cast<uint64_t>(m_nBlock) && !RewindTo(nConfirmed + 1)) {
            End(kRereadFailed);
            return;
        }
        SendWindow();
        if (!IsActive())
            return;
    }
    ReportProgress();
}

// The client's datagram shows that our last packet was lost: a reader
// acknowledges the block before the one in flight again, a writer repeats the
// block we acknowledged or sends one beyond it. Once our packet has been out
// a second, it goes out again at once instead of at the sweep (clients that
// repeat themselves keep the session's clock fresh, so the sweep would never
// fall due). Sooner it is a late duplicate, and answering it would double the
// stream from then on.
void CClientSession::ResendWhenLost() {
    if (GetTickCount() - m_retransmit.SentAt() < kRepeatAfterMs)
        return;
    if (!m_pOwner || !m_pOwner->CountRetransmission(m_nSlot))
        return;
    Retransmit();
}

// A block stored already: its ACK was lost, and goes out again each time
// (the block is not written twice).
void CClientSession::AckAgain() {
    SendAck();
    if (IsActive())
        m_retransmit.Resent();
    if (m_pOwner && m_ePhase != Phase::Lingering)
        m_pOwner->ShowRetransmission(m_nSlot);
}

void CClientSession::ReportProgress() {
    // A read knows its file's size; a store counts its bytes in m_nTotal.
    const bool bRead = m_nOpcode == OP_RRQ;
    // Lock-step shows the block in flight; a window shows what the client
    // confirmed, as many blocks may be on their way.
    const uint64_t nRead = m_nWindow > 1 ? m_nAckedBytes : m_nSent;
    m_core.Slots().TransferProgress(
        m_nSlot + 1, SlotProgress{bRead, bRead ? m_nTotal : 0, bRead ? nRead : m_nTotal});
}

void CClientSession::SendNextBlock() {
    const int n = ReadBlock(m_pBuffer.data());
    if (n >= 0)
        SendPacket(n);
}

// The next block, read from the file into a DATA packet at p; its length,
// or -1 when the file could not be read (the session has ended).
int CClientSession::ReadBlock(uint8_t* p) {
    uint64_t nLength = std::min<uint64_t>(m_nTotal - std::min(m_nSent, m_nTotal),
                                          static_cast<uint64_t>(m_nBlockSize));
    size_t n = std::fread(p + kHeaderSize, 1, static_cast<size_t>(nLength), m_pFile);
    if (std::ferror(m_pFile)) {
        // A short block would end the client's copy early and look complete.
        SendError(ERR_UNDEFINED);
        return -1;
    }
    PutWord(p, OP_DATA);
    PutWord(p + 2, static_cast<unsigned>(m_nBlock) & 0xFFFF);
    if (static_cast<int>(n) < m_nBlockSize) {
        // A short block ends the file.
        m_bFinalSent = true;
        m_nFinalBlock = static_cast<uint64_t>(m_nBlock);
        if (m_bNetascii)
            m_nTotal = m_nSent + n;
    }
    m_nSent += n;
    ++m_nBlock;
    return kHeaderSize + static_cast<int>(n);
}

// Sends blocks from the next one on until the window is full or the last
// block is out, then waits for the client's ACK.
void CClientSession::SendWindow() {
    SendBlocks();
    if (IsActive())
        m_retransmit.Sent();
}

bool CClientSession::WindowHasRoom() const {
    return !m_bFinalSent &&
           static_cast<uint64_t>(m_nBlock) - m_nAckedBlocks <= static_cast<uint64_t>(m_nWindow);
}

void CClientSession::SendBlocks() {
    if (m_nWindow == 1) {
        while (WindowHasRoom() && IsActive())
            SendNextBlock();
        return;
    }
    // A window goes out in batches, built side by side in a buffer made once
    // (the block size is settled by then) and sent with one system call each.
    const size_t nStride = static_cast<size_t>(m_nBlockSize) + kHeaderSize;
    const int nBatch = std::min(m_nWindow, kSendBatch);
    if (m_batch.size() < nStride * static_cast<size_t>(nBatch))
        m_batch.resize(nStride * static_cast<size_t>(nBatch));
    while (WindowHasRoom()) {
        int nCount = 0;
        int nLastLength = 0;
        while (nCount < nBatch && WindowHasRoom()) {
            nLastLength = ReadBlock(m_batch.data() + nStride * static_cast<size_t>(nCount));
            if (nLastLength < 0)
                return;
            ++nCount;
        }
        SendToMany(m_batch.data(), static_cast<int>(nStride), nCount, static_cast<int>(nStride),
                   nLastLength, reinterpret_cast<const sockaddr*>(&m_peerAddr), sizeof m_peerAddr);
    }
}

// Makes nBlock the next block to send: the file is read again from there.
bool CClientSession::RewindTo(uint64_t nBlock) {
    const uint64_t nOffset = (nBlock - 1) * static_cast<uint64_t>(m_nBlockSize);
    if (!m_pFile || ::fseeko(m_pFile, static_cast<off_t>(nOffset), SEEK_SET) != 0)
        return false;
    m_nSent = nOffset;
    m_nBlock = static_cast<int>(nBlock);
    m_bFinalSent = false;
    return true;
}

void CClientSession::HandleData() {
    const unsigned nOpcode = GetWord(m_pBuffer.data());
    if (nOpcode == OP_ERROR) {
        // The client gave up; answering would only start an exchange of errors.
        End(PeerErrorText());
        return;
    }
    // A DATA packet larger than the block size in force is no block of ours.
    if (nOpcode != OP_DATA || m_nReceived > m_nBlockSize + kHeaderSize)
        return;
    // Wire numbers wrap after 65535, as every common client counts.
    uint64_t nWide = 0;
    const Arrival arrival =
        ClassifyBlock(GetWord(m_pBuffer.data() + 2), static_cast<uint64_t>(m_nBlock), &nWide);
    if (!IsActive() || arrival != Arrival::Next) {
        BlockOutOfTurn(arrival, nWide);
        return;
    }
    if (m_nBlock == 0 && ::ftruncate(fileno(m_pFile), 0) != 0) {
        SendError(ERR_ACCESS_VIOLATION);
        return;
    }
    const size_t nData = static_cast<size_t>(m_nReceived - kHeaderSize);
    const bool bLast = m_nReceived < m_nBlockSize + kHeaderSize;
    size_t nWritten = std::fwrite(m_pBuffer.data() + kHeaderSize, 1, nData, m_pFile);
    // The last block is acknowledged only once the whole file is on disk.
    if (nWritten < nData || (bLast && std::fflush(m_pFile) != 0)) {
        SendError(ERR_DISK_FULL);
        return;
    }
    m_nTotal += nWritten;
    ReportProgress();

    ++m_nBlock;
    Answered();
    if (!m_receive.Took(static_cast<uint64_t>(m_nBlock), bLast)) {
        // Inside a window: the client is still sending, the wait starts over.
        m_retransmit.Postpone();
        return;
    }
    SendAck();
    if (bLast)
        End(CWharfCore::kTransferComplete);
    else
        m_retransmit.Sent(true);
}

// A block that is not the one awaited. In lock-step, and after the store has
// ended, the block last stored again means its ACK was lost: it is
// acknowledged again. A block from beyond the one awaited means that one was
// lost (some clients go on to the next block when their time-out passes):
// the last ACK goes again once it has been out a while. Older blocks are
// passed over. In a window, the last block held in order is acknowledged
// once per gap, so that the client sends again from the first one missing.
void CClientSession::BlockOutOfTurn(Arrival arrival, uint64_t nWide) {
    if (!IsActive() || m_nWindow == 1) {
        const bool bRepeat =
            m_nBlock > 0 && arrival == Arrival::Earlier && nWide == static_cast<uint64_t>(m_nBlock);
        if (bRepeat)
            AckAgain();
        else if (IsActive() && arrival == Arrival::Ahead)
            ResendWhenLost();
        return;
    }
    if (!m_receive.AckOutOfTurn(arrival, nWide))
        return;
    SendAck();
    m_receive.Acked(static_cast<uint64_t>(m_nBlock), true);
    m_retransmit.Sent(true);
    if (m_pOwner)
        m_pOwner->ShowRetransmission(m_nSlot);
}

void CClientSession::SendAck() {
    m_receive.Acked(static_cast<uint64_t>(m_nBlock));
    PutWord(m_pBuffer.data(), OP_ACK);
    PutWord(m_pBuffer.data() + 2, static_cast<unsigned>(m_nBlock) & 0xFFFF);
    SendPacket(4);
}

void CClientSession::SendPacket(int nLength) {
    SendTo(m_pBuffer.data(), nLength, reinterpret_cast<const sockaddr*>(&m_peerAddr),
           sizeof m_peerAddr);
}

void CClientSession::SendError(ErrorCode nCode) {
    CloseFile();
    int nLength = BuildError(m_pBuffer.data(), ErrorTable::Server, nCode);
    SendPacket(nLength);
    End(ErrorText(ErrorTable::Server, nCode));
}

// The blocks in flight, read again from the file from the first one the
// client has not confirmed.
bool CClientSession::ResendWindow() {
    if (!RewindTo(m_nAckedBlocks + 1))
        return false;
    SendBlocks();
    return IsActive();
}
