// The client's transfer object against a real server: tftpd-hpa, started in
// the foreground on 127.0.0.1 and a free port, serving a temporary folder.
#include "ClientFixture.h"

#include <QFile>
#include <QtTest>

namespace {
using Posted = RecordingView::Posted;

constexpr int kFewMegabytes = 3000000;

// Netascii as the server puts it on the wire: every LF becomes CR LF, and a
// CR alone becomes CR NUL.
QByteArray ToNetascii(const QByteArray& text) {
    QByteArray out;
    for (char c : text) {
        if (c == '\n')
            out += "\r\n";
        else if (c == '\r')
            out += QByteArray("\r\0", 2);
        else
            out += c;
    }
    return out;
}

QByteArray Lines(int nSize) {
    QByteArray text;
    for (int i = 0; text.size() < nSize; ++i)
        text += "line " + QByteArray::number(i) + (i % 7 == 3 ? "\n\n" : "\n");
    text.truncate(nSize);
    return text;
}

void AddTransferRows() {
    QTest::addColumn<int>("nSize");
    QTest::addColumn<int>("nBlockSize");
    for (int nBlockSize : {512, 1024, 8192})
        for (int nSize : {0, 512, 1000, 1024, kFewMegabytes})
            QTest::addRow("%d bytes, block size %d", nSize, nBlockSize) << nSize << nBlockSize;
}
} // namespace

class TestTransferTftpd : public QObject {
    Q_OBJECT

    std::unique_ptr<RealServer> m_pServer;
    std::unique_ptr<RealServer> m_pPlainServer; // answers no option

    void RequireServers() {
        if (!m_pServer || !m_pServer->Running() || !m_pPlainServer->Running())
            QSKIP("tftpd-hpa could not be started");
    }

private slots:
    void initTestCase() {
        if (!QFile::exists(RealServer::kProgram))
            return;
        m_pServer = std::make_unique<RealServer>();
        m_pPlainServer = std::make_unique<RealServer>(
            QStringList{"-r", "tsize", "-r", "blksize", "-r", "timeout"});
    }
    void cleanupTestCase() {
        m_pServer.reset();
        m_pPlainServer.reset();
    }

    // Windows against atftpd, which knows them: empty, one block, one whole
    // window and a few megabytes, both ways, byte for byte.
    void atftpdWindows_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("nWindow");
        QTest::addColumn<int>("nSize");
        for (int bSending : {0, 1})
            for (int nWindow : {4, 16})
                for (int nSize : {0, 512, nWindow * 512, kFewMegabytes})
                    QTest::addRow("%s, window %d, %d bytes", bSending ? "send" : "fetch", nWindow,
                                  nSize)
                        << bSending << nWindow << nSize;
    }
    void atftpdWindows() {
        QFETCH(int, bSending);
        QFETCH(int, nWindow);
        QFETCH(int, nSize);
        if (!QFile::exists(RealServer::AtftpdProgram()))
            QFAIL("atftpd is missing: tools/test.sh unpacks it (or set ATFTPD)");
        RealServer server({}, RealServer::Kind::Atftpd);
        QVERIFY(server.Running());
        const QByteArray content = Pattern(nSize, nWindow);
        ClientFixture f;
        f.NewTransfer(bSending, 512, 10, 0);
        f.T().m_nWindowSize = nWindow;
        if (bSending) {
            f.WriteLocal("out.bin", content);
            // atftpd stores only over a file that is there and writable.
            server.Put("up.bin", {});
            QFile::setPermissions(server.Path("up.bin"), QFileDevice::Permissions(0x6666));
            QCOMPARE(f.T().StartSend("up.bin", "out.bin", "127.0.0.1", server.Port(), 1, {}), 1);
        } else {
            server.Put("down.bin", content);
            QCOMPARE(f.T().StartFetch("down.bin", "got.bin", "127.0.0.1", server.Port(), 1), 1);
        }
        QVERIFY(f.WaitForEnd(60000));
        QCOMPARE(f.T().m_nWindowSize, nWindow);
        QVERIFY(bSending ? server.Get("up.bin") == content : f.ReadLocal("got.bin") == content);
    }

    void fetchOctet_data() { AddTransferRows(); }
    void fetchOctet() {
        QFETCH(int, nSize);
        QFETCH(int, nBlockSize);
        RequireServers();
        QString strName = QString("fetch-%1-%2.bin").arg(nSize).arg(nBlockSize);
        QByteArray content = Pattern(nSize, nBlockSize);
        m_pServer->Put(strName, content);
        ClientFixture f;
        f.NewTransfer(0, nBlockSize, 10, 1);
        QCOMPARE(f.T().StartFetch(strName, "got.bin", "127.0.0.1", m_pServer->Port(), 1), 1);
        QVERIFY(f.WaitForEnd(60000));
        QCOMPARE(f.ReadLocal("got.bin"), content);
        QCOMPARE(f.T().m_nBlockSize, nBlockSize);
        int nBlocks = nSize / nBlockSize + 1;
        QCOMPARE(f.core.LastStatus(),
                 QString("Received %1 bytes (%2 blocks) - Done").arg(nSize).arg(nBlocks));
        PumpEvents(20);
        // tsize gives the total first, then progress as it grows (at most a
        // message per block), ending with the whole size.
        QCOMPARE(f.view.posted.value(1), (Posted{WM_CLIENT_PROGRESS, 0, nSize}));
        if (nSize != 0) {
            QVERIFY(f.view.posted.size() <= 2 + nBlocks);
            long nBefore = 0;
            for (const Posted& p : f.view.posted.mid(2)) {
                QCOMPARE(p.nMessage, WM_CLIENT_PROGRESS);
                QVERIFY(p.lParam >= nBefore);
                nBefore = p.lParam;
            }
            QCOMPARE(f.view.posted.last(), (Posted{WM_CLIENT_PROGRESS, 2, nSize}));
        }
    }

    void sendOctet_data() { AddTransferRows(); }
    void sendOctet() {
        QFETCH(int, nSize);
        QFETCH(int, nBlockSize);
        RequireServers();
        QString strName = QString("send-%1-%2.bin").arg(nSize).arg(nBlockSize);
        QByteArray content = Pattern(nSize, nBlockSize + 1);
        ClientFixture f;
        f.WriteLocal("out.bin", content);
        f.NewTransfer(1, nBlockSize, 10, 1);
        QCOMPARE(f.T().StartSend(strName, "out.bin", "127.0.0.1", m_pServer->Port(), 1, {}), 1);
        QVERIFY(f.WaitForEnd(60000));
        QCOMPARE(m_pServer->Get(strName), content);
        QCOMPARE(f.T().m_nBlockSize, nBlockSize);
        QCOMPARE(f.core.LastStatus(),
                 nSize ? QString("Sent %1 bytes (100%)").arg(nSize) : QString("Sent 0 bytes"));
    }

    void moreThan65535Blocks_data() {
        QTest::addColumn<int>("bSending");
        QTest::newRow("fetch") << 0;
        QTest::newRow("send") << 1;
    }
    void moreThan65535Blocks() {
        QFETCH(int, bSending);
        RequireServers();
        // 65536 full blocks and a short one: the numbers wrap after 65535.
        const int nSize = 65536 * 512 + 100;
        const QByteArray content = Pattern(nSize, 7);
        const QString strName = QString("wrap-%1.bin").arg(bSending);
        ClientFixture f;
        f.NewTransfer(bSending, 512, 10, 1);
        if (bSending) {
            f.WriteLocal("out.bin", content);
            QCOMPARE(f.T().StartSend(strName, "out.bin", "127.0.0.1", m_pServer->Port(), 1, {}), 1);
        } else {
            m_pServer->Put(strName, content);
            QCOMPARE(f.T().StartFetch(strName, "got.bin", "127.0.0.1", m_pServer->Port(), 1), 1);
        }
        QVERIFY(f.WaitForEnd(120000));
        QCOMPARE(bSending ? m_pServer->Get(strName) : f.ReadLocal("got.bin"), content);
        QCOMPARE(f.core.LastStatus(),
                 bSending ? QString("Sent %1 bytes (100%)").arg(nSize)
                          : QString("Received %1 bytes (65537 blocks) - Done").arg(nSize));
    }

    void droppedFileSentFromItsOwnFolder() {
        RequireServers();
        ClientFixture f;
        QTemporaryDir elsewhere;
        QFile file(elsewhere.path() + "/dropped.bin");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(Pattern(1500, 3));
        file.close();
        f.WriteLocal("dropped.bin", "not this one");
        f.NewTransfer(1);
        f.T().m_strDroppedDir = elsewhere.path() + "/";
        f.T().m_bDroppedPath = 1;
        QCOMPARE(f.T().StartSend("dropped-remote.bin", "ignored", "127.0.0.1", m_pServer->Port(), 1,
                                 "dropped.bin"),
                 1);
        QVERIFY(f.WaitForEnd());
        QCOMPARE(m_pServer->Get("dropped-remote.bin"), Pattern(1500, 3));
    }

    void netascii_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<bool>("bPlainServer");
        QTest::addColumn<QByteArray>("local");
        QTest::addColumn<QByteArray>("remote");
        QByteArray text = Lines(3000);
        // The client converts nothing: the server's conversion is all there is.
        QTest::newRow("fetch") << 0 << true << ToNetascii(text) << text;
        QTest::newRow("send") << 1 << false << ToNetascii(text) << text;
        QTest::newRow("send, lines ending in LF alone") << 1 << false << text << text;
        QTest::newRow("send without options") << 1 << true << ToNetascii(text) << text;
    }
    void netascii() {
        QFETCH(int, bSending);
        QFETCH(bool, bPlainServer);
        QFETCH(QByteArray, local);
        QFETCH(QByteArray, remote);
        RequireServers();
        RealServer& server = bPlainServer ? *m_pPlainServer : *m_pServer;
        QString strName = QString("text-%1.txt").arg(QTest::currentDataTag()).replace(' ', '_');
        strName.remove(',');
        ClientFixture f;
        f.NewTransfer(bSending, 1024);
        if (bSending) {
            f.WriteLocal("out.txt", local);
            QCOMPARE(f.T().StartSend(strName, "out.txt", "127.0.0.1", server.Port(), 0, {}), 1);
        } else {
            server.Put(strName, remote);
            QCOMPARE(f.T().StartFetch(strName, "got.txt", "127.0.0.1", server.Port(), 0), 1);
        }
        QVERIFY(f.WaitForEnd());
        QVERIFY2(!f.core.LastStatus().startsWith("Msg"), qPrintable(f.core.LastStatus()));
        if (bSending)
            QCOMPARE(server.Get(strName), remote);
        else
            QCOMPARE(f.ReadLocal("got.txt"), local);
    }

    // tftpd-hpa cannot tell a netascii file's size on the wire, so it
    // refuses the tsize that every read request carries.
    void netasciiFetchRefusedOverTsize() {
        RequireServers();
        m_pServer->Put("refused.txt", "a\nb\n");
        ClientFixture f;
        f.NewTransfer(0);
        QCOMPARE(f.T().StartFetch("refused.txt", "got.txt", "127.0.0.1", m_pServer->Port(), 0), 1);
        QVERIFY(f.WaitForEnd());
        QCOMPARE(f.core.LastStatus(), QString("Msg from Server > Unsupported option(s) requested"));
        QCOMPARE(f.ReadLocal("got.txt"), QByteArray());
    }

    void serverIgnoringOptions_data() {
        QTest::addColumn<int>("bSending");
        QTest::addColumn<int>("nBlockSize");
        QTest::addColumn<int>("nSize");
        for (int bSending : {0, 1})
            for (int nBlockSize : {64, 512, 1024, 8192})
                for (int nSize : {1000, 1024, 100000})
                    QTest::addRow("%s %d bytes, block size %d", bSending ? "send" : "fetch", nSize,
                                  nBlockSize)
                        << bSending << nBlockSize << nSize;
    }
    void serverIgnoringOptions() {
        QFETCH(int, bSending);
        QFETCH(int, nBlockSize);
        QFETCH(int, nSize);
        RequireServers();
        QString strName = QString("plain-%1-%2-%3.bin").arg(bSending).arg(nBlockSize).arg(nSize);
        QByteArray content = Pattern(nSize, nBlockSize + bSending);
        ClientFixture f;
        f.NewTransfer(bSending, nBlockSize, 10, 1);
        if (bSending) {
            f.WriteLocal("out.bin", content);
            QCOMPARE(
                f.T().StartSend(strName, "out.bin", "127.0.0.1", m_pPlainServer->Port(), 1, {}), 1);
        } else {
            m_pPlainServer->Put(strName, content);
            QCOMPARE(f.T().StartFetch(strName, "got.bin", "127.0.0.1", m_pPlainServer->Port(), 1),
                     1);
        }
        QVERIFY(f.WaitForEnd());
        QCOMPARE(bSending ? m_pPlainServer->Get(strName) : f.ReadLocal("got.bin"), content);
        QCOMPARE(f.T().m_nBlockSize, 512);
        PumpEvents(20);
        bool bBlockSizePosted = f.view.posted.contains(Posted{WM_CLIENT_BLOCKSIZE, 0, 512});
        QCOMPARE(bBlockSizePosted, nBlockSize != 512);
        if (!bSending) { // no tsize: no progress, only the status line
            for (const Posted& p : f.view.posted)
                QVERIFY(p.nMessage != WM_CLIENT_PROGRESS);
            QCOMPARE(
                f.core.LastStatus(),
                QString("Received %1 bytes (%2 blocks) - Done").arg(nSize).arg(nSize / 512 + 1));
        }
    }

    void missingRemoteFile() {
        RequireServers();
        ClientFixture f;
        f.NewTransfer(0);
        QCOMPARE(f.T().StartFetch("not-there.bin", "got.bin", "127.0.0.1", m_pServer->Port(), 1),
                 1);
        QVERIFY(f.WaitForEnd());
        QCOMPARE(f.core.LastStatus(), QString("Msg from Server > File not found"));
        QCOMPARE(f.ReadLocal("got.bin"), QByteArray()); // created, left empty
    }
};

QTEST_GUILESS_MAIN(TestTransferTftpd)
#include "tst_transfer_tftpd.moc"
