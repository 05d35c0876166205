#include "Clock.h"
#include "ServerFixture.h"

#include <QtTest>

namespace {
constexpr time_t kStart = 100000;

// The server's sweep driven by the test clock.
struct SweptServer : ServerFixture {
    SweptServer() { CTime::SetTestTime(kStart); }
    ~SweptServer() { CTime::SetTestTime(std::nullopt); }
    void SweepAt(time_t t) {
        CTime::SetTestTime(t);
        pListener->SweepSessions();
    }
    int Count(int nMessage, int nSlot = 1) const {
        return static_cast<int>(
            std::count_if(core.notes.begin(), core.notes.end(), [&](const RecordingCore::Note& n) {
                return n.nMessage == nMessage && n.nSlot == nSlot;
            }));
    }
};
} // namespace

class TestSweep : public QObject {
    Q_OBJECT
private slots:
    void timeoutSetting_data() {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("seconds");
        QTest::newRow("10 becomes 30") << "10"
                                       << "30" << 30;
        QTest::newRow("30 stays") << "30"
                                  << "30" << 30;
        QTest::newRow("7200 stays") << "7200"
                                    << "7200" << 7200;
        QTest::newRow("7201 becomes 30") << "7201"
                                         << "30" << 30;
        QTest::newRow("45s counts as 45") << "45s"
                                          << "45s" << 45;
        QTest::newRow("empty becomes 30") << ""
                                          << "30" << 30;
        QTest::newRow("letters become 30") << "abc"
                                           << "30" << 30;
    }
    // The setting is how long a silent client is waited for: the session is
    // given up at the first sweep after that, with nothing sent.
    void timeoutSetting() {
        QFETCH(QString, setting);
        QFETCH(QString, after);
        QFETCH(int, seconds);
        SweptServer server;
        server.core.m_strTimeout = setting;
        server.SweepAt(kStart); // corrected even with no session
        QCOMPARE(server.core.m_strTimeout, after);
        server.WriteOut("f.bin", Pattern(2000));
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        server.SweepAt(kStart + seconds);
        QVERIFY(server.Session());
        server.SweepAt(kStart + seconds + 1);
        QCOMPARE(server.Session(), nullptr);
        QCOMPARE(server.Count(WM_SLOT_IDLE), 1);
        QCOMPARE(server.core.lines.last().endsWith("failed: the client stopped answering"), true);
        QCOMPARE(client.Next(50), std::nullopt);
    }

    // Lost packets are sent again by the session's own timer, soon and then
    // less and less often (an ACK soon once, then patiently), each time
    // shown in the row; the sweep only gives the session up once the client
    // has been silent for the setting, counted from the client's last
    // datagram, not from the server's retransmissions.
    void silentSessionSentAgainByItsTimerThenGivenUp_data() {
        QTest::addColumn<int>("opcode");
        QTest::addColumn<QList<QByteArray>>("options");
        QTest::addColumn<int>("answers"); // datagrams the client answered with first
        QTest::addColumn<QByteArray>("again");
        QTest::addColumn<QList<int>>("waits"); // ms before each retransmission
        const QByteArray content = Pattern(2000);
        QTest::newRow("read, DATA 1") << 1 << QList<QByteArray>{} << 0 << Data(1, content.left(512))
                                      << QList<int>{1000, 2000, 4000, 8000};
        QTest::newRow("read, OACK")
            << 1 << QList<QByteArray>{"tsize", "0"} << 0 << Oack({"tsize", "2000"})
            << QList<int>{1000, 2000, 4000, 8000};
        QTest::newRow("read, DATA 2")
            << 1 << QList<QByteArray>{} << 1 << Data(2, content.mid(512, 512))
            << QList<int>{50, 100, 200, 400, 800, 1600};
        QTest::newRow("read, last block")
            << 1 << QList<QByteArray>{} << 3 << Data(4, content.mid(1536))
            << QList<int>{50, 100, 200, 400};
        QTest::newRow("write, ACK 0")
            << 2 << QList<QByteArray>{} << 0 << Ack(0) << QList<int>{1000, 8000, 16000};
        QTest::newRow("write, OACK") << 2 << QList<QByteArray>{"blksize", "1024"} << 0
                                     << Oack({"blksize", "1024"}) << QList<int>{1000, 8000, 16000};
        QTest::newRow("write, ACK 1")
            << 2 << QList<QByteArray>{} << 1 << Ack(1) << QList<int>{50, 8000, 16000};
    }
    void silentSessionSentAgainByItsTimerThenGivenUp() {
        QFETCH(int, opcode);
        QFETCH(QList<QByteArray>, options);
        QFETCH(int, answers);
        QFETCH(QByteArray, again);
        QFETCH(QList<int>, waits);
        SweptServer server;
        server.WriteOut("f.bin", Pattern(2000));
        RawClient client(server.nPort);
        QVERIFY(client.Request(
            MakeRequest(opcode, opcode == 1 ? "f.bin" : "up.bin", "octet", options)));
        for (int i = 0; i < answers; ++i) {
            const QByteArray answer = opcode == 1 ? Ack(i + 1) : Data(i + 1, Pattern(512));
            QVERIFY(client.Exchange(answer));
        }
        int nSent = 0;
        for (int nWait : waits) {
            AdvanceTestTickCount(static_cast<unsigned long long>(nWait - 1));
            QCOMPARE(client.Next(20), std::nullopt);
            AdvanceTestTickCount(1);
            QCOMPARE(client.Next(), std::optional<QByteArray>(again));
            QCOMPARE(server.Count(WM_SLOT_RETRANSMIT), ++nSent);
        }
        server.SweepAt(kStart + 30);
        QVERIFY(server.Session());
        server.SweepAt(kStart + 31);
        QCOMPARE(server.Session(), nullptr);
        QCOMPARE(server.core.notes.last(), (RecordingCore::Note{WM_SLOT_IDLE, 1, {}, {}, 0, 0}));
        QVERIFY(!server.FireRetransmission());   // no timer is left
        QCOMPARE(client.Next(50), std::nullopt); // nothing is sent on giving up
        if (opcode == 2)
            QCOMPARE(server.ReadIn("up.bin"), answers ? Pattern(512) : QByteArray());
    }

    // The client's own time-out caps the wait before a retransmission and
    // gives the session up after six of them, whatever the setting, and
    // whether or not the option was acknowledged.
    void requestTimeoutHonouredEvenUnacknowledged_data() {
        QTest::addColumn<int>("allowTimeout");
        QTest::addColumn<int>("opcode");
        QTest::newRow("read, acknowledged") << 1 << 1;
        QTest::newRow("read, not acknowledged") << 0 << 1;
        QTest::newRow("write, not acknowledged") << 0 << 2;
    }
    void requestTimeoutHonouredEvenUnacknowledged() {
        QFETCH(int, allowTimeout);
        QFETCH(int, opcode);
        SweptServer server;
        server.core.m_strTimeout = "120";
        server.core.m_bAllowTimeout = allowTimeout;
        server.WriteOut("f.bin", Pattern(700));
        RawClient client(server.nPort);
        auto first = client.Request(
            MakeRequest(opcode, opcode == 1 ? "f.bin" : "up.bin", "octet", {"timeout", "1"}));
        QVERIFY(first);
        for (int i = 1; i <= 4; ++i) {
            AdvanceTestTickCount(1000); // never doubled past the client's second
            QCOMPARE(client.Next(), first);
        }
        server.SweepAt(kStart + 6);
        QVERIFY(server.Session());
        server.SweepAt(kStart + 7);
        QCOMPARE(server.Session(), nullptr);
    }

    void endedSessionFreedAtTheNextSweep() {
        SweptServer server;
        server.WriteOut("f.bin", Pattern(10));
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        client.Send(Ack(1));
        PumpEvents(50);
        QCOMPARE(server.Session()->IsActive(), false);
        QCOMPARE(server.pListener->m_nActiveClients, 1); // still counted until swept
        server.SweepAt(kStart);
        QCOMPARE(server.Session(), nullptr);
        QCOMPARE(server.pListener->m_nActiveClients, 0);
        QCOMPARE(server.core.MessagesFor(1),
                 (QList<int>{WM_SLOT_CLIENT, WM_SLOT_DETAILS, WM_SLOT_PROGRESS, WM_SLOT_IDLE}));
    }

    void anyDatagramKeepsTheSessionAlive() {
        SweptServer server;
        server.WriteOut("f.bin", Pattern(2000));
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        CTime::SetTestTime(kStart + 20);
        client.Send(QByteArray("\0\x09", 2)); // ignored, but heard
        PumpEvents(50);
        server.SweepAt(kStart + 31);
        QVERIFY(server.Session());
        server.SweepAt(kStart + 51);
        QCOMPARE(server.Session(), nullptr);
    }
};

QTEST_GUILESS_MAIN(TestSweep)
#include "tst_sweep.moc"
