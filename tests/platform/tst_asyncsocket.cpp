#include "AsyncSocket.h"
#include "Clock.h"
#include "MessageBox.h"
#include "TestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>

#include <QtTest>

namespace {
// Records each notification and takes the datagram (or not).
class ProbeSocket : public CAsyncSocket {
public:
    int nNotified = 0;
    bool bRead = true;
    int nBufferSize = 100;
    QList<int> results;
    sockaddr_in from{};
    void OnReceive(int nError) override {
        QCOMPARE(nError, 0);
        ++nNotified;
        if (!bRead)
            return;
        QByteArray buffer(nBufferSize, '\0');
        socklen_t len = sizeof from;
        results << ReceiveFrom(buffer.data(), nBufferSize, reinterpret_cast<sockaddr*>(&from),
                               &len);
    }
    unsigned Port() const {
        QString address;
        unsigned nPort = 0;
        GetSockName(address, nPort);
        return nPort;
    }
};

bool WaitFor(const std::function<bool()>& done, int ms = 2000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        PumpEvents(5);
    return done();
}
} // namespace

class TestAsyncSocket : public QObject {
    Q_OBJECT
private slots:
    void createBindsToTheGivenAddress() {
        ProbeSocket socket;
        QVERIFY(socket.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
        QString address;
        unsigned nPort = 0;
        QVERIFY(socket.GetSockName(address, nPort));
        QCOMPARE(address, QString("127.0.0.1"));
        QVERIFY(nPort > 0);
        QVERIFY(fcntl(socket.m_hSocket, F_GETFD) & FD_CLOEXEC);
        QVERIFY(fcntl(socket.m_hSocket, F_GETFL) & O_NONBLOCK);
    }

    void createRefusesWhatItCannotBind_data() {
        QTest::addColumn<unsigned>("port");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("address");
        QTest::newRow("not an address") << 0u << int(SOCK_DGRAM) << "not.an.address";
        QTest::newRow("port above 65535") << 70000u << int(SOCK_DGRAM) << "127.0.0.1";
        QTest::newRow("stream type") << 0u << int(SOCK_STREAM) << "127.0.0.1";
    }
    void createRefusesWhatItCannotBind() {
        QFETCH(unsigned, port);
        QFETCH(int, type);
        QFETCH(QString, address);
        ProbeSocket socket;
        QVERIFY(!socket.Create(port, type, FD_READ, address.toLatin1().constData()));
        QCOMPARE(socket.m_hSocket, INVALID_SOCKET);
    }

    void oversizedDatagramFailsAndIsConsumed() {
        ProbeSocket socket;
        QVERIFY(socket.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
        UdpPeer peer;
        peer.SendTo(socket.Port(), QByteArray(101, 'x'));
        peer.SendTo(socket.Port(), QByteArray(100, 'y'));
        QVERIFY(WaitFor([&] { return socket.results.size() == 2; }));
        QCOMPARE(socket.results[0], SOCKET_ERROR);
        QCOMPARE(ntohs(socket.from.sin_port), peer.Port()); // sender still known
        QCOMPARE(socket.results[1], 100);
    }

    void oneNotificationUntilTheDatagramIsTaken() {
        ProbeSocket socket;
        socket.bRead = false;
        QVERIFY(socket.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
        UdpPeer peer;
        peer.SendTo(socket.Port(), "one");
        PumpEvents(200);
        QCOMPARE(socket.nNotified, 1);
        // Taking it re-arms the notification for the next one.
        socket.bRead = true;
        QByteArray buffer(10, '\0');
        QCOMPARE(socket.ReceiveFrom(buffer.data(), 10, nullptr, nullptr), 3);
        peer.SendTo(socket.Port(), "two");
        QVERIFY(WaitFor([&] { return socket.nNotified == 2; }));
    }

    void noNotificationsWithoutReadEvents() {
        ProbeSocket socket;
        QVERIFY(socket.Create(0, SOCK_DGRAM, 0, "127.0.0.1"));
        UdpPeer peer;
        peer.SendTo(socket.Port(), "quiet");
        PumpEvents(150);
        QCOMPARE(socket.nNotified, 0);
        QVERIFY(socket.AsyncSelect(FD_READ));
        QVERIFY(WaitFor([&] { return socket.nNotified == 1; }));
    }

    void sendToByHostText() {
        ProbeSocket socket;
        QVERIFY(socket.Create(0, SOCK_DGRAM, 0, "127.0.0.1"));
        UdpPeer peer;
        QCOMPARE(socket.SendTo("abc", 3, peer.Port(), "127.0.0.1"), 3);
        QCOMPARE(peer.Receive(), std::optional<QByteArray>("abc"));
        // A port is never cut to its low 16 bits.
        QCOMPARE(socket.SendTo("abc", 3, 65536u + peer.Port(), "127.0.0.1"), SOCKET_ERROR);
        QCOMPARE(socket.SendTo("abc", 3, peer.Port(), "host.name"), SOCKET_ERROR);
        QVERIFY(!peer.Receive(100));
    }

    void parseHostAddress_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("bValid");
        QTest::addColumn<QString>("dotted");
        QTest::newRow("dotted") << "127.0.0.1" << true << "127.0.0.1";
        QTest::newRow("second host") << "127.0.0.2" << true << "127.0.0.2";
        QTest::newRow("two parts: last fills 24 bits") << "127.1" << true << "127.0.0.1";
        QTest::newRow("three parts: last fills 16 bits") << "127.0.258" << true << "127.0.1.2";
        QTest::newRow("one number") << "2130706433" << true << "127.0.0.1";
        QTest::newRow("hexadecimal part") << "0x7f.1" << true << "127.0.0.1";
        QTest::newRow("octal part") << "0177.0.0.01" << true << "127.0.0.1";
        QTest::newRow("largest number") << "4294967295" << true << "255.255.255.255";
        QTest::newRow("whitespace ends the text") << "127.0.0.1 rest" << true << "127.0.0.1";
        QTest::newRow("a word") << "word" << false << "";
        QTest::newRow("empty") << "" << false << "";
        QTest::newRow("five parts") << "1.2.3.4.5" << false << "";
        QTest::newRow("part above 255") << "256.1.1.1" << false << "";
        QTest::newRow("number above 32 bits") << "4294967296" << false << "";
        QTest::newRow("not an octal digit") << "08.0.0.1" << false << "";
        QTest::newRow("letter after the address") << "127.0.0.1x" << false << "";
        QTest::newRow("leading space") << " 127.0.0.1" << false << "";
        QTest::newRow("trailing dot") << "127.0.0.1." << false << "";
        QTest::newRow("NUL inside") << QString::fromLatin1("127.0.0.1\0junk", 14) << false << "";
        QTest::newRow("digits of another script")
            << QString::fromUtf8("\u0661\u0662\u0667.1") << false << "";
    }
    void parseHostAddress() {
        QFETCH(QString, text);
        QFETCH(bool, bValid);
        QFETCH(QString, dotted);
        in_addr address{};
        address.s_addr = htonl(0x01020304);
        QCOMPARE(ParseHostAddress(text, &address), bValid);
        QCOMPARE(ParseHostAddress(text, nullptr), bValid);
        sockaddr_in read{};
        read.sin_addr = address;
        // A refused text leaves the address as it was.
        QCOMPARE(DottedAddress(read), bValid ? dotted : QString("1.2.3.4"));
    }

    // Binding and sending read a host text alike, so "127.1" reaches 127.0.0.1.
    void hostTextOnTheWire_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("bound");
        QTest::newRow("dotted") << "127.0.0.1"
                                << "127.0.0.1";
        QTest::newRow("two parts") << "127.1"
                                   << "127.0.0.1";
        QTest::newRow("hexadecimal") << "0x7f.0.0.1"
                                     << "127.0.0.1";
        QTest::newRow("one number") << "2130706433"
                                    << "127.0.0.1";
        QTest::newRow("second host, two parts") << "127.2"
                                                << "127.0.0.2";
    }
    void hostTextOnTheWire() {
        QFETCH(QString, text);
        QFETCH(QString, bound);
        QByteArray host = text.toLatin1();
        ProbeSocket socket;
        QVERIFY(socket.Create(0, SOCK_DGRAM, FD_READ, host.constData()));
        QString address;
        unsigned nPort = 0;
        QVERIFY(socket.GetSockName(address, nPort));
        QCOMPARE(address, bound);
        if (bound != "127.0.0.1")
            return; // the peer listens on 127.0.0.1 only
        UdpPeer peer;
        QCOMPARE(socket.SendTo("ping", 4, peer.Port(), host.constData()), 4);
        QCOMPARE(peer.Receive(), std::optional<QByteArray>("ping"));
        // And the answer comes back to the socket bound by that text.
        QVERIFY(peer.SendTo(static_cast<uint16_t>(nPort), "pong"));
        QVERIFY(WaitFor([&] { return socket.results.size() == 1; }));
        QCOMPARE(socket.results[0], 4);
        QCOMPARE(DottedAddress(socket.from), QString("127.0.0.1"));
    }

    void bufferSizeReadsBackAsSet_data() {
        QTest::addColumn<int>("option");
        QTest::addColumn<int>("asked");
        for (int option : {SO_SNDBUF, SO_RCVBUF}) {
            const char* name = option == SO_SNDBUF ? "send" : "receive";
            for (int asked : {28, 84, 532, 1044, 8212, 65484}) {
                QTest::addRow("%s %d", name, asked) << option << asked;
            }
        }
    }
    void bufferSizeReadsBackAsSet() {
        QFETCH(int, option);
        QFETCH(int, asked);
        ProbeSocket socket;
        QVERIFY(socket.Create(0, SOCK_DGRAM, 0, "127.0.0.1"));
        QVERIFY(socket.SetSockOpt(option, &asked, sizeof asked));
        int granted = 0;
        socklen_t len = sizeof granted;
        QVERIFY(socket.GetSockOpt(option, &granted, &len));
        QCOMPARE(granted, asked);
    }

    void bufferSizeHookDecidesTheGrant() {
        ProbeSocket socket;
        QVERIFY(socket.Create(0, SOCK_DGRAM, 0, "127.0.0.1"));
        CAsyncSocket::SetBufferSizeHook([](int, int nAsked, int* pGranted) {
            if (nAsked > 5000)
                return false;
            *pGranted = nAsked / 2;
            return true;
        });
        int asked = 1044, granted = 0;
        socklen_t len = sizeof granted;
        QVERIFY(socket.SetSockOpt(SO_RCVBUF, &asked, sizeof asked));
        QVERIFY(socket.GetSockOpt(SO_RCVBUF, &granted, &len));
        QCOMPARE(granted, 522);
        asked = 8212;
        QVERIFY(!socket.SetSockOpt(SO_SNDBUF, &asked, sizeof asked));
        CAsyncSocket::SetBufferSizeHook(nullptr);
    }

    void datagramHookReplacesTheWire() {
        QList<CAsyncSocket::Datagram> waiting, sent;
        const CAsyncSocket* pAsked = nullptr;
        CAsyncSocket::SetDatagramHook(
            {[&](const CAsyncSocket* pSocket, CAsyncSocket::Datagram* pDatagram) {
                 pAsked = pSocket;
                 if (waiting.isEmpty())
                     return false;
                 *pDatagram = waiting.takeFirst();
                 return true;
             },
             [&](const CAsyncSocket*, const CAsyncSocket::Datagram& datagram) {
                 sent << datagram;
                 return datagram.bytes != "refused";
             }});
        ProbeSocket socket;
        QVERIFY(socket.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
        QCOMPARE(socket.m_hSocket, CAsyncSocket::kHookedSocket);
        QString address;
        unsigned nPort = 0;
        QVERIFY(socket.GetSockName(address, nPort));
        QCOMPARE(address, QString("127.0.0.1"));
        QVERIFY(nPort > 0);
        ProbeSocket other;
        QVERIFY(other.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
        QVERIFY(other.Port() != nPort);

        // The sender is the one chosen; nothing waiting reads as EAGAIN; a
        // datagram larger than the buffer fails whole, its start in the buffer.
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_port = htons(4321);
        from.sin_addr.s_addr = htonl(0x0A000001);
        waiting << CAsyncSocket::Datagram{"hello", from}
                << CAsyncSocket::Datagram{QByteArray(200, 'x'), from};
        socket.OnReceive(0);
        QCOMPARE(pAsked, &socket);
        QCOMPARE(socket.results, QList<int>{5});
        QCOMPARE(DottedAddress(socket.from), QString("10.0.0.1"));
        QCOMPARE(ntohs(socket.from.sin_port), 4321);
        socket.OnReceive(0);
        QCOMPARE(socket.results.last(), SOCKET_ERROR);
        QCOMPARE(CAsyncSocket::GetLastError(), EMSGSIZE);
        socket.OnReceive(0);
        QCOMPARE(socket.results.last(), SOCKET_ERROR);
        QCOMPARE(CAsyncSocket::GetLastError(), EAGAIN);

        // Sends are recorded, not sent; the hook may make one fail.
        const long long nBefore = CAsyncSocket::DatagramsSent();
        QCOMPARE(socket.SendTo("ping", 4, 5555, "127.0.0.2"), 4);
        QCOMPARE(socket.SendTo("refused", 7, 5555, "127.0.0.2"), SOCKET_ERROR);
        QCOMPARE(CAsyncSocket::GetLastError(), ENOBUFS);
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0].bytes, QByteArray("ping"));
        QCOMPARE(DottedAddress(sent[0].peer), QString("127.0.0.2"));
        QCOMPARE(ntohs(sent[0].peer.sin_port), 5555);
        QCOMPARE(CAsyncSocket::DatagramsSent(), nBefore + 1);

        socket.Close();
        QCOMPARE(socket.m_hSocket, INVALID_SOCKET);
        other.Close();
        CAsyncSocket::SetDatagramHook({});
        // Without the hook sockets are real again.
        ProbeSocket real;
        QVERIFY(real.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
        QVERIFY(real.m_hSocket >= 0);
    }

    void clockOverrideSteps() {
        CTime::SetTestTime(1000);
        QCOMPARE(CTime::GetCurrentTime().GetTime(), time_t(1000));
        CTime::AdvanceTestTime(31);
        QCOMPARE(CTime::GetCurrentTime().GetTime(), time_t(1031));
        CTime::SetTestTime(std::nullopt);
        QVERIFY(qAbs(CTime::GetCurrentTime().GetTime() - std::time(nullptr)) <= 1);
    }

    void messageBoxWithoutHandlerAnswersAtOnce_data() {
        QTest::addColumn<unsigned>("type");
        QTest::addColumn<int>("answer");
        QTest::newRow("ok") << MB_OK << IDOK;
        QTest::newRow("ok with icon") << (MB_OK | MB_ICONINFORMATION) << IDOK;
        // Nobody is there to say yes: a question is answered No whatever its default.
        QTest::newRow("yes/no question") << (MB_YESNO | MB_ICONQUESTION) << IDNO;
        QTest::newRow("yes/no, second default") << (MB_YESNO | MB_DEFBUTTON2) << IDNO;
        QTest::newRow("ok/cancel") << MB_OKCANCEL << IDOK;
    }
    void messageBoxWithoutHandlerAnswersAtOnce() {
        QFETCH(unsigned, type);
        QFETCH(int, answer);
        QCOMPARE(AfxMessageBox("headless", type), answer);
    }

    void messageBoxHandlerRecordsAndAnswers() {
        MessageBoxRecorder recorder({IDNO});
        QCOMPARE(AfxMessageBox("File already exists\n\nOverwrite it ?", MB_YESNO | MB_ICONQUESTION),
                 IDNO);
        QCOMPARE(AfxMessageBox("second"), IDOK);
        QCOMPARE(recorder.texts, QStringList({"File already exists\n\nOverwrite it ?", "second"}));
    }
};

QTEST_GUILESS_MAIN(TestAsyncSocket)
#include "tst_asyncsocket.moc"
