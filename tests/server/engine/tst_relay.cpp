// Real TFTP clients over a lossy network (the relay) against our server
// engine and against tftpd-hpa, counting how often a transfer ends with the
// file byte-exact, how often it fails, and how often a client is told
// "done" while the file is wrong.
#include "Relay.h"
#include "ServerFixture.h"

#include <arpa/inet.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <random>

namespace {
struct Condition {
    const char* name;
    Relay::Faults faults;
};
const Condition kConditions[] = {
    {"1% loss", {0.01, 0, 0}},
    {"5% loss", {0.05, 0, 0}},
    {"5% duplication", {0, 0.05, 0}},
    {"10% held back", {0, 0, 0.10}},
};
constexpr int kConditionCount = int(std::size(kConditions));

const char* const kClients[] = {"curl", "tftp-hpa", "atftp"};
constexpr int kClientCount = int(std::size(kClients));
const char* const kServers[] = {"ours", "tftpd-hpa"};

// Runs per cell (condition x client x direction x server). Enough to tell a
// server that recovers from one that stalls, few enough for about four
// minutes in all; RELAY_RUNS and RELAY_SEED change them for a longer look
// or to replay a failure; RELAY_FILTER keeps only the runs whose description
// holds it ("seed 20246611", "atftp store"), and RELAY_TRACE prints every
// datagram.
constexpr int kDefaultRuns = 6;
constexpr uint32_t kDefaultSeed = 20240611;
// A client run is killed after this; a transfer that recovers from its
// losses one second each ends long before it.
constexpr int kRunLimitMs = 30000;
// Everything is given up after this, so the program ends within its time.
constexpr int kCampaignLimitMs = 230000;
// Clients at once per server: they mostly wait. Our server has five slots,
// one left for a repeated request that takes a second one for a while.
constexpr int kParallel = 4;

enum class Outcome { NotRun, Succeeded, Failed, WrongFile };

struct Run {
    int nCondition = 0;
    int nClient = 0;
    bool bGet = true;
    int nServer = 0; // 0: ours, 1: tftpd-hpa
    int nRun = 0;
    uint32_t nSeed = 0;
    QByteArray content;
    QString remote;
    std::unique_ptr<QTemporaryDir> pDir;
    std::unique_ptr<Relay> pRelay;
    std::unique_ptr<QProcess> pProcess;
    QTimer limit;
    QElapsedTimer clock;
    bool bKilled = false;

    Outcome outcome = Outcome::NotRun;
    qint64 nMs = 0;
    Relay::Counts counts;
    QString output;

    QString Local() const { return pDir->path() + "/local.bin"; }
    QString Describe() const {
        return QString("%1, %2 %3, %4, run %5, seed %6")
            .arg(kConditions[nCondition].name, kClients[nClient], bGet ? "fetch" : "store",
                 kServers[nServer])
            .arg(nRun)
            .arg(nSeed);
    }
};

QByteArray RandomBytes(uint32_t nSeed) {
    std::mt19937 random(nSeed ^ 0x5EEDF11Eu);
    // 16 to 48 KiB; every third run ends on a full block, so the empty
    // closing block is lost and repeated too.
    qsizetype nSize = 16384 + qsizetype(random() % 32768);
    if (nSeed % 3 == 0)
        nSize -= nSize % 512;
    QByteArray bytes(nSize, '\0');
    for (char& c : bytes)
        c = char(random() & 0xFF);
    return bytes;
}

// Each client with its retransmission cut to about a second, so a lost
// datagram costs one second and not five.
QStringList ClientCommand(const Run& run, uint16_t nPort, QByteArray* pStdin) {
    const QString port = QString::number(nPort);
    const QString client = kClients[run.nClient];
    if (client == "curl") {
        // curl has no retransmission knob of its own: it asks the server for
        // a time-out of a third of its connect time-out (one second here),
        // and repeats itself only every five to six seconds, its --max-time
        // split into five tries. So a loss costs a second with a server that
        // retransmits, as curl relies on it.
        QStringList command{"curl", "-sS", "--tftp-blksize", "512", "--connect-timeout", "3"};
        command << "--max-time" << QString::number(kRunLimitMs / 1000 - 2);
        return command << (run.bGet ? "-o" : "-T") << run.Local()
                       << "tftp://127.0.0.1:" + port + "/" + run.remote;
    }
    if (client == "tftp-hpa") {
        // rexmt is the wait before each retransmission, timeout the total
        // for one datagram before giving up.
        *pStdin = "verbose\nmode octet\nrexmt 1\ntimeout 10\n" +
                  (run.bGet ? "get " + run.remote.toLatin1() + " " + run.Local().toLocal8Bit()
                            : "put " + run.Local().toLocal8Bit() + " " + run.remote.toLatin1()) +
                  "\nquit\n";
        return {"tftp", "127.0.0.1", port};
    }
    QStringList command{"atftp",     "--tftp-timeout", "1",          "--option",
                        "timeout 1", "--option",       "blksize 512"};
    if (run.bGet)
        command << "--option"
                << "tsize 0";
    return command +
           QStringList{
               run.bGet ? "-g" : "-p", "-r", run.remote, "-l", run.Local(), "127.0.0.1", port};
}

// tftp-hpa exits with 0 whatever happened; it says how it went.
bool ClientReportsSuccess(const Run& run, const QProcess& process) {
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    if (QString(kClients[run.nClient]) != "tftp-hpa")
        return true;
    return run.output.contains(run.bGet ? "Received " : "Sent ") &&
           !run.output.contains("Error code") && !run.output.contains("timed out");
}

struct Tally {
    int nRuns = 0;
    int nSucceeded = 0;
    int nWrong = 0;
    qint64 nMs = 0;
    void Add(Outcome outcome, qint64 nRunMs) {
        if (outcome == Outcome::NotRun)
            return;
        ++nRuns;
        nMs += nRunMs;
        nSucceeded += outcome == Outcome::Succeeded;
        nWrong += outcome == Outcome::WrongFile;
    }
    QString Text() const {
        return QString("%1/%2").arg(nSucceeded).arg(nRuns) +
               (nWrong ? QString(" %1 WRONG").arg(nWrong) : QString());
    }
    QString Seconds() const {
        return nRuns ? QString::number(nMs / 1000.0 / nRuns, 'f', 1) : QString("-");
    }
};

// Runs every transfer against both servers, a few clients at a time each.
class Campaign {
public:
    Campaign(ServerFixture& ours, RealServer& theirs) : m_ours(ours), m_theirs(theirs) {}

    void Execute(std::vector<std::unique_ptr<Run>>& runs) {
        for (auto& pRun : runs)
            m_queue[pRun->nServer].push_back(pRun.get());
        QEventLoop loop;
        m_pLoop = &loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, [this] { GiveUp(); });
        deadline.start(kCampaignLimitMs);
        for (int nServer : {0, 1})
            StartNext(nServer);
        if (m_nRunning[0] + m_nRunning[1] > 0)
            loop.exec();
        m_pLoop = nullptr;
    }

private:
    uint16_t ServerPort(int nServer) const { return nServer == 0 ? m_ours.nPort : m_theirs.Port(); }

    void StartNext(int nServer) {
        while (m_nRunning[nServer] < kParallel && !m_queue[nServer].empty() && !m_bGivenUp) {
            Run* pRun = m_queue[nServer].front();
            m_queue[nServer].erase(m_queue[nServer].begin());
            Start(pRun);
        }
        if (m_nRunning[0] + m_nRunning[1] == 0 && m_pLoop)
            m_pLoop->quit();
    }

    void Start(Run* pRun) {
        pRun->pDir = std::make_unique<QTemporaryDir>();
        if (pRun->bGet) {
            if (pRun->nServer == 0)
                m_ours.WriteOut(pRun->remote, pRun->content);
            else
                m_theirs.Put(pRun->remote, pRun->content);
        } else {
            QFile file(pRun->Local());
            if (!file.open(QIODevice::WriteOnly) ||
                file.write(pRun->content) != pRun->content.size())
                qFatal("cannot write the local file");
        }
        pRun->pRelay = std::make_unique<Relay>(ServerPort(pRun->nServer),
                                               kConditions[pRun->nCondition].faults, pRun->nSeed);
        if (!pRun->pRelay->Ok())
            qFatal("the relay did not start");
        if (qEnvironmentVariableIsSet("RELAY_TRACE"))
            pRun->pRelay->SetTrace(QString("[%1]").arg(pRun->Describe()));
        QByteArray input;
        const QStringList command = ClientCommand(*pRun, pRun->pRelay->Port(), &input);
        pRun->pProcess = std::make_unique<QProcess>();
        QProcess* pProcess = pRun->pProcess.get();
        pProcess->setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(pProcess, &QProcess::finished, pProcess, [this, pRun] { Finish(pRun); });
        QObject::connect(pProcess, &QProcess::errorOccurred, pProcess,
                         [this, pRun](QProcess::ProcessError error) {
                             if (error == QProcess::FailedToStart)
                                 Finish(pRun);
                         });
        pRun->limit.setSingleShot(true);
        QObject::connect(&pRun->limit, &QTimer::timeout, pProcess, [pRun] {
            pRun->bKilled = true;
            pRun->pProcess->kill(); // finished follows
        });
        ++m_nRunning[pRun->nServer];
        pRun->clock.start();
        pRun->limit.start(kRunLimitMs);
        pProcess->start(command.first(), command.mid(1));
        if (!input.isEmpty()) {
            pProcess->write(input);
            pProcess->closeWriteChannel();
        }
    }

    void Finish(Run* pRun) {
        if (!pRun->pRelay)
            return; // reported twice
        pRun->limit.stop();
        pRun->nMs = pRun->clock.elapsed();
        pRun->output = QString::fromLocal8Bit(pRun->pProcess->readAll());
        pRun->counts = pRun->pRelay->Stats();
        // The client is gone; its session would keep a slot until its time
        // limit and retries ran out, which is not what this test measures and
        // would refuse the runs after it.
        if (pRun->nServer == 0)
            ReleaseSessions(pRun->pRelay->BackPorts());
        pRun->pRelay.reset();

        QByteArray result;
        if (pRun->bGet) {
            QFile file(pRun->Local());
            result = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
        } else {
            result = pRun->nServer == 0 ? m_ours.ReadIn(pRun->remote) : m_theirs.Get(pRun->remote);
        }
        const bool bReported = !pRun->bKilled &&
                               pRun->pProcess->error() != QProcess::FailedToStart &&
                               ClientReportsSuccess(*pRun, *pRun->pProcess);
        const bool bExact = result == pRun->content;
        pRun->outcome = !bReported ? Outcome::Failed
                        : bExact   ? Outcome::Succeeded
                                   : Outcome::WrongFile;
        pRun->pDir.reset();
        if (pRun->nServer == 0 && !pRun->bGet)
            QFile::remove(m_ours.inDir + pRun->remote);
        --m_nRunning[pRun->nServer];
        // The next client starts from the event loop, not from inside this
        // process's signal.
        QTimer::singleShot(0, m_pLoop, [this, nServer = pRun->nServer] { StartNext(nServer); });
    }

    void ReleaseSessions(const std::vector<uint16_t>& ports) {
        CListenSocket* pListener = m_ours.pListener;
        for (int i = 0; i < kSlots; ++i) {
            CClientSession* pSession = pListener->m_pSession[i];
            if (!pSession)
                continue;
            for (uint16_t nPort : ports)
                if (ntohs(pSession->m_peerAddr.sin_port) == nPort) {
                    pListener->ReleaseSlot(i);
                    break;
                }
        }
    }

    void GiveUp() {
        m_bGivenUp = true;
        for (int nServer : {0, 1})
            m_queue[nServer].clear();
        qWarning("the campaign passed its time limit; runs not started are left out");
        if (m_nRunning[0] + m_nRunning[1] == 0 && m_pLoop)
            m_pLoop->quit();
    }

    ServerFixture& m_ours;
    RealServer& m_theirs;
    std::vector<Run*> m_queue[2];
    int m_nRunning[2] = {0, 0};
    bool m_bGivenUp = false;
    QEventLoop* m_pLoop = nullptr;
};
} // namespace

class TestRelay : public QObject {
    Q_OBJECT

    std::vector<std::unique_ptr<Run>> m_runs;
    uint32_t m_nBaseSeed = kDefaultSeed;

    // Successes and wrong files over the runs that match.
    Tally Count(int nServer, int nCondition, int nClient = -1, int nGet = -1) const {
        Tally tally;
        for (const auto& pRun : m_runs)
            if (pRun->nServer == nServer && pRun->nCondition == nCondition &&
                (nClient < 0 || pRun->nClient == nClient) && (nGet < 0 || int(pRun->bGet) == nGet))
                tally.Add(pRun->outcome, pRun->nMs);
        return tally;
    }

    void PrintTable() const {
        std::printf("\nTransfers over the lossy relay, seed %u: succeeded/runs (WRONG: a wrong\n"
                    "file reported as done) and the mean time of a run in seconds.\n\n",
                    m_nBaseSeed);
        std::printf("%-15s %-9s %-6s %-10s %5s   %-10s %5s\n", "condition", "client", "way", "ours",
                    "s", "tftpd-hpa", "s");
        auto line = [this](int c, const char* client, const char* way, int k, int g) {
            const Tally ours = Count(0, c, k, g), theirs = Count(1, c, k, g);
            std::printf("%-15s %-9s %-6s %-10s %5s   %-10s %5s\n", kConditions[c].name, client, way,
                        qPrintable(ours.Text()), qPrintable(ours.Seconds()),
                        qPrintable(theirs.Text()), qPrintable(theirs.Seconds()));
        };
        for (int c = 0; c < kConditionCount; ++c) {
            for (int k = 0; k < kClientCount; ++k)
                for (int g : {1, 0})
                    line(c, kClients[k], g ? "fetch" : "store", k, g);
            line(c, "all", "", -1, -1);
            std::printf("\n");
        }
        std::fflush(stdout);
    }

    void PrintFailures() const {
        for (const auto& pRun : m_runs) {
            if (pRun->outcome == Outcome::Succeeded || pRun->outcome == Outcome::NotRun)
                continue;
            QString last = pRun->output.trimmed().split('\n').last().trimmed();
            std::printf("%s: %s after %lld ms%s (relay: %d passed, %d dropped, %d doubled, %d "
                        "held back) - %s\n",
                        qPrintable(pRun->Describe()),
                        pRun->outcome == Outcome::WrongFile ? "WRONG FILE reported as done"
                                                            : "failed",
                        pRun->nMs, pRun->bKilled ? ", killed" : "", pRun->counts.nForwarded,
                        pRun->counts.nDropped, pRun->counts.nDuplicated, pRun->counts.nDelayed,
                        qPrintable(last.left(120)));
        }
        std::fflush(stdout);
    }

private slots:
    void initTestCase() {
        for (const char* tool : {"curl", "tftp", "atftp"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QFAIL(qPrintable(
                    QString("%1 is not installed (tools/test.sh installs it)").arg(tool)));
        if (!QFile::exists(RealServer::kProgram))
            QFAIL("tftpd-hpa is not installed (tools/test.sh installs it)");
    }

    // The relay itself, on the wire: one back socket per client, one front
    // socket per server transfer port, refusals from the main front socket.
    void relayKeepsTransfersApart() {
        UdpPeer listener, session1, session2, client1, client2;
        Relay relay(listener.Port(), {}, 1);
        QVERIFY(relay.Ok());
        QVERIFY(client1.SendTo(relay.Port(), "request 1"));
        uint16_t nBack1 = 0, nBack2 = 0, nFrom = 0;
        QCOMPARE(listener.Receive(2000, &nBack1), QByteArray("request 1"));
        QVERIFY(client2.SendTo(relay.Port(), "request 2"));
        QCOMPARE(listener.Receive(2000, &nBack2), QByteArray("request 2"));
        QVERIFY(nBack1 != nBack2);
        QVERIFY(nBack1 != relay.Port() && nBack2 != relay.Port());

        // Each server transfer port shows up as a port of the relay's own.
        QVERIFY(session1.SendTo(nBack1, "data 1"));
        uint16_t nTid1 = 0, nTid2 = 0;
        QCOMPARE(client1.Receive(2000, &nTid1), QByteArray("data 1"));
        QVERIFY(session2.SendTo(nBack1, "data 2"));
        QCOMPARE(client1.Receive(2000, &nTid2), QByteArray("data 2"));
        QVERIFY(nTid1 != nTid2 && nTid1 != relay.Port() && nTid2 != relay.Port());
        QVERIFY(session1.SendTo(nBack1, "data 1 again"));
        QCOMPARE(client1.Receive(2000, &nFrom), QByteArray("data 1 again"));
        QCOMPARE(nFrom, nTid1);

        // The client's answers reach the matching server port, from its back socket.
        QVERIFY(client1.SendTo(nTid2, "ack 2"));
        QCOMPARE(session2.Receive(2000, &nFrom), QByteArray("ack 2"));
        QCOMPARE(nFrom, nBack1);
        QVERIFY(client1.SendTo(nTid1, "ack 1"));
        QCOMPARE(session1.Receive(2000, &nFrom), QByteArray("ack 1"));
        QCOMPARE(nFrom, nBack1);
        // A stranger at a transfer port is not passed on.
        QVERIFY(client2.SendTo(nTid1, "intruder"));
        QVERIFY(!session1.Receive(200));

        // A refusal from the listening port comes from the main front socket.
        QVERIFY(listener.SendTo(nBack2, "refused"));
        QCOMPARE(client2.Receive(2000, &nFrom), QByteArray("refused"));
        QCOMPARE(nFrom, relay.Port());
        QCOMPARE(relay.BackPorts().size(), size_t(2));
    }

    // The faults come at the rates asked for, and the same seed gives the
    // same faults.
    void relayFaultRates_data() {
        QTest::addColumn<double>("drop");
        QTest::addColumn<double>("duplicate");
        QTest::addColumn<double>("reorder");
        QTest::newRow("clean") << 0.0 << 0.0 << 0.0;
        QTest::newRow("10% loss") << 0.10 << 0.0 << 0.0;
        QTest::newRow("10% duplication") << 0.0 << 0.10 << 0.0;
        QTest::newRow("20% held back") << 0.0 << 0.0 << 0.20;
    }
    void relayFaultRates() {
        QFETCH(double, drop);
        QFETCH(double, duplicate);
        QFETCH(double, reorder);
        constexpr int kCount = 1000;
        Relay::Counts first;
        for (int nPass = 0; nPass < 2; ++nPass) {
            UdpPeer server, client;
            Relay relay(server.Port(), {drop, duplicate, reorder}, 77);
            QVERIFY(relay.Ok());
            QList<int> order;
            // In small bursts, each taken in before the next, so that no
            // socket buffer overflows and loses what the relay did not drop.
            for (int i = 0; i < kCount;) {
                for (int j = 0; j < 100; ++j, ++i)
                    QVERIFY(client.SendTo(relay.Port(), QByteArray::number(i)));
                while (auto datagram = server.Receive(40))
                    order << datagram->toInt();
            }
            while (auto datagram = server.Receive(300))
                order << datagram->toInt();
            const int nReceived = int(order.size());
            const Relay::Counts& counts = relay.Stats();
            QCOMPARE(counts.nDropped + counts.nForwarded, kCount);
            QCOMPARE(nReceived, counts.nForwarded + counts.nDuplicated);
            // Within four standard deviations or so of the rate asked for.
            auto near = [](int nSeen, double rate, int nOf) {
                const double mean = rate * nOf;
                return std::abs(nSeen - mean) <= 4 * std::sqrt(mean * (1 - rate)) + 1;
            };
            QVERIFY2(near(counts.nDropped, drop, kCount),
                     qPrintable(QString::number(counts.nDropped)));
            QVERIFY2(near(counts.nDuplicated, duplicate, counts.nForwarded),
                     qPrintable(QString::number(counts.nDuplicated)));
            QVERIFY2(near(counts.nDelayed, reorder, counts.nForwarded),
                     qPrintable(QString::number(counts.nDelayed)));
            const bool bInOrder = std::is_sorted(order.begin(), order.end());
            QCOMPARE(bInOrder, reorder == 0 && duplicate == 0);
            if (nPass == 0) {
                first = counts;
            } else {
                QCOMPARE(counts.nDropped, first.nDropped);
                QCOMPARE(counts.nDuplicated, first.nDuplicated);
                QCOMPARE(counts.nDelayed, first.nDelayed);
            }
        }
    }

    // Every condition, client and direction against both servers, with the
    // same seeds for both.
    void lossyTransfers() {
        int nRuns = kDefaultRuns;
        if (qEnvironmentVariableIsSet("RELAY_RUNS"))
            nRuns = qBound(1, qEnvironmentVariableIntValue("RELAY_RUNS"), 100);
        if (qEnvironmentVariableIsSet("RELAY_SEED"))
            m_nBaseSeed = uint32_t(qgetenv("RELAY_SEED").toULong());

        const QString filter = qEnvironmentVariable("RELAY_FILTER");

        ServerFixture ours(ServerFixture::Ticks::Real);
        // Sessions time out only through the sweep, as the program runs it.
        QTimer sweep;
        QObject::connect(&sweep, &QTimer::timeout, [&ours] { ours.pListener->SweepSessions(); });
        sweep.start(1000);
        RealServer theirs;
        QVERIFY(theirs.Running());

        // Round by round, so that a campaign cut short for time still has
        // about as many runs in every cell; the slowest condition first in
        // each round.
        const int kOrder[] = {1, 0, 2, 3};
        for (int r = 0; r < nRuns; ++r)
            for (int c : kOrder)
                for (int k = 0; k < kClientCount; ++k)
                    for (int g : {1, 0})
                        for (int s : {0, 1}) {
                            auto pRun = std::make_unique<Run>();
                            pRun->nCondition = c;
                            pRun->nClient = k;
                            pRun->bGet = g;
                            pRun->nServer = s;
                            pRun->nRun = r;
                            pRun->nSeed =
                                m_nBaseSeed + uint32_t(((c * kClientCount + k) * 2 + g) * 1000 + r);
                            pRun->content = RandomBytes(pRun->nSeed);
                            pRun->remote = QString("relay-%1-%2-%3-%4.bin")
                                               .arg(c)
                                               .arg(kClients[k])
                                               .arg(g ? "fetch" : "store")
                                               .arg(r);
                            if (!filter.isEmpty() && !pRun->Describe().contains(filter))
                                continue;
                            m_runs.push_back(std::move(pRun));
                        }
        QElapsedTimer clock;
        clock.start();
        Campaign(ours, theirs).Execute(m_runs);
        PrintFailures();
        PrintTable();
        std::printf("%zu runs in %.1f s\n", m_runs.size(), clock.elapsed() / 1000.0);
        std::fflush(stdout);
        int nNotRun = 0;
        for (const auto& pRun : m_runs)
            nNotRun += pRun->outcome == Outcome::NotRun;
        QVERIFY2(nNotRun * 10 < int(m_runs.size()),
                 qPrintable(QString("%1 runs left out for time").arg(nNotRun)));
    }

    // A wrong file reported as done is the one failure a client cannot
    // notice, so our server must never cause it, under any condition.
    void ourServerNeverReportsWrongFile_data() {
        QTest::addColumn<int>("nCondition");
        for (int c = 0; c < kConditionCount; ++c)
            QTest::newRow(kConditions[c].name) << c;
    }
    void ourServerNeverReportsWrongFile() {
        QFETCH(int, nCondition);
        if (m_runs.empty())
            QSKIP("no transfers were run");
        QVERIFY2(
            Count(0, nCondition).nWrong == 0,
            qPrintable(QString("%1 (seed %2)").arg(Count(0, nCondition).Text()).arg(m_nBaseSeed)));
    }

    // Our server recovers at least as often as tftpd-hpa, per condition,
    // summed over clients and directions: a cell has six runs, and one
    // unlucky loss tips it. Even the sums move between campaigns with the
    // same seeds (tftpd-hpa: 32 to 34 of 36 at 5% loss, 34 to 36 at 5%
    // duplication), from the clients' own quirks that land on either server
    // by timing: curl losing its place on a late doubled ACK or running out
    // of --max-time, atftp giving up when its OACK is lost. So two runs in
    // 36 are let go; a server that stalls after a loss falls short by many
    // more.
    void ourServerAtLeastAsReliable_data() { ourServerNeverReportsWrongFile_data(); }
    void ourServerAtLeastAsReliable() {
        QFETCH(int, nCondition);
        if (m_runs.empty())
            QSKIP("no transfers were run");
        const Tally ours = Count(0, nCondition);
        const Tally theirs = Count(1, nCondition);
        const int nAllowance = qMax(2, theirs.nRuns / 18);
        QVERIFY2(ours.nSucceeded + nAllowance >= theirs.nSucceeded,
                 qPrintable(QString("ours %1, tftpd-hpa %2 (seed %3)")
                                .arg(ours.Text(), theirs.Text())
                                .arg(m_nBaseSeed)));
    }
};

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
