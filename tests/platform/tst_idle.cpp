#include "Idle.h"
#include "TestSupport.h"

#include <sys/resource.h>

#include <QtTest>

namespace {
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Waits in a real event loop (not a busy pump), as the program does.
void RunLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
} // namespace

class TestIdle : public QObject {
    Q_OBJECT
private slots:
    void countGrowsWhileMoreIsWantedAndRestartsAfterAMessage() {
        QList<long> counts;
        CIdleDriver driver([&](long lCount) {
            counts << lCount;
            return lCount < 5;
        });
        RunLoopFor(100);
        QCOMPARE(counts, QList<long>({0, 1, 2, 3, 4, 5}));
        counts.clear();
        QTimer::singleShot(0, [] {}); // any message
        RunLoopFor(100);
        QCOMPARE(counts, QList<long>({0, 1, 2, 3, 4, 5}));
    }

    void noCallsOnceTheHandlerWantsNoMore() {
        int nCalls = 0;
        CIdleDriver driver([&](long) {
            ++nCalls;
            return false;
        });
        RunLoopFor(300);
        QCOMPARE(nCalls, 1);
    }

    void waitingCostsNoCpuAndChecksStillRun() {
        // A handler that wants idle time for ever, like a transfer waiting on a
        // silent peer, checking its time-out in counts with bit 0x40 set.
        QElapsedTimer clock;
        clock.start();
        QList<qint64> checks;
        CIdleDriver driver([&](long lCount) {
            if (lCount & 0x40)
                checks << clock.elapsed();
            return true;
        });
        // Another program timer that keeps sending messages.
        QTimer other;
        other.start(1000);
        double cpuBefore = CpuSeconds();
        RunLoopFor(4000);
        double cpuUsed = CpuSeconds() - cpuBefore;
        QVERIFY2(cpuUsed < 0.04, qPrintable(QString("cpu %1 s in 4 s").arg(cpuUsed)));
        QVERIFY(!checks.isEmpty());
        qint64 previous = 0;
        for (qint64 t : checks) {
            QVERIFY2(t - previous <= 2000, qPrintable(QString("gap %1 ms").arg(t - previous)));
            previous = t;
        }
        QVERIFY(clock.elapsed() - checks.last() <= 2000);
    }

    // A transfer's datagrams arrive far more often than the pause: each is
    // owed its one call (count 0) before the loop sleeps again, but none may
    // start a burst early, or the program polls between every two blocks.
    void messagesGetOneCallEachAndNeverCutThePauseShort_data() {
        QTest::addColumn<int>("nEveryMs"); // between two messages
        QTest::newRow("every 2 ms") << 2;
        QTest::newRow("every 20 ms") << 20;
    }
    void messagesGetOneCallEachAndNeverCutThePauseShort() {
        QFETCH(int, nEveryMs);
        QElapsedTimer clock;
        clock.start();
        long nZeroCalls = 0;
        long nBurstCalls = 0;
        CIdleDriver driver([&](long lCount) {
            if (lCount == 0)
                ++nZeroCalls;
            else
                ++nBurstCalls;
            return true;
        });
        int nMessages = 0;
        QTimer sender;
        QObject::connect(&sender, &QTimer::timeout, [&] { ++nMessages; });
        sender.start(nEveryMs);
        RunLoopFor(1000);
        sender.stop();
        const qint64 nElapsed = clock.elapsed();
        QVERIFY2(nZeroCalls >= nMessages / 2,
                 qPrintable(QString("%1 calls for %2 messages").arg(nZeroCalls).arg(nMessages)));
        QVERIFY2(nZeroCalls <= nMessages + nElapsed / CIdleDriver::kPauseMs + 2,
                 qPrintable(QString("%1 calls for %2 messages").arg(nZeroCalls).arg(nMessages)));
        const long nBursts = nElapsed / CIdleDriver::kPauseMs + 2;
        QVERIFY2(nBurstCalls <= nBursts * CIdleDriver::kBurst,
                 qPrintable(QString("%1 burst calls in %2 ms").arg(nBurstCalls).arg(nElapsed)));
    }
};

QTEST_GUILESS_MAIN(TestIdle)
#include "tst_idle.moc"
