// Whether a display answers, where the programs' start cannot show it: the
// cookie an ssh forwarding asks for before it says a word, and the names
// that are judged without a connection. Silent, refused and real displays
// are the installed programs' start test (tests/install/check_start.py).
#include "DisplayCheck.h"

#include <QTemporaryDir>
#include <QtTest>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kTimeoutMs = 300;
const QByteArray kCookie = QByteArray::fromHex("00112233445566778899aabbccddeeff");

// Listening on 127.0.0.1:6000+n for a display n with no X socket; -1 if taken.
int Forwarding(int nDisplay) {
    QFile sockets("/proc/net/unix");
    if (!sockets.open(QIODevice::ReadOnly) ||
        sockets.readAll().contains("/tmp/.X11-unix/X" + QByteArray::number(nDisplay) + '\n') ||
        QFile::exists(QString("/tmp/.X11-unix/X%1").arg(nDisplay)))
        return -1;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(6000 + nDisplay);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 4) == 0)
        return fd;
    close(fd);
    return -1;
}

// As an ssh forwarding does: read the set-up, answer only when it carries
// the cookie, else hang up. Every wait is bounded.
void Forward(int fdListen) {
    pollfd entry{fdListen, POLLIN, 0};
    if (fdListen < 0 || poll(&entry, 1, 1500) != 1)
        return;
    entry.fd = accept(fdListen, nullptr, nullptr);
    QByteArray setUp;
    qsizetype nWhole = 12; // the fixed part, then its two counted strings
    char buffer[256];
    while (setUp.size() < nWhole && poll(&entry, 1, 1500) == 1) {
        const ssize_t nRead = recv(entry.fd, buffer, sizeof buffer, 0);
        if (nRead <= 0)
            break;
        setUp.append(buffer, nRead);
        if (setUp.size() >= 12 && nWhole == 12)
            nWhole += (uchar(setUp[6]) + 3) / 4 * 4 + (uchar(setUp[8]) + 3) / 4 * 4;
    }
    if (setUp.mid(12) == "MIT-MAGIC-COOKIE-1" + QByteArray(2, 0) + kCookie)
        send(entry.fd, "\0", 1, MSG_NOSIGNAL); // Failed: an answer all the same
    close(entry.fd);
}

// An Xauthority entry of this host's display nDisplay with the cookie.
QByteArray Authority(int nDisplay) {
    char szHost[256] = {};
    gethostname(szHost, sizeof szHost - 1);
    QByteArray entry("\x01\x00", 2); // a local display, filed under the host's name
    for (const QByteArray& field : {QByteArray(szHost), QByteArray::number(nDisplay),
                                    QByteArray("MIT-MAGIC-COOKIE-1"), kCookie})
        entry.append(char(field.size() >> 8)).append(char(field.size())).append(field);
    return entry;
}
} // namespace

class TestProgramStart : public QObject {
    Q_OBJECT
private slots:
    void displayAnswers_data() {
        QTest::addColumn<QString>("display"); // %1: the forwarding's display number
        QTest::addColumn<bool>("forwarding");
        QTest::addColumn<bool>("cookieFiled");
        QTest::addColumn<bool>("answers");
        QTest::newRow("forwarding, cookie filed") << "localhost:%1.0" << true << true << true;
        QTest::newRow("by address, cookie filed") << "127.0.0.1:%1" << true << true << true;
        QTest::newRow("forwarding, no cookie") << "localhost:%1" << true << false << false;
        QTest::newRow("no socket, then TCP") << ":%1" << true << true << true;
        QTest::newRow("no number") << "127.0.0.1" << false << false << false;
        QTest::newRow("bad screen") << ":%1.x" << false << false << false;
        // Not looked up, not connected to: Qt tries these as before.
        QTest::newRow("host name") << "display.invalid:%1" << false << false << true;
        QTest::newRow("socket path") << "/nonexistent/X%1" << false << false << true;
    }
    void displayAnswers() {
        QFETCH(QString, display);
        QFETCH(bool, forwarding);
        QFETCH(bool, cookieFiled);
        QFETCH(bool, answers);
        int nDisplay = 140, fdListen = -1;
        while (nDisplay < 200 && (fdListen = Forwarding(nDisplay)) < 0)
            ++nDisplay;
        if (fdListen < 0)
            QSKIP("no display number from 140 to 199 is free");
        QTemporaryDir folder;
        QFile authority(folder.filePath("Xauthority"));
        QVERIFY(authority.open(QIODevice::WriteOnly));
        authority.write(cookieFiled ? Authority(nDisplay) : QByteArray());
        authority.close();
        qputenv("XAUTHORITY", authority.fileName().toLocal8Bit());

        std::thread fake(Forward, forwarding ? fdListen : -1);
        QElapsedTimer timer;
        timer.start();
        const bool bAnswers =
            DisplayAnswers(display.arg(nDisplay).toLocal8Bit().constData(), kTimeoutMs);
        const qint64 nElapsed = timer.elapsed();
        fake.join();
        close(fdListen);
        QCOMPARE(bAnswers, answers);
        QVERIFY2(nElapsed < kTimeoutMs + 300, QByteArray::number(nElapsed));
    }
};

QTEST_APPLESS_MAIN(TestProgramStart)
#include "tst_programstart.moc"
