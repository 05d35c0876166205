#include "Clock.h"
#include "ServerFixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QtTest>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
const QByteArray kError1("\0\5\0\1File not found\0", 19);
const QByteArray kError2("\0\5\0\2Access violation\0", 21);
const QByteArray kError5("\0\5\0\5Unknown transfer ID\0", 24);
constexpr time_t kStart = 200000;

// An earlier version of a file, to be overwritten or kept.
const QByteArray kOld(2000, 'o');

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file");
}

// The file's bytes; empty when it cannot be read.
QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool MakeLink(const QString& target, const QString& link) {
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) ==
           0;
}

bool MakeFifo(const QString& path) {
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

bool IsKind(const QString& path, mode_t kind) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 &&
           (info.st_mode & S_IFMT) == kind;
}

QStringList Listing(const QString& dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// The server runs on the test's own thread: a server that waits in open()
// for a FIFO's other end would hang the test for ever. After a grace period
// this thread opens that other end, so such a server is released, answers
// late and fails the test instead.
class FifoGuard {
public:
    static constexpr std::chrono::milliseconds kGrace{1500};
    static constexpr std::chrono::milliseconds kHold{3000};

    FifoGuard(const QByteArray& path, bool bServerReads)
        : m_thread([this, path, bServerReads] { Run(path, bServerReads); }) {}
    ~FifoGuard() { Stop(); }
    FifoGuard(const FifoGuard&) = delete;
    FifoGuard& operator=(const FifoGuard&) = delete;

    void Stop() {
        {
            std::lock_guard lock(m_mutex);
            m_bDone = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }
    bool Fired() const { return m_bFired; }

private:
    void Run(const QByteArray& path, bool bServerReads) {
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, kGrace, [this] { return m_bDone; }))
            return;
        m_bFired = true;
        const auto deadline = std::chrono::steady_clock::now() + kHold;
        // Never blocking here either: a writer's open fails until the
        // server's read open is under way.
        const int nFlags = (bServerReads ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
        int fd = -1;
        while (fd < 0 && !m_bDone && std::chrono::steady_clock::now() < deadline) {
            fd = ::open(path.constData(), nFlags);
            if (fd < 0)
                m_wake.wait_for(lock, std::chrono::milliseconds(10), [this] { return m_bDone; });
        }
        m_wake.wait_until(lock, deadline, [this] { return m_bDone; });
        if (fd >= 0)
            ::close(fd);
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bDone = false;
    std::atomic<bool> m_bFired{false};
    std::thread m_thread; // last, so that everything it uses exists first
};

// The test clock for one test, put back afterwards.
struct TestClock {
    explicit TestClock(time_t t) { CTime::SetTestTime(t); }
    ~TestClock() { CTime::SetTestTime(std::nullopt); }
};

// Descriptors of this process that lead to the file at path.
int DescriptorsOn(const QString& path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    int nCount = 0;
    const QDir fds("/proc/self/fd");
    for (const QString& name :
         fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System))
        nCount += QFileInfo(fds.filePath(name)).symLinkTarget() == target;
    return nCount;
}

// Reads name whole through a fresh client, block by block.
QByteArray ReadWhole(uint16_t nPort, const QByteArray& name, int nMaxBlocks = 20) {
    RawClient client(nPort);
    QByteArray received;
    auto packet = client.Request(MakeRequest(1, name, "octet"));
    for (unsigned nBlock = 1; packet && nBlock <= unsigned(nMaxBlocks); ++nBlock) {
        if (packet->left(4) != Data(nBlock, {}))
            return "unexpected: " + *packet;
        received += packet->mid(4);
        if (packet->size() < 4 + 512) {
            client.Send(Ack(nBlock));
            PumpEvents(20); // the session has ended before the next request comes
            return received;
        }
        packet = client.Exchange(Ack(nBlock));
    }
    return "incomplete: " + received;
}
} // namespace

class TestSessionFiles : public QObject {
    Q_OBJECT
private slots:
    void nonRegularFilesAreRefusedAtOnce_data() {
        QTest::addColumn<int>("opcode");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("forced"); // the forced file, if any
        QTest::addColumn<bool>("otherEnd");  // the FIFO's other end is open already
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("read of a FIFO") << 1 << QByteArray("fifo") << QString() << false << kError1;
        QTest::newRow("read of a FIFO holding data from a writer")
            << 1 << QByteArray("fifo") << QString() << true << kError1;
        QTest::newRow("read of a link to a FIFO")
            << 1 << QByteArray("fifo-link") << QString() << false << kError1;
        QTest::newRow("read of a FIFO named as the forced file")
            << 1 << QByteArray("any.bin") << QString("fifo") << false << kError1;
        QTest::newRow("write onto a FIFO")
            << 2 << QByteArray("fifo") << QString() << false << kError2;
        QTest::newRow("write onto a FIFO with a reader waiting")
            << 2 << QByteArray("fifo") << QString() << true << kError2;
        QTest::newRow("write through a link to a FIFO")
            << 2 << QByteArray("fifo-link") << QString() << false << kError2;
        QTest::newRow("read of a folder")
            << 1 << QByteArray("sub") << QString() << false << kError1;
        QTest::newRow("write onto a folder")
            << 2 << QByteArray("sub") << QString() << false << kError2;
    }
    void nonRegularFilesAreRefusedAtOnce() {
        QFETCH(int, opcode);
        QFETCH(QByteArray, name);
        QFETCH(QString, forced);
        QFETCH(bool, otherEnd);
        QFETCH(QByteArray, answer);
        ServerFixture server;
        server.WriteOut("plain.bin", "PLAIN");
        for (const QString& dir : {server.outDir, server.inDir}) {
            QVERIFY(MakeFifo(dir + "fifo"));
            QVERIFY(MakeLink("fifo", dir + "fifo-link"));
            QVERIFY(QDir().mkpath(dir + "sub"));
        }
        if (!forced.isEmpty()) {
            server.core.m_bForce = 1;
            server.core.m_strForceFile = forced;
        }
        const QString fifo = (opcode == 1 ? server.outDir : server.inDir) + "fifo";
        Fd other;
        if (otherEnd) {
            // A reader for a store; for a read, a writer that has left bytes
            // in the FIFO (read and write, as a lone writer cannot open).
            other.fd = ::open(QFile::encodeName(fifo).constData(),
                              (opcode == 1 ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
            QVERIFY(other.fd >= 0);
            if (opcode == 1)
                QCOMPARE(::write(other.fd, "PENDING", 7), ssize_t(7));
        }

        FifoGuard guard(QFile::encodeName(fifo), opcode == 1);
        RawClient client(server.nPort);
        const auto reply = client.Request(MakeRequest(opcode, name, "octet"), 6000);
        guard.Stop();
        QVERIFY2(!guard.Fired(), "the server waited in open() for the FIFO's other end, and "
                                 "answered only once the test opened it");
        QCOMPARE(reply, std::optional<QByteArray>(answer));
        QCOMPARE(server.Session()->IsActive(), false);
        QVERIFY(IsKind(fifo, S_IFIFO));
        if (otherEnd && opcode == 1) {
            char buffer[16] = {};
            QCOMPARE(::read(other.fd, buffer, sizeof buffer), ssize_t(7)); // nothing consumed
        }

        // The server goes on serving.
        server.core.m_bForce = 0;
        RawClient next(server.nPort);
        QCOMPARE(next.Request(MakeRequest(1, "plain.bin", "octet")),
                 std::optional<QByteArray>(Data(1, "PLAIN")));
        QCOMPARE(next.Exchange(Ack(1), 150), std::nullopt);
        QCOMPARE(server.Session(2)->IsActive(), false);
    }

    void linksStayInsideTheirFolders_data() {
        QTest::addColumn<int>("opcode");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("forced"); // the forced file, if any
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("stored"); // where a store lands, under in/
        auto row = [](const char* title, int op, const char* name, const char* forced,
                      const QByteArray& answer, const char* stored = "") {
            QTest::newRow(title) << op << QByteArray(name) << QString(forced) << answer
                                 << QString(stored);
        };
        const QByteArray inside = Data(1, "INSIDE");
        const QByteArray secret = Data(1, "SECRET");
        row("read, link to a file outside", 1, "link-out", "", kError2);
        row("read, link to a link to a file outside", 1, "chain", "", kError2);
        row("read, link to a file in another subfolder", 1, "link-in", "", inside);
        row("read, absolute link to a file inside", 1, "abs-in", "", inside);
        row("read, through a folder linked outside", 1, "dir-out/secret.bin", "", kError2);
        row("read, through a folder linked inside", 1, "dir-in/inside.bin", "", inside);
        row("read, link into a folder named out/ plus a suffix", 1, "twin", "", kError2);
        row("read, dangling link", 1, "dangling", "", kError1);
        row("read, forced file is a link outside", 1, "any.bin", "link-out", secret);
        row("read, forced file in a folder linked outside", 1, "any.bin", "dir-out/secret.bin",
            secret);
        row("write, link to an existing file outside", 2, "link-out", "", kError2);
        row("write, link to a link to a file outside", 2, "chain", "", kError2);
        row("write, dangling link pointing outside", 2, "dangling-out", "", kError2);
        row("write, new file in a folder linked outside", 2, "dir-out/new.bin", "", kError2);
        row("write, existing file in a folder linked outside", 2, "dir-out/secret.bin", "",
            kError2);
        row("write, folder linked to in/ plus a suffix", 2, "twin-dir/new.bin", "", kError2);
        row("write, forcing exempts no store", 2, "link-out", "link-out", kError2);
        row("write, link to a file in another subfolder", 2, "link-in", "", Ack(0),
            "sub/target.bin");
        row("write, new file in a folder linked inside", 2, "dir-in/new.bin", "", Ack(0),
            "sub/new.bin");
        row("write, dangling link pointing inside", 2, "dangling-in", "", Ack(0), "sub/later.bin");
        row("write, chain of links ending inside", 2, "chain-in", "", Ack(0), "sub/later.bin");
        row("write, links in a circle", 2, "circle-a", "", kError2);
    }
    void linksStayInsideTheirFolders() {
        QFETCH(int, opcode);
        QFETCH(QByteArray, name);
        QFETCH(QString, forced);
        QFETCH(QByteArray, answer);
        QFETCH(QString, stored);
        ServerFixture server;
        QTemporaryDir outside;
        // Siblings whose names start with a served folder's name.
        QTemporaryDir outTwin(server.root.path() + "/out-XXXXXX");
        QTemporaryDir inTwin(server.root.path() + "/in-XXXXXX");
        QVERIFY(outside.isValid() && outTwin.isValid() && inTwin.isValid());
        const QString out = server.outDir, in = server.inDir;
        const QString secretPath = outside.filePath("secret.bin");
        WriteFile(secretPath, "SECRET");
        WriteFile(outTwin.filePath("secret.bin"), "TWIN");
        QVERIFY(QDir().mkpath(out + "sub") && QDir().mkpath(in + "sub"));
        WriteFile(out + "sub/inside.bin", "INSIDE");
        WriteFile(in + "sub/target.bin", "OLD");
        QVERIFY(MakeLink("sub/inside.bin", out + "link-in"));
        QVERIFY(MakeLink(out + "sub/inside.bin", out + "abs-in"));
        QVERIFY(MakeLink(secretPath, out + "link-out"));
        QVERIFY(MakeLink("link-out", out + "chain"));
        QVERIFY(MakeLink("sub", out + "dir-in"));
        QVERIFY(MakeLink(outside.path(), out + "dir-out"));
        QVERIFY(MakeLink(outTwin.filePath("secret.bin"), out + "twin"));
        QVERIFY(MakeLink(outside.filePath("missing.bin"), out + "dangling"));
        QVERIFY(MakeLink("sub/target.bin", in + "link-in"));
        QVERIFY(MakeLink(secretPath, in + "link-out"));
        QVERIFY(MakeLink("link-out", in + "chain"));
        QVERIFY(MakeLink(outside.filePath("created.bin"), in + "dangling-out"));
        QVERIFY(MakeLink("sub", in + "dir-in"));
        QVERIFY(MakeLink(outside.path(), in + "dir-out"));
        QVERIFY(MakeLink(inTwin.path(), in + "twin-dir"));
        QVERIFY(MakeLink("sub/later.bin", in + "dangling-in"));
        QVERIFY(MakeLink("dangling-in", in + "chain-in"));
        QVERIFY(MakeLink("circle-b", in + "circle-a"));
        QVERIFY(MakeLink("circle-a", in + "circle-b"));
        if (!forced.isEmpty()) {
            server.core.m_bForce = 1;
            server.core.m_strForceFile = forced;
        }

        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(opcode, name, "octet")),
                 std::optional<QByteArray>(answer));
        const bool bRefused = answer.startsWith(QByteArray("\0\5", 2));
        QCOMPARE(server.Session()->IsActive(), !bRefused);
        if (opcode == 1 && !bRefused)
            QCOMPARE(client.Exchange(Ack(1), 150), std::nullopt);
        if (!stored.isEmpty()) {
            QCOMPARE(client.Exchange(Data(1, "NEW")), std::optional<QByteArray>(Ack(1)));
            QCOMPARE(ReadFile(in + stored), QByteArray("NEW"));
            // The link itself stays a link.
            QVERIFY(IsKind(in + QString::fromLatin1(name.split('/').first()), S_IFLNK));
        }
        QCOMPARE(ReadFile(in + "sub/target.bin"),
                 QByteArray(stored == "sub/target.bin" ? "NEW" : "OLD"));

        // Nothing outside was written, emptied or created.
        QCOMPARE(Listing(outside.path()), QStringList{"secret.bin"});
        QCOMPARE(ReadFile(secretPath), QByteArray("SECRET"));
        QCOMPARE(Listing(outTwin.path()), QStringList{"secret.bin"});
        QCOMPARE(ReadFile(outTwin.filePath("secret.bin")), QByteArray("TWIN"));
        QCOMPARE(Listing(inTwin.path()), QStringList());
    }

    void filesInUse_data() {
        QTest::addColumn<bool>("storing"); // the first session stores x, else reads it
        QTest::addColumn<int>("steps");    // blocks it has moved before the second request
        QTest::addColumn<int>("opcode");   // the second request
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("answer");
        const QByteArray content = Pattern(1300);
        const QByteArray data1 = Data(1, content.left(512));
        for (int steps : {0, 1}) {
            const char* when = steps == 0 ? "store answered" : "storing";
            auto row = [&](const char* what, int op, const char* name, const QByteArray& answer) {
                QTest::addRow("%s: %s", when, what)
                    << true << steps << op << QByteArray(name) << answer;
            };
            row("WRQ for the same name", 2, "x", kError2);
            row("RRQ for the same name", 1, "x", kError2);
            if (steps == 0)
                continue;
            row("WRQ for a hard link", 2, "x-hard", kError2);
            row("WRQ for a symlink", 2, "x-soft", kError2);
            row("RRQ for a hard link", 1, "x-hard", kError2);
            row("RRQ for a symlink", 1, "x-soft", kError2);
            row("RRQ for a copy", 1, "x-copy", Data(1, kOld.left(512)));
            row("WRQ for a copy", 2, "x-copy", Ack(0));
        }
        for (int steps : {0, 1}) {
            const char* when = steps == 0 ? "read begun" : "reading";
            auto row = [&](const char* what, int op, const char* name, const QByteArray& answer) {
                QTest::addRow("%s: %s", when, what)
                    << false << steps << op << QByteArray(name) << answer;
            };
            row("RRQ for the same name", 1, "x", data1);
            row("WRQ for the same name", 2, "x", kError2);
            if (steps == 0)
                continue;
            row("RRQ for a hard link", 1, "x-hard", data1);
            row("RRQ for a symlink", 1, "x-soft", data1);
            row("WRQ for a hard link", 2, "x-hard", kError2);
            row("WRQ for a symlink", 2, "x-soft", kError2);
        }
    }
    void filesInUse() {
        QFETCH(bool, storing);
        QFETCH(int, steps);
        QFETCH(int, opcode);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, answer);
        ServerFixture server;
        // Reads and stores in one folder, so that both reach the same files.
        server.core.m_strOutPath = server.core.m_strInPath;
        const QString in = server.inDir;
        const QByteArray content = Pattern(1300); // blocks of 512, 512 and 276
        WriteFile(in + "x", storing ? kOld : content);
        WriteFile(in + "x-copy", kOld);
        QCOMPARE(::link(QFile::encodeName(in + "x").constData(),
                        QFile::encodeName(in + "x-hard").constData()),
                 0);
        QVERIFY(MakeLink("x", in + "x-soft"));

        RawClient first(server.nPort);
        if (storing) {
            QCOMPARE(first.Request(MakeRequest(2, "x", "octet")),
                     std::optional<QByteArray>(Ack(0)));
            for (int i = 1; i <= steps; ++i)
                QCOMPARE(first.Exchange(Data(i, content.mid((i - 1) * 512, 512))),
                         std::optional<QByteArray>(Ack(i)));
        } else {
            QCOMPARE(first.Request(MakeRequest(1, "x", "octet")),
                     std::optional<QByteArray>(Data(1, content.left(512))));
            for (int i = 1; i <= steps; ++i)
                QCOMPARE(first.Exchange(Ack(i)),
                         std::optional<QByteArray>(Data(i + 1, content.mid(i * 512, 512))));
        }

        RawClient second(server.nPort);
        QCOMPARE(second.Request(MakeRequest(opcode, name, "octet")),
                 std::optional<QByteArray>(answer));
        const bool bRefused = answer.startsWith(QByteArray("\0\5", 2));
        QCOMPARE(server.Session(2)->IsActive(), !bRefused);
        if (!storing && !bRefused) {
            // A second reader gets the whole file alongside the first.
            QByteArray received = answer.mid(4);
            for (unsigned nBlock = 1; nBlock <= 2; ++nBlock) {
                auto packet = second.Exchange(Ack(nBlock));
                QVERIFY(packet);
                received += packet->mid(4);
            }
            QCOMPARE(received, content);
            second.Send(Ack(3));
        }

        // The first session goes on unharmed to its end.
        if (storing) {
            for (int i = steps + 1; i <= 3; ++i)
                QCOMPARE(first.Exchange(Data(i, content.mid((i - 1) * 512, 512))),
                         std::optional<QByteArray>(Ack(i)));
        } else {
            QByteArray received = content.left(512 * (steps + 1));
            for (int i = steps + 1; i <= 2; ++i) {
                auto packet = first.Exchange(Ack(i));
                QVERIFY(packet);
                QCOMPARE(packet->left(4), Data(i + 1, {}));
                received += packet->mid(4);
            }
            QCOMPARE(received, content);
            first.Send(Ack(3));
        }
        PumpEvents(20);
        QCOMPARE(server.Session(1)->IsActive(), false);
        QCOMPARE(ReadFile(in + "x"), content);
        QCOMPARE(ReadFile(in + "x-copy"), kOld);

        // Ended, the transfer holds the file no more.
        QCOMPARE(ReadWhole(server.nPort, "x"), content);
        if (!storing) {
            RawClient third(server.nPort);
            QCOMPARE(third.Request(MakeRequest(2, "x", "octet")),
                     std::optional<QByteArray>(Ack(0)));
            third.Send(ErrorPacket(0, "changed my mind"));
            PumpEvents(20);
            QCOMPARE(ReadFile(in + "x"), content);
        }
    }

    void storeEmptiesTheFileOnlyWithItsFirstBlock_data() {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("zero-length store") << QByteArray("octet") << QByteArray();
        QTest::newRow("zero-length store, netascii") << QByteArray("netascii") << QByteArray();
        QTest::newRow("one short block") << QByteArray("octet") << Pattern(100);
        QTest::newRow("two full blocks, then an empty one") << QByteArray("octet") << Pattern(1024);
        QTest::newRow("three blocks") << QByteArray("octet") << Pattern(1100);
    }
    void storeEmptiesTheFileOnlyWithItsFirstBlock() {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, content);
        ServerFixture server;
        WriteFile(server.inDir + "x", kOld);
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(2, "x", mode)), std::optional<QByteArray>(Ack(0)));
        QCOMPARE(server.ReadIn("x"), kOld);
        const int nBlocks = int(content.size()) / 512 + 1;
        for (int i = 1; i <= nBlocks; ++i) {
            QCOMPARE(client.Exchange(Data(i, content.mid((i - 1) * 512, 512))),
                     std::optional<QByteArray>(Ack(i)));
            // Not a byte of the old file is left; what is on disk so far is
            // the start of the new one (the rest may still be buffered).
            const QByteArray disk = server.ReadIn("x");
            QVERIFY2(content.left(i * 512).startsWith(disk),
                     qPrintable(QString("%1 bytes on disk after block %2 are not the start of "
                                        "the stored file")
                                    .arg(disk.size())
                                    .arg(i)));
        }
        QCOMPARE(server.Session()->IsActive(), false);
        QVERIFY(QFileInfo(server.inDir + "x").exists());
        QCOMPARE(QFileInfo(server.inDir + "x").size(), content.size());
    }

    // The stored file is complete and closed as soon as its last ACK is out,
    // not when the slot is swept or reused: a client that has its ACK may
    // hand the file on at once.
    void storeClosesItsFileWithTheLastAck_data() {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<int>("blksize");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("one short block") << QByteArray("octet") << 512 << Pattern(100);
        QTest::newRow("an empty last block") << QByteArray("octet") << 512 << Pattern(1024);
        QTest::newRow("three blocks, netascii") << QByteArray("netascii") << 512 << Pattern(1100);
        QTest::newRow("zero-length store") << QByteArray("octet") << 512 << QByteArray();
        QTest::newRow("blocks of 1024") << QByteArray("octet") << 1024 << Pattern(2500);
    }
    void storeClosesItsFileWithTheLastAck() {
        QFETCH(QByteArray, mode);
        QFETCH(int, blksize);
        QFETCH(QByteArray, content);
        ServerFixture server;
        const QString path = server.inDir + "x";
        RawClient client(server.nPort);
        QList<QByteArray> options;
        if (blksize != 512)
            options = {"blksize", QByteArray::number(blksize)};
        QVERIFY(client.Request(MakeRequest(2, "x", mode, options)));
        const int nBlocks = int(content.size()) / blksize + 1;
        for (int i = 1; i <= nBlocks; ++i) {
            QCOMPARE(client.Exchange(Data(i, content.mid((i - 1) * blksize, blksize))),
                     std::optional<QByteArray>(Ack(i)));
            if (i < nBlocks)
                QCOMPARE(DescriptorsOn(path), 1); // open while the store goes on
        }
        // No sweep has run and the slot is still held.
        CClientSession* pSession = server.Session();
        QVERIFY(pSession);
        QCOMPARE(pSession->IsActive(), false);
        QVERIFY2(!pSession->m_pFile, "the file is still open after the last ACK");
        QCOMPARE(DescriptorsOn(path), 0);
        QCOMPARE(ReadFile(path), content);
    }

    // A read that fails in the middle of a file is reported, not sent as a
    // short block (which the client would take for the end of a complete
    // copy).
    void readFailureMidwayIsReported_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<int>("blksize");
        QTest::addColumn<int>("size");
        QTest::newRow("stream that cannot read, after block 1")
            << "stream" << QByteArray("octet") << 512 << 3000;
        QTest::newRow("reads fail under the stream, octet")
            << "descriptor" << QByteArray("octet") << 512 << 20000;
        QTest::newRow("reads fail under the stream, netascii")
            << "descriptor" << QByteArray("netascii") << 512 << 20000;
        QTest::newRow("reads fail under the stream, blocks of 8192")
            << "descriptor" << QByteArray("octet") << 8192 << 50000;
    }
    void readFailureMidwayIsReported() {
        QFETCH(QString, how);
        QFETCH(QByteArray, mode);
        QFETCH(int, blksize);
        QFETCH(int, size);
        const QByteArray kError0 = ErrorPacket(0, "Inconclusive system error");
        ServerFixture server;
        // Plain text without line ends reads alike in both modes.
        QByteArray content;
        for (int i = 0; content.size() < size; ++i)
            content += QByteArray::number(i % 10);
        server.WriteOut("f.txt", content);
        RawClient client(server.nPort);
        QList<QByteArray> options;
        if (blksize != 512)
            options = {"blksize", QByteArray::number(blksize)};
        auto packet = client.Request(MakeRequest(1, "f.txt", mode, options));
        if (blksize != 512) {
            QCOMPARE(packet,
                     std::optional<QByteArray>(Oack({"blksize", QByteArray::number(blksize)})));
            packet = client.Exchange(Ack(0));
        }
        QVERIFY(packet);
        QCOMPARE(*packet, Data(1, content.left(blksize)));

        CClientSession* pSession = server.Session();
        QVERIFY(pSession && pSession->m_pFile);
        const QByteArray path = QFile::encodeName(server.outDir + "f.txt");
        if (how == "stream") {
            // The same file, through a stream that was opened for writing only.
            const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
            QVERIFY(fd >= 0);
            FILE* pWriteOnly = ::fdopen(fd, "w");
            QVERIFY(pWriteOnly);
            std::fclose(pSession->m_pFile);
            pSession->m_pFile = pWriteOnly;
        } else {
            // The stream's descriptor now refuses to read: once what the
            // stream has buffered is used up, read() fails as on a bad disk.
            const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
            QVERIFY(fd >= 0);
            QVERIFY(::dup2(fd, ::fileno(pSession->m_pFile)) >= 0);
            ::close(fd);
        }

        // Blocks the stream still holds go out whole; then the failure is reported.
        QByteArray received = packet->mid(4);
        std::optional<QByteArray> last;
        for (unsigned nBlock = 1; nBlock <= unsigned(size / blksize) + 1; ++nBlock) {
            last = client.Exchange(Ack(nBlock));
            QVERIFY(last);
            if (last->left(4) != Data(nBlock + 1, {}))
                break;
            QCOMPARE(last->size(), 4 + blksize);
            received += last->mid(4);
        }
        QCOMPARE(last, std::optional<QByteArray>(kError0));
        QVERIFY(received.size() < content.size());
        QCOMPARE(received, content.left(received.size()));
        QCOMPARE(pSession->IsActive(), false);
        QVERIFY(!pSession->m_pFile);
        // Ended: a further ACK gets nothing.
        QCOMPARE(client.Exchange(Ack(unsigned(received.size() / blksize)), 200), std::nullopt);
    }

    void repeatedRequestNeverEmptiesTheStore_data() {
        QTest::addColumn<int>("stored"); // blocks stored when the request comes again
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("before the first block: ACK 0 again") << 0 << Ack(0);
        QTest::newRow("after the first block") << 1 << QByteArray();
        QTest::newRow("after the store ended") << 3 << QByteArray();
    }
    void repeatedRequestNeverEmptiesTheStore() {
        QFETCH(int, stored);
        QFETCH(QByteArray, answer);
        ServerFixture server;
        WriteFile(server.inDir + "x", kOld);
        const QByteArray content = Pattern(1100); // blocks of 512, 512 and 76
        const QByteArray request = MakeRequest(2, "x", "octet");
        RawClient client(server.nPort);
        QCOMPARE(client.Request(request), std::optional<QByteArray>(Ack(0)));
        for (int i = 1; i <= stored; ++i)
            QCOMPARE(client.Exchange(Data(i, content.mid((i - 1) * 512, 512))),
                     std::optional<QByteArray>(Ack(i)));
        const QByteArray before = server.ReadIn("x");

        // The same request from the same port: the slot is still held (no
        // sweep has run), so no second session may open the file.
        const auto reply = client.Request(request, 200);
        QCOMPARE(reply, answer.isEmpty() ? std::nullopt : std::optional<QByteArray>(answer));
        QVERIFY2(server.Session(2) == nullptr, "the repeated request opened a second session");
        QCOMPARE(server.ReadIn("x"), before);

        for (int i = stored + 1; i <= 3; ++i)
            QCOMPARE(client.Exchange(Data(i, content.mid((i - 1) * 512, 512))),
                     std::optional<QByteArray>(Ack(i)));
        QCOMPARE(server.Session()->IsActive(), false);
        QCOMPARE(server.ReadIn("x"), content);
    }

    void storeWithoutItsFirstBlockLeavesTheFile_data() {
        QTest::addColumn<QString>("after"); // what follows the server's ACK 0
        QTest::newRow("nothing: the sweep gives the store up") << "silence";
        QTest::newRow("the client's ERROR") << "error";
        QTest::newRow("DATA 2 out of turn") << "data2";
        QTest::newRow("DATA 1 from another port") << "stranger";
        QTest::newRow("DATA 1 larger than the block size") << "oversized";
    }
    void storeWithoutItsFirstBlockLeavesTheFile() {
        QFETCH(QString, after);
        TestClock clock(kStart);
        ServerFixture server;
        server.core.m_strTimeout = "30";
        WriteFile(server.inDir + "x", kOld);
        RawClient client(server.nPort);
        QCOMPARE(client.Request(MakeRequest(2, "x", "octet")), std::optional<QByteArray>(Ack(0)));
        if (after == "error") {
            client.Send(ErrorPacket(0, "cancelled"));
        } else if (after == "data2") {
            client.Send(Data(2, "late"));
        } else if (after == "stranger") {
            UdpPeer stranger;
            stranger.SendTo(client.nSessionPort, Data(1, "evil"));
            QCOMPARE(stranger.Receive(), std::optional<QByteArray>(kError5));
        } else if (after == "oversized") {
            client.Send(Data(1, Pattern(513)));
        }
        QCOMPARE(client.Next(150), std::nullopt);
        QCOMPARE(server.ReadIn("x"), kOld);

        // Sent its ACK again five times, then given up.
        for (int i = 1; i <= 6; ++i) {
            CTime::SetTestTime(kStart + 31 * i);
            server.pListener->SweepSessions();
        }
        QVERIFY(server.Session() == nullptr);
        QCOMPARE(server.ReadIn("x"), kOld);
        // And served as it was.
        server.core.m_strOutPath = server.core.m_strInPath;
        QCOMPARE(ReadWhole(server.nPort, "x"), kOld);
    }
};

QTEST_GUILESS_MAIN(TestSessionFiles)
#include "tst_session_files.moc"
