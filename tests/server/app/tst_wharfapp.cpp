#include "AddressDialogs.h"
#include "BusyDialogs.h"
#include "HostAddresses.h"
#include "ListenSocket.h"
#include "MainFrame.h"
#include "NotifyDialogs.h"
#include "OptionsSheet.h"
#include "TestSupport.h"
#include "WharfApp.h"
#include "WharfView.h"

#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QtTest>

namespace {
// A prepared settings folder and a served folder for one start of the program.
struct Setup {
    TempConfigHome home;
    QTemporaryDir files;
    uint16_t nPort = FreeUdpPort();

    explicit Setup(const QVariantMap& extra = {}) {
        QDir().mkpath(home.Path() + "/Harnwick");
        QDir().mkpath(files.path() + "/out");
        QDir().mkpath(files.path() + "/in");
        QSettings file(home.Path() + "/Harnwick/Wharfkeep.ini", QSettings::IniFormat);
        file.setValue("Port", QString::number(nPort));
        file.setValue("OutPath", files.path() + "/out/");
        file.setValue("InPath", files.path() + "/in/");
        file.setValue("bDisplay", 1);
        file.setValue("bDelete", 14);
        for (auto it = extra.begin(); it != extra.end(); ++it)
            file.setValue(it.key(), it.value());
        SetHostAddressProvider([] { return std::optional(QStringList{"127.0.0.1"}); });
    }
    ~Setup() { SetHostAddressProvider(nullptr); }

    QVariant Stored(const QString& name) const {
        QSettings file(home.Path() + "/Harnwick/Wharfkeep.ini", QSettings::IniFormat);
        return file.value(name);
    }
    void WriteOut(const QString& name, const QByteArray& bytes) const {
        QFile file(files.path() + "/out/" + name);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
};

class NoSocketsApp : public CWharfApp {
protected:
    bool SocketInit() override { return false; }
};

QList<QWidget*> VisibleWindows() {
    QList<QWidget*> windows;
    for (QWidget* p : QApplication::topLevelWidgets())
        if (p->isVisible())
            windows << p;
    return windows;
}

bool RunClient(const QStringList& command) {
    QProcess process;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    process.start(command.first(), command.mid(1));
    loop.exec();
    return process.state() == QProcess::NotRunning && process.exitCode() == 0;
}

// What a screen reader would call a widget.
QString AccessibleName(QWidget* p) {
    QAccessibleInterface* pInterface = QAccessible::queryAccessibleInterface(p);
    return pInterface ? pInterface->text(QAccessible::Name).trimmed() : QString();
}

// The controls of a window that a screen reader could not name.
QStringList UnnamedControls(QWidget* pWindow) {
    QStringList unnamed;
    for (QWidget* p : pWindow->findChildren<QWidget*>()) {
        const bool bControl = p->inherits("QAbstractButton") || p->inherits("QLineEdit") ||
                              p->inherits("QTextEdit") || p->inherits("QAbstractItemView") ||
                              p->inherits("QProgressBar") || p->inherits("QLabel") ||
                              p->inherits("QGroupBox") || p->inherits("QToolBar") ||
                              p->inherits("QStatusBar") || p->inherits("QMenuBar");
        // Qt's own parts (the menu bar's and toolbar's overflow buttons) are
        // Qt's to name.
        if (bControl && !p->objectName().startsWith("qt_") && AccessibleName(p).isEmpty())
            unnamed << QString("%1 %2").arg(p->metaObject()->className(), p->objectName());
    }
    return unnamed;
}

template <typename T> T* Find(CWharfView* pView, int nId) {
    return qobject_cast<T*>(pView->Control(nId));
}

// A row's controls, left to right.
QList<QWidget*> Cells(const CWharfView::Row& row) {
    return {row.pClient, row.pTx,       row.pRx,      row.pFile,
            row.pBytes,  row.pProgress, row.pPercent, row.pBin};
}
} // namespace

class TestWharfApp : public QObject {
    Q_OBJECT
private slots:
    void startUpListensAndTitlesTheFrame() {
        Setup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CMainFrame* pFrame = app.MainFrame();
        QVERIFY(pFrame && pFrame->isVisible());
        QCOMPARE(pFrame->windowTitle(), QString("127.0.0.1.%1 - Wharfkeep").arg(setup.nPort));
        QCOMPARE(app.m_pListener->m_strLocalAddress, QString("127.0.0.1"));
        QCOMPARE(app.m_bSweepOnIdle, 0); // the view's timer sweeps
        // No sizing border or maximise box; the frame fits the form.
        QVERIFY(!(pFrame->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(pFrame->minimumSize(), pFrame->maximumSize());
        QCOMPARE(pFrame->IdlePrompt()->text(),
                 QString("For Help, press F1 For the meaning of life, press Fz"));
        UdpPeer client;
        client.SendTo(setup.nPort, MakeRequest(1, "missing.bin", "octet"));
        QCOMPARE(client.Receive(),
                 std::optional<QByteArray>(QByteArray("\0\5\0\1File not found\0", 19)));
    }

    void startUpFailures_data() {
        QTest::addColumn<bool>("sockets");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("socket layer")
            << false << QStringList("Windows sockets initialization failed.");
        QTest::newRow("listening port taken")
            << true
            << QStringList{"Unable to Create listening port",
                           "Unable to initialise server operations\n\nProgram will now terminate"};
    }
    void startUpFailures() {
        QFETCH(bool, sockets);
        QFETCH(QStringList, messages);
        Setup setup;
        UdpPeer squatter;
        QSettings(setup.home.Path() + "/Harnwick/Wharfkeep.ini", QSettings::IniFormat)
            .setValue("Port", QString::number(squatter.Port()));
        MessageBoxRecorder boxes;
        {
            std::unique_ptr<CWharfApp> pApp(sockets ? new CWharfApp : new NoSocketsApp);
            QVERIFY(!pApp->InitInstance());
            QCOMPARE(pApp->MainFrame(), nullptr);
            QVERIFY(VisibleWindows().isEmpty());
        }
        QCOMPARE(boxes.texts.size(), messages.size());
        for (int i = 0; i < messages.size(); ++i)
            QVERIFY2(boxes.texts[i].startsWith(messages[i]), qPrintable(boxes.texts[i]));
        // The shutdown that follows still saves the settings.
        QCOMPARE(setup.Stored("Port").toString(), QString::number(squatter.Port()));
    }

    void stopAndStartServingFollowTheSwitch() {
        Setup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CMainFrame* pFrame = app.MainFrame();
        QAction* pStop = pFrame->Action(ID_STOP_SERVING);
        QAction* pStart = pFrame->Action(ID_START_SERVING);
        QWidget* pStopButton = pFrame->ToolBar()->widgetForAction(pStop);
        QWidget* pStartButton = pFrame->ToolBar()->widgetForAction(pStart);
        QVERIFY(pStop->isEnabled() && pStopButton->isEnabled());
        QVERIFY(!pStart->isEnabled() && !pStartButton->isEnabled());
        QCOMPARE(pStop->text(), QString("&Stop Serving\tCtrl+S"));
        QCOMPARE(pStop->statusTip(), QString("Stops the server responding to clients"));
        QCOMPARE(pStop->toolTip(), QString("Switch Off"));
        pFrame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(pFrame));
        QTest::keyClick(pFrame, Qt::Key_S, Qt::ControlModifier); // the accelerator
        QCOMPARE(app.m_bServing, 0);
        QVERIFY(!pStop->isEnabled() && !pStopButton->isEnabled());
        QVERIFY(pStart->isEnabled() && pStartButton->isEnabled());
        UdpPeer client;
        client.SendTo(setup.nPort, MakeRequest(1, "x", "octet"));
        QCOMPARE(client.Receive(),
                 std::optional<QByteArray>(QByteArray("\0\5\0\0Service not available\0\0", 27)));
        QTest::mouseClick(pStartButton, Qt::LeftButton);
        QCOMPARE(app.m_bServing, 1);
        QVERIFY(pStop->isEnabled() && !pStart->isEnabled());
    }

    void progressViewTwiceRestoresTheTypeAndSavesTwice() {
        Setup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CWharfView* pView = app.View();
        QCOMPARE(pView->ViewType(), 1);
        QVERIFY(Find<QProgressBar>(pView, 1007)->isVisible());
        QVERIFY(!Find<QLineEdit>(pView, 1005)->isVisible());
        QAction* pToggle = app.MainFrame()->Action(ID_PROGRESS_VIEW);
        pToggle->trigger();
        QCOMPARE(pView->ViewType(), 0);
        QCOMPARE(setup.Stored("bDisplay").toInt(), 0);
        QVERIFY(!Find<QProgressBar>(pView, 1007)->isVisible());
        QVERIFY(Find<QLineEdit>(pView, 1005)->isVisible());
        QVERIFY(Find<QLineEdit>(pView, 1035)->isVisible());
        QVERIFY(Find<QLabel>(pView, 1032)->isVisible());
        QVERIFY(!Find<QLabel>(pView, 1031)->isVisible());
        pToggle->trigger();
        QCOMPARE(pView->ViewType(), 1);
        QCOMPARE(setup.Stored("bDisplay").toInt(), 1);
    }

    void viewShowsRealTransfers_data() {
        QTest::addColumn<int>("viewType");
        QTest::newRow("bars") << 1;
        QTest::newRow("counts") << 0;
    }
    void viewShowsRealTransfers() {
        QFETCH(int, viewType);
        Setup setup({{"bDisplay", viewType}});
        const QByteArray content(300000, 'k');
        setup.WriteOut("boot.img", content);
        QTemporaryDir clientDir;
        QFile upload(clientDir.path() + "/up.txt");
        QVERIFY(upload.open(QIODevice::WriteOnly));
        upload.write("hello\n");
        upload.close();
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CWharfView* pView = app.View();
        const QString url = QString("tftp://127.0.0.1:%1/boot.img").arg(setup.nPort);
        QVERIFY(RunClient({"curl", "-s", "-o", clientDir.path() + "/boot.img", url}));
        QVERIFY(RunClient({"tftp", "-m", "netascii", "127.0.0.1", QString::number(setup.nPort),
                           "-c", "put", upload.fileName(), "up.txt"}));
        pView->FlushControls();
        QCOMPARE(Find<QLineEdit>(pView, 1000)->text(), QString("127.0.0.1"));
        QCOMPARE(Find<QLineEdit>(pView, 1004)->text(), setup.files.path() + "/out/boot.img");
        QCOMPARE(Find<QCheckBox>(pView, 1002)->checkState(), Qt::Checked);   // Tx
        QCOMPARE(Find<QCheckBox>(pView, 1003)->checkState(), Qt::Unchecked); // Rx
        QCOMPARE(Find<QCheckBox>(pView, 1040)->checkState(), Qt::Checked);   // Bin
        QCOMPARE(Find<QLineEdit>(pView, 1006)->text(), QString("127.0.0.1"));
        QCOMPARE(Find<QLineEdit>(pView, 1010)->text(), setup.files.path() + "/in/up.txt");
        QCOMPARE(Find<QCheckBox>(pView, 1008)->checkState(), Qt::Unchecked);
        QCOMPARE(Find<QCheckBox>(pView, 1009)->checkState(), Qt::Checked);
        QCOMPARE(Find<QCheckBox>(pView, 1041)->checkState(), Qt::Unchecked); // netascii
        if (viewType == 1) {
            QCOMPARE(Find<QProgressBar>(pView, 1007)->value(), 100);
        } else {
            QCOMPARE(Find<QLineEdit>(pView, 1035)->text(), QString("100"));
            QCOMPARE(Find<QLineEdit>(pView, 1005)->text(), QString("300000/300000"));
            QCOMPARE(Find<QLineEdit>(pView, 1036)->text(), QString("?"));
            QCOMPARE(Find<QLineEdit>(pView, 1011)->text(), QString("7"));
        }
        // The next tick releases both slots: the rows go grey, texts stay.
        pView->OnTimer();
        pView->FlushControls();
        QCOMPARE(app.m_pListener->m_nActiveClients, 0);
        for (int nId : {1002, 1003, 1040, 1008, 1009, 1041})
            QCOMPARE(Find<QCheckBox>(pView, nId)->checkState(), Qt::PartiallyChecked);
        QCOMPARE(Find<QLineEdit>(pView, 1000)->text(), QString("127.0.0.1"));
    }

    void viewControlsCarryTheirIds() {
        Setup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CWharfView* pView = app.View();
        const QList<int> bars{1007, 1013, 1019, 1025, 1030};
        for (int r = 0; r < 5; ++r) {
            QVERIFY(Find<QLineEdit>(pView, 1000 + 6 * r));
            QVERIFY(Find<QCheckBox>(pView, 1002 + 6 * r));
            QVERIFY(Find<QCheckBox>(pView, 1003 + 6 * r));
            QVERIFY(Find<QLineEdit>(pView, 1004 + 6 * r));
            QVERIFY(Find<QLineEdit>(pView, 1005 + 6 * r));
            QVERIFY(Find<QProgressBar>(pView, bars[r]));
            QVERIFY(Find<QLineEdit>(pView, 1035 + r));
            QVERIFY(Find<QCheckBox>(pView, 1040 + r));
        }
        QCOMPARE(pView->m_rows[4].pProgress->objectName(), QString("1030"));
    }

    void progressMessagesFollowTheViewType() {
        Setup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CWharfView* pView = app.View();
        pView->TransferProgress(3, {true, 10000, 5700});
        pView->FlushControls();
        QCOMPARE(pView->m_rows[2].pProgress->value(), 57);
        QCOMPARE(pView->m_rows[2].pPercent->text(), QString());
        pView->SetViewType(0);
        pView->TransferProgress(3, {true, 10000, 6000});
        pView->FlushControls();
        QCOMPARE(pView->m_rows[2].pPercent->text(), QString("60"));
        QCOMPARE(pView->m_rows[2].pBytes->text(), QString("10000/6000"));
        QCOMPARE(pView->m_rows[2].pProgress->value(), 57); // the bar is left as it was
        // A retransmission greys the file until the next progress.
        pView->Retransmitted(3);
        pView->FlushControls();
        QVERIFY(!pView->m_rows[2].pFile->isEnabled());
        pView->TransferProgress(3, {true, 10000, 6000});
        pView->FlushControls();
        QVERIFY(pView->m_rows[2].pFile->isEnabled());
        // A write's progress, shown as "?", leaves the bar where it is.
        pView->SetViewType(1);
        pView->TransferProgress(3, {false, 0, 7000});
        pView->FlushControls();
        QCOMPARE(pView->m_rows[2].pProgress->value(), 57);
    }

    // A hand-edited bDisplay: whatever is shown is also what the progress
    // messages update.
    void storedViewTypeShowsWhatUpdates_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<bool>("bars");
        QTest::addColumn<int>("afterToggle");
        QTest::newRow("0: counts") << 0 << false << 1;
        QTest::newRow("1: bars") << 1 << true << 0;
        QTest::newRow("2: bars") << 2 << true << 0;
        QTest::newRow("255: bars") << 255 << true << 0;
        QTest::newRow("-1: bars") << -1 << true << 0;
    }
    void storedViewTypeShowsWhatUpdates() {
        QFETCH(int, stored);
        QFETCH(bool, bars);
        QFETCH(int, afterToggle);
        Setup setup;
        QSettings(setup.home.Path() + "/Harnwick/Wharfkeep.ini", QSettings::IniFormat)
            .setValue("bDisplay", stored);
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CWharfView* pView = app.View();
        auto& row = pView->m_rows[1];
        QCOMPARE(row.pProgress->isVisible(), bars);
        QCOMPARE(row.pPercent->isVisible(), !bars);
        QCOMPARE(row.pBytes->isVisible(), !bars);
        pView->TransferProgress(2, {true, 1000, 420});
        pView->FlushControls();
        if (bars) {
            QCOMPARE(row.pProgress->value(), 42);
        } else {
            QCOMPARE(row.pPercent->text(), QString("42"));
            QCOMPARE(row.pBytes->text(), QString("1000/420"));
        }
        app.MainFrame()->Action(ID_PROGRESS_VIEW)->trigger();
        QCOMPARE(setup.Stored("bDisplay").toInt(), afterToggle);
        QCOMPARE(row.pProgress->isVisible(), afterToggle == 1);
    }

    // Screen readers, and tests that drive the windows through
    // accessibility, find every control by a name.
    void everyControlIsNamed_data() {
        QTest::addColumn<QString>("window");
        for (const char* window : {"main frame", "main frame, 64 rows", "options sheet", "alert",
                                   "about", "multihomed, server", "multihomed, client",
                                   "listening address", "port change", "stop serving"})
            QTest::newRow(window) << window;
    }
    void everyControlIsNamed() {
        QFETCH(QString, window);
        Setup setup(window.endsWith("64 rows") ? QVariantMap{{"MaxClients", 64}} : QVariantMap());
        CWharfApp app;
        QVERIFY(app.InitInstance());
        std::unique_ptr<QWidget> pOwned;
        std::unique_ptr<CBusyDialogWindow> pBusy;
        QWidget* pWindow = nullptr;
        if (window.startsWith("main frame")) {
            pWindow = app.MainFrame();
        } else if (window == "options sheet") {
            auto* pSheet = new COptions(app);
            pOwned.reset(pSheet);
            pSheet->show();
            for (int i = 0; i < pSheet->Tabs()->count(); ++i)
                pSheet->Tabs()->setCurrentIndex(i);
        } else if (window == "alert") {
            auto* pAlert = new CClientAlert;
            pOwned.reset(pAlert);
            pAlert->ShowAlert("127.0.0.1");
        } else if (window == "about") {
            pOwned = std::make_unique<CAbout>();
        } else if (window.startsWith("multihomed")) {
            pOwned = std::make_unique<CMultihomedDlg>(
                QStringList{"127.0.0.1", "127.0.0.2"},
                window.endsWith("server") ? AddressRole::Server : AddressRole::Client);
        } else if (window == "listening address") {
            pOwned = std::make_unique<CListenAddressDlg>(AddressRole::Server);
        } else {
            pBusy = std::make_unique<CBusyDialogWindow>(
                window == "port change" ? BusyDialogKind::PortChange : BusyDialogKind::StopServing);
            pWindow = pBusy->Window();
        }
        if (pOwned)
            pWindow = pOwned.get();
        QVERIFY(pWindow);
        QVERIFY(!AccessibleName(pWindow).isEmpty());
        const QStringList unnamed = UnnamedControls(pWindow);
        QVERIFY2(unnamed.isEmpty(), qPrintable("unnamed: " + unnamed.join(", ")));
    }

    void viewRowsAreNamedByColumnAndRow_data() {
        QTest::addColumn<int>("clients");
        QTest::newRow("five") << 5;
        QTest::newRow("one") << 1;
        QTest::newRow("64") << 64;
        QTest::newRow("the most") << kMaxSlots;
    }
    void viewRowsAreNamedByColumnAndRow() {
        QFETCH(int, clients);
        Setup setup({{"MaxClients", clients}});
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CWharfView* pView = app.View();
        QCOMPARE(pView->RowCount(), clients);
        // The first five rows keep their ids.
        for (int r = 1; r <= std::min(clients, 5); ++r) {
            const int base = 1000 + 6 * (r - 1);
            const QList<std::pair<int, QString>> names{
                {base, "Client"},   {base + 2, "Tx"},    {base + 3, "Rx"},
                {base + 4, "File"}, {base + 5, "Bytes"}, {r == 5 ? 1030 : base + 7, "Progress"},
                {1034 + r, "%"},    {1039 + r, "Bin"}};
            for (const auto& [nId, column] : names)
                QCOMPARE(AccessibleName(pView->Control(nId)), QString("%1 %2").arg(column).arg(r));
        }
        // Every control of every row is found by an id of its own, which no
        // heading or other row has.
        QSet<int> ids{101, 1031, 1032, 1033};
        const QStringList columns{"Client", "Tx", "Rx", "File", "Bytes", "Progress", "%", "Bin"};
        for (int r = 1; r <= clients; ++r) {
            const QList<QWidget*> cells = Cells(pView->m_rows[r - 1]);
            for (int c = 0; c < cells.size(); ++c) {
                const int nId = cells[c]->objectName().toInt();
                QVERIFY2(!ids.contains(nId), qPrintable(cells[c]->objectName()));
                ids << nId;
                QCOMPARE(pView->Control(nId), cells[c]);
                QCOMPARE(AccessibleName(cells[c]), QString("%1 %2").arg(columns[c]).arg(r));
            }
        }
    }

    // Five rows fill the view; more scroll beneath the headings, and the
    // scroll bar hides nothing.
    void viewRowsFitOrScroll_data() {
        QTest::addColumn<int>("clients");
        QTest::addColumn<int>("viewType");
        QTest::newRow("five") << 5 << 1;
        QTest::newRow("six") << 6 << 1;
        QTest::newRow("64, bars") << 64 << 1;
        QTest::newRow("64, counts") << 64 << 0;
    }
    void viewRowsFitOrScroll() {
        QFETCH(int, clients);
        QFETCH(int, viewType);
        Setup setup({{"MaxClients", clients}, {"bDisplay", viewType}});
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CWharfView* pView = app.View();
        QScrollArea* pArea = pView->RowsArea();
        QScrollBar* pBar = pArea->verticalScrollBar();
        const bool bScrolls = clients > 5;
        QCOMPARE(pBar->isVisible(), bScrolls);
        QCOMPARE(pBar->maximum() > 0, bScrolls);
        // Whatever shows lies within the view and left of the scroll bar;
        // the headings stay above the rows area.
        const int nRight = bScrolls ? pBar->mapTo(pView, QPoint()).x() : pView->width();
        QList<QWidget*> shown;
        for (QLabel* pHeading : pView->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
            QVERIFY(pHeading->geometry().bottom() < pArea->geometry().top());
            shown << pHeading;
        }
        for (const CWharfView::Row& row : pView->m_rows)
            shown << Cells(row);
        for (QWidget* p : shown) {
            const QRect box(p->mapTo(pView, QPoint()), p->size());
            QVERIFY2(!p->isVisibleTo(pView) || (box.left() >= 0 && box.right() < nRight),
                     qPrintable(AccessibleName(p) + " " + p->objectName()));
        }
        // The bar scrolls the last row into view, whole.
        pBar->setValue(pBar->maximum());
        const QRect viewport(QPoint(), pArea->viewport()->size());
        for (QWidget* p : Cells(pView->m_rows.back()))
            QVERIFY(viewport.contains(QRect(p->mapTo(pArea->viewport(), QPoint()), p->size())));
    }

    // A report shows in its own row and nowhere else; the rows follow the
    // setting, and a live transfer keeps its row when the setting drops.
    void viewRowsFollowTheSetting_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<QStringList>("steps"); // set:N, tick, report:SLOT, free:SLOT
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("shown"); // the rows with a transfer
        using L = QList<int>;
        QTest::newRow("64, report to the last") << 64 << QStringList{"report:64"} << 64 << L{64};
        QTest::newRow("64, report to row 6") << 64 << QStringList{"report:6"} << 64 << L{6};
        QTest::newRow("raised, next tick") << 5 << QStringList{"set:64", "tick"} << 64 << L{};
        QTest::newRow("raised, next client")
            << 5 << QStringList{"set:12", "report:1"} << 12 << L{1};
        QTest::newRow("slot beyond the rows") << 5 << QStringList{"report:9"} << 9 << L{9};
        QTest::newRow("slot beyond the most") << 5 << QStringList{"report:257"} << 5 << L{};
        QTest::newRow("lowered, free rows go") << 64 << QStringList{"set:3", "tick"} << 3 << L{};
        QTest::newRow("lowered, a live row stays")
            << 64 << QStringList{"report:40", "set:5", "tick"} << 40 << L{40};
        QTest::newRow("lowered, then the live row is freed")
            << 64 << QStringList{"report:40", "set:5", "tick", "free:40", "tick"} << 5 << L{};
        QTest::newRow("lowered, a client arrives below")
            << 64 << QStringList{"report:40", "set:5", "report:2"} << 40 << L{2, 40};
    }
    void viewRowsFollowTheSetting() {
        QFETCH(int, stored);
        QFETCH(QStringList, steps);
        QFETCH(int, rows);
        QFETCH(QList<int>, shown);
        Setup setup({{"MaxClients", stored}});
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CWharfView* pView = app.View();
        QCOMPARE(pView->RowCount(), stored);
        for (const QString& step : steps) {
            const int n = step.section(':', 1).toInt();
            if (step.startsWith("set:")) {
                app.m_nMaxClients = n;
            } else if (step == "tick") {
                pView->OnTimer();
            } else if (step.startsWith("free:")) {
                pView->SlotFreed(n);
            } else {
                pView->ClientArrived(n, QString("10.0.0.%1").arg(n));
                pView->TransferDetails(n, "/srv/boot.img", true, true);
            }
        }
        pView->FlushControls();
        QCOMPARE(pView->RowCount(), rows);
        QCOMPARE(pView->RowsArea()->verticalScrollBar()->isVisible(), rows > 5);
        for (int r = 1; r <= rows; ++r) {
            const CWharfView::Row& row = pView->m_rows[r - 1];
            const bool bHere = shown.contains(r);
            QCOMPARE(row.pClient->text(), bHere ? QString("10.0.0.%1").arg(r) : QString());
            QCOMPARE(row.pTx->checkState(), bHere ? Qt::Checked : Qt::PartiallyChecked);
        }
    }

    // However many transfers report however often, the controls follow a
    // few times a second, and only in the rows that changed.
    void viewRefreshesOnlyChangedRows() {
        Setup setup({{"MaxClients", 64}});
        CWharfApp app;
        QVERIFY(app.InitInstance());
        CWharfView* pView = app.View();
        QList<int> changes(64);
        for (int r = 0; r < 64; ++r)
            connect(pView->m_rows[r].pProgress, &QProgressBar::valueChanged, this,
                    [&changes, r] { ++changes[r]; });
        for (int nBlock = 1; nBlock <= 50; ++nBlock)
            for (int nSlot = 1; nSlot <= 64; ++nSlot)
                pView->TransferProgress(nSlot, {true, 100, uint64_t(nBlock)});
        QCOMPARE(changes, QList<int>(64, 0)); // nothing per block
        QTRY_COMPARE_WITH_TIMEOUT(changes, QList<int>(64, 1), 20 * CWharfView::kRefreshMs);
        QCOMPARE(pView->m_rows[63].pProgress->value(), 50);
        // A row nobody reported to is left as it is.
        pView->m_rows[9].pClient->setText("left alone");
        pView->ClientArrived(20, "10.0.0.20");
        pView->FlushControls();
        QCOMPARE(pView->m_rows[19].pClient->text(), QString("10.0.0.20"));
        QCOMPARE(pView->m_rows[9].pClient->text(), QString("left alone"));
    }

    void busyDialogsAskWithTheirOwnTexts_data() {
        QTest::addColumn<bool>("portChange");
        QTest::addColumn<QString>("button");
        QTest::newRow("stop, keep clients") << false << "Keep Clients";
        QTest::newRow("stop, drop clients") << false << "Drop Clients";
        QTest::newRow("port change, keep clients") << true << "Keep Clients";
        QTest::newRow("port change, drop clients") << true << "Drop Clients";
    }
    void busyDialogsAskWithTheirOwnTexts() {
        QFETCH(bool, portChange);
        QFETCH(QString, button);
        Setup setup;
        setup.WriteOut("f.bin", QByteArray(5000, 'f'));
        CWharfApp app;
        QVERIFY(app.InitInstance());
        UdpPeer client;
        client.SendTo(setup.nPort, MakeRequest(1, "f.bin", "octet"));
        QVERIFY(client.Receive());
        const uint16_t nNewPort = FreeUdpPort();
        if (portChange) {
            app.m_strPort = QString::number(nNewPort);
            app.OnPortChanged();
        } else {
            app.OnStopServing();
        }
        CBusyDialog* pBusy = portChange ? app.m_pPortChangeDlg : app.m_pStopDlg;
        QVERIFY(pBusy);
        QDialog* pDialog = static_cast<CBusyDialogWindow*>(pBusy)->Window();
        QVERIFY(pDialog->isVisible());
        QCOMPARE(pDialog->windowTitle(), QString("Executive decision time ..."));
        QVERIFY(!(pDialog->windowFlags() & Qt::WindowSystemMenuHint));
        QVERIFY(!(pDialog->windowFlags() & Qt::WindowCloseButtonHint));
        QStringList texts;
        for (QLabel* pLabel : pDialog->findChildren<QLabel*>())
            texts << pLabel->text();
        QCOMPARE(texts.size(), portChange ? 3 : 2);
        QVERIFY(
            texts[0].startsWith("The server is currently busy, if you press the 'Drop Clients' "
                                "button now all existing connections will be dropped and the "));
        QPushButton* pButton = nullptr;
        for (QPushButton* p : pDialog->findChildren<QPushButton*>())
            if (p->text() == button)
                pButton = p;
        QVERIFY(pButton);
        QTest::mouseClick(pButton, Qt::LeftButton);
        QCOMPARE(app.m_pPortChangeDlg, nullptr);
        QCOMPARE(app.m_pStopDlg, nullptr);
        const bool bDropped = button == "Drop Clients";
        QCOMPARE(app.m_pListener->m_nActiveClients, bDropped ? 0 : 1);
        const uint16_t nListening = portChange && bDropped ? nNewPort : setup.nPort;
        QCOMPARE(app.MainFrame()->windowTitle(),
                 QString("127.0.0.1.%1 - Wharfkeep").arg(nListening));
        PumpEvents(20);
        QVERIFY(VisibleWindows().size() == 1); // the frame alone
    }

    void closingTheFrameEndsTheProgramWhileABusyDialogWaits() {
        Setup setup;
        setup.WriteOut("f.bin", QByteArray(5000, 'f'));
        CWharfApp app;
        QVERIFY(app.InitInstance());
        UdpPeer client;
        client.SendTo(setup.nPort, MakeRequest(1, "f.bin", "octet"));
        QVERIFY(client.Receive());
        app.OnStopServing();
        QVERIFY(app.m_pStopDlg);
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, [] { qApp->exit(1); });
        guard.start(5000);
        CMainFrame* pFrame = app.MainFrame();
        QTimer::singleShot(0, pFrame, [pFrame] { pFrame->close(); });
        QCOMPARE(qApp->exec(), 0); // 1: still running when the guard fired
        QCOMPARE(lastClosed.size(), 1);
    }

    void failedRestartSaysNotListening() {
        Setup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        UdpPeer squatter;
        app.m_strPort = QString::number(squatter.Port());
        MessageBoxRecorder boxes;
        app.OnPortChanged();
        QCOMPARE(app.MainFrame()->windowTitle(), QString("not listening - Wharfkeep"));
        QCOMPARE(boxes.texts.last(), QString("Unable to initialise server operations on the new "
                                             "port\n\nChoose another port in System, Setup"));
        QVERIFY(app.MainFrame()->isVisible());
    }

    void settingsSavedAtShutdown() {
        Setup setup;
        {
            CWharfApp app;
            QVERIFY(app.InitInstance());
            app.m_strTimeout = "45";
            app.m_strAllow[2] = "10.*.*.*";
        }
        QCOMPARE(setup.Stored("Timeout").toString(), QString("45"));
        QCOMPARE(setup.Stored("Allow3").toString(), QString("10.*.*.*"));
    }

    void multihomedDialogs_data() {
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("hasBox");
        QTest::newRow("server") << int(AddressRole::Server)
                                << "Multihomed Host - Please select Servers Host Address" << true;
        QTest::newRow("client") << int(AddressRole::Client)
                                << "Multihomed Host - Please select Clients Host Address" << false;
    }
    void multihomedDialogs() {
        QFETCH(int, role);
        QFETCH(QString, title);
        QFETCH(bool, hasBox);
        CMultihomedDlg dialog({"127.0.0.1", "10.0.0.5"}, AddressRole(role));
        QCOMPARE(dialog.windowTitle(), title);
        QCOMPARE(dialog.findChild<QCheckBox*>("1035") != nullptr, hasBox);
        QListWidget* pList = dialog.findChild<QListWidget*>("1034");
        QCOMPARE(pList->count(), 2);
        QVERIFY(pList->selectedItems().isEmpty());
        dialog.show();
        dialog.accept();
        QCOMPARE(dialog.m_nSelected, -1); // nothing selected
        pList->item(1)->setSelected(true);
        if (hasBox)
            dialog.findChild<QCheckBox*>("1035")->setChecked(true);
        dialog.accept();
        QCOMPARE(dialog.m_nSelected, 1);
        QCOMPARE(dialog.m_bDontAskAgain, hasBox ? 1 : 0);
    }

    // With nothing selected no entry looks chosen, not even the one the
    // keyboard focus rests on; a selection shows as usual.
    void listBoxShowsNoFocusMarkWhileNothingIsSelected() {
        CMultihomedDlg dialog({"192.0.2.2", "127.0.0.1"}, AddressRole::Server);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QListWidget* pList = dialog.findChild<QListWidget*>("1034");
        auto picture = [pList] { return pList->viewport()->grab().toImage(); };
        dialog.findChild<QPushButton*>("1")->setFocus();
        const QImage withoutFocus = picture();
        pList->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(pList->hasFocus());
        QCOMPARE(pList->currentRow(), 0); // the keyboard's place, not a choice
        QVERIFY(picture() == withoutFocus);
        pList->item(0)->setSelected(true);
        QVERIFY(picture() != withoutFocus);
    }

    void listenAddressDialogTexts_data() {
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("who");
        QTest::newRow("server") << int(AddressRole::Server) << "server";
        QTest::newRow("client") << int(AddressRole::Client) << "client";
    }
    void listenAddressDialogTexts() {
        QFETCH(int, role);
        QFETCH(QString, who);
        CListenAddressDlg dialog{AddressRole(role)};
        QCOMPARE(dialog.windowTitle(), QString("Listening Address"));
        QStringList texts;
        for (QLabel* pLabel : dialog.findChildren<QLabel*>())
            texts << pLabel->text();
        QVERIFY(texts.contains("Server I.P. Address"));
        QVERIFY(
            texts.contains("It should be noted that specifying an unusable address will prevent "
                           "the " +
                           who +
                           " from operating, you must specify an address that "
                           "your system recognises, simply entering any number that comes to "
                           "mind does not usually work !"));
        QTest::keyClicks(dialog.findChild<QLineEdit*>("1006"), "10.0.0.7");
        dialog.accept();
        QCOMPARE(dialog.m_strAddress, QString("10.0.0.7"));
    }
};

QTEST_MAIN(TestWharfApp)
#include "tst_wharfapp.moc"
