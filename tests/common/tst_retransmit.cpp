#include "Clock.h"
#include "Retransmit.h"

#include <QElapsedTimer>
#include <QtTest>

using tftp::RetransmitInterval;

class TestRetransmit : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { SetTestTickCount(std::nullopt); }

    // Events in milliseconds: S a new packet sent, K a new ACK sent, R the
    // same packet sent again, A the peer's answer.
    void interval_data() {
        QTest::addColumn<QString>("events");
        QTest::addColumn<unsigned>("cap");
        QTest::addColumn<unsigned>("expected");
        QString steady, spike;
        for (int i = 0; i < 10; ++i)
            steady += QString("S%1 A%2 ").arg(i * 100).arg(i * 100 + 100);
        for (int i = 0; i < 5; ++i)
            spike += QString("S%1 A%2 ").arg(i * 100).arg(i * 100 + 100);
        QTest::newRow("nothing measured yet") << "S0" << 0u << 1000u;
        QTest::newRow("first sample: itself and twice its half") << "S0 A100 S100" << 0u << 300u;
        QTest::newRow("steady link: the variation fades") << steady + "S1000" << 0u << 116u;
        QTest::newRow("a spike widens it") << spike + "S500 A1500 S1500" << 0u << 1160u;
        QTest::newRow("Karn: no sample from a packet sent twice")
            << "S0 R1000 A1100 S1100" << 0u << 1000u;
        QTest::newRow("each retransmission doubles") << "S0 A100 S100 R400 R1000" << 0u << 1200u;
        QTest::newRow("a new packet goes back to the estimate")
            << "S0 A100 S100 R400 R1000 A1200 S1200" << 0u << 300u;
        QTest::newRow("floor on a fast link") << "S0 A0 S0" << 0u << 50u;
        QTest::newRow("an answer before the send counts for nothing")
            << "S100 A50 S50" << 0u << 1000u;
        QTest::newRow("ceiling") << "S0 R1 R2 R3 R4 R5 R6 R7 R8 R9 R10 R11" << 0u << 60000u;
        QTest::newRow("the peer's time-out caps the first wait") << "S0" << 200u << 200u;
        QTest::newRow("... and the estimate") << "S0 A100 S100" << 200u << 200u;
        QTest::newRow("... and the doubling") << "S0 R1 R2 R3" << 1000u << 1000u;
        QTest::newRow("... but not a shorter wait") << "S0 A10 S10" << 1000u << 50u;
        QTest::newRow("an ACK goes again soon") << "S0 A0 K0" << 0u << 50u;
        QTest::newRow("... then patiently") << "S0 A0 K0 R50" << 0u << 8000u;
        QTest::newRow("... and doubling") << "S0 A0 K0 R50 R8050" << 0u << 16000u;
        QTest::newRow("... within the peer's time-out") << "S0 A0 K0 R50" << 1000u << 1000u;
    }
    void interval() {
        QFETCH(QString, events);
        QFETCH(unsigned, cap);
        QFETCH(unsigned, expected);
        RetransmitInterval interval;
        interval.SetCapMs(cap);
        for (const QString& event : events.split(' ', Qt::SkipEmptyParts)) {
            const unsigned long long nAt = event.mid(1).toULongLong();
            switch (event.at(0).toLatin1()) {
            case 'S':
                interval.Sent(nAt);
                break;
            case 'K':
                interval.Sent(nAt, true);
                break;
            case 'R':
                interval.Resent(nAt);
                break;
            default:
                interval.Answered(nAt);
                break;
            }
        }
        QCOMPARE(interval.CurrentMs(), expected);
    }

    // On the test clock the timer fires when the clock reaches its time, no
    // sooner, once, and not at all once stopped; armed on the real clock, it
    // keeps what it had left to wait when the test clock takes over.
    void timerOnTheTestClock() {
        SetTestTickCount(1000);
        int nDue = 0;
        tftp::CRetransmitTimer timer([&] { ++nDue; });
        timer.Sent();
        QCOMPARE(timer.DueAt(), 2000ull);
        AdvanceTestTickCount(999);
        QCOMPARE(nDue, 0);
        AdvanceTestTickCount(1);
        QCOMPARE(nDue, 1);
        QCOMPARE(timer.DueAt(), 0ull);
        timer.Sent();
        timer.Stop();
        AdvanceTestTickCount(5000);
        QCOMPARE(nDue, 1);
        SetTestTickCount(std::nullopt);
        timer.Sent();
        SetTestTickCount(100);
        QVERIFY(timer.DueAt() > 100 && timer.DueAt() <= 1100);
        SetTestTickCount(1100);
        QCOMPARE(nDue, 2);
    }

    // On the real clock a timer armed again for later does not go off at the
    // earlier time, and a stopped one never does.
    void timerOnTheRealClock() {
        QElapsedTimer clock;
        qint64 nFiredAt = -1;
        CTimer timer([&] { nFiredAt = clock.elapsed(); });
        clock.start();
        timer.Start(30);
        QTest::qWait(10);
        timer.Start(80);
        for (int i = 0; i < 100 && nFiredAt < 0; ++i)
            QTest::qWait(10);
        QVERIFY2(nFiredAt >= 90, qPrintable(QString::number(nFiredAt)));
        nFiredAt = -1;
        timer.Start(20);
        timer.Stop();
        QTest::qWait(60);
        QCOMPARE(nFiredAt, -1);
    }
};

QTEST_GUILESS_MAIN(TestRetransmit)
#include "tst_retransmit.moc"
