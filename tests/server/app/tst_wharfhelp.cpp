// The server's help: Help Topics and F1 open the help window at the
// contents, every link of every page leads to a page and anchor that exist,
// and every control of the server's windows explains itself in What's This.
#include "AddressDialogs.h"
#include "AppSetup.h"
#include "BusyDialogs.h"
#include "HelpChecks.h"
#include "Icons.h"
#include "MainFrame.h"
#include "MessageBox.h"
#include "Modal.h"
#include "NotifyDialogs.h"
#include "OptionsSheet.h"
#include "WharfApp.h"
#include "WharfView.h"

#include <QCheckBox>
#include <QTabWidget>
#include <QtTest>
#include <memory>

using namespace help_checks;

namespace {
const QString kFolder = ":/wharfkeep/help";

QSet<QWidget*> VisibleWindows() {
    QSet<QWidget*> windows;
    for (QWidget* p : QApplication::topLevelWidgets())
        if (p->isVisible())
            windows << p;
    return windows;
}

// The server started as a user starts it, on a screen.
struct ShownServer {
    AppSetup setup;
    CWharfApp app;
    ShownServer() {
        if (!app.InitInstance())
            qFatal("the server did not start");
        // The test platform has no screen; the help is for one.
        SetHeadless(false);
        app.MainFrame()->activateWindow();
        if (!QTest::qWaitForWindowActive(app.MainFrame()))
            qWarning("the main window did not become active");
    }
    ~ShownServer() { SetHeadless(true); }
};
} // namespace

class TestWharfHelp : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InitWharfkeepResources(); }

    void helpCommandsOpenTheContents_data() {
        QTest::addColumn<QString>("command");
        QTest::newRow("Help, Help Topics") << "menu";
        QTest::newRow("F1") << "F1";
    }
    void helpCommandsOpenTheContents() {
        QFETCH(QString, command);
        ShownServer server;
        CMainFrame* pFrame = server.app.MainFrame();
        auto give = [&] {
            if (command == "menu")
                pFrame->Action(ID_HELP_FINDER)->trigger();
            else
                QTest::keyClick(pFrame, Qt::Key_F1);
        };
        give();
        CHelpWindow* pHelp = pFrame->HelpWindow();
        QVERIFY(pHelp && pHelp->isVisible());
        QCOMPARE(pHelp->windowTitle(), QString("Wharfkeep Help"));
        QCOMPARE(pHelp->Browser()->source(), QUrl("qrc:/wharfkeep/help/index.html"));
        QCOMPARE(pHelp->Browser()->documentTitle(), QString("Wharfkeep Help: Contents"));
        // Not modal: nothing is held while it is open.
        QVERIFY(!CModalScope::IsOpen());
        QVERIFY(!QApplication::activeModalWidget());
        // Read elsewhere, closed, asked for again: the same window, at the contents.
        pHelp->ShowTopic("options.html#port");
        QVERIFY(QTest::qWaitForWindowActive(pHelp));
        QTest::keyClick(pHelp, Qt::Key_Escape);
        QVERIFY(!pHelp->isVisible());
        pFrame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(pFrame));
        give();
        QCOMPARE(pFrame->HelpWindow(), pHelp);
        QVERIFY(pHelp->isVisible());
        QCOMPARE(pHelp->Browser()->source(), QUrl("qrc:/wharfkeep/help/index.html"));
        QCOMPARE(pFrame->Action(ID_HELP_FINDER)->text(), QString("&Help Topics\tF1"));
        QCOMPARE(pFrame->Action(ID_HELP_FINDER)->statusTip(), QString("List Help topics"));
    }

    void nothingOpensWithoutAScreen() {
        AppSetup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        QVERIFY(IsHeadless());
        const QSet<QWidget*> before = VisibleWindows();
        app.MainFrame()->Action(ID_HELP_FINDER)->trigger();
        QTest::keyClick(app.MainFrame(), Qt::Key_F1);
        QVERIFY(!app.MainFrame()->HelpWindow());
        QCOMPARE(VisibleWindows(), before);
    }

    void everyLinkLeadsToAPage_data() {
        QTest::addColumn<QString>("page");
        const QStringList pages = Pages(kFolder);
        QVERIFY(pages.size() >= 10);
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
        QCOMPARE(UnreachablePages(kFolder, "index.html"), QStringList());
    }

    // Shift+F1 (or the toolbar's help button), then a click on any control,
    // explains that control.
    void everyControlExplainsItself_data() {
        QTest::addColumn<QString>("window");
        for (const char* window :
             {"main window, bars", "main window, byte counts", "options, Inbound",
              "options, Outbound", "options, Allow", "options, Deny", "options, Options",
              "new client alert", "about", "port change", "stop serving", "multihomed host",
              "listening address"})
            QTest::newRow(window) << window;
    }
    void everyControlExplainsItself() {
        QFETCH(QString, window);
        ShownServer server;
        std::unique_ptr<QWidget> pOwned;
        std::unique_ptr<CBusyDialogWindow> pBusy;
        QWidget* pWindow = server.app.MainFrame();
        if (window == "main window, byte counts") {
            server.app.MainFrame()->Action(ID_PROGRESS_VIEW)->trigger();
        } else if (window.startsWith("options, ")) {
            auto* pSheet = new COptions(server.app, server.app.MainFrame());
            pOwned.reset(pSheet);
            pSheet->show();
            for (int i = 0; i < pSheet->Tabs()->count(); ++i)
                if (pSheet->Tabs()->tabText(i) == window.mid(9))
                    pSheet->Tabs()->setCurrentIndex(i);
        } else if (window == "new client alert") {
            auto* pAlert = new CClientAlert;
            pOwned.reset(pAlert);
            pAlert->ShowAlert("127.0.0.1");
        } else if (window == "about") {
            pOwned = std::make_unique<CAbout>();
        } else if (window == "port change" || window == "stop serving") {
            pBusy = std::make_unique<CBusyDialogWindow>(
                window == "port change" ? BusyDialogKind::PortChange : BusyDialogKind::StopServing);
            pBusy->ShowDialog();
            pWindow = pBusy->Window();
        } else if (window == "multihomed host") {
            pOwned = std::make_unique<CMultihomedDlg>(QStringList{"127.0.0.1", "127.0.0.2"},
                                                      AddressRole::Server);
        } else if (window == "listening address") {
            pOwned = std::make_unique<CListenAddressDlg>(AddressRole::Server);
        }
        if (pOwned)
            pWindow = pOwned.get();
        pWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(pWindow));
        const QStringList controls = Unexplained(pWindow) + UnexplainedActions(pWindow);
        QVERIFY2(controls.isEmpty(), qPrintable(controls.join(", ")));
        // Asking about a control never works it.
        QVERIFY(pWindow->isVisible());
        QCOMPARE(server.app.m_bServing, 1);
        // The alert takes any key as leave to go.
        if (window != "new client alert")
            QVERIFY(ShiftF1AsksWhatsThis(pWindow));
    }

    // Each row's boxes let clicks through to the view, yet explain their own column.
    void viewRowsExplainTheirColumns() {
        ShownServer server;
        WhatsThisProbe probe;
        for (const CWharfView::Row& row : server.app.View()->m_rows) {
            const QList<QWidget*> controls{row.pClient, row.pTx,       row.pRx,
                                           row.pFile,   row.pProgress, row.pBin};
            for (QWidget* pControl : controls) {
                const auto [pAnswered, text] = probe.Click(pControl, pControl->rect().center());
                const QString column = pControl->accessibleName().section(' ', 0, 0);
                QVERIFY2(pAnswered == pControl && text.startsWith(column + ":"),
                         qPrintable(pControl->accessibleName() + ": " + text));
            }
        }
    }
};

QTEST_MAIN(TestWharfHelp)
#include "tst_wharfhelp.moc"
