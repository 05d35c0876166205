// The server's windows on a real X server with a window manager: what the
// offscreen platform cannot show (activation, focus, window frames).
#include "AppSetup.h"
#include "ListenSocket.h"
#include "MainFrame.h"
#include "NotifyDialogs.h"
#include "WharfApp.h"
#include "WharfView.h"

#include "AddressDialogs.h"
#include "GuiMessageBox.h"
#include "MessageBox.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>
#include <QtTest>

// On a busy machine the window manager may take seconds to frame, activate
// or minimise a window.
constexpr int kManagerWait = 20000;

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
        QVERIFY(QTest::qWaitForWindowActive(pFrame, kManagerWait));
        pFrame->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(pFrame->isMinimized(), kManagerWait);

        UdpPeer client;
        client.SendTo(setup.nPort, MakeRequest(1, "image.bin", "octet"));
        uint16_t nSession = 0;
        const auto block1 = client.Receive(2000, &nSession);
        QVERIFY(block1 && block1->size() == 4 + 512);
        QPointer<CClientAlert> pAlert = app.View()->Alert();
        QVERIFY(pAlert);
        QTRY_VERIFY_WITH_TIMEOUT(pAlert->isVisible(), kManagerWait);
        pAlert->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(pAlert, kManagerWait));
        if (hiddenFirst) {
            QTest::mouseClick(pAlert, Qt::LeftButton, {}, QPoint(5, 5));
            QTRY_VERIFY_WITH_TIMEOUT(!pAlert->isVisible(), kManagerWait);
        }

        pFrame->showNormal();
        pFrame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(pFrame, kManagerWait));
        QTRY_VERIFY_WITH_TIMEOUT(!pAlert, kManagerWait);
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

    // Under a window manager the caption shows in full. openbox draws it in
    // its theme's font (8 points, bold, at the X server's resolution) beside
    // the icon and three buttons; it cuts the caption once the frame is less
    // than about 5 bar heights wider than the text.
    void captionsShowInFull_data() {
        QTest::addColumn<QString>("window");
        QTest::newRow("server's multihomed dialog") << "multihomed server";
        QTest::newRow("client's multihomed dialog") << "multihomed client";
        QTest::newRow("new-client alert") << "alert";
        QTest::newRow("message box with a short text") << "message box";
    }
    void captionsShowInFull() {
        QFETCH(QString, window);
        const QStringList addresses{"127.0.0.1", "127.0.0.2"};
        if (window == "message box") {
            const QString previousTitle = AppTitle();
            SetAppTitle("Skiffer Client");
            InstallGuiMessageBox();
            bool bChecked = false;
            QTimer::singleShot(0, this, [&] {
                QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget(), kManagerWait);
                QWidget* pBox = QApplication::activeModalWidget();
                CheckCaption(pBox);
                bChecked = true;
                pBox->close();
            });
            AfxMessageBox("File already exists\n\nOverwrite it ?", MB_YESNO | MB_ICONQUESTION);
            SetMessageBoxHandler(nullptr);
            SetAppTitle(previousTitle);
            QVERIFY(bChecked);
            return;
        }
        std::unique_ptr<QWidget> pWindow;
        if (window == "alert") {
            auto* pAlert = new CClientAlert;
            pWindow.reset(pAlert);
            pAlert->ShowAlert("127.0.0.1");
        } else {
            pWindow = std::make_unique<CMultihomedDlg>(
                addresses, window.endsWith("server") ? AddressRole::Server : AddressRole::Client);
            pWindow->show();
        }
        CheckCaption(pWindow.get());
    }

private:
    // The frame is wide enough for its caption in openbox's font (Sans 8
    // bold at the screen's resolution) beside the icon and buttons.
    void CheckCaption(QWidget* pWidget) {
        QVERIFY(QTest::qWaitForWindowExposed(pWidget, kManagerWait));
        // The frame extents arrive from the manager a moment later. The
        // window asks the X server each time; the widget keeps what it saw
        // at its last move, which may be from before the frame existed.
        QWindow* pWindow = pWidget->windowHandle();
        QTRY_VERIFY_WITH_TIMEOUT(pWindow->frameGeometry().height() > pWindow->height(),
                                 kManagerWait);
        const int nBar = pWindow->geometry().top() - pWindow->frameGeometry().top();
        QFont captionFont("Sans");
        captionFont.setPixelSize(qRound(8 * pWindow->screen()->physicalDotsPerInchY() / 72));
        captionFont.setBold(true);
        const int nText = QFontMetrics(captionFont).horizontalAdvance(pWidget->windowTitle());
        QVERIFY2(pWindow->frameGeometry().width() >= nText + 6 * nBar,
                 qPrintable(QString("%1 px for a caption of %2 px beside a bar of %3 px")
                                .arg(pWindow->frameGeometry().width())
                                .arg(nText)
                                .arg(nBar)));
    }
};

QTEST_MAIN(TestRealX)
#include "tst_realx.moc"
