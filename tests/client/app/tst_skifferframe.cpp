// The client's frame and the windows beside the form: options sheet, Rename
// Buttons, about sheet, status bar and clock, caption, accessible names, and
// the time-out held while a modal window is open.
#include "ClientApp.h"
#include "Clock.h"
#include "OptionsSheet.h"

#include <QAccessible>
#include <QCheckBox>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabWidget>
#include <ctime>

namespace {
// What a user does in the options sheet before pressing OK or Cancel.
struct SheetInput {
    bool bShowOutbound = true; // the second page is opened
    QString inbound;
    bool bOverWrite = false;
    QString outbound;
    bool bTruncate = false;
    bool bOk = true;
};

// What a user operates or reads, as opposed to labels and frames.
bool IsControl(QAccessible::Role role) {
    return role == QAccessible::EditableText || role == QAccessible::PushButton ||
           role == QAccessible::CheckBox || role == QAccessible::ComboBox ||
           role == QAccessible::ProgressBar || role == QAccessible::Graphic ||
           role == QAccessible::PageTabList;
}
} // namespace
Q_DECLARE_METATYPE(SheetInput)

class TestSkifferFrame : public QObject {
    Q_OBJECT
private slots:
    void optionsSheet_data() {
        QTest::addColumn<ProfileEntries>("profile");
        QTest::addColumn<SheetInput>("input");
        QTest::addColumn<ProfileEntries>("stored"); // after the sheet, "" = absent
        using P = ProfileEntries;
        const P before{{"Inbound", "/srv/in/"},
                       {"Outbound", "/srv/out/"},
                       {"OverWrite", "No"},
                       {"Truncate", "No"},
                       {"Default IP", "2x"}};
        P written{{"Inbound", "/data/in/"}, {"Outbound", "/data/out/"}, {"OverWrite", "Yes"},
                  {"Truncate", "Yes"},      {"Default IP", "2"},        {"Window", "1"}};
        QTest::newRow("OK writes all six, separators added")
            << before << SheetInput{true, "/data/in", true, "/data/out", true, true} << written;
        QTest::newRow("typed with their separators")
            << before << SheetInput{true, "/data/in/", true, "/data/out/", true, true} << written;
        QTest::newRow("Cancel changes nothing")
            << before << SheetInput{true, "/data/in", true, "/data/out", true, false} << before;
        QTest::newRow("empty paths stay empty")
            << before << SheetInput{true, "", false, "", false, true}
            << P{{"Inbound", ""},    {"Outbound", ""},    {"OverWrite", "No"},
                 {"Truncate", "No"}, {"Default IP", "2"}, {"Window", "1"}};
        QTest::newRow("first start: Default IP written too")
            << P{} << SheetInput{true, "in", false, "", false, true}
            << P{{"Inbound", "in/"}, {"Outbound", ""},    {"OverWrite", "No"},
                 {"Truncate", "No"}, {"Default IP", "0"}, {"Window", "1"}};
        QTest::newRow("outbound page never opened keeps its values")
            << P{{"Outbound", "/srv/out"}, {"Truncate", "YES"}}
            << SheetInput{false, "/x", false, "ignored", false, true}
            << P{{"Inbound", "/x/"},  {"Outbound", "/srv/out/"}, {"OverWrite", "No"},
                 {"Truncate", "Yes"}, {"Default IP", "0"},       {"Window", "1"}};
    }
    void optionsSheet() {
        QFETCH(ProfileEntries, profile);
        QFETCH(SheetInput, input);
        QFETCH(ProfileEntries, stored);
        ProfileEntries entries;
        for (auto it = profile.begin(); it != profile.end(); ++it)
            entries.insert("Options/" + it.key(), it.value());
        ClientApp c(entries);
        QStringList shownOnOpening;
        c.script = [&](QDialog& dialog) {
            auto& sheet = static_cast<COptionsSheet&>(dialog);
            dialog.show();
            shownOnOpening << sheet.m_pTabs->tabText(sheet.m_pTabs->currentIndex())
                           << sheet.windowTitle() << sheet.m_pIncoming->m_pPath->text()
                           << (sheet.m_pIncoming->m_pFlag->isChecked() ? "on" : "off");
            sheet.m_pIncoming->m_pPath->setText(input.inbound);
            sheet.m_pIncoming->m_pFlag->setChecked(input.bOverWrite);
            if (input.bShowOutbound) {
                sheet.m_pTabs->setCurrentIndex(1);
                sheet.m_pOutgoing->m_pPath->setText(input.outbound);
                sheet.m_pOutgoing->m_pFlag->setChecked(input.bTruncate);
            }
            if (input.bOk)
                sheet.accept();
            else
                sheet.reject();
            return sheet.result();
        };
        c.Frame()->Action(ID_SETUP)->trigger();
        QCOMPARE(c.dialogs, QStringList{"110"});
        QCOMPARE(
            shownOnOpening,
            (QStringList{"Inbound", "File Locations & Options", profile.value("Inbound"),
                         profile.value("OverWrite").compare("yes", Qt::CaseInsensitive) ? "off"
                                                                                        : "on"}));
        for (const char* key :
             {"Inbound", "Outbound", "OverWrite", "Truncate", "Default IP", "Window"})
            QCOMPARE(c.Stored("Options", key), stored.value(key));
        // The settings in memory match what was stored.
        if (input.bOk) {
            QCOMPARE(c.app->m_strInbound, stored.value("Inbound"));
            QCOMPARE(c.app->m_strOutbound, stored.value("Outbound"));
            QCOMPARE(c.app->m_bOverWrite, stored.value("OverWrite") == "Yes" ? 1 : 0);
            QCOMPARE(c.app->m_bTruncate, stored.value("Truncate") == "Yes" ? 1 : 0);
        }
    }

    void sheetTexts() {
        COptionsSheet sheet;
        QCOMPARE(sheet.m_pTabs->count(), 3);
        QCOMPARE(sheet.m_pTabs->tabText(0), QString("Inbound"));
        QCOMPARE(sheet.m_pTabs->tabText(1), QString("Outbound"));
        QCOMPARE(sheet.m_pTabs->tabText(2), QString("Transfers"));
        QCOMPARE(sheet.m_pIncoming->m_pFlag->text(), QString("Overwrite exisiting files"));
        QCOMPARE(sheet.m_pOutgoing->m_pFlag->text(), QString("Truncate long filenames"));
        QCOMPARE(sheet.m_pIncoming->objectName(), QString("111"));
        QCOMPARE(sheet.m_pOutgoing->objectName(), QString("112"));
        QCOMPARE(sheet.m_pTransfers->objectName(), QString("113"));
    }

    // The window as typed in the sheet: what is kept in memory and in the
    // profile, and what the next fetch and the next dropped file ask for.
    // The sheet opens on the profile's value.
    void windowField_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("window");
        QTest::newRow("as typed") << "16" << 16;
        QTest::newRow("empty is lock-step") << "" << 1;
        QTest::newRow("0 is lock-step") << "0" << 1;
        QTest::newRow("above the largest") << "70000" << 65535;
        QTest::newRow("digits only") << "3x2" << 32;
    }
    void windowField() {
        QFETCH(QString, typed);
        QFETCH(int, window);
        UdpPeer server;
        ClientApp c({{"Options/Window", "8"}});
        QString shown;
        c.script = [&](QDialog& dialog) {
            auto& sheet = static_cast<COptionsSheet&>(dialog);
            dialog.show();
            sheet.m_pTabs->setCurrentIndex(2);
            QLineEdit* pEdit = sheet.m_pTransfers->m_pWindow;
            shown = pEdit->text();
            pEdit->setFocus();
            pEdit->selectAll();
            QTest::keyClick(pEdit, Qt::Key_Delete);
            QTest::keyClicks(pEdit, typed);
            sheet.accept();
            return sheet.result();
        };
        c.Frame()->Action(ID_SETUP)->trigger();
        QCOMPARE(shown, QString("8"));
        QCOMPARE(c.app->m_nWindow, window);
        QCOMPARE(c.Stored("Options", "Window"), QString::number(window));
        // A window beyond what the socket's buffers hold is cut down by the
        // transfer itself; smaller ones go out as set.
        if (window > 32)
            return;
        c.app->m_strInbound = c.files.path() + "/";
        c.Fill("127.0.0.1", server.Port(), "f.bin", "f.bin");
        c.Click(1005);
        QVERIFY(c.Running());
        const int nFetch = c.Transfer()->m_nWindowSize;
        c.View()->OnAbort();
        c.Write("s.bin", "sent");
        QVERIFY(c.View()->SendFile(c.Path("s.bin")));
        QCOMPARE((QList<int>{nFetch, c.Transfer()->m_nWindowSize}), (QList<int>{window, window}));
    }

    void confirmedInboundFolderIsUsed() {
        UdpPeer server;
        ClientApp c;
        QDir(c.files.path()).mkdir("in");
        c.script = [&](QDialog& dialog) {
            auto& sheet = static_cast<COptionsSheet&>(dialog);
            dialog.show();
            sheet.m_pIncoming->m_pPath->setText(c.files.path() + "/in");
            sheet.accept();
            return sheet.result();
        };
        c.Frame()->Action(ID_SETUP)->trigger();
        c.Fill("127.0.0.1", server.Port(), "x.bin", "x.bin");
        c.Click(1005);
        uint16_t nFrom = 0;
        QVERIFY(server.Receive(2000, &nFrom));
        QVERIFY(server.SendTo(nFrom, QByteArray("\0\3\0\1xyz", 7)));
        QVERIFY(c.WaitForEnd());
        QCOMPARE(c.Read("in/x.bin"), QByteArray("xyz"));
    }

    void renameButtons() {
        ClientApp c({{"Options/Change Buttons", "No"}});
        QStringList seen;
        for (int i = 0; i < 3; ++i) {
            c.Frame()->Action(ID_RENAME_BUTTONS)->trigger();
            seen << c.Control<QPushButton>(1004)->text() + "/" +
                        c.Control<QPushButton>(1005)->text() + " " +
                        c.Stored("Options", "Change Buttons");
        }
        QCOMPARE(seen, (QStringList{"Put/Get Yes", "Send/Fetch No", "Put/Get Yes"}));
    }

    void renamedButtonsStillDoTheirWork() {
        UdpPeer server;
        ClientApp c({{"Options/Change Buttons", "Yes"}});
        c.app->m_strInbound = c.files.path() + "/";
        c.Fill("127.0.0.1", server.Port(), "l.bin", "r.bin");
        QCOMPARE(c.Control<QPushButton>(1005)->text(), QString("Get"));
        c.Click(1005);
        const std::optional<QByteArray> request = server.Receive();
        QVERIFY(request);
        QCOMPARE(request->at(1), '\1'); // a read request
    }

    void aboutSheet() {
        ClientApp c;
        c.Frame()->Action(ID_APP_ABOUT)->trigger();
        QPointer<CAbout> pAbout = c.app->m_pAbout;
        QVERIFY(pAbout);
        QVERIFY(pAbout->isVisible());
        QVERIFY(!pAbout->isModal());
        QCOMPARE(pAbout->windowTitle(), QString("About Skiffer Client"));
        QCOMPARE(pAbout->Tabs()->tabText(pAbout->Tabs()->currentIndex()), QString("Version"));
        QCOMPARE(pAbout->Tabs()->tabText(0), QString("The Company"));
        QStringList lines;
        for (QLabel* pLabel : pAbout->findChildren<QLabel*>())
            lines << pLabel->text();
        QVERIFY(lines.contains("Version 5.0"));
        QVERIFY(pAbout->findChildren<QPushButton*>().isEmpty());
        // A second About while it is open does nothing.
        c.Frame()->Action(ID_APP_ABOUT)->trigger();
        QCOMPARE(c.app->m_pAbout.data(), pAbout.data());
        int nOpen = 0;
        for (QWidget* pTop : QApplication::topLevelWidgets())
            nOpen += qobject_cast<CAbout*>(pTop) != nullptr ? 1 : 0;
        QCOMPARE(nOpen, 1);
        // Enter is OK: the sheet goes, and About opens a new one.
        QTest::keyClick(pAbout, Qt::Key_Return);
        QTRY_VERIFY(!pAbout);
        QVERIFY(!c.app->m_pAbout);
        c.Frame()->Action(ID_APP_ABOUT)->trigger();
        QVERIFY(c.app->m_pAbout);
        c.app->m_pAbout->close();
        QTRY_VERIFY(!c.app->m_pAbout);
    }

    void aboutSheetGoesWithTheProgram() {
        QPointer<CAbout> pAbout;
        {
            ClientApp c;
            c.Frame()->Action(ID_APP_ABOUT)->trigger();
            pAbout = c.app->m_pAbout;
            QVERIFY(pAbout);
        }
        QVERIFY(!pAbout);
    }

    void menuAndPrompts_data() {
        QTest::addColumn<int>("nId");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("shortcut");
        QTest::newRow("Send") << 57601 << "&Send...\tCtrl+S"
                              << "Select a file to Send"
                              << "Ctrl+S";
        QTest::newRow("Abort") << 32773 << "&Abort"
                               << "Abort the current transfer"
                               << "";
        QTest::newRow("Exit") << 57665 << "E&xit"
                              << "Quit Skiffer Client"
                              << "";
        QTest::newRow("Setup") << 32771 << "&Setup"
                               << "Set up transfer options"
                               << "";
        QTest::newRow("Rename") << 32772 << "&Rename Buttons"
                                << "Change button names"
                                << "";
        QTest::newRow("Index") << 57666 << "&Index"
                               << "List Help topics"
                               << "";
        QTest::newRow("Using Help") << 57668 << "&Using Help"
                                    << "Display instructions about how to use help"
                                    << "";
        QTest::newRow("About") << 57664 << "&About Skiffer..."
                               << "Display program information"
                               << "";
    }
    void menuAndPrompts() {
        QFETCH(int, nId);
        QFETCH(QString, text);
        QFETCH(QString, prompt);
        QFETCH(QString, shortcut);
        ClientApp c;
        QAction* pAction = c.Frame()->Action(nId);
        QVERIFY(pAction);
        QCOMPARE(pAction->text(), text);
        QCOMPARE(pAction->statusTip(), prompt);
        QCOMPARE(pAction->shortcut().toString(), shortcut);
    }

    void menuLayout() {
        ClientApp c;
        QStringList layout;
        for (QAction* pMenu : c.Frame()->menuBar()->actions()) {
            QStringList entries;
            for (QAction* pEntry : pMenu->menu()->actions())
                entries << (pEntry->isSeparator() ? "-" : pEntry->text());
            layout << pMenu->text() + ": " + entries.join(" | ");
        }
        QCOMPARE(layout, (QStringList{"&File: &Send...\tCtrl+S | - | &Abort | - | E&xit",
                                      "&Options: &Setup | &Rename Buttons",
                                      "&Help: &Index | &Using Help | - | &About Skiffer..."}));
    }

    void statusBarWhileAMenuIsOpen() {
        ClientApp c;
        c.app->ShowStatus("Received 10 bytes (1 blocks) - Done");
        QTRY_COMPARE(c.Status(), QString("Received 10 bytes (1 blocks) - Done"));
        QMenu* pFile = c.Frame()->menuBar()->actions().value(0)->menu();
        QVERIFY(c.Frame()->ClockPane()->isVisible());
        pFile->popup(QPoint(0, 0));
        QTRY_VERIFY(pFile->isVisible());
        // The prompt gets the whole bar, and the idle prompt follows it.
        QVERIFY(!c.Frame()->ClockPane()->isVisible());
        pFile->hide();
        QTRY_VERIFY(c.Frame()->ClockPane()->isVisible());
        QTRY_COMPARE(c.Status(), QString("Press F1 for Help"));
    }

    void clockShowsLocalTime() {
        ClientApp c;
        char szNow[64] = {};
        char szLater[64] = {};
        const std::time_t tNow = std::time(nullptr);
        std::tm local{};
        localtime_r(&tNow, &local);
        std::strftime(szNow, sizeof szNow, "%X", &local);
        const std::time_t tLater = tNow + 1;
        localtime_r(&tLater, &local);
        std::strftime(szLater, sizeof szLater, "%X", &local);
        QVERIFY2(c.Frame()->ClockPane()->text() == szNow ||
                     c.Frame()->ClockPane()->text() == szLater,
                 qPrintable(c.Frame()->ClockPane()->text()));
        // It moves on by itself.
        const QString first = c.Frame()->ClockPane()->text();
        QTRY_VERIFY_WITH_TIMEOUT(c.Frame()->ClockPane()->text() != first, 3000);
        QVERIFY(c.Frame()->ClockPane()->width() >=
                c.Frame()->statusBar()->fontMetrics().horizontalAdvance(
                    c.Frame()->ClockPane()->text()));
    }

    void captionFollowsTheTransferSocket() {
        ClientApp c;
        QCOMPARE(c.Frame()->windowTitle(), QString("Skiffer"));
        SetHostAddressProvider([] { return std::optional(QStringList{"127.0.0.2", "127.0.0.1"}); });
        c.app->m_nDefaultIP = 1;
        UdpPeer server;
        c.app->m_strInbound = c.files.path() + "/";
        c.Fill("127.0.0.1", server.Port(), "l.bin", "r.bin");
        c.Click(1005);
        PumpEvents(20);
        QCOMPARE(c.Frame()->windowTitle(), QString("127.0.0.2 - Skiffer"));
    }

    void modalWindowsHoldTheTimeOut_data() {
        QTest::addColumn<QString>("window");
        QTest::newRow("options sheet") << "sheet";
        QTest::newRow("message box") << "box";
        QTest::newRow("file dialog") << "file";
    }
    void modalWindowsHoldTheTimeOut() {
        QFETCH(QString, window);
        CTime::SetTestTime(100000);
        UdpPeer server;
        {
            ClientApp c;
            c.app->m_strInbound = c.files.path() + "/";
            c.Fill("127.0.0.1", server.Port(), "l.bin", "r.bin");
            c.Type(1003, "5");
            c.Click(1005);
            QVERIFY(server.Receive());
            bool bRanWhileOpen = false;
            auto whileOpen = [&] {
                // A minute passes with the window open; idle time goes on.
                CTime::AdvanceTestTime(60);
                for (long n = 0; n < 256; ++n)
                    c.app->OnIdle(n);
                PumpEvents(50);
                bRanWhileOpen = c.Running();
            };
            if (window == "sheet") {
                c.script = [&](QDialog&) {
                    whileOpen();
                    return int(QDialog::Rejected);
                };
                c.Frame()->Action(ID_SETUP)->trigger();
            } else if (window == "file") {
                CMainFrame::SetFileChooser([&](QWidget*) {
                    whileOpen();
                    return QString();
                });
                c.Frame()->Action(ID_FILE_OPEN)->trigger();
                CMainFrame::SetFileChooser(nullptr);
            } else {
                const MessageBoxHandler previous =
                    SetMessageBoxHandler([&](const QString&, unsigned) {
                        whileOpen();
                        return IDOK;
                    });
                AfxMessageBox("a question");
                SetMessageBoxHandler(previous);
            }
            QVERIFY(bRanWhileOpen);
            // The time-out counts from the closing.
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

    void blockSizeDialog() {
        CBlockSizeDlg dialog;
        QCOMPARE(dialog.objectName(), QString("136"));
        QCOMPARE(dialog.windowTitle(), QString("Transmission block size error"));
        QStringList texts;
        for (QLabel* pLabel : dialog.findChildren<QLabel*>())
            texts << pLabel->text();
        QCOMPARE(texts,
                 QStringList{"Transmission blocks may be set to any value within the range of 64 "
                             "to 65420 bytes, although settings above 12250 bytes may exceed the "
                             "limit of your network and will cause the transfer to fail.\n\nFor "
                             "this session the block size has defaulted to 512 bytes."});
        QCOMPARE(dialog.findChildren<QPushButton*>().size(), qsizetype(1));
    }

    void everyControlIsNamed_data() {
        QTest::addColumn<QString>("window");
        QTest::newRow("main window") << "frame";
        QTest::newRow("options sheet") << "sheet";
        QTest::newRow("about sheet") << "about";
        QTest::newRow("dialog 136") << "136";
    }
    void everyControlIsNamed() {
        QFETCH(QString, window);
        ClientApp c;
        std::unique_ptr<QWidget> pOwned;
        QWidget* pWindow = c.Frame();
        if (window == "sheet")
            pOwned = std::make_unique<COptionsSheet>();
        else if (window == "136")
            pOwned = std::make_unique<CBlockSizeDlg>();
        else if (window == "about") {
            c.app->OnAbout();
            pWindow = c.app->m_pAbout;
        }
        if (pOwned)
            pWindow = pOwned.get();
        pWindow->show();
        if (QTabWidget* pTabs = pWindow->findChild<QTabWidget*>()) {
            for (int i = 0; i < pTabs->count(); ++i)
                pTabs->setCurrentIndex(i);
        }
        QStringList unnamed;
        for (QWidget* pWidget : pWindow->findChildren<QWidget*>()) {
            if (!pWidget->isVisibleTo(pWindow) && !pWidget->parentWidget()->isVisible())
                continue;
            QAccessibleInterface* pAccessible = QAccessible::queryAccessibleInterface(pWidget);
            if (!pAccessible)
                continue;
            if (IsControl(pAccessible->role()) &&
                pAccessible->text(QAccessible::Name).trimmed().isEmpty())
                unnamed << QString("%1 (%2)").arg(pWidget->objectName(),
                                                  pWidget->metaObject()->className());
        }
        QCOMPARE(unnamed, QStringList());
    }

    void controlsByTheirNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("nId");
        const QList<QPair<QString, int>> names{
            {"Host", 1000},        {"Port", 1001},        {"Timeout", 1003},
            {"Local File", 1002},  {"Remote File", 1007}, {"Send timeout to Server", 1035},
            {"Match Files", 1008}, {"Binary", 1006},      {"Block Size", 1019},
            {"Abort", 32773},      {"Progress", 1017},    {"Send", 1004},
            {"Fetch", 1005}};
        for (const auto& [name, nId] : names)
            QTest::newRow(qPrintable(name)) << name << nId;
    }
    void controlsByTheirNames() {
        QFETCH(QString, name);
        QFETCH(int, nId);
        ClientApp c;
        QWidget* pFound = nullptr;
        for (QWidget* pWidget : c.View()->findChildren<QWidget*>()) {
            QAccessibleInterface* pAccessible = QAccessible::queryAccessibleInterface(pWidget);
            if (!pFound && pAccessible && IsControl(pAccessible->role()) &&
                pAccessible->text(QAccessible::Name) == name)
                pFound = pWidget;
        }
        QVERIFY(pFound);
        // A combo box reports its current text as its name; its edit carries
        // the label.
        if (auto* pCombo = qobject_cast<QComboBox*>(pFound->parentWidget()))
            pFound = pCombo;
        QCOMPARE(pFound->objectName(), QString::number(nId));
    }
};

QTEST_MAIN(TestSkifferFrame)
#include "tst_skifferframe.moc"
