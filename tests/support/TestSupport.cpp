#include "TestSupport.h"

#include "Clock.h"
#include "MessageBox.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

void PumpEvents(int ms) {
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (timer.elapsed() < ms)
            ::usleep(1000);
    } while (timer.elapsed() < ms);
}

UdpPeer::UdpPeer() : UdpPeer("127.0.0.1") {}

UdpPeer::UdpPeer(const char* pszLocalAddress, uint16_t nPort) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(nPort);
    // Loopback only: tests never reach another machine.
    if (::inet_pton(AF_INET, pszLocalAddress, &local.sin_addr) != 1 ||
        (ntohl(local.sin_addr.s_addr) >> 24) != 127 ||
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return;
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

FileWriteCounter::FileWriteCounter(const QString& strPath) {
    const QFileInfo info(strPath);
    m_name = QFile::encodeName(info.fileName());
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0 || ::inotify_add_watch(m_fd, QFile::encodeName(info.absolutePath()).constData(),
                                        IN_MOVED_TO | IN_CREATE) < 0)
        qFatal("cannot watch %s", qPrintable(strPath));
}

FileWriteCounter::~FileWriteCounter() {
    if (m_fd >= 0)
        ::close(m_fd);
}

int FileWriteCounter::Count() {
    alignas(inotify_event) char buffer[4096];
    for (int nReads = 0; nReads < 1000; ++nReads) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* pEvent = reinterpret_cast<const inotify_event*>(buffer + i);
            // Settings files are never written in place: each write puts a
            // whole new file under the name, by a link or a rename.
            if (pEvent->len > 0 && m_name == pEvent->name &&
                (pEvent->mask & (IN_MOVED_TO | IN_CREATE)))
                ++m_nCount;
            i += static_cast<ssize_t>(sizeof(inotify_event) + pEvent->len);
        }
    }
    return m_nCount;
}

QString RealServer::AtftpdProgram() {
    const QString program = qEnvironmentVariable("ATFTPD");
    return program.isEmpty() ? QString(ATFTPD_UNPACKED) : program;
}

RealServer::RealServer(const QStringList& extra, Kind kind) {
    m_nPort = FreeUdpPort();
    QString program = kProgram;
    QStringList args{"-L", "-a", QString("127.0.0.1:%1").arg(m_nPort), "-s", m_dir.path(), "-c"};
    if (::geteuid() == 0)
        args << "-u"
             << "root";
    if (kind == Kind::Atftpd) {
        // Standalone and in the foreground; it serves only a folder that
        // everybody may read and write.
        program = AtftpdProgram();
        QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7777));
        args = QStringList{"--daemon",       "--no-fork", "--port",    QString::number(m_nPort),
                           "--bind-address", "127.0.0.1", "--logfile", "/dev/null"};
        if (::geteuid() == 0)
            args << "--user"
                 << "root"
                 << "--group"
                 << "root";
        args << extra << m_dir.path();
    } else {
        args += extra;
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, args);
    m_bRunning = m_process.waitForStarted(5000) && WaitUntilServing();
}

RealServer::~RealServer() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
}

void RealServer::Put(const QString& strName, const QByteArray& bytes) const {
    QFile file(Path(strName));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write served file");
    file.setPermissions(file.permissions() | QFile::ReadOther);
}

QByteArray RealServer::Get(const QString& strName) const {
    QFile file(Path(strName));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Asks for a file that is not there until the server answers.
bool RealServer::WaitUntilServing() {
    UdpPeer probe;
    for (int i = 0; i < 50; ++i) {
        if (m_process.state() != QProcess::Running)
            return false;
        probe.SendTo(m_nPort, MakeRequest(1, "no-such-probe", "octet"));
        if (probe.Receive(100))
            return true;
    }
    return false;
}

QByteArray Pattern(int nSize, int nSeed) {
    QByteArray bytes(nSize, '\0');
    uint32_t x = 2463534242u + static_cast<uint32_t>(nSeed);
    for (int i = 0; i < nSize; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x & 0xFF);
    }
    return bytes;
}

bool AdvanceTestTicksTo(unsigned long long nDue) {
    if (nDue == 0)
        return false;
    const unsigned long long nNow = GetTickCount();
    AdvanceTestTickCount(nDue > nNow ? nDue - nNow : 0);
    return true;
}

QString WindowScript::Play(const QString& step, const QString& expected) {
    const QStringList words = step.split(' ');
    const int n = words.value(1).toInt();
    QByteArray packet(4, '\0');
    packet[2] = char((n >> 8) & 0xFF);
    packet[3] = char(n & 0xFF);
    if (words[0] == "ack") {
        packet[1] = 4;
        send(packet);
    } else if (words[0] == "data" || words[0] == "last") {
        const QByteArray block =
            content.mid((n - 1) * nBlockSize, words[0] == "last" ? 100 : nBlockSize);
        if (n == int(stored.size() / nBlockSize) + 1)
            stored += block;
        packet[1] = 3;
        send(packet + block);
    } else if (!other(step)) {
        return "could not " + step;
    }
    QStringList answer;
    while (auto reply = receive(expected.isEmpty() ? 150 : 300)) {
        const int nOpcode = reply->size() >= 4 ? uint8_t(reply->at(1)) : 0;
        const int nNumber =
            reply->size() >= 4 ? (uint8_t(reply->at(2)) << 8) | uint8_t(reply->at(3)) : -1;
        if (nOpcode == 3) {
            // The bytes the block stands for, also when read again after a rewind.
            if (reply->mid(4) != content.mid((nNumber - 1) * nBlockSize, nBlockSize))
                return QString("wrong bytes in block %1").arg(nNumber);
            answer << (answer.isEmpty() ? "data " : "") + QString::number(nNumber);
        } else {
            answer << (nOpcode == 4 ? "ack " : "error ") + QString::number(nNumber);
        }
        if (answer.join(' ') == expected)
            break;
    }
    return answer.join(' ');
}
