#include "Clock.h"
#include "MessageBox.h"
#include "ServerFixture.h"

#include <QDir>
#include <QtTest>
#include <unistd.h>

// What a server without a window tells its journal: where it serves, and one
// line for every transfer as it ends, however it ends.
namespace {
enum class Run {
    ReadWhole,
    ReadEmptyFile,
    ReadBlockMultiple,
    StoreWhole,
    FileMissing,
    NameLeavesFolder,
    UnknownMode,
    FirstAnswerLostOnce,
    ClientSendsError,
    ClientFallsSilent,
    ServerShutsDown,
    NotServing,
    DeniedByList,
    AllSlotsTaken,
};

constexpr time_t kStart = 200000;

// The session's port is learnt from its first answer; every exchange is
// checked so that a line is never compared against a transfer that stalled.
void Drive(Run run, ServerFixture& server, RawClient& client) {
    const QByteArray file = Pattern(2000);
    switch (run) {
    case Run::ReadWhole:
    case Run::FirstAnswerLostOnce:
        server.WriteOut("f.bin", file);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        if (run == Run::FirstAnswerLostOnce) // DATA 1 comes again from the same session
            QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        for (unsigned n = 1; n <= 3; ++n)
            QVERIFY(client.Exchange(Ack(n)));
        client.Send(Ack(4));
        break;
    case Run::ReadEmptyFile:
        server.WriteOut("empty", {});
        QVERIFY(client.Request(MakeRequest(1, "empty", "octet")));
        client.Send(Ack(1));
        break;
    case Run::ReadBlockMultiple:
        server.WriteOut("f.bin", file.left(1024));
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        QVERIFY(client.Exchange(Ack(1)));
        QVERIFY(client.Exchange(Ack(2)));
        client.Send(Ack(3));
        break;
    case Run::StoreWhole:
        QVERIFY(client.Request(MakeRequest(2, "up.bin", "octet")));
        QVERIFY(client.Exchange(Data(1, file.left(512))));
        QVERIFY(client.Exchange(Data(2, file.mid(512, 100))));
        QCOMPARE(server.ReadIn("up.bin"), file.left(612));
        break;
    case Run::FileMissing:
        QVERIFY(client.Request(MakeRequest(1, "none.bin", "octet")));
        break;
    case Run::NameLeavesFolder:
        QVERIFY(client.Request(MakeRequest(1, "../f.bin", "octet")));
        break;
    case Run::UnknownMode:
        server.WriteOut("f.bin", file);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "mail")));
        break;
    case Run::ClientSendsError:
        server.WriteOut("f.bin", file);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        QVERIFY(client.Exchange(Ack(1)));
        client.Send(ErrorPacket(0, "disk full\n127.0.0.1:1 read x: 9 bytes, complete"));
        break;
    case Run::ClientFallsSilent: {
        server.WriteOut("f.bin", file);
        CTime::SetTestTime(kStart);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        QVERIFY(client.Exchange(Ack(1)));
        for (int i = 1; i <= 6; ++i) {
            CTime::SetTestTime(kStart + 31 * i);
            server.pListener->SweepSessions();
        }
        break;
    }
    case Run::ServerShutsDown:
        server.WriteOut("f.bin", file);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        QVERIFY(client.Exchange(Ack(1)));
        delete server.pListener;
        server.pListener = server.core.m_pListener = nullptr;
        break;
    case Run::NotServing:
        server.core.m_bServing = 0;
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        break;
    case Run::DeniedByList:
        server.core.m_bDeny = 1;
        server.core.m_strDeny[0] = "127.0.0.*";
        QVERIFY(client.Request(MakeRequest(2, "up.bin", "octet")));
        break;
    case Run::AllSlotsTaken: {
        server.WriteOut("f.bin", file);
        std::vector<std::unique_ptr<RawClient>> others;
        for (int i = 0; i < kSlots; ++i) {
            others.push_back(std::make_unique<RawClient>(server.nPort));
            QVERIFY(others.back()->Request(MakeRequest(1, "f.bin", "octet")));
        }
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        QCOMPARE(server.core.lines.size(), 1); // the five are still going
        const QString strRefused = server.core.lines.first();
        others.clear();
        server.core.lines = {strRefused};
        break;
    }
    }
}
} // namespace

Q_DECLARE_METATYPE(Run)

class TestTransferLog : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        CTime::SetTestTime(std::nullopt);
        SetTestTickCount(std::nullopt);
    }

    void oneLinePerTransferAsItEnds_data() {
        QTest::addColumn<Run>("run");
        QTest::addColumn<QString>("line"); // OUT/ and IN/ stand for the folders
        QTest::newRow("read, whole file")
            << Run::ReadWhole << "read OUT/f.bin: 2000 bytes in 4 blocks, complete";
        QTest::newRow("read, empty file")
            << Run::ReadEmptyFile << "read OUT/empty: 0 bytes in 1 block, complete";
        QTest::newRow("read, file of whole blocks")
            << Run::ReadBlockMultiple << "read OUT/f.bin: 1024 bytes in 3 blocks, complete";
        QTest::newRow("store, whole file")
            << Run::StoreWhole << "write IN/up.bin: 612 bytes in 2 blocks, complete";
        QTest::newRow("file missing")
            << Run::FileMissing << "read OUT/none.bin: 0 bytes in 0 blocks, failed: File not found";
        QTest::newRow("name leaves the folder")
            << Run::NameLeavesFolder
            << "read OUT/../f.bin: 0 bytes in 0 blocks, failed: Access violation";
        QTest::newRow("unknown mode")
            << Run::UnknownMode
            << "read OUT/f.bin: 0 bytes in 0 blocks, failed: Unknown TFTP Operation";
        QTest::newRow("first answer lost once, still one line")
            << Run::FirstAnswerLostOnce << "read OUT/f.bin: 2000 bytes in 4 blocks, complete";
        QTest::newRow("client gives up, its text cannot forge a line")
            << Run::ClientSendsError
            << "read OUT/f.bin: 512 bytes in 1 block, failed: the client sent ERROR 0 \"disk "
               "full\\x0a127.0.0.1:1 read x: 9 bytes, complete\"";
        QTest::newRow("client falls silent: only what it confirmed")
            << Run::ClientFallsSilent
            << "read OUT/f.bin: 512 bytes in 1 block, failed: the client stopped answering";
        QTest::newRow("server shuts down mid-transfer")
            << Run::ServerShutsDown
            << "read OUT/f.bin: 512 bytes in 1 block, failed: the server shut down";
        QTest::newRow("serving stopped")
            << Run::NotServing
            << "read f.bin: 0 bytes in 0 blocks, failed: Service not available: serving is "
               "stopped";
        QTest::newRow("refused by the deny list")
            << Run::DeniedByList
            << "write up.bin: 0 bytes in 0 blocks, failed: Service not available: refused by "
               "the address lists";
        QTest::newRow("every slot taken")
            << Run::AllSlotsTaken
            << "read f.bin: 0 bytes in 0 blocks, failed: Too Many Clients: every slot holds a "
               "live transfer (MaxClients is 5)";
    }
    void oneLinePerTransferAsItEnds() {
        QFETCH(Run, run);
        QFETCH(QString, line);
        ServerFixture server;
        server.core.lines.clear();
        RawClient client(server.nPort);
        Drive(run, server, client);
        if (QTest::currentTestFailed())
            return;
        // The last packet the client sent is taken in by the event loop.
        QTRY_VERIFY_WITH_TIMEOUT(!server.core.lines.isEmpty(), 2000);
        QTest::qWait(50); // a second line would show now
        line.replace("OUT/", server.outDir).replace("IN/", server.inDir);
        const QString strClient = QString("127.0.0.1:%1 ").arg(client.peer.Port());
        QCOMPARE(server.core.lines, QStringList{strClient + line});
    }

    void nothingButRequestsIsReported_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("serving");
        QTest::newRow("ACK while serving") << Ack(1) << true;
        QTest::newRow("ACK while stopped") << Ack(1) << false;
        QTest::newRow("ERROR while stopped") << ErrorPacket(0, "x") << false;
        QTest::newRow("one byte while stopped") << QByteArray("\1") << false;
    }
    void nothingButRequestsIsReported() {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, serving);
        ServerFixture server;
        server.core.lines.clear();
        server.core.m_bServing = serving ? 1 : 0;
        UdpPeer peer;
        peer.SendTo(server.nPort, datagram);
        peer.Receive(300);
        QCOMPARE(server.core.lines, QStringList{});
    }

    void startLineNamesAddressPortAndFolders_data() {
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("in");
        QTest::addColumn<bool>("force");
        QTest::addColumn<QString>("line"); // CWD/ stands for the current folder
        QTest::newRow("absolute folders")
            << "/srv/tftp/out/"
            << "/srv/tftp/in/" << false
            << "files are sent from /srv/tftp/out/ and stored in /srv/tftp/in/";
        QTest::newRow("empty folders are the current one")
            << ""
            << "" << false << "files are sent from CWD/ and stored in CWD/";
        QTest::newRow("relative folders")
            << "out/"
            << "in/" << false << "files are sent from CWD/out/ and stored in CWD/in/";
        QTest::newRow("one file for every reader")
            << "/srv/tftp/out/"
            << "/srv/tftp/in/" << true
            << "every reader is sent /srv/tftp/out/boot.img; files are stored in /srv/tftp/in/";
    }
    void startLineNamesAddressPortAndFolders() {
        QFETCH(QString, out);
        QFETCH(QString, in);
        QFETCH(bool, force);
        QFETCH(QString, line);
        RecordingCore core;
        core.m_strOutPath = out;
        core.m_strInPath = in;
        core.m_bForce = force ? 1 : 0;
        core.m_strForceFile = "boot.img";
        const uint16_t nPort = FreeUdpPort();
        core.m_strPort = QString::number(nPort);
        core.m_pListener = new CListenSocket(core);
        QVERIFY(core.m_pListener->StartListening());
        line.replace("CWD", QDir::currentPath());
        QCOMPARE(core.lines,
                 QStringList{QString("Serving on 127.0.0.1 port %1: %2").arg(nPort).arg(line)});
    }

    // The lines go to standard error only when there is no window to show
    // what they say.
    void writtenToStandardErrorOnlyWithoutWindow_data() {
        QTest::addColumn<bool>("headless");
        QTest::newRow("no window") << true;
        QTest::newRow("window") << false;
    }
    void writtenToStandardErrorOnlyWithoutWindow() {
        QFETCH(bool, headless);
        QTemporaryFile capture;
        QVERIFY(capture.open());
        std::fflush(stderr);
        const int nSaved = ::dup(STDERR_FILENO);
        ::dup2(capture.handle(), STDERR_FILENO);
        const bool bWasHeadless = IsHeadless();
        SetHeadless(headless);
        {
            CWharfCore core;
            core.LogLine("a line");
        }
        SetHeadless(bWasHeadless);
        std::fflush(stderr);
        ::dup2(nSaved, STDERR_FILENO);
        ::close(nSaved);
        capture.seek(0);
        QCOMPARE(capture.readAll(), headless ? QByteArray("a line\n") : QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestTransferLog)
#include "tst_transferlog.moc"
