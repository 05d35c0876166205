#include "TestSupport.h"

#include "MessageBox.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>

void PumpEvents(int ms) {
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (timer.elapsed() < ms)
            ::usleep(1000);
    } while (timer.elapsed() < ms);
}

UdpPeer::UdpPeer() {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    socklen_t len = sizeof local;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &len);
    m_nPort = ntohs(local.sin_port);
}

UdpPeer::~UdpPeer() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool UdpPeer::SendTo(uint16_t nPort, const QByteArray& data) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(nPort);
    return ::sendto(m_fd, data.constData(), static_cast<size_t>(data.size()), 0,
                    reinterpret_cast<sockaddr*>(&to), sizeof to) == data.size();
}

std::optional<QByteArray> UdpPeer::Receive(int ms, uint16_t* pFromPort) {
    QElapsedTimer timer;
    timer.start();
    QByteArray buffer(70000, '\0');
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(m_fd, buffer.data(), static_cast<size_t>(buffer.size()), 0,
                               reinterpret_cast<sockaddr*>(&from), &len);
        if (n >= 0) {
            if (pFromPort)
                *pFromPort = ntohs(from.sin_port);
            buffer.truncate(static_cast<int>(n));
            return buffer;
        }
        if (timer.elapsed() >= ms)
            return std::nullopt;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{m_fd, POLLIN, 0};
        ::poll(&p, 1, 2);
    }
}

bool SendForged(uint16_t nFromPort, uint16_t nToPort, const QByteArray& data) {
    int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (fd < 0)
        return false;
    QByteArray packet(int(sizeof(iphdr) + sizeof(udphdr)), '\0');
    packet += data;
    auto* ip = reinterpret_cast<iphdr*>(packet.data());
    ip->version = 4;
    ip->ihl = 5;
    ip->ttl = 64;
    ip->protocol = IPPROTO_UDP;
    ip->tot_len = htons(static_cast<uint16_t>(packet.size()));
    ip->saddr = htonl(INADDR_LOOPBACK);
    ip->daddr = htonl(INADDR_LOOPBACK);
    auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
    udp->source = htons(nFromPort);
    udp->dest = htons(nToPort);
    udp->len = htons(static_cast<uint16_t>(sizeof(udphdr) + data.size()));
    udp->check = 0; // no checksum, allowed on IPv4
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool bSent = ::sendto(fd, packet.constData(), static_cast<size_t>(packet.size()), 0,
                          reinterpret_cast<sockaddr*>(&to), sizeof to) == packet.size();
    ::close(fd);
    return bSent;
}

uint16_t FreeUdpPort() {
    UdpPeer probe;
    return probe.Port();
}

QByteArray MakeRequest(int nOpcode, const QByteArray& name, const QByteArray& mode,
                       const QList<QByteArray>& options) {
    QByteArray packet;
    packet.append(char(nOpcode >> 8)).append(char(nOpcode & 0xFF));
    packet.append(name).append('\0').append(mode).append('\0');
    for (const QByteArray& item : options)
        packet.append(item).append('\0');
    return packet;
}

MessageBoxRecorder::MessageBoxRecorder(QList<int> answers) : m_answers(std::move(answers)) {
    SetMessageBoxHandler([this](const QString& text, unsigned type) {
        texts << text;
        return m_answers.isEmpty() ? DefaultButton(type) : m_answers.takeFirst();
    });
}

MessageBoxRecorder::~MessageBoxRecorder() {
    SetMessageBoxHandler(nullptr);
}

TempConfigHome::TempConfigHome() {
    m_bHadPrevious = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    m_previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
}

TempConfigHome::~TempConfigHome() {
    if (m_bHadPrevious)
        qputenv("XDG_CONFIG_HOME", m_previous);
    else
        qunsetenv("XDG_CONFIG_HOME");
}
