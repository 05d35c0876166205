#include "AppSetup.h"
#include "MainFrame.h"
#include "OptionsSheet.h"
#include "ServerFixture.h"
#include "WharfApp.h"
#include "WharfView.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QtTest>

namespace {
const QByteArray kServiceRefused("\0\5\0\0Service not available\0\0", 27);

enum Page { Inbound, Outbound, Allow, Deny, Options };

// The sheet as the Setup command opens it, driven through its widgets.
struct Sheet {
    COptions sheet;

    explicit Sheet(CWharfCore& core, QWidget* pParent = nullptr) : sheet(core, pParent) {
        sheet.show();
    }

    QWidget* PageWidget(int nPage) const { return sheet.Tabs()->widget(nPage); }
    void Visit(int nPage) {
        QTabBar* pBar = sheet.Tabs()->tabBar();
        QTest::mouseClick(pBar, Qt::LeftButton, {}, pBar->tabRect(nPage).center());
        QCOMPARE(sheet.Tabs()->currentIndex(), nPage);
    }
    QLineEdit* Edit(int nPage, int nId) const {
        auto* p = PageWidget(nPage)->findChild<QLineEdit*>(QString::number(nId));
        if (!p)
            qFatal("no edit %d on page %d", nId, nPage);
        return p;
    }
    QCheckBox* Box(int nPage, int nId) const {
        auto* p = PageWidget(nPage)->findChild<QCheckBox*>(QString::number(nId));
        if (!p)
            qFatal("no check box %d on page %d", nId, nPage);
        return p;
    }
    QPushButton* Button(int nId) const {
        return sheet.findChild<QPushButton*>(QString::number(nId));
    }
    // Replaces an edit's text as a user would: select all, type.
    void Type(int nPage, int nId, const QString& text) {
        Visit(nPage);
        QLineEdit* pEdit = Edit(nPage, nId);
        pEdit->setFocus();
        QTest::keyClick(pEdit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(pEdit, Qt::Key_Backspace);
        QTest::keyClicks(pEdit, text);
    }
    void Click(int nPage, int nId) {
        Visit(nPage);
        QTest::mouseClick(Box(nPage, nId), Qt::LeftButton);
    }
    // "click:PAGE:ID" or "type:PAGE:ID:TEXT".
    void Act(const QString& action) {
        const QStringList parts = action.split(':');
        if (parts[0] == "click")
            Click(parts[1].toInt(), parts[2].toInt());
        else
            Type(parts[1].toInt(), parts[2].toInt(), parts.mid(3).join(':'));
    }
    void Ok() { QTest::mouseClick(Button(1), Qt::LeftButton); }
    void Cancel() { QTest::mouseClick(Button(2), Qt::LeftButton); }
    void Apply() { QTest::mouseClick(Button(COptions::kApplyId), Qt::LeftButton); }
};

// A setting by the name it has in the settings file.
QVariant Setting(const CWharfCore& core, const QString& name) {
    for (int i = 0; i < kListEntries; ++i) {
        if (name == QString("Allow%1").arg(i + 1))
            return core.m_strAllow[i];
        if (name == QString("Deny%1").arg(i + 1))
            return core.m_strDeny[i];
    }
    const QMap<QString, QVariant> values{
        {"InPath", core.m_strInPath},
        {"OutPath", core.m_strOutPath},
        {"ForceFile", core.m_strForceFile},
        {"Port", core.m_strPort},
        {"Timeout", core.m_strTimeout},
        {"bForce", core.m_bForce},
        {"bAllow", core.m_bAllow},
        {"bDeny", core.m_bDeny},
        {"bAlert", core.m_bAlertWhenMinimised},
        {"bTsize", core.m_bAllowTsize},
        {"bTimeout", core.m_bAllowTimeout},
        {"nDefAddress", core.m_nDefAddress},
        {"PortRange", core.m_strPortRange},
        {"MaxClients", core.m_nMaxClients},
    };
    if (!values.contains(name))
        qFatal("unknown setting %s", qPrintable(name));
    return values.value(name);
}

} // namespace

class TestOptions : public QObject {
    Q_OBJECT
private slots:
    void init() { m_savedCurrent = QDir::currentPath(); }
    void cleanup() { QDir::setCurrent(m_savedCurrent); }

    void pagesCaptionsAndTexts_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("text");
        QTest::newRow("force box") << int(Outbound) << 1004 << "Only Send This File";
        QTest::newRow("allow box") << int(Allow) << 1005 << "Only allow these connections";
        QTest::newRow("deny box") << int(Deny) << 1005 << "Do not allow these connections";
        QTest::newRow("1035") << int(Options) << 1035 << "Do not show multihomed request box";
        QTest::newRow("1036") << int(Options) << 1036 << "Show alert box when minimised";
        QTest::newRow("1037") << int(Options) << 1037 << "Allow tSize option request";
        QTest::newRow("1038") << int(Options) << 1038 << "Allow timeout option request";
    }
    void pagesCaptionsAndTexts() {
        QFETCH(int, page);
        QFETCH(int, id);
        QFETCH(QString, text);
        RecordingCore core;
        Sheet s(core);
        QCOMPARE(s.sheet.windowTitle(), QString("Server Options"));
        QCOMPARE(s.sheet.Tabs()->currentIndex(), 0); // opens on the first page
        const QStringList captions{"Inbound", "Outbound", "Allow", "Deny", "Options"};
        for (int i = 0; i < captions.size(); ++i)
            QCOMPARE(s.sheet.Tabs()->tabText(i), captions[i]);
        QCOMPARE(s.Button(1)->text(), QString("OK"));
        QCOMPARE(s.Button(2)->text(), QString("Cancel"));
        QVERIFY(s.Button(COptions::kApplyId)->text().remove('&') == "Apply");
        QVERIFY(!s.Button(COptions::kApplyId)->isEnabled());
        s.Visit(page);
        QCOMPARE(s.Box(page, id)->text(), text);
        QVERIFY(s.Box(page, id)->isVisible());
    }

    void groupTitles() {
        RecordingCore core;
        Sheet s(core);
        auto titles = [&](int nPage) {
            QStringList list;
            for (QGroupBox* p : s.PageWidget(nPage)->findChildren<QGroupBox*>())
                list << p->title();
            list.sort();
            return list;
        };
        QCOMPARE(titles(Inbound), QStringList{"Inbound file path"});
        QCOMPARE(titles(Outbound), QStringList{"Outbound file path"});
        QCOMPARE(titles(Options),
                 (QStringList{"Data Ports", "Max Clients", "Max Window", "Timeout", "Use Port "}));
    }

    void copyOnOpening_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("id");
        QTest::addColumn<QVariant>("shown"); // text of an edit, state of a box
        QTest::newRow("inbound path") << int(Inbound) << 1000 << QVariant("/srv/in");
        QTest::newRow("outbound path") << int(Outbound) << 1002 << QVariant("/srv/out/");
        QTest::newRow("force file") << int(Outbound) << 1003 << QVariant("boot file.img");
        QTest::newRow("force flag") << int(Outbound) << 1004 << QVariant(true);
        QTest::newRow("allow flag") << int(Allow) << 1005 << QVariant(true);
        QTest::newRow("allow 1 top left") << int(Allow) << 1006 << QVariant("10.*.*.*");
        QTest::newRow("allow 2 top right") << int(Allow) << 1007 << QVariant("");
        QTest::newRow("allow 10 bottom right") << int(Allow) << 1015 << QVariant("192.168.1.*");
        QTest::newRow("deny flag") << int(Deny) << 1005 << QVariant(false);
        QTest::newRow("deny 3") << int(Deny) << 1008 << QVariant("172.16.0.9");
        QTest::newRow("port") << int(Options) << 1006 << QVariant("1069");
        QTest::newRow("time-out") << int(Options) << 1007 << QVariant("45");
        QTest::newRow("max window") << int(Options) << 1008 << QVariant("16");
        QTest::newRow("data ports") << int(Options) << 1009 << QVariant("7000-7009");
        QTest::newRow("max clients") << int(Options) << 1010 << QVariant("48");
        QTest::newRow("alert when minimised") << int(Options) << 1036 << QVariant(false);
        QTest::newRow("tsize") << int(Options) << 1037 << QVariant(true);
        QTest::newRow("timeout option") << int(Options) << 1038 << QVariant(false);
    }
    void copyOnOpening() {
        QFETCH(int, page);
        QFETCH(int, id);
        QFETCH(QVariant, shown);
        RecordingCore core;
        core.m_strInPath = "/srv/in";
        core.m_strOutPath = "/srv/out/";
        core.m_strForceFile = "boot file.img";
        core.m_bForce = 1;
        core.m_bAllow = 1;
        core.m_strAllow[0] = "10.*.*.*";
        core.m_strAllow[9] = "192.168.1.*";
        core.m_bDeny = 0;
        core.m_strDeny[2] = "172.16.0.9";
        core.m_strPort = "1069";
        core.m_strTimeout = "45";
        core.m_nMaxWindow = 16;
        core.m_strPortRange = "7000-7009";
        core.m_nMaxClients = 48;
        core.m_bAlertWhenMinimised = 0;
        core.m_bAllowTsize = 1;
        core.m_bAllowTimeout = 0;
        Sheet s(core);
        s.Visit(page);
        if (shown.typeId() == QMetaType::Bool)
            QCOMPARE(s.Box(page, id)->isChecked(), shown.toBool());
        else
            QCOMPARE(s.Edit(page, id)->text(), shown.toString());
    }

    void listEntriesSitInTwoColumns() {
        RecordingCore core;
        Sheet s(core);
        s.Visit(Allow);
        for (int n = 1; n <= kListEntries; n += 2) {
            QLineEdit* pLeft = s.Edit(Allow, 1005 + n);
            QLineEdit* pRight = s.Edit(Allow, 1006 + n);
            QCOMPARE(pLeft->y(), pRight->y());
            QVERIFY(pLeft->x() + pLeft->width() <= pRight->x());
            if (n > 1)
                QVERIFY(pLeft->y() > s.Edit(Allow, 1003 + n)->y());
        }
    }

    void pathNormalisation_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("current"); // current directory, "" for the test's own
        QTest::addColumn<QString>("stored");
        const QString here = QDir::currentPath() + "/";
        for (int page : {int(Inbound), int(Outbound)}) {
            const char* name = page == Inbound ? "inbound" : "outbound";
            QTest::addRow("%s empty", name) << page << ""
                                            << "" << here;
            QTest::addRow("%s empty in root", name) << page << ""
                                                    << "/"
                                                    << "/";
            QTest::addRow("%s no separator", name) << page << "/srv/tftp"
                                                   << ""
                                                   << "/srv/tftp/";
            QTest::addRow("%s separator kept", name) << page << "/srv/tftp/"
                                                     << ""
                                                     << "/srv/tftp/";
            QTest::addRow("%s relative", name) << page << "files"
                                               << ""
                                               << "files/";
            QTest::addRow("%s backslash is a name", name) << page << "C:\\tftp\\"
                                                          << ""
                                                          << "C:\\tftp\\/";
            QTest::addRow("%s blank at the end", name) << page << "/srv/my files "
                                                       << ""
                                                       << "/srv/my files /";
        }
    }
    void pathNormalisation() {
        QFETCH(int, page);
        QFETCH(QString, typed);
        QFETCH(QString, current);
        QFETCH(QString, stored);
        if (!current.isEmpty())
            QVERIFY(QDir::setCurrent(current));
        RecordingCore core;
        core.m_strInPath = "/old/in/";
        core.m_strOutPath = "/old/out/";
        Sheet s(core);
        const int nId = page == Inbound ? 1000 : 1002;
        s.Type(page, nId, typed);
        s.Apply();
        QCOMPARE(Setting(core, page == Inbound ? "InPath" : "OutPath").toString(), stored);
        QCOMPARE(s.Edit(page, nId)->text(), stored); // the page shows what was stored
        // The other path is left alone.
        QCOMPARE(Setting(core, page == Inbound ? "OutPath" : "InPath").toString(),
                 QString(page == Inbound ? "/old/out/" : "/old/in/"));
    }

    void onlyShownPagesAreConfirmed_data() {
        QTest::addColumn<QList<int>>("visited");
        QTest::addColumn<QString>("allow1");
        // The first page is shown as the sheet opens.
        QTest::newRow("options only") << QList<int>{Options} << "10.0.0.9";
        QTest::newRow("outbound") << QList<int>{Outbound} << "10.0.0.9";
        QTest::newRow("allow") << QList<int>{Allow} << "10.0.0.1";
        QTest::newRow("every page") << QList<int>{Outbound, Allow, Deny, Options} << "10.0.0.1";
    }
    void onlyShownPagesAreConfirmed() {
        QFETCH(QList<int>, visited);
        QFETCH(QString, allow1);
        RecordingCore core;
        // Paths as a hand-edited settings file might hold them: shown but
        // untouched, they stay exactly as they are.
        core.m_strInPath = "";
        core.m_strOutPath = "/srv/out";
        core.m_strAllow[0] = "10.0.0.1";
        core.m_nDefAddress = 2;
        Sheet s(core);
        for (int page : visited)
            s.Visit(page);
        // A setting that changes while the sheet is open stands unless a
        // shown page holds it.
        core.m_strAllow[0] = "10.0.0.9";
        s.Ok();
        QVERIFY(!s.sheet.isVisible());
        QCOMPARE(core.m_strInPath, QString(""));
        QCOMPARE(core.m_strOutPath, QString("/srv/out"));
        QCOMPARE(core.m_strAllow[0], allow1);
        QCOMPARE(core.m_nDefAddress, 2);
        QCOMPARE(core.nRenewals, 0);
    }

    // A path is normalised and stored only when its text was changed in the
    // sheet; typing it back to what it was counts as unchanged.
    void pathsStoredOnlyWhenChanged_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QStringList>("typed"); // in turn, each followed by Apply
        QTest::addColumn<QString>("after");
        const QString here = QDir::currentPath() + "/";
        for (int page : {int(Inbound), int(Outbound)}) {
            const char* name = page == Inbound ? "inbound" : "outbound";
            QTest::addRow("%s empty, untouched", name) << page << "" << QStringList() << "";
            QTest::addRow("%s no separator, untouched", name)
                << page << "/srv/x" << QStringList() << "/srv/x";
            QTest::addRow("%s typed back as it was", name)
                << page << "/srv/x" << QStringList("/srv/x") << "/srv/x";
            QTest::addRow("%s emptied", name) << page << "/srv/x" << QStringList("") << here;
            QTest::addRow("%s changed, then applied again untouched", name)
                << page << "" << QStringList{"/srv/y", "/srv/y/"} << "/srv/y/";
        }
    }
    void pathsStoredOnlyWhenChanged() {
        QFETCH(int, page);
        QFETCH(QString, before);
        QFETCH(QStringList, typed);
        QFETCH(QString, after);
        RecordingCore core;
        QString& path = page == Inbound ? core.m_strInPath : core.m_strOutPath;
        path = before;
        Sheet s(core);
        s.Visit(Options);
        s.Visit(page);
        for (const QString& text : typed) {
            s.Type(page, page == Inbound ? 1000 : 1002, text);
            s.Apply();
        }
        s.Ok();
        QCOMPARE(path, after);
    }

    void confirmCopiesEachField_data() {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("force on") << QStringList{"click:1:1004"} << "bForce" << QVariant(1);
        QTest::newRow("force file as typed")
            << QStringList{"type:1:1003: boot.img "} << "ForceFile" << QVariant(" boot.img ");
        QTest::newRow("allow on") << QStringList{"click:2:1005"} << "bAllow" << QVariant(1);
        QTest::newRow("allow entry 1")
            << QStringList{"type:2:1006:10.*.*.*"} << "Allow1" << QVariant("10.*.*.*");
        QTest::newRow("allow entry 10")
            << QStringList{"type:2:1015:1.2.3.4"} << "Allow10" << QVariant("1.2.3.4");
        QTest::newRow("allow entry emptied")
            << QStringList{"type:2:1008:"} << "Allow3" << QVariant("");
        QTest::newRow("deny on") << QStringList{"click:3:1005"} << "bDeny" << QVariant(1);
        QTest::newRow("deny entry 6")
            << QStringList{"type:3:1011:9.9.9.9"} << "Deny6" << QVariant("9.9.9.9");
        QTest::newRow("deny off page leaves allow")
            << QStringList{"type:3:1006:5.5.5.5"} << "Allow1" << QVariant("old-allow-1");
        QTest::newRow("time-out") << QStringList{"type:4:1007:120"} << "Timeout" << QVariant("120");
        QTest::newRow("time-out emptied")
            << QStringList{"type:4:1007:"} << "Timeout" << QVariant("");
        QTest::newRow("data ports, blanks trimmed")
            << QStringList{"type:4:1009: 6000 - 6009 "} << "PortRange" << QVariant("6000 - 6009");
        QTest::newRow("max clients")
            << QStringList{"type:4:1010:64"} << "MaxClients" << QVariant(64);
        QTest::newRow("max clients emptied: the default")
            << QStringList{"type:4:1010:"} << "MaxClients" << QVariant(5);
        QTest::newRow("alert off") << QStringList{"click:4:1036"} << "bAlert" << QVariant(0);
        QTest::newRow("tsize off") << QStringList{"click:4:1037"} << "bTsize" << QVariant(0);
        QTest::newRow("timeout option off")
            << QStringList{"click:4:1038"} << "bTimeout" << QVariant(0);
        QTest::newRow("all three back on")
            << QStringList{"click:4:1036", "click:4:1037", "click:4:1038",
                           "click:4:1036", "click:4:1037", "click:4:1038"}
            << "bTimeout" << QVariant(1);
    }
    void confirmCopiesEachField() {
        QFETCH(QStringList, actions);
        QFETCH(QString, setting);
        QFETCH(QVariant, value);
        RecordingCore core;
        for (int i = 0; i < kListEntries; ++i) {
            core.m_strAllow[i] = QString("old-allow-%1").arg(i + 1);
            core.m_strDeny[i] = QString("old-deny-%1").arg(i + 1);
        }
        core.m_nMaxClients = 12;
        Sheet s(core);
        const QVariant before = Setting(core, setting);
        for (const QString& action : actions)
            s.Act(action);
        QCOMPARE(Setting(core, setting), before); // nothing before OK
        s.Ok();
        QCOMPARE(Setting(core, setting), value);
    }

    void multihomedBox_data() {
        QTest::addColumn<int>("defAddress");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<bool>("click");
        QTest::addColumn<int>("stored");
        QTest::newRow("single address, greyed") << 0 << false << false << true << 0;
        QTest::newRow("remembered, kept") << 2 << true << true << false << 2;
        QTest::newRow("remembered, unticked") << 2 << true << true << true << 255;
        QTest::newRow("asking, left") << 255 << true << false << false << 255;
        // Ticked: the address listened on now (the second of two) is kept.
        QTest::newRow("asking, ticked") << 255 << true << false << true << 2;
    }
    void multihomedBox() {
        QFETCH(int, defAddress);
        QFETCH(bool, enabled);
        QFETCH(bool, checked);
        QFETCH(bool, click);
        QFETCH(int, stored);
        RecordingCore core;
        SetHostAddressProvider([] { return std::optional(QStringList{"127.0.0.1", "127.0.0.2"}); });
        core.listenAddress = "127.0.0.2";
        core.m_strPort = QString::number(FreeUdpPort());
        core.m_pListener = new CListenSocket(core);
        QVERIFY(core.m_pListener->StartListening());
        core.m_nDefAddress = defAddress;
        Sheet s(core);
        s.Visit(Options);
        QCheckBox* pBox = s.Box(Options, 1035);
        QCOMPARE(pBox->isEnabled(), enabled);
        QCOMPARE(pBox->isChecked(), checked);
        if (click)
            s.Click(Options, 1035);
        QCOMPARE(pBox->isChecked(), enabled && click ? !checked : checked);
        s.Ok();
        SetHostAddressProvider(nullptr);
        QCOMPARE(core.m_nDefAddress, stored);
    }

    void editsAcceptOnlyDigits_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("port letters") << 1006 << "1a0b6c9"
                                      << "1069";
        QTest::newRow("port sign and blank") << 1006 << "-69 "
                                             << "69";
        QTest::newRow("port five digits at most") << 1006 << "1234567"
                                                  << "12345";
        QTest::newRow("time-out letters") << 1007 << "4x5y"
                                          << "45";
        QTest::newRow("time-out long") << 1007 << "1234567"
                                       << "1234567";
        QTest::newRow("time-out point") << 1007 << "2.5"
                                        << "25";
        QTest::newRow("max window five digits at most") << 1008 << "12x34567"
                                                        << "12345";
        QTest::newRow("data ports: digits, blanks, one dash") << 1009 << "5x0-6-0"
                                                              << "50-60";
        QTest::newRow("max clients three digits at most") << 1010 << "2x5y67"
                                                          << "256";
    }
    void editsAcceptOnlyDigits() {
        QFETCH(int, id);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        RecordingCore core;
        core.m_strPort = "69";
        Sheet s(core);
        s.Type(Options, id, typed);
        QCOMPARE(s.Edit(Options, id)->text(), shown);
        // A pasted text with anything but digits is refused whole.
        QLineEdit* pEdit = s.Edit(Options, id);
        const QString before = pEdit->text();
        pEdit->insert("7z");
        QCOMPARE(pEdit->text(), before);
    }

    void textsBoundedToWhatTheFileKeeps_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("setting");
        QTest::newRow("inbound path") << int(Inbound) << 1000 << "InPath";
        QTest::newRow("force file") << int(Outbound) << 1003 << "ForceFile";
        QTest::newRow("allow entry 4") << int(Allow) << 1009 << "Allow4";
        QTest::newRow("deny entry 1") << int(Deny) << 1006 << "Deny1";
    }
    void textsBoundedToWhatTheFileKeeps() {
        QFETCH(int, page);
        QFETCH(int, id);
        QFETCH(QString, setting);
        RecordingCore core;
        Sheet s(core);
        s.Visit(page);
        // A pasted text longer than the settings file reads back.
        s.Edit(page, id)->insert(QString(1200, 'p'));
        s.Ok();
        QCOMPARE(Setting(core, setting).toString().left(999), QString(999, 'p'));
        QVERIFY(Setting(core, setting).toString().size() <= 1000); // with the separator of a path
    }

    void everyControlEnablesApply() {
        RecordingCore core;
        int nControls = 0;
        for (int page = Inbound; page <= Options; ++page) {
            Sheet probe(core);
            probe.Visit(page);
            const QList<QLineEdit*> edits = probe.PageWidget(page)->findChildren<QLineEdit*>();
            const QList<QCheckBox*> boxes = probe.PageWidget(page)->findChildren<QCheckBox*>();
            for (QLineEdit* pEdit : edits) {
                Sheet s(core);
                s.Type(page, pEdit->objectName().toInt(), "7");
                QVERIFY2(s.Button(COptions::kApplyId)->isEnabled(),
                         qPrintable(pEdit->objectName()));
                ++nControls;
            }
            for (QCheckBox* pBox : boxes) {
                if (!pBox->isEnabled())
                    continue;
                Sheet s(core);
                s.Click(page, pBox->objectName().toInt());
                QVERIFY2(s.Button(COptions::kApplyId)->isEnabled(), qPrintable(pBox->objectName()));
                ++nControls;
            }
        }
        QCOMPARE(nControls, 27 + 8);
    }

    void applyThenCancelKeepsAppliedValues() {
        RecordingCore core;
        core.m_strTimeout = "30";
        core.m_strInPath = "/a/";
        Sheet s(core);
        QPushButton* pApply = s.Button(COptions::kApplyId);
        QVERIFY(!pApply->isEnabled());
        s.Type(Options, 1007, "45");
        QVERIFY(pApply->isEnabled());
        QCOMPARE(core.m_strTimeout, QString("30")); // nothing before Apply
        s.Apply();
        QCOMPARE(core.m_strTimeout, QString("45"));
        QVERIFY(!pApply->isEnabled());
        s.Type(Options, 1007, "99");
        s.Type(Inbound, 1000, "/b");
        s.Cancel();
        QVERIFY(!s.sheet.isVisible());
        QCOMPARE(core.m_strTimeout, QString("45"));
        QCOMPARE(core.m_strInPath, QString("/a/"));
        QCOMPARE(core.nRenewals, 0);
    }

    void portChange_data() {
        QTest::addColumn<QString>("how"); // "same", "new", "apply then ok", "busy", "twice busy"
        QTest::addColumn<int>("renewals");
        QTest::addColumn<int>("dialogs");
        QTest::newRow("unchanged text touches nothing") << "same" << 0 << 0;
        QTest::newRow("new port moves at once") << "new" << 1 << 0;
        QTest::newRow("applied, then OK: one move") << "apply then ok" << 1 << 0;
        QTest::newRow("busy: asks once") << "busy" << 0 << 1;
    }
    void portChange() {
        QFETCH(QString, how);
        QFETCH(int, renewals);
        QFETCH(int, dialogs);
        ServerFixture server;
        server.WriteOut("big.bin", QByteArray(5000, 'b'));
        const uint16_t nOld = server.nPort;
        const uint16_t nNew = FreeUdpPort();
        QVERIFY(nNew != nOld);
        RawClient reader(nOld);
        if (how == "busy")
            QVERIFY(reader.Request(MakeRequest(1, "big.bin", "octet")));
        {
            Sheet s(server.core);
            s.Type(Options, 1006, how == "same" ? QString::number(nOld) : QString::number(nNew));
            if (how == "apply then ok")
                s.Apply();
            s.Ok();
        }
        server.pListener = server.core.m_pListener;
        QCOMPARE(server.core.nRenewals, renewals);
        QCOMPARE(server.core.nDialogsMade, dialogs);
        QCOMPARE(server.core.m_strPort, QString::number(how == "same" ? nOld : nNew));
        // Where the server listens now.
        const uint16_t nListening = renewals ? nNew : nOld;
        const uint16_t nQuiet = renewals ? nOld : nNew;
        RawClient probe(nListening);
        auto answer = probe.Request(MakeRequest(1, "missing", "octet"));
        QVERIFY(answer && answer->startsWith(QByteArray("\0\5\0\1", 4)));
        RawClient nobody(nQuiet);
        QVERIFY(!nobody.Request(MakeRequest(1, "missing", "octet"), 300));
        server.core.RestartServing(false); // "Keep Clients": the dialog goes before the core
        server.pListener = server.core.m_pListener;
    }

    void settingsReachTheNextRequestAndTheFile_data() {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        const QByteArray data1 = QByteArray("\0\3\0\1", 4);
        QTest::newRow("allow list refuses") << QStringList{"click:2:1005", "type:2:1006:10.9.8.7"}
                                            << MakeRequest(1, "a.txt", "octet") << kServiceRefused
                                            << "Allow1" << QVariant("10.9.8.7");
        QTest::newRow("allow list admits") << QStringList{"click:2:1005", "type:2:1010:127.0.*.*"}
                                           << MakeRequest(1, "a.txt", "octet") << data1 + "in out"
                                           << "Allow5" << QVariant("127.0.*.*");
        QTest::newRow("deny list refuses")
            << QStringList{"click:3:1005", "type:3:1006:127.*.*.*"}
            << MakeRequest(1, "a.txt", "octet") << kServiceRefused << "bDeny" << QVariant(1);
        QTest::newRow("outbound folder") << QStringList{"type:1:1002:OTHER"}
                                         << MakeRequest(1, "a.txt", "octet") << data1 + "in other"
                                         << "OutPath" << QVariant("OTHER/");
        QTest::newRow("forced file") << QStringList{"click:1:1004", "type:1:1003:forced.txt"}
                                     << MakeRequest(1, "a.txt", "octet") << data1 + "forced"
                                     << "ForceFile" << QVariant("forced.txt");
        QTest::newRow("tsize no longer honoured")
            << QStringList{"click:4:1037"} << MakeRequest(1, "a.txt", "octet", {"tsize", "0"})
            << data1 + "in out"
            << "bDelete" << QVariant(10);
        QTest::newRow("tsize honoured")
            << QStringList{} << MakeRequest(1, "a.txt", "octet", {"tsize", "0"})
            << QByteArray("\0\6tsize\0"
                          "6\0",
                          10)
            << "bDelete" << QVariant(14);
    }
    void settingsReachTheNextRequestAndTheFile() {
        QFETCH(QStringList, actions);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        AppSetup setup;
        setup.Write("out/a.txt", "in out");
        setup.Write("other/a.txt", "in other");
        setup.Write("out/forced.txt", "forced");
        const QString other = setup.files.path() + "/other";
        QVariant expected = stored;
        if (key == "OutPath")
            expected = other + "/";
        {
            CWharfApp app;
            QVERIFY(app.InitInstance());
            {
                Sheet s(app, app.MainFrame());
                for (QString action : actions)
                    s.Act(action.replace("OTHER", other));
                s.Ok();
            }
            // No restart: the same listener serves the next client.
            RawClient client(setup.nPort);
            auto first = client.Request(request);
            QCOMPARE(first, std::optional<QByteArray>(answer));
            // The sheet itself writes nothing.
            if (!actions.isEmpty())
                QVERIFY(setup.Stored(key).toString() != expected.toString());
        }
        QCOMPARE(setup.Stored(key).toString(), expected.toString());
    }

    // What is typed, what the server then grants, shows and keeps in the
    // file at the end; the sheet opens on the value the file had.
    void numberFieldsInForce_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("inForce");
        QTest::newRow("max window as typed") << "MaxWindow" << 1008 << "16" << 16;
        QTest::newRow("max window empty is the default") << "MaxWindow" << 1008 << "" << 64;
        QTest::newRow("max window 0 is lock-step") << "MaxWindow" << 1008 << "0" << 1;
        QTest::newRow("max window above the largest") << "MaxWindow" << 1008 << "70000" << 65535;
        QTest::newRow("max clients as typed") << "MaxClients" << 1010 << "64" << 64;
        QTest::newRow("max clients empty is the default") << "MaxClients" << 1010 << "" << 5;
        QTest::newRow("max clients 0 is one") << "MaxClients" << 1010 << "0" << 1;
        QTest::newRow("max clients above the most") << "MaxClients" << 1010 << "999" << 256;
        QTest::newRow("max clients leading zeros") << "MaxClients" << 1010 << "007" << 7;
    }
    void numberFieldsInForce() {
        QFETCH(QString, key);
        QFETCH(int, id);
        QFETCH(QString, typed);
        QFETCH(int, inForce);
        AppSetup setup;
        QSettings(setup.IniPath(), QSettings::IniFormat).setValue(key, 8);
        {
            CWharfApp app;
            QVERIFY(app.InitInstance());
            Sheet s(app, app.MainFrame());
            s.Visit(Options);
            QCOMPARE(s.Edit(Options, id)->text(), QString("8"));
            s.Type(Options, id, typed);
            s.Apply();
            QCOMPARE(key == "MaxWindow" ? app.m_nMaxWindow : app.m_nMaxClients, inForce);
            QCOMPARE(s.Edit(Options, id)->text(), QString::number(inForce));
            // The view has a row for each slot from its next tick on.
            app.View()->OnTimer();
            QCOMPARE(app.View()->RowCount(), key == "MaxClients" ? inForce : 5);
        }
        QCOMPARE(setup.Stored(key).toInt(), inForce);
    }

    void setupWithoutAScreenChangesNothing() {
        AppSetup setup;
        CWharfApp app;
        QVERIFY(app.InitInstance());
        const QString before = app.m_strInPath;
        app.MainFrame()->Action(ID_SETUP)->trigger(); // must not wait for anybody
        QCOMPARE(app.m_strInPath, before);
        for (QWidget* p : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<COptions*>(p) || !p->isVisible());
    }

private:
    QString m_savedCurrent;
};

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
