// The client's help: Help, Index, F1 and Using Help open the help window at
// their pages, a transfer still times out while it is open, every link of
// every page leads to a page and anchor that exist, and every control of the
// client's windows explains itself in What's This.
#include "AddressDialogs.h"
#include "ClientApp.h"
#include "Clock.h"
#include "HelpChecks.h"
#include "Modal.h"
#include "OptionsSheet.h"

#include <QTabWidget>
#include <memory>

using namespace help_checks;

namespace {
const QString kFolder = ":/skiffer/help";

QSet<QWidget*> VisibleWindows() {
    QSet<QWidget*> windows;
    for (QWidget* p : QApplication::topLevelWidgets())
        if (p->isVisible())
            windows << p;
    return windows;
}

// The client started as a user starts it, on a screen.
struct ShownClient : ClientApp {
    ShownClient() {
        // The test platform has no screen; the help is for one.
        SetHeadless(false);
        Frame()->activateWindow();
        if (!QTest::qWaitForWindowActive(Frame()))
            qWarning("the main window did not become active");
    }
    ~ShownClient() { SetHeadless(true); }
};

void Give(CMainFrame* pFrame, const QString& command) {
    const QMap<QString, int> ids{{"Help, Index", ID_HELP_INDEX},
                                 {"Help, Using Help", ID_HELP_USING},
                                 {"default help", ID_DEFAULT_HELP}};
    if (command == "F1")
        QTest::keyClick(pFrame, Qt::Key_F1);
    else
        pFrame->Action(ids.value(command))->trigger();
}
} // namespace

class TestSkifferHelp : public QObject {
    Q_OBJECT
private slots:
    void helpCommandsOpenTheirPage_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("title");
        QTest::newRow("Help, Index") << "Help, Index"
                                     << "index.html"
                                     << "Skiffer Help: Contents";
        QTest::newRow("F1") << "F1"
                            << "index.html"
                            << "Skiffer Help: Contents";
        QTest::newRow("default help") << "default help"
                                      << "index.html"
                                      << "Skiffer Help: Contents";
        QTest::newRow("Help, Using Help") << "Help, Using Help"
                                          << "using-help.html"
                                          << "Using Help";
    }
    void helpCommandsOpenTheirPage() {
        QFETCH(QString, command);
        QFETCH(QString, page);
        QFETCH(QString, title);
        ShownClient c;
        Give(c.Frame(), command);
        CHelpWindow* pHelp = c.Frame()->HelpWindow();
        QVERIFY(pHelp);
        QVERIFY(pHelp->isVisible());
        QCOMPARE(pHelp->windowTitle(), QString("Skiffer Help"));
        QCOMPARE(pHelp->Browser()->source(), QUrl("qrc:/skiffer/help/" + page));
        QCOMPARE(pHelp->Browser()->documentTitle(), title);
        QVERIFY(!QApplication::activeModalWidget());
        // Closed and asked for again: the same window, at the same page.
        pHelp->ShowTopic("messages.html#port");
        QVERIFY(QTest::qWaitForWindowActive(pHelp));
        QTest::keyClick(pHelp, Qt::Key_Escape);
        QVERIFY(!pHelp->isVisible());
        c.Frame()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(c.Frame()));
        Give(c.Frame(), command);
        QCOMPARE(c.Frame()->HelpWindow(), pHelp);
        QVERIFY(pHelp->isVisible());
        QCOMPARE(pHelp->Browser()->source(), QUrl("qrc:/skiffer/help/" + page));
    }

    void nothingOpensWithoutAScreen_data() {
        QTest::addColumn<QString>("command");
        for (const char* command : {"Help, Index", "F1", "default help", "Help, Using Help"})
            QTest::newRow(command) << command;
    }
    void nothingOpensWithoutAScreen() {
        QFETCH(QString, command);
        ClientApp c;
        QVERIFY(IsHeadless());
        const QSet<QWidget*> before = VisibleWindows();
        Give(c.Frame(), command);
        QVERIFY(!c.Frame()->HelpWindow());
        QCOMPARE(VisibleWindows(), before);
    }

    // Unlike a message box, the help window lets the transfer's time-out run.
    void aTransferTimesOutWhileHelpIsOpen() {
        CTime::SetTestTime(100000);
        UdpPeer server;
        {
            ShownClient c;
            c.app->m_strInbound = c.files.path() + "/";
            c.Fill("127.0.0.1", server.Port(), "l.bin", "r.bin");
            c.Type(1003, "5");
            c.Click(1005);
            QVERIFY(server.Receive());
            c.Frame()->Action(ID_HELP_INDEX)->trigger();
            QVERIFY(c.Frame()->HelpWindow() && c.Frame()->HelpWindow()->isVisible());
            QVERIFY(!CModalScope::IsOpen());
            CTime::AdvanceTestTime(5);
            for (long n = 0; n < 256; ++n)
                c.app->OnIdle(n);
            QVERIFY(c.Running());
            CTime::AdvanceTestTime(1);
            for (long n = 0; n < 256; ++n)
                c.app->OnIdle(n);
            QVERIFY(!c.Running());
            QTRY_COMPARE(c.Status(), QString("Timed out"));
        }
        CTime::SetTestTime(std::nullopt);
    }

    void everyLinkLeadsToAPage_data() {
        QTest::addColumn<QString>("page");
        ClientApp c; // registers the pages
        const QStringList pages = Pages(kFolder);
        QVERIFY(pages.size() >= 8);
        for (const QString& page : pages)
            QTest::newRow(qPrintable(page)) << page;
    }
    void everyLinkLeadsToAPage() {
        QFETCH(QString, page);
        const QStringList broken =
            BrokenLinks(kFolder, page) + LinksMissingTheirTarget(kFolder, page);
        QVERIFY2(broken.isEmpty(), qPrintable(broken.join(", ")));
    }

    void everyPageIsReachableFromTheContents() {
        ClientApp c; // registers the pages
        QCOMPARE(UnreachablePages(kFolder, "index.html"), QStringList());
    }

    // Shift+F1, then a click on any control, explains that control.
    void everyControlExplainsItself_data() {
        QTest::addColumn<QString>("window");
        for (const char* window : {"main window", "main window, Put and Get", "options, Inbound",
                                   "options, Outbound", "options, Transfers", "about",
                                   "block size error", "multihomed host", "listening address"})
            QTest::newRow(window) << window;
    }
    void everyControlExplainsItself() {
        QFETCH(QString, window);
        ShownClient c;
        std::unique_ptr<QWidget> pOwned;
        QWidget* pWindow = c.Frame();
        if (window == "main window, Put and Get") {
            c.Frame()->Action(ID_RENAME_BUTTONS)->trigger();
        } else if (window.startsWith("options, ")) {
            auto* pSheet = new COptionsSheet(c.Frame());
            pOwned.reset(pSheet);
            pSheet->show();
            const QStringList pages{"Inbound", "Outbound", "Transfers"};
            pSheet->m_pTabs->setCurrentIndex(pages.indexOf(window.section(", ", 1)));
        } else if (window == "about") {
            c.app->OnAbout();
            pWindow = c.app->m_pAbout;
        } else if (window == "block size error") {
            pOwned = std::make_unique<CBlockSizeDlg>();
        } else if (window == "multihomed host") {
            pOwned = std::make_unique<CMultihomedDlg>(QStringList{"127.0.0.1", "127.0.0.2"},
                                                      AddressRole::Client);
        } else if (window == "listening address") {
            pOwned = std::make_unique<CListenAddressDlg>(AddressRole::Client);
        }
        if (pOwned)
            pWindow = pOwned.get();
        QVERIFY(pWindow);
        pWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(pWindow));
        const QStringList controls = Unexplained(pWindow) + UnexplainedActions(pWindow);
        QVERIFY2(controls.isEmpty(), qPrintable(controls.join(", ")));
        // Asking about a control never works it.
        QVERIFY(pWindow->isVisible());
        QVERIFY(!c.Running());
        QVERIFY(ShiftF1AsksWhatsThis(pWindow));
    }
};

QTEST_MAIN(TestSkifferHelp)
#include "tst_skifferhelp.moc"
