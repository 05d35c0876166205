#include "Registry.h"
#include "TestSupport.h"

#include <QtTest>

namespace {
// Sets or clears one environment variable for a test, putting it back afterwards.
class EnvVar {
public:
    EnvVar(const char* pszName, const std::optional<QByteArray>& value)
        : m_pszName(pszName), m_bHad(qEnvironmentVariableIsSet(pszName)),
          m_previous(qgetenv(pszName)) {
        if (value)
            qputenv(pszName, *value);
        else
            qunsetenv(pszName);
    }
    ~EnvVar() {
        if (m_bHad)
            qputenv(m_pszName, m_previous);
        else
            qunsetenv(m_pszName);
    }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    const char* m_pszName;
    bool m_bHad;
    QByteArray m_previous;
};

// Runs a test in another working folder, going back to the old one afterwards.
class WorkingDir {
public:
    explicit WorkingDir(const QString& path) : m_previous(QDir::currentPath()) {
        QDir::setCurrent(path);
    }
    ~WorkingDir() { QDir::setCurrent(m_previous); }

private:
    QString m_previous;
};

QStringList Listing(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}
} // namespace

Q_DECLARE_METATYPE(std::optional<QByteArray>)

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

    // Only an absolute $XDG_CONFIG_HOME counts; any other value is passed
    // over for ~/.config, so settings never land below the working folder.
    void configHomeMustBeAbsolute_data() {
        QTest::addColumn<std::optional<QByteArray>>("value"); // "<abs>": an absolute folder
        QTest::addColumn<bool>("used");
        using V = std::optional<QByteArray>;
        QTest::newRow("unset") << V() << false;
        QTest::newRow("empty") << V("") << false;
        QTest::newRow("a bare name") << V("cfg") << false;
        QTest::newRow("dot-relative") << V("./cfg") << false;
        QTest::newRow("parent-relative") << V("../cfg") << false;
        QTest::newRow("a tilde, which is not expanded") << V("~/cfg") << false;
        QTest::newRow("absolute") << V("<abs>") << true;
    }
    void configHomeMustBeAbsolute() {
        QFETCH(std::optional<QByteArray>, value);
        QFETCH(bool, used);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString home = root.path() + "/home";
        const QString work = root.path() + "/work/inner";
        const QString absolute = root.path() + "/abs";
        QVERIFY(QDir().mkpath(home) && QDir().mkpath(work));
        if (value == QByteArray("<abs>"))
            value = QFile::encodeName(absolute);
        EnvVar homeVar("HOME", QFile::encodeName(home));
        EnvVar configVar("XDG_CONFIG_HOME", value);
        WorkingDir cwd(work);

        const QString expected = used ? absolute : home + "/.config";
        QCOMPARE(UserConfigDir(), expected);
        {
            CRegKey key;
            QVERIFY(key.Create("Software") && key.Create("Harnwick") && key.Create("Wharfkeep"));
            QVERIFY(key.SetString("Port", "1069"));
            QCOMPARE(key.FilePath(), expected + "/Harnwick/Wharfkeep.ini");
        }
        CProfile profile(UserConfigDir() + "/wharfkeep.ini");
        QVERIFY(profile.WriteProfileString("Options", "Incoming", "/srv/in/"));
        QVERIFY(profile.Flush());
        QVERIFY(QFileInfo(expected + "/Harnwick/Wharfkeep.ini").isFile());
        QVERIFY(QFileInfo(expected + "/wharfkeep.ini").isFile());
        // Nothing was made below the working folder or its parent.
        QCOMPARE(Listing(work), QStringList());
        QCOMPARE(Listing(root.path() + "/work"), QStringList{"inner"});
    }

    // Profiles written by hand or by older versions hold values with
    // unquoted commas; they are read back as the text they are.
    void profileValueWithCommasReadWhole_data() {
        QTest::addColumn<QByteArray>("line"); // as it stands in the file
        QTest::addColumn<QString>("value");
        QTest::newRow("one comma") << QByteArray("/srv/a,b/") << QString("/srv/a,b/");
        QTest::newRow("two commas") << QByteArray("/srv/a,b,c/") << QString("/srv/a,b,c/");
        QTest::newRow("two commas in a row") << QByteArray("/srv/a,,b/") << QString("/srv/a,,b/");
        QTest::newRow("spaces after the commas")
            << QByteArray("/srv/my files, old, new/") << QString("/srv/my files, old, new/");
        QTest::newRow("trailing comma") << QByteArray("/srv/a,") << QString("/srv/a,");
        QTest::newRow("leading comma") << QByteArray(",/srv/a") << QString(",/srv/a");
        QTest::newRow("quoted, comma kept") << QByteArray("\"/srv/a,b/\"") << QString("/srv/a,b/");
        QTest::newRow("no comma") << QByteArray("/srv/a/") << QString("/srv/a/");
    }
    void profileValueWithCommasReadWhole() {
        QFETCH(QByteArray, line);
        QFETCH(QString, value);
        TempConfigHome home;
        const QString path = home.Path() + "/legacy.ini";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Options]\nIncoming=" + line + "\nSocket=2069\n");
        file.close();
        CProfile profile(path);
        QCOMPARE(profile.GetProfileString("Options", "Incoming", "default"), value);
        QCOMPARE(profile.GetProfileString("Options", "Socket"), QString("2069"));
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_registry.moc"
