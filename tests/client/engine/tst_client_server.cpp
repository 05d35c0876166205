// The client's transfer object against our own server engine, both running
// in this process on 127.0.0.1: the two programs must agree on the wire.
#include "ClientFixture.h"
#include "OwnServer.h"

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
