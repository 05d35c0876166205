// The client's transfer object against our own server engine, both running
// in this process on 127.0.0.1: the two programs must agree on the wire.
#include "ClientFixture.h"
#include "ClientSession.h"
#include "HookedNetwork.h"
#include "OwnServer.h"
#include "Relay.h"

#include <QFile>
#include <QtTest>

namespace {
using Posted = RecordingView::Posted;

void AddRows() {
    QTest::addColumn<int>("nSize");
    QTest::addColumn<int>("nBlockSize");
    QTest::addColumn<int>("bOctet");
    for (int nBlockSize : {512, 1024, 8192})
        for (int nSize : {0, 512, 1000, 1024, 3000000})
            QTest::addRow("%d bytes, block size %d", nSize, nBlockSize) << nSize << nBlockSize << 1;
    QTest::addRow("netascii, 1000 bytes") << 1000 << 512 << 0;
    QTest::addRow("netascii, 1024 bytes, block size 1024") << 1024 << 1024 << 0;
}

// Sends the content to the server, or fetches it from there, as the
// transfer object was set up (m_bSending).
bool Start(ClientFixture& f, const OwnServer& server, uint16_t nPort, const QByteArray& content) {
    if (f.T().m_bSending) {
        f.WriteLocal("out.bin", content);
        return f.T().StartSend("remote.bin", "out.bin", "127.0.0.1", nPort, 1, {}) == 1;
    }
    server.Put("remote.bin", content);
    return f.T().StartFetch("remote.bin", "got.bin", "127.0.0.1", nPort, 1) == 1;
}
// The client and the server's sessions on a hooked network, with the server
// on the port given.
void Connect(HookedNetwork& net, OwnServer& server, ClientFixture& f) {
    net.SetSockets([&] {
        std::vector<CAsyncSocket*> sockets{server.pListener, f.pTransfer.get()};
        for (CClientSession* pSession : server.pListener->m_pSession)
            sockets.push_back(pSession);
        for (CClientSession* pSession : server.pListener->m_lingering)
            sockets.push_back(pSession);
        return sockets;
    });
}

// Delivers what the hooked network holds and moves the clock on to the next
// retransmission whenever the wire falls silent, until both sides have
// ended; the server's session, or null when none was made.
CClientSession* RunToEnd(HookedNetwork& net, OwnServer& server, ClientFixture& f, int nRounds) {
    CClientSession* pSession = nullptr;
    for (int i = 0; i < nRounds; ++i) {
        if (!net.Deliver())
            return nullptr;
        pSession = pSession ? pSession : server.pListener->m_pSession[0];
        if (!f.T().m_bActive && pSession && !pSession->IsActive())
            return pSession;
        unsigned long long nDue = f.T().RetransmissionDue();
        const unsigned long long nServerDue = pSession ? pSession->RetransmissionDue() : 0;
        if (nServerDue && (!nDue || nServerDue < nDue))
            nDue = nServerDue;
        if (!nDue)
            return nullptr; // nothing in flight, yet the transfer has not ended
        AdvanceTestTickCount(nDue - GetTickCount());
    }
    return nullptr;
}
} // namespace

class TestClientServer : public QObject {
    Q_OBJECT
private slots:
    void fetch_data() { AddRows(); }
    void fetch() {
        QFETCH(int, nSize);
        QFETCH(int, nBlockSize);
        QFETCH(int, bOctet);
        OwnServer server;
        ClientFixture f;
        const QByteArray content = Pattern(nSize, nBlockSize);
        server.Put("remote.bin", content);
        f.NewTransfer(0, nBlockSize, 10, 1);
        QCOMPARE(f.T().StartFetch("remote.bin", "got.bin", "127.0.0.1", server.nPort, bOctet), 1);
        QVERIFY(f.WaitForEnd(60000));
        QCOMPARE(f.ReadLocal("got.bin"), content);
        const int nBlocks = nSize / nBlockSize + 1;
        QCOMPARE(f.core.LastStatus(),
                 QString("Received %1 bytes (%2 blocks) - Done").arg(nSize).arg(nBlocks));
        PumpEvents(20);
        // The server's tsize starts the progress bar, every block moves it.
        QCOMPARE(f.view.posted.value(1), (Posted{WM_CLIENT_PROGRESS, 0, nSize}));
        if (nSize != 0)
            QCOMPARE(f.view.posted.last(), (Posted{WM_CLIENT_PROGRESS, 2, nSize}));
        server.pListener->SweepSessions();
        QCOMPARE(server.pListener->m_nActiveClients, 0);
    }

    void send_data() { AddRows(); }
    void send() {
        QFETCH(int, nSize);
        QFETCH(int, nBlockSize);
        QFETCH(int, bOctet);
        OwnServer server;
        ClientFixture f;
        const QByteArray content = Pattern(nSize, nBlockSize + 7);
        f.WriteLocal("out.bin", content);
        f.NewTransfer(1, nBlockSize, 10, 1);
        QCOMPARE(f.T().StartSend("remote.bin", "out.bin", "127.0.0.1", server.nPort, bOctet, {}),
                 1);
        QVERIFY(f.WaitForEnd(60000));
        QCOMPARE(server.Get("remote.bin"), content);
        QCOMPARE(f.core.LastStatus(),
                 nSize ? QString("Sent %1 bytes (100%)").arg(nSize) : QString("Sent 0 bytes"));
        server.pListener->SweepSessions();
        QCOMPARE(server.pListener->m_nActiveClients, 0);
    }

    void refusalsReachTheStatusLine_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("status");
        QTest::newRow("missing file") << 0 << "missing.bin"
                                      << "Msg from Server > File not found";
        QTest::newRow("name leaving the folder") << 1 << "../escape.bin"
                                                 << "Msg from Server > Access violation";
    }
    void refusalsReachTheStatusLine() {
        QFETCH(int, bSending);
        QFETCH(QString, remote);
        QFETCH(QString, status);
        OwnServer server;
        ClientFixture f;
        f.WriteLocal("out.bin", "data");
        f.NewTransfer(bSending);
        int bStarted = bSending
                           ? f.T().StartSend(remote, "out.bin", "127.0.0.1", server.nPort, 1, {})
                           : f.T().StartFetch(remote, "got.bin", "127.0.0.1", server.nPort, 1);
        QCOMPARE(bStarted, 1);
        QVERIFY(f.WaitForEnd());
        QCOMPARE(f.core.LastStatus(), status);
    }

    // Both programs through a network in this process that loses one
    // datagram, at each step of a transfer, each way: the side waiting for
    // it sends its last packet again on its own timer, and the file arrives
    // whole with no more datagrams than that loss needs.
    void oneLostDatagram_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("nBlockSize");
        QTest::addColumn<unsigned>("nOpcode"); // of the datagram lost
        QTest::addColumn<unsigned>("nBlock");  // its block number, for DATA and ACK
        struct Step {
            const char* name;
            unsigned nOpcode, nBlock;
        };
        // Five blocks: four full ones and a short one.
        const Step fetch[] = {{"request", 1, 0},    {"OACK", 6, 0},        {"ACK 0", 4, 0},
                              {"first DATA", 3, 1}, {"middle DATA", 3, 3}, {"middle ACK", 4, 3},
                              {"last DATA", 3, 5},  {"last ACK", 4, 5}};
        const Step send[] = {{"request", 2, 0},     {"ACK 0", 4, 0},      {"first DATA", 3, 1},
                             {"middle DATA", 3, 3}, {"middle ACK", 4, 3}, {"last DATA", 3, 5},
                             {"last ACK", 4, 5}};
        for (const Step& step : fetch)
            QTest::addRow("fetch, %s", step.name) << 0 << 512 << step.nOpcode << step.nBlock;
        for (const Step& step : send)
            QTest::addRow("send, %s", step.name) << 1 << 512 << step.nOpcode << step.nBlock;
        QTest::addRow("send with blksize, OACK") << 1 << 1024 << 6u << 0u;
    }
    void oneLostDatagram() {
        QFETCH(int, bSending);
        QFETCH(int, nBlockSize);
        QFETCH(unsigned, nOpcode);
        QFETCH(unsigned, nBlock);
        HookedNetwork net;
        OwnServer server(6969);
        ClientFixture f(ClientFixture::Ticks::Test);
        Connect(net, server, f);
        bool bLost = false;
        net.SetLoss([&](const HookedNetwork::Sent& sent, int) {
            const bool bBlock = nOpcode == 3 || nOpcode == 4;
            if (bLost || WireOpcode(sent.bytes) != nOpcode ||
                (bBlock && WireBlock(sent.bytes) != nBlock))
                return false;
            return bLost = true;
        });
        const QByteArray content = Pattern(4 * nBlockSize + 252);
        f.NewTransfer(bSending, nBlockSize, 10, 0);
        QVERIFY(Start(f, server, 6969, content));
        CClientSession* pSession = RunToEnd(net, server, f, 20);
        QVERIFY(bLost);
        QVERIFY(pSession);
        QCOMPARE(pSession->GetPhase(), CClientSession::Phase::Completed);
        QCOMPARE(bSending ? server.Get("remote.bin") : f.ReadLocal("got.bin"), content);
        QCOMPARE(f.core.LastStatus(),
                 bSending ? QString("Sent %1 bytes (100%)").arg(content.size())
                          : QString("Received %1 bytes (5 blocks) - Done").arg(content.size()));
        // Request, first answer (and ACK 0 after an OACK), five blocks, five
        // ACKs; then the lost one again, and what each side's timer or a
        // repeat from the other sends meanwhile: never a packet three times
        // more, nor a block sent for a repeated ACK.
        const int nLossless = bSending ? 12 : 13;
        QVERIFY2(int(net.sent.size()) <= nLossless + 4,
                 qPrintable(QString::number(net.sent.size())));
        QMap<QByteArray, int> copies;
        for (const HookedNetwork::Sent& sent : net.sent)
            ++copies[sent.bytes];
        for (auto it = copies.begin(); it != copies.end(); ++it)
            QVERIFY2(it.value() <= (WireOpcode(it.key()) == 3 ? 2 : 3),
                     qPrintable(QString("%1 times: opcode %2 block %3")
                                    .arg(it.value())
                                    .arg(WireOpcode(it.key()))
                                    .arg(WireBlock(it.key()))));
    }

    // Windowed transfers between the two programs, with blocks and ACKs lost
    // or overtaken on the way: the file arrives whole, and nothing is sent
    // more often than the losses call for.
    void windowedTransfers_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("nWindow");    // asked by the client
        QTest::addColumn<int>("nMaxWindow"); // the server's setting
        QTest::addColumn<int>("nBlockSize");
        QTest::addColumn<int>("nBlocks");      // of the block size, and 100 bytes more
        QTest::addColumn<unsigned>("nOpcode"); // of the datagram lost or late (0: none)
        QTest::addColumn<unsigned>("nBlock");
        QTest::addColumn<bool>("bLate"); // overtaken by the next datagram instead of lost
        QTest::addColumn<int>("nGranted");
        for (int bSending : {0, 1}) {
            const char* pszWay = bSending ? "send" : "fetch";
            auto row = [&](const char* name, int nWindow, int nBlocks, unsigned nOpcode,
                           unsigned nBlock, bool bLate = false) {
                QTest::addRow("%s, window %d, %s", pszWay, nWindow, name)
                    << bSending << nWindow << 64 << 512 << nBlocks << nOpcode << nBlock << bLate
                    << nWindow;
            };
            for (int nWindow : {4, 16}) {
                row("no loss, last window shorter", nWindow, 2 * nWindow + 1, 0, 0);
                row("a file of one window", nWindow, nWindow - 1, 0, 0);
                row("empty file", nWindow, 0, 0, 0);
                row("block lost at a window's start", nWindow, 3 * nWindow, 3, nWindow + 1);
                row("block lost in a window's middle", nWindow, 3 * nWindow, 3, nWindow + 2);
                row("block lost at a window's end", nWindow, 3 * nWindow, 3, 2 * nWindow);
                row("last block lost", nWindow, 2 * nWindow + 1, 3, 2 * nWindow + 2);
                row("a window's ACK lost", nWindow, 3 * nWindow, 4, nWindow);
                row("block overtaken", nWindow, 3 * nWindow, 3, nWindow + 2, true);
            }
            QTest::addRow("%s, window 16 past block 65535", pszWay)
                << bSending << 16 << 64 << 8 << 65540 << 3u << 65537u << false << 16;
            QTest::addRow("%s, the server grants 4 of 16", pszWay)
                << bSending << 16 << 4 << 512 << 20 << 0u << 0u << false << 4;
            QTest::addRow("%s, the server grants none", pszWay)
                << bSending << 16 << 1 << 512 << 20 << 0u << 0u << false << 1;
        }
    }
    void windowedTransfers() {
        QFETCH(int, bSending);
        QFETCH(int, nWindow);
        QFETCH(int, nMaxWindow);
        QFETCH(int, nBlockSize);
        QFETCH(int, nBlocks);
        QFETCH(unsigned, nOpcode);
        QFETCH(unsigned, nBlock);
        QFETCH(bool, bLate);
        QFETCH(int, nGranted);
        HookedNetwork net;
        OwnServer server(6969);
        server.core.m_nMaxWindow = nMaxWindow;
        ClientFixture f(ClientFixture::Ticks::Test);
        Connect(net, server, f);
        // The block's first copy past as many rollovers as its number holds.
        bool bHit = false;
        unsigned nSeen = 0;
        auto first = [&](const HookedNetwork::Sent& sent, int) {
            if (bHit || nOpcode == 0 || WireOpcode(sent.bytes) != nOpcode ||
                WireBlock(sent.bytes) != (nBlock & 0xFFFF) || nSeen++ != nBlock >> 16)
                return false;
            return bHit = true;
        };
        (bLate ? net.SetLate(first) : net.SetLoss(first));
        const QByteArray content = Pattern(nBlocks * nBlockSize + 100);
        f.NewTransfer(bSending, nBlockSize, 10, 0);
        f.T().m_nWindowSize = nWindow;
        QVERIFY(Start(f, server, 6969, content));
        CClientSession* pSession = RunToEnd(net, server, f, 40);
        QVERIFY(pSession);
        QCOMPARE(bHit, nOpcode != 0);
        QCOMPARE(f.T().m_nWindowSize, nGranted);
        QCOMPARE(pSession->m_nWindow, nGranted);
        QCOMPARE(pSession->GetPhase(), CClientSession::Phase::Completed);
        QCOMPARE(bSending ? server.Get("remote.bin") : f.ReadLocal("got.bin"), content);
        // Without a loss: the blocks, one ACK per window (and one for the
        // last block), the request, the OACK and a fetch's ACK 0, exactly.
        const int nAll = int(content.size()) / nBlockSize + 1;
        const int nAcks = nAll / nGranted + (nAll % nGranted ? 1 : 0);
        const int nLossless = nAll + nAcks + 2 + (bSending ? 0 : 1);
        if (nOpcode == 0 && nGranted > 1)
            QCOMPARE(int(net.sent.size()), nLossless);
        // A loss costs at most the window in flight again and a few ACKs; a
        // block overtaken, as each gap is told apart, twice that.
        QVERIFY2(int(net.sent.size()) <= nLossless + (bLate ? 2 : 1) * nGranted + 4,
                 qPrintable(QString("%1 datagrams for %2").arg(net.sent.size()).arg(nLossless)));
        QMap<QByteArray, int> copies;
        for (const HookedNetwork::Sent& sent : net.sent)
            ++copies[sent.bytes];
        for (auto it = copies.begin(); it != copies.end(); ++it)
            QVERIFY2(it.value() <= (WireOpcode(it.key()) == 3 && !bLate ? 2 : 3),
                     qPrintable(QString("%1 times: opcode %2 block %3")
                                    .arg(it.value())
                                    .arg(WireOpcode(it.key()))
                                    .arg(WireBlock(it.key()))));
    }

    // The same over real sockets through a relay that loses one datagram in
    // twenty, both ways.
    void lossyLink_data() {
        QTest::addColumn<int>("bSending");
        QTest::newRow("fetch") << 0;
        QTest::newRow("send") << 1;
    }
    void lossyLink() {
        QFETCH(int, bSending);
        OwnServer server;
        Relay relay(server.nPort, {0.05, 0, 0}, 20261210u + static_cast<uint32_t>(bSending));
        QVERIFY(relay.Ok());
        ClientFixture f;
        const QByteArray content = Pattern(64 * 1024 + 100);
        f.NewTransfer(bSending, 512, 10, 0);
        QVERIFY(Start(f, server, relay.Port(), content));
        QVERIFY(f.WaitForEnd(60000));
        QVERIFY(relay.Stats().nDropped >= 5);
        QCOMPARE(bSending ? server.Get("remote.bin") : f.ReadLocal("got.bin"), content);
        QVERIFY(f.core.LastStatus().endsWith(bSending ? "(100%)" : "- Done"));
    }

    void serverThatStoppedServingRefuses() {
        OwnServer server;
        server.core.m_bServing = 0;
        ClientFixture f;
        f.NewTransfer(0);
        QCOMPARE(f.T().StartFetch("any.bin", "got.bin", "127.0.0.1", server.nPort, 1), 1);
        QVERIFY(f.WaitForEnd());
        QCOMPARE(f.core.LastStatus(), QString("Msg from Server > Service not available"));
    }
};

QTEST_GUILESS_MAIN(TestClientServer)
#include "tst_client_server.moc"
