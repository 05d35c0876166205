// The client's help: the shared help checks over the client's pages,
// commands and windows, and what only the client has: a transfer still
// times out while the help is open.
#include "AddressDialogs.h"
#include "ClientApp.h"
#include "Clock.h"
#include "HelpSuite.h"
#include "Modal.h"
#include "OptionsSheet.h"

#include <QTabWidget>
#include <memory>

using namespace help_checks;

namespace {
// The client started as a user starts it, on a screen or without one.
struct Client : ClientApp, ShownProgram {
    const bool bScreen;
    std::unique_ptr<QWidget> pOwned;

    explicit Client(bool bScreenIn = true) : bScreen(bScreenIn) {
        if (!bScreen)
            return;
        // The test platform has no screen; the help is for one.
        SetHeadless(false);
        Frame()->activateWindow();
        if (!QTest::qWaitForWindowActive(Frame()))
            qWarning("the main window did not become active");
    }
    ~Client() override {
        pOwned.reset();
        if (bScreen)
            SetHeadless(true);
    }

    QWidget* MainWindow() const override { return Frame(); }
    CHelpWindow* HelpWindow() const override { return Frame()->HelpWindow(); }
    void Give(const QString& strCommand) override {
        const QMap<QString, int> ids{{"Help, Index", ID_HELP_INDEX},
                                     {"Help, Using Help", ID_HELP_USING},
                                     {"default help", ID_DEFAULT_HELP}};
        if (strCommand == "F1")
            QTest::keyClick(Frame(), Qt::Key_F1);
        else
            Frame()->Action(ids.value(strCommand))->trigger();
    }
    QWidget* Open(const QString& window) override {
        if (window == "main window, Put and Get") {
            Frame()->Action(ID_RENAME_BUTTONS)->trigger();
        } else if (window.startsWith("options, ")) {
            auto* pSheet = new COptionsSheet(Frame());
            pOwned.reset(pSheet);
            pSheet->show();
            const QStringList pages{"Inbound", "Outbound", "Transfers"};
            pSheet->m_pTabs->setCurrentIndex(pages.indexOf(window.section(", ", 1)));
        } else if (window == "about") {
            app->OnAbout();
            return app->m_pAbout;
        } else if (window == "block size error") {
            pOwned = std::make_unique<CBlockSizeDlg>();
        } else if (window == "multihomed host") {
            pOwned = std::make_unique<CMultihomedDlg>(QStringList{"127.0.0.1", "127.0.0.2"},
                                                      AddressRole::Client);
        } else if (window == "listening address") {
            pOwned = std::make_unique<CListenAddressDlg>(AddressRole::Client);
        }
        return pOwned ? pOwned.get() : Frame();
    }
    bool Undisturbed() const override { return !Running(); }
};

HelpProgram Skiffer() {
    const QString contents = "Skiffer Help: Contents";
    return {.strFolder = ":/skiffer/help",
            .strWindowTitle = "Skiffer Help",
            .nLeastPages = 8,
            .strElsewhere = "messages.html#port",
            .commands = {{"Help, Index", "index.html", contents},
                         {"F1", "index.html", contents},
                         {"default help", "index.html", contents},
                         {"Help, Using Help", "using-help.html", "Using Help"}},
            .windows = {"main window", "main window, Put and Get", "options, Inbound",
                        "options, Outbound", "options, Transfers", "about", "block size error",
                        "multihomed host", "listening address"},
            .closedByAnyKey = {}};
}
} // namespace

class TestSkifferHelp : public HelpSuite {
    Q_OBJECT
public:
    TestSkifferHelp() : HelpSuite(Skiffer()) {}

protected:
    void LoadPages() override {
        ClientApp c; // its start registers the pages
    }
    std::unique_ptr<ShownProgram> Start(bool bScreen) override {
        return std::make_unique<Client>(bScreen);
    }

private slots:
    // Unlike a message box, the help window lets the transfer's time-out run.
    void aTransferTimesOutWhileHelpIsOpen() {
        CTime::SetTestTime(100000);
        UdpPeer server;
        {
            Client c;
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
};

QTEST_MAIN(TestSkifferHelp)
#include "tst_skifferhelp.moc"
