#include "ServerFixture.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

// Whole transfers between the server engine and real TFTP clients.
namespace {
QByteArray Text(int nLines) {
    QByteArray text;
    for (int i = 0; i < nLines; ++i)
        text += "line " + QByteArray::number(i) + " of a plain text file\n";
    return text;
}

// Runs a client to its end while the event loop serves it.
bool RunClient(const QStringList& command, int nTimeoutMs, QString* pOutput) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(nTimeoutMs, &loop, &QEventLoop::quit);
    process.start(command.first(), command.mid(1));
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(2000);
        *pOutput = "timed out: " + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    *pOutput = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QStringList ClientCommand(const QString& client, bool bGet, const QString& mode, int nBlksize,
                          uint16_t nPort, const QString& remote, const QString& local) {
    const QString port = QString::number(nPort);
    const QString size = QString::number(nBlksize);
    if (client == "curl") {
        QString url = "tftp://127.0.0.1:" + port + "/" + remote;
        if (mode == "netascii")
            url += ";mode=netascii";
        return bGet ? QStringList{"curl", "-sS", "--tftp-blksize", size, "-o", local, url}
                    : QStringList{"curl", "-sS", "--tftp-blksize", size, "-T", local, url};
    }
    if (client == "tftp-hpa")
        return {"tftp",
                "-m",
                mode,
                "127.0.0.1",
                port,
                "-c",
                bGet ? "get" : "put",
                bGet ? remote : local,
                bGet ? local : remote};
    if (client.startsWith("atftp")) {
        QStringList command{"atftp",     "--option", "blksize " + size, "--option",
                            "timeout 5", "--option", "mode " + mode};
        // "atftp-w16": asking for a window of 16 blocks.
        if (client.startsWith("atftp-w"))
            command << "--option"
                    << "windowsize " + client.mid(7);
        if (bGet)
            command << "--option"
                    << "tsize 0";
        return command +
               QStringList{bGet ? "-g" : "-p", "-r", remote, "-l", local, "127.0.0.1", port};
    }
    QStringList command{"busybox", "tftp", bGet ? "-g" : "-p", "-r", remote, "-l", local};
    if (nBlksize != 512)
        command << "-b" << size;
    return command << "127.0.0.1" << port;
}
} // namespace

class TestInterop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (const char* tool : {"curl", "tftp", "atftp", "busybox"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QFAIL(qPrintable(
                    QString("%1 is not installed (tools/test.sh installs it)").arg(tool)));
    }

    void transfer_data() {
        QTest::addColumn<QString>("client");
        QTest::addColumn<bool>("get");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("blksize");
        QTest::addColumn<qsizetype>("size");
        const QList<qsizetype> sizes{0, 511, 512, 1000, 1024, 3 * 1024 * 1024 + 17};
        for (const QString client : {"curl", "tftp-hpa", "atftp", "busybox"}) {
            const QList<int> blksizes =
                client == "tftp-hpa" ? QList<int>{512} : QList<int>{512, 1024, 1428, 8192};
            for (bool get : {true, false}) {
                for (int blksize : blksizes) {
                    for (qsizetype size : sizes) {
                        // curl refuses an OACK whose tsize is 0.
                        if (client == "curl" && get && size == 0)
                            continue;
                        if (size > 4096 && blksize != 512 && blksize != 8192)
                            continue;
                        QTest::addRow("%s %s %d bytes at %d", qPrintable(client),
                                      get ? "get" : "put", int(size), blksize)
                            << client << get << "octet" << blksize << size;
                    }
                }
            }
        }
        for (const QString client : {"tftp-hpa", "atftp", "curl"})
            for (bool get : {true, false})
                QTest::addRow("%s %s netascii", qPrintable(client), get ? "get" : "put")
                    << client << get << "netascii" << 512 << qsizetype(-1);
        // Windows: empty, one block, one whole window and a few MiB.
        for (int nWindow : {4, 16})
            for (bool get : {true, false})
                for (qsizetype size : {qsizetype(0), qsizetype(512), qsizetype(nWindow * 512),
                                       qsizetype(3 * 1024 * 1024 + 17)})
                    QTest::addRow("atftp window %d %s %d bytes", nWindow, get ? "get" : "put",
                                  int(size))
                        << QString("atftp-w%1").arg(nWindow) << get << "octet" << 512 << size;
    }
    void transfer() {
        QFETCH(QString, client);
        QFETCH(bool, get);
        QFETCH(QString, mode);
        QFETCH(int, blksize);
        QFETCH(qsizetype, size);
        ServerFixture server(ServerFixture::Ticks::Real);
        QTemporaryDir clientDir;
        const QByteArray content = size < 0 ? Text(40) : Pattern(size);
        const QString local = clientDir.path() + "/local.bin";
        if (get) {
            server.WriteOut("remote.bin", content);
        } else {
            QFile file(local);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        QString output;
        QVERIFY2(
            RunClient(ClientCommand(client, get, mode, blksize, server.nPort, "remote.bin", local),
                      60000, &output),
            qPrintable(output));
        QByteArray result;
        if (get) {
            QFile file(local);
            QVERIFY(file.open(QIODevice::ReadOnly));
            result = file.readAll();
        } else {
            result = server.ReadIn("remote.bin");
        }
        // The server stores and sends the bytes as they are; a client in
        // netascii mode writes line ends as CR LF on the wire.
        QByteArray expected = content;
        if (mode == "netascii" && !get && client != "curl")
            expected.replace("\n", "\r\n");
        QCOMPARE(result.size(), expected.size());
        QVERIFY(result == expected);
        if (client.startsWith("atftp-w"))
            QCOMPARE(server.Session()->m_nWindow, client.mid(7).toInt());
        PumpEvents(20);
        server.pListener->SweepSessions();
        QCOMPARE(server.pListener->m_nActiveClients, 0);
    }

    // Names as boot loaders and their users type them: GRUB's leading
    // slash (curl sends what follows the port's slash), Windows' backslashes.
    void bootLoaderNames_data() {
        QTest::addColumn<QString>("client");
        QTest::addColumn<QString>("remote");
        QTest::newRow("tftp-hpa /boot/grub") << "tftp-hpa"
                                             << "/boot/grub/grub.cfg";
        QTest::newRow("curl //boot/grub") << "curl"
                                          << "/boot/grub/grub.cfg";
        QTest::newRow("busybox \\boot\\grub") << "busybox"
                                              << "\\boot\\grub\\grub.cfg";
    }
    void bootLoaderNames() {
        QFETCH(QString, client);
        QFETCH(QString, remote);
        ServerFixture server(ServerFixture::Ticks::Real);
        QVERIFY(QDir().mkpath(server.outDir + "boot/grub"));
        const QByteArray content = Text(30);
        server.WriteOut("boot/grub/grub.cfg", content);
        QTemporaryDir clientDir;
        const QString local = clientDir.path() + "/grub.cfg";
        QString output;
        QVERIFY2(RunClient(ClientCommand(client, true, "octet", 512, server.nPort, remote, local),
                           20000, &output),
                 qPrintable(output));
        QFile file(local);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }

    void readBeyond65535Blocks() {
        ServerFixture server(ServerFixture::Ticks::Real);
        QTemporaryDir clientDir;
        const QByteArray content = Pattern(qsizetype(65536) * 512 + 100);
        server.WriteOut("huge.bin", content);
        const QString local = clientDir.path() + "/huge.bin";
        QString output;
        QVERIFY2(RunClient(
                     ClientCommand("tftp-hpa", true, "octet", 512, server.nPort, "huge.bin", local),
                     120000, &output),
                 qPrintable(output));
        QFile file(local);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == content);
    }
};

QTEST_GUILESS_MAIN(TestInterop)
#include "tst_interop.moc"
