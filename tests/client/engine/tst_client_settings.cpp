// The client's settings in its profile file.
#include "ClientFixture.h"
#include "Registry.h"

#include <QFile>
#include <QtTest>

namespace {
QByteArray ProfileText() {
    QFile file(CSkifferCore::ProfilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestClientSettings : public QObject {
    Q_OBJECT
private slots:
    void firstStartGivesDefaults() {
        TempConfigHome config;
        RecordingSkiffer core;
        core.m_bOverWrite = core.m_bTruncate = core.m_bChangeButtons = 1;
        core.m_nDefaultIP = 4;
        core.m_strHost = "stale";
        core.LoadSettings();
        QCOMPARE(core.m_bOverWrite, 0);
        QCOMPARE(core.m_bTruncate, 0);
        QCOMPARE(core.m_bChangeButtons, 0);
        QCOMPARE(core.m_nDefaultIP, 0);
        for (const QString* p : {&core.m_strInbound, &core.m_strOutbound, &core.m_strHost,
                                 &core.m_strLocal, &core.m_strRemote})
            QVERIFY(p->isEmpty());
        QVERIFY(!QFile::exists(CSkifferCore::ProfilePath())); // loading writes nothing
    }

    void profileLivesInTheConfigFolder() {
        TempConfigHome config;
        QCOMPARE(CSkifferCore::ProfilePath(), config.Path() + "/skiffer.ini");
    }

    void flagsRead_data() {
        QTest::addColumn<QString>("strStored");
        QTest::addColumn<int>("bExpected");
        QTest::newRow("Yes") << "Yes" << 1;
        QTest::newRow("YES") << "YES" << 1;
        QTest::newRow("yes") << "yes" << 1;
        QTest::newRow("yEs") << "yEs" << 1;
        QTest::newRow("No") << "No" << 0;
        QTest::newRow("1") << "1" << 0;
        QTest::newRow("true") << "true" << 0;
        QTest::newRow("Yes with a blank") << "Yes " << 0;
        QTest::newRow("Yesterday") << "Yesterday" << 0;
        QTest::newRow("empty") << "" << 0;
    }
    void flagsRead() {
        QFETCH(QString, strStored);
        QFETCH(int, bExpected);
        TempConfigHome config;
        CProfile profile(CSkifferCore::ProfilePath());
        for (const char* key : {"OverWrite", "Truncate", "Change Buttons"})
            profile.WriteProfileString("Options", key, strStored);
        QVERIFY(profile.Flush());
        RecordingSkiffer core;
        core.LoadSettings();
        QCOMPARE(core.m_bOverWrite, bExpected);
        QCOMPARE(core.m_bTruncate, bExpected);
        QCOMPARE(core.m_bChangeButtons, bExpected);
    }

    void defaultIpReadAsLeadingDigits_data() {
        QTest::addColumn<QString>("strStored");
        QTest::addColumn<int>("nExpected");
        QTest::newRow("2") << "2" << 2;
        QTest::newRow("2x") << "2x" << 2;
        QTest::newRow("x2") << "x2" << 0;
        QTest::newRow("12 3") << "12 3" << 12;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("-1") << "-1" << 0;
        QTest::newRow("overlong does not wrap") << "99999999999999" << 2147483647;
    }
    void defaultIpReadAsLeadingDigits() {
        QFETCH(QString, strStored);
        QFETCH(int, nExpected);
        TempConfigHome config;
        CProfile(CSkifferCore::ProfilePath())
            .WriteProfileString("Options", "Default IP", strStored);
        RecordingSkiffer core;
        core.m_nDefaultIP = 7;
        core.LoadSettings();
        QCOMPARE(core.m_nDefaultIP, nExpected);
    }

    // The start-up values and the options each reach the file in one write.
    void savingWritesTheFileOnce() {
        TempConfigHome config;
        FileWriteCounter writes(CSkifferCore::ProfilePath());
        RecordingSkiffer core;
        core.m_strHost = "127.0.0.1";
        core.m_strLocal = "a.bin";
        core.m_strRemote = "b.bin";
        core.SaveStartup();
        QCOMPARE(writes.Count(), 1);
        core.BeginProfileWrites();
        core.WriteProfileString("Options", "Inbound", "/srv/in/");
        core.WriteProfileString("Options", "Outbound", "/srv/out/");
        QCOMPARE(core.GetProfileString("Options", "Inbound"), QString("/srv/in/"));
        QCOMPARE(writes.Count(), 1);
        core.EndProfileWrites();
        QCOMPARE(writes.Count(), 2);
        RecordingSkiffer reader;
        reader.LoadSettings();
        QCOMPARE(reader.m_strRemote, QString("b.bin"));
        QCOMPARE(reader.m_strOutbound, QString("/srv/out/"));
    }

    void textsLoadedAsStored() {
        TempConfigHome config;
        CProfile profile(CSkifferCore::ProfilePath());
        profile.WriteProfileString("Options", "Inbound", "/srv/in/");
        profile.WriteProfileString("Options", "Outbound", "/srv/out"); // used as it stands
        profile.WriteProfileString("Startup", "Host", "127.0.0.1");
        profile.WriteProfileString("Startup", "Local", "a b, c.txt");
        profile.WriteProfileString("Startup", "Remote", "dir/x=y.bin");
        QVERIFY(profile.Flush());
        RecordingSkiffer core;
        core.LoadSettings();
        QCOMPARE(core.m_strInbound, QString("/srv/in/"));
        QCOMPARE(core.m_strOutbound, QString("/srv/out"));
        QCOMPARE(core.m_strHost, QString("127.0.0.1"));
        QCOMPARE(core.m_strLocal, QString("a b, c.txt"));
        QCOMPARE(core.m_strRemote, QString("dir/x=y.bin"));
    }

    void saveStartupWritesOnlyItsSection() {
        TempConfigHome config;
        RecordingSkiffer core;
        core.m_strHost = "127.0.0.1";
        core.m_strLocal = "local file.bin";
        core.m_strRemote = "remote.bin";
        core.m_strInbound = "/not/saved/";
        core.m_bOverWrite = 1;
        core.SaveStartup();
        QByteArray text = ProfileText();
        QVERIFY(!text.contains("Options"));
        QVERIFY(!text.contains("OverWrite"));

        core.m_strHost.clear();
        core.m_strInbound.clear();
        core.m_bOverWrite = 0;
        core.LoadSettings();
        QCOMPARE(core.m_strHost, QString("127.0.0.1"));
        QCOMPARE(core.m_strLocal, QString("local file.bin"));
        QCOMPARE(core.m_strRemote, QString("remote.bin"));
        QVERIFY(core.m_strInbound.isEmpty());
        QCOMPARE(core.m_bOverWrite, 0);
    }

    void saveStartupReplacesEarlierValues() {
        TempConfigHome config;
        RecordingSkiffer core;
        core.m_strHost = "127.0.0.1";
        core.m_strLocal = "one";
        core.m_strRemote = "two";
        core.SaveStartup();
        core.m_strLocal.clear();
        core.SaveStartup();
        core.LoadSettings();
        QVERIFY(core.m_strLocal.isEmpty());
        QCOMPARE(core.m_strRemote, QString("two"));
    }
};

QTEST_GUILESS_MAIN(TestClientSettings)
#include "tst_client_settings.moc"
