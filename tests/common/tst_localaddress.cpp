#include "HostAddresses.h"
#include "LocalAddress.h"
#include "TestSupport.h"

#include <QtTest>

Q_DECLARE_METATYPE(std::optional<QStringList>)

// The address choice against scripted interface lists and dialogs. The
// addresses are only texts here: nothing is bound or sent.
class TestLocalAddress : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        SetHostAddressProvider(nullptr);
        SetLocalAddressDialogs({});
    }

    void choice_data() {
        QTest::addColumn<std::optional<QStringList>>("list");
        QTest::addColumn<int>("role");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("dialogOk"); // -1: no dialog expected
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("dontAsk");
        QTest::addColumn<QString>("typed");  // manual entry; "-" cancels
        QTest::addColumn<QString>("result"); // "-" for failure
        QTest::addColumn<int>("storedAfter");
        QTest::addColumn<QStringList>("boxes");
        const QStringList one{"10.0.0.5"};
        const QStringList two{"10.0.0.5", "127.0.0.1"};
        const int server = int(AddressRole::Server), client = int(AddressRole::Client);
        QTest::newRow("single-homed stores 0 over 255")
            << std::optional(one) << server << 255 << -1 << 0 << false << ""
            << "10.0.0.5" << 0 << QStringList();
        QTest::newRow("single-homed stores 0 over a pick")
            << std::optional(one) << server << 2 << -1 << 0 << false << ""
            << "10.0.0.5" << 0 << QStringList();
        QTest::newRow("stored 2 picks the second")
            << std::optional(two) << server << 2 << -1 << 0 << false << ""
            << "127.0.0.1" << 2 << QStringList();
        QTest::newRow("stored 3 asks") << std::optional(two) << server << 3 << 1 << 0 << false << ""
                                       << "10.0.0.5" << 255 << QStringList();
        QTest::newRow("255: ok, second, ticked")
            << std::optional(two) << server << 255 << 1 << 1 << true << ""
            << "127.0.0.1" << 2 << QStringList();
        QTest::newRow("255: ok, none, unticked")
            << std::optional(two) << server << 255 << 1 << -1 << false << ""
            << "10.0.0.5" << 255 << QStringList();
        QTest::newRow("dialog escaped: first, stored kept")
            << std::optional(two) << server << 7 << 0 << 1 << true << ""
            << "10.0.0.5" << 7 << QStringList();
        QTest::newRow("client asks with 0 and stores nothing")
            << std::optional(two) << client << 0 << 1 << 1 << true << ""
            << "127.0.0.1" << 0 << QStringList();
        QTest::newRow("no interface list: typed address")
            << std::optional<QStringList>() << server << 255 << -1 << 0 << false << "10.0.0.7"
            << "10.0.0.7" << 255 << QStringList("Unable to resolve Local Host name");
        QTest::newRow("no IPv4 address: typed nonsense")
            << std::optional(QStringList()) << server << 255 << -1 << 0 << false << "any"
            << "255.255.255.255" << 255 << QStringList("Unable to resolve Local Host I.P. address");
        QTest::newRow("manual entry cancelled")
            << std::optional<QStringList>() << client << 0 << -1 << 0 << false << "-"
            << "-" << 0 << QStringList("Unable to resolve Local Host name");
    }
    void choice() {
        QFETCH(std::optional<QStringList>, list);
        QFETCH(int, role);
        QFETCH(int, stored);
        QFETCH(int, dialogOk);
        QFETCH(int, selected);
        QFETCH(bool, dontAsk);
        QFETCH(QString, typed);
        QFETCH(QString, result);
        QFETCH(int, storedAfter);
        QFETCH(QStringList, boxes);

        SetHostAddressProvider([list] { return list; });
        int nDialogs = 0;
        QStringList shown;
        LocalAddressDialogs dialogs;
        int nRoleSeen = -1;
        dialogs.multihomed = [&](const QStringList& addresses, AddressRole r) -> MultihomedAnswer {
            ++nDialogs;
            shown = addresses;
            nRoleSeen = int(r);
            return MultihomedAnswer{dialogOk == 1, selected, dontAsk};
        };
        dialogs.manualEntry = [&](AddressRole) -> std::optional<QString> {
            if (typed == "-")
                return std::nullopt;
            return typed;
        };
        SetLocalAddressDialogs(dialogs);
        MessageBoxRecorder recorder;

        int n = stored;
        auto chosen = ChooseLocalAddress(n, AddressRole(role));
        QCOMPARE(chosen.value_or("-"), result);
        QCOMPARE(n, storedAfter);
        QCOMPARE(nDialogs, dialogOk == -1 ? 0 : 1);
        if (nDialogs) {
            QCOMPARE(shown, *list);
            QCOMPARE(nRoleSeen, role);
        }
        QCOMPARE(recorder.texts, boxes);
    }

    // Without anyone to ask (or with nothing picked) the first address is
    // taken, so it must be one that other hosts can reach.
    void withoutDialogsTheFirstAddressIsTaken() {
        SetHostAddressProvider([] { return std::optional(QStringList{"127.0.0.1", "10.0.0.5"}); });
        int n = 255;
        QCOMPARE(ChooseLocalAddress(n, AddressRole::Server), std::optional<QString>("10.0.0.5"));
        QCOMPARE(n, 255);
    }

    void loopbackComesLast_data() {
        QTest::addColumn<QStringList>("system");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("loopback and one card")
            << QStringList{"127.0.0.1", "192.0.2.2"} << QStringList{"192.0.2.2", "127.0.0.1"};
        QTest::newRow("others keep their order")
            << QStringList{"127.0.0.1", "198.51.100.9", "127.0.1.1", "10.0.0.5", "192.0.2.2"}
            << QStringList{"198.51.100.9", "10.0.0.5", "192.0.2.2", "127.0.0.1", "127.0.1.1"};
        QTest::newRow("all of 127/8 is loopback, its neighbours are not")
            << QStringList{"127.255.255.254", "126.255.255.255", "128.0.0.1"}
            << QStringList{"126.255.255.255", "128.0.0.1", "127.255.255.254"};
        QTest::newRow("loopback only") << QStringList{"127.0.0.1"} << QStringList{"127.0.0.1"};
        QTest::newRow("none") << QStringList() << QStringList();
    }
    void loopbackComesLast() {
        QFETCH(QStringList, system);
        QFETCH(QStringList, listed);
        SetHostAddressProvider([system] { return std::optional(system); });
        QCOMPARE(HostAddressList(), std::optional(listed));
    }

    void realListHoldsLoopbackLast() {
        auto list = HostAddressList();
        QVERIFY(list.has_value());
        QVERIFY(list->contains("127.0.0.1"));
        const auto firstLoopback = std::find_if(
            list->begin(), list->end(), [](const QString& s) { return s.startsWith("127."); });
        QVERIFY(std::all_of(firstLoopback, list->end(),
                            [](const QString& s) { return s.startsWith("127."); }));
    }
};

QTEST_GUILESS_MAIN(TestLocalAddress)
#include "tst_localaddress.moc"
