#include "Clock.h"
#include "MessageBox.h"
#include "ServerFixture.h"
#include "Tftp.h"

#include <sys/resource.h>

#include <QtTest>
#include <csignal>

namespace {
const QByteArray kError1("\0\5\0\1File not found\0", 19);
const QByteArray kError2("\0\5\0\2Access violation\0", 21);
const QByteArray kError4("\0\5\0\4Unknown TFTP Operation\0", 27);
const QByteArray kError5("\0\5\0\5Unknown transfer ID\0", 24);
const QByteArray kOptionFailure("\0\x08\0\0Inconclusive system error\0", 30);
} // namespace

class TestSession : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        CAsyncSocket::SetBufferSizeHook(nullptr);
        CAsyncSocket::SetSelectHook(nullptr);
        SetMessageBoxHandler(nullptr);
        SetTestTickCount(std::nullopt);
    }

    void firstAnswer_data() {
        QTest::addColumn<int>("opcode");
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QList<QByteArray>>("options");
        QTest::addColumn<int>("allowTsize");
        QTest::addColumn<int>("allowTimeout");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("maxWindow");
        const QByteArray data1 = Data(1, Pattern(1000).left(512));
        auto row = [](const char* name, int op, const char* mode, QList<QByteArray> options,
                      int tsize, int timeout, QByteArray answer, int maxWindow = 64) {
            QTest::newRow(name) << op << QByteArray(mode) << options << tsize << timeout << answer
                                << maxWindow;
        };
        row("read, no options: DATA 1 at once", 1, "octet", {}, 1, 1, data1);
        row("read, tsize: OACK with the size", 1, "octet", {"tsize", "0"}, 1, 1,
            Oack({"tsize", "1000"}));
        row("read, tsize refused: DATA 1", 1, "octet", {"tsize", "0"}, 0, 1, data1);
        row("read, blksize then refused tsize", 1, "octet", {"blksize", "1024", "tsize", "0"}, 0, 1,
            Oack({"blksize", "1024"}));
        row("read, entries in fixed order", 1, "octet",
            {"blksize", "1024", "timeout", "5", "tsize", "0"}, 1, 1,
            Oack({"tsize", "1000", "timeout", "5", "blksize", "1024"}));
        row("read, names in any case", 1, "OCTET", {"BLKSIZE", "1024", "TSize", "0"}, 1, 1,
            Oack({"tsize", "1000", "blksize", "1024"}));
        row("read, blksize 512 acknowledged", 1, "octet", {"blksize", "512"}, 1, 1,
            Oack({"blksize", "512"}));
        row("read, unknown option ignored", 1, "netascii", {"rollover", "0"}, 1, 1, data1);
        row("read, windowsize answered last", 1, "octet",
            {"windowsize", "16", "blksize", "1024", "tsize", "0"}, 1, 1,
            Oack({"tsize", "1000", "blksize", "1024", "windowsize", "16"}));
        row("read, windowsize above the maximum lowered", 1, "octet", {"windowsize", "100"}, 1, 1,
            Oack({"windowsize", "64"}));
        row("read, windowsize with a maximum of 1: DATA 1", 1, "octet", {"windowsize", "8"}, 1, 1,
            data1, 1);
        row("read, windowsize 0 ignored", 1, "octet", {"windowsize", "0"}, 1, 1, data1);
        row("read, windowsize 65536 ignored", 1, "octet", {"windowsize", "65536"}, 1, 1, data1);
        row("read, windowsize unreadable", 1, "octet", {"windowsize", "x"}, 1, 1, data1);
        row("write, windowsize alone: OACK", 2, "octet", {"windowsize", "4"}, 1, 1,
            Oack({"windowsize", "4"}));
        row("write, windowsize refused: ACK 0", 2, "octet", {"windowsize", "4"}, 1, 1, Ack(0), 1);
        row("read, later option wins", 1, "octet", {"blksize", "1024", "blksize", "2048"}, 1, 1,
            Oack({"blksize", "2048"}));
        row("read, blksize above 65464 lowered", 1, "octet", {"blksize", "70000"}, 1, 1,
            Oack({"blksize", "65464"}));
        row("read, blksize 7 ignored", 1, "octet", {"blksize", "7"}, 1, 1, data1);
        row("read, blksize 0 ignored", 1, "octet", {"blksize", "0"}, 1, 1, data1);
        row("read, blksize 8 accepted", 1, "octet", {"blksize", "8"}, 1, 1, Oack({"blksize", "8"}));
        row("read, timeout refused", 1, "octet", {"timeout", "5"}, 1, 0, data1);
        row("write, no options: ACK 0", 2, "octet", {}, 1, 1, Ack(0));
        row("write, only tsize: ACK 0", 2, "octet", {"tsize", "1000"}, 1, 1, Ack(0));
        row("write, timeout refused: ACK 0", 2, "octet", {"timeout", "10"}, 1, 0, Ack(0));
        row("write, timeout and tsize", 2, "octet", {"tsize", "1000", "timeout", "10"}, 1, 1,
            Oack({"timeout", "10"}));
        row("write, blksize", 2, "netascii", {"blksize", "1428", "tsize", "9"}, 1, 1,
            Oack({"blksize", "1428"}));
        row("read, mode mail refused", 1, "mail", {}, 1, 1, kError4);
        row("read, mode missing", 1, "", {}, 1, 1, kError4);
        row("write, mode mail refused", 2, "mail", {"blksize", "1024"}, 1, 1, kError4);
    }
    void firstAnswer() {
        QFETCH(int, opcode);
        QFETCH(QByteArray, mode);
        QFETCH(QList<QByteArray>, options);
        QFETCH(int, allowTsize);
        QFETCH(int, allowTimeout);
        QFETCH(QByteArray, answer);
        QFETCH(int, maxWindow);
        ServerFixture server;
        server.core.m_nMaxWindow = maxWindow;
        server.core.m_bAllowTsize = allowTsize;
        server.core.m_bAllowTimeout = allowTimeout;
        server.WriteOut("file.bin", Pattern(1000));
        RawClient client(server.nPort);
        QByteArray name = opcode == 1 ? "file.bin" : "up.bin";
        QCOMPARE(client.Request(MakeRequest(opcode, name, mode, options)),
                 std::optional<QByteArray>(answer));
        QVERIFY(client.nSessionPort != server.nPort);
        const bool bRefused = answer.startsWith(QByteArray("\0\5", 2));
        QCOMPARE(server.Session()->IsActive(), !bRefused);
        if (opcode == 2 && !bRefused)
            QVERIFY(QFile::exists(server.inDir + "up.bin"));
    }

    void refusedNames_data() {
        QTest::addColumn<int>("opcode");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("read of a missing file") << 1 << QByteArray("missing.bin") << kError1;
        QTest::newRow("read of a folder") << 1 << QByteArray("sub") << kError1;
        QTest::newRow("read of the folder itself") << 1 << QByteArray("") << kError1;
        QTest::newRow("write into a missing folder") << 2 << QByteArray("nowhere/x.bin") << kError2;
        for (int op : {1, 2}) {
            const char* kind = op == 1 ? "read" : "write";
            QTest::addRow("%s ../secret", kind) << op << QByteArray("../secret") << kError2;
            QTest::addRow("%s sub/../../secret", kind)
                << op << QByteArray("sub/../../secret") << kError2;
            QTest::addRow("%s ..\\secret", kind) << op << QByteArray("..\\secret") << kError2;
            // A leading slash is taken off, so these stay inside the folder.
            QTest::addRow("%s /../secret", kind) << op << QByteArray("/../secret") << kError2;
            QTest::addRow("%s \\..\\secret", kind) << op << QByteArray("\\..\\secret") << kError2;
            QTest::addRow("%s sub\\..\\..\\secret", kind)
                << op << QByteArray("sub\\..\\..\\secret") << kError2;
            QTest::addRow("%s sub/..", kind) << op << QByteArray("sub/..") << kError2;
            QTest::addRow("%s a link out", kind) << op << QByteArray("/out-link") << kError2;
        }
        // Inside the folder there is no tmp/secret: the name is no way out.
        QTest::newRow("read /tmp/secret") << 1 << QByteArray("/tmp/secret") << kError1;
        QTest::newRow("write /tmp/secret") << 2 << QByteArray("/tmp/secret") << kError2;
    }
    void refusedNames() {
        QFETCH(int, opcode);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, answer);
        ServerFixture server;
        QDir().mkpath(server.outDir + "sub");
        QDir().mkpath(server.inDir + "sub");
        QFile secret(server.root.path() + "/secret");
        QVERIFY(secret.open(QIODevice::WriteOnly));
        secret.write("keep");
        secret.close();
        for (const QString& folder : {server.outDir, server.inDir})
            QVERIFY(QFile::link(secret.fileName(), folder + "out-link"));
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(opcode, name, "octet")),
                 std::optional<QByteArray>(answer));
        QCOMPARE(server.Session()->IsActive(), false);
        QVERIFY(secret.open(QIODevice::ReadOnly));
        QCOMPARE(secret.readAll(), QByteArray("keep"));
        // The view is told of the client only, never of a file.
        QCOMPARE(server.core.MessagesFor(1), QList<int>{WM_SLOT_CLIENT});
    }

    void nameIsUsedAsSentInsideTheFolder() {
        ServerFixture server;
        QDir().mkpath(server.outDir + "boot");
        QFile file(server.outDir + "boot/Image..v2");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("abc");
        file.close();
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(1, "boot/Image..v2", "octet")),
                 std::optional<QByteArray>(Data(1, "abc")));
    }

    // Boot loaders' names: GRUB's leading slash, Windows' backslashes. The
    // row and the log line show the file as found in the folder.
    void bootLoaderNamesServedFromTheFolder_data() {
        QTest::addColumn<int>("opcode");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("local");
        for (int op : {1, 2}) {
            const char* kind = op == 1 ? "read" : "write";
            QTest::addRow("%s /a", kind) << op << QByteArray("/a") << "a";
            QTest::addRow("%s //a", kind) << op << QByteArray("//a") << "a";
            QTest::addRow("%s \\a\\b", kind) << op << QByteArray("\\a\\b") << "a/b";
            QTest::addRow("%s GRUB module", kind)
                << op << QByteArray("/boot/grub/x86_64-efi/normal.mod")
                << "boot/grub/x86_64-efi/normal.mod";
            QTest::addRow("%s \\Boot\\BCD", kind) << op << QByteArray("\\Boot\\BCD") << "Boot/BCD";
        }
    }
    void bootLoaderNamesServedFromTheFolder() {
        QFETCH(int, opcode);
        QFETCH(QByteArray, name);
        QFETCH(QString, local);
        ServerFixture server;
        const QString folder = opcode == 1 ? server.outDir : server.inDir;
        QDir().mkpath(QFileInfo(folder + local).path());
        if (opcode == 1)
            server.WriteOut(local, "boot");
        server.core.lines.clear();
        RawClient client(server.nPort);
        const auto answer = client.Request(MakeRequest(opcode, name, "octet"));
        if (opcode == 1) {
            QCOMPARE(answer, std::optional<QByteArray>(Data(1, "boot")));
            QCOMPARE(client.Exchange(Ack(1), 300), std::nullopt);
        } else {
            QCOMPARE(answer, std::optional<QByteArray>(Ack(0)));
            QCOMPARE(client.Exchange(Data(1, "sent"), 2000), std::optional<QByteArray>(Ack(1)));
            QCOMPARE(server.ReadIn(local), QByteArray("sent"));
        }
        const QList<RecordingCore::Note>& notes = server.core.notes;
        QCOMPARE(notes.size() > 1 ? notes[1].strText : QString(), folder + local);
        QCOMPARE(server.core.lines,
                 QStringList{QString("127.0.0.1:%1 %2 %3: 4 bytes in 1 block, complete")
                                 .arg(client.peer.Port())
                                 .arg(opcode == 1 ? "read" : "write", folder + local)});
    }

    void forcedFileServesEveryRead() {
        ServerFixture server;
        server.WriteOut("forced.img", "FORCED");
        server.core.m_bForce = 1;
        server.core.m_strForceFile = "forced.img";
        RawClient reader(server.nPort);
        QCOMPARE(reader.Request(MakeRequest(1, "../anything", "octet")),
                 std::optional<QByteArray>(Data(1, "FORCED")));
        RawClient writer(server.nPort);
        QCOMPARE(writer.Request(MakeRequest(2, "own.bin", "octet")),
                 std::optional<QByteArray>(Ack(0)));
        QVERIFY(QFile::exists(server.inDir + "own.bin"));
    }

    void readSendsBlocksUntilTheShortOne_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("blocks");
        QTest::newRow("empty file") << 0 << QList<int>{0};
        QTest::newRow("511 bytes") << 511 << QList<int>{511};
        QTest::newRow("512 bytes") << 512 << QList<int>{512, 0};
        QTest::newRow("1024 bytes") << 1024 << QList<int>{512, 512, 0};
        QTest::newRow("1000 bytes") << 1000 << QList<int>{512, 488};
    }
    void readSendsBlocksUntilTheShortOne() {
        QFETCH(int, size);
        QFETCH(QList<int>, blocks);
        ServerFixture server;
        const QByteArray content = Pattern(size);
        server.WriteOut("f.bin", content);
        RawClient client(server.nPort);
        auto packet = client.Request(MakeRequest(1, "f.bin", "octet"));
        QByteArray received;
        for (int i = 0; i < blocks.size(); ++i) {
            QVERIFY(packet);
            QCOMPARE(packet->left(4), Data(i + 1, {}));
            QCOMPARE(packet->size() - 4, blocks[i]);
            received += packet->mid(4);
            QCOMPARE(server.Session()->IsActive(), true);
            if (i + 1 < blocks.size())
                packet = client.Exchange(Ack(i + 1));
        }
        QCOMPARE(received, content);
        QCOMPARE(client.Exchange(Ack(blocks.size()), 200), std::nullopt);
        QCOMPARE(server.Session()->IsActive(), false);
    }

    void progressFollowsTheNextBlock() {
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(2000));
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        QVERIFY(client.Exchange(Ack(1)));
        const auto& notes = server.core.notes;
        QCOMPARE(notes.size(), 3);
        QCOMPARE(notes[0], (RecordingCore::Note{WM_SLOT_CLIENT, 1, "127.0.0.1", {}, 0, 0}));
        QCOMPARE(notes[1],
                 (RecordingCore::Note{WM_SLOT_DETAILS, 1, server.outDir + "f.bin", {}, 1, 1}));
        QCOMPARE(notes[2].nMessage, WM_SLOT_PROGRESS);
        QCOMPARE(notes[2].strText, QString("51"));
        QCOMPARE(notes[2].strCount, QString("2000/1024"));
        for (unsigned block = 2; block <= 4; ++block)
            QVERIFY(client.Exchange(Ack(block), 1000) || block == 4);
        QCOMPARE(notes.last().strText, QString("100"));
        QCOMPARE(notes.last().strCount, QString("2000/2000"));
    }

    // A windowed session step by step: what the client sends ("ack N",
    // "data N" for a full block, "last N" for the short one that ends the
    // file, "timer" for the retransmission timer) and the blocks or the ACK
    // that the session answers with ("" for silence).
    void windowWire_data() {
        QTest::addColumn<int>("opcode");
        QTest::addColumn<QStringList>("script");   // step, answer, step, answer, ...
        QTest::addColumn<QStringList>("progress"); // what the slot's row shows, in turn
        QTest::newRow("read: windows, a partial ACK, duplicates, the timer")
            << 1 << QStringList{"ack 0",  "data 1 2 3 4",  // the first window
                                "ack 4",  "data 5 6 7 8",  // slides on a whole one
                                "ack 6",  "data 7 8 9 10", // confirmed in part: again from 7
                                "ack 6",  "",              // a duplicate sends nothing
                                "ack 3",  "",              // nor a stale one
                                "ack 12", "",              // nor one beyond what is out
                                "timer",  "data 7 8 9 10", // the window again from 7
                                "ack 10", "data 11",       // the short last block
                                "ack 11", ""} // As the client confirms blocks, not as they go out.
            << QStringList{"5220/0", "5220/2048", "5220/3072", "5220/5120", "5220/5220"};
        QTest::newRow("store: ACK per window, once per gap, the timer")
            << 2
            << QStringList{"data 1",  "",       "data 2", "",       "data 3",
                           "",        "data 4", "ack 4", // the window's last block
                           "data 6",  "ack 4",           // 5 is missing: told once
                           "data 7",  "",       "data 5", "",       "data 6",
                           "",        "data 7", "",       "data 8", "ack 8", // counted from the gap
                           "data 3",  "ack 8", // a block acknowledged already: our ACK was lost
                           "data 2",  "",      // told once
                           "data 9",  "",      // inside the window: nothing yet
                           "timer",   "ack 9", // the last block held in order
                           "last 10", "ack 10"}
            << QStringList{"512",  "1024", "1536", "2048", "2560",
                           "3072", "3584", "4096", "4608", "4708"};
    }
    void windowWire() {
        QFETCH(int, opcode);
        QFETCH(QStringList, script);
        QFETCH(QStringList, progress);
        ServerFixture server;
        const QByteArray content = Pattern(10 * 512 + 100);
        server.WriteOut("f.bin", content);
        RawClient client(server.nPort);
        const QByteArray name = opcode == 1 ? "f.bin" : "up.bin";
        QCOMPARE(client.Request(MakeRequest(opcode, name, "octet", {"windowsize", "4"})),
                 std::optional<QByteArray>(Oack({"windowsize", "4"})));
        WindowScript play;
        play.content = content;
        play.send = [&](const QByteArray& packet) { client.Send(packet); };
        play.receive = [&](int ms) { return client.Next(ms); };
        play.other = [&](const QString&) { return server.FireRetransmission(); };
        for (int i = 0; i + 1 < script.size(); i += 2)
            QCOMPARE(play.Play(script[i], script[i + 1]), script[i + 1]);
        QCOMPARE(server.Session()->GetPhase(), CClientSession::Phase::Completed);
        if (opcode == 2)
            QCOMPARE(server.ReadIn("up.bin"), play.stored);
        QStringList shown;
        for (const RecordingCore::Note& note : server.core.notes)
            if (note.nMessage == WM_SLOT_PROGRESS)
                shown << note.strCount;
        QCOMPARE(shown, progress);
    }

    void duplicateAndStaleAcksAreIgnored_data() {
        QTest::addColumn<QByteArray>("stray");
        QTest::newRow("duplicate ACK 1") << Ack(1);
        QTest::newRow("stale ACK 0") << Ack(0);
        QTest::newRow("ACK from the future") << Ack(7);
        QTest::newRow("DATA on a read") << Data(2, "x");
        QTest::newRow("3 bytes") << QByteArray("\0\4\0", 3);
    }
    void duplicateAndStaleAcksAreIgnored() {
        QFETCH(QByteArray, stray);
        ServerFixture server;
        const QByteArray content = Pattern(1500);
        server.WriteOut("f.bin", content);
        RawClient client(server.nPort);
        auto d1 = client.Request(MakeRequest(1, "f.bin", "octet"));
        auto d2 = client.Exchange(Ack(1));
        QVERIFY(d1 && d2);
        int nNotes = static_cast<int>(server.core.notes.size());
        QCOMPARE(client.Exchange(stray, 200), std::nullopt);
        QCOMPARE(server.core.notes.size(), nNotes);
        auto d3 = client.Exchange(Ack(2));
        QVERIFY(d3);
        QCOMPARE(d3->left(4), Data(3, {}));
        QCOMPARE(d1->mid(4) + d2->mid(4) + d3->mid(4), content);
    }

    void oackWaitsForAckZero() {
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(600));
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(1, "f.bin", "octet", {"tsize", "0"})),
                 std::optional<QByteArray>(Oack({"tsize", "600"})));
        QCOMPARE(client.Exchange(Ack(1), 200), std::nullopt);
        QCOMPARE(client.Exchange(Ack(0)),
                 std::optional<QByteArray>(Data(1, Pattern(600).left(512))));
        // A repeated ACK 0 now is stale: block 1 is not sent again.
        QCOMPARE(client.Exchange(Ack(0), 200), std::nullopt);
        QCOMPARE(client.Exchange(Ack(1)),
                 std::optional<QByteArray>(Data(2, Pattern(600).mid(512))));
    }

    void blockNumbersWrapAfter65535() {
        ServerFixture server;
        const int nBlocks = 65537; // 65535, then 0, then 1 on the wire
        const QByteArray content = Pattern(8 * (nBlocks - 1) + 3);
        server.WriteOut("wrap.bin", content);
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(1, "wrap.bin", "octet", {"blksize", "8"})),
                 std::optional<QByteArray>(Oack({"blksize", "8"})));
        QByteArray received;
        QList<unsigned> wireNumbers;
        unsigned nAck = 0;
        for (int i = 1; i <= nBlocks; ++i) {
            auto packet = client.Exchange(Ack(nAck));
            QVERIFY2(packet, qPrintable(QString("block %1").arg(i)));
            unsigned nWire =
                tftp::GetWord(reinterpret_cast<const uint8_t*>(packet->constData()) + 2);
            if (i >= 65534)
                wireNumbers << nWire;
            received += packet->mid(4);
            nAck = nWire;
        }
        QCOMPARE(wireNumbers, (QList<unsigned>{65534, 65535, 0, 1}));
        QCOMPARE(received, content);
        client.Send(Ack(nAck));
        PumpEvents(50);
        QCOMPARE(server.Session()->IsActive(), false);
    }

    void errorFromTheClientEndsTheTransfer_data() {
        QTest::addColumn<int>("opcode");
        QTest::newRow("read") << 1;
        QTest::newRow("write") << 2;
    }
    void errorFromTheClientEndsTheTransfer() {
        QFETCH(int, opcode);
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(3000));
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(opcode, opcode == 1 ? "f.bin" : "part.bin", "octet")));
        if (opcode == 2)
            QCOMPARE(client.Exchange(Data(1, Pattern(512))), std::optional<QByteArray>(Ack(1)));
        // Ended quietly: an answer to an ERROR could start an endless exchange.
        QCOMPARE(client.Exchange(ErrorPacket(0, "cancelled"), 300), std::nullopt);
        QCOMPARE(server.Session()->IsActive(), false);
        QCOMPARE(client.Exchange(Ack(1), 200), std::nullopt);
        if (opcode == 2)
            QCOMPARE(server.ReadIn("part.bin"), Pattern(512)); // the partial file stays
    }

    void writeStoresBlocks_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("blksize");
        QTest::newRow("empty") << 0 << 512;
        QTest::newRow("511") << 511 << 512;
        QTest::newRow("512 then empty") << 512 << 512;
        QTest::newRow("1000") << 1000 << 512;
        QTest::newRow("3000 at 1024") << 3000 << 1024;
        QTest::newRow("2048 at 1024") << 2048 << 1024;
    }
    void writeStoresBlocks() {
        QFETCH(int, size);
        QFETCH(int, blksize);
        ServerFixture server;
        const QByteArray content = Pattern(size);
        QFile existing(server.inDir + "up.bin");
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write(QByteArray(5000, 'z')); // truncated, never refused
        existing.close();
        RawClient client(server.nPort);
        QList<QByteArray> options;
        if (blksize != 512)
            options = {"blksize", QByteArray::number(blksize)};
        auto first = client.Request(MakeRequest(2, "up.bin", "octet", options));
        QCOMPARE(first,
                 std::optional<QByteArray>(
                     blksize == 512 ? Ack(0) : Oack({"blksize", QByteArray::number(blksize)})));
        int nBlocks = size / blksize + 1;
        for (int i = 0; i < nBlocks; ++i) {
            QByteArray chunk = content.mid(i * blksize, blksize);
            QCOMPARE(client.Exchange(Data(i + 1, chunk)), std::optional<QByteArray>(Ack(i + 1)));
            // A repeated block means its ACK was lost: it is acknowledged
            // again each time, but not written twice.
            QCOMPARE(client.Exchange(Data(i + 1, chunk)), std::optional<QByteArray>(Ack(i + 1)));
            QCOMPARE(client.Exchange(Data(i + 1, chunk)), std::optional<QByteArray>(Ack(i + 1)));
        }
        QCOMPARE(server.Session()->IsActive(), false);
        QCOMPARE(server.ReadIn("up.bin"), content);
        // Each block is reported once; each ACK sent again, as a retransmission.
        QList<RecordingCore::Note> progress;
        int nRetransmissions = 0;
        for (const auto& note : server.core.notes) {
            if (note.nMessage == WM_SLOT_PROGRESS)
                progress << note;
            nRetransmissions += note.nMessage == WM_SLOT_RETRANSMIT;
        }
        QCOMPARE(progress.size(), nBlocks);
        QCOMPARE(nRetransmissions, 2 * nBlocks);
        QCOMPARE(progress.last().strText, QString("?"));
        QCOMPARE(progress.last().strCount, QString::number(size));
    }

    void fullDiskIsReportedNotAcknowledged_data() {
        QTest::addColumn<int>("limit"); // bytes the file may grow to
        QTest::addColumn<int>("size");
        QTest::newRow("the only block") << 50 << 100;
        QTest::newRow("the last of three") << 900 << 1100;
    }
    void fullDiskIsReportedNotAcknowledged() {
        QFETCH(int, limit);
        QFETCH(int, size);
        ServerFixture server;
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(2, "up.bin", "octet")),
                 std::optional<QByteArray>(Ack(0)));
        const QByteArray content = Pattern(size);
        const int nBlocks = size / 512 + 1;
        // A file size limit makes writes fail as on a full disk.
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = static_cast<rlim_t>(limit);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        std::optional<QByteArray> last;
        for (int i = 1; i <= nBlocks; ++i) {
            last = client.Exchange(Data(i, content.mid((i - 1) * 512, 512)));
            if (i < nBlocks)
                QCOMPARE(last, std::optional<QByteArray>(Ack(i)));
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        // The short last block sits in the file's buffer until it is flushed:
        // the transfer must not be acknowledged as complete.
        QCOMPARE(last, std::optional<QByteArray>(QByteArray("\0\5\0\3Disk full\0", 14)));
        QCOMPARE(server.Session()->IsActive(), false);
    }

    void strangerGetsUnknownTransferId_data() {
        QTest::addColumn<int>("opcode");
        QTest::newRow("read") << 1;
        QTest::newRow("write") << 2;
    }
    void strangerGetsUnknownTransferId() {
        QFETCH(int, opcode);
        ServerFixture server;
        const QByteArray content = Pattern(1200);
        server.WriteOut("f.bin", content);
        RawClient client(server.nPort);
        auto first = client.Request(MakeRequest(opcode, opcode == 1 ? "f.bin" : "up.bin", "octet"));
        QVERIFY(first);
        UdpPeer stranger;
        CTime::SetTestTime(5000);
        server.Session()->m_tLastActivity = 4000;
        stranger.SendTo(client.nSessionPort, opcode == 1 ? Ack(1) : Data(1, "evil"));
        QCOMPARE(stranger.Receive(), std::optional<QByteArray>(kError5));
        // A stranger's ERROR is not answered: it may be another server's.
        stranger.SendTo(client.nSessionPort, kError5);
        QCOMPARE(stranger.Receive(200), std::nullopt);
        QCOMPARE(server.Session()->m_tLastActivity, time_t(4000)); // no refresh
        CTime::SetTestTime(std::nullopt);
        QCOMPARE(client.Next(200), std::nullopt);
        // The real client's transfer goes on unharmed.
        if (opcode == 1) {
            auto d2 = client.Exchange(Ack(1));
            auto d3 = client.Exchange(Ack(2));
            QVERIFY(d2 && d3);
            QCOMPARE(first->mid(4) + d2->mid(4) + d3->mid(4), content);
        } else {
            QCOMPARE(client.Exchange(Data(1, "good")), std::optional<QByteArray>(Ack(1)));
            QCOMPARE(server.ReadIn("up.bin"), QByteArray("good"));
        }
        QCOMPARE(ntohs(server.Session()->m_peerAddr.sin_port), client.peer.Port());
    }

    void bufferThatCannotBeSetUpFailsTheOptions() {
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(100));
        CAsyncSocket::SetBufferSizeHook([](int, int, int*) { return false; });
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(1, "f.bin", "octet", {"blksize", "1024"})),
                 std::optional<QByteArray>(kOptionFailure));
        QCOMPARE(server.Session()->IsActive(), false);
        CAsyncSocket::SetBufferSizeHook(nullptr);
    }

    void smallerGrantLowersTheBlockSize_data() {
        QTest::addColumn<int>("granted");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("less") << 1000 << Oack({"blksize", "980"});
        QTest::newRow("more counts as asked") << 4096 << Oack({"blksize", "1024"});
        QTest::newRow("too small to use") << 20 << kOptionFailure;
    }
    void smallerGrantLowersTheBlockSize() {
        QFETCH(int, granted);
        QFETCH(QByteArray, answer);
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(3000));
        CAsyncSocket::SetBufferSizeHook([granted](int, int, int* pGranted) {
            *pGranted = granted;
            return true;
        });
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(1, "f.bin", "octet", {"blksize", "1024"})),
                 std::optional<QByteArray>(answer));
        CAsyncSocket::SetBufferSizeHook(nullptr);
        if (granted == 1000)
            QCOMPARE(client.Exchange(Ack(0))->size(), 984);
    }

    void timeoutOptionOnlyFrom1To255_data() {
        QTest::addColumn<QList<QByteArray>>("options");
        QTest::addColumn<int>("timeout"); // 0: ignored as if absent
        QTest::newRow("1") << QList<QByteArray>{"timeout", "1"} << 1;
        QTest::newRow("255") << QList<QByteArray>{"timeout", "255"} << 255;
        QTest::newRow("0") << QList<QByteArray>{"timeout", "0"} << 0;
        QTest::newRow("256") << QList<QByteArray>{"timeout", "256"} << 0;
        QTest::newRow("99999999999") << QList<QByteArray>{"timeout", "99999999999"} << 0;
        QTest::newRow("no digits") << QList<QByteArray>{"timeout", "x"} << 0;
        QTest::newRow("a later bad value leaves the good one")
            << QList<QByteArray>{"timeout", "5", "timeout", "300"} << 5;
    }
    void timeoutOptionOnlyFrom1To255() {
        QFETCH(QList<QByteArray>, options);
        QFETCH(int, timeout);
        for (int opcode : {1, 2}) {
            ServerFixture server;
            server.WriteOut("f.bin", Pattern(100));
            RawClient client(server.nPort);
            const QByteArray expected = timeout ? Oack({"timeout", QByteArray::number(timeout)})
                                                : (opcode == 1 ? Data(1, Pattern(100)) : Ack(0));
            QCOMPARE(client.Request(
                         MakeRequest(opcode, opcode == 1 ? "f.bin" : "up.bin", "octet", options)),
                     std::optional<QByteArray>(expected));
            QCOMPARE(server.Session()->m_nTimeout, timeout);
        }
    }

    // Names and options are read from the whole request, up to 512 bytes.
    void longRequestsAreReadWhole() {
        ServerFixture server;
        const QByteArray folder(200, 'd'), file(200, 'f');
        QDir().mkpath(server.outDir + folder);
        server.WriteOut(folder + "/" + file, Pattern(700));
        RawClient client(server.nPort);
        const QByteArray request = MakeRequest(1, folder + "/" + file, "octet",
                                               {"tsize", "0", "blksize", "1024", "timeout", "3"});
        QVERIFY(request.size() > 400 && request.size() <= 512);
        QCOMPARE(
            client.Request(request),
            std::optional<QByteArray>(Oack({"tsize", "700", "timeout", "3", "blksize", "1024"})));
        QCOMPARE(client.Exchange(Ack(0)), std::optional<QByteArray>(Data(1, Pattern(700))));
    }

    // At a tiny block size the session still hears datagrams of ordinary
    // size, such as an ERROR with its text.
    void smallBlockSizeStillHearsErrors_data() {
        QTest::addColumn<int>("opcode");
        QTest::newRow("read") << 1;
        QTest::newRow("write") << 2;
    }
    void smallBlockSizeStillHearsErrors() {
        QFETCH(int, opcode);
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(100));
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(opcode, opcode == 1 ? "f.bin" : "up.bin", "octet",
                                            {"blksize", "8"})),
                 std::optional<QByteArray>(Oack({"blksize", "8"})));
        QCOMPARE(client.Exchange(ErrorPacket(0, "User aborted"), 300), std::nullopt);
        QCOMPARE(server.Session()->IsActive(), false);
    }

    void oversizedDataIsNoBlock() {
        ServerFixture server;
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(2, "up.bin", "octet", {"blksize", "8"})),
                 std::optional<QByteArray>(Oack({"blksize", "8"})));
        QCOMPARE(client.Exchange(Data(1, "123456789"), 200), std::nullopt);
        QCOMPARE(client.Exchange(Data(1, "12345678")), std::optional<QByteArray>(Ack(1)));
        QCOMPARE(client.Exchange(Data(2, "9")), std::optional<QByteArray>(Ack(2)));
        QCOMPARE(server.ReadIn("up.bin"), QByteArray("123456789"));
    }

    // A message box runs an event loop of its own, in which the sweep may
    // free the session: the session must have ended before the message.
    void messageWhileParsingComesAfterTheEnd() {
        ServerFixture server;
        CAsyncSocket* pListener = server.pListener;
        CAsyncSocket::SetSelectHook(
            [pListener](const CAsyncSocket* pSocket, long) { return pSocket == pListener; });
        QStringList texts;
        int bActiveAtMessage = -1;
        SetMessageBoxHandler([&](const QString& text, unsigned) {
            texts << text;
            bActiveAtMessage = server.Session()->IsActive();
            server.pListener->SweepSessions();
            return IDOK;
        });
        UdpPeer client;
        client.SendTo(server.nPort, MakeRequest(2, "up.bin", "octet"));
        QCOMPARE(client.Receive(300), std::nullopt);
        SetMessageBoxHandler(nullptr);
        CAsyncSocket::SetSelectHook(nullptr);
        QCOMPARE(texts, QStringList{"Error preparing local client function"});
        QCOMPARE(bActiveAtMessage, 0);
        QCOMPARE(server.Session(), nullptr);
        QCOMPARE(server.pListener->m_nActiveClients, 0);
        QCOMPARE(server.core.MessagesFor(1), (QList<int>{WM_SLOT_CLIENT, WM_SLOT_IDLE}));
    }

    // A client repeats its request when the first answer is lost: it gets
    // that answer again from the same session, never a second session.
    void repeatedRequest_data() {
        QTest::addColumn<int>("opcode");
        QTest::addColumn<QList<QByteArray>>("options");
        QTest::addColumn<int>("progress");     // datagrams the client answered with first
        QTest::addColumn<QByteArray>("again"); // empty: the repeat is ignored
        const QByteArray data1 = Data(1, Pattern(1500).left(512));
        QTest::newRow("read, DATA 1 lost") << 1 << QList<QByteArray>{} << 0 << data1;
        QTest::newRow("read, OACK lost")
            << 1 << QList<QByteArray>{"tsize", "0"} << 0 << Oack({"tsize", "1500"});
        QTest::newRow("read, OACK answered")
            << 1 << QList<QByteArray>{"tsize", "0"} << 1 << QByteArray();
        QTest::newRow("read, DATA 1 answered") << 1 << QList<QByteArray>{} << 1 << QByteArray();
        QTest::newRow("read, ended") << 1 << QList<QByteArray>{} << 9 << QByteArray();
        QTest::newRow("write, ACK 0 lost") << 2 << QList<QByteArray>{} << 0 << Ack(0);
        QTest::newRow("write, OACK lost")
            << 2 << QList<QByteArray>{"blksize", "1024"} << 0 << Oack({"blksize", "1024"});
        QTest::newRow("write, DATA 1 stored") << 2 << QList<QByteArray>{} << 1 << QByteArray();
        QTest::newRow("write, ended") << 2 << QList<QByteArray>{} << 9 << QByteArray();
    }
    void repeatedRequest() {
        QFETCH(int, opcode);
        QFETCH(QList<QByteArray>, options);
        QFETCH(int, progress);
        QFETCH(QByteArray, again);
        ServerFixture server;
        const QByteArray content = Pattern(1500);
        server.WriteOut("f.bin", content);
        const QByteArray request =
            MakeRequest(opcode, opcode == 1 ? "f.bin" : "up.bin", "octet", options);
        RawClient client(server.nPort);
        QVERIFY(client.Request(request));
        const int nBlockSize = options.contains("blksize") ? 1024 : 512;
        const bool bOack = !options.isEmpty();
        QByteArray stored;
        for (int i = 0; i < progress; ++i) {
            std::optional<QByteArray> answer;
            if (opcode == 1) {
                answer = client.Exchange(Ack(bOack ? i : i + 1), 300);
            } else {
                QByteArray chunk = content.mid(i * nBlockSize, nBlockSize);
                stored += chunk;
                answer = client.Exchange(Data(i + 1, chunk));
            }
            if (!answer)
                break; // the transfer has ended
        }
        const int nNotes = static_cast<int>(server.core.notes.size());
        client.peer.SendTo(server.nPort, request);
        auto reply = client.Next(300);
        if (again.isEmpty()) {
            QCOMPARE(reply, std::nullopt);
            QCOMPARE(server.core.notes.size(), nNotes);
        } else {
            QCOMPARE(reply, std::optional<QByteArray>(again));
            QCOMPARE(server.core.notes.mid(nNotes).size(), 1);
            QCOMPARE(server.core.notes.last().nMessage, WM_SLOT_RETRANSMIT);
            QCOMPARE(server.pListener->m_nRetries[0], 1);
        }
        QCOMPARE(server.pListener->m_nActiveClients, 1);
        QCOMPARE(server.pListener->m_pSession[1], nullptr);
        if (opcode == 2 && progress > 1)
            QCOMPARE(server.ReadIn("up.bin"), stored.left(content.size()));
    }

    void repeatedRequestsWithinTheRetryBudget() {
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(100));
        RawClient client(server.nPort);
        const QByteArray request = MakeRequest(1, "f.bin", "octet");
        QVERIFY(client.Request(request));
        int nAnswers = 0;
        for (int i = 0; i < 8; ++i) {
            client.peer.SendTo(server.nPort, request);
            nAnswers += client.Next(150).has_value();
        }
        QCOMPARE(nAnswers, CListenSocket::kMaxRetries);
        QCOMPARE(server.pListener->m_nActiveClients, 1);
    }

    // A client that reuses its port for its next transfer is served once its
    // last one has ended.
    void nextRequestFromTheSamePort() {
        ServerFixture server;
        server.WriteOut("a.bin", "first");
        server.WriteOut("b.bin", "second");
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(1, "a.bin", "octet")),
                 std::optional<QByteArray>(Data(1, "first")));
        // While it runs, another request from that port is not served.
        QCOMPARE(client.Request(MakeRequest(1, "b.bin", "octet"), 300), std::nullopt);
        QCOMPARE(client.Exchange(Ack(1), 200), std::nullopt);
        QCOMPARE(client.Request(MakeRequest(1, "b.bin", "octet")),
                 std::optional<QByteArray>(Data(1, "second")));
        QCOMPARE(server.pListener->m_nActiveClients, 1);
        QCOMPARE(server.core.MessagesFor(1),
                 (QList<int>{WM_SLOT_CLIENT, WM_SLOT_DETAILS, WM_SLOT_PROGRESS, WM_SLOT_IDLE,
                             WM_SLOT_CLIENT, WM_SLOT_DETAILS}));
    }

    // A repeat of the ACK before the block in flight never sends the block
    // by itself (a duplicate would double the stream from then on): the
    // timer does. Once the block has been out a second, as after the timer
    // has backed off, the repeat sends it at once, within the budget.
    void repeatedAckForALostBlock_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("oack");
        QTest::addColumn<int>("backoffs"); // timer retransmissions before the repeat
        QTest::addColumn<int>("delay");    // ms after the block last went out
        QTest::addColumn<bool>("resent");
        QTest::newRow("block 2, at once") << 1500 << false << 0 << 0 << false;
        QTest::newRow("block 1 after the OACK, at once") << 1500 << true << 0 << 0 << false;
        QTest::newRow("the short last block, at once") << 700 << false << 0 << 0 << false;
        QTest::newRow("block 2, backed off, a second after") << 1500 << false << 5 << 1000 << true;
        QTest::newRow("block 2, backed off, sooner") << 1500 << false << 5 << 999 << false;
        QTest::newRow("the short last block, backed off") << 700 << false << 5 << 1000 << true;
    }
    void repeatedAckForALostBlock() {
        QFETCH(int, size);
        QFETCH(bool, oack);
        QFETCH(int, backoffs);
        QFETCH(int, delay);
        QFETCH(bool, resent);
        ServerFixture server;
        const QByteArray content = Pattern(size);
        server.WriteOut("f.bin", content);
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(
            1, "f.bin", "octet", oack ? QList<QByteArray>{"tsize", "0"} : QList<QByteArray>{})));
        const unsigned nPrevious = oack ? 0 : 1;
        auto inFlight = client.Exchange(Ack(nPrevious)); // block nPrevious + 1 goes out
        QVERIFY(inFlight);
        for (int i = 0; i < backoffs; ++i) {
            QVERIFY(server.FireRetransmission());
            QCOMPARE(client.Next(), inFlight);
        }
        QVERIFY(server.Session()->RetransmissionDue() > GetTickCount() + 1000 || backoffs == 0);
        AdvanceTestTickCount(static_cast<unsigned long long>(delay));
        const int nNotes = static_cast<int>(server.core.notes.size());
        auto again = client.Exchange(Ack(nPrevious), 100);
        if (resent) {
            QCOMPARE(again, inFlight);
            QCOMPARE(server.core.notes.mid(nNotes).size(), 1);
            QCOMPARE(server.core.notes.last().nMessage, WM_SLOT_RETRANSMIT);
            QCOMPARE(server.pListener->m_nRetries[0], 1);
        } else {
            QCOMPARE(again, std::nullopt);
            QCOMPARE(server.core.notes.size(), nNotes);
            // The timer sends it, once.
            QVERIFY(server.FireRetransmission());
            QCOMPARE(client.Next(), inFlight);
            QCOMPARE(client.Next(50), std::nullopt);
            QCOMPARE(server.core.notes.mid(nNotes).size(), 1);
        }
        // The transfer goes on to a whole copy.
        QByteArray received = content.left(512 * (nPrevious == 0 ? 0 : 1)) + inFlight->mid(4);
        unsigned nBlock = nPrevious + 1;
        while (inFlight->size() == 4 + 512) {
            inFlight = client.Exchange(Ack(nBlock++));
            QVERIFY(inFlight);
            received += inFlight->mid(4);
        }
        QCOMPARE(received, content);
    }

    void repeatedAcksWithinTheRetryBudget() {
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(3000));
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(1, "f.bin", "octet")));
        auto d2 = client.Exchange(Ack(1));
        QVERIFY(d2);
        for (int i = 0; i < 5; ++i) { // the timer backs off past a second
            QVERIFY(server.FireRetransmission());
            QCOMPARE(client.Next(), d2);
        }
        int nResent = 0;
        for (int i = 0; i < 8; ++i) {
            AdvanceTestTickCount(1000);
            nResent += client.Exchange(Ack(1), 100).has_value();
        }
        QCOMPARE(nResent, CListenSocket::kMaxRetries);
        QCOMPARE(server.pListener->m_nRetries[0], CListenSocket::kMaxRetries);
        // Progress gives the budget back; the duplicate of an ACK just
        // answered sends nothing.
        auto d3 = client.Exchange(Ack(2));
        QVERIFY(d3);
        QCOMPARE(server.pListener->m_nRetries[0], 0);
        QCOMPARE(client.Exchange(Ack(2), 100), std::nullopt);
    }

    // The ACK of the last block may be lost: the block comes again and is
    // acknowledged again, also once the ended store has left its slot, until
    // its time-out has passed.
    void lastAckLostAfterTheStore_data() {
        QTest::addColumn<bool>("released");
        QTest::newRow("still in its slot") << false;
        QTest::newRow("out of its slot") << true;
    }
    void lastAckLostAfterTheStore() {
        QFETCH(bool, released);
        ServerFixture server;
        CTime::SetTestTime(100000);
        SetTestTickCount(50000);
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(2, "up.bin", "octet")));
        QCOMPARE(client.Exchange(Data(1, Pattern(512))), std::optional<QByteArray>(Ack(1)));
        QCOMPARE(client.Exchange(Data(2, "end")), std::optional<QByteArray>(Ack(2)));
        QCOMPARE(server.Session()->IsActive(), false);
        if (released) {
            server.pListener->SweepSessions();
            QCOMPARE(server.Session(), nullptr);
            QCOMPARE(server.pListener->m_nActiveClients, 0);
        }
        const int nNotes = static_cast<int>(server.core.notes.size());
        AdvanceTestTickCount(1000);
        QCOMPARE(client.Exchange(Data(2, "end")), std::optional<QByteArray>(Ack(2)));
        QCOMPARE(client.Exchange(Data(3, "more"), 200), std::nullopt);
        // A late repeat of the request opens nothing.
        client.peer.SendTo(server.nPort, MakeRequest(2, "up.bin", "octet"));
        QCOMPARE(client.Next(200), std::nullopt);
        QCOMPARE(server.pListener->m_nActiveClients, released ? 0 : 1);
        QCOMPARE(server.ReadIn("up.bin"), Pattern(512) + "end");
        if (released) {
            QCOMPARE(server.core.notes.size(), nNotes); // nothing shown for it
            // Gone once its time-out has passed.
            CTime::SetTestTime(100031);
            server.pListener->SweepSessions();
            AdvanceTestTickCount(1000);
            QCOMPARE(client.Exchange(Data(2, "end"), 200), std::nullopt);
        }
        CTime::SetTestTime(std::nullopt);
    }

    // A block from beyond the one awaited means that one was lost (some
    // clients move on when their time-out passes): the last ACK goes again,
    // once it has been out a second. An older block is passed over.
    void blockFromBeyondRepeatsTheLastAck_data() {
        QTest::addColumn<unsigned>("stray");
        QTest::addColumn<int>("delay");
        QTest::addColumn<bool>("again");
        QTest::newRow("block after the awaited one") << 3u << 1000 << true;
        QTest::newRow("far beyond") << 40u << 1000 << true;
        QTest::newRow("too soon") << 3u << 999 << false;
        QTest::newRow("an older block") << 65535u << 1000 << false;
    }
    void blockFromBeyondRepeatsTheLastAck() {
        QFETCH(unsigned, stray);
        QFETCH(int, delay);
        QFETCH(bool, again);
        ServerFixture server;
        RawClient client(server.nPort);
        QVERIFY(client.Request(MakeRequest(2, "up.bin", "octet")));
        QCOMPARE(client.Exchange(Data(1, Pattern(512))), std::optional<QByteArray>(Ack(1)));
        for (int i = 0; i < 5; ++i) { // the timer backs off past a second
            QVERIFY(server.FireRetransmission());
            QCOMPARE(client.Next(), std::optional<QByteArray>(Ack(1)));
        }
        AdvanceTestTickCount(static_cast<unsigned long long>(delay));
        QCOMPARE(client.Exchange(Data(stray, Pattern(512)), 100),
                 again ? std::optional<QByteArray>(Ack(1)) : std::nullopt);
        QCOMPARE(client.Exchange(Data(2, "end")), std::optional<QByteArray>(Ack(2)));
        QCOMPARE(server.ReadIn("up.bin"), Pattern(512) + "end");
    }

    void writeBlockNumbersWrapAfter65535() {
        ServerFixture server;
        const int nBlocks = 65537; // 65535, then 0, then 1 on the wire
        const QByteArray content = Pattern(8 * (nBlocks - 1) + 3);
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(2, "wrap.bin", "octet", {"blksize", "8"})),
                 std::optional<QByteArray>(Oack({"blksize", "8"})));
        for (int i = 1; i <= nBlocks; ++i) {
            const unsigned nWire = static_cast<unsigned>(i) & 0xFFFF;
            auto ack = client.Exchange(Data(nWire, content.mid((i - 1) * 8, 8)));
            QVERIFY2(ack == std::optional<QByteArray>(Ack(nWire)),
                     qPrintable(QString("block %1").arg(i)));
        }
        QCOMPARE(server.Session()->IsActive(), false);
        QCOMPARE(server.ReadIn("wrap.bin"), content);
    }

    // The system's socket buffers are far larger than a block: they are left
    // as they are, never cut down to one datagram.
    void socketBuffersAreNeverShrunk_data() {
        QTest::addColumn<int>("opcode");
        QTest::addColumn<int>("blksize");
        QTest::newRow("read at 1428") << 1 << 1428;
        QTest::newRow("write at 8192") << 2 << 8192;
        QTest::newRow("write at 65464") << 2 << 65464;
    }
    void socketBuffersAreNeverShrunk() {
        QFETCH(int, opcode);
        QFETCH(int, blksize);
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(100));
        const int nOption = opcode == 1 ? SO_SNDBUF : SO_RCVBUF;
        CAsyncSocket fresh;
        QVERIFY(fresh.Create(0, SOCK_DGRAM, 0, "127.0.0.1"));
        int nDefault = 0;
        socklen_t nLength = sizeof nDefault;
        QVERIFY(::getsockopt(fresh.m_hSocket, SOL_SOCKET, nOption, &nDefault, &nLength) == 0);
        RawClient client(server.nPort);
        const QByteArray size = QByteArray::number(blksize);
        QCOMPARE(client.Request(MakeRequest(opcode, opcode == 1 ? "f.bin" : "up.bin", "octet",
                                            {"blksize", size})),
                 std::optional<QByteArray>(Oack({"blksize", size})));
        int nInForce = 0;
        nLength = sizeof nInForce;
        QVERIFY(::getsockopt(server.Session()->m_hSocket, SOL_SOCKET, nOption, &nInForce,
                             &nLength) == 0);
        QVERIFY2(nInForce >= nDefault, qPrintable(QString("%1 < %2").arg(nInForce).arg(nDefault)));
    }

    // The buffer a block passes through is raised for the block size: the
    // send buffer for a read (the server sends the blocks), the receive
    // buffer for a write; the other one is neither read nor set.
    void blockSizeRaisesTheBufferOfItsDirection_data() {
        QTest::addColumn<int>("opcode");
        QTest::addColumn<int>("blksize");
        QTest::addColumn<int>("option");
        QTest::newRow("read at 1024: send buffer") << 1 << 1024 << int(SO_SNDBUF);
        QTest::newRow("read at 65464: send buffer") << 1 << 65464 << int(SO_SNDBUF);
        QTest::newRow("write at 1428: receive buffer") << 2 << 1428 << int(SO_RCVBUF);
        QTest::newRow("write at 8192: receive buffer") << 2 << 8192 << int(SO_RCVBUF);
    }
    void blockSizeRaisesTheBufferOfItsDirection() {
        QFETCH(int, opcode);
        QFETCH(int, blksize);
        QFETCH(int, option);
        ServerFixture server;
        server.WriteOut("f.bin", Pattern(70000));
        QList<int> read;            // options whose size was asked for
        QList<QPair<int, int>> set; // options set, with the size asked
        CAsyncSocket::SetBufferSizeHook([&](int nOption, int nRequested, int* pGranted) {
            if (nRequested == 0) {
                read << nOption;
                *pGranted = 600; // a default too small for any of these blocks
            } else {
                set << qMakePair(nOption, nRequested);
                *pGranted = nRequested;
            }
            return true;
        });
        RawClient client(server.nPort);
        const QByteArray size = QByteArray::number(blksize);
        const auto answer = client.Request(
            MakeRequest(opcode, opcode == 1 ? "f.bin" : "up.bin", "octet", {"blksize", size}));
        CAsyncSocket::SetBufferSizeHook(nullptr);
        QCOMPARE(answer, std::optional<QByteArray>(Oack({"blksize", size})));
        QCOMPARE(read, QList<int>{option});
        QCOMPARE(set, (QList<QPair<int, int>>{{option, blksize + tftp::kBufferSlack}}));
        // And the agreed size is the one used.
        if (opcode == 1)
            QCOMPARE(client.Exchange(Ack(0)),
                     std::optional<QByteArray>(Data(1, Pattern(70000).left(blksize))));
        else
            QCOMPARE(client.Exchange(Data(1, "end")), std::optional<QByteArray>(Ack(1)));
    }

    void endedSessionIgnoresDatagrams() {
        ServerFixture server;
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(1, "missing", "octet")),
                 std::optional<QByteArray>(kError1));
        QCOMPARE(client.Exchange(Ack(1), 200), std::nullopt);
        QCOMPARE(client.Exchange(ErrorPacket(0, "x"), 200), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
