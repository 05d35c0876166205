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
        QCOMPARE(server.Count(WM_SLOT_RETRANSMIT), 0);
        QCOMPARE(client.Next(100), std::nullopt);
        server.SweepAt(kStart + seconds + 1);
        QCOMPARE(server.Count(WM_SLOT_RETRANSMIT), 1);
        QCOMPARE(client.Next(), std::optional<QByteArray>(Data(1, Pattern(2000).left(512))));
    }

    void silentReaderRetransmittedFiveTimesThenGivenUp() {
        SweptServer server;
        server.WriteOut("f.bin", Pattern(2000));
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        auto d2 = client.Exchange(Ack(1));
        QVERIFY(d2);
        time_t t = kStart;
        for (int i = 1; i <= 5; ++i) {
            t += 31;
            int nBefore = static_cast<int>(server.core.notes.size());
            server.SweepAt(t);
            QCOMPARE(server.core.notes.size(), nBefore + 1);
            QCOMPARE(server.core.notes.last().nMessage, WM_SLOT_RETRANSMIT);
            QCOMPARE(client.Next(), d2); // the same block, byte for byte
            QCOMPARE(server.pListener->m_nRetries[0], i);
            server.SweepAt(t + 30); // not yet due again
            QCOMPARE(client.Next(50), std::nullopt);
        }
        server.SweepAt(t + 31);
        QCOMPARE(server.Session(), nullptr);
        QCOMPARE(server.core.notes.last().nMessage, WM_SLOT_IDLE);
        QCOMPARE(server.pListener->m_nActiveClients, 0);
        QCOMPARE(server.pListener->m_nRetries[0], 0);
        QCOMPARE(client.Next(100), std::nullopt); // nothing is sent on giving up
    }

    // The budget bounds retransmissions without progress in between: a long
    // transfer over a lossy link is not given up after five losses in all.
    void progressGivesTheRetriesBack() {
        SweptServer server;
        server.WriteOut("f.bin", Pattern(5000));
        RawClient client(server.nPort);
        auto d1 = client.Request(MakeRequest(1, "f.bin", "octet"));
        server.SweepAt(kStart + 31);
        server.SweepAt(kStart + 62);
        QCOMPARE(client.Next(), d1);
        QCOMPARE(client.Next(), d1);
        QCOMPARE(server.pListener->m_nRetries[0], 2);
        CTime::SetTestTime(kStart + 70);
        QVERIFY(client.Exchange(Ack(1)));
        QCOMPARE(server.pListener->m_nRetries[0], 0);
        time_t t = kStart + 70;
        for (int i = 0; i < 5; ++i) {
            t += 31;
            server.SweepAt(t);
            QVERIFY(client.Next());
        }
        QCOMPARE(server.Count(WM_SLOT_RETRANSMIT), 7);
        server.SweepAt(t + 31);
        QCOMPARE(server.Session(), nullptr);
    }

    // A silent writer is sent its last ACK again, so a client whose block
    // was lost sends it again; five times, then it is given up.
    void silentWriterAckedAgainThenGivenUp_data() {
        QTest::addColumn<QList<QByteArray>>("options");
        QTest::addColumn<int>("blocks"); // stored before the silence
        QTest::addColumn<QByteArray>("again");
        QTest::newRow("before DATA 1") << QList<QByteArray>{} << 0 << Ack(0);
        QTest::newRow("before DATA 1, after an OACK")
            << QList<QByteArray>{"blksize", "1024"} << 0 << Oack({"blksize", "1024"});
        QTest::newRow("after DATA 1") << QList<QByteArray>{} << 1 << Ack(1);
    }
    void silentWriterAckedAgainThenGivenUp() {
        QFETCH(QList<QByteArray>, options);
        QFETCH(int, blocks);
        QFETCH(QByteArray, again);
        SweptServer server;
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(2, "up.bin", "octet", options)));
        if (blocks)
            QCOMPARE(client.Exchange(Data(1, Pattern(512))), std::optional<QByteArray>(Ack(1)));
        time_t t = kStart;
        for (int i = 1; i <= 5; ++i) {
            t += 31;
            server.SweepAt(t);
            QCOMPARE(client.Next(), std::optional<QByteArray>(again));
            QCOMPARE(server.Count(WM_SLOT_RETRANSMIT), i);
        }
        server.SweepAt(t + 31);
        QCOMPARE(server.Session(), nullptr);
        QCOMPARE(server.core.notes.last(), (RecordingCore::Note{WM_SLOT_IDLE, 1, {}, {}, 0, 0}));
        QCOMPARE(client.Next(100), std::nullopt);
        QCOMPARE(server.ReadIn("up.bin"),
                 blocks ? Pattern(512) : QByteArray()); // partial file stays
    }

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
        server.core.m_bAllowTimeout = allowTimeout;
        server.WriteOut("f.bin", Pattern(700));
        RawClient client(server.nPort);
        QVERIFY(client.Request(
            MakeRequest(opcode, opcode == 1 ? "f.bin" : "up.bin", "octet", {"timeout", "5"})));
        server.SweepAt(kStart + 5);
        QCOMPARE(server.Count(WM_SLOT_RETRANSMIT) + server.Count(WM_SLOT_IDLE), 0);
        server.SweepAt(kStart + 6);
        QCOMPARE(server.Count(WM_SLOT_RETRANSMIT), 1);
    }

    void oackSentAgainWhileItWaits() {
        SweptServer server;
        server.WriteOut("f.bin", Pattern(700));
        RawClient client(server.nPort);
        auto oack = client.Request(MakeRequest(1, "f.bin", "octet", {"tsize", "0"}));
        QCOMPARE(oack, std::optional<QByteArray>(Oack({"tsize", "700"})));
        server.SweepAt(kStart + 31);
        QCOMPARE(client.Next(), oack);
        QCOMPARE(client.Exchange(Ack(0)),
                 std::optional<QByteArray>(Data(1, Pattern(700).left(512))));
    }

    void lastBlockSentAgain() {
        SweptServer server;
        server.WriteOut("f.bin", Pattern(700));
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "netascii")));
        auto last = client.Exchange(Ack(1));
        QCOMPARE(last, std::optional<QByteArray>(Data(2, Pattern(700).mid(512))));
        server.SweepAt(kStart + 31);
        QCOMPARE(client.Next(), last);
        client.Send(Ack(2));
        PumpEvents(50);
        QCOMPARE(server.Session()->m_bActive, 0);
    }

    void endedSessionFreedAtTheNextSweep() {
        SweptServer server;
        server.WriteOut("f.bin", Pattern(10));
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        client.Send(Ack(1));
        PumpEvents(50);
        QCOMPARE(server.Session()->m_bActive, 0);
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
        QCOMPARE(server.Count(WM_SLOT_RETRANSMIT), 0);
        server.SweepAt(kStart + 51);
        QCOMPARE(server.Count(WM_SLOT_RETRANSMIT), 1);
    }
};

QTEST_GUILESS_MAIN(TestSweep)
#include "tst_sweep.moc"
