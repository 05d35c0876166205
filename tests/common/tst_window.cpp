#include "AsyncSocket.h"
#include "Window.h"

#include <QtTest>

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { CAsyncSocket::SetBufferSizeHook(nullptr); }

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
