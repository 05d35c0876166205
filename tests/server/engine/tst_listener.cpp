#include "ServerFixture.h"

#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {
const QByteArray kServiceRefused("\0\5\0\0Service not available\0\0", 27);
const QByteArray kTooManyClients("\0\5\0\0Too Many Clients\0", 21);

// A listener on 127.0.0.1 and a free port, with the shared state recording
// what the view is told.
struct Server : ServerFixture {
    // The next answer from the listening port itself (the sessions' own
    // sockets are other ports), or nothing within ms.
    std::optional<QByteArray> AnswerTo(UdpPeer& peer, const QByteArray& datagram, int ms = 300) {
        peer.SendTo(nPort, datagram);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            uint16_t nFrom = 0;
            auto reply = peer.Receive(static_cast<int>(ms - timer.elapsed()), &nFrom);
            if (reply && nFrom == nPort)
                return reply;
            if (reply)
                sessionReplies << qMakePair(nFrom, *reply);
        }
        return std::nullopt;
    }

    QList<QPair<uint16_t, QByteArray>> sessionReplies; // seen while waiting

    int OccupiedSlots() const {
        int n = 0;
        for (CClientSession* p : pListener->m_pSession)
            n += p != nullptr;
        return n;
    }
};

QByteArray Rrq(const QByteArray& name = "file.bin") {
    return MakeRequest(1, name, "octet");
}

// The first of n consecutive ports that are free on 127.0.0.1 now.
uint16_t FreeRange(int n) {
    for (uint16_t nFirst = FreeUdpPort();; nFirst = FreeUdpPort()) {
        int i = 1;
        while (i < n && nFirst + i < 65536 && UdpPeer("127.0.0.1", nFirst + i).Port() != 0)
            ++i;
        if (i == n)
            return nFirst;
    }
}
// How the transfer in the first slot stands when the next request comes.
enum class Ending { Completed, Refused, ClientError, DiskFull, Live };

void EndTransfer(Ending ending, RawClient& client) {
    switch (ending) {
    case Ending::Completed:
        QCOMPARE(client.Request(Rrq("small.bin")), std::optional<QByteArray>(Data(1, "tiny")));
        client.Send(Ack(1));
        break;
    case Ending::Refused:
        QVERIFY(client.Request(Rrq("none.bin")));
        break;
    case Ending::ClientError:
        QVERIFY(client.Request(Rrq()));
        client.Send(ErrorPacket(8, "User aborted the transfer"));
        break;
    case Ending::DiskFull: {
        // A file size limit makes the write fail as on a full disk.
        QCOMPARE(client.Request(MakeRequest(2, "up.bin", "octet")),
                 std::optional<QByteArray>(Ack(0)));
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit none = saved;
        none.rlim_cur = 0;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &none) == 0);
        const auto answer = client.Exchange(Data(1, "short"));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(answer && answer->startsWith(QByteArray("\0\5\0\3", 4)));
        break;
    }
    case Ending::Live:
        QVERIFY(client.Request(Rrq()));
        QVERIFY(client.Exchange(Ack(1)));
        break;
    }
    PumpEvents(20); // the client's last datagram is taken in
}

QList<QPair<int, int>> Seen(const QList<RecordingCore::Note>& notes) {
    QList<QPair<int, int>> seen;
    for (const auto& note : notes)
        if (note.nMessage != WM_SLOT_PROGRESS)
            seen << qMakePair(note.nMessage, note.nSlot);
    return seen;
}
} // namespace

Q_DECLARE_METATYPE(Ending)

class TestListener : public QObject {
    Q_OBJECT
private slots:
    void startListeningTitlesWithAddressAndPort() {
        Server server;
        QCOMPARE(server.core.m_szTitle, QString("127.0.0.1.%1").arg(server.nPort));
        QCOMPARE(server.pListener->m_strLocalAddress, QString("127.0.0.1"));
        QCOMPARE(server.pListener->m_nActiveClients, 0);
    }

    void portTextReadAsLeadingDigits() {
        RecordingCore core;
        uint16_t nPort = FreeUdpPort();
        core.m_strPort = QString("%1abc").arg(nPort);
        CListenSocket listener(core);
        QVERIFY(listener.StartListening());
        QCOMPARE(core.m_szTitle, QString("127.0.0.1.%1").arg(nPort));
    }

    void startFailsWhenThePortIsTaken() {
        Server first;
        MessageBoxRecorder boxes;
        CListenSocket second(first.core);
        QVERIFY(!second.StartListening());
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(boxes.texts[0].startsWith("Unable to Create listening port\n"));
        QVERIFY(boxes.texts[0].size() > int(strlen("Unable to Create listening port\n")));
    }

    // Transfers talk from ports of the range. Ended transfers (a fetch
    // broken off, a finished store before and after the sweep) give theirs
    // up to a new one; with every port taken, by live transfers or another
    // program, the request is refused from the listening port, its row and
    // the log say why, and the live transfers go on.
    void dataPortRange_data() {
        QTest::addColumn<int>("ports");
        QTest::addColumn<int>("boundElsewhere");
        QTest::addColumn<QString>("earlier"); // L live fetch, B broken off, S finished store
        QTest::addColumn<bool>("served");
        QTest::newRow("three ports, two live") << 3 << 0 << "LL" << true;
        QTest::newRow("one port, live") << 1 << 0 << "L" << false;
        QTest::newRow("two ports, one bound elsewhere, live") << 2 << 1 << "L" << false;
        QTest::newRow("one port bound elsewhere") << 1 << 1 << "" << false;
        QTest::newRow("one port, broken off") << 1 << 0 << "B" << true;
        QTest::newRow("one port, finished store") << 1 << 0 << "S" << true;
        QTest::newRow("one port, finished store swept") << 1 << 0 << "S-" << true;
    }
    void dataPortRange() {
        QFETCH(int, ports);
        QFETCH(int, boundElsewhere);
        QFETCH(QString, earlier);
        QFETCH(bool, served);
        Server server;
        server.WriteOut("file.bin", QByteArray(3000, 'x'));
        const uint16_t nFirst = FreeRange(ports);
        const QString strRange = QString("%1-%2").arg(nFirst).arg(nFirst + ports - 1);
        server.core.m_strPortRange = strRange;
        server.core.ApplyPortRange();
        std::vector<std::unique_ptr<UdpPeer>> others;
        for (int i = 0; i < boundElsewhere; ++i)
            others.push_back(std::make_unique<UdpPeer>("127.0.0.1", nFirst + i));
        std::vector<std::unique_ptr<RawClient>> clients;
        for (QChar step : earlier) {
            if (step == '-') {
                server.pListener->SweepSessions();
                continue;
            }
            RawClient& c = *clients.emplace_back(std::make_unique<RawClient>(server.nPort));
            if (step == 'S') {
                QCOMPARE(c.Request(MakeRequest(2, "in.bin", "octet")), std::optional(Ack(0)));
                QCOMPARE(c.Exchange(Data(1, "short")), std::optional(Ack(1)));
            } else {
                QCOMPARE(c.Request(Rrq())->left(4), Data(1, {}));
                if (step == 'B')
                    c.Send(ErrorPacket(0, "stop"));
            }
        }
        QTest::qWait(20);
        RawClient next(server.nPort);
        const std::optional<QByteArray> answer = next.Request(Rrq());
        if (served) {
            QCOMPARE(answer->left(4), Data(1, {}));
            QVERIFY(next.nSessionPort >= nFirst && next.nSessionPort < nFirst + ports);
            for (const auto& c : clients)
                QVERIFY(c->nSessionPort != next.nSessionPort || !earlier.contains('L'));
        } else {
            const QString strRefusal = "No data port is free in " + strRange;
            QCOMPARE(answer, std::optional(ErrorPacket(0, qPrintable(strRefusal))));
            QCOMPARE(next.nSessionPort, server.nPort);
            QCOMPARE(server.core.notes.last(),
                     (RecordingCore::Note{
                         WM_SLOT_DETAILS, int(clients.size()) + 1, strRefusal, {}, 0, 1}));
            QVERIFY(server.core.lines.last().endsWith("failed: " + strRefusal));
        }
        if (earlier.startsWith('L'))
            QCOMPARE(clients[0]->Exchange(Ack(1))->left(4), Data(2, {}));
    }

    void startFailsQuietlyWithoutAnAddress() {
        RecordingCore core;
        core.listenAddress = std::nullopt;
        core.m_strPort = QString::number(FreeUdpPort());
        MessageBoxRecorder boxes;
        CListenSocket listener(core);
        QVERIFY(!listener.StartListening());
        QVERIFY(boxes.texts.isEmpty());
    }

    void servingOffRefusesEveryDatagram_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::newRow("read request") << Rrq();
        QTest::newRow("write request") << MakeRequest(2, "up.bin", "octet");
        QTest::newRow("data packet") << QByteArray("\0\3\0\1abc", 7);
        QTest::newRow("1 byte") << QByteArray("\1", 1);
        QTest::newRow("3 bytes") << QByteArray("\0\1a", 3);
        QTest::newRow("513 bytes") << Rrq(QByteArray(504, 'n'));
    }
    void servingOffRefusesEveryDatagram() {
        QFETCH(QByteArray, datagram);
        Server server;
        server.core.m_bServing = 0;
        UdpPeer peer;
        QCOMPARE(server.AnswerTo(peer, datagram), std::optional<QByteArray>(kServiceRefused));
        QCOMPARE(server.OccupiedSlots(), 0);
        QVERIFY(server.core.notes.isEmpty());
    }

    void datagramsDroppedWithoutAnswer_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::newRow("3 bytes") << QByteArray("\0\1a", 3);
        QTest::newRow("ack") << QByteArray("\0\4\0\0", 4);
        QTest::newRow("data") << QByteArray("\0\3\0\1abc", 7);
        QTest::newRow("error") << QByteArray("\0\5\0\0oops\0", 9);
        QTest::newRow("oack") << QByteArray("\0\6tsize\0"
                                            "0\0",
                                            10);
        QTest::newRow("opcode 0") << QByteArray("\0\0x\0octet\0", 10);
        QTest::newRow("opcode 257") << QByteArray("\1\1x\0octet\0", 10);
        QTest::newRow("513-byte read request") << Rrq(QByteArray(504, 'n'));
        QTest::newRow("oversized datagram") << QByteArray(2000, '\1');
    }
    void datagramsDroppedWithoutAnswer() {
        QFETCH(QByteArray, datagram);
        Server server;
        UdpPeer peer;
        QCOMPARE(server.AnswerTo(peer, datagram), std::nullopt);
        QCOMPARE(server.OccupiedSlots(), 0);
        QCOMPARE(server.pListener->m_nActiveClients, 0);
        QVERIFY(server.core.notes.isEmpty());
    }

    void requestsUpTo512BytesAreAdmitted_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QByteArray>("answer"); // from the session's own port
        QTest::newRow("4-byte read request")
            << QByteArray("\0\1x\0", 4) << QByteArray("\0\5\0\4Unknown TFTP Operation\0", 27);
        QTest::newRow("512-byte read request")
            << Rrq(QByteArray(503, 'n')) << QByteArray("\0\5\0\1File not found\0", 19);
        // A 60-character name with a client's usual options passes 100 bytes.
        QTest::newRow("long name with options, 123 bytes")
            << MakeRequest(1, QByteArray(60, 'n'), "octet",
                           {"tsize", "0", "blksize", "1468", "timeout", "6", "windowsize", "1"})
            << QByteArray("\0\5\0\1File not found\0", 19);
        QTest::newRow("write request")
            << MakeRequest(2, "up.bin", "netascii") << QByteArray("\0\4\0\0", 4);
    }
    void requestsUpTo512BytesAreAdmitted() {
        QFETCH(QByteArray, datagram);
        QFETCH(QByteArray, answer);
        QVERIFY(datagram.size() <= 512);
        QCOMPARE(Rrq(QByteArray(503, 'n')).size(), 512);
        Server server;
        UdpPeer peer;
        QCOMPARE(server.AnswerTo(peer, datagram), std::nullopt);
        QCOMPARE(server.sessionReplies.size(), 1);
        QCOMPARE(server.sessionReplies[0].second, answer);
        QVERIFY(server.sessionReplies[0].first != server.nPort);
        QCOMPARE(server.OccupiedSlots(), 1);
        QCOMPARE(server.pListener->m_nActiveClients, 1);
        CClientSession* pSession = server.pListener->m_pSession[0];
        QVERIFY(pSession);
        QCOMPARE(pSession->m_nSlot, 0);
        QCOMPARE(ntohs(pSession->m_peerAddr.sin_port), peer.Port());
        QCOMPARE(pSession->m_strLocalAddress, QString("127.0.0.1"));
        QCOMPARE(server.core.notes.first(),
                 (RecordingCore::Note{WM_SLOT_CLIENT, 1, "127.0.0.1", {}, 0, 0}));
    }

    void errorsAreNeverAnswered_data() {
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("answered");
        const QList<QPair<const char*, QByteArray>> datagrams{
            {"ERROR with text", QByteArray("\0\5\0\0oops\0", 9)},
            {"ERROR without text", QByteArray("\0\5\0\4", 4)},
            {"ERROR opcode alone", QByteArray("\0\5", 2)},
            {"oversized ERROR", QByteArray("\0\5\0\0", 4) + QByteArray(700, 'x')},
            {"read request", Rrq()},
            {"ack", QByteArray("\0\4\0\1", 4)},
            {"oversized request", Rrq(QByteArray(600, 'n'))},
        };
        for (const char* refusal : {"serving off", "denied", "not allowed"})
            for (const auto& [name, datagram] : datagrams)
                QTest::addRow("%s, %s", refusal, name)
                    << QString(refusal) << datagram << !datagram.startsWith(QByteArray("\0\5", 2));
    }
    void errorsAreNeverAnswered() {
        QFETCH(QString, refusal);
        QFETCH(QByteArray, datagram);
        QFETCH(bool, answered);
        Server server;
        if (refusal == "serving off")
            server.core.m_bServing = 0;
        server.core.m_bDeny = refusal == "denied";
        server.core.m_strDeny[0] = "127.0.0.1";
        server.core.m_bAllow = refusal == "not allowed";
        UdpPeer peer;
        auto reply = server.AnswerTo(peer, datagram);
        if (answered)
            QCOMPARE(reply, std::optional<QByteArray>(kServiceRefused));
        else
            QCOMPARE(reply, std::nullopt);
        QCOMPARE(server.OccupiedSlots(), 0);
    }

    // Forged datagrams (raw sockets) that would set two of the server's own
    // sockets answering each other for ever.
    void noEndlessExchangeBetweenOwnSockets_data() {
        QTest::addColumn<QString>("setup");
        QTest::newRow("listener with itself, serving off") << "self";
        QTest::newRow("listener with itself, serving on") << "self serving";
        QTest::newRow("session and the refusing listener") << "session-listener";
        QTest::newRow("two sessions") << "sessions";
    }
    void noEndlessExchangeBetweenOwnSockets() {
        QFETCH(QString, setup);
        Server server;
        server.WriteOut("file.bin", QByteArray(3000, 'f'));
        UdpPeer first, second;
        uint16_t nFrom = server.nPort, nTo = server.nPort;
        QByteArray forged = Rrq();
        if (setup.startsWith("session")) {
            RawClient a(server.nPort), b(server.nPort);
            QVERIFY(a.Request(Rrq()));
            QVERIFY(b.Request(Rrq()));
            forged = QByteArray("\0\4\0\7", 4); // any answer but an ERROR
            if (setup == "sessions") {
                nFrom = a.nSessionPort;
                nTo = b.nSessionPort;
            } else {
                server.core.m_bServing = 0;
                nTo = a.nSessionPort;
            }
        } else {
            server.core.m_bServing = setup == "self serving";
        }
        const long long nBefore = CAsyncSocket::DatagramsSent();
        if (!SendForged(nFrom, nTo, forged))
            QSKIP("no raw socket to forge a datagram with (needs CAP_NET_RAW)");
        PumpEvents(500);
        const long long nSent = CAsyncSocket::DatagramsSent() - nBefore;
        QVERIFY2(nSent < 20, qPrintable(QString("%1 datagrams sent").arg(nSent)));
        // Nothing from its own address is taken for a client.
        if (setup == "self serving")
            QCOMPARE(server.OccupiedSlots(), 0);
    }

    void lowestFreeSlotAndSixthRequesterRefused() {
        Server server;
        server.WriteOut("file.bin", Pattern(2000)); // every transfer goes on
        UdpPeer peers[7];
        for (int i = 0; i < 3; ++i)
            QCOMPARE(server.AnswerTo(peers[i], Rrq()), std::nullopt);
        QCOMPARE(server.OccupiedSlots(), 3);
        // Slots 1 and 3 stay; slot 2 is freed and is the next one given out.
        server.pListener->ReleaseSlot(1);
        QCOMPARE(server.pListener->m_nActiveClients, 2);
        QCOMPARE(server.AnswerTo(peers[3], Rrq()), std::nullopt);
        QVERIFY(server.pListener->m_pSession[1]);
        QCOMPARE(server.AnswerTo(peers[4], Rrq()), std::nullopt);
        QCOMPARE(server.AnswerTo(peers[5], Rrq()), std::nullopt);
        QCOMPARE(server.pListener->m_nActiveClients, 5);
        int nNotesBefore = static_cast<int>(server.core.notes.size());
        QCOMPARE(server.AnswerTo(peers[6], Rrq()), std::optional<QByteArray>(kTooManyClients));
        QCOMPARE(server.core.notes.size(), nNotesBefore); // no row changes
        QCOMPARE(server.pListener->m_nActiveClients, 5);

        QList<QPair<int, int>> seen;
        for (const auto& note : server.core.notes)
            if (note.nMessage == WM_SLOT_CLIENT || note.nMessage == WM_SLOT_IDLE)
                seen << qMakePair(note.nMessage, note.nSlot);
        QCOMPARE(seen, (QList<QPair<int, int>>{{WM_SLOT_CLIENT, 1},
                                               {WM_SLOT_CLIENT, 2},
                                               {WM_SLOT_CLIENT, 3},
                                               {WM_SLOT_IDLE, 2},
                                               {WM_SLOT_CLIENT, 2},
                                               {WM_SLOT_CLIENT, 4},
                                               {WM_SLOT_CLIENT, 5}}));
    }

    // A slot is free the moment its transfer ends, however it ended: the
    // next request takes it at once, as if the sweep had just freed it.
    void slotFreeTheMomentItsTransferEnds_data() {
        QTest::addColumn<Ending>("ending");
        QTest::addColumn<QString>("line"); // the first transfer's; OUT/, IN/ the folders
        QTest::newRow("completed")
            << Ending::Completed << "read OUT/small.bin: 4 bytes in 1 block, complete";
        QTest::newRow("refused with an ERROR")
            << Ending::Refused << "read OUT/none.bin: 0 bytes in 0 blocks, failed: File not found";
        QTest::newRow("cut off by the client's ERROR")
            << Ending::ClientError
            << "read OUT/file.bin: 0 bytes in 0 blocks, failed: the client sent ERROR 8 \"User "
               "aborted the transfer\"";
        QTest::newRow("failed") << Ending::DiskFull
                                << "write IN/up.bin: 0 bytes in 0 blocks, failed: Disk full";
        QTest::newRow("live: never taken") << Ending::Live << "";
    }
    void slotFreeTheMomentItsTransferEnds() {
        QFETCH(Ending, ending);
        QFETCH(QString, line);
        Server server;
        server.core.m_nMaxClients = 2;
        server.WriteOut("file.bin", Pattern(2000));
        server.WriteOut("small.bin", "tiny");
        server.core.lines.clear();
        RawClient first(server.nPort), second(server.nPort), next(server.nPort);
        EndTransfer(ending, first);
        EndTransfer(Ending::Live, second);
        server.core.notes.clear();
        const auto answer = next.Request(Rrq("small.bin"), 500);
        const QString strNext = QString("127.0.0.1:%1 ").arg(next.peer.Port());
        if (ending == Ending::Live) {
            QCOMPARE(answer, std::optional<QByteArray>(kTooManyClients));
            QCOMPARE(server.core.notes.size(), 0);
            QCOMPARE(server.core.lines,
                     QStringList{strNext + "read small.bin: 0 bytes in 0 blocks, failed: Too Many "
                                           "Clients: every slot holds a live transfer "
                                           "(MaxClients is 2)"});
            return;
        }
        QCOMPARE(answer, std::optional<QByteArray>(Data(1, "tiny")));
        QCOMPARE(next.nSessionPort == first.nSessionPort, false);
        QCOMPARE(
            Seen(server.core.notes),
            (QList<QPair<int, int>>{{WM_SLOT_IDLE, 1}, {WM_SLOT_CLIENT, 1}, {WM_SLOT_DETAILS, 1}}));
        QCOMPARE(server.core.notes[2].strText, server.outDir + "small.bin");
        line.replace("OUT/", server.outDir).replace("IN/", server.inDir);
        QCOMPARE(server.core.lines,
                 QStringList{QString("127.0.0.1:%1 ").arg(first.peer.Port()) + line});
        next.Send(Ack(1));
        QTRY_COMPARE_WITH_TIMEOUT(server.core.lines.size(), 2, 1000);
        QCOMPARE(server.core.lines[1],
                 strNext + "read " + server.outDir + "small.bin: 4 bytes in 1 block, complete");
        QCOMPARE(server.pListener->LiveClients(), 1);
    }

    void slotThatEndedFirstIsTakenFirst() {
        Server server;
        server.core.m_nMaxClients = 3;
        server.WriteOut("file.bin", Pattern(2000));
        RawClient a(server.nPort), b(server.nPort), c(server.nPort);
        for (RawClient* p : {&a, &b, &c})
            QVERIFY(p->Request(Rrq()));
        b.Send(ErrorPacket(0, "first")); // slot 2 ends first, then slot 1
        PumpEvents(20);
        a.Send(ErrorPacket(0, "second"));
        PumpEvents(20);
        server.core.notes.clear();
        RawClient d(server.nPort), e(server.nPort), f(server.nPort);
        QVERIFY(d.Request(Rrq()));
        QVERIFY(e.Request(Rrq()));
        QCOMPARE(f.Request(Rrq(), 300), std::optional<QByteArray>(kTooManyClients));
        QCOMPARE(Seen(server.core.notes), (QList<QPair<int, int>>{{WM_SLOT_IDLE, 2},
                                                                  {WM_SLOT_CLIENT, 2},
                                                                  {WM_SLOT_DETAILS, 2},
                                                                  {WM_SLOT_IDLE, 1},
                                                                  {WM_SLOT_CLIENT, 1},
                                                                  {WM_SLOT_DETAILS, 1}}));
    }

    // Requesters that never answer hold every slot: after 2 s of their
    // silence a new request takes the slot of the one that asked first; a
    // client that answers is never displaced.
    void silentRequestersGiveWay() {
        Server server;
        server.WriteOut("file.bin", Pattern(2000));
        std::vector<std::unique_ptr<RawClient>> held;
        for (int i = 0; i < kSlots; ++i) {
            held.push_back(std::make_unique<RawClient>(server.nPort));
            QVERIFY(held.back()->Request(Rrq()));
        }
        QVERIFY(held[2]->Exchange(Ack(1))); // slot 3 answers
        CClientSession* pAnswering = server.Session(3);
        RawClient early(server.nPort);
        AdvanceTestTickCount(2000);
        QCOMPARE(early.Request(Rrq(), 300), std::optional<QByteArray>(kTooManyClients));
        AdvanceTestTickCount(1);
        server.core.lines.clear();
        server.core.notes.clear();
        std::vector<std::unique_ptr<RawClient>> fresh;
        for (int i = 0; i < kSlots - 1; ++i) {
            fresh.push_back(std::make_unique<RawClient>(server.nPort));
            QCOMPARE(fresh.back()->Request(Rrq(), 500)->left(4), Data(1, {}));
        }
        QCOMPARE(Seen(server.core.notes), (QList<QPair<int, int>>{{WM_SLOT_IDLE, 1},
                                                                  {WM_SLOT_CLIENT, 1},
                                                                  {WM_SLOT_DETAILS, 1},
                                                                  {WM_SLOT_IDLE, 2},
                                                                  {WM_SLOT_CLIENT, 2},
                                                                  {WM_SLOT_DETAILS, 2},
                                                                  {WM_SLOT_IDLE, 4},
                                                                  {WM_SLOT_CLIENT, 4},
                                                                  {WM_SLOT_DETAILS, 4},
                                                                  {WM_SLOT_IDLE, 5},
                                                                  {WM_SLOT_CLIENT, 5},
                                                                  {WM_SLOT_DETAILS, 5}}));
        QCOMPARE(server.core.lines.size(), kSlots - 1);
        for (int i : {0, 1, 3, 4})
            QVERIFY(server.core.lines.contains(
                QString("127.0.0.1:%1 read %2file.bin: 0 bytes in 0 blocks, failed: the client "
                        "stopped answering")
                    .arg(held[i]->peer.Port())
                    .arg(server.outDir)));
        // The newcomers asked just now, and the answering client stays.
        RawClient last(server.nPort);
        QCOMPARE(last.Request(Rrq(), 300), std::optional<QByteArray>(kTooManyClients));
        QCOMPARE(server.Session(3), pAnswering);
        QVERIFY(pAnswering->IsActive());
    }

    void releaseResetsTheSlot() {
        Server server;
        UdpPeer peer;
        server.AnswerTo(peer, Rrq());
        server.pListener->m_nRetries[0] = 3;
        server.pListener->ReleaseSlot(0);
        QCOMPARE(server.pListener->m_pSession[0], nullptr);
        QCOMPARE(server.pListener->m_nRetries[0], 0);
        QCOMPARE(server.pListener->m_nActiveClients, 0);
        server.pListener->ReleaseSlot(0); // an empty slot is left alone
        QCOMPARE(server.pListener->m_nActiveClients, 0);
        QCOMPARE(server.core.MessagesFor(1), (QList<int>{WM_SLOT_CLIENT, WM_SLOT_IDLE}));
    }

    void addressListsDecideBeforeTheDatagramIsLookedAt_data() {
        QTest::addColumn<int>("allow");
        QTest::addColumn<QString>("allowEntry");
        QTest::addColumn<int>("deny");
        QTest::addColumn<QString>("denyEntry");
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("occupied");
        const QByteArray none;
        QTest::newRow("deny match refuses a 2-byte datagram")
            << 0 << "" << 1 << "127.0.0.*" << QByteArray("\0\1", 2) << kServiceRefused << 0;
        QTest::newRow("deny match refuses an ack")
            << 0 << "" << 1 << "127.*.*.*" << QByteArray("\0\4\0\0", 4) << kServiceRefused << 0;
        QTest::newRow("empty allow list refuses everybody")
            << 1 << "" << 0 << "" << Rrq() << kServiceRefused << 0;
        QTest::newRow("allow list matching admits")
            << 1 << "127.0.0.1" << 0 << "" << Rrq() << none << 1;
        QTest::newRow("allowed client's ack is not answered")
            << 1 << "127.0.0.1" << 0 << "" << QByteArray("\0\4\0\0", 4) << none << 0;
        QTest::newRow("deny wins over allow")
            << 1 << "*.*.*.*" << 1 << "127.0.0.1" << Rrq() << kServiceRefused << 0;
        QTest::newRow("empty deny list refuses nobody") << 0 << "" << 1 << "" << Rrq() << none << 1;
        QTest::newRow("allow flag 2 is off") << 2 << "" << 0 << "" << Rrq() << none << 1;
        QTest::newRow("deny flag 2 is off") << 0 << "" << 2 << "127.0.0.1" << Rrq() << none << 1;
        QTest::newRow("other address allowed only")
            << 1 << "127.0.0.2" << 0 << "" << Rrq() << kServiceRefused << 0;
    }
    void addressListsDecideBeforeTheDatagramIsLookedAt() {
        QFETCH(int, allow);
        QFETCH(QString, allowEntry);
        QFETCH(int, deny);
        QFETCH(QString, denyEntry);
        QFETCH(QByteArray, datagram);
        QFETCH(QByteArray, answer);
        QFETCH(int, occupied);
        Server server;
        server.core.m_bAllow = allow;
        server.core.m_strAllow[9] = allowEntry; // entry 10: every entry is tried
        server.core.m_bDeny = deny;
        server.core.m_strDeny[2] = denyEntry;
        UdpPeer peer;
        auto reply = server.AnswerTo(peer, datagram);
        if (answer.isEmpty())
            QCOMPARE(reply, std::nullopt);
        else
            QCOMPARE(reply, std::optional<QByteArray>(answer));
        QCOMPARE(server.OccupiedSlots(), occupied);
    }

    void listChangesTakeEffectWithTheNextDatagram() {
        Server server;
        UdpPeer peer;
        QCOMPARE(server.AnswerTo(peer, Rrq()), std::nullopt);
        server.core.m_bDeny = 1;
        server.core.m_strDeny[0] = "127.0.0.1";
        QCOMPARE(server.AnswerTo(peer, Rrq()), std::optional<QByteArray>(kServiceRefused));
        QCOMPARE(server.OccupiedSlots(), 1);
    }

    void destructionDeletesSessionsWithoutNotes() {
        auto* pServer = new Server;
        UdpPeer first, second;
        pServer->AnswerTo(first, Rrq());
        pServer->AnswerTo(second, Rrq());
        int nNotes = static_cast<int>(pServer->core.notes.size());
        delete pServer->pListener;
        pServer->core.m_pListener = pServer->pListener = nullptr;
        QCOMPARE(pServer->core.notes.size(), nNotes);
        delete pServer;
    }
};

QTEST_GUILESS_MAIN(TestListener)
#include "tst_listener.moc"
