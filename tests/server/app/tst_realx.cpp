// The server's windows on a real X server with a window manager: what the
// offscreen platform cannot show (activation, focus, window frames).
#include "AppSetup.h"
#include "ListenSocket.h"
#include "MainFrame.h"
#include "NotifyDialogs.h"
#include "WharfApp.h"
#include "WharfView.h"

#include <QApplication>
#include <QWindow>
#include <QtTest>

namespace {
// Until the window manager has made w the active window.
bool WaitActive(QWidget* w, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (QApplication::activeWindow() == w)
            return true;
        QTest::qWait(20);
    }
    return false;
}
} // namespace

class TestRealX : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QString("xcb")); }

    // The user minimises the frame, a client arrives and its alert takes the
    // focus, then the user brings the frame back, as a click on its taskbar
    // entry does. The alert goes; the program, and the transfer, go on.
    void restoringTheFrameWhileTheAlertIsActive_data() {
        QTest::addColumn<bool>("hiddenFirst");
        QTest::newRow("alert showing") << false;
        QTest::newRow("alert hidden by a click") << true;
    }
    void restoringTheFrameWhileTheAlertIsActive() {
        QFETCH(bool, hiddenFirst);
        AppSetup setup;
        setup.Write("out/image.bin", QByteArray(3000, 'r'));
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CMainFrame* pFrame = app.MainFrame();
        QVERIFY(WaitActive(pFrame));
        pFrame->showMinimized();
        QTRY_VERIFY(pFrame->isMinimized());

        UdpPeer client;
        client.SendTo(setup.nPort, MakeRequest(1, "image.bin", "octet"));
        uint16_t nSession = 0;
        const auto block1 = client.Receive(2000, &nSession);
        QVERIFY(block1 && block1->size() == 4 + 512);
        QPointer<CClientAlert> pAlert = app.View()->Alert();
        QVERIFY(pAlert);
        QTRY_VERIFY(pAlert->isVisible());
        pAlert->activateWindow();
        QVERIFY(WaitActive(pAlert));
        if (hiddenFirst) {
            QTest::mouseClick(pAlert, Qt::LeftButton, {}, QPoint(5, 5));
            QTRY_VERIFY(!pAlert->isVisible());
        }

        pFrame->showNormal();
        pFrame->activateWindow();
        QVERIFY(WaitActive(pFrame));
        QTRY_VERIFY(!pAlert);
        QVERIFY(!app.View()->Alert());

        // Still serving: the rest of the file arrives.
        qsizetype nBytes = block1->size() - 4;
        QByteArray ack("\0\4\0\0", 4);
        for (int nBlock = 1; nBlock < 6; ++nBlock) {
            ack[3] = char(nBlock);
            client.SendTo(nSession, ack);
            const auto block = client.Receive();
            QVERIFY(block && block->at(3) == char(nBlock + 1));
            nBytes += block->size() - 4;
        }
        QCOMPARE(nBytes, 3000);
    }
};

QTEST_MAIN(TestRealX)
#include "tst_realx.moc"
