#include "AsyncSocket.h"
#include "Window.h"

#include <QtTest>

using tftp::Arrival;

Q_DECLARE_METATYPE(Arrival)

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { CAsyncSocket::SetBufferSizeHook(nullptr); }

    // Which block an ACK confirms among those in flight (after nAcked, at
    // most a window, up to nLast), wire numbers wrapping after 65535.
    void confirmedBlock_data() {
        QTest::addColumn<unsigned>("wire");
        QTest::addColumn<qulonglong>("acked");
        QTest::addColumn<qulonglong>("last");
        QTest::addColumn<int>("window");
        QTest::addColumn<qulonglong>("expected");
        auto row = [](const char* name, unsigned w, qulonglong a, qulonglong l, int n,
                      qulonglong e) { QTest::newRow(name) << w << a << l << n << e; };
        row("inside the window", 3, 0, 4, 4, 3);
        row("the window's last", 4, 0, 4, 4, 4);
        row("the ACK before: a duplicate", 0, 0, 4, 4, 0);
        row("confirmed already", 2, 2, 6, 4, 0);
        row("beyond what is out", 5, 0, 4, 4, 0);
        row("nothing in flight", 1, 4, 4, 4, 0);
        row("past 65535: wire 0", 0, 65530, 65540, 16, 65536);
        row("past 65535: wire 4", 4, 65530, 65540, 16, 65540);
        row("before 65536: wire 65535", 65535, 65530, 65540, 16, 65535);
        row("lock-step: the block out", 4464, 0, 70000, 1, 70000);
        row("lock-step: the one before", 4463, 0, 70000, 1, 0);
    }
    void confirmedBlock() {
        QFETCH(unsigned, wire);
        QFETCH(qulonglong, acked);
        QFETCH(qulonglong, last);
        QFETCH(int, window);
        QFETCH(qulonglong, expected);
        QCOMPARE(qulonglong(tftp::ConfirmedBlock(wire, acked, last, window)), expected);
    }

    void classifyBlock_data() {
        QTest::addColumn<unsigned>("wire");
        QTest::addColumn<qulonglong>("have");
        QTest::addColumn<Arrival>("arrival");
        QTest::addColumn<qulonglong>("wide");
        QTest::newRow("the next") << 1u << 0ull << Arrival::Next << 1ull;
        QTest::newRow("a gap") << 5u << 3ull << Arrival::Ahead << 5ull;
        QTest::newRow("the last held again") << 3u << 3ull << Arrival::Earlier << 3ull;
        QTest::newRow("next past 65535") << 0u << 65535ull << Arrival::Next << 65536ull;
        QTest::newRow("held, before the wrap")
            << 65535u << 65536ull << Arrival::Earlier << 65535ull;
        QTest::newRow("a gap past the wrap") << 2u << 65536ull << Arrival::Ahead << 65538ull;
        QTest::newRow("older than the transfer") << 65535u << 0ull << Arrival::Earlier << 0ull;
    }
    void classifyBlock() {
        QFETCH(unsigned, wire);
        QFETCH(qulonglong, have);
        QFETCH(Arrival, arrival);
        QFETCH(qulonglong, wide);
        uint64_t nWide = 99;
        QCOMPARE(tftp::ClassifyBlock(wire, have, &nWide), arrival);
        QCOMPARE(qulonglong(nWide), wide);
    }

    // The window fits what the system grants the socket buffer, which is
    // raised for it and never lowered.
    void fitWindow_data() {
        QTest::addColumn<int>("granted"); // the most the system grants; 0: it refuses
        QTest::addColumn<int>("window");
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<int>("expected");
        QTest::newRow("room for all") << 1 << 16 << 512 << 16;
        QTest::newRow("cut to what fits") << 50000 << 64 << 512 << 32;
        QTest::newRow("big blocks, one fits") << 70000 << 16 << 65464 << 1;
        QTest::newRow("lock-step asks nothing") << 0 << 1 << 512 << 1;
        QTest::newRow("the socket refuses") << 0 << 16 << 512 << 0;
    }
    void fitWindow() {
        QFETCH(int, granted);
        QFETCH(int, window);
        QFETCH(int, blockSize);
        QFETCH(int, expected);
        CAsyncSocket::SetBufferSizeHook([granted](int, int nRequested, int* pGranted) {
            if (granted == 0)
                return false;
            // 1: whatever is asked; a default of 8 KiB when nothing was.
            *pGranted = nRequested == 0 ? 8192
                        : granted == 1  ? nRequested
                                        : std::min(nRequested, granted);
            return true;
        });
        CAsyncSocket socket;
        QVERIFY(socket.Create(0, SOCK_DGRAM, 0, "127.0.0.1"));
        QCOMPARE(tftp::FitWindow(socket, SO_SNDBUF, window, blockSize), expected);
    }
};

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
