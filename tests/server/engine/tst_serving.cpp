#include "Clock.h"
#include "HostAddresses.h"
#include "LocalAddress.h"
#include "ServerFixture.h"

#include <QtTest>

namespace {
const QByteArray kServiceRefused("\0\5\0\0Service not available\0\0", 27);

// A read in progress: the request has been answered with DATA 1.
struct Reader {
    RawClient client;
    std::optional<QByteArray> first;
    Reader(uint16_t nPort) : client(nPort) {
        first = client.Request(MakeRequest(1, "f.bin", "octet"));
    }
    // Acknowledges every block to the end of the file.
    void Finish() {
        unsigned n = 1;
        auto packet = first;
        while (packet && packet->size() == 4 + 512)
            packet = client.Exchange(Ack(n++));
        client.Send(Ack(n));
        PumpEvents(30);
    }
};

// The server swept as the view's timer would: sweep, then a waiting restart.
void Tick(ServerFixture& server) {
    server.core.m_pListener->SweepSessions();
    server.core.CheckDeferredRestart();
    server.pListener = server.core.m_pListener;
}

std::optional<QByteArray> Probe(uint16_t nPort) {
    RawClient client(nPort);
    return client.Request(MakeRequest(1, "f.bin", "octet"), 500);
}
} // namespace

class TestServing : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        SetHostAddressProvider(nullptr);
        SetLocalAddressDialogs({});
    }

    void stopWhileIdle() {
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(100));
        server.core.OnStopServing();
        QCOMPARE(server.core.m_bServing, 0);
        QCOMPARE(server.core.nDialogsMade, 0);
        QCOMPARE(server.core.nRenewals, 0); // the listener stays
        QCOMPARE(Probe(server.nPort), std::optional<QByteArray>(kServiceRefused));
        server.core.OnStartServing();
        QCOMPARE(server.core.m_bServing, 1);
        QCOMPARE(Probe(server.nPort), std::optional<QByteArray>(Data(1, Pattern(100))));
    }

    void stopWhileBusyWaitsForTheClients() {
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(1500));
        Reader first(server.nPort), second(server.nPort);
        QVERIFY(first.first && second.first);
        server.core.OnStopServing();
        QCOMPARE(server.core.openDialogs.size(), 1);
        QCOMPARE(server.core.openDialogs[0]->kind, BusyDialogKind::StopServing);
        QCOMPARE(server.core.openDialogs[0]->nShown, 1);
        QCOMPARE(Probe(server.nPort), std::optional<QByteArray>(kServiceRefused));
        first.Finish();
        Tick(server);
        QCOMPARE(server.core.openDialogs.size(), 1); // one client still served
        second.Finish();
        Tick(server);
        QVERIFY(server.core.openDialogs.isEmpty());
        QCOMPARE(server.core.nRenewals, 1); // the listener was replaced
        QCOMPARE(Probe(server.nPort), std::optional<QByteArray>(kServiceRefused));
        server.core.OnStartServing();
        QCOMPARE(Probe(server.nPort), std::optional<QByteArray>(Data(1, Pattern(512))));
    }

    // A transfer that has ended holds its slot until the sweep or the next
    // request, but no stop or port change waits for it.
    void endedTransfersKeepNobodyWaiting_data() {
        QTest::addColumn<bool>("portChange");
        QTest::newRow("stop") << false;
        QTest::newRow("port change") << true;
    }
    void endedTransfersKeepNobodyWaiting() {
        QFETCH(bool, portChange);
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(700));
        Reader done(server.nPort);
        done.Finish();
        QCOMPARE(server.pListener->m_nActiveClients, 1);
        const uint16_t nNewPort = FreeUdpPort();
        if (portChange) {
            server.core.m_strPort = QString::number(nNewPort);
            server.core.OnPortChanged();
        } else {
            server.core.OnStopServing();
        }
        QCOMPARE(server.core.nDialogsMade, 0);
        QCOMPARE(server.core.nRenewals, portChange ? 1 : 0);
        QCOMPARE(Probe(portChange ? nNewPort : server.nPort),
                 std::optional<QByteArray>(portChange ? Data(1, Pattern(512)) : kServiceRefused));
    }

    void startWhileTheStopDialogIsOpen() {
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(1500));
        Reader reader(server.nPort);
        server.core.OnStopServing();
        QCOMPARE(server.core.openDialogs.size(), 1);
        server.core.OnStartServing();
        QVERIFY(server.core.openDialogs.isEmpty());
        QCOMPARE(server.core.nRenewals, 0);
        QVERIFY(Probe(server.nPort)); // admitted at once
        reader.Finish();              // the running transfer is untouched
        QCOMPARE(server.Session(1)->IsActive(), false);
    }

    void portChangeWhileBusy_data() {
        QTest::addColumn<QString>("answer");
        QTest::newRow("drop clients") << "drop";
        QTest::newRow("keep clients") << "keep";
        QTest::newRow("no answer") << "wait";
    }
    void portChangeWhileBusy() {
        QFETCH(QString, answer);
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(1500));
        Reader reader(server.nPort);
        const uint16_t nNewPort = FreeUdpPort();
        server.core.m_strPort = QString::number(nNewPort);
        server.core.OnPortChanged();
        QCOMPARE(server.core.openDialogs.size(), 1);
        QCOMPARE(server.core.openDialogs[0]->kind, BusyDialogKind::PortChange);
        if (answer == "drop") {
            server.core.RestartServing(true);
            QCOMPARE(reader.client.Exchange(Ack(1), 200), std::nullopt); // dropped, silently
        } else if (answer == "keep") {
            server.core.RestartServing(false);
            reader.Finish();
            Tick(server);
            QCOMPARE(server.core.nRenewals, 0);
            QVERIFY(Probe(server.nPort)); // still on the old port
            QCOMPARE(Probe(nNewPort), std::nullopt);
            return;
        } else {
            Tick(server);
            QCOMPARE(server.core.openDialogs.size(), 1);
            reader.Finish();
            Tick(server);
        }
        QVERIFY(server.core.openDialogs.isEmpty());
        QCOMPARE(server.core.titles.last(), QString("127.0.0.1.%1").arg(nNewPort));
        QCOMPARE(Probe(nNewPort), std::optional<QByteArray>(Data(1, Pattern(512))));
        QCOMPARE(Probe(server.nPort), std::nullopt);
    }

    void twoPortChangesWhileBusyShowOneDialog() {
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(1500));
        Reader reader(server.nPort);
        server.core.m_strPort = QString::number(FreeUdpPort());
        server.core.OnPortChanged();
        const uint16_t nSecond = FreeUdpPort();
        server.core.m_strPort = QString::number(nSecond);
        server.core.OnPortChanged();
        QCOMPARE(server.core.nDialogsMade, 1);
        QCOMPARE(server.core.openDialogs[0]->nShown, 2);
        reader.Finish();
        Tick(server);
        QVERIFY(server.core.openDialogs.isEmpty());
        QVERIFY(Probe(nSecond));
    }

    void portChangeWhileIdleMovesAtOnce() {
        ServerFixture server;
        const uint16_t nNewPort = FreeUdpPort();
        server.core.m_strPort = QString::number(nNewPort);
        server.core.OnPortChanged();
        QCOMPARE(server.core.nDialogsMade, 0);
        QCOMPARE(server.core.nRenewals, 1);
        QCOMPARE(server.core.m_szTitle, QString("127.0.0.1.%1").arg(nNewPort));
    }

    void portChangeOnAMultihomedHostAsksAgain() {
        ServerFixture server;
        server.core.bRealAddressChoice = true;
        SetHostAddressProvider([] { return std::optional(QStringList{"127.0.0.1", "127.0.0.1"}); });
        int nAsked = 0;
        LocalAddressDialogs dialogs;
        dialogs.multihomed = [&](const QStringList&, AddressRole) {
            ++nAsked;
            return MultihomedAnswer{true, 1, false};
        };
        SetLocalAddressDialogs(dialogs);
        server.core.m_nDefAddress = 255;
        server.core.m_strPort = QString::number(FreeUdpPort());
        server.core.OnPortChanged();
        QCOMPARE(nAsked, 1);
        QCOMPARE(server.core.m_nDefAddress, 255);
    }

    void failedRestartKeepsTheProgramGoing() {
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(1500));
        UdpPeer squatter; // holds the port asked for
        Reader reader(server.nPort);
        server.core.m_strPort = QString::number(squatter.Port());
        server.core.OnPortChanged();
        MessageBoxRecorder boxes;
        server.core.RestartServing(true); // "Drop Clients"
        QCOMPARE(boxes.texts.size(), 2);
        QVERIFY(boxes.texts[0].startsWith("Unable to Create listening port\n"));
        QCOMPARE(boxes.texts[1], QString("Unable to initialise server operations on the new "
                                         "port\n\nChoose another port in System, Setup"));
        QCOMPARE(server.core.m_szTitle, QString("not listening"));
        QCOMPARE(server.core.titles.last(), QString("not listening"));
        QVERIFY(server.core.openDialogs.isEmpty());
        // No retry at every sweep, and nothing answers on the old port.
        Tick(server);
        QCOMPARE(boxes.texts.size(), 2);
        QCOMPARE(Probe(server.nPort), std::nullopt);
        // A port change that works restores service.
        const uint16_t nGood = FreeUdpPort();
        server.core.m_strPort = QString::number(nGood);
        server.core.OnPortChanged();
        QCOMPARE(server.core.m_szTitle, QString("127.0.0.1.%1").arg(nGood));
        QCOMPARE(Probe(nGood), std::optional<QByteArray>(Data(1, Pattern(512))));
    }

    void idleProcessingSweepsWithoutATimer() {
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(10));
        Reader reader(server.nPort);
        reader.Finish();
        QCOMPARE(server.pListener->m_nActiveClients, 1);
        QVERIFY(server.core.OnIdle(0)); // sessions exist: more idle time wanted
        QCOMPARE(server.pListener->m_nActiveClients, 1);
        QVERIFY(server.core.OnIdle(64));
        QCOMPARE(server.pListener->m_nActiveClients, 0);
        QVERIFY(!server.core.OnIdle(1)); // nothing left to do
        // With the view's timer running, idle processing leaves the sweep to it.
        Reader again(server.nPort);
        again.Finish();
        server.core.m_bSweepOnIdle = 0;
        server.core.OnIdle(64);
        QCOMPARE(server.pListener->m_nActiveClients, 1);
    }
};

QTEST_GUILESS_MAIN(TestServing)
#include "tst_serving.moc"
