#include "Relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include <QSocketNotifier>
#include <QTimer>

namespace {
// Larger than any UDP datagram, so nothing is ever cut short unnoticed.
constexpr int kBufferSize = 65536 + 64;
// Datagrams taken per notification, so that one busy socket cannot starve
// the event loop (the notifier fires again for the rest).
constexpr int kReadsPerWake = 64;
constexpr uint32_t kLoopback = INADDR_LOOPBACK;
} // namespace

Relay::Relay(uint16_t nServerPort, Faults faults, uint32_t nSeed)
    : m_nServerPort(nServerPort), m_faults(faults), m_random(nSeed), m_buffer(kBufferSize, '\0') {
    m_clock.start();
    if (nServerPort == 0)
        return;
    m_pFront = Open(Role::MainFront, nullptr, 0);
    // Relaying to itself would make the relay talk to itself forever.
    if (m_pFront && m_pFront->nPort != nServerPort)
        m_nFrontPort = m_pFront->nPort;
}

Relay::~Relay() {
    for (auto& pSocket : m_sockets) {
        delete pSocket->pNotifier;
        if (pSocket->fd >= 0)
            ::close(pSocket->fd);
    }
}

Relay::Socket* Relay::Open(Role role, Client* pClient, uint16_t nServerPort) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(kLoopback);
    socklen_t len = sizeof local;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        ::close(fd);
        return nullptr;
    }
    auto pSocket = std::make_unique<Socket>();
    pSocket->fd = fd;
    pSocket->nPort = ntohs(local.sin_port);
    pSocket->role = role;
    pSocket->pClient = pClient;
    pSocket->nServerPort = nServerPort;
    pSocket->pNotifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    Socket* p = pSocket.get();
    QObject::connect(p->pNotifier, &QSocketNotifier::activated, this, [this, p] { OnReadable(p); });
    m_sockets.push_back(std::move(pSocket));
    return p;
}

std::vector<uint16_t> Relay::BackPorts() const {
    std::vector<uint16_t> ports;
    for (const auto& pClient : m_clients)
        ports.push_back(pClient->pBack->nPort);
    return ports;
}

bool Relay::IsOwnPort(uint16_t nPort) const {
    for (const auto& pSocket : m_sockets)
        if (pSocket->nPort == nPort)
            return true;
    return false;
}

void Relay::OnReadable(Socket* pSocket) {
    for (int i = 0; i < kReadsPerWake; ++i) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        // MSG_TRUNC reports the datagram's real length, so an oversized one
        // is recognised and dropped instead of passed on cut short.
        ssize_t n = ::recvfrom(pSocket->fd, m_buffer.data(), static_cast<size_t>(m_buffer.size()),
                               MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return; // nothing left (or an error report, which carries no datagram)
        if (n > m_buffer.size() || from.sin_family != AF_INET) {
            ++m_counts.nIgnored;
            continue;
        }
        Route(pSocket, ntohl(from.sin_addr.s_addr), ntohs(from.sin_port),
              QByteArray(m_buffer.constData(), static_cast<qsizetype>(n)));
    }
}

void Relay::Route(Socket* pSocket, uint32_t nFromAddress, uint16_t nFromPort,
                  const QByteArray& data) {
    // Only the loopback peers of the test take part, and never the relay's
    // own sockets: those would bounce datagrams between each other.
    if (nFromAddress != kLoopback || IsOwnPort(nFromPort)) {
        ++m_counts.nIgnored;
        return;
    }
    switch (pSocket->role) {
    case Role::MainFront: {
        Client* pClient = nullptr;
        for (auto& p : m_clients)
            if (p->nAddress == nFromAddress && p->nPort == nFromPort)
                pClient = p.get();
        if (!pClient) {
            if (static_cast<int>(m_clients.size()) >= kMaxClients) {
                ++m_counts.nIgnored;
                return;
            }
            auto pNew = std::make_unique<Client>();
            pNew->nAddress = nFromAddress;
            pNew->nPort = nFromPort;
            pNew->pBack = Open(Role::Back, pNew.get(), 0);
            if (!pNew->pBack) {
                ++m_counts.nIgnored;
                return;
            }
            pClient = pNew.get();
            m_clients.push_back(std::move(pNew));
        }
        Forward(pClient->pBack, kLoopback, m_nServerPort, data);
        return;
    }
    case Role::Back: {
        Client* pClient = pSocket->pClient;
        if (nFromPort == m_nServerPort) {
            Forward(m_pFront, pClient->nAddress, pClient->nPort, data);
            return;
        }
        Socket* pTransfer = nullptr;
        auto it = pClient->transfers.find(nFromPort);
        if (it != pClient->transfers.end()) {
            pTransfer = it->second;
        } else {
            if (m_nTransfers >= kMaxTransfers) {
                ++m_counts.nIgnored;
                return;
            }
            pTransfer = Open(Role::TransferFront, pClient, nFromPort);
            if (!pTransfer) {
                ++m_counts.nIgnored;
                return;
            }
            ++m_nTransfers;
            pClient->transfers.emplace(nFromPort, pTransfer);
        }
        Forward(pTransfer, pClient->nAddress, pClient->nPort, data);
        return;
    }
    case Role::TransferFront: {
        Client* pClient = pSocket->pClient;
        if (nFromAddress != pClient->nAddress || nFromPort != pClient->nPort) {
            ++m_counts.nIgnored; // not this transfer's client
            return;
        }
        Forward(pClient->pBack, kLoopback, pSocket->nServerPort, data);
        return;
    }
    }
}

void Relay::Forward(Socket* pFrom, uint32_t nToAddress, uint16_t nToPort, const QByteArray& data) {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    // Every draw is made for every datagram, so that one fault's setting
    // does not shift the others' sequence for the same seed.
    const bool bDrop = chance(m_random) < m_faults.drop;
    const bool bDuplicate = chance(m_random) < m_faults.duplicate;
    const bool bReorder = chance(m_random) < m_faults.reorder;
    const int nCopyDelay = std::uniform_int_distribution<int>(0, 20)(m_random);
    const int nHoldBack = std::uniform_int_distribution<int>(5, 30)(m_random);
    if (!m_trace.isEmpty())
        Trace(pFrom, nToPort, data, bDrop, bDuplicate, bReorder);
    if (bDrop) {
        ++m_counts.nDropped;
        return;
    }
    ++m_counts.nForwarded;
    if (bReorder) {
        ++m_counts.nDelayed;
        QTimer::singleShot(nHoldBack, Qt::PreciseTimer, this,
                           [=, this] { SendNow(pFrom, nToAddress, nToPort, data); });
    } else {
        SendNow(pFrom, nToAddress, nToPort, data);
    }
    if (bDuplicate) {
        ++m_counts.nDuplicated;
        QTimer::singleShot(nCopyDelay, Qt::PreciseTimer, this,
                           [=, this] { SendNow(pFrom, nToAddress, nToPort, data); });
    }
}

void Relay::Trace(const Socket* pFrom, uint16_t nToPort, const QByteArray& data, bool bDrop,
                  bool bDuplicate, bool bReorder) const {
    static const char* const kNames[] = {"?", "RRQ", "WRQ", "DATA", "ACK", "ERROR", "OACK"};
    const unsigned nOpcode =
        data.size() >= 2 ? (unsigned(uint8_t(data[0])) << 8 | uint8_t(data[1])) : 0;
    const unsigned nBlock =
        data.size() >= 4 ? (unsigned(uint8_t(data[2])) << 8 | uint8_t(data[3])) : 0;
    const bool bToServer = pFrom->role == Role::Back;
    std::fprintf(stderr, "%s %6lld ms  %5u %s %-5u %-5s %5u  %lld bytes%s%s%s\n",
                 qPrintable(m_trace), static_cast<long long>(m_clock.elapsed()), pFrom->nPort,
                 bToServer ? "->" : "<-", nToPort, kNames[nOpcode < 7 ? nOpcode : 0], nBlock,
                 static_cast<long long>(data.size()), bDrop ? "  DROPPED" : "",
                 bDuplicate && !bDrop ? "  doubled" : "", bReorder && !bDrop ? "  held back" : "");
}

void Relay::SendNow(Socket* pFrom, uint32_t nToAddress, uint16_t nToPort, const QByteArray& data) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(nToAddress);
    to.sin_port = htons(nToPort);
    // A full socket buffer is one more loss on a lossy network: never wait.
    ::sendto(pFrom->fd, data.constData(), static_cast<size_t>(data.size()), MSG_DONTWAIT,
             reinterpret_cast<const sockaddr*>(&to), sizeof to);
}
