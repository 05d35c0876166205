#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class QSocketNotifier;

// Event mask bits, as the asynchronous socket interface names them.
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

constexpr int SOCKET_ERROR = -1;
constexpr int INVALID_SOCKET = -1;

// An IPv4 datagram socket that reports waiting datagrams through OnReceive,
// called from the Qt event loop. Like the classic asynchronous socket it
// reports one notification and then stays quiet until the datagram has been
// taken with ReceiveFrom, so a handler that reads nothing is not called again
// and again.
class CAsyncSocket {
public:
    CAsyncSocket();
    virtual ~CAsyncSocket();
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    // Binds to the local address (read by ParseHostAddress; any address when
    // null or empty) and port (0: the system picks one). Only SOCK_DGRAM is
    // supported.
    bool Create(unsigned nSocketPort = 0, int nSocketType = SOCK_DGRAM,
                long lEvent = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE,
                const char* lpszSocketAddress = nullptr);
    bool AsyncSelect(long lEvent = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
    void Close();

    // One datagram and its sender. A datagram larger than nBufLen is consumed
    // and reported as SOCKET_ERROR (EMSGSIZE), never delivered cut short; the
    // sender's address is still filled in, and the buffer holds the
    // datagram's first nBufLen bytes (enough to tell what kind it was).
    int ReceiveFrom(void* lpBuf, int nBufLen, sockaddr* lpSockAddr, socklen_t* lpSockAddrLen,
                    int nFlags = 0);
    int SendTo(const void* lpBuf, int nBufLen, const sockaddr* lpSockAddr, socklen_t nSockAddrLen,
               int nFlags = 0);
    // nCount datagrams of the same length (the last may be shorter: nLastLen)
    // laid out every nStride bytes from pFirst, to one address, in as few
    // system calls as the system allows. Returns how many went out, or
    // SOCKET_ERROR when the first could not.
    int SendToMany(const uint8_t* pFirst, int nStride, int nCount, int nLen, int nLastLen,
                   const sockaddr* lpSockAddr, socklen_t nSockAddrLen);
    // Sends to a host address read by ParseHostAddress; a port above 65535 is
    // refused, not cut.
    int SendTo(const void* lpBuf, int nBufLen, unsigned nHostPort, const char* lpszHostAddress,
               int nFlags = 0);

    // Socket options. SO_SNDBUF and SO_RCVBUF read back the size in force in
    // the units in which it was set: Linux reports twice the size and raises
    // small sizes to a minimum, so a grant at least as large as the request
    // reads back as exactly the request.
    bool SetSockOpt(int nOptionName, const void* lpOptionValue, socklen_t nOptionLen,
                    int nLevel = SOL_SOCKET);
    bool GetSockOpt(int nOptionName, void* lpOptionValue, socklen_t* lpOptionLen,
                    int nLevel = SOL_SOCKET);

    // The bound local address and port (for tests and captions).
    bool GetSockName(QString& rSocketAddress, unsigned& rSocketPort) const;

    virtual void OnReceive(int nErrorCode);
    virtual void OnSend(int nErrorCode);

    // errno of the last failed call on this thread.
    static int GetLastError();

    // Datagrams sent by every socket of this process so far: tells a burst
    // of answers from a few.
    static long long DatagramsSent();

    // Test seam for socket buffer sizes: when set, it decides what a
    // SO_SNDBUF/SO_RCVBUF request is granted. Return false to make the
    // set fail; otherwise store the granted size in *pGranted. Reading a
    // size that was never set asks the hook with nRequested 0 for the
    // system's default.
    using BufferSizeHook = std::function<bool(int nOptionName, int nRequested, int* pGranted)>;
    static void SetBufferSizeHook(BufferSizeHook hook);

    // Test seam: when set and returning false, AsyncSelect fails.
    using SelectHook = std::function<bool(const CAsyncSocket* pSocket, long lEvent)>;
    static void SetSelectHook(SelectHook hook);

    // Test seam for the wire itself (fuzzers, tests without a network):
    // while a hook is installed, Create opens and binds nothing (m_hSocket
    // holds kHookedSocket, which every system call refuses), AsyncSelect sets
    // up no notifier (the test calls OnReceive itself, as the event loop
    // would), and Close closes nothing. ReceiveFrom hands out the datagram
    // that receive gives, with its sender (false: nothing waits, EAGAIN),
    // keeping the rule for one larger than the buffer; SendTo gives each
    // datagram to send instead of sending it (false: the send fails,
    // ENOBUFS). GetSockName tells the address given to Create and a port
    // made up for the socket. Buffer sizes go through SetBufferSizeHook,
    // which such a test installs as well. Whether a socket is hooked is
    // settled when it is created; an empty hook restores real sockets.
    struct Datagram {
        QByteArray bytes;
        sockaddr_in peer{};
    };
    struct DatagramHook {
        std::function<bool(const CAsyncSocket* pSocket, Datagram* pDatagram)> receive;
        std::function<bool(const CAsyncSocket* pSocket, const Datagram& datagram)> send;
    };
    static void SetDatagramHook(DatagramHook hook);
    static constexpr int kHookedSocket = -2;

    int m_hSocket = INVALID_SOCKET;

private:
    void EnableRead(bool bEnable);

    bool m_bHooked = false;      // created through the datagram hook
    sockaddr_in m_hookedLocal{}; // the address and port it claims

    QSocketNotifier* m_pReadNotifier = nullptr;
    long m_lEvent = 0;
    bool m_bTaken = false; // ReceiveFrom was called since the last notice
    std::shared_ptr<bool> m_pAlive = std::make_shared<bool>(true); // false once destroyed
    int m_nAskedSndBuf = 0;
    int m_nAskedRcvBuf = 0;
    int m_nHookSndBuf = -1;
    int m_nHookRcvBuf = -1;
};

// Dotted text of an IPv4 socket address, first octet first.
QString DottedAddress(const sockaddr_in& addr);

// Reads a host address text as the platform's inet_addr does (glibc inet_aton): "127.1" is
// 127.0.0.1, parts may be octal or hexadecimal, and whitespace may end the text. False when
// inet_aton refuses it, or when the text holds a NUL (which would cut it short unseen).
// Every host text that becomes an address goes through here, so a host the client's form
// accepts is never refused by the socket. pAddress may be null to only check the text.
bool ParseHostAddress(const QString& strHost, in_addr* pAddress);
