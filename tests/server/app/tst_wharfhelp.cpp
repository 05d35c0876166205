// The server's help: the shared help checks over the server's pages,
// commands and windows, and what only the server has: its Help Topics entry
// and the view's rows.
#include "AddressDialogs.h"
#include "AppSetup.h"
#include "BusyDialogs.h"
#include "HelpSuite.h"
#include "Icons.h"
#include "MainFrame.h"
#include "MessageBox.h"
#include "NotifyDialogs.h"
#include "OptionsSheet.h"
#include "WharfApp.h"
#include "WharfView.h"

#include <QCheckBox>
#include <QScrollArea>
#include <QTabWidget>
#include <QtTest>
#include <memory>

using namespace help_checks;

namespace {
// The server started as a user starts it, on a screen or without one.
struct Server : ShownProgram {
    AppSetup setup;
    CWharfApp app;
    const bool bScreen;
    std::unique_ptr<QWidget> pOwned;
    std::unique_ptr<CBusyDialogWindow> pBusy;

    explicit Server(bool bScreenIn = true) : bScreen(bScreenIn) {
        if (!app.InitInstance())
            qFatal("the server did not start");
        if (!bScreen)
            return;
        // The test platform has no screen; the help is for one.
        SetHeadless(false);
        app.MainFrame()->activateWindow();
        if (!QTest::qWaitForWindowActive(app.MainFrame()))
            qWarning("the main window did not become active");
    }
    ~Server() override {
        pBusy.reset();
        pOwned.reset();
        if (bScreen)
            SetHeadless(true);
    }

    QWidget* MainWindow() const override { return app.MainFrame(); }
    CHelpWindow* HelpWindow() const override { return app.MainFrame()->HelpWindow(); }
    void Give(const QString& strCommand) override {
        if (strCommand == "F1")
            QTest::keyClick(app.MainFrame(), Qt::Key_F1);
        else
            app.MainFrame()->Action(ID_HELP_FINDER)->trigger();
    }
    QWidget* Open(const QString& window) override {
        if (window == "main window, byte counts") {
            app.MainFrame()->Action(ID_PROGRESS_VIEW)->trigger();
        } else if (window.startsWith("options, ")) {
            auto* pSheet = new COptions(app, app.MainFrame());
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
            return pBusy->Window();
        } else if (window == "multihomed host") {
            pOwned = std::make_unique<CMultihomedDlg>(QStringList{"127.0.0.1", "127.0.0.2"},
                                                      AddressRole::Server);
        } else if (window == "listening address") {
            pOwned = std::make_unique<CListenAddressDlg>(AddressRole::Server);
        }
        return pOwned ? pOwned.get() : app.MainFrame();
    }
    bool Undisturbed() const override { return app.m_bServing == 1; }
};

HelpProgram Wharfkeep() {
    const QString contents = "Wharfkeep Help: Contents";
    return {
        .strFolder = ":/wharfkeep/help",
        .strWindowTitle = "Wharfkeep Help",
        .nLeastPages = 10,
        .strElsewhere = "options.html#port",
        .commands = {{"Help, Help Topics", "index.html", contents}, {"F1", "index.html", contents}},
        .windows = {"main window, bars", "main window, byte counts", "options, Inbound",
                    "options, Outbound", "options, Allow", "options, Deny", "options, Options",
                    "new client alert", "about", "port change", "stop serving", "multihomed host",
                    "listening address"},
        // The alert takes any key as leave to go.
        .closedByAnyKey = {"new client alert"}};
}
} // namespace

class TestWharfHelp : public HelpSuite {
    Q_OBJECT
public:
    TestWharfHelp() : HelpSuite(Wharfkeep()) {}

protected:
    void LoadPages() override { InitWharfkeepResources(); }
    std::unique_ptr<ShownProgram> Start(bool bScreen) override {
        return std::make_unique<Server>(bScreen);
    }

private slots:
    void helpTopicsEntry() {
        Server server;
        QCOMPARE(server.app.MainFrame()->Action(ID_HELP_FINDER)->text(),
                 QString("&Help Topics\tF1"));
        QCOMPARE(server.app.MainFrame()->Action(ID_HELP_FINDER)->statusTip(),
                 QString("List Help topics"));
    }

    // Each row's boxes let clicks through to the view, yet explain their own
    // column, in rows scrolled into view too.
    void viewRowsExplainTheirColumns_data() {
        QTest::addColumn<int>("clients");
        QTest::newRow("five rows") << 5;
        QTest::newRow("64 rows") << 64;
    }
    void viewRowsExplainTheirColumns() {
        QFETCH(int, clients);
        Server server;
        server.app.m_nMaxClients = clients;
        CWharfView* pView = server.app.View();
        pView->OnTimer();
        QCOMPARE(pView->RowCount(), clients);
        WhatsThisProbe probe;
        for (const CWharfView::Row& row : pView->m_rows) {
            pView->RowsArea()->ensureWidgetVisible(row.pClient);
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
