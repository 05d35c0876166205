#include "AppSetup.h"
#include "ListenSocket.h"
#include "MainFrame.h"
#include "NotifyDialogs.h"
#include "WharfApp.h"
#include "WharfView.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QtTest>

namespace {
QList<QWidget*> Visible(const char* className) {
    QList<QWidget*> list;
    for (QWidget* p : QApplication::topLevelWidgets())
        if (p->isVisible() && p->inherits(className))
            list << p;
    return list;
}

// A new client as the engine reports it to the view.
void NewClient(CWharfApp& app, int nSlot, const QString& text) {
    app.View()->ClientArrived(nSlot, text);
}

void Minimise(CMainFrame* pFrame) {
    pFrame->showMinimized();
    QTRY_VERIFY(pFrame->isMinimized());
}

// The window under a point of a widget, as a click there would find it.
QPoint Centre(QWidget* p) {
    return p->rect().center();
}

bool CentredOnScreen(QWidget* p) {
    const QPoint screen = QGuiApplication::primaryScreen()->availableGeometry().center();
    const QPoint centre = p->frameGeometry().center();
    return (screen - centre).manhattanLength() <= 2;
}
} // namespace

class TestNotify : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        CClientAlert::s_strAnimation = ":/wharfkeep/newclient.gif";
        CStartupSplash::s_strPicture = ":/wharfkeep/splash.png";
        CStartupSplash::HideSplash();
        PumpEvents(10);
    }

    // --- the new-client alert -------------------------------------------

    void alertOnlyWhileMinimisedAndWanted_data() {
        QTest::addColumn<bool>("minimised");
        QTest::addColumn<int>("option");
        QTest::addColumn<bool>("alert");
        QTest::newRow("minimised, option on") << true << 1 << true;
        QTest::newRow("minimised, option off") << true << 0 << false;
        QTest::newRow("shown, option on") << false << 1 << false;
        QTest::newRow("shown, option off") << false << 0 << false;
    }
    void alertOnlyWhileMinimisedAndWanted() {
        QFETCH(bool, minimised);
        QFETCH(int, option);
        QFETCH(bool, alert);
        AppSetup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        app.m_bAlertWhenMinimised = option;
        if (minimised)
            Minimise(app.MainFrame());
        // A real client on the wire.
        UdpPeer client;
        client.SendTo(setup.nPort, MakeRequest(1, "missing.bin", "octet"));
        QVERIFY(client.Receive());
        QCOMPARE(app.View()->Alert() != nullptr, alert);
        QCOMPARE(Visible("CClientAlert").size(), alert ? 1 : 0);
        if (alert)
            QCOMPARE(app.View()->Alert()->Edit()->toPlainText(), QString("127.0.0.1"));
    }

    void alertWindow() {
        AppSetup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        Minimise(app.MainFrame());
        NewClient(app, 1, "10.1.2.3");
        CClientAlert* pAlert = app.View()->Alert();
        QVERIFY(pAlert && pAlert->isVisible());
        QCOMPARE(pAlert->windowTitle(), QString("Wharfkeep  --  New Client being Served"));
        QVERIFY(pAlert->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(pAlert->windowFlags() & Qt::WindowSystemMenuHint));
        QVERIFY(!pAlert->parentWidget()); // the desktop's
        QVERIFY(CentredOnScreen(pAlert));
        QCOMPARE(pAlert->m_strAlert, QString("10.1.2.3"));
        QTextEdit* pEdit = pAlert->Edit();
        QCOMPARE(pEdit->toPlainText(), QString("10.1.2.3"));
        QVERIFY(pEdit->isReadOnly());
        QCOMPARE(pEdit->document()->defaultTextOption().alignment() & Qt::AlignHCenter,
                 Qt::AlignHCenter);
        QCOMPARE(pAlert->findChild<QPushButton*>("1")->text(), QString("OK"));
        // The magenta background, seen at a corner of the window.
        const QImage image = pAlert->grab().toImage();
        QCOMPARE(QColor(image.pixel(1, image.height() - 2)), QColor(255, 0, 255));
        // The animation runs and loops without end.
        QMovie* pMovie = pAlert->Animation();
        QVERIFY(pMovie);
        QCOMPARE(pMovie->state(), QMovie::Running);
        QVERIFY(pMovie->frameCount() > 1);
        QCOMPARE(pMovie->loopCount(), -1);
        const int nFirst = pMovie->currentFrameNumber();
        QTRY_VERIFY(pMovie->currentFrameNumber() != nFirst);
    }

    void alertWithoutAnimationStillWorks() {
        CClientAlert::s_strAnimation = "/nonexistent/newclient.gif";
        MessageBoxRecorder boxes;
        AppSetup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        Minimise(app.MainFrame());
        NewClient(app, 1, "10.1.2.3");
        CClientAlert* pAlert = app.View()->Alert();
        QVERIFY(pAlert && pAlert->isVisible());
        QVERIFY(!pAlert->Animation());
        QVERIFY(pAlert->AnimationControl()->pixmap().isNull());
        QCOMPARE(pAlert->Edit()->toPlainText(), QString("10.1.2.3"));
        QTest::mouseClick(pAlert->findChild<QPushButton*>("1"), Qt::LeftButton);
        QVERIFY(!pAlert->isVisible());
        QVERIFY(boxes.texts.isEmpty());
    }

    void alertHiddenByAnyPressThenReused_data() {
        QTest::addColumn<QString>("target"); // "ok", "text", "animation", "window"
        QTest::addColumn<QString>("press");  // "left", "right", "middle", "enter", "escape", "x"
        QTest::newRow("OK clicked") << "ok"
                                    << "left";
        QTest::newRow("text clicked") << "text"
                                      << "left";
        QTest::newRow("animation right-clicked") << "animation"
                                                 << "right";
        QTest::newRow("window middle-clicked") << "window"
                                               << "middle";
        QTest::newRow("Enter") << "ok"
                               << "enter";
        QTest::newRow("Escape") << "window"
                                << "escape";
        QTest::newRow("a letter on the text") << "text"
                                              << "x";
    }
    void alertHiddenByAnyPressThenReused() {
        QFETCH(QString, target);
        QFETCH(QString, press);
        AppSetup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CMainFrame* pFrame = app.MainFrame();
        Minimise(pFrame);
        NewClient(app, 1, "10.0.0.1");
        QPointer<CClientAlert> pAlert = app.View()->Alert();
        QVERIFY(pAlert && pAlert->isVisible());
        QWidget* pTarget = target == "ok"     ? pAlert->findChild<QPushButton*>("1")
                           : target == "text" ? pAlert->Edit()->viewport()
                           : target == "animation"
                               ? static_cast<QWidget*>(pAlert->AnimationControl())
                               : static_cast<QWidget*>(pAlert);
        if (press == "left")
            QTest::mouseClick(pTarget, Qt::LeftButton, {}, Centre(pTarget));
        else if (press == "right")
            QTest::mouseClick(pTarget, Qt::RightButton, {}, Centre(pTarget));
        else if (press == "middle")
            QTest::mouseClick(pTarget, Qt::MiddleButton, {}, QPoint(2, 2));
        else if (press == "enter")
            QTest::keyClick(pTarget, Qt::Key_Return);
        else if (press == "escape")
            QTest::keyClick(pTarget, Qt::Key_Escape);
        else
            QTest::keyClick(pTarget, Qt::Key_X);
        QVERIFY(pAlert); // hidden, not destroyed
        QVERIFY(!pAlert->isVisible());
        QCOMPARE(pAlert->Edit()->toPlainText(), QString("10.0.0.1")); // the key typed nothing
        // The next client while still minimised: the same window, new text.
        NewClient(app, 2, "10.0.0.2");
        QCOMPARE(app.View()->Alert(), pAlert.data());
        QVERIFY(pAlert->isVisible());
        QCOMPARE(pAlert->Edit()->toPlainText(), QString("10.0.0.2"));
        QCOMPARE(Visible("CClientAlert").size(), 1);
        QVERIFY(pFrame->isMinimized()); // the press did not reach the frame
    }

    void alertGoesWhenTheFrameIsActivated() {
        AppSetup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CMainFrame* pFrame = app.MainFrame();
        Minimise(pFrame);
        NewClient(app, 1, "10.0.0.1");
        QPointer<CClientAlert> pAlert = app.View()->Alert();
        QVERIFY(pAlert);
        pFrame->showNormal();
        pFrame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(pFrame));
        QTRY_VERIFY_WITH_TIMEOUT(!pAlert, 1000);
        QVERIFY(!app.View()->Alert());
        // Minimised again, the next client brings a fresh one.
        Minimise(pFrame);
        NewClient(app, 1, "10.0.0.3");
        QVERIFY(app.View()->Alert() && app.View()->Alert()->isVisible());
    }

    void alertGoesAtTheTickWithNoClients_data() {
        QTest::addColumn<bool>("clientRunning");
        QTest::newRow("a client still served: kept") << true;
        QTest::newRow("no client: destroyed") << false;
    }
    void alertGoesAtTheTickWithNoClients() {
        QFETCH(bool, clientRunning);
        AppSetup setup;
        setup.Write("out/big.bin", QByteArray(4000, 'q'));
        CWharfApp app;
        QVERIFY(app.InitInstance());
        Minimise(app.MainFrame());
        UdpPeer client;
        client.SendTo(setup.nPort,
                      MakeRequest(1, clientRunning ? "big.bin" : "missing.bin", "octet"));
        QVERIFY(client.Receive()); // DATA 1 (no ACK follows), or the error
        QPointer<CClientAlert> pAlert = app.View()->Alert();
        QVERIFY(pAlert);
        pAlert->hide(); // hidden alerts go too
        app.View()->OnTimer();
        QCOMPARE(app.m_pListener->m_nActiveClients, clientRunning ? 1 : 0);
        QCOMPARE(bool(app.View()->Alert()), clientRunning);
        QTest::qWait(50); // the window goes once control is back in the event loop
        QCOMPARE(bool(pAlert), clientRunning);
    }

    void alertGoesWithTheProgram() {
        AppSetup setup;
        QPointer<CClientAlert> pAlert;
        {
            CWharfApp app;
            QVERIFY(app.InitInstance());
            Minimise(app.MainFrame());
            NewClient(app, 1, "10.0.0.1");
            pAlert = app.View()->Alert();
            QVERIFY(pAlert);
        }
        QVERIFY(!pAlert);
    }

    void openWindowsDoNotKeepTheProgramAlive() {
        AppSetup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CMainFrame* pFrame = app.MainFrame();
        Minimise(pFrame);
        NewClient(app, 1, "10.0.0.1");
        app.OnAbout();
        QVERIFY(app.View()->Alert()->isVisible() && app.m_pAbout->isVisible());
        // The program's own message loop ends when the frame closes.
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, [] { qApp->exit(1); });
        guard.start(5000);
        QTimer::singleShot(0, pFrame, [pFrame] { pFrame->close(); });
        QCOMPARE(qApp->exec(), 0); // 1: still running when the guard fired
        QCOMPARE(lastClosed.size(), 1);
    }

    // --- the about sheet ---------------------------------------------------

    void aboutSheet() {
        AppSetup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        app.MainFrame()->Action(ID_APP_ABOUT)->trigger();
        auto* pAbout = qobject_cast<CAbout*>(app.m_pAbout.data());
        QVERIFY(pAbout && pAbout->isVisible());
        QVERIFY(!pAbout->parentWidget());
        QVERIFY(!pAbout->isModal());
        QCOMPARE(pAbout->windowTitle(), QString("About Wharfkeep"));
        QCOMPARE(pAbout->Tabs()->count(), 2);
        QCOMPARE(pAbout->Tabs()->tabText(0), QString("About Harnwick"));
        QCOMPARE(pAbout->Tabs()->tabText(1), QString("Version"));
        QCOMPARE(pAbout->Tabs()->currentIndex(), 1);
        QStringList lines;
        for (QLabel* p : pAbout->Tabs()->widget(1)->findChildren<QLabel*>())
            lines << p->text();
        QVERIFY(lines.contains("Wharfkeep"));
        QVERIFY(lines.contains("Version 6.5"));
        QVERIFY(lines.indexOf("Wharfkeep") < lines.indexOf("Version 6.5"));
        auto* pContact = pAbout->Tabs()->widget(0)->findChild<QLabel*>("contact");
        QVERIFY(pContact && pContact->text().contains("Wharfkeep"));
    }

    void aboutOnlyOnce_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("menu twice") << "menu";
        QTest::newRow("accelerator twice") << "key";
        QTest::newRow("toolbar twice") << "toolbar";
    }
    void aboutOnlyOnce() {
        QFETCH(QString, how);
        AppSetup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CMainFrame* pFrame = app.MainFrame();
        auto about = [&] {
            if (how == "menu") {
                pFrame->Action(ID_APP_ABOUT)->trigger();
            } else if (how == "key") {
                pFrame->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(pFrame));
                QTest::keyClick(pFrame, Qt::Key_A, Qt::ControlModifier);
            } else {
                QTest::mouseClick(pFrame->ToolBar()->widgetForAction(pFrame->Action(ID_APP_ABOUT)),
                                  Qt::LeftButton);
            }
        };
        about();
        QPointer<QWidget> pFirst = app.m_pAbout;
        QVERIFY(pFirst);
        pFirst->findChild<QTabWidget*>()->setCurrentIndex(0);
        about();
        QCOMPARE(app.m_pAbout.data(), pFirst.data());
        QCOMPARE(pFirst->findChild<QTabWidget*>()->currentIndex(), 0); // untouched
        QCOMPARE(Visible("CAbout").size(), 1);
    }

    void aboutClosesForGood_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("OK") << "ok";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("close box") << "close";
    }
    void aboutClosesForGood() {
        QFETCH(QString, how);
        AppSetup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        app.OnAbout();
        QPointer<QWidget> pFirst = app.m_pAbout;
        QVERIFY(pFirst);
        if (how == "ok")
            QTest::mouseClick(pFirst->findChild<QPushButton*>("1"), Qt::LeftButton);
        else if (how == "escape")
            QTest::keyClick(pFirst, Qt::Key_Escape);
        else
            pFirst->close();
        QTRY_VERIFY(!pFirst);
        QVERIFY(!app.m_pAbout);
        app.OnAbout();
        QVERIFY(app.m_pAbout && app.m_pAbout->isVisible());
        QCOMPARE(app.m_pAbout->findChild<QTabWidget*>()->currentIndex(), 1);
    }

    void aboutClosedAtShutdown() {
        AppSetup setup;
        QPointer<QWidget> pAbout;
        {
            CWharfApp app;
            QVERIFY(app.InitInstance());
            app.OnAbout();
            pAbout = app.m_pAbout;
            QVERIFY(pAbout);
        }
        QVERIFY(!pAbout);
    }

    // --- the start-up splash --------------------------------------------

    void splashAtStart() {
        AppSetup setup;
        CWharfApp app;
        app.m_bShowSplash = true;
        QVERIFY(app.InitInstance());
        CStartupSplash* pSplash = CStartupSplash::Splash();
        QVERIFY(pSplash && pSplash->isVisible());
        QCOMPARE(pSplash->size(), QSize(520, 317));
        QVERIFY(!(pSplash->windowFlags() & Qt::WindowTitleHint));
        QVERIFY(pSplash->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(CentredOnScreen(pSplash));
        // It shows the picture, whole.
        QImage shown = pSplash->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage picture = QImage(":/wharfkeep/splash.png").convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown, picture);
        // Shown once per run.
        CStartupSplash::HideSplash();
        QVERIFY(!CStartupSplash::Splash());
        CStartupSplash::ShowSplash(app.MainFrame());
        QVERIFY(!CStartupSplash::Splash());
    }

    void firstPressOnlyRemovesTheSplash_data() {
        QTest::addColumn<QString>("press");
        QTest::newRow("a letter on the frame") << "key frame";
        QTest::newRow("a letter on the splash") << "key splash";
        QTest::newRow("left click on Stop Serving") << "click stop";
        QTest::newRow("right click on the splash") << "right splash";
        QTest::newRow("middle click on the view") << "middle view";
    }
    void firstPressOnlyRemovesTheSplash() {
        QFETCH(QString, press);
        AppSetup setup;
        CWharfApp app;
        app.m_bShowSplash = true;
        QVERIFY(app.InitInstance());
        CMainFrame* pFrame = app.MainFrame();
        pFrame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(pFrame));
        QWidget* pStop = pFrame->ToolBar()->widgetForAction(pFrame->Action(ID_STOP_SERVING));
        QPointer<CStartupSplash> pSplash = CStartupSplash::Splash();
        QVERIFY(pSplash);
        // What reaches the windows themselves.
        struct Spy : QObject {
            int nKeys = 0;
            int nPresses = 0;
            bool eventFilter(QObject*, QEvent* pEvent) override {
                nKeys += pEvent->type() == QEvent::KeyPress;
                nPresses += pEvent->type() == QEvent::MouseButtonPress;
                return false;
            }
        } spy;
        for (QWidget* p : {static_cast<QWidget*>(pFrame), pStop, static_cast<QWidget*>(app.View())})
            p->installEventFilter(&spy);
        auto act = [&] {
            if (press == "key frame")
                QTest::keyClick(pFrame, Qt::Key_Q);
            else if (press == "key splash")
                QTest::keyClick(pSplash, Qt::Key_Q);
            else if (press == "click stop")
                QTest::mouseClick(pStop, Qt::LeftButton);
            else if (press == "right splash")
                QTest::mouseClick(pSplash, Qt::RightButton);
            else
                QTest::mouseClick(app.View(), Qt::MiddleButton);
        };
        act();
        QVERIFY(!CStartupSplash::Splash());
        QTRY_VERIFY(!pSplash);
        QCOMPARE(spy.nKeys + spy.nPresses, 0); // the press did nothing else
        QCOMPARE(app.m_bServing, 1);
        // The next press of the same kind goes where it always goes.
        if (press == "key frame" || press == "click stop" || press == "middle view") {
            act();
            QVERIFY(spy.nKeys + spy.nPresses >= 1);
            QCOMPARE(app.m_bServing, press == "click stop" ? 0 : 1);
        }
    }

    void otherInputLeavesTheSplash() {
        AppSetup setup;
        CWharfApp app;
        app.m_bShowSplash = true;
        QVERIFY(app.InitInstance());
        CMainFrame* pFrame = app.MainFrame();
        QTest::mouseMove(pFrame, QPoint(20, 20));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_S, Qt::NoModifier);
        QApplication::sendEvent(pFrame, &release);
        QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(app.View(), &wheel);
        PumpEvents(50);
        QVERIFY(CStartupSplash::Splash());
    }

    void noSplash_data() {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("picture");
        QTest::newRow("picture missing") << true << "/nonexistent/splash.png";
        QTest::newRow("not a picture") << true << QFINDTESTDATA("tst_notify.cpp");
        QTest::newRow("not asked for") << false << ":/wharfkeep/splash.png";
    }
    void noSplash() {
        QFETCH(bool, enabled);
        QFETCH(QString, picture);
        CStartupSplash::s_strPicture = picture;
        MessageBoxRecorder boxes;
        AppSetup setup;
        CWharfApp app;
        app.m_bShowSplash = enabled;
        QVERIFY(app.InitInstance());
        QVERIFY(!CStartupSplash::Splash());
        QCOMPARE(Visible("CStartupSplash").size(), 0);
        QVERIFY(boxes.texts.isEmpty());
        // The first press is not lost.
        CMainFrame* pFrame = app.MainFrame();
        pFrame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(pFrame));
        QTest::keyClick(pFrame, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(app.m_bServing, 0);
    }

    void splashGoneAfterFifteenSeconds() {
        AppSetup setup;
        CWharfApp app;
        app.m_bShowSplash = true;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(app.InitInstance());
        QVERIFY(CStartupSplash::Splash());
        QTest::qWait(14000);
        QVERIFY(CStartupSplash::Splash());
        QTRY_VERIFY_WITH_TIMEOUT(!CStartupSplash::Splash(), 3000);
        QVERIFY2(clock.elapsed() >= 14900, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_MAIN(TestNotify)
#include "tst_notify.moc"
