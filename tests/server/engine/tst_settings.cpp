#include "RecordingCore.h"
#include "Registry.h"
#include "TestSupport.h"

#include <QSettings>
#include <QtTest>

namespace {
QString KeyFile(const TempConfigHome& home) {
    return home.Path() + "/Harnwick/Wharfkeep.ini";
}

// Writes values straight into the stored key, as a user editing it would.
void Store(const TempConfigHome& home, const QVariantMap& values) {
    QDir().mkpath(home.Path() + "/Harnwick");
    QSettings file(KeyFile(home), QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        file.setValue(it.key(), it.value());
}

void WriteLegacy(const TempConfigHome& home, const QString& body) {
    QFile file(home.Path() + "/wharfkeep.ini");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(body.toUtf8());
}
} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void firstRunDefaults() {
        TempConfigHome home;
        MessageBoxRecorder boxes;
        RecordingCore core;
        core.LoadSettings();
        QCOMPARE(core.m_strPort, QString("69"));
        QCOMPARE(core.m_strTimeout, QString("30"));
        QVERIFY(core.m_strInPath.isEmpty() && core.m_strOutPath.isEmpty());
        QVERIFY(core.m_strForceFile.isEmpty());
        for (int i = 0; i < kListEntries; ++i)
            QVERIFY(core.m_strAllow[i].isEmpty() && core.m_strDeny[i].isEmpty());
        QCOMPARE(core.m_bForce, 0);
        QCOMPARE(core.m_bAllow, 0);
        QCOMPARE(core.m_bDeny, 0);
        QCOMPARE(core.m_bDisplay, 1);
        QCOMPARE(core.m_bAlertWhenMinimised, 1);
        QCOMPARE(core.m_bAllowTsize, 1);
        QCOMPARE(core.m_bAllowTimeout, 1);
        QCOMPARE(core.m_nDefAddress, 255);
        QCOMPARE(core.m_nMaxClients, 5);
        QCOMPARE(core.m_bServing, 1);
        QVERIFY(boxes.texts.isEmpty());
    }

    // A stored range is kept as typed; one that is not a range is reported
    // once and leaves the transfers on any port (first 0).
    void portRangeSetting_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<unsigned>("first");
        QTest::addColumn<unsigned>("last");
        QTest::newRow("absent: any") << QString() << 0u << 0u;
        QTest::newRow("a range, blanks around") << " 50000 - 50100 " << 50000u << 50100u;
        QTest::newRow("one port") << "6969" << 6969u << 6969u;
        QTest::newRow("the whole span") << "1-65535" << 1u << 65535u;
        for (const char* bad :
             {"0-10", "50100-50000", "65000-65536", "50000:50100", "50000-", "1-2-3", "high ports"})
            QTest::newRow(bad) << bad << 0u << 0u;
    }
    void portRangeSetting() {
        QFETCH(QString, stored);
        QFETCH(unsigned, first);
        QFETCH(unsigned, last);
        TempConfigHome home;
        Store(home,
              stored.isNull() ? QVariantMap{{"Port", "69"}} : QVariantMap{{"PortRange", stored}});
        MessageBoxRecorder boxes;
        RecordingCore core;
        core.LoadSettings();
        QCOMPARE(core.m_dataPorts.nFirst, first);
        QCOMPARE(core.m_dataPorts.nLast, last);
        const bool bMalformed = first == 0 && !stored.isEmpty();
        QCOMPARE(boxes.texts,
                 bMalformed ? QStringList{QString("PortRange \"%1\" is not a range of ports such "
                                                  "as 50000-50100: transfers use any free port")
                                              .arg(stored)}
                            : QStringList{});
        core.SaveSettings();
        QCOMPARE(QSettings(KeyFile(home), QSettings::IniFormat).value("PortRange").toString(),
                 stored);
    }

    // The slots: a stored number out of 1..256 is brought to the nearest
    // bound, an unreadable one is the default; what is in force is saved.
    void maxClientsSetting_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("inForce");
        QTest::newRow("absent: five") << QVariant() << 5;
        QTest::newRow("a lab") << QVariant(64) << 64;
        QTest::newRow("one") << QVariant(1) << 1;
        QTest::newRow("the most") << QVariant(256) << 256;
        QTest::newRow("none: one") << QVariant(0) << 1;
        QTest::newRow("too many: the most") << QVariant(1000) << 256;
        QTest::newRow("negative: one") << QVariant(-3) << 1;
        QTest::newRow("not a number: five") << QVariant("many") << 5;
    }
    void maxClientsSetting() {
        QFETCH(QVariant, stored);
        QFETCH(int, inForce);
        TempConfigHome home;
        Store(home,
              stored.isValid() ? QVariantMap{{"MaxClients", stored}} : QVariantMap{{"Port", "69"}});
        RecordingCore core;
        core.LoadSettings();
        QCOMPARE(core.m_nMaxClients, inForce);
        core.SaveSettings();
        QCOMPARE(QSettings(KeyFile(home), QSettings::IniFormat).value("MaxClients").toInt(),
                 inForce);
    }

    void keyWithOnlyPort() {
        TempConfigHome home;
        Store(home, {{"Port", "1069"}});
        RecordingCore core;
        core.LoadSettings();
        QCOMPARE(core.m_strPort, QString("1069"));
        QCOMPARE(core.m_strTimeout, QString("30"));
        QCOMPARE(core.m_bDisplay, 0);
        QCOMPARE(core.m_bAlertWhenMinimised, 0);
        QCOMPARE(core.m_bAllowTsize, 0);
        QCOMPARE(core.m_bAllowTimeout, 0);
        QCOMPARE(core.m_nDefAddress, 255);
    }

    void optionFlagsFromBDelete_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("alert");
        QTest::addColumn<int>("tsize");
        QTest::addColumn<int>("timeout");
        QTest::newRow("6") << 6 << 1 << 1 << 0;
        QTest::newRow("14") << 14 << 1 << 1 << 1;
        QTest::newRow("8") << 8 << 0 << 0 << 1;
        QTest::newRow("other bits ignored") << 0x71 << 0 << 0 << 0;
    }
    void optionFlagsFromBDelete() {
        QFETCH(int, stored);
        QFETCH(int, alert);
        QFETCH(int, tsize);
        QFETCH(int, timeout);
        TempConfigHome home;
        Store(home, {{"bDelete", stored}});
        RecordingCore core;
        core.LoadSettings();
        QCOMPARE(core.m_bAlertWhenMinimised, alert);
        QCOMPARE(core.m_bAllowTsize, tsize);
        QCOMPARE(core.m_bAllowTimeout, timeout);
    }

    void onlyAllow3Stored() {
        TempConfigHome home;
        Store(home, {{"Allow3", "10.0.0.*"}, {"Deny10", "10.0.0.7"}});
        RecordingCore core;
        core.LoadSettings();
        for (int i = 0; i < kListEntries; ++i) {
            QCOMPARE(core.m_strAllow[i], i == 2 ? QString("10.0.0.*") : QString());
            QCOMPARE(core.m_strDeny[i], i == 9 ? QString("10.0.0.7") : QString());
        }
    }

    void overlongTextIsRefusedOnLoad_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("taken");
        QTest::newRow("999 characters") << 999 << true;
        QTest::newRow("1000 characters") << 1000 << false;
    }
    void overlongTextIsRefusedOnLoad() {
        QFETCH(int, length);
        QFETCH(bool, taken);
        TempConfigHome home;
        const QString text(length, 'p');
        Store(home, {{"InPath", text}, {"Allow1", text}, {"Allow2", "1.2.3.4"}});
        RecordingCore core;
        core.LoadSettings();
        QCOMPARE(core.m_strInPath, taken ? text : QString());
        QCOMPARE(core.m_strAllow[0], taken ? text : QString());
        QCOMPARE(core.m_strAllow[1], QString("1.2.3.4")); // later entries still read
    }

    void saveThenLoadKeepsEverything() {
        TempConfigHome home;
        {
            RecordingCore core;
            core.m_strInPath = "/srv/in/";
            core.m_strOutPath = "/srv/out, boot/";
            core.m_strPort = "1069";
            core.m_strTimeout = "45s";
            core.m_strForceFile = "pxelinux.0";
            core.m_strAllow[0] = "192.168.*.*";
            core.m_strDeny[4] = "192.168.0.20";
            core.m_bForce = 1;
            core.m_bAllow = 1;
            core.m_bDeny = 2;
            core.m_bDisplay = 0;
            core.m_bAlertWhenMinimised = 0;
            core.m_bAllowTsize = 1;
            core.m_bAllowTimeout = 0;
            core.m_nDefAddress = 2;
            core.SaveSettings();
        }
        RecordingCore core;
        core.LoadSettings();
        QCOMPARE(core.m_strInPath, QString("/srv/in/"));
        QCOMPARE(core.m_strOutPath, QString("/srv/out, boot/"));
        QCOMPARE(core.m_strPort, QString("1069"));
        QCOMPARE(core.m_strTimeout, QString("45s"));
        QCOMPARE(core.m_strForceFile, QString("pxelinux.0"));
        QCOMPARE(core.m_strAllow[0], QString("192.168.*.*"));
        QCOMPARE(core.m_strDeny[4], QString("192.168.0.20"));
        QCOMPARE(core.m_bForce, 1);
        QCOMPARE(core.m_bAllow, 1);
        QCOMPARE(core.m_bDeny, 2);
        QCOMPARE(core.m_bDisplay, 0);
        QCOMPARE(core.m_bAlertWhenMinimised, 0);
        QCOMPARE(core.m_bAllowTsize, 1);
        QCOMPARE(core.m_bAllowTimeout, 0);
        QCOMPARE(core.m_nDefAddress, 2);
        QSettings file(KeyFile(home), QSettings::IniFormat);
        QCOMPARE(file.value("bDelete").toInt(), 4);
    }

    // Saving replaces the file once, however many values it holds; reading
    // them back does not write it at all.
    void savingWritesTheFileOnce_data() {
        QTest::addColumn<int>("nListEntries");
        QTest::newRow("no list entries") << 0;
        QTest::newRow("full lists") << kListEntries;
    }
    void savingWritesTheFileOnce() {
        QFETCH(int, nListEntries);
        TempConfigHome home;
        QDir().mkpath(home.Path() + "/Harnwick");
        FileWriteCounter writes(KeyFile(home));
        RecordingCore core;
        core.m_strInPath = "/srv/in/";
        for (int i = 0; i < nListEntries; ++i)
            core.m_strAllow[i] = core.m_strDeny[i] = QString("10.0.0.%1").arg(i);
        core.SaveSettings();
        QCOMPARE(writes.Count(), 1);
        RecordingCore reader;
        reader.LoadSettings();
        QCOMPARE(reader.m_strInPath, QString("/srv/in/"));
        QCOMPARE(reader.m_strDeny[nListEntries ? kListEntries - 1 : 0],
                 nListEntries ? QString("10.0.0.9") : QString());
        QCOMPARE(writes.Count(), 1);
    }

    void emptyListEntriesAreNotWritten() {
        TempConfigHome home;
        RecordingCore core;
        core.m_strAllow[1] = "10.*";
        core.SaveSettings();
        QSettings file(KeyFile(home), QSettings::IniFormat);
        QVERIFY(file.contains("Allow2"));
        QVERIFY(!file.contains("Allow3"));
        QVERIFY(!file.contains("Deny1"));
        // The five texts are written even when empty.
        for (const char* name : {"InPath", "OutPath", "Port", "Timeout", "ForceFile"})
            QVERIFY2(file.contains(name), name);
    }

    void legacyProfileTakenOverOnce() {
        TempConfigHome home;
        WriteLegacy(home, "[Options]\nIncoming=/old/in/\nOutgoing=/old/out/\nSocket=2069\n");
        MessageBoxRecorder boxes;
        {
            RecordingCore core;
            core.LoadSettings();
            QCOMPARE(core.m_strInPath, QString("/old/in/"));
            QCOMPARE(core.m_strOutPath, QString("/old/out/"));
            QCOMPARE(core.m_strPort, QString("2069"));
            QCOMPARE(core.m_strTimeout, QString("60"));
            core.SaveSettings();
        }
        QVERIFY(!QFile::exists(CWharfCore::LegacyProfilePath()));
        QCOMPARE(boxes.texts, QStringList("Please check your settings as they have changed"));
        RecordingCore core;
        core.LoadSettings();
        QCOMPARE(core.m_strTimeout, QString("60"));
        QCOMPARE(boxes.texts.size(), 1);
    }

    void legacyProfileLosesToStoredValues() {
        TempConfigHome home;
        WriteLegacy(home, "[Options]\nIncoming=/old/in/\nTimeout=90\n");
        Store(home, {{"InPath", "/new/in/"}});
        MessageBoxRecorder boxes;
        RecordingCore core;
        core.LoadSettings();
        QCOMPARE(core.m_strInPath, QString("/new/in/"));
        QCOMPARE(core.m_strTimeout, QString("90"));
        QCOMPARE(core.m_strPort, QString("69"));
    }

    // Folders with commas in their names, as the old profile holds them:
    // written without quotes, taken over whole.
    void legacyProfileFoldersWithCommas_data() {
        QTest::addColumn<QString>("incoming");
        QTest::addColumn<QString>("outgoing");
        QTest::newRow("incoming") << "/srv/a,b/"
                                  << "/srv/out/";
        QTest::newRow("outgoing") << "/srv/in/"
                                  << "/srv/a,b,c/";
        QTest::newRow("both") << "/srv/in,1/"
                              << "/srv/out,2/";
    }
    void legacyProfileFoldersWithCommas() {
        QFETCH(QString, incoming);
        QFETCH(QString, outgoing);
        TempConfigHome home;
        WriteLegacy(home, "[Options]\nIncoming=" + incoming + "\nOutgoing=" + outgoing +
                              "\nSocket=2069\n");
        MessageBoxRecorder boxes;
        RecordingCore core;
        core.LoadSettings();
        QCOMPARE(core.m_strInPath, incoming);
        QCOMPARE(core.m_strOutPath, outgoing);
        QCOMPARE(core.m_strPort, QString("2069"));
        QCOMPARE(boxes.texts, QStringList("Please check your settings as they have changed"));
    }

    void legacyProfileWithoutIncomingIsIgnored() {
        TempConfigHome home;
        WriteLegacy(home, "[Options]\nIncoming=\nSocket=2069\nTimeout=90\n");
        MessageBoxRecorder boxes;
        RecordingCore core;
        core.LoadSettings();
        QCOMPARE(core.m_strPort, QString("69"));
        QCOMPARE(core.m_strTimeout, QString("30"));
        QVERIFY(QFile::exists(CWharfCore::LegacyProfilePath()));
        QVERIFY(boxes.texts.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
