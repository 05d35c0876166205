#include "AsyncSocket.h"

#include <sys/uio.h>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cstring>

namespace {
CAsyncSocket::BufferSizeHook& bufferHook() {
    static CAsyncSocket::BufferSizeHook hook;
    return hook;
}
long long g_nDatagramsSent = 0;

CAsyncSocket::SelectHook& selectHook() {
    static CAsyncSocket::SelectHook hook;
    return hook;
}

CAsyncSocket::DatagramHook& datagramHook() {
    static CAsyncSocket::DatagramHook hook;
    return hook;
}
bool HookInstalled() {
    return datagramHook().receive || datagramHook().send;
}
// Ports handed to hooked sockets that asked for any port.
unsigned g_nNextHookedPort = 49152;
} // namespace

CAsyncSocket::CAsyncSocket() = default;

CAsyncSocket::~CAsyncSocket() {
    *m_pAlive = false;
    Close();
}

bool CAsyncSocket::Create(unsigned nSocketPort, int nSocketType, long lEvent,
                          const char* lpszSocketAddress) {
    if (m_hSocket != INVALID_SOCKET || nSocketType != SOCK_DGRAM || nSocketPort > 65535) {
        errno = EINVAL;
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(nSocketPort));
    if (lpszSocketAddress && *lpszSocketAddress) {
        if (!ParseHostAddress(QString::fromLatin1(lpszSocketAddress), &local.sin_addr)) {
            errno = EINVAL;
            return false;
        }
    } else {
        local.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    if (HookInstalled()) {
        if (nSocketPort == 0) {
            nSocketPort = g_nNextHookedPort;
            g_nNextHookedPort = g_nNextHookedPort >= 65535 ? 49152 : g_nNextHookedPort + 1;
        }
        local.sin_port = htons(static_cast<uint16_t>(nSocketPort));
        m_hookedLocal = local;
        m_bHooked = true;
        m_hSocket = kHookedSocket;
        if (lEvent != 0 && !AsyncSelect(lEvent)) {
            Close();
            return false;
        }
        return true;
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return false;
    }
    m_hSocket = fd;
    if (lEvent != 0 && !AsyncSelect(lEvent)) {
        Close();
        return false;
    }
    return true;
}

bool CAsyncSocket::AsyncSelect(long lEvent) {
    if (m_hSocket == INVALID_SOCKET) {
        errno = EBADF;
        return false;
    }
    if (selectHook() && !selectHook()(this, lEvent)) {
        errno = ENOBUFS;
        return false;
    }
    m_lEvent = lEvent;
    if (m_bHooked)
        return true;
    if ((lEvent & FD_READ) && !m_pReadNotifier) {
        m_pReadNotifier = new QSocketNotifier(m_hSocket, QSocketNotifier::Read);
        QObject::connect(m_pReadNotifier, &QSocketNotifier::activated, m_pReadNotifier, [this] {
            // The notifier stays on while every notice's datagram is taken:
            // switching it off and on wakes the event loop twice more per
            // datagram. Only a handler that leaves its datagram waiting
            // quiets it, until ReceiveFrom. The handler may delete us.
            const std::shared_ptr<bool> pAlive = m_pAlive;
            QSocketNotifier* pNotifier = m_pReadNotifier;
            m_bTaken = false;
            OnReceive(0);
            if (*pAlive && !m_bTaken && m_pReadNotifier == pNotifier)
                pNotifier->setEnabled(false);
        });
    }
    EnableRead((lEvent & FD_READ) != 0);
    return true;
}

void CAsyncSocket::EnableRead(bool bEnable) {
    if (m_pReadNotifier)
        m_pReadNotifier->setEnabled(bEnable);
}

void CAsyncSocket::Close() {
    if (m_pReadNotifier) {
        // Deleted later: Close may run inside the notifier's own signal.
        m_pReadNotifier->setEnabled(false);
        m_pReadNotifier->disconnect();
        m_pReadNotifier->deleteLater();
        m_pReadNotifier = nullptr;
    }
    if (m_hSocket != INVALID_SOCKET) {
        if (!m_bHooked)
            ::close(m_hSocket);
        m_hSocket = INVALID_SOCKET;
    }
    m_bHooked = false;
    m_lEvent = 0;
}

int CAsyncSocket::ReceiveFrom(void* lpBuf, int nBufLen, sockaddr* lpSockAddr,
                              socklen_t* lpSockAddrLen, int nFlags) {
    if (m_hSocket == INVALID_SOCKET || nBufLen < 0) {
        errno = EBADF;
        return SOCKET_ERROR;
    }
    if (m_bHooked) {
        Datagram datagram;
        if (!datagramHook().receive || !datagramHook().receive(this, &datagram)) {
            errno = EAGAIN;
            return SOCKET_ERROR;
        }
        const int n = static_cast<int>(datagram.bytes.size());
        if (std::min(n, nBufLen) > 0)
            std::memcpy(lpBuf, datagram.bytes.constData(),
                        static_cast<size_t>(std::min(n, nBufLen)));
        if (lpSockAddr && lpSockAddrLen) {
            std::memcpy(lpSockAddr, &datagram.peer,
                        std::min<size_t>(*lpSockAddrLen, sizeof datagram.peer));
            *lpSockAddrLen = sizeof datagram.peer;
        }
        if (n > nBufLen) {
            errno = EMSGSIZE;
            return SOCKET_ERROR;
        }
        return n;
    }
    ssize_t n = ::recvfrom(m_hSocket, lpBuf, static_cast<size_t>(nBufLen), nFlags | MSG_TRUNC,
                           lpSockAddr, lpSockAddrLen);
    int saved = errno;
    m_bTaken = true;
    if (m_lEvent & FD_READ)
        EnableRead(true);
    if (n < 0) {
        errno = saved;
        return SOCKET_ERROR;
    }
    if (n > nBufLen) {
        errno = EMSGSIZE;
        return SOCKET_ERROR;
    }
    return static_cast<int>(n);
}

int CAsyncSocket::SendTo(const void* lpBuf, int nBufLen, const sockaddr* lpSockAddr,
                         socklen_t nSockAddrLen, int nFlags) {
    if (m_hSocket == INVALID_SOCKET || nBufLen < 0) {
        errno = EBADF;
        return SOCKET_ERROR;
    }
    if (m_bHooked) {
        Datagram datagram;
        datagram.bytes = QByteArray(static_cast<const char*>(lpBuf), nBufLen);
        if (lpSockAddr)
            std::memcpy(&datagram.peer, lpSockAddr,
                        std::min<size_t>(nSockAddrLen, sizeof datagram.peer));
        if (!datagramHook().send || !datagramHook().send(this, datagram)) {
            errno = ENOBUFS;
            return SOCKET_ERROR;
        }
        ++g_nDatagramsSent;
        return nBufLen;
    }
    ssize_t n = ::sendto(m_hSocket, lpBuf, static_cast<size_t>(nBufLen), nFlags | MSG_NOSIGNAL,
                         lpSockAddr, nSockAddrLen);
    if (n < 0)
        return SOCKET_ERROR;
    ++g_nDatagramsSent;
    return static_cast<int>(n);
}

int CAsyncSocket::SendToMany(const uint8_t* pFirst, int nStride, int nCount, int nLen,
                             int nLastLen, const sockaddr* lpSockAddr, socklen_t nSockAddrLen) {
    constexpr int kMaxBatch = 64;
    int nSent = 0;
    while (nSent < nCount) {
        const int nBatch = std::min(nCount - nSent, kMaxBatch);
        if (m_bHooked || m_hSocket == INVALID_SOCKET) {
            // One at a time, as the hook takes them.
            const int nThis = nSent + 1 == nCount ? nLastLen : nLen;
            if (SendTo(pFirst + static_cast<ptrdiff_t>(nSent) * nStride, nThis, lpSockAddr,
                       nSockAddrLen) != nThis)
                return nSent == 0 ? SOCKET_ERROR : nSent;
            ++nSent;
            continue;
        }
        iovec aVectors[kMaxBatch];
        mmsghdr aMessages[kMaxBatch];
        for (int i = 0; i < nBatch; ++i) {
            const int nIndex = nSent + i;
            aVectors[i].iov_base =
                const_cast<uint8_t*>(pFirst + static_cast<ptrdiff_t>(nIndex) * nStride);
            aVectors[i].iov_len = static_cast<size_t>(nIndex + 1 == nCount ? nLastLen : nLen);
            aMessages[i] = mmsghdr{};
            aMessages[i].msg_hdr.msg_name = const_cast<sockaddr*>(lpSockAddr);
            aMessages[i].msg_hdr.msg_namelen = nSockAddrLen;
            aMessages[i].msg_hdr.msg_iov = &aVectors[i];
            aMessages[i].msg_hdr.msg_iovlen = 1;
        }
        const int n = ::sendmmsg(m_hSocket, aMessages, static_cast<unsigned>(nBatch), MSG_NOSIGNAL);
        if (n <= 0)
            return nSent == 0 ? SOCKET_ERROR : nSent;
        g_nDatagramsSent += n;
        nSent += n;
        if (n < nBatch)
            return nSent;
    }
    return nSent;
}

int CAsyncSocket::SendTo(const void* lpBuf, int nBufLen, unsigned nHostPort,
                         const char* lpszHostAddress, int nFlags) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (nHostPort > 65535 || !lpszHostAddress ||
        !ParseHostAddress(QString::fromLatin1(lpszHostAddress), &to.sin_addr)) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    to.sin_port = htons(static_cast<uint16_t>(nHostPort));
    return SendTo(lpBuf, nBufLen, reinterpret_cast<sockaddr*>(&to), sizeof to, nFlags);
}

bool CAsyncSocket::SetSockOpt(int nOptionName, const void* lpOptionValue, socklen_t nOptionLen,
                              int nLevel) {
    bool bBuffer = nLevel == SOL_SOCKET && (nOptionName == SO_SNDBUF || nOptionName == SO_RCVBUF) &&
                   nOptionLen == sizeof(int);
    if (bBuffer) {
        int nAsked = *static_cast<const int*>(lpOptionValue);
        int& rAsked = nOptionName == SO_SNDBUF ? m_nAskedSndBuf : m_nAskedRcvBuf;
        int& rHooked = nOptionName == SO_SNDBUF ? m_nHookSndBuf : m_nHookRcvBuf;
        if (bufferHook()) {
            int nGranted = nAsked;
            if (!bufferHook()(nOptionName, nAsked, &nGranted)) {
                errno = ENOBUFS;
                return false;
            }
            rAsked = nAsked;
            rHooked = nGranted;
            return true;
        }
        rHooked = -1;
        if (::setsockopt(m_hSocket, nLevel, nOptionName, lpOptionValue, nOptionLen) != 0)
            return false;
        rAsked = nAsked;
        return true;
    }
    return ::setsockopt(m_hSocket, nLevel, nOptionName, lpOptionValue, nOptionLen) == 0;
}

bool CAsyncSocket::GetSockOpt(int nOptionName, void* lpOptionValue, socklen_t* lpOptionLen,
                              int nLevel) {
    bool bBuffer = nLevel == SOL_SOCKET && (nOptionName == SO_SNDBUF || nOptionName == SO_RCVBUF) &&
                   lpOptionLen && *lpOptionLen == sizeof(int);
    if (!bBuffer)
        return ::getsockopt(m_hSocket, nLevel, nOptionName, lpOptionValue, lpOptionLen) == 0;
    int nAsked = nOptionName == SO_SNDBUF ? m_nAskedSndBuf : m_nAskedRcvBuf;
    int nHooked = nOptionName == SO_SNDBUF ? m_nHookSndBuf : m_nHookRcvBuf;
    if (nHooked >= 0) {
        *static_cast<int*>(lpOptionValue) = nHooked;
        return true;
    }
    if (bufferHook() && nAsked == 0) {
        int nDefault = 0;
        if (!bufferHook()(nOptionName, 0, &nDefault)) {
            errno = ENOBUFS;
            return false;
        }
        *static_cast<int*>(lpOptionValue) = nDefault;
        return true;
    }
    int nKernel = 0;
    socklen_t len = sizeof nKernel;
    if (::getsockopt(m_hSocket, nLevel, nOptionName, &nKernel, &len) != 0)
        return false;
    // The kernel keeps twice what was asked (bookkeeping overhead).
    int nInForce = nKernel / 2;
    if (nAsked > 0 && nInForce >= nAsked)
        nInForce = nAsked;
    *static_cast<int*>(lpOptionValue) = nInForce;
    return true;
}

bool CAsyncSocket::GetSockName(QString& rSocketAddress, unsigned& rSocketPort) const {
    sockaddr_in local = m_hookedLocal;
    socklen_t len = sizeof local;
    if (m_hSocket == INVALID_SOCKET ||
        (!m_bHooked && ::getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&local), &len) != 0))
        return false;
    rSocketAddress = DottedAddress(local);
    rSocketPort = ntohs(local.sin_port);
    return true;
}

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}

int CAsyncSocket::GetLastError() {
    return errno;
}

long long CAsyncSocket::DatagramsSent() {
    return g_nDatagramsSent;
}

void CAsyncSocket::SetBufferSizeHook(BufferSizeHook hook) {
    bufferHook() = std::move(hook);
}

void CAsyncSocket::SetSelectHook(SelectHook hook) {
    selectHook() = std::move(hook);
}

void CAsyncSocket::SetDatagramHook(DatagramHook hook) {
    datagramHook() = std::move(hook);
}

QString DottedAddress(const sockaddr_in& addr) {
    const auto* b = reinterpret_cast<const unsigned char*>(&addr.sin_addr.s_addr);
    return QString::asprintf("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
}

bool ParseHostAddress(const QString& strHost, in_addr* pAddress) {
    if (strHost.contains(QChar(0)))
        return false;
    in_addr address{};
    if (::inet_aton(strHost.toLatin1().constData(), &address) == 0)
        return false;
    if (pAddress)
        *pAddress = address;
    return true;
}
