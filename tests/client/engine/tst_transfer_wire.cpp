// The client's transfer object against a scripted server made of raw UDP
// sockets: the server takes the request on one port and answers from another,
// as a real one does.
#include "ClientFixture.h"
#include "Idle.h"
#include "MessageBox.h"
#include "Modal.h"

#include <arpa/inet.h>

#include <QtTest>

namespace {
using Posted = RecordingView::Posted;

const QByteArray kOptionFailureError = ErrorPacket(7, "Option negotion failure");
const QByteArray kUnknownOperation = ErrorPacket(4, "Unknown TFTP Operation");
const QByteArray kUnknownTransfer = ErrorPacket(5, "Unknown transfer ID");
const QByteArray kDiskFull = ErrorPacket(3, "Disk full");
const QByteArray kOptionFailurePacket("\0\x08\0\0Inconclusive system error\0", 30);

// One transfer against the scripted server, the transfer object made and
// set as the view sets it before a request.
struct Wire {
    ClientFixture f{ClientFixture::Ticks::Test};
    UdpPeer listener; // where requests go
    UdpPeer session;  // the server's transfer identifier
    const int bSending;
    uint16_t nClientPort = 0;
    QByteArray request;

    explicit Wire(int bSendingIn = 0, int nBlockSize = 512, int nTimeout = 10, int bSendTimeout = 0)
        : bSending(bSendingIn) {
        f.NewTransfer(bSending, nBlockSize, nTimeout, bSendTimeout);
    }

    CTransferSocket& T() { return f.T(); }

    // What the view passes to start the transfer; left out, the listener on
    // 127.0.0.1, octet, and out.bin to send or got.bin to fetch into.
    struct Ask {
        QString strRemote = "r";
        QString strLocal = {};
        QString strHost = "127.0.0.1";
        int nPortOffset = 0; // from the listener's port
        int bOctet = 1;
    };
    int StartCall(const Ask& ask) {
        const QString strLocal = !ask.strLocal.isEmpty() ? ask.strLocal
                                 : bSending              ? "out.bin"
                                                         : "got.bin";
        const int nPort = listener.Port() + ask.nPortOffset;
        return bSending ? T().StartSend(ask.strRemote, strLocal, ask.strHost, nPort, ask.bOctet, {})
                        : T().StartFetch(ask.strRemote, strLocal, ask.strHost, nPort, ask.bOctet);
    }
    bool TakeRequest() {
        auto r = listener.Receive(2000, &nClientPort);
        request = r.value_or(QByteArray());
        return r.has_value();
    }
    bool Fetch(const QString& strRemote = "remote.bin", const QString& strLocal = "got.bin") {
        return StartCall({.strRemote = strRemote, .strLocal = strLocal}) == 1 && TakeRequest();
    }
    bool Send(const QByteArray& content) {
        f.WriteLocal("out.bin", content);
        return StartCall({.strRemote = "remote.bin"}) == 1 && TakeRequest();
    }
    // Sends content, or fetches it, as the transfer was made to.
    bool Start(const QByteArray& content) { return bSending ? Send(content) : Fetch(); }
    // Without options the server's first answer to a transfer of content,
    // and the client's reply to it: block 1 going across.
    QByteArray FirstAnswer(const QByteArray& content) const {
        return bSending ? Ack(0) : Data(1, content.left(512));
    }
    QByteArray FirstReply(const QByteArray& content) const {
        return bSending ? Data(1, content.left(512)) : Ack(1);
    }
    void Answer(const QByteArray& packet) { session.SendTo(nClientPort, packet); }
    std::optional<QByteArray> Reply(int ms = 1000) { return session.Receive(ms); }
    std::optional<QByteArray> Exchange(const QByteArray& packet, int ms = 1000) {
        Answer(packet);
        return Reply(ms);
    }
    // Nothing reaches either server port within ms.
    bool Silent(int ms = 300) {
        return !session.Receive(ms).has_value() && !listener.Receive(1).has_value();
    }
};

// A byte string literal with its NULs, without the final one.
template <size_t N> QByteArray B(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

std::optional<QByteArray> Some(const QByteArray& bytes) {
    return bytes;
}

QList<Posted> Progress(const QList<long>& values, long nKind) {
    QList<Posted> list;
    for (long v : values)
        list << Posted{WM_CLIENT_PROGRESS, nKind, v};
    return list;
}
} // namespace

Q_DECLARE_METATYPE(QList<Posted>)

class TestTransferWire : public QObject {
    Q_OBJECT
private slots:
    void buildRequestLaysOutTheExample() {
        ClientFixture f;
        CTransferSocket& t = f.NewTransfer(0, 1024, 10, 1);
        uint8_t abBuffer[100];
        int n = t.BuildRequest(1, "boot.img", abBuffer, "octet");
        QCOMPARE(n, 49);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(abBuffer), n),
                 B("\0\1boot.img\0octet\0tsize\0"
                   "0\0timeout\0"
                   "10\0blksize\0"
                   "1024\0"));
        QCOMPARE(t.RequestLength("boot.img", "octet"), 49);
    }

    void requestOnTheWire_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("nBlockSize");
        QTest::addColumn<int>("bSendTimeout");
        QTest::addColumn<int>("bOctet");
        QTest::addColumn<QString>("strRemote");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("strStatus");
        QTest::newRow("fetch, defaults: tsize only") << 0 << 512 << 0 << 1 << "a.bin"
                                                     << B("\0\1a.bin\0octet\0tsize\0"
                                                          "0\0")
                                                     << "Requesting file from server ...";
        QTest::newRow("send, defaults: no option")
            << 1 << 512 << 0 << 1 << "a.bin" << B("\0\2a.bin\0octet\0")
            << "Offering file to server ...";
        QTest::newRow("fetch netascii with time-out and block size")
            << 0 << 8192 << 1 << 0 << "dir/x.txt"
            << B("\0\1dir/x.txt\0netascii\0tsize\0"
                 "0\0timeout\0"
                 "10\0blksize\0"
                 "8192\0")
            << "Requesting file from server ...";
        QTest::newRow("send: options without tsize") << 1 << 64 << 1 << 1 << "b"
                                                     << B("\0\2"
                                                          "b\0octet\0timeout\0"
                                                          "10\0blksize\0"
                                                          "64\0")
                                                     << "Offering file to server ...";
        // A 500-character name with block size 64 is longer than the
        // packet buffer of block size + 20; it still goes out whole.
        QByteArray longName(500, 'n');
        QTest::newRow("long name, small block size")
            << 0 << 64 << 0 << 1 << QString::fromLatin1(longName)
            << B("\0\1") + longName +
                   B("\0octet\0tsize\0"
                     "0\0blksize\0"
                     "64\0")
            << "Requesting file from server ...";
    }
    void requestOnTheWire() {
        QFETCH(int, bSending);
        QFETCH(int, nBlockSize);
        QFETCH(int, bSendTimeout);
        QFETCH(int, bOctet);
        QFETCH(QString, strRemote);
        QFETCH(QByteArray, expected);
        QFETCH(QString, strStatus);
        Wire w(bSending, nBlockSize, 10, bSendTimeout);
        w.f.core.m_bOverWrite = 1;
        w.f.WriteLocal("local.bin", "x");
        QCOMPARE(w.StartCall({.strRemote = strRemote, .strLocal = "local.bin", .bOctet = bOctet}),
                 1);
        QVERIFY(w.TakeRequest());
        QCOMPARE(w.request, expected);
        QCOMPARE(w.T().m_bActive, 1);
        QCOMPARE(w.T().m_nBlock, 1);
        QCOMPARE(w.f.core.statuses, QStringList{strStatus});
    }

    void messagesArePostedNotSent() {
        ClientFixture f;
        f.NewTransfer(0);
        QVERIFY(f.view.posted.isEmpty());
        PumpEvents(20);
        QCOMPARE(f.view.posted, (QList<Posted>{{WM_CLIENT_ADDRESS, 0, 0}}));
        QCOMPARE(f.T().m_strLocalAddress, QString("127.0.0.1"));
        QString strAddress;
        unsigned nPort = 0;
        QVERIFY(f.T().GetSockName(strAddress, nPort));
        QCOMPARE(strAddress, QString("127.0.0.1"));
        QVERIFY(nPort != 0);
    }

    void viewGoneBeforeItsMessagesArrive() {
        ClientFixture f;
        {
            RecordingView view;
            auto pTransfer = f.MakeTransfer(view);
            QCOMPARE(pTransfer->CreateTransferSocket(), 1); // posts to a view that then goes
        }
        PumpEvents(20); // nothing is delivered to it
        QVERIFY(f.view.posted.isEmpty());
    }

    void fetchWithOptions_data() {
        QTest::addColumn<QByteArray>("oack");
        QTest::addColumn<int>("nAsked");
        QTest::addColumn<int>("nInForce");
        QTest::addColumn<int>("nFileSize");
        QTest::addColumn<QList<Posted>>("expectedStart");
        const Posted address{WM_CLIENT_ADDRESS, 0, 0};
        QTest::newRow("tsize, timeout and blksize in one OACK")
            << Oack({"tsize", "1000", "timeout", "3", "blksize", "600"}) << 1024 << 600 << 1000
            << QList<Posted>{address, {WM_CLIENT_PROGRESS, 0, 1000}};
        QTest::newRow("blksize as asked changes nothing")
            << Oack({"blksize", "1024"}) << 1024 << 1024 << 2048 << QList<Posted>{address};
        QTest::newRow("BLKSIZE in capitals, lowered to the least")
            << Oack({"BLKSIZE", "8"}) << 64 << 8 << 20 << QList<Posted>{address};
        QTest::newRow("tsize alone at the default block size")
            << Oack({"tsize", "700"}) << 512 << 512 << 700
            << QList<Posted>{address, {WM_CLIENT_PROGRESS, 0, 700}};
        // The server did not take the block size offered, so it sends 512.
        QTest::newRow("blksize not acknowledged: default block size")
            << Oack({"tsize", "700"}) << 1024 << 512 << 700
            << QList<Posted>{address, {WM_CLIENT_PROGRESS, 0, 700}, {WM_CLIENT_BLOCKSIZE, 0, 512}};
        QTest::newRow("unknown option passed over")
            << Oack({"colour", "7", "tsize", "5"}) << 512 << 512 << 5
            << QList<Posted>{address, {WM_CLIENT_PROGRESS, 0, 5}};
        QTest::newRow("pair cut off by the datagram's end")
            << B("\0\6tsize\0"
                 "12")
            << 512 << 512 << 12 << QList<Posted>{address};
        QTest::newRow("value ends at its first non-digit")
            << B("\0\6tsize\0"
                 "30x\0")
            << 512 << 512 << 30 << QList<Posted>{address, {WM_CLIENT_PROGRESS, 0, 30}};
        QTest::newRow("empty file") << Oack({"tsize", "0"}) << 512 << 512 << 0
                                    << QList<Posted>{address, {WM_CLIENT_PROGRESS, 0, 0}};
    }
    void fetchWithOptions() {
        QFETCH(QByteArray, oack);
        QFETCH(int, nAsked);
        QFETCH(int, nInForce);
        QFETCH(int, nFileSize);
        QFETCH(QList<Posted>, expectedStart);
        Wire w(0, nAsked, 10, 1);
        QVERIFY(w.Fetch());
        QCOMPARE(w.Exchange(oack), Some(Ack(0)));
        QCOMPARE(w.T().m_nBlockSize, nInForce);
        QCOMPARE(w.T().m_nTimeout, 10); // never the server's
        QCOMPARE(w.T().m_nBlock, 1);

        QByteArray content = Pattern(nFileSize);
        QStringList expectedStatus{"Requesting file from server ..."};
        QList<long> progress;
        int nBlocks = nFileSize / nInForce + 1;
        for (int k = 1; k <= nBlocks; ++k) {
            QByteArray block = content.mid((k - 1) * nInForce, nInForce);
            AdvanceTestTickCount(CTransferSocket::kReportEveryMs); // each block's progress is due
            // Meanwhile the timer sent the last ACK again, once (it waits
            // 50 ms on a link this fast, then twice as long).
            QCOMPARE(w.Reply(), Some(Ack(k - 1)));
            QCOMPARE(w.Exchange(Data(k, block)), Some(Ack(k)));
            int nSoFar = std::min(k * nInForce, nFileSize);
            progress << nSoFar;
            expectedStatus << QString("Received %1 bytes (%2 blocks)").arg(nSoFar).arg(k);
        }
        expectedStatus
            << QString("Received %1 bytes (%2 blocks) - Done").arg(nFileSize).arg(nBlocks);
        PumpEvents(20);
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(w.f.ReadLocal("got.bin"), content);
        QCOMPARE(w.f.core.statuses, expectedStatus);
        bool bTsize = expectedStart.size() > 1 && expectedStart[1].nMessage == WM_CLIENT_PROGRESS &&
                      expectedStart[1].lParam != 0;
        QCOMPARE(w.f.view.posted,
                 expectedStart + (bTsize ? Progress(progress, 2) : QList<Posted>{}));
        QVERIFY(w.Silent());
    }

    void fetchFromServerIgnoringOptions_data() {
        QTest::addColumn<int>("nAsked");
        QTest::addRow("asked 1024") << 1024;
        QTest::addRow("asked 64") << 64;
        QTest::addRow("asked 512") << 512;
    }
    void fetchFromServerIgnoringOptions() {
        QFETCH(int, nAsked);
        Wire w(0, nAsked);
        QVERIFY(w.Fetch());
        QByteArray content = Pattern(700);
        QCOMPARE(w.Exchange(Data(1, content.left(512))), Some(Ack(1)));
        QCOMPARE(w.T().m_bActive, 1); // a full block of 512 is not the last
        QCOMPARE(w.Exchange(Data(2, content.mid(512))), Some(Ack(2)));
        PumpEvents(20);
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(w.f.ReadLocal("got.bin"), content);
        QCOMPARE(w.f.core.LastStatus(), QString("Received 700 bytes (2 blocks) - Done"));
        // Without tsize there is no progress, only the status line.
        QList<Posted> expected{{WM_CLIENT_ADDRESS, 0, 0}};
        if (nAsked != 512)
            expected << Posted{WM_CLIENT_BLOCKSIZE, 0, 512};
        QCOMPARE(w.f.view.posted, expected);
    }

    // The time-out sent is the server's wait; the client gives up after six
    // of them.
    void oackTimeoutNeverChangesOurs() {
        CTime::SetTestTime(5000);
        Wire w(0, 512, 10, 1);
        QVERIFY(w.Fetch());
        QCOMPARE(w.Exchange(Oack({"timeout", "1"})), Some(Ack(0)));
        QCOMPARE(w.T().m_nTimeout, 10);
        CTime::SetTestTime(5060);
        w.T().CheckTimeout();
        QCOMPARE(w.T().m_bActive, 1);
        CTime::SetTestTime(5061);
        w.T().CheckTimeout();
        QCOMPARE(w.T().m_bActive, 0);
    }

    void oackBlockSizeOutOfBounds_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("nAsked");
        QTest::addColumn<QByteArray>("oack");
        QTest::newRow("fetch, above the offer") << 0 << 1024 << Oack({"blksize", "1025"});
        QTest::newRow("fetch, zero") << 0 << 1024 << Oack({"blksize", "0"});
        QTest::newRow("fetch, seven") << 0 << 1024 << Oack({"tsize", "9", "blksize", "7"});
        QTest::newRow("fetch, none offered") << 0 << 512 << Oack({"blksize", "1024"});
        QTest::newRow("send, above the offer") << 1 << 8192 << Oack({"blksize", "65464"});
        QTest::newRow("send, zero") << 1 << 1024 << Oack({"blksize", "0"});
        QTest::newRow("send, huge") << 1 << 1024 << Oack({"blksize", "99999999999"});
    }
    void oackBlockSizeOutOfBounds() {
        QFETCH(int, bSending);
        QFETCH(int, nAsked);
        QFETCH(QByteArray, oack);
        Wire w(bSending, nAsked);
        QVERIFY(w.Start(Pattern(3000)));
        QCOMPARE(w.Exchange(oack), Some(kOptionFailureError));
        QVERIFY(w.Silent());
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(w.T().m_nBlockSize, nAsked);
        QCOMPARE(w.f.core.LastStatus(), QString("Option Failure"));
        QVERIFY(!w.T().m_pFile);
    }

    void serverErrorEndsQuietly_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QString>("strStatus");
        QTest::newRow("fetch, short text")
            << 0 << ErrorPacket(1, "File not found") << "Msg from Server > File not found";
        QTest::newRow("send, short text")
            << 1 << ErrorPacket(2, "Access violation") << "Msg from Server > Access violation";
        QByteArray longText = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
        QTest::newRow("fetch, long text cut at 42")
            << 0 << ErrorPacket(0, longText) << "Msg from Server > " + QString(longText.left(42));
        QTest::newRow("send, exactly 42") << 1 << ErrorPacket(0, longText.left(42))
                                          << "Msg from Server > " + QString(longText.left(42));
        QTest::newRow("text without its NUL") << 0 << B("\0\5\0\1abc") << "Msg from Server > abc";
        QTest::newRow("no text at all") << 1 << B("\0\5\0\0") << "Msg from Server > ";
    }
    void serverErrorEndsQuietly() {
        QFETCH(int, bSending);
        QFETCH(QByteArray, packet);
        QFETCH(QString, strStatus);
        Wire w(bSending);
        QByteArray content = Pattern(2000);
        QVERIFY(w.Start(content));
        QCOMPARE(w.Exchange(w.FirstAnswer(content)), Some(w.FirstReply(content)));
        w.Answer(packet);
        QVERIFY(w.Silent());
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(w.f.core.LastStatus(), strStatus);
        QVERIFY(strStatus.size() <= 60);
        if (!bSending)
            QCOMPARE(w.f.ReadLocal("got.bin"), content.left(512)); // kept
        w.Answer(Data(2, content.mid(512, 512)));
        QVERIFY(w.Silent()); // an ended transfer answers nothing
    }

    void optionFailurePacket_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QString>("strStatus");
        QTest::newRow("send") << 1 << kOptionFailurePacket << "Option Failure";
        QTest::newRow("send, any other bytes") << 1 << B("\0\x08zz") << "Option Failure";
        QTest::newRow("fetch: no status line")
            << 0 << kOptionFailurePacket << "Requesting file from server ...";
    }
    void optionFailurePacket() {
        QFETCH(int, bSending);
        QFETCH(QByteArray, packet);
        QFETCH(QString, strStatus);
        Wire w(bSending, 1024);
        QVERIFY(w.Start("abc"));
        QCOMPARE(w.Exchange(packet), Some(kOptionFailureError));
        QVERIFY(w.Silent());
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(w.f.core.LastStatus(), strStatus);
    }

    void unexpectedOpcode_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QString>("strStatus");
        QTest::newRow("fetch, opcode 7")
            << 0 << B("\0\x07\0\1") << "Unknown TFTP command received 7";
        QTest::newRow("fetch, ACK") << 0 << Ack(1) << "Unknown TFTP command received 4";
        QTest::newRow("fetch, write request")
            << 0 << MakeRequest(2, "x", "octet") << "Unknown TFTP command received 2";
        QTest::newRow("fetch, opcode 0x8000 is negative")
            << 0 << B("\x80\0\0\0") << "Unknown TFTP command received -32768";
        QTest::newRow("fetch, opcode 0xFFFF")
            << 0 << B("\xff\xff\0\0") << "Unknown TFTP command received -1";
        QTest::newRow("send, DATA: no status line")
            << 1 << Data(1, "abc") << "Offering file to server ...";
        QTest::newRow("send, opcode 0") << 1 << B("\0\0\0\0") << "Offering file to server ...";
    }
    void unexpectedOpcode() {
        QFETCH(int, bSending);
        QFETCH(QByteArray, packet);
        QFETCH(QString, strStatus);
        Wire w(bSending);
        QVERIFY(w.Start("abc"));
        QCOMPARE(w.Exchange(packet), Some(kUnknownOperation));
        QVERIFY(w.Silent());
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(w.f.core.LastStatus(), strStatus);
    }

    // A repeat of the block written last means its ACK was lost: it is
    // acknowledged again, never written again; other blocks are passed over.
    void dataOutOfTurnIgnored_data() {
        QTest::addColumn<int>("nStray");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("repeat of block 1") << 1 << Ack(1);
        QTest::newRow("block 3 ahead") << 3 << QByteArray();
        QTest::newRow("block 0") << 0 << QByteArray();
    }
    void dataOutOfTurnIgnored() {
        QFETCH(int, nStray);
        QFETCH(QByteArray, reply);
        Wire w;
        QVERIFY(w.Fetch());
        QByteArray content = Pattern(1000);
        QCOMPARE(w.Exchange(Data(1, content.left(512))), Some(Ack(1)));
        QCOMPARE(w.Exchange(Data(nStray, Pattern(512, 9)), 200),
                 reply.isEmpty() ? std::nullopt : Some(reply));
        QCOMPARE(w.T().m_nBlock, 2);
        QCOMPARE(w.f.core.statuses.size(), 2);
        QCOMPARE(w.Exchange(Data(2, content.mid(512))), Some(Ack(2)));
        PumpEvents(20);
        QCOMPARE(w.f.ReadLocal("got.bin"), content);
        QCOMPARE(w.f.core.LastStatus(), QString("Received 1000 bytes (2 blocks) - Done"));
    }

    // A windowed transfer step by step: the OACK's window, then what the
    // server sends ("data N" a full block, "last N" the short one that ends
    // the file, "ack N", "timer" for the client's retransmission timer) and
    // what the client answers with ("" for silence, "error N").
    void windowWire_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<QByteArray>("granted"); // the OACK's windowsize ("": none)
        QTest::addColumn<QStringList>("script"); // step, answer, step, answer, ...
        QTest::addColumn<int>("nWindow");        // in force afterwards
        QTest::newRow("fetch: ACK per window, once per gap, the timer")
            << 0 << QByteArray("4")
            << QStringList{"oack",   "ack 0",  "data 1",  "",       "data 2", "",       "data 3",
                           "",       "data 4", "ack 4",   "data 6", "ack 4",  "data 7", "",
                           "data 5", "",       "data 6",  "",       "data 7", "",       "data 8",
                           "ack 8",  "data 3", "ack 8",   "data 2", "",       "data 9", "",
                           "timer",  "ack 9",  "last 10", "ack 10"}
            << 4;
        QTest::newRow("send: windows, a partial ACK, duplicates, the timer")
            << 1 << QByteArray("4") << QStringList{"oack",   "data 1 2 3 4",
                                                   "ack 4",  "data 5 6 7 8",
                                                   "ack 6",  "data 7 8 9 10",
                                                   "ack 6",  "",
                                                   "ack 3",  "",
                                                   "ack 12", "",
                                                   "timer",  "data 7 8 9 10",
                                                   "ack 10", "data 11",
                                                   "ack 11", ""}
            << 4;
        QTest::newRow("fetch: a smaller window granted")
            << 0 << QByteArray("2") << QStringList{"oack", "ack 0", "data 1", "", "data 2", "ack 2"}
            << 2;
        QTest::newRow("fetch: no window granted, lock-step")
            << 0 << QByteArray() << QStringList{"oack", "ack 0", "data 1", "ack 1"} << 1;
        // Refused as a block size is: ERROR 7, the client's option failure.
        QTest::newRow("fetch: more than asked is an option failure")
            << 0 << QByteArray("8") << QStringList{"oack", "error 7"} << 4;
        QTest::newRow("send: a window of 0 is an option failure")
            << 1 << QByteArray("0") << QStringList{"oack", "error 7"} << 4;
    }
    void windowWire() {
        QFETCH(int, bSending);
        QFETCH(QByteArray, granted);
        QFETCH(QStringList, script);
        QFETCH(int, nWindow);
        Wire w(bSending);
        const QByteArray content = Pattern(10 * 512 + 100);
        w.T().m_nWindowSize = 4;
        QVERIFY(w.Start(content));
        QVERIFY(w.request.endsWith(B("windowsize\0"
                                     "4\0")));
        WindowScript play;
        play.content = content;
        play.send = [&](const QByteArray& packet) { w.Answer(packet); };
        play.receive = [&](int ms) { return w.Reply(ms); };
        play.other = [&](const QString& step) {
            if (step == "timer")
                return w.f.FireRetransmission();
            w.Answer(granted.isEmpty() ? Oack({"blksize", "512"}) : Oack({"windowsize", granted}));
            return true;
        };
        for (int i = 0; i + 1 < script.size(); i += 2)
            QCOMPARE(play.Play(script[i], script[i + 1]), script[i + 1]);
        QCOMPARE(w.T().m_nWindowSize, nWindow);
        if (script.last() == "ack 10") {
            QCOMPARE(w.T().m_bActive, 0);
            QCOMPARE(w.f.ReadLocal("got.bin"), play.stored);
        }
    }

    void blockCounterAgainstWireNumbers_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("nCounter"); // the block awaited, or to go out next
        QTest::addColumn<int>("nWire");    // the DATA, or ACK, that comes
        QTest::addColumn<bool>("bAnswered");
        QTest::newRow("32768") << 0 << 32768 << 32768 << true;
        QTest::newRow("40000") << 0 << 40000 << 40000 << true;
        QTest::newRow("65535") << 0 << 65535 << 65535 << true;
        // Past 65535 the numbers on the wire start again at 0.
        QTest::newRow("65536 is 0 on the wire") << 0 << 65536 << 0 << true;
        QTest::newRow("65537 is 1 on the wire") << 0 << 65537 << 1 << true;
        QTest::newRow("131071 is 65535 on the wire") << 0 << 131071 << 65535 << true;
        QTest::newRow("65536 does not take 1") << 0 << 65536 << 1 << false;
        QTest::newRow("65536 does not take 65535 again") << 0 << 65536 << 65535 << false;
        QTest::newRow("send: ACK 65534 brings 65535") << 1 << 65535 << 65534 << true;
        QTest::newRow("send: ACK 65535 brings 0") << 1 << 65536 << 65535 << true;
        QTest::newRow("send: ACK 0 brings 1") << 1 << 65537 << 0 << true;
        QTest::newRow("send: ACK 65535 again after the wrap") << 1 << 65537 << 65535 << false;
    }
    void blockCounterAgainstWireNumbers() {
        QFETCH(int, bSending);
        QFETCH(int, nCounter);
        QFETCH(int, nWire);
        QFETCH(bool, bAnswered);
        Wire w(bSending);
        if (bSending) {
            QVERIFY(w.Send(Pattern(4096)));
            QCOMPARE(w.Exchange(Ack(0)).value_or("").left(4), Data(1, {}));
        } else {
            QVERIFY(w.Fetch());
            QCOMPARE(w.Exchange(Data(1, Pattern(512))), Some(Ack(1)));
        }
        w.T().m_nBlock = nCounter;
        auto reply = w.Exchange(bSending ? Ack(nWire) : Data(nWire, Pattern(512, 1)), 300);
        // The block before the one awaited is not taken, but acknowledged again.
        const bool bRepeat = !bSending && nWire == ((nCounter - 1) & 0xFFFF);
        QCOMPARE(reply.has_value(), bAnswered || bRepeat);
        if (bAnswered || bRepeat)
            QCOMPARE(reply->left(4), bSending ? Data(nCounter & 0xFFFF, {}) : Ack(nWire));
        QCOMPARE(w.T().m_nBlock, bAnswered ? nCounter + 1 : nCounter);
    }

    void sendExchange_data() {
        QTest::addColumn<int>("nAsked");
        QTest::addColumn<QByteArray>("firstAnswer");
        QTest::addColumn<int>("nFileSize");
        QTest::addColumn<int>("nInForce");
        QTest::addColumn<QStringList>("expectedStatus");
        QTest::newRow("empty file: one empty block")
            << 512 << Ack(0) << 0 << 512 << QStringList{"Sent 0 bytes"};
        QTest::newRow("512 bytes: a full block and an empty one")
            << 512 << Ack(0) << 512 << 512
            << QStringList{"Sent 512 bytes (100%)", "Sent 512 bytes (100%)"};
        QTest::newRow("1000 bytes")
            << 512 << Ack(0) << 1000 << 512
            << QStringList{"Sent 512 bytes (51%)", "Sent 1000 bytes (100%)"};
        QTest::newRow("1024 bytes, OACK keeps 1024")
            << 1024 << Oack({"blksize", "1024"}) << 1024 << 1024
            << QStringList{"Sent 1024 bytes (100%)", "Sent 1024 bytes (100%)"};
        QTest::newRow("OACK lowers to 600, tsize passed over")
            << 1024 << Oack({"tsize", "5", "blksize", "600"}) << 1000 << 600
            << QStringList{"Sent 600 bytes (60%)", "Sent 1000 bytes (100%)"};
        QTest::newRow("server ignoring options: default size")
            << 1024 << Ack(0) << 1000 << 512
            << QStringList{"Sent 512 bytes (51%)", "Sent 1000 bytes (100%)"};
        QTest::newRow("three blocks of 8")
            << 64 << Oack({"blksize", "8"}) << 20 << 8
            << QStringList{"Sent 8 bytes (40%)", "Sent 16 bytes (80%)", "Sent 20 bytes (100%)"};
    }
    void sendExchange() {
        QFETCH(int, nAsked);
        QFETCH(QByteArray, firstAnswer);
        QFETCH(int, nFileSize);
        QFETCH(int, nInForce);
        QFETCH(QStringList, expectedStatus);
        Wire w(1, nAsked);
        QByteArray content = Pattern(nFileSize);
        QVERIFY(w.Send(content));
        PumpEvents(20);
        QCOMPARE(w.f.view.posted,
                 (QList<Posted>{{WM_CLIENT_ADDRESS, 0, 0}, {WM_CLIENT_PROGRESS, 0, nFileSize}}));
        w.f.view.posted.clear();

        QByteArray received;
        QList<long> progress;
        SetTestTickCount(1000);
        auto reply = w.Exchange(firstAnswer);
        int nBlock = 1;
        for (;; ++nBlock) {
            QVERIFY2(reply.has_value(), qPrintable(QString("no DATA %1").arg(nBlock)));
            QCOMPARE(reply->left(4), Data(nBlock, {}));
            QByteArray payload = reply->mid(4);
            QVERIFY(payload.size() <= nInForce);
            received += payload;
            progress << received.size();
            if (payload.size() < nInForce)
                break;
            AdvanceTestTickCount(CTransferSocket::kReportEveryMs);
            reply = w.Exchange(Ack(nBlock));
        }
        QCOMPARE(nBlock, nFileSize / nInForce + 1);
        QCOMPARE(w.T().m_bActive, 1);
        QCOMPARE(w.T().m_bLastBlock, 1);
        w.Answer(Ack(nBlock));
        QVERIFY(w.Silent());
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(received, content);
        QCOMPARE(w.f.core.statuses, QStringList{"Offering file to server ..."} + expectedStatus);
        QList<Posted> expected;
        if (nInForce == 512 && nAsked != 512)
            expected << Posted{WM_CLIENT_BLOCKSIZE, 0, 512};
        QCOMPARE(w.f.view.posted, expected + Progress(progress, 1));
    }

    void sendIgnoresOtherAcks_data() {
        QTest::addColumn<int>("nStray");
        QTest::newRow("ACK 0 again") << 0;
        QTest::newRow("ACK 2 ahead") << 2;
        QTest::newRow("ACK 65535") << 65535;
    }
    void sendIgnoresOtherAcks() {
        QFETCH(int, nStray);
        Wire w(1);
        QByteArray content = Pattern(1500);
        QVERIFY(w.Send(content));
        QCOMPARE(w.Exchange(Ack(0)), Some(Data(1, content.left(512))));
        QCOMPARE(w.Exchange(Ack(nStray), 300), std::nullopt);
        QCOMPARE(w.Exchange(Ack(1)), Some(Data(2, content.mid(512, 512))));
    }

    void silenceEndsTheTransfer_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("nTimeout");
        QTest::addColumn<int>("nAnswerAt"); // -1: the server never answers
        QTest::addColumn<int>("nStillAt");
        QTest::addColumn<int>("nEndedAt");
        QTest::newRow("fetch, no answer to the request") << 0 << 10 << -1 << 10 << 11;
        QTest::newRow("send, no answer to the request") << 1 << 10 << -1 << 10 << 11;
        QTest::newRow("fetch, silent after a block") << 0 << 10 << 5 << 15 << 16;
        QTest::newRow("send, silent after an ACK") << 1 << 3 << 7 << 10 << 11;
        QTest::newRow("time-out of 1") << 0 << 1 << -1 << 1 << 2;
    }
    void silenceEndsTheTransfer() {
        QFETCH(int, bSending);
        QFETCH(int, nTimeout);
        QFETCH(int, nAnswerAt);
        QFETCH(int, nStillAt);
        QFETCH(int, nEndedAt);
        const time_t tStart = 100000;
        CTime::SetTestTime(tStart);
        Wire w(bSending, 512, nTimeout);
        QVERIFY(w.Start(Pattern(2000)));
        if (nAnswerAt >= 0) {
            CTime::SetTestTime(tStart + nAnswerAt);
            QVERIFY(w.Exchange(bSending ? Ack(0) : Data(1, Pattern(512))).has_value());
        }
        QString strBefore = w.f.core.LastStatus();
        CTime::SetTestTime(tStart + nStillAt);
        w.T().CheckTimeout();
        QCOMPARE(w.T().m_bActive, 1);
        QCOMPARE(w.f.core.LastStatus(), strBefore);
        CTime::SetTestTime(tStart + nEndedAt);
        w.T().CheckTimeout();
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(w.f.core.LastStatus(), QString("Timed out"));
        QVERIFY(!w.T().m_pFile);
        QVERIFY(w.Silent()); // nothing goes to the server
    }

    // A silent server gets the client's last packet again: the request (to
    // the server's port), ACK or DATA (to its transfer port), first after a
    // second, or 50 ms once a round trip has shown the link fast, and then
    // each time after twice as long (an ACK soon once, then patiently);
    // never waiting longer than the time-out sent to the server, and not at
    // all while a modal window is open.
    void silentServerGetsTheLastPacketAgain_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("bSendTimeout"); // with a time-out of 1 s
        QTest::addColumn<int>("nAnswers");     // datagrams the server answered first
        QTest::addColumn<QByteArray>("again"); // empty: the request
        QTest::addColumn<QList<int>>("waits");
        const QByteArray content = Pattern(700);
        QTest::newRow("fetch, the request")
            << 0 << 0 << 0 << QByteArray() << QList<int>{1000, 2000, 4000};
        QTest::newRow("fetch, the request, capped by the time-out")
            << 0 << 1 << 0 << QByteArray() << QList<int>{1000, 1000, 1000};
        QTest::newRow("fetch, ACK 0 after the OACK")
            << 0 << 0 << 1 << Ack(0) << QList<int>{50, 8000, 16000};
        QTest::newRow("fetch, ACK 1") << 0 << 0 << 2 << Ack(1) << QList<int>{50, 8000, 16000};
        QTest::newRow("fetch, ACK 1, capped by the time-out")
            << 0 << 1 << 2 << Ack(1) << QList<int>{50, 1000, 1000};
        QTest::newRow("send, the request")
            << 1 << 0 << 0 << QByteArray() << QList<int>{1000, 2000, 4000};
        QTest::newRow("send, DATA 1")
            << 1 << 0 << 1 << Data(1, content.left(512)) << QList<int>{50, 100, 200};
        QTest::newRow("send, the last DATA")
            << 1 << 1 << 2 << Data(2, content.mid(512)) << QList<int>{50, 100, 200};
    }
    void silentServerGetsTheLastPacketAgain() {
        QFETCH(int, bSending);
        QFETCH(int, bSendTimeout);
        QFETCH(int, nAnswers);
        QFETCH(QByteArray, again);
        QFETCH(QList<int>, waits);
        Wire w(bSending, 512, 1, bSendTimeout);
        const QByteArray content = Pattern(700);
        QVERIFY(w.Start(content));
        for (int i = 0; i < nAnswers; ++i) {
            const QByteArray answer = bSending ? Ack(i)
                                      : i == 0 ? Oack({"tsize", "700"})
                                               : Data(i, content.left(512));
            QVERIFY(w.Exchange(answer));
        }
        UdpPeer& to = again.isEmpty() ? w.listener : w.session;
        const QByteArray expected = again.isEmpty() ? w.request : again;
        for (int nWait : waits) {
            AdvanceTestTickCount(static_cast<unsigned long long>(nWait - 1));
            QVERIFY(w.Silent(20));
            AdvanceTestTickCount(1);
            QCOMPARE(to.Receive(), Some(expected));
        }
        {
            CModalScope dialog;
            AdvanceTestTickCount(10000);
            QVERIFY(w.Silent(20));
        }
        QVERIFY(w.f.FireRetransmission());
        QCOMPARE(to.Receive(), Some(expected));
        w.T().Abort(); // and then nothing more
        QVERIFY(!w.f.FireRetransmission());
    }

    void idleCountDrivesTheCheck_data() {
        QTest::addColumn<long>("lCount");
        QTest::addColumn<bool>("bChecked");
        QTest::newRow("0") << 0L << false;
        QTest::newRow("63") << 63L << false;
        QTest::newRow("64") << 64L << true;
        QTest::newRow("127") << 127L << true;
        QTest::newRow("128") << 128L << false;
        QTest::newRow("191") << 191L << false;
        QTest::newRow("192") << 192L << true;
    }
    void idleCountDrivesTheCheck() {
        QFETCH(long, lCount);
        QFETCH(bool, bChecked);
        CTime::SetTestTime(1000);
        Wire w(0, 512, 10);
        QVERIFY(w.f.core.m_pTransfer == &w.T());
        QVERIFY(w.Fetch());
        CTime::SetTestTime(1011); // expired, so a check ends it
        QCOMPARE(w.f.core.OnIdle(lCount), true);
        QCOMPARE(w.T().m_bActive, bChecked ? 0 : 1);
        // Once ended, idle processing falls back to the framework's own answer.
        w.T().Abort();
        QCOMPARE(w.f.core.OnIdle(0), true);
        QCOMPARE(w.f.core.OnIdle(lCount + 1), false);
    }

    void idleWithoutTransfer() {
        ClientFixture f;
        QVERIFY(!f.core.m_pTransfer);
        QCOMPARE(f.core.OnIdle(0), true);
        QCOMPARE(f.core.OnIdle(64), false);
        f.NewTransfer(0);
        f.pTransfer.reset(); // the view destroys its object
        QVERIFY(!f.core.m_pTransfer);
        QCOMPARE(f.core.OnIdle(64), false);
    }

    void pacedIdleProcessingEndsASilentTransfer() {
        CTime::SetTestTime(2000);
        Wire w(0, 512, 10);
        CIdleDriver driver([&](long lCount) { return w.f.core.OnIdle(lCount); });
        QVERIFY(w.Fetch());
        PumpEvents(1200);
        QCOMPARE(w.T().m_bActive, 1); // not yet expired
        CTime::SetTestTime(2011);
        QElapsedTimer timer;
        timer.start();
        while (w.T().m_bActive && timer.elapsed() < 3000)
            PumpEvents(20);
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(w.f.core.LastStatus(), QString("Timed out"));
    }

    void abortKeepsThePartialFileAndSendsNothing_data() {
        QTest::addColumn<int>("bSending");
        QTest::newRow("fetch") << 0;
        QTest::newRow("send") << 1;
    }
    void abortKeepsThePartialFileAndSendsNothing() {
        QFETCH(int, bSending);
        Wire w(bSending);
        QByteArray content = Pattern(2000);
        QVERIFY(w.Start(content));
        QCOMPARE(w.Exchange(w.FirstAnswer(content)), Some(w.FirstReply(content)));
        QString strStatus = w.f.core.LastStatus();
        w.T().Abort();
        QCOMPARE(w.T().m_bActive, 0);
        QVERIFY(!w.T().m_pFile);
        QVERIFY(w.Silent());
        QCOMPARE(w.f.core.LastStatus(), strStatus);
        if (!bSending)
            QCOMPARE(w.f.ReadLocal("got.bin"), content.left(512));
        else
            QCOMPARE(w.f.ReadLocal("out.bin"), content);
        w.Answer(bSending ? Ack(1) : Data(2, content.mid(512, 512)));
        QVERIFY(w.Silent());
        w.T().Abort(); // a second abort finds nothing to do
        QVERIFY(w.Silent());
    }

    // A stranger's ERROR is never answered: two programs that answer each
    // other's errors would do so for ever.
    void strayTransferIdentifierGetsError5_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<bool>("bStrayError");
        QTest::newRow("fetch") << 0 << false;
        QTest::newRow("send") << 1 << false;
        QTest::newRow("fetch, the stranger sends an ERROR") << 0 << true;
        QTest::newRow("send, the stranger sends an ERROR") << 1 << true;
    }
    void strayTransferIdentifierGetsError5() {
        QFETCH(int, bSending);
        QFETCH(bool, bStrayError);
        const QByteArray strayError = ErrorPacket(5, "Unknown transfer ID");
        const std::optional<QByteArray> answer =
            bStrayError ? std::nullopt : std::optional<QByteArray>(kUnknownTransfer);
        CTime::SetTestTime(7000);
        Wire w(bSending);
        QByteArray content = Pattern(2000);
        QVERIFY(w.Start(content));
        QCOMPARE(w.Exchange(w.FirstAnswer(content)), Some(w.FirstReply(content)));
        CTime::SetTestTime(7005);
        UdpPeer stray;
        stray.SendTo(w.nClientPort, bStrayError ? strayError
                                    : bSending  ? Ack(1)
                                                : Data(2, Pattern(512, 5)));
        QCOMPARE(stray.Receive(bStrayError ? 300 : 1000), answer);
        QVERIFY(w.Silent());
        QCOMPARE(w.T().m_bActive, 1);
        QCOMPARE(w.T().m_nBlock, 2);
        QCOMPARE(w.T().m_tLastActivity, CTime(7000));
        QCOMPARE(ntohs(w.T().m_peerAddr.sin_port), w.session.Port());
        // The request's own port is just as foreign once the server has answered.
        w.listener.SendTo(w.nClientPort, bStrayError ? strayError : Ack(1));
        QCOMPARE(w.listener.Receive(bStrayError ? 300 : 1000), answer);
        // The transfer goes on with its server.
        if (bSending)
            QCOMPARE(w.Exchange(Ack(1)), Some(Data(2, content.mid(512, 512))));
        else
            QCOMPARE(w.Exchange(Data(2, content.mid(512, 100))), Some(Ack(2)));
        QCOMPARE(w.T().m_tLastActivity, CTime(7005));
    }

    // Until the server has answered, only the host the request went to may
    // become the peer: another host's answer, even from the same port
    // number, gets ERROR 5 and the transfer goes on waiting.
    void firstAnswerFromAnotherHostRefused_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<bool>("bSamePort"); // the other host uses the server's port number
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("fetch: DATA 1") << 0 << false << Data(1, "evil");
        QTest::newRow("fetch: OACK") << 0 << false << Oack({"tsize", "4"});
        QTest::newRow("fetch: DATA 1 from the server's port number")
            << 0 << true << Data(1, "evil");
        QTest::newRow("send: ACK 0") << 1 << false << Ack(0);
        QTest::newRow("send: ACK 0 from the server's port number") << 1 << true << Ack(0);
    }
    void firstAnswerFromAnotherHostRefused() {
        QFETCH(int, bSending);
        QFETCH(bool, bSamePort);
        QFETCH(QByteArray, answer);
        CTime::SetTestTime(4000);
        Wire w(bSending);
        UdpPeer other("127.0.0.2", bSamePort ? w.session.Port() : 0);
        if (other.Port() == 0)
            QSKIP("no second loopback host to bind to");
        const QByteArray content = Pattern(300);
        QVERIFY(w.Start(content));
        CTime::SetTestTime(4003);
        other.SendTo(w.nClientPort, answer);
        QCOMPARE(other.Receive(1000), Some(kUnknownTransfer));
        QVERIFY(w.Silent());
        QCOMPARE(w.T().m_bActive, 1);
        QCOMPARE(w.T().m_nBlock, 1);
        QCOMPARE(w.T().m_peerAddr.sin_port, in_port_t(0)); // no peer chosen
        QCOMPARE(w.T().m_tLastActivity, CTime(4000));
        if (!bSending)
            QCOMPARE(w.f.ReadLocal("got.bin"), QByteArray());
        // The real server answers later and the transfer completes with it.
        if (bSending) {
            QCOMPARE(w.Exchange(Ack(0)), Some(Data(1, content)));
            w.Answer(Ack(1));
        } else {
            QCOMPARE(w.Exchange(Data(1, "good")), Some(Ack(1)));
            QCOMPARE(w.f.ReadLocal("got.bin"), QByteArray("good"));
        }
        QVERIFY(w.f.WaitForEnd(2000));
        QCOMPARE(ntohs(w.T().m_peerAddr.sin_port), w.session.Port());
        QCOMPARE(w.T().m_peerAddr.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
        QCOMPARE(other.Receive(200), std::nullopt);
    }

    // While one of the transfer's own message boxes is open, datagrams are
    // taken and dropped: nothing is answered and the transfer stays as the
    // code that asked left it, which ends it once the box is closed.
    void datagramsDroppedWhileItsBoxIsOpen_data() {
        QTest::addColumn<QString>("box");     // what opens it
        QTest::addColumn<QString>("arrives"); // the datagram that comes meanwhile
        for (const char* box : {"write failure", "socket buffer"})
            for (const char* arrives : {"server's block", "server's ERROR", "stranger's block"})
                QTest::addRow("%s box, %s", box, arrives) << QString(box) << QString(arrives);
    }
    void datagramsDroppedWhileItsBoxIsOpen() {
        QFETCH(QString, box);
        QFETCH(QString, arrives);
        const bool bWriteBox = box == "write failure";
        if (bWriteBox && !QFileInfo("/dev/full").isWritable())
            QSKIP("no /dev/full to write to");
        CTime::SetTestTime(5000);
        Wire w(0, bWriteBox ? 512 : 1024);
        UdpPeer stranger;
        w.f.core.m_bOverWrite = 1;
        if (bWriteBox)
            w.f.core.m_strInbound = "/dev/";
        QVERIFY(w.Fetch("r", bWriteBox ? "full" : "got.bin"));

        struct Seen {
            std::optional<QByteArray> server, stranger;
            int bActive, nBlock;
            CTime tActivity;
            qsizetype nStatuses;
        };
        QList<Seen> seen;
        QStringList texts;
        MessageBoxHandler previous = SetMessageBoxHandler([&](const QString& text, unsigned) {
            texts << text;
            if (texts.size() > 1)
                return IDOK; // a box opened from within this one
            const qsizetype nStatuses = w.f.core.statuses.size();
            CTime::SetTestTime(5007);
            if (arrives == "server's block")
                w.Answer(Data(1, "late"));
            else if (arrives == "server's ERROR")
                w.Answer(ErrorPacket(2, "Access violation"));
            else
                stranger.SendTo(w.nClientPort, Data(1, "evil"));
            Seen now;
            now.server = w.session.Receive(200);
            now.stranger = stranger.Receive(1);
            now.bActive = w.T().m_bActive;
            now.nBlock = w.T().m_nBlock;
            now.tActivity = w.T().m_tLastActivity;
            now.nStatuses = w.f.core.statuses.size() - nStatuses;
            seen << now;
            return IDOK;
        });
        std::optional<QByteArray> afterBox;
        if (bWriteBox) {
            afterBox = w.Exchange(Data(1, Pattern(100)));
        } else {
            // The socket will not take the agreed block size.
            CAsyncSocket::SetBufferSizeHook([](int, int nRequested, int* pGranted) {
                *pGranted = 100;
                return nRequested == 0;
            });
            afterBox = w.Exchange(Oack({"blksize", "1000"}));
            CAsyncSocket::SetBufferSizeHook(nullptr);
        }
        SetMessageBoxHandler(previous);

        QCOMPARE(texts, QStringList{bWriteBox ? "Error writing to local file"
                                              : "Block size settings not valid for sockets"});
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].server, std::nullopt);
        QCOMPARE(seen[0].stranger, std::nullopt);
        QCOMPARE(seen[0].bActive, 1);
        QCOMPARE(seen[0].nBlock, 1);
        QCOMPARE(seen[0].tActivity, CTime(5000));
        QCOMPARE(seen[0].nStatuses, 0);
        // Closed, the box's own ending follows: the error it was about.
        QCOMPARE(afterBox,
                 Some(bWriteBox ? kDiskFull : ErrorPacket(0, "Inconclusive system error")));
        QCOMPARE(w.T().m_bActive, 0);
        QVERIFY(w.Silent());
        QCOMPARE(stranger.Receive(1), std::nullopt);
        if (!bWriteBox)
            QCOMPARE(w.f.ReadLocal("got.bin"), QByteArray());
    }

    void datagramsOutsideTheSizesIgnored_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("1 byte") << B("\0");
        QTest::newRow("3 bytes") << B("\0\3\0");
        QTest::newRow("block size + 5") << Data(1, Pattern(1025));
        QTest::newRow("far too long") << Data(1, Pattern(9000));
    }
    void datagramsOutsideTheSizesIgnored() {
        QFETCH(QByteArray, datagram);
        CTime::SetTestTime(3000);
        Wire w(0, 1024);
        QVERIFY(w.Fetch());
        QCOMPARE(w.Exchange(Oack({"blksize", "1024"})), Some(Ack(0)));
        CTime::SetTestTime(3004);
        QCOMPARE(w.Exchange(datagram, 300), std::nullopt);
        QCOMPARE(w.T().m_tLastActivity, CTime(3000));
        QCOMPARE(w.T().m_nBlock, 1);
        QCOMPARE(w.T().m_bActive, 1);
        // Block size + 4 bytes exactly is a full block.
        QCOMPARE(w.Exchange(Data(1, Pattern(1024))), Some(Ack(1)));
        QCOMPARE(w.T().m_tLastActivity, CTime(3004));
        QCOMPARE(w.T().m_bActive, 1);
    }

    void shortDatagramDoesNotChooseThePeer() {
        Wire w;
        QVERIFY(w.Fetch());
        UdpPeer early;
        early.SendTo(w.nClientPort, B("\0\3\0"));
        QCOMPARE(early.Receive(300), std::nullopt);
        QCOMPARE(w.Exchange(Data(1, "x")), Some(Ack(1)));
        QCOMPARE(w.f.ReadLocal("got.bin"), QByteArray("x"));
    }

    void datagramBeforeTheRequestDoesNotDeafen() {
        Wire w;
        QString strAddress;
        unsigned nPort = 0;
        QVERIFY(w.T().GetSockName(strAddress, nPort));
        w.session.SendTo(static_cast<uint16_t>(nPort), Data(1, "early"));
        PumpEvents(100);
        QVERIFY(w.Fetch());
        QCOMPARE(w.Exchange(Data(1, "late")), Some(Ack(1)));
        QCOMPARE(w.f.ReadLocal("got.bin"), QByteArray("late"));
    }

    void startFailures_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<QString>("strLocal");
        QTest::addColumn<int>("nPortOffset");
        QTest::addColumn<QString>("strBoxStart");
        QTest::newRow("send, no such local file")
            << 1 << "missing.bin" << 0 << "Unable to open file";
        QTest::newRow("send, a folder") << 1 << "sub" << 0 << "Unable to open file";
        QTest::newRow("fetch into a missing folder")
            << 0 << "nowhere/got.bin" << 0 << "Unable to create file : %1/nowhere/got.bin";
        QTest::newRow("fetch onto a folder") << 0 << "sub" << 0 << "Unable to create file : %1/sub";
        // Never cut to 16 bits, which would reach the listener's port.
        QTest::newRow("send, port above 65535")
            << 1 << "out.bin" << 65536 << "Error sending to host : 9022"; // EINVAL
        QTest::newRow("fetch, port above 65535")
            << 0 << "got.bin" << 65536 << "Client : Error sending to host : 9022";
    }
    void startFailures() {
        QFETCH(int, bSending);
        QFETCH(QString, strLocal);
        QFETCH(int, nPortOffset);
        QFETCH(QString, strBoxStart);
        Wire w(bSending);
        w.f.core.m_bOverWrite = 1;
        QDir(w.f.dir.path()).mkdir("sub");
        w.f.WriteLocal("out.bin", "abc");
        MessageBoxRecorder boxes;
        QCOMPARE(w.StartCall({.strLocal = strLocal, .nPortOffset = nPortOffset}), 0);
        QCOMPARE(w.T().m_bActive, 0);
        QVERIFY(!w.T().m_pFile); // closed at once
        QCOMPARE(boxes.texts.size(), 1);
        strBoxStart.replace("%1", w.f.dir.path());
        QVERIFY2(boxes.texts[0].startsWith(strBoxStart), qPrintable(boxes.texts[0]));
        QVERIFY(w.Silent());
        if (!bSending && nPortOffset)
            QCOMPARE(w.f.ReadLocal("got.bin"), QByteArray()); // created, left empty
    }

    void overwriteQuestion_data() {
        QTest::addColumn<int>("bOverWrite");
        QTest::addColumn<int>("nAnswer");
        QTest::addColumn<bool>("bAsked");
        QTest::addColumn<bool>("bStarted");
        QTest::newRow("asked, No") << 0 << IDNO << true << false;
        QTest::newRow("asked, Yes") << 0 << IDYES << true << true;
        QTest::newRow("OverWrite on: not asked") << 1 << IDNO << false << true;
    }
    void overwriteQuestion() {
        QFETCH(int, bOverWrite);
        QFETCH(int, nAnswer);
        QFETCH(bool, bAsked);
        QFETCH(bool, bStarted);
        Wire w;
        w.f.core.m_bOverWrite = bOverWrite;
        w.f.WriteLocal("got.bin", "old contents");
        QStringList texts;
        QList<unsigned> types;
        SetMessageBoxHandler([&](const QString& text, unsigned type) {
            texts << text;
            types << type;
            return nAnswer;
        });
        int bResult = w.StartCall({});
        SetMessageBoxHandler(nullptr);
        QCOMPARE(bResult, bStarted ? 1 : 0);
        QCOMPARE(w.T().m_bActive, bStarted ? 1 : 0);
        if (bAsked) {
            QCOMPARE(texts, QStringList{"File already exists\n\nOverwrite it ?"});
            QCOMPARE(types, QList<unsigned>{36u});
        } else {
            QVERIFY(texts.isEmpty());
        }
        QCOMPARE(w.TakeRequest(), bStarted);
        QCOMPARE(w.f.ReadLocal("got.bin"), bStarted ? QByteArray() : QByteArray("old contents"));
    }

    void questionHoldsOffTheTimeOut() {
        CTime::SetTestTime(9000);
        Wire w(0, 512, 10);
        w.f.WriteLocal("got.bin", "old");
        SetMessageBoxHandler([&](const QString&, unsigned) {
            // The user thinks it over while idle processing goes on.
            CTime::SetTestTime(9060);
            for (long l = 0; l < 256; ++l)
                w.f.core.OnIdle(l);
            return IDYES;
        });
        int bResult = w.StartCall({});
        SetMessageBoxHandler(nullptr);
        QCOMPARE(bResult, 1);
        QCOMPARE(w.T().m_bActive, 1);
        QVERIFY(w.TakeRequest());
        // The time-out counts from the request.
        CTime::SetTestTime(9070);
        w.T().CheckTimeout();
        QCOMPARE(w.T().m_bActive, 1);
        QCOMPARE(w.Exchange(Data(1, "new")), Some(Ack(1)));
        QCOMPARE(w.f.ReadLocal("got.bin"), QByteArray("new"));
    }

    void socketBufferSizes_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("nDefault"); // the size before the transfer sets one
        QTest::addColumn<int>("nGranted"); // -1: the set fails
        QTest::addColumn<int>("nInForce"); // 0: not started
        QTest::addColumn<QString>("strBox");
        QTest::newRow("fetch, default large enough: left alone")
            << 0 << 212992 << 1 << 1024 << QString();
        QTest::newRow("send, default exactly enough: left alone")
            << 1 << 1044 << 1 << 1024 << QString();
        QTest::newRow("fetch, granted as asked") << 0 << 500 << 1044 << 1024 << QString();
        QTest::newRow("fetch, granted less") << 0 << 500 << 1000 << 980 << QString();
        QTest::newRow("send, granted less") << 1 << 500 << 600 << 580 << QString();
        QTest::newRow("send, set fails")
            << 1 << 500 << -1 << 0 << "Block size settings not valid for sockets";
        QTest::newRow("fetch, too small for any block")
            << 0 << 20 << 27 << 0 << "Block size settings not valid for sockets";
    }
    void socketBufferSizes() {
        QFETCH(int, bSending);
        QFETCH(int, nDefault);
        QFETCH(int, nGranted);
        QFETCH(int, nInForce);
        QFETCH(QString, strBox);
        Wire w(bSending, 1024);
        QList<QPair<int, int>> asked;
        CAsyncSocket::SetBufferSizeHook([&](int nOption, int nRequested, int* pGranted) {
            if (nRequested == 0) {
                *pGranted = nDefault;
                return true;
            }
            asked << qMakePair(nOption, nRequested);
            *pGranted = nGranted;
            return nGranted >= 0;
        });
        MessageBoxRecorder boxes;
        w.f.WriteLocal("out.bin", "abc");
        int bResult = w.StartCall({});
        CAsyncSocket::SetBufferSizeHook(nullptr);
        // A buffer is only ever raised, never cut down to one block.
        if (nDefault >= 1044)
            QVERIFY(asked.isEmpty());
        else
            QCOMPARE(asked, (QList<QPair<int, int>>{{bSending ? SO_SNDBUF : SO_RCVBUF, 1044}}));
        PumpEvents(20);
        if (nInForce == 0) {
            QCOMPARE(bResult, 0);
            QCOMPARE(boxes.texts, QStringList{strBox});
            QVERIFY(w.Silent());
            return;
        }
        QCOMPARE(bResult, 1);
        QVERIFY(boxes.texts.isEmpty());
        QCOMPARE(w.T().m_nBlockSize, nInForce);
        QVERIFY(w.TakeRequest());
        QVERIFY(w.request.endsWith(B("blksize\0") + QByteArray::number(nInForce) + '\0'));
        bool bPosted = w.f.view.posted.contains(Posted{WM_CLIENT_BLOCKSIZE, 0, nInForce});
        QCOMPARE(bPosted, nInForce != 1024);
    }

    // Progress is shown for the first block, then at most every tenth of a
    // second, and always for the last block.
    void progressShownAtMostEveryTenthOfASecond_data() {
        QTest::addColumn<int>("nStepMs"); // between two blocks
        QTest::addColumn<QList<int>>("shownBlocks");
        QTest::newRow("clock standing still") << 0 << QList<int>{1, 6};
        QTest::newRow("50 ms a block") << 50 << QList<int>{1, 3, 5, 6};
        QTest::newRow("100 ms a block") << 100 << QList<int>{1, 2, 3, 4, 5, 6};
    }
    void progressShownAtMostEveryTenthOfASecond() {
        QFETCH(int, nStepMs);
        QFETCH(QList<int>, shownBlocks);
        Wire w;
        QVERIFY(w.Fetch());
        SetTestTickCount(5000);
        const QByteArray content = Pattern(5 * 512 + 100);
        for (int k = 1; k <= 6; ++k) {
            AdvanceTestTickCount(static_cast<unsigned long long>(nStepMs));
            QCOMPARE(w.Exchange(Data(k, content.mid((k - 1) * 512, 512))), Some(Ack(k)));
        }
        PumpEvents(20);
        QStringList expected{"Requesting file from server ..."};
        for (int k : shownBlocks)
            expected
                << QString("Received %1 bytes (%2 blocks)").arg(std::min(k * 512, 2660)).arg(k);
        expected << "Received 2660 bytes (6 blocks) - Done";
        QCOMPARE(w.f.core.statuses, expected);
        QCOMPARE(w.f.ReadLocal("got.bin"), content);
    }

    // The file is written through a buffer: a full disk is found when the
    // buffer is emptied, in the middle of the file or with the last block,
    // and the block that found it is never acknowledged.
    void localWriteFailure_data() {
        QTest::addColumn<int>("nFullBlocks"); // offered before the last block
        QTest::newRow("with the last block") << 0;
        QTest::newRow("when the buffer fills, mid-file") << 1000;
    }
    void localWriteFailure() {
        QFETCH(int, nFullBlocks);
        if (!QFileInfo("/dev/full").isWritable())
            QSKIP("no /dev/full to write to");
        Wire w;
        w.f.core.m_bOverWrite = 1;
        w.f.core.m_strInbound = "/dev/";
        MessageBoxRecorder boxes;
        QVERIFY(w.Fetch("r", "full"));
        std::optional<QByteArray> reply;
        int nBlock = 1;
        for (; nBlock <= nFullBlocks; ++nBlock) {
            reply = w.Exchange(Data(nBlock, Pattern(512, nBlock)));
            if (reply != Some(Ack(nBlock)))
                break;
        }
        if (nBlock > nFullBlocks)
            reply = w.Exchange(Data(nBlock, Pattern(100)));
        else
            QVERIFY2(nBlock > 1, "the first full block cannot fill the buffer");
        QCOMPARE(reply, Some(kDiskFull));
        QCOMPARE(boxes.texts, QStringList{"Error writing to local file"});
        QCOMPARE(w.T().m_bActive, 0);
        QVERIFY(w.Silent());
    }
    // Options are settled by the first answer; a later OACK, repeated or new,
    // changes nothing and is answered by nothing.
    void lateOackIgnored_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<QByteArray>("firstAnswer");
        QTest::addColumn<QByteArray>("lateOack");
        QTest::addColumn<int>("nInForce");
        const QByteArray agreed = Oack({"blksize", "1024"});
        const QByteArray agreedWithSize = Oack({"tsize", "3000", "blksize", "1024"});
        QTest::newRow("send: OACK lowering the block size mid-file")
            << 1 << agreed << Oack({"blksize", "600"}) << 1024;
        QTest::newRow("send: OACK repeated") << 1 << agreed << agreed << 1024;
        QTest::newRow("send: OACK after a plain ACK 0") << 1 << Ack(0) << agreed << 512;
        QTest::newRow("fetch: OACK repeated") << 0 << agreedWithSize << agreedWithSize << 1024;
        QTest::newRow("fetch: OACK lowering the block size mid-file")
            << 0 << agreedWithSize << Oack({"tsize", "9", "blksize", "600"}) << 1024;
        QTest::newRow("fetch: OACK with a block size beyond the offer")
            << 0 << agreedWithSize << Oack({"blksize", "99999"}) << 1024;
        QTest::newRow("fetch: OACK after a plain block 1")
            << 0 << Data(1, Pattern(3000).left(512)) << agreedWithSize << 512;
    }
    void lateOackIgnored() {
        QFETCH(int, bSending);
        QFETCH(QByteArray, firstAnswer);
        QFETCH(QByteArray, lateOack);
        QFETCH(int, nInForce);
        CTime::SetTestTime(40000);
        Wire w(bSending, 1024);
        QByteArray content = Pattern(3000);
        QVERIFY(w.Start(content));
        if (bSending) {
            QCOMPARE(w.Exchange(firstAnswer), Some(Data(1, content.left(nInForce))));
        } else if (firstAnswer.at(1) == 6) {
            QCOMPARE(w.Exchange(firstAnswer), Some(Ack(0)));
            QCOMPARE(w.Exchange(Data(1, content.left(nInForce))), Some(Ack(1)));
        } else {
            QCOMPARE(w.Exchange(firstAnswer), Some(Ack(1)));
        }
        PumpEvents(20);
        const QList<Posted> posted = w.f.view.posted;
        const QStringList statuses = w.f.core.statuses;
        const uint32_t nTotalSize = w.T().m_nTotalSize;

        CTime::SetTestTime(40005);
        w.Answer(lateOack);
        QVERIFY(w.Silent()); // no second ACK 0, no DATA, no ERROR
        PumpEvents(20);
        QCOMPARE(w.T().m_bActive, 1);
        QCOMPARE(w.T().m_nBlockSize, nInForce);
        QCOMPARE(w.T().m_nBlock, 2);
        QCOMPARE(w.T().m_nTotalSize, nTotalSize);
        QCOMPARE(w.T().m_tLastActivity, CTime(40000));
        QCOMPARE(w.f.view.posted, posted);
        QCOMPARE(w.f.core.statuses, statuses);

        // The rest of the file goes in blocks of the size settled first.
        int nBlocks = static_cast<int>(content.size()) / nInForce + 1;
        for (int k = 2; k <= nBlocks; ++k) {
            QByteArray block = content.mid((k - 1) * nInForce, nInForce);
            if (bSending)
                QCOMPARE(w.Exchange(Ack(k - 1)), Some(Data(k, block)));
            else
                QCOMPARE(w.Exchange(Data(k, block)), Some(Ack(k)));
        }
        if (bSending)
            w.Answer(Ack(nBlocks));
        QVERIFY(w.Silent());
        QCOMPARE(w.T().m_bActive, 0);
        if (!bSending)
            QCOMPARE(w.f.ReadLocal("got.bin"), content);
    }

    // A first answer that is a block means the server took no option, so it
    // is at most 512 bytes of data; a longer one is nobody's block.
    void oversizedFirstBlockIgnored_data() {
        QTest::addColumn<int>("nAsked");
        QTest::addColumn<int>("nLength"); // of the whole datagram
        QTest::addColumn<bool>("bAccepted");
        QTest::newRow("asked 1024, 516 bytes: a default block") << 1024 << 516 << true;
        QTest::newRow("asked 64, 516 bytes: a default block") << 64 << 516 << true;
        QTest::newRow("asked 1024, 517 bytes") << 1024 << 517 << false;
        QTest::newRow("asked 1024, 1028 bytes: a block of the size offered")
            << 1024 << 1028 << false;
        QTest::newRow("asked 8192, 8196 bytes") << 8192 << 8196 << false;
        QTest::newRow("asked 512, 517 bytes") << 512 << 517 << false;
    }
    void oversizedFirstBlockIgnored() {
        QFETCH(int, nAsked);
        QFETCH(int, nLength);
        QFETCH(bool, bAccepted);
        CTime::SetTestTime(41000);
        Wire w(0, nAsked);
        QVERIFY(w.Fetch());
        UdpPeer early; // on the server's host, from a port of its own
        QByteArray first = Data(1, Pattern(nLength - 4, 3));
        CTime::SetTestTime(41004);
        QVERIFY(early.SendTo(w.nClientPort, first));
        if (bAccepted) {
            QCOMPARE(early.Receive(1000), Some(Ack(1)));
            QCOMPARE(w.T().m_nBlockSize, 512);
            QVERIFY(early.SendTo(w.nClientPort, Data(2, "end")));
            QCOMPARE(early.Receive(1000), Some(Ack(2)));
            PumpEvents(20);
            QCOMPARE(w.T().m_bActive, 0);
            QCOMPARE(w.f.ReadLocal("got.bin"), first.mid(4) + "end");
            QCOMPARE(w.f.ReadLocal("got.bin"), first.mid(4) + "end");
            return;
        }
        QCOMPARE(early.Receive(300), std::nullopt);
        QVERIFY(w.Silent());
        QCOMPARE(w.f.ReadLocal("got.bin"), QByteArray());
        QCOMPARE(w.T().m_bActive, 1);
        QCOMPARE(w.T().m_nBlock, 1);
        QCOMPARE(w.T().m_tLastActivity, CTime(41000));
        QCOMPARE(w.f.view.posted, (QList<Posted>{{WM_CLIENT_ADDRESS, 0, 0}}));
        // The server's own first block is taken, and its port is the peer's.
        QByteArray content = Pattern(700);
        QCOMPARE(w.Exchange(Data(1, content.left(512))), Some(Ack(1)));
        QVERIFY(early.SendTo(w.nClientPort, Data(2, "xx")));
        QCOMPARE(early.Receive(1000), Some(kUnknownTransfer));
        QCOMPARE(w.Exchange(Data(2, content.mid(512))), Some(Ack(2)));
        PumpEvents(20);
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(w.f.ReadLocal("got.bin"), content);
    }

    // Once the server has agreed a block size it cannot be lowered: a socket
    // buffer too small for it fails the options. The system's default buffer
    // is large at the request and small by the first answer.
    void agreedBlockSizeBeyondTheSocketBuffer_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("nAsked");
        QTest::addColumn<QByteArray>("firstAnswer");
        QTest::addColumn<int>("nGranted");
        QTest::addColumn<QByteArray>("reply"); // empty: the options failed
        const QByteArray content = Pattern(9000);
        const QByteArray oack8192 = Oack({"blksize", "8192"});
        QTest::newRow("fetch: OACK agrees 8192, the socket grants less")
            << 0 << 16384 << oack8192 << 6000 << QByteArray();
        QTest::newRow("send: OACK agrees 8192, the socket grants less")
            << 1 << 16384 << oack8192 << 6000 << QByteArray();
        QTest::newRow("fetch: OACK agrees 8192, the socket grants it")
            << 0 << 16384 << oack8192 << 8212 << Ack(0);
        QTest::newRow("send: OACK agrees 8192, the socket grants it")
            << 1 << 16384 << oack8192 << 8212 << Data(1, content.left(8192));
        QTest::newRow("fetch: plain block 1, the socket grants less than 512")
            << 0 << 64 << Data(1, content.left(512)) << 300 << QByteArray();
        QTest::newRow("send: plain ACK 0, the socket grants less than 512")
            << 1 << 64 << Ack(0) << 300 << QByteArray();
        QTest::newRow("fetch: OACK without blksize, the socket grants less than 512")
            << 0 << 64 << Oack({"tsize", "9000"}) << 300 << QByteArray();
        QTest::newRow("send: OACK without blksize, the socket grants less than 512")
            << 1 << 64 << Oack({"timeout", "5"}) << 300 << QByteArray();
        QTest::newRow("fetch: plain block 1, the socket grants 512")
            << 0 << 64 << Data(1, content.left(512)) << 532 << Ack(1);
    }
    void agreedBlockSizeBeyondTheSocketBuffer() {
        QFETCH(int, bSending);
        QFETCH(int, nAsked);
        QFETCH(QByteArray, firstAnswer);
        QFETCH(int, nGranted);
        QFETCH(QByteArray, reply);
        Wire w(bSending, nAsked);
        int nDefault = 1 << 20;
        int nMost = 1 << 20;
        CAsyncSocket::SetBufferSizeHook([&](int, int nRequested, int* pGranted) {
            *pGranted = nRequested == 0 ? nDefault : std::min(nRequested, nMost);
            return true;
        });
        MessageBoxRecorder boxes;
        const QByteArray content = Pattern(9000);
        QVERIFY(w.Start(content));
        QCOMPARE(w.T().m_nBlockSize, nAsked); // offered whole
        nDefault = 100;
        nMost = nGranted;
        auto answer = w.Exchange(firstAnswer);
        PumpEvents(20);
        CAsyncSocket::SetBufferSizeHook(nullptr);
        QVERIFY(boxes.texts.isEmpty());
        if (!reply.isEmpty()) {
            QCOMPARE(answer, Some(reply));
            QCOMPARE(w.T().m_bActive, 1);
            return;
        }
        QCOMPARE(answer, Some(kOptionFailureError));
        QVERIFY(w.Silent());
        QCOMPARE(w.T().m_bActive, 0);
        QVERIFY(!w.T().m_pFile);
        QCOMPARE(w.f.core.LastStatus(), QString("Option Failure"));
        // No smaller block size is announced: none is used.
        for (const Posted& p : w.f.view.posted)
            QVERIFY(p.nMessage != WM_CLIENT_BLOCKSIZE);
        if (!bSending)
            QCOMPARE(w.f.ReadLocal("got.bin"), QByteArray());
    }

    // The host text is read as inet_addr reads it, the same for the request
    // and for telling the server's answers.
    void hostTextAsInetAddrReadsIt_data() {
        QTest::addColumn<QString>("strHost");
        QTest::addColumn<bool>("bStarted");
        QTest::newRow("dotted") << "127.0.0.1" << true;
        QTest::newRow("two parts") << "127.1" << true;
        QTest::newRow("hexadecimal") << "0x7f.0.0.1" << true;
        QTest::newRow("one number") << "2130706433" << true;
        QTest::newRow("five parts") << "127.0.0.1.5" << false;
        QTest::newRow("a word") << "localhost" << false;
    }
    void hostTextAsInetAddrReadsIt() {
        QFETCH(QString, strHost);
        QFETCH(bool, bStarted);
        Wire w;
        MessageBoxRecorder boxes;
        int bResult = w.StartCall({.strHost = strHost});
        if (!bStarted) {
            QCOMPARE(bResult, 0);
            QCOMPARE(boxes.texts, QStringList{"Client : Error sending to host : 9022"}); // EINVAL
            QVERIFY(w.Silent());
            return;
        }
        QCOMPARE(bResult, 1);
        QVERIFY(w.TakeRequest());
        QCOMPARE(w.Exchange(Data(1, "abc")), Some(Ack(1)));
        PumpEvents(20);
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(w.f.ReadLocal("got.bin"), QByteArray("abc"));
        QVERIFY(boxes.texts.isEmpty());
    }

    // Any modal window of the program, not only the transfer's own, holds
    // off the time-out, which counts again from when the window closes.
    void modalWindowHoldsOffTheTimeOut_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("nKind"); // 0 message box, 1 bare scope, 2 box over a dialog
        QTest::addColumn<int>("nClosedAt");
        // Each row starts later than the one before closed its window, which
        // would otherwise count as a close during this row's transfer.
        QTest::addColumn<int>("nStart");
        QTest::newRow("fetch, message box") << 0 << 0 << 60 << 60000;
        QTest::newRow("send, message box") << 1 << 0 << 60 << 61000;
        QTest::newRow("fetch, dialog") << 0 << 1 << 60 << 62000;
        QTest::newRow("send, dialog") << 1 << 1 << 60 << 63000;
        QTest::newRow("fetch, box over a dialog") << 0 << 2 << 80 << 64000;
    }
    void modalWindowHoldsOffTheTimeOut() {
        QFETCH(int, bSending);
        QFETCH(int, nKind);
        QFETCH(int, nClosedAt);
        QFETCH(int, nStart);
        const time_t t0 = nStart;
        CTime::SetTestTime(t0);
        Wire w(bSending, 512, 10);
        QByteArray content = Pattern(2000);
        QVERIFY(w.Start(content));
        QCOMPARE(w.Exchange(w.FirstAnswer(content)), Some(w.FirstReply(content)));
        QList<int> activeWhileOpen;
        auto whileOpen = [&] {
            // The user reads it for a minute while idle processing goes on.
            CTime::AdvanceTestTime(60);
            w.T().CheckTimeout();
            for (long l = 0; l < 256; ++l)
                w.f.core.OnIdle(l);
            activeWhileOpen << w.T().m_bActive;
        };
        MessageBoxHandler previous = SetMessageBoxHandler([&](const QString&, unsigned) {
            whileOpen();
            return IDOK;
        });
        if (nKind == 0) {
            AfxMessageBox("Settings saved");
        } else if (nKind == 1) {
            CModalScope dialog;
            whileOpen();
        } else {
            CModalScope dialog;
            AfxMessageBox("Settings saved");
            CTime::AdvanceTestTime(20); // the box is gone, the dialog is not
            w.T().CheckTimeout();
            activeWhileOpen << w.T().m_bActive;
        }
        SetMessageBoxHandler(previous);
        QCOMPARE(CTime::GetCurrentTime(), CTime(t0 + nClosedAt));
        QVERIFY(!activeWhileOpen.isEmpty());
        QCOMPARE(activeWhileOpen, QList<int>(activeWhileOpen.size(), 1));
        QString strBefore = w.f.core.LastStatus();
        w.T().CheckTimeout(); // right after it closed
        QCOMPARE(w.T().m_bActive, 1);
        CTime::SetTestTime(t0 + nClosedAt + 10);
        w.T().CheckTimeout();
        QCOMPARE(w.T().m_bActive, 1);
        QCOMPARE(w.f.core.LastStatus(), strBefore);
        CTime::SetTestTime(t0 + nClosedAt + 11);
        w.T().CheckTimeout();
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(w.f.core.LastStatus(), QString("Timed out"));
        QVERIFY(w.Silent());
    }

    // With no screen nobody can agree to an overwrite: the question answers
    // No, nothing is requested and the file stays as it was.
    void overwriteQuestionWithoutAScreen_data() {
        QTest::addColumn<bool>("bExists");
        QTest::addColumn<QByteArray>("old");
        QTest::newRow("file with contents") << true << QByteArray("old contents");
        QTest::newRow("empty file") << true << QByteArray();
        QTest::newRow("no file: nothing to ask") << false << QByteArray();
    }
    void overwriteQuestionWithoutAScreen() {
        QFETCH(bool, bExists);
        QFETCH(QByteArray, old);
        Wire w;
        w.f.core.m_bOverWrite = 0;
        if (bExists)
            w.f.WriteLocal("got.bin", old);
        MessageBoxHandler previous = SetMessageBoxHandler(nullptr);
        int bResult = w.StartCall({});
        SetMessageBoxHandler(previous);
        QCOMPARE(bResult, bExists ? 0 : 1);
        QCOMPARE(w.T().m_bActive, bExists ? 0 : 1);
        QCOMPARE(w.TakeRequest(), !bExists);
        QVERIFY(w.Silent());
        QCOMPARE(w.f.ReadLocal("got.bin"), old);
        if (bExists)
            QVERIFY(!w.T().m_pFile);
    }

    // A window that closed "after now" tells of a clock set back since; it
    // never holds off a time-out.
    void windowClosedAfterNowPassedOver_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("nClosedAhead"); // seconds after the transfer starts
        QTest::newRow("fetch, an hour ahead") << 0 << 3600;
        QTest::newRow("send, an hour ahead") << 1 << 3600;
        QTest::newRow("fetch, a minute ahead") << 0 << 60;
    }
    void windowClosedAfterNowPassedOver() {
        QFETCH(int, bSending);
        QFETCH(int, nClosedAhead);
        const time_t t0 = 80000;
        CTime::SetTestTime(t0 + nClosedAhead);
        { CModalScope dialog; }
        CTime::SetTestTime(t0);
        Wire w(bSending, 512, 10);
        QVERIFY(w.Start(Pattern(2000)));
        CTime::SetTestTime(t0 + 10);
        w.T().CheckTimeout();
        QCOMPARE(w.T().m_bActive, 1);
        CTime::SetTestTime(t0 + 11);
        w.T().CheckTimeout();
        QCOMPARE(w.T().m_bActive, 0);
        QCOMPARE(w.f.core.LastStatus(), QString("Timed out"));
    }
};

QTEST_GUILESS_MAIN(TestTransferWire)
#include "tst_transfer_wire.moc"
