// The client's main form driven as a user drives it: typed fields, clicks,
// dropped files; checked on the wire, on disk, on screen and in the profile.
#include "ClientApp.h"
#include "OwnServer.h"

#include <QCheckBox>
#include <QMimeData>
#include <QProgressBar>
#include <QUrl>

using Progress = QList<QPair<int, long>>;

namespace {
// Drops files on a widget of the window as a file manager does.
void DropFiles(QWidget* pTarget, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    data.setText(paths.join('\n'));
    const QPoint at = pTarget->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(pTarget, &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(pTarget, &drop);
}

// The request a peer got: opcode, name, mode, then the option pairs.
QStringList RequestFields(const QByteArray& request) {
    QStringList fields{QString::number((uchar(request[0]) << 8) | uchar(request[1]))};
    for (const QByteArray& field : request.mid(2).split('\0'))
        fields << QString::fromLatin1(field);
    if (!fields.isEmpty() && fields.last().isEmpty())
        fields.removeLast();
    return fields;
}
} // namespace

class TestSkifferForm : public QObject {
    Q_OBJECT

    std::unique_ptr<RealServer> m_pTftpd;

private slots:
    void initTestCase() {
        if (QFile::exists(RealServer::kProgram))
            m_pTftpd = std::make_unique<RealServer>();
    }
    void cleanupTestCase() { m_pTftpd.reset(); }

    void firstStart() {
        ClientApp c;
        for (int nId : {1000, 1002, 1007})
            QCOMPARE(c.Text(nId), QString());
        QCOMPARE(c.Text(1001), QString("69"));
        QCOMPARE(c.Text(1003), QString("10"));
        QCOMPARE(c.Control<QPushButton>(1004)->text(), QString("Send"));
        QCOMPARE(c.Control<QPushButton>(1005)->text(), QString("Fetch"));
        QCOMPARE(c.Control<QComboBox>(1019)->currentText(), QString("512"));
        QVERIFY(c.Control<QCheckBox>(1006)->isChecked());
        QVERIFY(c.Control<QCheckBox>(1008)->isChecked());
        QVERIFY(!c.Control<QCheckBox>(1035)->isChecked());
        QVERIFY(!c.Control<QPushButton>(32773)->isEnabled());
        QCOMPARE(c.Frame()->windowTitle(), QString("Skiffer"));
        QCOMPARE(c.Status(), QString("Press F1 for Help"));
        QCOMPARE(c.app->m_nDefaultIP, 0);
        // The frame is fitted to the form and cannot be resized.
        QCOMPARE(c.Frame()->minimumSize(), c.Frame()->maximumSize());
    }

    void lastValuesComeBack() {
        ClientApp c({{"Startup/Host", "127.0.0.9"},
                     {"Startup/Local", "boot.img"},
                     {"Startup/Remote", "tftpboot/boot.img"},
                     {"Options/Change Buttons", "YES"}});
        QCOMPARE(c.Text(1000), QString("127.0.0.9"));
        QCOMPARE(c.Text(1002), QString("boot.img"));
        QCOMPARE(c.Text(1007), QString("tftpboot/boot.img"));
        QCOMPARE(c.Control<QPushButton>(1004)->text(), QString("Put"));
        QCOMPARE(c.Control<QPushButton>(1005)->text(), QString("Get"));
    }

    void wholeTransfer_data() {
        QTest::addColumn<bool>("bTftpd");
        QTest::addColumn<bool>("bSend");
        QTest::addColumn<int>("nSize");
        QTest::addColumn<QString>("blockSize");
        for (bool bTftpd : {false, true}) {
            const char* server = bTftpd ? "tftpd-hpa" : "our server";
            for (bool bSend : {false, true}) {
                const char* way = bSend ? "send" : "fetch";
                QTest::addRow("%s, %s, 100000 bytes at 512", server, way)
                    << bTftpd << bSend << 100000 << "512";
                QTest::addRow("%s, %s, 300000 bytes at 8192", server, way)
                    << bTftpd << bSend << 300000 << "8192";
                QTest::addRow("%s, %s, 1024 bytes at 1024", server, way)
                    << bTftpd << bSend << 1024 << "1024";
            }
        }
    }
    void wholeTransfer() {
        QFETCH(bool, bTftpd);
        QFETCH(bool, bSend);
        QFETCH(int, nSize);
        QFETCH(QString, blockSize);
        if (bTftpd && (!m_pTftpd || !m_pTftpd->Running()))
            QSKIP("tftpd-hpa could not be started");
        std::unique_ptr<OwnServer> pOwn;
        if (!bTftpd)
            pOwn = std::make_unique<OwnServer>();
        const uint16_t nPort = bTftpd ? m_pTftpd->Port() : pOwn->nPort;
        const QString remote = QString("app-%1-%2-%3.bin").arg(bSend).arg(nSize).arg(blockSize);
        auto serverGet = [&] { return bTftpd ? m_pTftpd->Get(remote) : pOwn->Get(remote); };
        const QByteArray content = Pattern(nSize);

        ClientApp c;
        c.app->m_strInbound = c.app->m_strOutbound = c.files.path() + "/";
        if (bSend)
            c.Write("local.bin", content);
        else if (bTftpd)
            m_pTftpd->Put(remote, content);
        else
            pOwn->Put(remote, content);
        MessageBoxRecorder boxes;

        c.Fill("127.0.0.1", nPort, "local.bin", remote);
        c.SetBlockSize(blockSize);
        c.Click(bSend ? 1004 : 1005);
        QVERIFY(c.WaitForEnd());
        QCOMPARE(boxes.texts, QStringList());
        QCOMPARE(bSend ? serverGet() : c.Read("local.bin"), content);
        QCOMPARE(c.Control<QProgressBar>(1017)->value(), 100);
        const int nBlocks = nSize / blockSize.toInt() + 1;
        QTRY_COMPARE(c.Status(),
                     bSend
                         ? QString("Sent %1 bytes (100%)").arg(nSize)
                         : QString("Received %1 bytes (%2 blocks) - Done").arg(nSize).arg(nBlocks));
        QCOMPARE(c.Control<QComboBox>(1019)->currentText(), blockSize);
        QTRY_VERIFY(!c.Control<QPushButton>(32773)->isEnabled());
        QCOMPARE(c.Frame()->windowTitle(), QString("127.0.0.1 - Skiffer"));
        QCOMPARE(c.Stored("Startup", "Host"), QString("127.0.0.1"));
        QCOMPARE(c.Stored("Startup", "Local"), QString("local.bin"));
        QCOMPARE(c.Stored("Startup", "Remote"), remote);
    }

    void validation_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<QString>("blockSize");
        QTest::addColumn<QStringList>("shown"); // message boxes and dialog 136, in order
        QTest::addColumn<bool>("bStarted");
        QTest::addColumn<int>("nPort"); // 0: the peer's
        QTest::addColumn<int>("nTimeout");
        QTest::addColumn<int>("nBlockSize");
        const QString ip = "Illegal I.P. for Host Address\nPlease be more diligent  :)";
        const QString port = "Illegal port number specified\nport 69 will be used";
        const QString timeout = "Timeout set to 30 seconds";
        QTest::newRow("all good") << "127.0.0.1"
                                  << ""
                                  << "10"
                                  << "512" << QStringList() << true << 0 << 10 << 512;
        QTest::newRow("host 0.0.0.0") << "0.0.0.0"
                                      << ""
                                      << "10"
                                      << "512" << QStringList{ip} << false << 0 << 10 << 512;
        QTest::newRow("host 255.255.255.255")
            << "255.255.255.255"
            << ""
            << "10"
            << "512" << QStringList{ip} << false << 0 << 10 << 512;
        QTest::newRow("host a word") << "fileserver"
                                     << ""
                                     << "10"
                                     << "512" << QStringList{ip} << false << 0 << 10 << 512;
        QTest::newRow("host empty") << ""
                                    << ""
                                    << "10"
                                    << "512" << QStringList{ip} << false << 0 << 10 << 512;
        QTest::newRow("host 127.1, as inet_aton reads it")
            << "127.1"
            << ""
            << "10"
            << "512" << QStringList() << true << 0 << 10 << 512;
        QTest::newRow("port 0, time-out 0")
            << "127.0.0.1"
            << "0"
            << "0"
            << "512" << QStringList{port, timeout} << true << 69 << 30 << 512;
        QTest::newRow("port text, time-out text")
            << "127.0.0.1"
            << "tftp"
            << "soon"
            << "512" << QStringList{port, timeout} << true << 69 << 30 << 512;
        QTest::newRow("port above 65535") << "127.0.0.1"
                                          << "65536"
                                          << "10"
                                          << "512" << QStringList{port} << true << 69 << 10 << 512;
        QTest::newRow("port empty") << "127.0.0.1"
                                    << "-"
                                    << "10"
                                    << "512" << QStringList{port} << true << 69 << 10 << 512;
        QTest::newRow("time-out digits then text")
            << "127.0.0.1"
            << ""
            << "7s"
            << "512" << QStringList() << true << 0 << 7 << 512;
        QTest::newRow("block size 70000")
            << "127.0.0.1"
            << ""
            << "10"
            << "70000" << QStringList{"136"} << true << 0 << 10 << 512;
        QTest::newRow("block size text") << "127.0.0.1"
                                         << ""
                                         << "10"
                                         << "big" << QStringList{"136"} << true << 0 << 10 << 512;
        QTest::newRow("block size 63") << "127.0.0.1"
                                       << ""
                                       << "10"
                                       << "63" << QStringList{"136"} << true << 0 << 10 << 512;
        QTest::newRow("block size 64") << "127.0.0.1"
                                       << ""
                                       << "10"
                                       << "64" << QStringList() << true << 0 << 10 << 64;
        QTest::newRow("block size 12250") << "127.0.0.1"
                                          << ""
                                          << "10"
                                          << "12250" << QStringList() << true << 0 << 10 << 12250;
        QTest::newRow("block size 65420") << "127.0.0.1"
                                          << ""
                                          << "10"
                                          << "65420" << QStringList() << true << 0 << 10 << 65420;
        QTest::newRow("block size 65421")
            << "127.0.0.1"
            << ""
            << "10"
            << "65421" << QStringList{"136"} << true << 0 << 10 << 512;
        QTest::newRow("port, time-out and block size at once")
            << "127.0.0.1"
            << "0"
            << "0"
            << "1" << QStringList{port, timeout, "136"} << true << 69 << 30 << 512;
    }
    void validation() {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, timeout);
        QFETCH(QString, blockSize);
        QFETCH(QStringList, shown);
        QFETCH(bool, bStarted);
        QFETCH(int, nPort);
        QFETCH(int, nTimeout);
        QFETCH(int, nBlockSize);
        UdpPeer server;
        ClientApp c;
        c.app->m_strInbound = c.files.path() + "/";
        QStringList seen;
        const MessageBoxHandler previous = SetMessageBoxHandler([&](const QString& text, unsigned) {
            seen << text;
            return IDOK;
        });
        c.script = [&](QDialog& dialog) {
            seen << dialog.objectName();
            return int(QDialog::Accepted);
        };
        c.Fill(host, port.isEmpty() ? server.Port() : 0, "got.bin", "remote.bin");
        if (!port.isEmpty())
            c.Type(1001, port == "-" ? QString() : port);
        c.Type(1003, timeout);
        c.SetBlockSize(blockSize);
        if (nPort == 69) {
            // Nothing is ever sent to port 69 from a test: the form alone.
            QCOMPARE(c.View()->ValidateForm(), 1);
        } else {
            c.Click(1005);
            QCOMPARE(c.Running(), bStarted);
        }
        SetMessageBoxHandler(previous);

        QCOMPARE(seen, shown);
        if (bStarted) {
            const int nUsedTimeout = nPort == 69 ? c.View()->m_nTimeout : c.Transfer()->m_nTimeout;
            const int nUsedBlockSize =
                nPort == 69 ? c.View()->m_nBlockSize : c.Transfer()->m_nBlockSize;
            QCOMPARE(c.View()->m_nPort, nPort ? nPort : int(server.Port()));
            QCOMPARE(nUsedTimeout, nTimeout);
            QCOMPARE(nUsedBlockSize, nBlockSize);
            QCOMPARE(c.Control<QComboBox>(1019)->currentText(), QString::number(nBlockSize));
            // The fields keep what was typed.
            QCOMPARE(c.Text(1001), port.isEmpty() ? QString::number(server.Port())
                                   : port == "-"  ? QString()
                                                  : port);
            QCOMPARE(c.Text(1003), timeout);
            QCOMPARE(c.Stored("Startup", "Host"), host);
            if (!nPort) {
                const std::optional<QByteArray> request = server.Receive();
                QVERIFY(request);
                QCOMPARE(RequestFields(*request).mid(0, 3),
                         (QStringList{"1", "remote.bin", "octet"}));
            }
        } else {
            // A refused form writes nothing and sends nothing.
            QCOMPARE(c.Stored("Startup", "Host"), QString());
            QVERIFY(!server.Receive(200));
        }
    }

    void emptyFileFieldsDoNothing_data() {
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("remote");
        QTest::addColumn<int>("nButton");
        QTest::newRow("no local, fetch") << ""
                                         << "r.bin" << 1005;
        QTest::newRow("no remote, fetch") << "l.bin"
                                          << "" << 1005;
        QTest::newRow("no local, send") << ""
                                        << "r.bin" << 1004;
        QTest::newRow("neither, send") << ""
                                       << "" << 1004;
    }
    void emptyFileFieldsDoNothing() {
        QFETCH(QString, local);
        QFETCH(QString, remote);
        QFETCH(int, nButton);
        UdpPeer server;
        ClientApp c;
        MessageBoxRecorder boxes;
        c.Fill("0.0.0.0", server.Port(), local, remote);
        if (local.isEmpty())
            c.Type(1002, QString());
        c.Type(1007, remote);
        c.Click(nButton);
        QCOMPARE(boxes.texts, QStringList());
        QCOMPARE(c.dialogs, QStringList());
        QVERIFY(!c.Running());
        QVERIFY(!server.Receive(200));
        QCOMPARE(c.Stored("Startup", "Local"), QString());
    }

    void matchFiles() {
        ClientApp c;
        // Typing in Local File copies every change into Remote File.
        c.Type(1002, "kernel");
        QCOMPARE(c.Text(1007), QString("kernel"));
        QTest::keyClicks(c.Edit(1002), ".img");
        QCOMPARE(c.Text(1007), QString("kernel.img"));
        // Typing in the middle keeps the caret where the user is.
        c.Edit(1002)->setCursorPosition(6);
        QTest::keyClicks(c.Edit(1002), "-5");
        QCOMPARE(c.Text(1002), QString("kernel-5.img"));
        QCOMPARE(c.Text(1007), QString("kernel-5.img"));
        // Typing in Remote File turns matching off; Local no longer follows.
        QTest::keyClicks(c.Edit(1007), "x");
        QVERIFY(!c.Control<QCheckBox>(1008)->isChecked());
        QCOMPARE(c.View()->m_bMatchFiles, 0);
        c.Type(1002, "initrd");
        QCOMPARE(c.Text(1007), QString("kernel-5.imgx"));
        // Turning it on copies at once.
        QTest::mouseClick(c.Control<QCheckBox>(1008), Qt::LeftButton);
        QCOMPARE(c.Text(1007), QString("initrd"));
        // Turning it off copies nothing.
        QTest::mouseClick(c.Control<QCheckBox>(1008), Qt::LeftButton);
        c.Type(1002, "other");
        QCOMPARE(c.Text(1007), QString("initrd"));
    }

    void programWritesAreNotTyping() {
        UdpPeer server;
        ClientApp c({{"Options/Truncate", "Yes"}});
        c.app->m_strInbound = c.files.path() + "/";
        c.Fill("127.0.0.1", server.Port(), "averylongname.binary", "averylongname.binary");
        QTest::mouseClick(c.Control<QCheckBox>(1008), Qt::LeftButton); // matching on again
        c.Click(1005);
        QVERIFY(server.Receive());
        // The shortened name written into Remote File leaves matching on.
        QCOMPARE(c.Text(1007), QString("averylon.bin"));
        QVERIFY(c.Control<QCheckBox>(1008)->isChecked());
    }

    void truncate_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("sent");
        QTest::newRow("readme.txt") << "readme.txt"
                                    << "readme.txt";
        QTest::newRow("longfilename.html") << "longfilename.html"
                                           << "longfile.htm";
        QTest::newRow("my file-2.tar.gz") << "my file-2.tar.gz"
                                          << "myfile2.tar";
        QTest::newRow("abcdefghijk.txt") << "abcdefghijk.txt"
                                         << "abcdefgh.txt";
        QTest::newRow("noextension") << "noextension"
                                     << "noextens";
        QTest::newRow("name.") << "name."
                               << "name";
        QTest::newRow(".profile") << ".profile"
                                  << ".pro";
        QTest::newRow("dots after the cut") << "a.b.c.d"
                                            << "a.b.c";
        QTest::newRow("path") << "boot/pxe/linux.0"
                              << "bootpxel.0";
    }
    void truncate() {
        QFETCH(QString, typed);
        QFETCH(QString, sent);
        UdpPeer server;
        ClientApp c({{"Options/Truncate", "yes"}});
        c.app->m_strInbound = c.files.path() + "/";
        c.Fill("127.0.0.1", server.Port(), "local.bin", typed);
        c.Click(1005);
        const std::optional<QByteArray> request = server.Receive();
        QVERIFY(request);
        QCOMPARE(RequestFields(*request).value(1), sent);
        QCOMPARE(c.Text(1007), sent);
        QCOMPARE(c.Stored("Startup", "Remote"), sent);
    }

    void longFieldsAreCut() {
        UdpPeer server;
        ClientApp c;
        c.app->m_strInbound = c.files.path() + "/";
        const QString remote = QString(600, 'r');
        c.Fill("127.0.0.1", server.Port(), "l.bin", remote);
        c.Click(1005);
        const std::optional<QByteArray> request = server.Receive();
        QVERIFY(request);
        QCOMPARE(RequestFields(*request).value(1), QString(500, 'r'));
        QCOMPARE(c.Stored("Startup", "Remote"), QString(500, 'r'));
        // The field itself keeps what was typed.
        QCOMPARE(c.Text(1007), remote);
    }

    void droppedFiles_data() {
        QTest::addColumn<int>("nFiles");
        QTest::addColumn<bool>("bOnField"); // dropped on a text field, not the frame
        QTest::newRow("one file on the frame") << 1 << false;
        QTest::newRow("one file on Local File") << 1 << true;
        QTest::newRow("three files: the first is sent") << 3 << false;
    }
    void droppedFiles() {
        QFETCH(int, nFiles);
        QFETCH(bool, bOnField);
        OwnServer server;
        ClientApp c;
        // The outbound folder plays no part for a dropped file.
        c.app->m_strOutbound = c.files.path() + "/nowhere/";
        QTemporaryDir elsewhere;
        QStringList paths;
        for (int i = 0; i < nFiles; ++i) {
            paths << elsewhere.path() + QString("/dropped-%1.bin").arg(i);
            QFile file(paths.last());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(Pattern(3000 + i));
        }
        c.Fill("127.0.0.1", server.nPort, "old.bin", "older.bin");
        QVERIFY(!c.Control<QCheckBox>(1008)->isChecked());
        DropFiles(bOnField ? static_cast<QWidget*>(c.Edit(1002)) : c.Frame(), paths);
        QCOMPARE(c.Text(1002), QString("dropped-0.bin"));
        QCOMPARE(c.Text(1007), QString("dropped-0.bin"));
        QVERIFY(c.Control<QCheckBox>(1008)->isChecked());
        QVERIFY(c.WaitForEnd());
        QCOMPARE(server.Get("dropped-0.bin"), Pattern(3000));
        for (int i = 1; i < nFiles; ++i)
            QCOMPARE(server.Get(QString("dropped-%1.bin").arg(i)), QByteArray("<missing>"));
        QCOMPARE(c.Stored("Startup", "Local"), QString("dropped-0.bin"));
    }

    void fileSendCommand_data() {
        QTest::addColumn<bool>("bChosen");
        QTest::newRow("a file chosen") << true;
        QTest::newRow("the dialog cancelled") << false;
    }
    void fileSendCommand() {
        QFETCH(bool, bChosen);
        OwnServer server;
        ClientApp c;
        QTemporaryDir elsewhere;
        const QString path = elsewhere.path() + "/chosen.bin";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(Pattern(700));
        file.close();
        CMainFrame::SetFileChooser([&](QWidget*) { return bChosen ? path : QString(); });
        c.Fill("127.0.0.1", server.nPort, "l.bin", "r.bin");
        c.Frame()->Action(ID_FILE_OPEN)->trigger();
        CMainFrame::SetFileChooser(nullptr);
        QVERIFY(c.WaitForEnd());
        QCOMPARE(server.Get("chosen.bin"), bChosen ? Pattern(700) : QByteArray("<missing>"));
        QCOMPARE(c.Text(1002), bChosen ? QString("chosen.bin") : QString("l.bin"));
    }

    void clickWhileATransferRuns() {
        UdpPeer server;
        ClientApp c;
        c.app->m_strInbound = c.app->m_strOutbound = c.files.path() + "/";
        c.Fill("127.0.0.1", server.Port(), "down.bin", "up.bin");
        c.Click(1005);
        uint16_t nFirstPort = 0;
        QVERIFY(server.Receive(2000, &nFirstPort));
        CTransferSocket* pFirst = c.Transfer();
        PumpEvents(20);
        QVERIFY(c.Control<QPushButton>(32773)->isEnabled());
        QVERIFY(c.Frame()->Action(ID_ABORT)->isEnabled());
        // Send, Fetch and a dropped file are all ignored while it runs.
        c.Click(1004);
        c.Click(1005);
        DropFiles(c.Frame(), {c.Path("down.bin")});
        QVERIFY(!server.Receive(300));
        QCOMPARE(c.Transfer(), pFirst);
        // The server ends it; the same click starts a new one, on a new socket.
        QVERIFY(server.SendTo(nFirstPort, QByteArray("\0\5\0\1gone\0", 9)));
        QVERIFY(c.WaitForEnd());
        QTRY_COMPARE(c.Status(), QString("Msg from Server > gone"));
        QTRY_VERIFY(!c.Control<QPushButton>(32773)->isEnabled());
        c.Click(1004);
        uint16_t nSecondPort = 0;
        const std::optional<QByteArray> request = server.Receive(2000, &nSecondPort);
        QVERIFY(request);
        QCOMPARE(RequestFields(*request).value(0), QString("2"));
        QVERIFY(nSecondPort != nFirstPort);
    }

    void abort_data() {
        QTest::addColumn<bool>("bMenu");
        QTest::newRow("Abort button") << false;
        QTest::newRow("File, Abort") << true;
    }
    void abort() {
        QFETCH(bool, bMenu);
        UdpPeer server;
        ClientApp c;
        c.app->m_strInbound = c.files.path() + "/";
        c.Fill("127.0.0.1", server.Port(), "got.bin", "remote.bin");
        c.Click(1005);
        QVERIFY(server.Receive());
        PumpEvents(20);
        if (bMenu)
            c.Frame()->Action(ID_ABORT)->trigger();
        else
            c.Click(32773);
        QVERIFY(!c.Running());
        // Updated at the program's next idle time.
        QTRY_VERIFY(!c.Control<QPushButton>(32773)->isEnabled());
        QTRY_VERIFY(!c.Frame()->Action(ID_ABORT)->isEnabled());
        // The server is told nothing.
        QVERIFY(!server.Receive(200));
    }

    void closingDuringATransfer() {
        UdpPeer server;
        QTemporaryDir inbound;
        auto pClient = std::make_unique<ClientApp>();
        ClientApp& c = *pClient;
        c.app->m_strInbound = inbound.path() + "/";
        c.Fill("127.0.0.1", server.Port(), "got.bin", "remote.bin");
        c.Click(1005);
        uint16_t nFrom = 0;
        QVERIFY(server.Receive(2000, &nFrom));
        const QString local = inbound.path() + "/got.bin";
        QVERIFY(server.SendTo(nFrom, QByteArray("\0\3\0\1", 4) + Pattern(512)));
        QVERIFY(server.Receive()); // ACK 1
        c.Frame()->close();
        pClient.reset();
        // The file holds what came, and the server hears nothing more.
        QFile file(local);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), Pattern(512));
        QVERIFY(!server.Receive(200));
    }

    void progressBar_data() {
        QTest::addColumn<Progress>("messages");
        QTest::addColumn<int>("nValue");
        QTest::newRow("start") << Progress{{0, 1000}} << 0;
        QTest::newRow("half") << Progress{{0, 1000}, {2, 500}} << 50;
        QTest::newRow("sent, integer steps") << Progress{{0, 1000}, {1, 999}} << 99;
        QTest::newRow("all") << Progress{{0, 1000}, {2, 1000}} << 100;
        QTest::newRow("small file: one byte a percent") << Progress{{0, 50}, {1, 30}} << 30;
        QTest::newRow("small file, beyond") << Progress{{0, 50}, {1, 150}} << 100;
        QTest::newRow("empty file") << Progress{{0, 0}, {1, 0}} << 0;
        QTest::newRow("more than announced") << Progress{{0, 1000}, {2, 5000}} << 100;
        QTest::newRow("large") << Progress{{0, 4000000000L}, {2, 1000000000L}} << 25;
        QTest::newRow("new transfer restarts") << Progress{{0, 1000}, {2, 1000}, {0, 10}} << 0;
    }
    void progressBar() {
        QFETCH(Progress, messages);
        QFETCH(int, nValue);
        ClientApp c;
        for (const auto& [nKind, nBytes] : messages)
            c.View()->PostProgress(static_cast<ProgressKind>(nKind), nBytes);
        PumpEvents(20);
        QCOMPARE(c.Control<QProgressBar>(1017)->value(), nValue);
        QCOMPARE(c.Control<QProgressBar>(1017)->maximum(), 100);
    }

    void serverLowersTheBlockSize() {
        UdpPeer server;
        ClientApp c;
        c.app->m_strInbound = c.files.path() + "/";
        c.Fill("127.0.0.1", server.Port(), "got.bin", "remote.bin");
        c.SetBlockSize("8192");
        c.Click(1005);
        uint16_t nFrom = 0;
        QVERIFY(server.Receive(2000, &nFrom));
        // An answer without options: the default size, shown in the box.
        QVERIFY(server.SendTo(nFrom, QByteArray("\0\3\0\1", 4) + Pattern(512)));
        QVERIFY(server.Receive());
        PumpEvents(20);
        QCOMPARE(c.Control<QComboBox>(1019)->currentText(), QString("512"));
    }
};

QTEST_MAIN(TestSkifferForm)
#include "tst_skifferform.moc"
