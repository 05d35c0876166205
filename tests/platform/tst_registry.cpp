#include "Registry.h"
#include "TestSupport.h"

#include <QtTest>

class TestRegistry : public QObject {
    Q_OBJECT
private slots:
    void missingLevelsDoNotOpen() {
        TempConfigHome home;
        CRegKey key;
        QVERIFY(key.Open("Software"));
        QVERIFY(!key.Open("Harnwick"));
    }

    void createdKeyHoldsTextsAndNumbers() {
        TempConfigHome home;
        {
            CRegKey key;
            QVERIFY(key.Create("Software") && key.Create("Harnwick") && key.Create("Wharfkeep"));
            QVERIFY(key.SetString("Allow1", "192.168.0.*"));
            QVERIFY(key.SetString("Path", "/srv/tftp, boot/"));
            QVERIFY(key.SetDword("bDelete", 14));
        }
        QVERIFY(QFile::exists(home.Path() + "/Harnwick/Wharfkeep.ini"));
        CRegKey key;
        QVERIFY(key.Open("Software") && key.Open("Harnwick") && key.Open("Wharfkeep"));
        QCOMPARE(key.QueryString("Allow1", 1000), std::optional<QString>("192.168.0.*"));
        QCOMPARE(key.QueryString("Path", 1000), std::optional<QString>("/srv/tftp, boot/"));
        QCOMPARE(key.QueryDword("bDelete"), std::optional<uint32_t>(14));
        QCOMPARE(key.QueryString("Missing", 1000), std::nullopt);
        QCOMPARE(key.QueryDword("Allow1"), std::nullopt);
    }

    void textMustFitTheBuffer_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("fits");
        QTest::newRow("999") << 999 << true;
        QTest::newRow("1000") << 1000 << false;
    }
    void textMustFitTheBuffer() {
        QFETCH(int, length);
        QFETCH(bool, fits);
        TempConfigHome home;
        CRegKey key;
        QVERIFY(key.Create("Software") && key.Create("Harnwick") && key.Create("Wharfkeep"));
        key.SetString("Long", QString(length, 'a'));
        QCOMPARE(key.QueryString("Long", 1000).has_value(), fits);
    }

    void profileReadsDefaultsWhenMissing() {
        TempConfigHome home;
        CProfile profile(home.Path() + "/skiffer.ini");
        QCOMPARE(profile.GetProfileString("Options", "Inbound"), QString());
        QCOMPARE(profile.GetProfileString("Options", "Socket", "69"), QString("69"));
        QVERIFY(profile.WriteProfileString("Options", "Inbound", "/tmp/in/"));
        QCOMPARE(profile.GetProfileString("Options", "Inbound"), QString("/tmp/in/"));
        QCOMPARE(profile.GetProfileString("Startup", "Inbound"), QString());
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_registry.moc"
