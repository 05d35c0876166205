#include "RecordingCore.h"

#include <QtTest>

namespace {
bool Matches(const QString& address, const QString& pattern) {
    QStringList parts = address.split('.');
    int octets[4];
    for (int k = 0; k < 4; ++k)
        octets[k] = parts[k].toInt();
    return CWharfCore::MatchPattern(octets, pattern);
}
} // namespace

class TestLists : public QObject {
    Q_OBJECT
private slots:
    void matchPattern_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("match");
        const QString a = "192.168.0.20";
        QTest::newRow("exact") << a << "192.168.0.20" << true;
        QTest::newRow("leading zeros") << a << "192.168.0.020" << true;
        QTest::newRow("spaces around") << a << "  192.168.0.20  " << true;
        QTest::newRow("fifth field ignored") << a << "192.168.0.20.7" << true;
        QTest::newRow("two wildcards") << a << "192.168.*.*" << true;
        QTest::newRow("two wildcards, other subnet") << "192.168.77.3"
                                                     << "192.168.*.*" << true;
        QTest::newRow("two wildcards, other network") << "192.169.0.20"
                                                      << "192.168.*.*" << false;
        QTest::newRow("2* is a whole-field wildcard") << "192.168.0.7"
                                                      << "192.168.0.2*" << true;
        QTest::newRow("digits before * dropped") << a << "192.168.0.2*" << true;
        QTest::newRow("all wildcards") << "8.8.4.4"
                                       << "*.*.*.*" << true;
        QTest::newRow("10.* is 10.any.0.0") << "10.5.0.0"
                                            << "10.*" << true;
        QTest::newRow("10.* misses 10.1.2.3") << "10.1.2.3"
                                              << "10.*" << false;
        QTest::newRow("* alone is any.0.0.0") << "7.0.0.0"
                                              << "*" << true;
        QTest::newRow("* alone misses others") << a << "*" << false;
        QTest::newRow("short pattern is zero-filled") << "192.168.0.0"
                                                      << "192.168" << true;
        QTest::newRow("short pattern misses") << a << "192.168" << false;
        QTest::newRow("300 matches nothing") << a << "192.168.0.300" << false;
        QTest::newRow("no ranges: 1-9 is 19") << "192.168.19.4"
                                              << "192.168.1-9.*" << true;
        QTest::newRow("no ranges: 5 not in 1-9") << "192.168.5.4"
                                                 << "192.168.1-9.*" << false;
        QTest::newRow("empty") << a << "" << false;
        QTest::newRow("empty field is 0") << "192.0.0.20"
                                          << "192..0.20" << true;
        QTest::newRow("letters ignored") << a << "ip192.168.0.20" << true;
        QTest::newRow("overlong field never wraps") << "0.0.0.0"
                                                    << "4294967296.0.0.0" << false;
    }
    void matchPattern() {
        QFETCH(QString, address);
        QFETCH(QString, pattern);
        QFETCH(bool, match);
        QCOMPARE(Matches(address, pattern), match);
    }

    void listsTryAllTenEntries() {
        RecordingCore core;
        QVERIFY(!core.IsAllowed("192.168.0.20"));
        QVERIFY(!core.IsDenied("192.168.0.20"));
        core.m_strAllow[9] = "192.168.0.20";
        QVERIFY(core.IsAllowed("192.168.0.20"));
        core.m_strDeny[2] = "192.168.0.*";
        QVERIFY(core.IsDenied("192.168.0.5"));
        QVERIFY(!core.IsDenied("192.168.1.5"));
    }
};

QTEST_GUILESS_MAIN(TestLists)
#include "tst_lists.moc"
